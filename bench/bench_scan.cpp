// A search of IDs 1-255 over a pseudo-terminal with three simulated devices of the two
// sample types (IDs 3, 17 and 200), direct, protocol 2.0, default probe time-outs. The
// floor is every place of every line setting at its probe time-out plus the worker's
// 10 ms pause; goal: the sweep within 1.15 of it, all three devices found.
#include <benchmark/benchmark.h>

#include "device/catalogue.h"
#include "device/description.h"
#include "engine/worker.h"
#include "scan/scan_runner.h"
#include "sim/simulator.h"
#include "util/program_folder.h"

namespace {

using namespace tunavox;

void BM_ScanLine(benchmark::State& state) {
    const std::string folder = ProgramFolder();
    std::vector<std::string> problems;
    const std::vector<TScanType> types = LoadScanTypes(ScanCatalogue(folder), folder, problems);
    TRegList buk, chp;
    TNameValueList errors;
    TDescription desc;
    if (types.size() != 2 ||
        !LoadDescription(folder + "NastrBUK2.xml", buk, errors, desc, folder).empty() ||
        !LoadDescription(folder + "NastrChP7.xml", chp, errors, desc, folder).empty()) {
        state.SkipWithError("the two sample descriptions do not load");
        return;
    }
    TSimOptions o;
    o.DeviceId = 3;
    TDeviceSimulator sim(buk, o);
    sim.AddDevice(chp, 17);
    sim.AddDevice(buk, 200);
    std::string error;
    const std::string pty = sim.StartPty("", error);
    if (pty.empty()) {
        state.SkipWithError(error.c_str());
        return;
    }
    TScanOptions options;
    options.Ports = {pty};
    options.Gateway = {false};
    options.Versions = {1};
    double floorMs = 0;
    for (const TScanGroup& g : GroupScanTypes(types))
        floorMs += 256.0 * static_cast<double>(g.Probes.size()) * (DefaultProbeTimeout(g) + 10);
    THandOverQueue handOver;
    TTh worker(handOver);
    int found = 0;
    double sweepMs = 0;
    for (auto _ : state) {
        TScanRunner scan(types, options,
                         [&worker](std::unique_ptr<TAction> a) { worker.AddAction(std::move(a)); });
        scan.Start();
        while (scan.Running())
            handOver.Serve(20);
        found = scan.DevicesFound();
        sweepMs = static_cast<double>(scan.ElapsedMs());
    }
    worker.Stop([&handOver](int ms) { handOver.Serve(ms); });
    sim.Stop();
    state.counters["found"] = found;
    state.counters["sweep_ms"] = sweepMs;
    state.counters["floor_ms"] = floorMs;
    state.counters["ratio"] = sweepMs / floorMs;
}
BENCHMARK(BM_ScanLine)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
