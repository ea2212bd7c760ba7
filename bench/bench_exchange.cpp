// One exchange over a pseudo-terminal to a peer that answers at once, both protocol
// versions; reports the median and 99th percentile. Target: median under 1 ms.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "link/canal.h"
#include "link/frame.h"

namespace {

// Answers every 8-byte request at once with a fixed frame.
class ImmediatePeer {
public:
    explicit ImmediatePeer(const std::string& answer) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        grantpt(master_);
        unlockpt(master_);
        struct termios t {};
        tcgetattr(master_, &t);
        cfmakeraw(&t);
        tcsetattr(master_, TCSANOW, &t);
        slave_ = ptsname(master_);
        thread_ = std::thread([this, answer] {
            std::string got;
            while (!stop_) {
                struct pollfd p = {master_, POLLIN, 0};
                if (poll(&p, 1, 20) <= 0) continue;
                char buf[64];
                const ssize_t n = read(master_, buf, sizeof buf);
                if (n <= 0) continue;
                got.append(buf, static_cast<size_t>(n));
                while (got.size() >= 8) {
                    got.erase(0, 8);
                    if (write(master_, answer.data(), answer.size()) < 0) return;
                }
            }
        });
    }
    ~ImmediatePeer() {
        stop_ = true;
        thread_.join();
        close(master_);
    }
    const std::string& Slave() const { return slave_; }

private:
    int master_ = -1;
    std::string slave_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

void BM_Exchange(benchmark::State& state) {
    const auto version = static_cast<uint8_t>(state.range(0));
    std::string frame = tunavox::BuildFrame(std::string("\x00\x00\x10\x01\x02", 5), false);
    if (version) frame = tunavox::StuffFrame(frame);
    ImmediatePeer peer(frame);
    tunavox::TCanal canal;
    canal.SetVersion(version);
    canal.SetTimeout(1000);
    if (!canal.ComPort->Open(peer.Slave(), true)) state.SkipWithError("open failed");
    std::vector<double> samples;
    std::string answer, error;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        if (!canal.Exchange("abc", false, answer, error)) state.SkipWithError(error.c_str());
        samples.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0)
                .count());
    }
    std::sort(samples.begin(), samples.end());
    if (!samples.empty()) {
        state.counters["median_us"] = samples[samples.size() / 2];
        state.counters["p99_us"] = samples[std::min(samples.size() - 1, samples.size() * 99 / 100)];
    }
}
BENCHMARK(BM_Exchange)->Arg(0)->Arg(1)->Iterations(2000)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
