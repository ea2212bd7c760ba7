// tunavox-cli backup, compare and restore: parameter sets against a device.
#include "paramset_commands.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "device/table_text.h"
#include "device/value_codec.h"
#include "paramset/param_runner.h"
#include "session.h"
#include "util/time_text.h"

namespace tunavox::cli {
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

std::string Line(std::initializer_list<std::string> fields) {
    std::string out;
    for (const std::string& f : fields)
        out += (out.empty() ? "" : ";") + DelimitedField(f);
    return out;
}

std::string RowCode(const TCompareRow& row) {
    return DeviceErrorKey(row.File.Addr);
}

// Loads the set, starts the session and compares; 0 or an exit status.
int CompareWithDevice(const Options& o, Session& s, TParamSet& set, TParamRunner*& runner,
                      std::unique_ptr<TParamRunner>& owned) {
    if (o.Rest.empty()) return Fail("no parameter set file given");
    std::string error;
    if (!ReadParamSetFile(o.Rest[0], set, error)) {
        std::fprintf(stderr, "%s: %s\n", o.Rest[0].c_str(), error.c_str());
        return kUsageError;
    }
    if (const int status = s.Start(o)) return status;
    for (const std::string& w :
         CompareWarnings(set, s.Desc.Name, s.Desc.Sign, static_cast<uint32_t>(s.DeviceId())))
        std::fprintf(stderr, "Внимание: %s\n", w.c_str());
    owned = std::make_unique<TParamRunner>(ContextOf(s));
    runner = owned.get();
    runner->StartCompare(set);
    RunToEnd(s, *runner);
    return 0;
}

} // namespace

int Backup(const std::vector<std::string>& args) {
    Options o;
    std::string error;
    if (!ParseOptions(args, o, error, false)) return Fail(error);
    if (o.Output.empty()) return Fail("backup needs --output SET");
    if (!o.Rest.empty()) return Fail("unexpected argument: " + o.Rest[0]);
    Session s;
    if (const int status = s.Start(o)) return status;
    TParamRunner runner(ContextOf(s));
    runner.StartBackup();
    RunToEnd(s, runner);
    if (runner.Cancelled()) {
        std::fprintf(stderr, "tunavox-cli: interrupted, %s not written\n", o.Output.c_str());
        return 1;
    }
    TParamSet& set = runner.Set;
    set.Device = s.Desc.Name;
    set.DescriptionFile = s.Desc.FileName;
    set.Sign = s.Desc.Sign;
    set.DeviceId = static_cast<uint32_t>(s.DeviceId());
    set.Protocol = o.Version;
    set.Saved = LocalTimeText(std::chrono::system_clock::now(), false);
    set.Program = ProgramVersion();
    if (!WriteParamSetFile(o.Output, set, error)) {
        std::fprintf(stderr, "%s: %s\n", o.Output.c_str(), error.c_str());
        return kUsageError;
    }
    for (const TParamEntry& e : set.Entries)
        if (e.Failed)
            std::printf("%s\n", Line({DeviceErrorKey(e.Addr), e.Name, "", e.Shown}).c_str());
    std::printf("Параметры сохранены: %zu, ошибок чтения: %d\n",
                set.Entries.size() - static_cast<size_t>(set.FailedCount()), set.FailedCount());
    return set.FailedCount() == 0 ? 0 : 1;
}

int Compare(const std::vector<std::string>& args) {
    Options o;
    std::string error;
    if (!ParseOptions(args, o, error, false)) return Fail(error);
    if (o.Rest.size() > 1) return Fail("compare takes one parameter set file");
    Session s;
    TParamSet set;
    TParamRunner* runner = nullptr;
    std::unique_ptr<TParamRunner> owned;
    if (const int status = CompareWithDevice(o, s, set, runner, owned)) return status;
    bool same = !runner->Cancelled();
    for (const TCompareRow& row : runner->Rows) {
        std::printf("%s\n", Line({RowCode(row), row.Name, row.File.Shown, row.DeviceText,
                                  CompareStateText(row)})
                                .c_str());
        same = same && row.State == TCompareState::Same;
    }
    return same ? 0 : 1;
}

int Restore(const std::vector<std::string>& args) {
    Options o;
    std::string error;
    if (!ParseOptions(args, o, error, false)) return Fail(error);
    if (o.Rest.empty()) return Fail("restore needs a parameter set file");
    std::vector<uint16_t> listed;
    if (!ParseAddresses(o.Rest, 1, listed, error)) return Fail(error);
    if (o.All && !listed.empty()) return Fail("--all and addresses exclude each other");
    Session s;
    TParamSet set;
    TParamRunner* runner = nullptr;
    std::unique_ptr<TParamRunner> owned;
    if (const int status = CompareWithDevice(o, s, set, runner, owned)) return status;
    if (runner->Cancelled()) return 1;
    for (const uint16_t address : listed) {
        const auto it =
            std::find_if(runner->Rows.begin(), runner->Rows.end(),
                         [address](const TCompareRow& r) { return r.File.Addr == address; });
        if (it == runner->Rows.end())
            return Fail("the file has no register " + DeviceErrorKey(address));
        if (!it->Restorable)
            return Fail(DeviceErrorKey(address) + " cannot be restored: " + CompareStateText(*it));
    }
    for (TCompareRow& row : runner->Rows) {
        if (!listed.empty())
            row.Selected = row.Restorable &&
                           std::find(listed.begin(), listed.end(), row.File.Addr) != listed.end();
        else if (o.All)
            row.Selected = row.Restorable;
    }
    runner->StartRestore();
    RunToEnd(s, *runner);
    for (const TRestoreOutcome& r : runner->Restored) {
        const TCompareRow& row = runner->Rows[r.Index];
        std::printf("%s\n", Line({RowCode(row), row.Name, row.File.Shown, r.Error}).c_str());
    }
    const int selected = static_cast<int>(std::count_if(
        runner->Rows.begin(), runner->Rows.end(), [](const TCompareRow& r) { return r.Selected; }));
    std::fprintf(stderr, "Записано и подтверждено: %d из %d\n", runner->Confirmed(), selected);
    return runner->Confirmed() == selected ? 0 : 1;
}

} // namespace tunavox::cli
