// Save, compare and restore of the larger sample device against the in-process
// simulator over a pseudo-terminal. The floor is 10 ms per action (the worker's
// pause): one read per register for save and compare, a write and a read-back per
// restored register; target: within 10% of it.
#include <benchmark/benchmark.h>

#include "bench_rig.h"
#include "paramset/param_runner.h"

namespace {

using tunavox::bench::Rig;

tunavox::TRunnerContext Context(Rig& rig) {
    tunavox::TRunnerContext c;
    c.Canal = &rig.canal;
    c.Regs = &rig.regs;
    c.ErrorTexts = &rig.errors;
    c.Queue = [&rig](std::unique_ptr<tunavox::TAction> a) { rig.worker->AddAction(std::move(a)); };
    return c;
}

void Finish(Rig& rig, const tunavox::TParamRunner& runner) {
    while (runner.Running())
        rig.handOver.Serve(20);
}

// 0: save, 1: compare, 2: restore of every RW register.
void BM_ParamSet(benchmark::State& state) {
    Rig rig(1);
    if (!rig.error.empty()) {
        state.SkipWithError(rig.error.c_str());
        return;
    }
    tunavox::TParamRunner runner(Context(rig));
    runner.StartBackup();
    Finish(rig, runner);
    const tunavox::TParamSet set = runner.Set;
    int actions = 0;
    for (auto _ : state) {
        if (state.range(0) == 0) {
            runner.StartBackup();
            actions = runner.Total();
        } else {
            // For restore the comparison that chooses the rows is not timed.
            if (state.range(0) == 2) state.PauseTiming();
            runner.StartCompare(set);
            if (state.range(0) == 2) {
                Finish(rig, runner);
                for (tunavox::TCompareRow& row : runner.Rows)
                    row.Selected = row.Restorable;
                state.ResumeTiming();
                runner.StartRestore();
                actions = 2 * runner.Total();
            } else {
                actions = runner.Total();
            }
        }
        Finish(rig, runner);
    }
    state.counters["actions"] = actions;
    state.counters["floor_ms"] = actions * 10.0;
}
BENCHMARK(BM_ParamSet)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
