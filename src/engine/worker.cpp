#include "engine/worker.h"

#include <chrono>

namespace tunavox {

TTh::TTh(IHandOver& handOver, Observer observer)
    : handOver_(handOver), observer_(std::move(observer)) {
    thread_ = std::thread([this] { Body(); });
}

TTh::~TTh() {
    terminated_ = true;
    if (thread_.joinable()) thread_.join();
}

void TTh::Body() {
    using std::chrono::milliseconds;
    while (!terminated_) {
        std::this_thread::sleep_for(milliseconds(10));
        std::unique_ptr<TAction> current = Queue.Pop();
        if (!current) {
            std::this_thread::sleep_for(milliseconds(50));
            continue;
        }
        current->Run();
        if (observer_) observer_(*current);
        if (current->OnDone) {
            TAction* a = current.get();
            handOver_.Run([a] { a->OnDone(a); });
        }
    }
    finished_ = true;
}

void TTh::Stop(const std::function<void(int ms)>& serve) {
    terminated_ = true;
    while (!finished_)
        serve(5);
    if (thread_.joinable()) thread_.join();
}

} // namespace tunavox
