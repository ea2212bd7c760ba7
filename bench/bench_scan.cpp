// Searches of IDs 1-247 over a pseudo-terminal with two simulated controllers (IDs 3 and
// 200) of the sample controller type, direct.
//   BM_ScanOneSetting/9600 and /115200: one line setting, protocol 2.0. Goals: within 7 s
//   at 9600 and 3 s at 115200. The floor is every place at its probe window plus the
//   listen for late answers at the end (one description time-out).
//   BM_ScanDefault: both versions and both modes (the window's and the command line's
//   default) at 9600; goal: at most 2 times the one-setting sweep.
#include <benchmark/benchmark.h>

#include "device/catalogue.h"
#include "device/description.h"
#include "engine/worker.h"
#include "scan/scan_runner.h"
#include "sim/simulator.h"
#include "util/program_folder.h"

namespace {

using namespace tunavox;

constexpr uint32_t kLastId = 247;

struct Line {
    std::vector<TScanType> types; // the controller only, at the baud rate asked for
    TRegList buk;
    std::unique_ptr<TDeviceSimulator> sim;
    std::string pty, error;

    explicit Line(uint32_t baud) {
        const std::string folder = ProgramFolder();
        std::vector<std::string> problems;
        for (TScanType& t : LoadScanTypes(ScanCatalogue(folder), folder, problems))
            if (t.FileName == "NastrBUK2.xml") types.push_back(t);
        TNameValueList errors;
        TDescription desc;
        if (types.size() != 1 ||
            !LoadDescription(folder + "NastrBUK2.xml", buk, errors, desc, folder).empty()) {
            error = "the sample controller's description does not load";
            return;
        }
        types[0].Line.BaudRate = baud;
        TSimOptions o;
        o.DeviceId = 3;
        sim = std::make_unique<TDeviceSimulator>(buk, o);
        sim->AddDevice(buk, 200);
        pty = sim->StartPty("", error);
    }
};

// One sweep with these options; its time in ms and the devices found.
double Sweep(const Line& line, const TScanOptions& options, int& found) {
    THandOverQueue handOver;
    TTh worker(handOver);
    double ms = 0;
    {
        TScanRunner scan(line.types, options,
                         [&worker](std::unique_ptr<TAction> a) { worker.AddAction(std::move(a)); });
        scan.Start();
        while (scan.Running())
            handOver.Serve(20);
        found = scan.DevicesFound();
        ms = static_cast<double>(scan.ElapsedMs());
    }
    worker.Stop([&handOver](int wait) { handOver.Serve(wait); });
    return ms;
}

TScanOptions OneSetting(const std::string& pty) {
    TScanOptions options;
    options.Ports = {pty};
    options.LastId = kLastId;
    options.Gateway = {false};
    options.Versions = {1};
    return options;
}

void BM_ScanOneSetting(benchmark::State& state) {
    const auto baud = static_cast<uint32_t>(state.range(0));
    Line line(baud);
    if (line.pty.empty()) {
        state.SkipWithError(line.error.c_str());
        return;
    }
    const TScanGroup group = GroupScanTypes(line.types).front();
    const double floorMs =
        (kLastId + 1.0) * static_cast<double>(DefaultProbeTimeout(group)) * group.Probes.size() +
        group.LongestTimeout;
    int found = 0;
    double sweepMs = 0;
    for (auto _ : state)
        sweepMs = Sweep(line, OneSetting(line.pty), found);
    state.counters["found"] = found;
    state.counters["sweep_ms"] = sweepMs;
    state.counters["floor_ms"] = floorMs;
    state.counters["goal_ms"] = baud <= 9600 ? 7000 : 3000;
}
BENCHMARK(BM_ScanOneSetting)
    ->Arg(9600)
    ->Arg(115200)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

void BM_ScanDefault(benchmark::State& state) {
    Line line(9600);
    if (line.pty.empty()) {
        state.SkipWithError(line.error.c_str());
        return;
    }
    int found = 0;
    double oneMs = 0, defaultMs = 0;
    for (auto _ : state) {
        oneMs = Sweep(line, OneSetting(line.pty), found);
        TScanOptions all = OneSetting(line.pty);
        all.Gateway = {false, true};
        all.Versions = {1, 0};
        defaultMs = Sweep(line, all, found);
    }
    state.counters["found"] = found;
    state.counters["one_setting_ms"] = oneMs;
    state.counters["default_ms"] = defaultMs;
    state.counters["ratio"] = defaultMs / oneMs;
    state.counters["goal_ratio"] = 2.0;
}
BENCHMARK(BM_ScanDefault)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
