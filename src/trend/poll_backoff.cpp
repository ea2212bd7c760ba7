#include "trend/poll_backoff.h"

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

} // namespace tunavox
