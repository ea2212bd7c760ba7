// tunavox-cli backup, compare and restore: parameter sets against a device.
#include "paramset_commands.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <string_view>

#include "device/table_text.h"
#include "device/value_codec.h"
#include "line/device.h"
#include "paramset/param_runner.h"
#include "paramset/set_compare.h"
#include "scan/scan_types.h"
#include "session.h"
#include "util/program_folder.h"
#include "util/time_text.h"

namespace tunavox::cli {

std::string Line(std::initializer_list<std::string> fields) {
    std::string out;
    bool first = true;
    for (const std::string& f : fields)
        out += (std::exchange(first, false) ? "" : ";") + DelimitedField(f);
    return out;
}

std::string RowCode(const TCompareRow& row) {
    return DeviceErrorKey(row.File.Addr);
}

int PrintComparison(const std::vector<TCompareRow>& rows, bool trouble) {
    for (const TCompareRow& row : rows) {
        std::printf("%s\n", Line({RowCode(row), row.Name, row.FileText, row.DeviceText,
                                  CompareStateText(row)})
                                .c_str());
        trouble = trouble || (row.Setting && row.State == TCompareState::ReadFailed);
    }
    const TCompareCounts counts = CountComparison(rows);
    std::printf("%s\n",
                SettingsDifferenceText(counts.Differing, counts.Settings, counts.Mismatched).c_str());
    return trouble ? kUsageError : counts.Differing == 0 && counts.Mismatched == 0 ? 0 : 1;
}

namespace {

TRunnerContext ContextOf(Session& s) {
    TRunnerContext c;
    c.Canal = &s.Canal;
    c.Regs = &s.Regs;
    c.ErrorTexts = &s.ErrorTexts;
    c.DeviceId = s.DeviceId();
    c.Queue = [&s](std::unique_ptr<TAction> a) { s.AddAction(std::move(a)); };
    return c;
}

// Runs the runner's work to its end; a stop signal cancels what is not begun yet.
void RunToEnd(Session& s, TParamRunner& runner) {
    s.ServeUntil([&runner] {
        if (StopRequested()) runner.Cancel();
        return !runner.Running();
    });
}

// Loads the set, starts the session and compares; 0 or an exit status. For a restore, a
// set saved for another device type or ID is refused unless --other-device allows it.
int CompareWithDevice(const Options& o, Session& s, TParamSet& set, TParamRunner*& runner,
                      std::unique_ptr<TParamRunner>& owned, bool restoring = false) {
    if (o.Rest.empty() && !o.Defaults) return Fail("не указан файл параметров");
    std::string error;
    if (!o.Defaults && !ReadParamSetFile(o.Rest[0], set, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kUsageError;
    }
    if (const int status = s.Start(o)) return status;
    if (o.Defaults) {
        set = FactorySet(s.Regs, s.Desc.Name, s.Desc.FileName, s.Desc.Sign);
        if (!HasFactoryValues(set)) return Fail(kNoFactoryValues);
    } else {
        const std::vector<std::string> warnings =
            CompareWarnings(set, s.Desc.Name, s.Desc.Sign, static_cast<uint32_t>(s.DeviceId()));
        for (const std::string& w : warnings)
            std::fprintf(stderr, "Внимание: %s\n", w.c_str());
        // Another version of the same description is the same device; another type or
        // ID is written only when asked for by name.
        const bool otherDevice =
            set.Device != s.Desc.Name || set.DeviceId != static_cast<uint32_t>(s.DeviceId());
        if (restoring && otherDevice && !o.OtherDevice)
            return Fail("набор сохранён для другого устройства, ничего не записано; чтобы "
                        "записать его в это устройство, добавьте --other-device");
    }
    owned = std::make_unique<TParamRunner>(ContextOf(s));
    runner = owned.get();
    runner->StartCompare(set);
    RunToEnd(s, *runner);
    return 0;
}

// backup, compare and restore over several devices of a line: --device FILE[:ID] more than
// once (or --ids LIST with --desc), one set file per device in --output-dir (backup) or
// --input-dir (compare, restore), named by the device's name and ID. Each device in turn
// runs the command as for one, with a line "ID N: file" before it; the exit status is the
// worst of them. -1 when the command is for one device.
int PerDevice(bool backup, const std::vector<std::string>& args,
              int (*run)(const std::vector<std::string>&)) {
    std::vector<std::pair<std::string, uint32_t>> devices;
    std::vector<std::string> rest;
    std::string dir, desc, ids;
    bool many = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool valued = a == "--device" || a == "--ids" || a == "--desc" ||
                            a == (backup ? "--output-dir" : "--input-dir");
        if (!valued) {
            rest.push_back(a);
            continue;
        }
        if (i + 1 >= args.size()) return Fail(a + ": нужно значение");
        const std::string& v = args[++i];
        if (a == "--device") {
            std::string error;
            if (!AddDevice(v, devices, error)) return Fail(error);
        } else if (a == "--ids") {
            ids = v;
        } else if (a == "--desc") {
            desc = v;
        } else {
            dir = v;
            many = true;
        }
    }
    if (!many) {
        if (!ids.empty())
            return Fail(std::string("--ids: нужна папка ") +
                        (backup ? "--output-dir" : "--input-dir"));
        return -1;
    }
    if (!ids.empty()) {
        if (desc.empty() || !devices.empty()) return Fail("--ids указывается с --desc");
        size_t at = 0;
        while (at <= ids.size()) {
            const size_t comma = std::min(ids.find(',', at), ids.size());
            uint32_t first = 0, last = 0;
            std::string why;
            if (!ParseIdRange(ids.substr(at, comma - at), first, last, why))
                return Fail("--ids: " + why);
            for (uint64_t id = first; id <= last; ++id)
                devices.emplace_back(desc, static_cast<uint32_t>(id));
            at = comma + 1;
        }
    } else if (!desc.empty()) {
        return Fail("--device заменяет --desc: не указываются вместе");
    }
    if (devices.empty()) return Fail("нужны --device (несколько) или --desc с --ids");
    if (!dir.empty() && dir.back() != '/' && dir.back() != '\\') dir += '/';
    int worst = 0;
    for (const auto& [file, id] : devices) {
        TDevice d;
        const std::string error = d.Load(file, -1, ProgramFolder(), nullptr);
        if (!error.empty()) {
            std::fprintf(stderr, "%s: %s\n", file.c_str(), error.c_str());
            worst = std::max(worst, kUsageError);
            continue;
        }
        const std::string path = dir + DeviceSetName(d.Desc.Name, id);
        std::vector<std::string> one;
        if (!backup) one.push_back(path); // the set comes before any address
        one.insert(one.end(), rest.begin(), rest.end());
        for (const std::string& x :
             {std::string("--desc"), file, std::string("--id"), std::to_string(id)})
            one.push_back(x);
        if (backup) {
            one.push_back("--output");
            one.push_back(path);
        }
        std::printf("ID %u: %s\n", static_cast<unsigned>(id), path.c_str());
        std::fflush(stdout);
        worst = std::max(worst, run(one));
        std::fflush(stdout);
    }
    return worst;
}

} // namespace

int Backup(const std::vector<std::string>& args) {
    if (const int status = PerDevice(true, args, Backup); status >= 0) return status;
    Options o;
    std::string error;
    if (!ParseOptions(args, o, error, false)) return Fail(error);
    if (o.Output.empty()) return Fail("backup: укажите --output НАБОР");
    // The listed registers only: a partial set.
    std::vector<uint16_t> only;
    if (!ParseAddresses(o.Rest, 0, only, error)) return Fail(error);
    // Before the first exchange: a backup must have somewhere to go.
    if (!CheckParamSetTarget(o.Output, o.Desc, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kUsageError;
    }
    Session s;
    if (const int status = s.Start(o)) return status;
    for (const uint16_t address : only) {
        const int row = FindRow(s.Regs, address);
        if (row < 0) return Fail("нет регистра с адресом " + DeviceErrorKey(address));
        const uint8_t io = s.Regs.Items(row)->Io;
        if (io != ioR && io != ioRW)
            return Fail("регистр " + DeviceErrorKey(address) + " не читается");
    }
    TParamRunner runner(ContextOf(s));
    runner.StartBackup(only);
    RunToEnd(s, runner);
    if (runner.Cancelled()) {
        std::fprintf(stderr, "Сохранение прервано, файл %s не записан\n", o.Output.c_str());
        return 1;
    }
    TParamSet& set = runner.Set;
    for (const TParamEntry& e : set.Entries)
        if (e.Failed)
            std::printf("%s\n", Line({DeviceErrorKey(e.Addr), e.Name, "", e.Shown}).c_str());
    const size_t failed = static_cast<size_t>(set.FailedCount());
    if (failed > 0 && failed == set.Entries.size()) {
        // Nothing was read: a good set already there must not give way to this one.
        std::fprintf(stderr, "Ни один параметр не считан, файл %s не записан\n", o.Output.c_str());
        return 1;
    }
    set.Device = s.Desc.Name;
    set.DescriptionFile = s.Desc.FileName;
    set.Sign = s.Desc.Sign;
    set.DeviceId = static_cast<uint32_t>(s.DeviceId());
    set.Protocol = o.Version;
    set.Saved = LocalTimeText(std::chrono::system_clock::now(), false);
    set.Program = ProgramVersion();
    if (!WriteParamSetFile(o.Output, set, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kUsageError;
    }
    std::printf("Параметры сохранены: %zu, ошибок чтения: %zu\n", set.Entries.size() - failed,
                failed);
    if (failed == 0) return 0;
    std::fprintf(stderr, "Не считано параметров: %zu из %zu\n", failed, set.Entries.size());
    return 1;
}

int Compare(const std::vector<std::string>& args) {
    if (const int status = PerDevice(false, args, Compare); status >= 0) return status;
    Options o;
    std::string error;
    if (!ParseOptions(args, o, error, false)) return Fail(error);
    if (o.Rest.size() > (o.Defaults ? 0u : 1u))
        return Fail(o.Defaults ? "compare --defaults: файл параметров не нужен"
                               : "compare: нужен один файл параметров");
    Session s;
    TParamSet set;
    TParamRunner* runner = nullptr;
    std::unique_ptr<TParamRunner> owned;
    if (const int status = CompareWithDevice(o, s, set, runner, owned)) return status;
    // As diff and cmp, about the settings: 0 the same, 1 differences, 2 trouble (a read
    // failed). Read-only rows (measurements, identity) follow them and do not count.
    if (runner->Cancelled()) std::fprintf(stderr, "Сравнение прервано\n");
    return PrintComparison(runner->Rows, runner->Cancelled());
}

int Restore(const std::vector<std::string>& args) {
    if (const int status = PerDevice(false, args, Restore); status >= 0) return status;
    Options o;
    std::string error;
    if (!ParseOptions(args, o, error, false)) return Fail(error);
    if (o.Rest.empty()) return Fail("restore: укажите файл параметров");
    std::vector<uint16_t> listed;
    if (!ParseAddresses(o.Rest, 1, listed, error)) return Fail(error);
    if (o.All && !listed.empty()) return Fail("--all и адреса не указываются вместе");
    Session s;
    TParamSet set;
    TParamRunner* runner = nullptr;
    std::unique_ptr<TParamRunner> owned;
    if (const int status = CompareWithDevice(o, s, set, runner, owned, true)) return status;
    if (runner->Cancelled()) return 1;
    for (const uint16_t address : listed) {
        const auto it =
            std::find_if(runner->Rows.begin(), runner->Rows.end(),
                         [address](const TCompareRow& r) { return r.File.Addr == address; });
        if (it == runner->Rows.end())
            return Fail("в файле нет регистра " + DeviceErrorKey(address));
        if (!it->Restorable)
            return Fail("регистр " + DeviceErrorKey(address) +
                        " не записать: " + RestoreRefusal(*it));
    }
    // What the command is about: the listed rows, else every row of the set.
    std::vector<bool> inScope(runner->Rows.size(), listed.empty());
    for (size_t i = 0; i < runner->Rows.size(); ++i) {
        TCompareRow& row = runner->Rows[i];
        if (!listed.empty()) {
            inScope[i] = std::find(listed.begin(), listed.end(), row.File.Addr) != listed.end();
            row.Selected = row.Restorable && inScope[i];
        } else {
            // The window leaves service rows to the engineer; the command writes every
            // differing RW row (or, with --all, every RW row).
            row.Selected = row.Restorable && (o.All || row.State == TCompareState::Differs);
        }
    }
    runner->OnRestoredRow = [&s](const TCompareRow& row, const std::string& before,
                                 const std::string& outcome) {
        s.Journal(*s.Regs.Items(row.Row), before, row.FileText, outcome,
                  outcome == kWritten ? TJournalLine::Acknowledged : TJournalLine::Outcome);
    };
    runner->StartRestore();
    RunToEnd(s, *runner);
    std::vector<const std::string*> outcome(runner->Rows.size(), nullptr);
    for (const TRestoreOutcome& r : runner->Restored)
        outcome[r.Index] = &r.Error;
    // One line for every row in question, in table order: written (the error, or
    // nothing when confirmed), or left out with the reason.
    bool allDone = !runner->Cancelled();
    int selected = 0, skipped = 0;
    std::map<std::string, int> skippedWhy; // reason -> rows, for the summary
    for (size_t i = 0; i < runner->Rows.size(); ++i) {
        if (!inScope[i]) continue;
        const TCompareRow& row = runner->Rows[i];
        selected += row.Selected ? 1 : 0;
        std::string result;
        if (outcome[i]) {
            result = *outcome[i];
        } else if (row.Selected) {
            result = "не записан: запись прервана";
        } else {
            const std::string refusal = RestoreRefusal(row);
            result = "не записан: " + (refusal.empty() ? CompareStateText(row) : refusal);
        }
        // A row left out because the device already holds the file's value is done, and
        // so is a read-only one: a measurement is not restored.
        const bool done = outcome[i]
                              ? outcome[i]->empty()
                              : !row.Selected && (row.State == TCompareState::Same || !row.Setting);
        allDone = allDone && done;
        if (!done && !row.Selected) {
            ++skipped;
            ++skippedWhy[result.substr(std::string("не записан: ").size())];
        }
        std::printf("%s\n", Line({RowCode(row), row.Name, row.FileText, result}).c_str());
    }
    // Rows that should have been written but could not be count too, with their reasons:
    // "1 из 1" and exit 1 would say nothing of them.
    std::string summary = "Записано и подтверждено: " + std::to_string(runner->Confirmed()) +
                          " из " + std::to_string(selected + skipped);
    if (skipped > 0) {
        summary += ", не записано: " + std::to_string(skipped) + " (";
        bool first = true;
        for (const auto& [why, n] : skippedWhy)
            summary += (std::exchange(first, false) ? "" : ", ") + why +
                       (n > 1 ? " — " + std::to_string(n) : "");
        summary += ")";
    }
    std::fprintf(stderr, "%s\n", summary.c_str());
    return allDone ? 0 : 1;
}

} // namespace tunavox::cli
