#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/action.h"
#include "scan/scan_types.h"

namespace tunavox {

class TCanal;

// What one read of a probe or check register brought.
enum class TProbeAnswer {
    Silent,      // nothing within the time-out
    Data,        // the register's bytes
    DeviceError, // a well-formed refusal: a device is there, perhaps of another type
    OtherId,     // a well-formed answer from another ID (a late answer to an earlier probe)
    Garbled,     // damaged: CRC, framing, another address, two devices at once
    PortLost,    // the port failed
};
struct TProbeOutcome {
    TProbeAnswer Kind = TProbeAnswer::Silent;
    std::string Data;     // Data: the bytes after the address
    uint32_t OtherId = 0; // OtherId: the ID that answered
    std::string Error;    // the channel's or the port's text
    int Ms = 0;           // from the request to the answer (or the time-out)
};

// Sorts a channel exchange's outcome for a read of address from id (withId false: a
// request without an ID).
TProbeOutcome ClassifyProbeAnswer(bool ok, const std::string& answer, const std::string& error,
                                  int portError, bool withId, uint32_t id, uint16_t address);

// Searches a line for devices: opens each port as "Открыть" does (preamble included),
// sends read requests only, one at a time through the worker's queue, each started by
// the previous one's completion on the main thread, and closes the port afterwards.
// The runner owns its own channel; the caller's stays as it was.
class TScanRunner {
public:
    using Queue = std::function<void(std::unique_ptr<TAction>)>;
    TScanRunner(std::vector<TScanType> types, TScanOptions options, Queue queue);
    ~TScanRunner();
    TScanRunner(const TScanRunner&) = delete;
    TScanRunner& operator=(const TScanRunner&) = delete;

    void Start();
    // Ends now: the exchange in progress is cut short by closing the port, and no request
    // follows.
    void Cancel();
    // Every frame of the search in the exchange log too.
    void SetLogging(bool on);

    bool Running() const { return running_; }
    bool Cancelled() const { return cancelled_; }
    const std::vector<TScanType>& Types() const { return types_; }
    const std::vector<TScanResult>& Results() const { return results_; }
    // Places with a device (recognised or not).
    int DevicesFound() const;
    // Progress: probes done of those planned; the time so far and an estimate of the rest.
    double Fraction() const;
    int64_t ElapsedMs() const;
    int64_t RemainingMs() const;

    // Main thread: each result as it is found; after each step; once at the end.
    std::function<void(const TScanResult&)> OnResult;
    std::function<void()> OnProgress;
    std::function<void()> OnFinished;

private:
    struct Pass {
        size_t Port;
        bool Gateway;
        uint8_t Version;
        size_t Group;
        int ProbeMs;
    };
    enum class Phase { Probe, Confirm, Identify };
    void Next();
    void Finish();
    void Report(TScanResult result);
    // Queues body on the worker, then done on the main thread.
    void Step(std::function<void(TCanal&)> body, std::function<void()> done);
    void QueueExchange(uint16_t address, uint32_t timeoutMs);
    void ExchangeDone(const TProbeOutcome& outcome);
    void Identify();
    TScanResult Place() const;
    uint32_t TargetId() const;
    bool TargetWithId() const { return target_ > 0 || rechecking_; }
    void AdvanceTarget();
    int64_t Targets() const;
    void PortFailed(const std::string& error);

    std::vector<TScanType> types_;
    std::vector<TScanGroup> groups_;
    TScanOptions options_;
    Queue queue_;
    std::shared_ptr<TCanal> canal_;
    std::shared_ptr<char> alive_ = std::make_shared<char>(0);
    std::vector<Pass> passes_;
    std::vector<TScanResult> results_;
    size_t pass_ = 0;
    int64_t target_ = 0; // 0: without an ID, then FirstId + target - 1
    size_t probe_ = 0;   // into the group's probes
    Phase phase_ = Phase::Probe;
    bool retried_ = false; // the target was probed again after a late answer
    bool garbled_ = false; // the probe's answer was damaged
    bool rechecking_ = false;
    uint32_t recheckId_ = 0;
    std::set<uint32_t> recheck_;                 // IDs whose late answer came to a later probe
    std::set<std::pair<size_t, int64_t>> found_; // (port, ID or -1): not tried again
    std::set<size_t> failedPorts_;
    int openPort_ = -1; // the port open, by index
    bool openGateway_ = false;
    // The answers of the place being recognised, by address; the confirmed probe's first.
    std::map<uint16_t, TProbeOutcome> answers_;
    bool triedOthers_ = false;
    int confirmMs_ = 0;
    int64_t done_ = 0; // probes done or skipped
    int64_t planned_ = 0;
    int64_t startMs_ = 0;
    int64_t endMs_ = 0;
    uint16_t address_ = 0; // of the read in progress
    bool busy_ = false;    // a step is on the worker
    bool running_ = false;
    bool cancelled_ = false;
};

} // namespace tunavox
