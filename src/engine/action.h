#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace tunavox {

class TCanal;
class TReg;

// One queued exchange. Owned by the queue once added, by the worker once taken;
// the worker frees it after its completion handler has returned.
class TAction {
public:
    using Handler = std::function<void(TAction*)>;

    TAction(TCanal* canal, int32_t deviceId, TReg* reg, int node, Handler onDone);
    virtual ~TAction() = default;

    // Runs Execute; an exception's message becomes Error. False on such a failure.
    bool Run();
    bool HasError() const { return !error_.empty(); }
    std::string Error() const { return error_; }
    // The port's error code when the action failed at the port (0 otherwise): tells a
    // lost adapter from a silent device.
    int PortError() const { return portError_; }
    // When the worker began running it, in steady-clock milliseconds (0 before).
    int64_t StartedMs() const { return startedMs_; }
    // Whether the exchange tells about the link of the device worked with (its state and
    // statistics); a search of the line does not.
    virtual bool CountsForLink() const { return true; }

    const int32_t DeviceId;
    TCanal* const Canal;
    TReg* const Reg;
    const Handler OnDone;
    // Table row of the action, -1 for none.
    const int Node;
    // Set before queueing: no byte within this many ms of the request is no answer (a
    // silent device's quick probe); 0: the whole answer time-out.
    uint32_t FirstByteWindowMs = 0;

protected:
    virtual void Execute() = 0;
    std::string error_;
    int portError_ = 0;
    int64_t startedMs_ = 0;
};

// Reads the register; stores the value (or null and the error) in it.
class TActionReadReg : public TAction {
public:
    using TAction::TAction;

protected:
    void Execute() override;
};

// Writes the register's current value; commits it or records the error.
class TActionWriteReg : public TAction {
public:
    using TAction::TAction;

protected:
    void Execute() override;
};

// The worker's FIFO queue; its lock is held for one append or one removal.
class TActionList {
public:
    void Add(std::unique_ptr<TAction> action);
    // The head, removed, or null when empty.
    std::unique_ptr<TAction> Pop();
    size_t Count() const;

private:
    mutable std::mutex lock_;
    std::deque<std::unique_ptr<TAction>> items_;
};

} // namespace tunavox
