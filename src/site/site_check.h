#pragma once
// Whether a device of a site is still the one left there, holding its reference
// settings: read through the line's worker, requests that only read.
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "device/description.h"
#include "paramset/param_runner.h"
#include "scan/identify_runner.h"
#include "scan/scan_types.h"
#include "site/site.h"

namespace tunavox {

enum class TSiteState {
    NotChecked,  // not yet (or being) checked
    InPlace,     // "на месте": the same unit, equal to its reference
    Silent,      // "нет ответа"
    OtherDevice, // "другое устройство": another type answers at the ID
    Replaced,    // "заменено": an identity value differs
    Differs,     // "отличается от эталона: N"
};

// An identity value that is not the site's.
struct TIdentityChange {
    uint16_t Addr = 0;
    std::string Name; // the register's name with units
    std::string Old;  // the site's
    std::string New;  // the device's now
};

// What a device's check found.
struct TSiteCheck {
    TSiteState State = TSiteState::NotChecked;
    std::string Other;                    // OtherDevice: what answers there
    std::vector<TIdentityValue> Identity; // the identity values read now
    std::vector<TIdentityChange> Changes;
    int Differences = -1;      // settings differing from the reference; -1: not compared
    std::string Problem;       // why the reference was not compared (no file, unreadable)
    std::vector<TCompareRow> Rows; // the comparison with the reference
    int Reads = 0;                 // requests the check made
    // What the site's own device answered to the check, row by row in table order (each
    // register once): the visit's "as found" values. Empty when another device or none
    // answered.
    std::vector<TParamEntry> Found;
};

// "на месте", "нет ответа", "другое устройство", "заменено", "отличается от эталона: N"
// (a device being checked: "проверяется…", not yet: "не проверено").
std::string SiteStateText(const TSiteCheck& check);
// The changes in words: "Заводской номер: 1001 → 1002; …".
std::string IdentityChangesText(const TSiteCheck& check);
// Whether the device may be polled and written to: checked, and the site's own unit.
bool SiteDeviceTrusted(const TSiteCheck& check);

// The identity registers' values of a device as its registers hold them now.
std::vector<TIdentityValue> IdentityNow(const TRegList& regs, const TNameValueList* errorTexts);

// The site's record of a device as it stands: its description, type, sign and ID, the
// identity values its registers hold, the polled rows and its reference set's name.
TSiteDevice SiteDeviceOf(const TDescription& desc, const TRegList& regs,
                         const TNameValueList* errorTexts, uint32_t id,
                         std::vector<uint16_t> polled);
// A device's reference set from the site's folder; empty with the reason in problem when
// it names none or the file cannot be read.
std::optional<TParamSet> LoadReference(const std::string& folder, const TSiteDevice& device,
                                       std::string& problem);
// The types a site's devices are told by: the descriptions beside the program, each
// device's own among them; and where one of them is (by file name).
std::vector<TScanType> SiteTypes(const std::string& programFolder);
std::optional<size_t> TypeIndex(const std::vector<TScanType>& types, const std::string& fileName);

// Checks one device: the type's check registers and the identity rows first (a silent or
// foreign device stops there: who answers is then asked as the search asks), the identity
// compared with the site's, then the settings with the reference (rows already read are
// not read again). One request outstanding at a time, each started on the main thread.
class TSiteCheckRunner {
public:
    // types: the catalogue as the search loads it; expected: the device's own type in it
    // (none: the type is judged from the reads alone). reference: empty when there is none
    // (problem says why, when a file was named).
    TSiteCheckRunner(TRunnerContext context, TSiteDevice device,
                     std::optional<TParamSet> reference, std::string problem,
                     std::vector<TScanType> types, std::optional<size_t> expected);
    ~TSiteCheckRunner();
    TSiteCheckRunner(const TSiteCheckRunner&) = delete;
    TSiteCheckRunner& operator=(const TSiteCheckRunner&) = delete;

    void Start();
    bool Running() const { return running_; }
    const TSiteCheck& Result() const { return result_; }

    // Main thread, once at the end.
    std::function<void()> OnFinished;
    // Main thread, after each register read into the table (to redraw it).
    std::function<void(int row)> OnRow;

private:
    void ReadFirst(size_t next);
    void AskWho();
    void CompareIdentity();
    void Finish(TSiteState state);

    TRunnerContext ctx_;
    TSiteDevice device_;
    std::optional<TParamSet> reference_;
    std::vector<TScanType> types_;
    std::optional<size_t> expected_;
    std::vector<int> first_; // rows read first: the type's checks, then the identity
    std::set<int> fresh_;
    std::unique_ptr<TIdentifyRunner> who_;
    std::unique_ptr<TParamRunner> compare_;
    std::shared_ptr<char> alive_ = std::make_shared<char>(0);
    bool running_ = false;
    TSiteCheck result_;
};

} // namespace tunavox
