#pragma once
#include <string>

namespace tunavox {

// Paces polling when the device has gone: after a run of failed reads with the same
// error, one attempt per second until a read succeeds (so a vanished device is tried,
// and recorded, once a second rather than as fast as the line times out).
class TPollBackoff {
public:
    static constexpr int kRun = 3;        // failures in a row before pausing
    static constexpr int kPauseMs = 1000; // between attempts while they fail

    // After each poll read with its error (empty for success): the pause before the
    // next read, ms.
    int After(const std::string& error);
    void Reset();

private:
    std::string last_;
    int run_ = 0;
};

} // namespace tunavox
