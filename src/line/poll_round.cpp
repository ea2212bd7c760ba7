#include "line/poll_round.h"

#include <algorithm>

namespace tunavox {

void TPollRound::Reset(std::vector<TItem> items, size_t devices) {
    items_ = std::move(items);
    restUntil_.assign(devices, 0);
    held_.assign(devices, false);
    next_ = 0;
    passes_ = 0;
}

namespace {
bool Before(const TPollRound::TItem& a, const TPollRound::TItem& b) {
    return a.Device != b.Device ? a.Device < b.Device : a.Row < b.Row;
}
} // namespace

void TPollRound::Update(std::vector<TItem> items, size_t devices) {
    const bool placed = next_ < items_.size();
    const TItem due = placed ? items_[next_] : TItem{};
    items_ = std::move(items);
    restUntil_.resize(devices, 0);
    held_.resize(devices, false);
    next_ = 0;
    if (!placed) return;
    while (next_ < items_.size() && Before(items_[next_], due))
        ++next_;
    // Past the last row: the pass is over.
    if (next_ >= items_.size()) {
        next_ = 0;
        if (!items_.empty()) ++passes_;
    }
}

void TPollRound::Remove(size_t device) {
    if (device < restUntil_.size())
        restUntil_.erase(restUntil_.begin() + static_cast<std::ptrdiff_t>(device));
    if (device < held_.size()) held_.erase(held_.begin() + static_cast<std::ptrdiff_t>(device));
    // The place is kept as the first row after the device's own.
    if (next_ < items_.size() && items_[next_].Device == device) {
        while (next_ < items_.size() && items_[next_].Device == device)
            ++next_;
    }
    std::vector<TItem> rest;
    size_t place = 0;
    for (size_t i = 0; i < items_.size(); ++i) {
        if (i == next_) place = rest.size();
        if (items_[i].Device == device) continue;
        TItem item = items_[i];
        if (item.Device > device) --item.Device;
        rest.push_back(item);
    }
    if (next_ >= items_.size()) place = 0;
    items_ = std::move(rest);
    next_ = place < items_.size() ? place : 0;
}

bool TPollRound::Resting(size_t device, int64_t now) const {
    return Held(device) || (device < restUntil_.size() && restUntil_[device] > now);
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
        if (!Held(i.Device)) due = std::min(due, restUntil_[i.Device]);
    // Only held devices: looked at again a second later (a hold ends from outside).
    n.WaitMs = due == INT64_MAX ? 1000 : std::max<int64_t>(1, due - now);
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

void TPollRound::Hold(size_t device, bool held) {
    if (device >= held_.size()) held_.resize(device + 1, false);
    held_[device] = held;
}

} // namespace tunavox
