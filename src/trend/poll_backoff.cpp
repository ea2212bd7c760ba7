#include "trend/poll_backoff.h"

#include <algorithm>
#include <cstdint>

namespace tunavox {

int TPollBackoff::After(const std::string& error, bool linkFailure) {
    if (error.empty() || !linkFailure) {
        Reset();
        return 0;
    }
    if (error == last_) {
        ++run_;
    } else {
        last_ = error;
        run_ = 1;
    }
    return run_ >= kRun ? kPauseMs : 0;
}

void TPollBackoff::Reset() {
    last_.clear();
    run_ = 0;
}

int TDeviceRest::After(bool linkFailure, uint32_t timeoutMs) {
    if (!linkFailure) {
        Reset();
        return 0;
    }
    if (++run_ < kRun) return 0;
    rest_ = rest_ == 0 ? kFirstMs : std::min(rest_ * 2, kLongestMs);
    const int64_t floor = static_cast<int64_t>(timeoutMs) * 10;
    return static_cast<int>(std::max<int64_t>(rest_, floor));
}

void TDeviceRest::Reset() {
    run_ = 0;
    rest_ = 0;
}

} // namespace tunavox
