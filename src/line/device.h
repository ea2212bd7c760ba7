#pragma once
#include <cstdint>
#include <memory>
#include <set>
#include <string>

#include "device/description.h"
#include "device/name_value_list.h"
#include "device/reg.h"
#include "engine/link_state.h"
#include "paramset/param_runner.h"
#include "site/site_check.h"
#include "trend/poll_backoff.h"

namespace tunavox {

// When a device of a line is to be told again (is it still its description's type?) from
// its poll reads: when it answers after silence, or when a row that read well refuses.
// An outage of the line is the caller's to say.
class TRecheck {
public:
    // After a poll read of row (ok: a value came; silent: no answer); true when the
    // device is to be told again now.
    bool Read(int row, bool ok, bool silent);

private:
    bool silent_ = false;
    std::set<int> good_; // rows that read well
};

// One device on a line: its description and registers, its ID, which rows polling and
// the keep-alive read, its back-off and rest, the link as its rows saw it, and the
// parameter-set runner at work on it. What is one per port is the line's, the polled
// values' samples and recording too: one chart and one file show all its devices.
struct TDevice {
    TDevice();
    ~TDevice();
    TDevice(const TDevice&) = delete;
    TDevice& operator=(const TDevice&) = delete;

    // Loads a description into this device (see LoadDescription); the entry is its place
    // in the catalogue. With a channel, the line takes the description's settings.
    std::string Load(const std::string& path, int entry, const std::string& programFolder,
                     TCanal* canal);
    // Forgets the rows' link history and picks the keep-alive row again: the row at
    // 0xFFFD, else the first.
    void ResetConnection();

    TDescription Desc; // the loaded description's header
    std::unique_ptr<TRegList> Regs;
    std::unique_ptr<TNameValueList> ErrorTexts;
    int Entry = -1; // the description's place in the catalogue, -1 for none
    int32_t Id = 0; // requests carry it when not 0
    int PollNode = -1;
    int PingNode = -1;
    bool PollOnConnect = false;
    int LastChangedRow = -1;
    TLinkMonitor Link;
    TPollBackoff Backoff;
    TDeviceRest Rest; // among several devices: a silent one rests, the others go on
    TRecheck Recheck;
    // Another device answers at its ID (what it answers as): nothing is polled or
    // written until the user decides.
    std::string Other;
    std::unique_ptr<TParamRunner> ParamRunner;
    // A device of an open site, and what its check found (NotChecked until then): only
    // the site's own unit, checked, is polled or written.
    bool OnSite = false;
    TSiteCheck SiteCheck;
    // Its number on the line, kept while it is there (the first device's is 0): the
    // line's samples and wide recording know its rows by Key.
    int Serial = 0;
    static constexpr int kKeyStride = 1000000;
    int Key(int row) const { return Serial * kKeyStride + row; }
};

// Splits "FILE[:ID]" as the command lines take a device: the ID after the last colon
// (a Windows path has one of its own); without one, id is 0. False for an ID of 0 or
// beyond 32 bits.
bool SplitDeviceArgument(const std::string& text, std::string& file, uint32_t& id);

} // namespace tunavox
