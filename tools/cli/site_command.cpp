#include "site_command.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>

#include "engine/link_state.h"
#include "paramset_commands.h"
#include "several_devices.h"
#include "site/site_check.h"
#include "site/visit.h"
#include "util/file_io.h"
#include "util/program_folder.h"
#include "util/time_text.h"

namespace tunavox::cli {
namespace {


// Whether the device answers its probe register at all (a silent one would cost the
// answer time-out on every row of its backup).
bool Answers(TLine& line, TDevice& d) {
    const std::vector<TScanRegister> checks = ScanChecks(*d.Regs);
    if (checks.empty()) return true;
    for (int row = 0; row < d.Regs->Count(); ++row) {
        TReg* reg = d.Regs->Items(row);
        if (reg->RegType == rtHeader || reg->Addr != checks.front().Addr) continue;
        bool done = false, answered = false;
        line.Queue(std::make_unique<TActionReadReg>(
            line.Canal.get(), d.Id, reg, row, [&](TAction* a) {
                answered = ClassifyExchange(a->Error(), a->PortError()) == TLinkKind::Ok ||
                           ClassifyExchange(a->Error(), a->PortError()) == TLinkKind::DeviceError;
                done = true;
            }));
        ServeUntil(line, [&done] { return done; });
        return answered;
    }
    return true;
}

// Takes "--name TEXT" out of args.
bool TakeName(std::vector<std::string>& args, std::string& name, std::string& error) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] != "--name") continue;
        if (i + 1 >= args.size()) {
            error = "--name: нужно значение";
            return false;
        }
        name = args[i + 1];
        args.erase(args.begin() + static_cast<std::ptrdiff_t>(i),
                   args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
        return true;
    }
    return true;
}

std::string FolderName(std::string folder) {
    while (!folder.empty() && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
    const size_t slash = LastSeparator(folder);
    return slash == std::string::npos ? folder : folder.substr(slash + 1);
}

int SiteNew(std::vector<std::string> args) {
    std::string name, error;
    if (!TakeName(args, name, error)) return Fail(error);
    Options o;
    if (std::none_of(args.begin(), args.end(), [](const std::string& a) { return a == "--device"; }))
        return Fail("site new: нужен хотя бы один --device ФАЙЛ:ID");
    if (!ParseOptions(args, o, error, false)) return Fail(error);
    if (o.Rest.size() != 1) return Fail("site new: нужна одна папка объекта");
    const std::string folder = o.Rest[0];
    if (PathKind(SiteFilePath(folder)) != TPathKind::Missing)
        return Fail("в папке " + folder + " уже есть объект (" + kSiteFileName + ")");
    TLine line;
    std::vector<std::unique_ptr<TDevice>> devices;
    if (const int status = OpenSeveral(o, {}, line, devices)) return status;
    TSite site;
    site.Name = name.empty() ? FolderName(folder) : name;
    site.Lines.push_back({o.Port, o.Version, o.Gateway, 0, {}});
    std::vector<TParamSet> references;
    int status = 0;
    for (const auto& d : devices) {
        TParamRunner runner(RunnerContext(line, *d));
        bool answered = Answers(line, *d);
        if (answered) {
            runner.StartBackup();
            ServeUntil(line, [&runner] { return !runner.Running(); });
            answered = std::any_of(runner.Set.Entries.begin(), runner.Set.Entries.end(),
                                   [](const TParamEntry& e) { return !e.Failed; });
        }
        if (!answered || StopRequested()) {
            std::fprintf(stderr, "ID %u (%s): устройство не отвечает, объект не записан\n",
                         static_cast<unsigned>(d->Id), d->Desc.Name.c_str());
            status = kUsageError;
            break;
        }
        std::vector<uint16_t> polled;
        for (int r = 0; r < d->Regs->Count(); ++r)
            if (d->Regs->Items(r)->Poll && d->Regs->Items(r)->RegType != rtHeader)
                polled.push_back(d->Regs->Items(r)->Addr);
        TSiteDevice entry = SiteDeviceOf(d->Desc, *d->Regs, d->ErrorTexts.get(),
                                         static_cast<uint32_t>(d->Id), std::move(polled));
        TParamSet& set = runner.Set;
        set.Device = d->Desc.Name;
        set.DescriptionFile = d->Desc.FileName;
        set.Sign = d->Desc.Sign;
        set.DeviceId = static_cast<uint32_t>(d->Id);
        set.Protocol = o.Version;
        set.Saved = LocalTimeText(std::chrono::system_clock::now(), false);
        set.Program = ProgramVersion();
        std::printf("%u;%s;%s\n", static_cast<unsigned>(d->Id), d->Desc.Name.c_str(),
                    entry.Reference.c_str());
        site.Lines.back().Devices.push_back(std::move(entry));
        references.push_back(std::move(set));
    }
    line.Shutdown();
    if (status != 0) return status;
    if (!CreateSite(folder, site, references, error)) return Fail(error);
    std::printf("Объект записан: %s\n", SiteFilePath(folder).c_str());
    return 0;
}

} // namespace

