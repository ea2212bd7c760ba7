#pragma once
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

#include "engine/action.h"
#include "engine/hand_over.h"

namespace tunavox {

// The worker thread: takes actions in arrival order, pausing 10 ms before each and
// 50 ms more when the queue is empty, runs them and hands each finished action to
// the main thread's completion handler.
class TTh {
public:
    // Sees every action on the worker right after it ran (exchange statistics); it must
    // not block.
    using Observer = std::function<void(const TAction&)>;
    explicit TTh(IHandOver& handOver, Observer observer = {});
    // Requests termination and joins. Call Stop first when hand-overs may be pending.
    ~TTh();
    TTh(const TTh&) = delete;
    TTh& operator=(const TTh&) = delete;

    void AddAction(std::unique_ptr<TAction> action) { Queue.Add(std::move(action)); }
    // Seen at the start of the next pass; the pass in progress still runs its action.
    void Terminate() { terminated_ = true; }
    bool Finished() const { return finished_; }
    // Main thread: requests termination and waits for the thread to end while serving
    // hand-overs through serve(ms). Actions still queued are freed unrun.
    void Stop(const std::function<void(int ms)>& serve);

    TActionList Queue;

private:
    void Body();

    IHandOver& handOver_;
    const Observer observer_;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

} // namespace tunavox
