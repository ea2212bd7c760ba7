#pragma once
#include <cstdint>
#include <string>

namespace tunavox {

// The poll period: 0 polls as fast as the line allows; otherwise a pass over the
// polled rows starts at most once per period and the line stays idle in between.
class TPollPace {
public:
    static constexpr int kMinMs = 100;     // shorter periods would only flood the line
    static constexpr int kMaxMs = 3600000; // one hour

    // A period is 0 or kMinMs..kMaxMs.
    static bool Valid(int64_t ms) { return ms == 0 || (ms >= kMinMs && ms <= kMaxMs); }
    // "--period MS" and the window's box: the period in ms, or false with the reason.
    static bool Parse(const std::string& text, int& ms, std::string& error);
    // How a period reads: "как можно чаще", "500 мс", "2 с", "1 мин 30 с", "1 ч".
    static std::string Text(int ms);

    // Sets the period (an invalid one is taken as 0); a pass waiting for the old one
    // is timed anew.
    void SetPeriod(int ms);
    int Period() const { return period_; }

    // Before a pass starts at nowMs: how long to wait first (0: start now). Marks the
    // pass as started when it may start at once.
    int64_t BeforePass(int64_t nowMs);
    // The same at the steady clock's now.
    int64_t BeforePass();
    // A poll exchange began at startedMs (steady clock, TAction::StartedMs). The first one
    // after a pass was let start is where the pass really began: the worker takes a queued
    // request some tens of milliseconds later, and the next pass counts from here, so two
    // passes never begin closer than the period.
    void ExchangeBegan(int64_t startedMs);
    // Polling stopped: the next pass starts at once.
    void Reset() { started_ = false; }

private:
    int period_ = 0;
    bool started_ = false;
    bool anchorPending_ = false;
    int64_t lastStart_ = 0;
};

} // namespace tunavox
