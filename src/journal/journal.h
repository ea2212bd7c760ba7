#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace tunavox {

class TReg;

// One write the program made to a device.
struct TJournalEntry {
    std::string Time;     // local, with milliseconds and UTC offset
    std::string Port;     // as opened
    std::string Device;   // the description's device name
    std::string DescFile; // the description's file name
    std::string DeviceId; // decimal
    std::string Version;  // "1.0" or "2.0"
    std::string Code;     // as the table shows it
    std::string Name;     // name with units
    std::string Before;   // the last value read, or "не считано"
    std::string Written;
    std::string
        Outcome; // "записано", "записано и подтверждено", "устройство сохранило …", an error
};

// Where and to what the writes of a session go.
struct TJournalContext {
    std::string Port;
    std::string Device;
    std::string DescFile;
    uint32_t DeviceId = 0;
    uint8_t Version = 1; // 0: 1.0, else 2.0
};

constexpr const char* kNotRead = "не считано";
constexpr const char* kWritten = "записано";
constexpr const char* kConfirmed = "записано и подтверждено";
// A write-only register (W, WOR) cannot be read back.
constexpr const char* kWrittenUnreadable = "записано, проверка невозможна: параметр не считывается";

// How a line stands to the write it tells of. A write that is read back is journalled
// twice: "записано" as soon as the device acknowledges it (so a crash during the
// read-back cannot lose it), then the read-back's outcome with the same time, which the
// reader takes as that write's outcome.
enum class TJournalLine { Whole, Acknowledged, Outcome };

// What the journal shows of a password register's values: never their length.
constexpr const char* kPasswordMask = "********";

// The entry for a write of reg at time t; a password register's values are masked.
TJournalEntry
JournalEntryFor(const TJournalContext& context, const TReg& reg, const std::string& before,
                const std::string& written, const std::string& outcome,
                std::chrono::system_clock::time_point t = std::chrono::system_clock::now());
// The register's device value as the table shows it, or "не считано".
std::string ValueBeforeWrite(const TReg& reg);
// "устройство сохранило X" for the outcome column.
std::string KeptOtherOutcome(const std::string& deviceText);

// The journal's lines: fields separated by ";" and quoted as CSV, Windows-1251, CR LF.
std::string JournalLine(const TJournalEntry& entry);
std::string JournalHeader();
// Reads one line (without its CR LF) back; false when it has not the journal's fields.
bool ParseJournalLine(const std::string& line, TJournalEntry& entry);

// "Journal/" beside the program when a file can be created there, else in the user's
// data folder.
std::string DefaultJournalFolder();

// Appends writes to one file per day ("YYYY-MM-DD.csv") in a folder, each line on the
// disk before Append returns. A last line cut short by a crash is cut away before
// appending; a file that does not begin with the journal's header is never appended to.
class TJournal {
public:
    explicit TJournal(std::string folder = {}) : folder_(std::move(folder)) {}
    void SetFolder(const std::string& folder) { folder_ = folder; }
    // The folder in use (DefaultJournalFolder until set).
    std::string Folder() const;
    // False, and why, when the line could not be kept; the write it tells of stands.
    // An Outcome line takes the time of the Acknowledged line of the same write (port,
    // device, ID, code and value), when there was one.
    bool Append(const TJournalEntry& entry, std::string& error,
                TJournalLine kind = TJournalLine::Whole);
    // Whether the last Append cut a torn line away.
    bool TornLineRemoved() const { return tornRemoved_; }

private:
    bool AppendLine(const TJournalEntry& entry, std::string& error);

    std::string folder_;
    bool tornRemoved_ = false;
    std::vector<TJournalEntry> acknowledged_; // waiting for their read-back
};

struct TJournalFilter {
    std::string Since;  // "YYYY-MM-DD": from that day on; empty: all
    std::string Until;  // "YYYY-MM-DD": up to that day; empty: all
    std::string Device; // part of the device name, any letter case; empty: all
};

// The entries of the folder's day files that pass the filter, in the order they were
// appended (days in order, oldest first), a read-back's line merged into the write it
// checked; lines that
// are not entries (a torn last line) are left out. False and why when the folder
// cannot be read.
// With stop, a read from another thread ends early (false, no error) once it is set.
bool ReadJournal(const std::string& folder, const TJournalFilter& filter,
                 std::vector<TJournalEntry>& entries, std::string& error,
                 const std::atomic<bool>* stop = nullptr);

// The entries as an HTML service report.
std::string JournalHtml(const std::vector<TJournalEntry>& entries, const std::string& title);

} // namespace tunavox
