// Save, compare and restore of the larger sample device against the in-process
// simulator over a pseudo-terminal. The floor is 10 ms per action (the worker's
// pause): one read per register for save and compare, a write and a read-back per
// restored register; target: within 10% of it.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "bench_rig.h"
#include "device/signature.h"
#include "generated_description.h"
#include "paramset/param_runner.h"
#include "paramset/set_compare.h"

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

// Two 10,000-row sets compared away from any device (tunavox-cli diff): parse both
// files and compare them. Target: under 100 ms.
void BM_DiffOfTwoLargeSets(benchmark::State& state) {
    const std::string path = "/tmp/tunavox-bench-diff.xml";
    tunavox::TRegList regs;
    tunavox::TNameValueList errors;
    tunavox::TDescription desc;
    const std::string error =
        tunavox::bench::LoadGeneratedDescription(path, 10000, regs, errors, desc);
    std::remove(path.c_str());
    if (!error.empty()) {
        state.SkipWithError(error.c_str());
        return;
    }
    tunavox::TParamSet a = tunavox::FactorySet(regs, desc.Name, desc.FileName, desc.Sign);
    a.Factory = false;
    tunavox::TParamSet b = a;
    for (size_t i = 0; i < b.Entries.size(); i += 7)
        if (b.Entries[i].Type != tunavox::rtStr) b.Entries[i].Value = tunavox::TValue(uint8_t{0});
    const std::string textA = tunavox::FormatParamSet(a), textB = tunavox::FormatParamSet(b);
    size_t rows = 0;
    for (auto _ : state) {
        tunavox::TParamSet first, second;
        std::string why;
        tunavox::ParseParamSet(textA, first, why);
        tunavox::ParseParamSet(textB, second, why);
        rows = tunavox::CompareSets(regs, first, second).size();
        benchmark::DoNotOptimize(rows);
    }
    state.counters["rows"] = static_cast<double>(rows);
}
BENCHMARK(BM_DiffOfTwoLargeSets)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
