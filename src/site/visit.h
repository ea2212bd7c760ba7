#pragma once
// A visit to a site: from its opening (or a check on the command line) until it is closed.
// What the check read from each device when the engineer came is kept in the site's folder
// ("visits/<date and time>/", one set file per device), so that a report made hours later
// shows what the devices answered then, not what a file says.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "paramset/param_set.h"
#include "site/site.h"

namespace tunavox {

constexpr const char* kVisitsFolder = "visits";
constexpr const char* kVisitFileName = "visit.txt";
// Visits a site folder is searched for at most (the latest is the one wanted).
constexpr size_t kMaxVisits = 10000;

struct TVisit {
    std::string Folder;  // the visit's own folder
    std::string Started; // local time with milliseconds and UTC offset
    int64_t StartedMs = 0; // the same, in ms since the epoch (UTC)
};

// Starts a visit of the site in siteFolder at time t: a folder of its own under "visits"
// named by the local time ("2026-12-11_09-30-05", a second visit in the same second
// "…_2"), holding a file that says when it began.
bool StartVisit(const std::string& siteFolder, std::chrono::system_clock::time_point t,
                TVisit& visit, std::string& error);
// The site's latest visit; false and why when it has none or it cannot be read.
bool LastVisit(const std::string& siteFolder, TVisit& visit, std::string& error);
// Reads a visit's folder.
bool ReadVisit(const std::string& visitFolder, TVisit& visit, std::string& error);

// The set file of a device's "as found" values in a visit.
std::string FoundSetPath(const TVisit& visit, const TSiteDevice& device);
// Keeps what a device answered to the check as its "as found" values, unless the visit
// already has them (a device checked again in the same visit keeps its first answers).
// protocol: the line's version as the channel takes it.
bool SaveFound(const TVisit& visit, const TSiteDevice& device, uint8_t protocol,
               std::vector<TParamEntry> entries, std::string& error);
// A device's "as found" values; none (and no error) when the visit has none for it.
bool ReadFound(const TVisit& visit, const TSiteDevice& device, std::optional<TParamSet>& found,
               std::string& error);

} // namespace tunavox
