// Read-all of the larger sample device through the worker against the in-process
// simulator over a pseudo-terminal, both protocol versions. The floor is 10 ms per
// action (the worker's pause); target: within 10% of it. Also the idle worker's CPU
// use over 10 s; target: under 1% of a core.
#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>
#include <thread>

#include "bench_rig.h"

namespace {

using tunavox::bench::Rig;

void BM_ReadAll(benchmark::State& state) {
    Rig rig(static_cast<uint8_t>(state.range(0)));
    if (!rig.error.empty()) {
        state.SkipWithError(rig.error.c_str());
        return;
    }
    int actions = 0;
    for (auto _ : state) {
        int pending = 0;
        actions = 0;
        for (int i = 0; i < rig.regs.Count(); ++i) {
            tunavox::TReg* r = rig.regs.Items(i);
            if (r->RegType == tunavox::rtHeader || r->Io == tunavox::ioW) continue;
            ++pending;
            ++actions;
            rig.worker->AddAction(std::make_unique<tunavox::TActionReadReg>(
                &rig.canal, 0, r, i, [&pending](tunavox::TAction*) { --pending; }));
        }
        while (pending > 0)
            rig.handOver.Serve(20);
    }
    state.counters["actions"] = actions;
    state.counters["floor_ms"] = actions * 10.0;
}
BENCHMARK(BM_ReadAll)->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_IdleWorkerCpu(benchmark::State& state) {
    Rig rig(1);
    for (auto _ : state) {
        timespec a{}, b{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &a);
        std::this_thread::sleep_for(std::chrono::seconds(10));
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &b);
        const double cpu = (b.tv_sec - a.tv_sec) + (b.tv_nsec - a.tv_nsec) / 1e9;
        state.counters["cpu_percent"] = cpu / 10.0 * 100.0;
    }
}
BENCHMARK(BM_IdleWorkerCpu)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
