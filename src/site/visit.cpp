#include "site/visit.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "util/file_io.h"
#include "util/os_file.h"
#include "util/system_error.h"
#include "util/time_text.h"

namespace tunavox {
namespace {

constexpr const char* kStartedKey = "started=";

std::string VisitsPath(const std::string& siteFolder) {
    return SiteFolderFile(siteFolder, kVisitsFolder);
}

// "2026-12-11_09-30-05" from "2026-12-11 09:30:05…": a folder name every system takes.
std::string FolderNameOf(const std::string& localTime) {
    std::string name = localTime.substr(0, 19);
    for (char& c : name)
        if (c == ' ') c = '_';
        else if (c == ':') c = '-';
    return name;
}

bool IsVisitName(const std::string& name) {
    if (name.size() < 19) return false;
    for (size_t i = 0; i < 19; ++i) {
        const char c = name[i];
        const bool sep = i == 4 || i == 7 || i == 13 || i == 16;
        if (i == 10 ? c != '_' : sep ? c != '-' : (c < '0' || c > '9')) return false;
    }
    return name.size() == 19 || name[19] == '_';
}

// Orders visit names by their time, then their number within the second.
bool EarlierVisit(const std::string& a, const std::string& b) {
    const auto number = [](const std::string& n) {
        return n.size() > 20 ? std::atoi(n.c_str() + 20) : 1;
    };
    const int c = a.compare(0, 19, b, 0, 19);
    return c != 0 ? c < 0 : number(a) < number(b);
}

} // namespace

bool StartVisit(const std::string& siteFolder, std::chrono::system_clock::time_point t,
                TVisit& visit, std::string& error) {
    TVisit made;
    made.Started = LocalTimeWithOffset(t);
    made.StartedMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    const std::string base = SiteFolderFile(VisitsPath(siteFolder), FolderNameOf(made.Started));
    std::error_code ec;
    std::filesystem::create_directories(FsPath(VisitsPath(siteFolder)), ec);
    if (ec) {
        error = "Не удалось создать папку " + VisitsPath(siteFolder) + ": " +
                SystemErrorText(ec.value());
        return false;
    }
    for (int n = 1; n < 100; ++n) {
        made.Folder = n == 1 ? base : base + "_" + std::to_string(n);
        // create_directory says false when the folder was there: a visit of the same second.
        if (!std::filesystem::create_directory(FsPath(made.Folder), ec)) {
            if (ec) break;
            continue;
        }
        if (!ReplaceFileBytes(SiteFolderFile(made.Folder, kVisitFileName),
                              std::string(kStartedKey) + made.Started + "\n", error))
            return false;
        visit = made;
        return true;
    }
    error = "Не удалось создать папку посещения в " + VisitsPath(siteFolder) +
            (ec ? ": " + SystemErrorText(ec.value()) : std::string());
    return false;
}

bool ReadVisit(const std::string& visitFolder, TVisit& visit, std::string& error) {
    const std::string path = SiteFolderFile(visitFolder, kVisitFileName);
    std::string bytes;
    if (!ReadFileBytes(path, bytes, error, 4096)) return false;
    const size_t at = bytes.find(kStartedKey);
    std::string started =
        at == std::string::npos ? std::string() : bytes.substr(at + std::string(kStartedKey).size());
    started = started.substr(0, started.find_first_of("\r\n"));
    TVisit read;
    if (at != 0 || !ParseTimeWithOffset(started, read.StartedMs)) {
        error = "Файл посещения " + path + " не говорит, когда оно началось";
        return false;
    }
    read.Started = started;
    read.Folder = visitFolder;
    visit = read;
    return true;
}

bool LastVisit(const std::string& siteFolder, TVisit& visit, std::string& error) {
    std::vector<std::string> names = FolderNames(VisitsPath(siteFolder));
    names.erase(std::remove_if(names.begin(), names.end(),
                               [](const std::string& n) { return !IsVisitName(n); }),
                names.end());
    if (names.empty() || names.size() > kMaxVisits) {
        error = names.empty() ? "У объекта нет посещений: сначала проверьте его (site check)"
                              : "В папке " + VisitsPath(siteFolder) + " слишком много посещений";
        return false;
    }
    const std::string last = *std::max_element(names.begin(), names.end(), EarlierVisit);
    return ReadVisit(SiteFolderFile(VisitsPath(siteFolder), last), visit, error);
}

std::string FoundSetPath(const TVisit& visit, const TSiteDevice& device) {
    return SiteFolderFile(visit.Folder, ReferenceName(device));
}

bool SaveFound(const TVisit& visit, const TSiteDevice& device, uint8_t protocol,
               std::vector<TParamEntry> entries, std::string& error) {
    const std::string path = FoundSetPath(visit, device);
    if (PathKind(path) != TPathKind::Missing) return true;
    TParamSet set;
    set.Device = device.Type;
    set.DescriptionFile = device.Description;
    set.Sign = device.Sign;
    set.DeviceId = device.Id;
    set.Protocol = protocol;
    set.Saved = LocalTimeText(std::chrono::system_clock::now(), false);
    set.Program = ProgramVersion();
    set.Entries = std::move(entries);
    return WriteParamSetFile(path, set, error);
}

bool ReadFound(const TVisit& visit, const TSiteDevice& device, std::optional<TParamSet>& found,
               std::string& error) {
    found.reset();
    const std::string path = FoundSetPath(visit, device);
    if (PathKind(path) == TPathKind::Missing) return true;
    TParamSet set;
    if (!ReadParamSetFile(path, set, error)) return false;
    found = std::move(set);
    return true;
}

} // namespace tunavox
