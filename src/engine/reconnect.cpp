#include "engine/reconnect.h"

#include <algorithm>

#include "link/canal.h"
#include "link/com_port.h"
#include "link/open_port.h"

namespace tunavox {

void TReconnect::Begin(TCanal& canal, const std::string& name, uint8_t version, bool gateway,
                       Clock::time_point now) {
    // A network port is connected to anew each period, each time with a fresh handshake:
    // the system's own retries back off to seconds, so one attempt must not wait for them.
    // A slow path (its round trip as measured on connecting) keeps the time it needs.
    connectMs_ = static_cast<int>(std::clamp<long long>(3LL * canal.ComPort->RoundTripMs(),
                                                        kPeriod.count(), kConnectTimeoutMs));
    canal.ComPort->Close();
    active_ = true;
    name_ = name;
    version_ = version;
    gateway_ = gateway;
    since_ = now;
    next_ = now + kPeriod;
    attempts_ = 0;
}

bool TReconnect::Attempt(TCanal& canal, Clock::time_point now) {
    if (!active_ || now < next_) return false;
    ++attempts_;
    // Paced from the attempt's start: a slow open does not make the next one sooner.
    next_ = now + kPeriod;
    canal.ComPort->SetConnectTimeout(connectMs_);
    const bool opened = OpenPort(canal, name_, version_, gateway_);
    canal.ComPort->SetConnectTimeout(kConnectTimeoutMs);
    if (!opened) return false;
    active_ = false;
    return true;
}

int TReconnect::MsUntilNext(Clock::time_point now) const {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(next_ - now).count();
    return static_cast<int>(std::clamp<long long>(left, 0, kPeriod.count()));
}

std::chrono::milliseconds TReconnect::Outage(Clock::time_point now) const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(now - since_);
}

} // namespace tunavox
