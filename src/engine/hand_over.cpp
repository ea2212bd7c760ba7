#include "engine/hand_over.h"

#include <chrono>

namespace tunavox {

void THandOverQueue::Run(const std::function<void()>& call) {
    {
        std::lock_guard<std::mutex> g(lock_);
        pending_ = &call;
        done_ = false;
    }
    changed_.notify_all();
    if (OnPosted) OnPosted();
    std::unique_lock<std::mutex> lk(lock_);
    changed_.wait(lk, [this] { return done_; });
    pending_ = nullptr;
}

bool THandOverQueue::Serve(int ms) {
    const std::function<void()>* call = nullptr;
    {
        std::unique_lock<std::mutex> lk(lock_);
        changed_.wait_for(lk, std::chrono::milliseconds(ms), [this] { return pending_ && !done_; });
        if (!pending_ || done_) return false;
        call = pending_;
    }
    (*call)(); // outside the lock: the handler may take other locks
    {
        std::lock_guard<std::mutex> g(lock_);
        done_ = true;
    }
    changed_.notify_all();
    return true;
}

} // namespace tunavox
