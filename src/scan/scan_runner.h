#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/action.h"
#include "scan/probe.h"
#include "scan/scan_types.h"

namespace tunavox {

class TCanal;

// Searches a line for devices: opens each port as "Открыть" does (preamble included),
// sends read requests only, and closes the port afterwards. Silent places are swept in
// runs on the worker, each place given its request's line time and a short window for
// the first byte; a place that answers is confirmed and recognised with the
// descriptions' own time-outs, at the protocol version it answers. A late answer names
// its place: that place is confirmed too. The runner owns its own channel; the
// caller's stays as it was.
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
    // Answers that no place owned: bytes in a place's window that its confirmation did
    // not repeat, or a late answer from outside the range.
    int Unplaced() const { return unplaced_; }
    // The most requests the search can send, known before it starts: each place is asked
    // again at most once after a late answer, and recognised at most once.
    int64_t MaxRequests() const { return maxRequests_; }
    // Exchanges sent so far (each of up to three attempts for a damaged answer).
    int64_t Requests() const;
    // Progress: places done of those planned; the time so far and an estimate of the rest.
    double Fraction() const;
    int64_t ElapsedMs() const;
    int64_t RemainingMs() const;

    // Main thread: each result as it is found; after each step; once at the end.
    std::function<void(const TScanResult&)> OnResult;
    std::function<void()> OnProgress;
    std::function<void()> OnFinished;

private:
    // Reads of a place asked again because a late answer came instead, at most.
    static constexpr int kMaxStale = 4;
    struct Pass {
        size_t Port;
        bool Gateway;
        size_t Group;
        int ProbeMs;
    };
    // A place being confirmed and recognised.
    struct Place {
        bool WithId = false;
        uint32_t Id = 0;
        std::vector<uint8_t> Versions; // to try, in order
        size_t Version = 0;            // into Versions
        uint16_t Probe = 0;            // the register that answered
        bool Confirmed = false;        // at the current version
        bool Proven = false; // a request that differs between 1.0 and 2.0 was answered
        bool Garbled = false;          // a damaged answer at some step
        int Answered = -1;             // the first version a device answered at, unrecognised
        int StaleRetries = 0;    // reads asked again after a late answer came instead
        bool GarbleRetried = false; // a damaged answer asked again once the line was quiet
        bool Settle = false;        // a late answer may still come: let it pass first
        int64_t HeardMs = 0; // when the probe's answer came
        bool TriedOthers = false;
        bool Distinguishing = false;
        std::vector<size_t> Matched;
        std::map<uint16_t, TProbeOutcome> Answers;
        int ConfirmMs = 0;
    };
    struct SweepHit;
    void Next();
    void Finish();
    void Report(TScanResult result);
    // Queues body on the worker, then done on the main thread.
    void Step(std::function<void(TCanal&)> body, std::function<void()> done);
    void Sweep();
    void SweepDone(const SweepHit& hit);
    void Listen();
    void Read(uint16_t address, uint32_t timeoutMs, uint8_t version);
    void ReadDone(const TProbeOutcome& outcome, bool sameBytes);
    // Lets late answers pass (reads until the line is quiet for a time-out), then then().
    void Settle(std::function<void()> then);
    void Identify();
    void NextVersion();
    void Distinguish();
    void PlaceDone(std::optional<TScanResult> r);
    void NoteLate(uint32_t id, uint8_t version);
    void NoteNoise(int64_t heardMs);
    // At a pass's end: noise asked about already counts as unplaced, unless a slow device
    // found on the line explains it.
    void WeighNoise();
    TScanResult ResultOf(const Place& place, uint8_t version) const;
    uint32_t IdOf(int64_t target) const;
    int64_t Targets() const;
    void PortFailed(const std::string& error);

    std::vector<TScanType> types_;
    std::vector<TScanGroup> groups_;
    TScanOptions options_;
    Queue queue_;
    std::shared_ptr<TCanal> canal_;
    std::shared_ptr<char> alive_ = std::make_shared<char>(0);
    std::shared_ptr<std::atomic<bool>> stop_ = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::atomic<int64_t>> sent_ = std::make_shared<std::atomic<int64_t>>(0);
    std::vector<Pass> passes_;
    std::vector<TScanResult> results_;
    size_t pass_ = 0;
    // The places of this pass to probe, in order (0: without an ID, then FirstId +
    // target - 1), and how far the sweep is.
    std::vector<int64_t> order_;
    size_t at_ = 0;
    bool passStarted_ = false;
    int64_t doneBefore_ = 0;                // places of the passes before
    std::set<int64_t> retried_;             // targets probed again after a late answer
    std::map<int64_t, int64_t> probedAt_;   // target -> when it was last probed
    std::set<int64_t> resweep_;             // to probe again after colliding late answers
    std::set<int64_t> reswept_;             // each once
    std::set<uint32_t> lateAsked_;   // IDs confirmed after their late answer (this pass)
    std::vector<uint32_t> late_;     // IDs waiting for that
    int listens_ = 0;                // listens for late answers at this pass's end
    bool listened_ = false;
    std::optional<Place> place_;
    int64_t placeTarget_ = -1;       // the target the place came from, -1: a late answer
    std::set<std::pair<size_t, int64_t>> found_; // (port, ID or -1): not tried again
    std::set<size_t> failedPorts_;
    int openPort_ = -1; // the port open, by index
    bool openGateway_ = false;
    int unplaced_ = 0;
    int pendingNoise_ = 0; // this pass's noise that no place took
    int64_t maxRequests_ = 0;
    uint8_t lateVersion_ = 1; // the version the last late answer was read at
    uint32_t readTimeout_ = 0; // of the read in progress
    uint8_t readVersion_ = 1;
    int64_t planned_ = 0;
    int64_t startMs_ = 0;
    int64_t endMs_ = 0;
    uint16_t address_ = 0; // of the read in progress
    bool busy_ = false;    // a step is on the worker
    bool running_ = false;
    bool cancelled_ = false;
};

} // namespace tunavox