void ServeUntil(TLine& line, const std::function<bool()>& done) {
    while (!done()) {
        line.HandOver.Serve(50);
        if (StopRequested() && line.PortOpen()) line.Canal->ComPort->Close();
    }
}

int OpenSiteLine(const TSiteLine& siteLine, TLine& line,
                 std::vector<std::unique_ptr<TDevice>>& devices) {
    Options o;
    o.Port = siteLine.Port;
    o.Version = siteLine.Version;
    o.Gateway = siteLine.Gateway;
    for (const TSiteDevice& d : siteLine.Devices)
        o.Devices.emplace_back(ProgramFolder() + d.Description, d.Id);
    if (o.Devices.empty()) return 0;
    o.Desc = o.Devices.front().first;
    return OpenSeveral(o, {}, line, devices);
}

int SiteCheck(const std::vector<std::string>& args) {
    if (args.size() != 1) return Fail("site check: нужна одна папка объекта");
    const std::string folder = args[0];
    TSite site;
    std::string error;
    if (!ReadSite(folder, site, error)) return Fail(error);
    WatchStopSignals();
    // The visit begins: what the devices answer now is what the engineer found.
    TVisit visit;
    const bool visiting = StartVisit(folder, std::chrono::system_clock::now(), visit, error);
    if (!visiting) std::fprintf(stderr, "%s\n", error.c_str());
    const std::vector<TScanType> types = SiteTypes(ProgramFolder());
    std::map<TSiteState, int> counts;
    int total = 0, status = 0;
    for (const TSiteLine& siteLine : site.Lines) {
        TLine line;
        std::vector<std::unique_ptr<TDevice>> devices;
        if (OpenSiteLine(siteLine, line, devices) != 0) {
            status = kUsageError;
            continue;
        }
        for (size_t i = 0; i < devices.size() && !StopRequested(); ++i) {
            const TSiteDevice& entry = siteLine.Devices[i];
            TDevice& d = *devices[i];
            if (!entry.Sign.empty() && entry.Sign != d.Desc.Sign)
                std::fprintf(stderr, "ID %u: описание %s изменилось после приёмки объекта\n",
                             static_cast<unsigned>(entry.Id), entry.Description.c_str());
            std::string problem;
            std::optional<TParamSet> reference = LoadReference(folder, entry, problem);
            if (!reference && !entry.Reference.empty())
                std::fprintf(stderr, "ID %u: %s\n", static_cast<unsigned>(entry.Id),
                             problem.c_str());
            TSiteCheckRunner check(RunnerContext(line, d), entry, std::move(reference), problem,
                                   types, TypeIndex(types, entry.Description));
            check.Start();
            ServeUntil(line, [&check] { return !check.Running(); });
            const TSiteCheck& r = check.Result();
            if (visiting && !r.Found.empty() &&
                !SaveFound(visit, entry, siteLine.Version, r.Found, error))
                std::fprintf(stderr, "ID %u: %s\n", static_cast<unsigned>(entry.Id), error.c_str());
            std::string state = SiteStateText(r);
            if (r.State == TSiteState::Replaced) state += ": " + IdentityChangesText(r);
            if (r.State == TSiteState::OtherDevice) state += ": " + r.Other;
            std::printf("%s\n", Line({std::to_string(entry.Id), entry.Type, state,
                                      r.Differences < 0 ? "—" : std::to_string(r.Differences)})
                                    .c_str());
            std::fflush(stdout);
            ++counts[r.State];
            ++total;
            if (r.State != TSiteState::InPlace) status = std::max(status, 1);
        }
        line.Shutdown();
    }
    std::string summary = "Устройств: " + std::to_string(total);
    for (const auto& [state, n] : counts) {
        TSiteCheck shown;
        shown.State = state;
        const std::string text = SiteStateText(shown);
        summary += ", " + text.substr(0, text.find(':')) + ": " + std::to_string(n);
    }
    std::printf("%s\n", summary.c_str());
    if (StopRequested()) status = std::max(status, 1);
    return status;
}

int Site(const std::vector<std::string>& args) {
    if (args.empty()) return Fail("site: нужна команда new, check или report");
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (args[0] == "new") return SiteNew(rest);
    if (args[0] == "check") return SiteCheck(rest);
    if (args[0] == "report") return SiteReport(rest);
    return Fail("site: неизвестная команда " + args[0] + " (new, check или report)");
}

} // namespace tunavox::cli
