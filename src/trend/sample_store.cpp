#include "trend/sample_store.h"

#include <algorithm>
#include <climits>
#include <iterator>

namespace tunavox {
namespace {

using Samples = std::deque<TSampleStore::Sample>;

Samples::const_iterator FirstAt(const Samples& s, int64_t t) {
    return std::lower_bound(s.begin(), s.end(), t,
                            [](const TSampleStore::Sample& a, int64_t v) { return a.TimeMs < v; });
}

} // namespace

void TSampleStore::Add(int series, int64_t timeMs, std::optional<double> value, uint8_t deviceCode,
                       const std::string& error) {
    Sample s;
    s.TimeMs = timeMs;
    if (value) {
        s.Y = *value;
    } else {
        s.What = deviceCode != 0 ? DeviceError : Gap;
        s.Code = deviceCode;
        const auto known = errorIndex_.find(error);
        if (known != errorIndex_.end()) {
            s.Error = known->second;
        } else if (errors_.size() < 65535) {
            s.Error = static_cast<uint16_t>(errors_.size());
            errors_.push_back(error);
            errorIndex_[error] = s.Error;
        }
    }
    Samples& list = series_[series];
    // Samples arrive in time order; a clock set back must not break the order.
    if (!list.empty() && s.TimeMs < list.back().TimeMs) s.TimeMs = list.back().TimeMs;
    Blocks& blocks = blocks_[series];
    if (blocks.List.empty() || blocks.List.back().Count == kBlock) {
        Block b;
        b.First = b.Last = s.TimeMs;
        b.Min = b.Max = s.Y;
        blocks.List.push_back(b);
    }
    Block& b = blocks.List.back();
    b.MaxStep = std::max(b.MaxStep, s.TimeMs - b.Last);
    b.Last = s.TimeMs;
    b.AllValues = b.AllValues && s.What == Value;
    b.Min = std::min(b.Min, s.Y);
    b.Max = std::max(b.Max, s.Y);
    ++b.Count;
    list.push_back(s);
    ++size_;
    while (size_ > capacity_) {
        // The oldest sample over every series goes.
        int oldest = 0;
        Samples* from = nullptr;
        for (auto& [id, l] : series_)
            if (!l.empty() && (!from || l.front().TimeMs < from->front().TimeMs)) {
                from = &l;
                oldest = id;
            }
        if (!from) break;
        from->pop_front();
        Blocks& front = blocks_[oldest];
        if (++front.Head == front.List.front().Count) {
            front.List.pop_front();
            front.Head = 0;
        }
        --size_;
        ++dropped_;
    }
}

const std::string& TSampleStore::ErrorText(const Sample& s) const {
    return errors_[s.Error < errors_.size() ? s.Error : 0];
}

void TSampleStore::Clear() {
    series_.clear();
    blocks_.clear();
    size_ = 0;
    dropped_ = 0;
}

void TSampleStore::Clear(int first, int last) {
    for (auto it = series_.lower_bound(first); it != series_.end() && it->first < last;) {
        size_ -= it->second.size();
        blocks_.erase(it->first);
        it = series_.erase(it);
    }
}

std::vector<int> TSampleStore::SeriesIds() const {
    std::vector<int> ids;
    for (const auto& [id, list] : series_)
        ids.push_back(id);
    return ids;
}

const std::deque<TSampleStore::Sample>& TSampleStore::Series(int series) const {
    static const Samples kNone;
    const auto it = series_.find(series);
    return it == series_.end() ? kNone : it->second;
}

std::vector<TSampleStore::Column> TSampleStore::Decimate(int series, int64_t t0, int64_t t1,
                                                         int columns) const {
    if (columns <= 0 || t1 <= t0) return {};
    std::vector<Column> out(static_cast<size_t>(columns));
    const Samples& s = Series(series);
    const double span = static_cast<double>(t1 - t0);
    const int64_t gap = GapMs(series);
    const auto first = FirstAt(s, t0);
    int64_t previous = first == s.begin() ? INT64_MIN : std::prev(first)->TimeMs;
    const auto found = blocks_.find(series);
    const Blocks* blocks = found == blocks_.end() ? nullptr : &found->second;
    auto it = first;
    // Column by column up to each column's end time: no division per sample.
    for (int c = 0; c < columns && it != s.end() && it->TimeMs < t1; ++c) {
        const int64_t end =
            c + 1 == columns ? t1 : t0 + static_cast<int64_t>(span * (c + 1) / columns);
        Column& col = out[static_cast<size_t>(c)];
        for (; it != s.end() && it->TimeMs < end;) {
            // A whole block of values inside the column, without a gap: its summary.
            const size_t at = static_cast<size_t>(it - s.begin()) + (blocks ? blocks->Head : 0);
            if (blocks && at % kBlock == 0 && at / kBlock < blocks->List.size()) {
                const Block& b = blocks->List[at / kBlock];
                if ((at > 0 || blocks->Head == 0) && b.AllValues && b.Last < end &&
                    b.MaxStep <= gap && (previous == INT64_MIN || b.First - previous <= gap)) {
                    col.Min = col.HasValue ? std::min(col.Min, b.Min) : b.Min;
                    col.Max = col.HasValue ? std::max(col.Max, b.Max) : b.Max;
                    col.HasValue = true;
                    previous = b.Last;
                    it += b.Count;
                    continue;
                }
            }
            // A stretch without samples (polling paused, the row unticked) is no line.
            if (previous != INT64_MIN && it->TimeMs - previous > gap) col.HasGap = true;
            previous = it->TimeMs;
            if (it->What != Value) {
                col.HasGap = true;
                col.HasDeviceError = col.HasDeviceError || it->What == DeviceError;
            } else if (!col.HasValue) {
                col.Min = col.Max = it->Y;
                col.HasValue = true;
            } else {
                col.Min = std::min(col.Min, it->Y);
                col.Max = std::max(col.Max, it->Y);
            }
            ++it;
        }
    }
    return out;
}

int64_t TSampleStore::GapMs(int series) const {
    const Samples& s = Series(series);
    std::vector<int64_t> steps;
    for (size_t i = s.size(); i > 1 && steps.size() < 15; --i)
        steps.push_back(s[i - 1].TimeMs - s[i - 2].TimeMs);
    if (steps.empty()) return kMinGapMs;
    std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
    return std::max<int64_t>(kMinGapMs, 3 * steps[steps.size() / 2]);
}

bool TSampleStore::ValueRange(int series, int64_t t0, int64_t t1, double& min, double& max) const {
    bool any = false;
    const Samples& s = Series(series);
    for (auto it = FirstAt(s, t0); it != s.end() && it->TimeMs < t1; ++it) {
        if (it->What != Value) continue;
        min = any ? std::min(min, it->Y) : it->Y;
        max = any ? std::max(max, it->Y) : it->Y;
        any = true;
    }
    return any;
}

std::optional<TSampleStore::Sample> TSampleStore::At(int series, int64_t t) const {
    const Samples& s = Series(series);
    auto it = FirstAt(s, t + 1);
    if (it == s.begin()) return std::nullopt;
    return *--it;
}

} // namespace tunavox
