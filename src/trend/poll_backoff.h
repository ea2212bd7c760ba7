#pragma once
#include <string>

namespace tunavox {

// Paces polling when the device has gone: after a run of link failures (time-outs,
// port errors) with the same error, one attempt per second until a read succeeds (so a
// vanished device is tried, and recorded, once a second rather than as fast as the line
// times out). A device's own error code shows it is there and never slows polling.
class TPollBackoff {
public:
    static constexpr int kRun = 3;        // failures in a row before pausing
    static constexpr int kPauseMs = 1000; // between attempts while they fail

    // After each poll read with its error (empty for success) and whether the link
    // failed: the pause before the next read, ms.
    int After(const std::string& error, bool linkFailure);
    void Reset();

private:
    std::string last_;
    int run_ = 0;
};

} // namespace tunavox
