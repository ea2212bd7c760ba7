// tunavox-cli site report: the visit's report, each device's settings read once more.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <optional>

#include "site/report.h"
#include "site/site_check.h"
#include "site/visit.h"
#include "session.h"
#include "site_command.h"
#include "util/file_io.h"
#include "util/time_text.h"

namespace tunavox::cli {
namespace {

struct ReportOptions {
    std::string Folder, Output, Engineer, Journal;
    bool Csv = false;
};

bool ParseReportOptions(const std::vector<std::string>& args, ReportOptions& o,
                        std::string& error) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string* value = a == "--output"     ? &o.Output
                             : a == "--engineer" ? &o.Engineer
                             : a == "--journal"  ? &o.Journal
                                                 : nullptr;
        if (value) {
            if (i + 1 >= args.size()) {
                error = a + ": нужно значение";
                return false;
            }
            *value = args[++i];
        } else if (!a.empty() && a[0] == '-') {
            error = "site report: неизвестный параметр " + a;
            return false;
        } else if (o.Folder.empty()) {
            o.Folder = a;
        } else {
            error = "site report: нужна одна папка объекта";
            return false;
        }
    }
    if (o.Folder.empty()) error = "site report: нужна папка объекта";
    else if (o.Output.empty()) error = "site report: нужен --output ФАЙЛ (.html или .csv)";
    if (!error.empty()) return false;
    std::string ext = o.Output.substr(std::min(o.Output.size(), o.Output.rfind('.')));
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext != ".html" && ext != ".htm" && ext != ".csv") {
        error = "site report: отчёт пишется в файл .html или .csv: " + o.Output;
        return false;
    }
    o.Csv = ext == ".csv";
    return true;
}

} // namespace

int SiteReport(const std::vector<std::string>& args) {
    ReportOptions o;
    std::string error;
    if (!ParseReportOptions(args, o, error)) return Fail(error);
    TSite site;
    TVisit visit;
    if (!ReadSite(o.Folder, site, error) || !LastVisit(o.Folder, visit, error)) return Fail(error);
    if (!CheckReplaceable(o.Output, error)) return Fail(o.Output + ": " + error);
    // The visit's writes, from the journal of the days since it began.
    const std::string journalFolder = o.Journal.empty() ? DefaultJournalFolder() : o.Journal;
    std::vector<TJournalEntry> journal;
    TJournalFilter since;
    since.Since = visit.Started.substr(0, 10);
    if (PathKind(journalFolder) != TPathKind::Missing &&
        !ReadJournal(journalFolder, since, journal, error))
        return Fail(error);
    WatchStopSignals();
    TReport report;
    report.Site = site.Name;
    report.Notes = site.Notes;
    report.Engineer = o.Engineer;
    report.VisitStarted = visit.Started;
    report.Program = ProgramVersion();
    int status = 0;
    for (const TSiteLine& siteLine : site.Lines) {
        TLine line;
        std::vector<std::unique_ptr<TDevice>> devices;
        // A line whose port fails still has its devices in the report, none of them read.
        if (OpenSiteLine(siteLine, line, devices) != 0 &&
            devices.size() != siteLine.Devices.size())
            return kUsageError;
        const bool open = line.PortOpen();
        TReportLine part = ReportLineOf(
            siteLine, devices.empty() || !devices.front()->Desc.Line
                          ? std::string()
                          : SettingsText(*devices.front()->Desc.Line));
        for (size_t i = 0; i < devices.size(); ++i) {
            const TSiteDevice& entry = siteLine.Devices[i];
            TDevice& d = *devices[i];
            std::optional<TParamSet> found;
            if (!ReadFound(visit, entry, found, error))
                std::fprintf(stderr, "ID %u: %s\n", static_cast<unsigned>(entry.Id), error.c_str());
            std::string problem;
            const std::optional<TParamSet> reference = LoadReference(o.Folder, entry, problem);
            if (!reference && !entry.Reference.empty())
                std::fprintf(stderr, "ID %u: %s\n", static_cast<unsigned>(entry.Id),
                             problem.c_str());
            TLeftReader reader(RunnerContext(line, d));
            if (open && !StopRequested()) {
                reader.Start();
                ServeUntil(line, [&reader] { return !reader.Running(); });
            }
            TReportSource source;
            source.Site = &entry;
            source.Regs = d.Regs.get();
            source.Sign = d.Desc.Sign;
            source.Found = found ? &*found : nullptr;
            source.Left = reader.Answered() ? &reader.Set() : nullptr;
            source.Reference = reference ? &*reference : nullptr;
            source.Writes = VisitWrites(journal, siteLine.Port, entry, visit.StartedMs);
            part.Devices.push_back(ReportDeviceOf(source));
            const TReportDevice& made = part.Devices.back();
            std::printf("%u;%s;%s\n", static_cast<unsigned>(made.Id), made.Type.c_str(),
                        VerdictText(made).c_str());
            if (made.Verdict != TReportVerdict::Conforms) status = 1;
        }
        if (open) line.Shutdown();
        report.Lines.push_back(std::move(part));
    }
    report.Made = LocalTimeWithOffset(std::chrono::system_clock::now());
    const std::string text = o.Csv ? ReportCsv(report) : ReportHtml(report);
    if (!ReplaceFileBytes(o.Output, text, error)) return Fail(error);
    std::printf("Объект: %s\nОтчёт записан: %s\n", SiteVerdictText(report).c_str(),
                o.Output.c_str());
    return status;
}

} // namespace tunavox::cli
