#pragma once
#include <condition_variable>
#include <functional>
#include <mutex>

namespace tunavox {

// Runs a call on the main thread while the worker waits for it to finish.
class IHandOver {
public:
    virtual ~IHandOver() = default;
    // Called on the worker; returns once the main thread has run the call.
    virtual void Run(const std::function<void()>& call) = 0;
};

// A hand-over served by whoever owns the main thread: a plain loop (command-line
// tool, tests) calls Serve; an event loop calls ServePending when OnPosted wakes it.
class THandOverQueue : public IHandOver {
public:
    void Run(const std::function<void()>& call) override;
    // Main thread: waits up to ms for a call and runs it; true when one ran.
    bool Serve(int ms);
    // Main thread: runs a waiting call, if any, without waiting.
    bool ServePending() { return Serve(0); }
    // Called on the worker right after it posted a call (and before it waits), so an
    // event loop can schedule ServePending. Set it before the worker starts.
    std::function<void()> OnPosted;

private:
    std::mutex lock_;
    std::condition_variable changed_;
    const std::function<void()>* pending_ = nullptr;
    bool done_ = false;
};

} // namespace tunavox
