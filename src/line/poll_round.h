#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tunavox {

// The order of one poll over the devices of a line: every polled row of every device in
// turn (a pass is all of them, each read with its own device's ID); a resting device's
// rows are passed over, so the others keep their rate; when every device rests, how long
// until the first is due. Times are steady-clock milliseconds.
class TPollRound {
public:
    struct TItem {
        size_t Device = 0;
        int Row = -1;
    };
    struct TNext {
        bool Ready = false; // Item is to be read now
        TItem Item;
        int64_t WaitMs = 0;      // when not ready: until the first device is due
        bool PassBegins = false; // Item opens a pass (the poll period counts from it)
    };

    // The rows to poll, in order, and the number of devices; starts at the first row.
    void Reset(std::vector<TItem> items, size_t devices);
    // The rows to poll as they are now (ticks come and go while polling), in order: the
    // round goes on from where it was, at the first row not before the one due, and the
    // devices keep their rest.
    void Update(std::vector<TItem> items, size_t devices);
    // A device leaves the line: its rows and rest go, the later devices' numbers drop by
    // one, and the round goes on at the next row of the rest.
    void Remove(size_t device);
    bool Empty() const { return items_.empty(); }
    // The next row to read at now, passing over resting devices' rows (a pass passed over
    // entirely counts too). Asking again without Done gives the same row.
    TNext Next(int64_t now);
    // After the read of the row Next gave: moves on, and rests its device for restMs.
    void Done(int restMs, int64_t now);
    // A device answers again, or the port came back: no rest.
    void Wake(size_t device);
    void WakeAll();
    // A held device is passed over as a resting one until let go (a device being checked,
    // or another device found at its ID); waking does not let it go.
    void Hold(size_t device, bool held);
    bool Held(size_t device) const { return device < held_.size() && held_[device]; }
    long long Passes() const { return passes_; }
    bool Resting(size_t device, int64_t now) const;

private:
    void Advance();

    std::vector<TItem> items_;
    std::vector<int64_t> restUntil_;
    std::vector<bool> held_;
    size_t next_ = 0;
    long long passes_ = 0;
};

} // namespace tunavox
