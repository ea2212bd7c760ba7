#pragma once
#include <chrono>
#include <cstdint>
#include <string>

namespace tunavox {

class TCanal;

// Brings a lost port back: the handle is released at once (so the system can give
// the name to the returning adapter), then the same name is opened again, with the
// wake-up preamble and the description's line settings as the first opening, at most
// once per period, until it opens or the attempt is cancelled.
class TReconnect {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kPeriod{1000};

    // Closes the channel's port and starts waiting for name to return.
    void Begin(TCanal& canal, const std::string& name, uint8_t version, bool gateway,
               Clock::time_point now = Clock::now());
    void Cancel() { active_ = false; }
    bool Active() const { return active_; }
    // When an attempt is due, tries to open the port once; true when it is open again
    // (the wait is then over).
    bool Attempt(TCanal& canal, Clock::time_point now = Clock::now());
    // Ms until the next attempt is due (0: now).
    int MsUntilNext(Clock::time_point now = Clock::now()) const;
    int Attempts() const { return attempts_; }
    // How long the port was away when it came back (or has been so far).
    std::chrono::milliseconds Outage(Clock::time_point now = Clock::now()) const;
    const std::string& PortName() const { return name_; }

private:
    bool active_ = false;
    std::string name_;
    uint8_t version_ = 1;
    bool gateway_ = false;
    Clock::time_point since_{};
    Clock::time_point next_{};
    int attempts_ = 0;
    int connectMs_ = 0; // a network port's connecting time per attempt
};

} // namespace tunavox
