#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tunavox {

// The samples of the polled rows for the chart: one series per table row, in
// arrival order, up to a capacity over all series; beyond it the oldest samples are
// dropped (and counted). A failed read is a gap, never a value.
class TSampleStore {
public:
    static constexpr size_t kDefaultCapacity = 1000000;
    explicit TSampleStore(size_t capacity = kDefaultCapacity) : capacity_(capacity) {}

    enum Kind : uint8_t { Value, Gap, DeviceError };
    struct Sample {
        int64_t TimeMs = 0; // wall-clock time, ms since the epoch
        double Y = 0;       // meaningful for Value only
        Kind What = Value;
        uint8_t Code = 0;   // for a device error: the device's code
        uint16_t Error = 0; // for a failed read: index of its text (ErrorText)
    };

    // A read of series at timeMs: its value, or none for a failed read with its error
    // text (a device code other than 0: the device refused it, shown as such).
    void Add(int series, int64_t timeMs, std::optional<double> value, uint8_t deviceCode = 0,
             const std::string& error = {});
    // The error text of a failed sample.
    const std::string& ErrorText(const Sample& s) const;
    void Clear();
    // Forgets the series first <= id < last (one device's rows among several).
    void Clear(int first, int last);

    size_t Size() const { return size_; }
    size_t Dropped() const { return dropped_; }
    std::vector<int> SeriesIds() const;
    const std::deque<Sample>& Series(int series) const;

    // What one pixel column shows of a series between t0 and t1 (ms): the least and
    // the largest value, and whether a gap or a device error falls into it.
    struct Column {
        double Min = 0, Max = 0;
        bool HasValue = false;
        bool HasGap = false;
        bool HasDeviceError = false;
    };
    // columns entries for [t0, t1); empty for an empty range or no columns. A column
    // whose first sample follows the one before by more than GapMs has a gap.
    // (The samples before t0 count for the first column.)
    std::vector<Column> Decimate(int series, int64_t t0, int64_t t1, int columns) const;
    // The longest step between samples that still joins them: three of the series'
    // usual steps (the median of its last fifteen), at least kMinGapMs.
    int64_t GapMs(int series) const;
    static constexpr int64_t kMinGapMs = 1000;
    // The least and largest value of a series between t0 and t1; false when it has none.
    bool ValueRange(int series, int64_t t0, int64_t t1, double& min, double& max) const;
    // The latest sample at or before t, if any.
    std::optional<Sample> At(int series, int64_t t) const;

private:
    size_t capacity_;
    size_t size_ = 0;
    size_t dropped_ = 0;
    std::map<int, std::deque<Sample>> series_;
    // A summary of every kBlock consecutive samples of a series, so that a wide view
    // takes a block at a time. Block k holds the series' samples from index
    // k * kBlock - head on; the first block's summary is stale while head > 0 (some of
    // its samples were dropped) and is then not used.
    static constexpr size_t kBlock = 16;
    struct Block {
        int64_t First = 0, Last = 0;
        double Min = 0, Max = 0;
        int64_t MaxStep = 0; // the longest step between its samples
        uint32_t Count = 0;
        bool AllValues = true; // only then the summary stands for its samples
    };
    struct Blocks {
        std::deque<Block> List;
        size_t Head = 0;
    };
    std::map<int, Blocks> blocks_;
    // Error texts are few: each is kept once (index 0 is the empty text).
    std::vector<std::string> errors_{std::string()};
    std::map<std::string, uint16_t> errorIndex_;
};

} // namespace tunavox
