#pragma once
// A site: the folder of one boiler room (or any place an engineer returns to), with its
// lines, their devices and each device's reference set. One file in the folder says it
// all (site.xml, documented for people in docs/site-file.md); the reference sets lie
// beside it in the set file format.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "paramset/param_set.h"

namespace tunavox {

// The format this program writes; a file of a higher number is refused, a lower one read.
constexpr int kSiteFormat = 1;
constexpr const char* kSiteFileName = "site.xml";
// Lines and devices a site file may hold: a hand-written file is read within these.
constexpr size_t kMaxSiteLines = 16;
constexpr size_t kMaxSiteDevices = 255;

// One identity register's value, as the table shows it.
struct TIdentityValue {
    uint16_t Addr = 0;
    std::string Value;
    bool operator==(const TIdentityValue&) const = default;
};

// One device of a line as the site knows it.
struct TSiteDevice {
    std::string Description; // the description's file name, beside the program
    std::string Type;        // the device type's name, as the description gives it
    std::string Sign;        // the description's signature when the device was accepted
    uint32_t Id = 0;
    std::vector<TIdentityValue> Identity; // as last accepted
    std::vector<uint16_t> Polled;         // the rows ticked for polling
    std::string Reference;                // the reference set's file name; empty: none
    bool operator==(const TSiteDevice&) const = default;
};

struct TSiteLine {
    std::string Port;     // a port name or a network address
    uint8_t Version = 1;  // as the channel takes it: 0 is 1.0, 1 is 2.0
    bool Gateway = false; // through a gateway device
    int PollPeriodMs = 0; // 0: as fast as the line goes
    std::vector<TSiteDevice> Devices;
    bool operator==(const TSiteLine&) const = default;
};

struct TSite {
    std::string Name;
    std::string Notes;
    std::vector<TSiteLine> Lines;
    int Format = kSiteFormat; // as read; written as kSiteFormat
    TFileStamp Stamp;         // the site file as read or last written
};

// The site file in a folder, and a file of the folder by name.
std::string SiteFilePath(const std::string& folder);
std::string SiteFolderFile(const std::string& folder, const std::string& name);
// The reference set's name for a device: "<device>_ID<N>.params".
std::string ReferenceName(const TSiteDevice& device);

// The site file's text (UTF-8 XML).
std::string FormatSite(const TSite& site);
// Parses a site file's text; a newer format, a malformed or out-of-bounds file is
// refused with a message, and site is left as it was.
bool ParseSite(std::string_view text, TSite& site, std::string& error);

// Reads folder's site file.
bool ReadSite(const std::string& folder, TSite& site, std::string& error);
// Writes folder's site file as set files are written: never half-written, and a file
// changed by another program since it was read is left alone (false, *changedOnDisk).
bool WriteSite(const std::string& folder, TSite& site, std::string& error,
               bool* changedOnDisk = nullptr);

// A new site in folder (made when missing): each device's reference set (named as its
// device's Reference), then the site file. A folder that already holds a site is refused;
// when a reference cannot be written, the site file is not written either.
bool CreateSite(const std::string& folder, TSite& site, const std::vector<TParamSet>& references,
                std::string& error);

// The protocol version's text ("1.0", "2.0").
std::string SiteVersionText(uint8_t version);

} // namespace tunavox
