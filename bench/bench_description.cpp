// Verifying and loading a generated description with 10,000 registers.
// Target: under 100 ms per load on the 2-core reference machine.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <unistd.h>

#include "device/description.h"
#include "device/signature.h"
#include "generated_description.h"

namespace {

void BM_LoadDescription10k(benchmark::State& state) {
    const std::string path = "/tmp/tunavox-bench-" + std::to_string(getpid()) + ".xml";
    const std::string bytes = tunavox::bench::GeneratedDescription(10000);
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    if (!tunavox::SignDescriptionFile(path).empty()) state.SkipWithError("signing failed");
    for (auto _ : state) {
        tunavox::TRegList regs;
        tunavox::TNameValueList errors;
        tunavox::TDescription desc;
        const std::string error = tunavox::LoadDescription(path, regs, errors, desc, "/tmp/");
        if (!error.empty()) state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(regs.Count());
    }
    state.counters["bytes"] = static_cast<double>(bytes.size());
    std::remove(path.c_str());
}
BENCHMARK(BM_LoadDescription10k)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
