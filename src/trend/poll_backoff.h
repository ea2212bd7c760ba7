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

// Paces one silent device among others on a line. Each of its reads costs the line a
// whole answer time-out, so after kRun link failures in a row it rests: 1 s at first,
// doubling up to 10 s, and never less than ten answer time-outs, so that it takes the
// live devices at most about a tenth of the line. Its first answer ends the rest.
class TDeviceRest {
public:
    static constexpr int kRun = 3;
    static constexpr int kFirstMs = 1000;
    static constexpr int kLongestMs = 10000;

    // After each read of the device: how long it is to rest before its next read, ms.
    int After(bool linkFailure, uint32_t timeoutMs);
    void Reset();
    // Its last read went unanswered: the next is a quick probe (a short window for the
    // first byte, the whole time-out only once one comes), so that a device gone
    // silent costs the others little from its second read on.
    bool Quiet() const { return run_ > 0; }

private:
    int run_ = 0;
    int rest_ = 0;
};

} // namespace tunavox
