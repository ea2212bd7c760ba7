// Checking a site of 30 devices on one line (the in-process simulator over a
// pseudo-terminal, the two sample types taking turns): the check against the reads it
// needs, made as plain reads at the same pace (each device's identity rows and the rows of
// its reference). Target: ratio at most 1.2.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <set>
#include <vector>

#include "device/description.h"
#include "engine/worker.h"
#include "link/canal.h"
#include "link/open_port.h"
#include "paramset/param_runner.h"
#include "sim/simulator.h"
#include "site/site_check.h"
#include "util/program_folder.h"

namespace {

constexpr uint32_t kDevices = 30;

struct Unit {
    tunavox::TRegList Regs;
    tunavox::TNameValueList Errors;
    tunavox::TDescription Desc;
    uint32_t Id = 0;
    tunavox::TSiteDevice Site;
    tunavox::TParamSet Reference;
};

struct SiteRig {
    std::vector<std::unique_ptr<Unit>> units;
    tunavox::TCanal canal;
    tunavox::THandOverQueue handOver;
    std::unique_ptr<tunavox::TDeviceSimulator> sim;
    std::unique_ptr<tunavox::TTh> worker;
    std::string error;

    SiteRig() {
        const std::string folder = tunavox::ProgramFolder();
        for (uint32_t id = 1; id <= kDevices && error.empty(); ++id) {
            auto u = std::make_unique<Unit>();
            u->Id = id;
            const std::string file = id % 2 ? "NastrBUK2.xml" : "NastrChP7.xml";
            error = tunavox::LoadDescription(folder + file, u->Regs, u->Errors, u->Desc, folder,
                                             id == 1 ? &canal : nullptr);
            units.push_back(std::move(u));
        }
        if (!error.empty()) return;
        tunavox::TSimOptions o;
        o.DeviceId = 1;
        o.Line = *units.front()->Desc.Line;
        sim = std::make_unique<tunavox::TDeviceSimulator>(units.front()->Regs, o);
        for (size_t i = 1; i < units.size(); ++i)
            sim->AddDevice(units[i]->Regs, units[i]->Id);
        const std::string path = sim->StartPty("", error);
        if (path.empty()) return;
        if (!tunavox::OpenPort(canal, path, 1, false)) error = canal.ComPort->ErrorText();
        worker = std::make_unique<tunavox::TTh>(handOver);
    }
    ~SiteRig() {
        if (worker) worker->Stop([this](int ms) { handOver.Serve(ms); });
        canal.ComPort->Close();
    }
    tunavox::TRunnerContext Context(Unit& u, int* reads = nullptr) {
        tunavox::TRunnerContext c;
        c.Canal = &canal;
        c.Regs = &u.Regs;
        c.ErrorTexts = &u.Errors;
        c.DeviceId = static_cast<int32_t>(u.Id);
        c.Queue = [this, reads](std::unique_ptr<tunavox::TAction> a) {
            if (reads) ++*reads;
            worker->AddAction(std::move(a));
        };
        return c;
    }
    void ServeWhile(const std::function<bool()>& busy) {
        while (busy())
            handOver.Serve(20);
    }
};

void BM_SiteCheck(benchmark::State& state) {
    SiteRig rig;
    if (!rig.error.empty()) {
        state.SkipWithError(rig.error.c_str());
        return;
    }
    // The site as made: each device's reference is its settings now.
    for (auto& u : rig.units) {
        tunavox::TParamRunner backup(rig.Context(*u));
        backup.StartBackup();
        rig.ServeWhile([&] { return backup.Running(); });
        u->Reference = backup.Set;
        u->Site = tunavox::SiteDeviceOf(u->Desc, u->Regs, &u->Errors, u->Id, {});
    }
    const std::vector<tunavox::TScanType> types = tunavox::SiteTypes(tunavox::ProgramFolder());
    double plainMs = 0, checkMs = 0;
    int needed = 0, made = 0, inPlace = 0;
    for (auto _ : state) {
        // The reads a check needs, as plain reads one after another.
        needed = 0;
        auto start = std::chrono::steady_clock::now();
        for (auto& u : rig.units) {
            std::set<uint16_t> addresses;
            for (const tunavox::TParamEntry& e : u->Reference.Entries)
                addresses.insert(e.Addr);
            for (const tunavox::TIdentityValue& v : u->Site.Identity)
                addresses.insert(v.Addr);
            for (int row = 0; row < u->Regs.Count(); ++row) {
                tunavox::TReg* reg = u->Regs.Items(row);
                if (reg->RegType == tunavox::rtHeader || !addresses.count(reg->Addr)) continue;
                bool done = false;
                ++needed;
                rig.worker->AddAction(std::make_unique<tunavox::TActionReadReg>(
                    &rig.canal, static_cast<int32_t>(u->Id), reg, row,
                    [&done](tunavox::TAction*) { done = true; }));
                rig.ServeWhile([&] { return !done; });
            }
        }
        plainMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() -
                                                            start)
                      .count();
        made = 0;
        inPlace = 0;
        start = std::chrono::steady_clock::now();
        for (auto& u : rig.units) {
            tunavox::TSiteCheckRunner check(rig.Context(*u), u->Site, u->Reference, {}, types,
                                            tunavox::TypeIndex(types, u->Desc.FileName));
            check.Start();
            rig.ServeWhile([&] { return check.Running(); });
            made += check.Result().Reads;
            inPlace += check.Result().State == tunavox::TSiteState::InPlace ? 1 : 0;
        }
        checkMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() -
                                                            start)
                      .count();
    }
    if (inPlace != static_cast<int>(kDevices)) state.SkipWithError("a device was not in place");
    state.counters["reads_needed"] = needed;
    state.counters["reads_made"] = made;
    state.counters["plain_ms"] = plainMs;
    state.counters["check_ms"] = checkMs;
    state.counters["ratio"] = plainMs > 0 ? checkMs / plainMs : 0;
}
BENCHMARK(BM_SiteCheck)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
