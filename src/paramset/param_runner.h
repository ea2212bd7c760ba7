#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "device/name_value_list.h"
#include "device/reg.h"
#include "engine/action.h"
#include "paramset/param_set.h"

namespace tunavox {

// What a runner works with: the loaded registers, and a way to hand actions to the
// worker that the window (or the command line) already runs.
struct TRunnerContext {
    TCanal* Canal = nullptr;
    TRegList* Regs = nullptr;
    const TNameValueList* ErrorTexts = nullptr;
    int32_t DeviceId = 0;
    std::function<void(std::unique_ptr<TAction>)> Queue;
};

enum class TCompareState {
    Same,             // "совпадает"
    Differs,          // "различается"
    ReadFailed,       // the read's error text
    NotInDescription, // "нет в описании"
    TypeMismatch,     // "тип не совпадает"
    NoValueInFile, // "нет значения в файле": its read had failed when it was saved
    NotReadable,   // "не читается": write-only in the loaded description
    NoFactoryValue, // "нет заводского значения": the description gives no defValue
    NotInOther,     // "нет во втором наборе" (comparing two sets)
    NotInFirst,     // "нет в первом наборе" (comparing two sets)
};

// One register of a file compared with the device.
struct TCompareRow {
    TParamEntry File;
    int Row = -1;     // table row, -1 when the description has no such register
    std::string Name; // name with units: the description's, else the file's
    TCompareState State = TCompareState::NotInDescription;
    // The file's value as the table would show it (the file's own shown text is only a
    // comment); empty when the file has no value.
    std::string FileText;
    std::string DeviceText;  // the device's value as the table shows it
    std::string Error;       // the read's error in words
    bool Restorable = false; // an RW register with a value in the file
    bool Service = false;    // shown only in service mode
    // A setting: any register but a read-only one of the description (and one the
    // description lacks). Read-only rows are measurements or identity: listed apart,
    // never counted as differences.
    bool Setting = true;
    // Chosen for restoring; at first every restorable difference outside service rows.
    bool Selected = false;
};

// The state column's text.
std::string CompareStateText(const TCompareRow& row);
// "Различий в настройках: 2 из 17", or "Различий в настройках нет"; rows that could not
// be compared are never "no difference": "Не сравнимо: N (тип не совпадает)" is said.
std::string SettingsDifferenceText(int differing, int settings, int mismatched = 0);
// A setting that differs: not the same, and not a row that has nothing to compare with
// (no factory value) or that is no register of this description (another address or
// another type: listed, but no setting of this device).
bool CountsAsDifference(const TCompareRow& row);
// Whether a row counts among the settings compared (the M of "N из M").
bool CountsAsSetting(const TCompareRow& row);
// The counts of a comparison, the same in the window and on the command line: settings
// and those that differ, read-only rows and those that differ. Service rows count too,
// shown or not.
struct TCompareCounts {
    int Settings = 0;
    int Differing = 0;
    int ReadOnly = 0;
    int ReadOnlyDiffering = 0;
    int Mismatched = 0; // settings rows of another type on one side: not comparable
};
TCompareCounts CountComparison(const std::vector<TCompareRow>& rows);
// Why a row cannot be written: its state, or "только для чтения"; empty when it can.
std::string RestoreRefusal(const TCompareRow& row);

// The set entry of a register just read: its value as the table shows it, or (failed)
// the read's error in words. A value no write request can carry is kept out, so that the
// set's other rows can still be restored; the entry says why.
TParamEntry EntryOfRead(const TReg& reg, bool failed, const std::string& errorInWords,
                        const TNameValueList* errorTexts);

// Where a set and the loaded description or device part ways; empty when they agree.
std::vector<std::string> CompareWarnings(const TParamSet& set, const std::string& deviceName,
                                         const std::string& sign, uint32_t deviceId);

// One restored register: empty Error when written and read back with the same value.
struct TRestoreOutcome {
    size_t Index = 0; // into Rows
    std::string Error;
};

// Saves, compares and restores a parameter set through ordinary read and write
// actions. One action is outstanding at a time and each step is started by the
// previous step's completion handler on the main thread, so polling and the
// keep-alive interleave and the caller never waits. Cancel stops after the register
// in progress.
class TParamRunner {
public:
    explicit TParamRunner(TRunnerContext context);
    ~TParamRunner();
    TParamRunner(const TParamRunner&) = delete;
    TParamRunner& operator=(const TParamRunner&) = delete;

    // Reads every register reading may touch (not Header; R or RW), or only those of
    // them at the listed addresses, into Set, whose header fields the caller fills in.
    void StartBackup(const std::vector<uint16_t>& only = {});
    // Reads the device's value of every register of file that the description has; rows
    // in fresh were read just now by the caller and are compared as their registers hold.
    void StartCompare(const TParamSet& file, std::set<int> fresh = {});
    // Writes the selected rows of Rows in table order, each read back and checked.
    void StartRestore();
    void Cancel() { cancelled_ = true; }

    bool Running() const { return running_; }
    bool Cancelled() const { return cancelled_; }
    int Done() const { return done_; }
    int Total() const { return static_cast<int>(steps_.size()); }

    // Called on the main thread after each register, and once at the end.
    std::function<void(int done, int total)> OnProgress;
    std::function<void()> OnFinished;
    // Called on the main thread after each action on a table row (to redraw it).
    std::function<void(int row)> OnRow;
    // Called on the main thread for each restored row (the journal of writes): with
    // "записано" when the device acknowledged the write, then once more when its outcome
    // is known ("записано и подтверждено", "устройство сохранило …" or the error); before
    // is the device's value before the write (as compared).
    std::function<void(const TCompareRow& row, const std::string& before,
                       const std::string& outcome)>
        OnRestoredRow;

    TParamSet Set;
    std::vector<TCompareRow> Rows;
    std::vector<TRestoreOutcome> Restored;
    int Confirmed() const;

private:
    enum class Kind { Backup, Compare, Restore };
    void Begin(Kind kind, std::vector<size_t> steps);
    void Next();
    void Read(int row, std::function<void(TAction*)> done);
    void StepDone();
    // Classifies a compared row by the device's value now held in its register.
    void Classify(TCompareRow& row, const TReg& reg) const;

    TRunnerContext ctx_;
    std::shared_ptr<char> alive_ = std::make_shared<char>(0);
    Kind kind_ = Kind::Backup;
    std::vector<size_t> steps_; // table rows (backup) or indices into Rows
    int done_ = 0;
    bool running_ = false;
    bool cancelled_ = false;
    std::set<int> fresh_;
};

} // namespace tunavox
