#include "line/poll_round.h"

#include <algorithm>

namespace tunavox {

void TPollRound::Reset(std::vector<TItem> items, size_t devices) {
    items_ = std::move(items);
    restUntil_.assign(devices, 0);
    next_ = 0;
    passes_ = 0;
}

bool TPollRound::Resting(size_t device, int64_t now) const {
    return device < restUntil_.size() && restUntil_[device] > now;
}

void TPollRound::Advance() {
    if (++next_ >= items_.size()) {
        next_ = 0;
        ++passes_;
    }
}

TPollRound::TNext TPollRound::Next(int64_t now) {
    TNext n;
    if (items_.empty()) return n;
    for (size_t tried = 0; tried < items_.size(); ++tried) {
        if (!Resting(items_[next_].Device, now)) {
            n.Ready = true;
            n.Item = items_[next_];
            n.PassBegins = next_ == 0;
            return n;
        }
        Advance();
    }
    // Every device rests: the first one due.
    int64_t due = INT64_MAX;
    for (const TItem& i : items_)
        due = std::min(due, restUntil_[i.Device]);
    n.WaitMs = std::max<int64_t>(1, due - now);
    return n;
}

void TPollRound::Done(int restMs, int64_t now) {
    if (items_.empty()) return;
    const size_t device = items_[next_].Device;
    if (restMs > 0 && device < restUntil_.size()) restUntil_[device] = now + restMs;
    Advance();
}

void TPollRound::Wake(size_t device) {
    if (device < restUntil_.size()) restUntil_[device] = 0;
}

void TPollRound::WakeAll() {
    std::fill(restUntil_.begin(), restUntil_.end(), 0);
}

} // namespace tunavox
