#pragma once
// The commissioning report of a visit: per device what it held when the engineer came
// ("as found", from the visit's check), what it holds now ("as left", read just before the
// report), the reference and factory values beside them, the visit's writes from the
// journal and a verdict. Values of a device appear only as read from it in the visit.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "journal/journal.h"
#include "paramset/param_runner.h"
#include "paramset/param_set.h"
#include "site/site.h"

namespace tunavox {

// The states of a settings row.
constexpr const char* kRowSame = "совпадает с эталоном";
constexpr const char* kRowChanged = "изменено при наладке";
constexpr const char* kRowDiffers = "отличается от эталона";
constexpr const char* kRowNoReference = "нет в эталоне";
// The outcomes of a write, as the report gives them.
constexpr const char* kWriteKeptOther = "устройство сохранило другое значение";
constexpr const char* kWriteFailedPrefix = "не записано: ";

struct TReportIdentity {
    std::string Code, Name, Found, Left;
};

struct TReportRow {
    std::string Code, Name, Factory, Reference, Found, Left, State;
};

struct TReportWrite {
    std::string Time, Code, Name, Before, Written, Outcome;
};

enum class TReportVerdict {
    Conforms,    // "соответствует эталону"
    Differs,     // "отличается от эталона: N"
    NoLink,      // "не проверено: нет связи"
    Unread,      // "не проверено: не считано N"
    NoReference, // "не проверено: нет эталона"
};

struct TReportDevice {
    std::string Type;
    uint32_t Id = 0;
    std::string Description; // the description's file name
    std::string Signature;   // whether its signature holds, in words
    std::vector<TReportIdentity> Identity;
    std::vector<TReportRow> Rows; // the settings, in table order
    std::vector<TReportWrite> Writes;
    TReportVerdict Verdict = TReportVerdict::NoLink;
    int Count = 0; // rows that differ (Differs) or were not read (Unread)
};

struct TReportLine {
    std::string Port;     // a port name or a network address
    std::string Protocol; // "1.0", "2.0"
    std::string Mode;     // "напрямую", "через шлюз"
    std::string Settings; // "19200-8-E-1"
    std::vector<TReportDevice> Devices;
};

struct TReport {
    std::string Site, Notes, Engineer;
    std::string VisitStarted, Made; // local times with their UTC offset
    std::string Program;
    std::vector<TReportLine> Lines;
};

// What one device's part is made from.
struct TReportSource {
    const TSiteDevice* Site = nullptr;
    const TRegList* Regs = nullptr; // the device's loaded description
    std::string Sign;               // the loaded description's signature digest
    const TParamSet* Found = nullptr;     // the visit's check; none when it found nothing
    const TParamSet* Left = nullptr;      // read for the report; none when not read
    const TParamSet* Reference = nullptr; // none when the site gives none
    std::vector<TJournalEntry> Writes;    // the visit's writes to the device
};

TReportDevice ReportDeviceOf(const TReportSource& source);
// The line's part of the report (devices to be added).
TReportLine ReportLineOf(const TSiteLine& line, const std::string& settings);

// The verdict in words: "соответствует эталону", "отличается от эталона: 2", …
std::string VerdictText(const TReportDevice& device);
// The site's verdict: "соответствует эталону" when every device does, else the counts.
std::string SiteVerdictText(const TReport& report);
// A journal outcome as the report gives it.
std::string ReportOutcomeText(const std::string& journalOutcome);
// The writes of a visit to a device: the journal's entries for the line's port, the
// device's ID and description since the visit began (by their UTC time).
std::vector<TJournalEntry> VisitWrites(const std::vector<TJournalEntry>& journal,
                                       const std::string& port, const TSiteDevice& device,
                                       int64_t sinceMs);

// One self-contained HTML page (UTF-8, well-formed, for the screen and A4 paper with the
// tables' headers repeated on each page).
std::string ReportHtml(const TReport& report);
// The settings tables, one line per device and row, in the recordings' spreadsheet form.
std::string ReportCsv(const TReport& report);

// Reads a device's settings and identity rows for the report ("as left"): the first of
// them alone first, so a silent device costs one time-out, not one per row. One request
// outstanding at a time, each started on the main thread.
class TLeftReader {
public:
    explicit TLeftReader(TRunnerContext context);
    void Start();
    bool Running() const {
        return (probe_ && probe_->Running()) || (rest_ && rest_->Running());
    }
    // Read rows (failed ones included); empty when the device did not answer at all.
    const TParamSet& Set() const { return set_; }
    bool Answered() const { return answered_; }
    std::function<void()> OnFinished;

private:
    TRunnerContext ctx_;
    std::vector<uint16_t> rows_;
    std::unique_ptr<TParamRunner> probe_, rest_;
    TParamSet set_;
    bool answered_ = false;
};

// The rows the report reads of a device: identity rows and readable settings.
std::vector<uint16_t> ReportRows(const TRegList& regs);

} // namespace tunavox
