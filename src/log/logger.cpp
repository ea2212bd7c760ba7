#include "log/logger.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include "util/hex_text.h"
#include "util/program_folder.h"

namespace tunavox {
namespace {

struct LocalTime {
    std::tm tm{};
    int ms = 0;
};

LocalTime Now() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    LocalTime lt;
#ifdef _WIN32
    localtime_s(&lt.tm, &t);
#else
    localtime_r(&t, &lt.tm);
#endif
    lt.ms = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000);
    return lt;
}

bool HasDriveOrShare(const std::string& p) {
    if (p.size() >= 2 && p[1] == ':' &&
        ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z')))
        return true;
    return p.rfind("\\\\", 0) == 0 || p.rfind("//", 0) == 0;
}

} // namespace

TCommonLogger::TCommonLogger(const std::string& folder, const std::string& prefix, bool active)
    : prefix_(prefix), active_(active), baseFolder_(ProgramFolder()),
      userFolder_(UserDataFolder()) {
    SetLogDir(folder);
}

TCommonLogger::~TCommonLogger() {
    CloseFile();
}

void TCommonLogger::SetActive(bool active) {
    if (active == active_) return;
    active_ = active;
    if (!active) CloseFile();
}

void TCommonLogger::SetLogDir(const std::string& path) {
    std::string dir;
    if (path.empty()) {
        dir = "/";
    } else if (path[0] == '/' || HasDriveOrShare(path)) {
        dir = path;
    } else {
        dir = baseFolder_ + (path[0] == '\\' ? path.substr(1) : path);
    }
    for (char& c : dir)
        if (c == '\\') c = '/';
    if (dir.back() != '/') dir += '/';
    logDir_ = dir;
}

void TCommonLogger::SetFileName(const std::string& path) {
    if (path == fileName_) return;
    const size_t slash = path.find_last_of("/\\");
    fileName_ = slash == std::string::npos ? path : path.substr(slash + 1);
    SetLogDir(slash == std::string::npos ? std::string() : path.substr(0, slash + 1));
}

bool TCommonLogger::NewFile() {
    CloseFile();
    written_ = 0;
    std::string name = fileName_;
    if (name.empty()) {
        const LocalTime t = Now();
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.4d.%.2d.%.2d_%.2d.%.2d.%.2d", t.tm.tm_year + 1900,
                      t.tm.tm_mon + 1, t.tm.tm_mday, t.tm.tm_hour, t.tm.tm_min, t.tm.tm_sec);
        name = prefix_ + buf + extension_;
    }
    std::error_code ec;
    // A folder inside the program's that cannot be written (a program under "Program
    // Files"): the same folder under the user's data folder.
    if (logDir_.rfind(baseFolder_, 0) == 0 && !baseFolder_.empty())
        logDir_ =
            WritableProgramSubfolder(logDir_.substr(baseFolder_.size()), baseFolder_, userFolder_);
    const std::filesystem::path dir = FsPath(logDir_);
    if (!std::filesystem::is_directory(dir, ec)) {
        std::filesystem::create_directories(dir, ec);
        if (ec || !std::filesystem::is_directory(dir, ec)) return false;
    }
    const std::string full = logDir_ + name;
    int code = 0;
    if (!file_.OpenAppend(full, false, code)) return false;
    if (OnFileOpened) OnFileOpened(*this, full);
    return true;
}

void TCommonLogger::CloseFile() {
    if (!file_.IsOpen()) return;
    file_.Close();
    written_ = 0;
}

void TCommonLogger::WriteRaw(std::string_view text) {
    if (!file_.IsOpen() || (maxFileSize_ > 0 && written_ >= static_cast<uint64_t>(maxFileSize_)))
        if (!NewFile()) return;
    size_t done = 0;
    while (done < text.size()) {
        int code = 0;
        const long long n = file_.Append(text.data() + done, text.size() - done, code);
        if (n <= 0) break; // lost, silently; still counted below
        done += static_cast<size_t>(n);
    }
    written_ += text.size();
}

std::string TCommonLogger::Stamp() const {
    const LocalTime t = Now();
    char buf[64];
    if (fullDate_)
        std::snprintf(buf, sizeof buf, "%.2d.%.2d.%.4d %.2d:%.2d:%.2d.%.3d", t.tm.tm_mday,
                      t.tm.tm_mon + 1, t.tm.tm_year + 1900, t.tm.tm_hour, t.tm.tm_min, t.tm.tm_sec,
                      t.ms);
    else
        std::snprintf(buf, sizeof buf, "%.2d:%.2d:%.2d.%.3d", t.tm.tm_hour, t.tm.tm_min,
                      t.tm.tm_sec, t.ms);
    return buf;
}

std::string TCommonLogger::LengthField(size_t count) const {
    if (!showLength_) return {};
    const std::string digits = std::to_string(count);
    std::string field = "[" + digits + "] ";
    if (digits.size() == 1)
        field += "  ";
    else if (digits.size() == 2)
        field += " ";
    return field;
}

void TCommonLogger::LogData(std::string_view bytes, bool outgoing, const std::string& tag) {
    if (!active_) return;
    WriteRaw(Stamp() + (outgoing ? " >> " : " << ") + LengthField(bytes.size()) + tag +
             HexBytes(bytes) + "\r\n");
}

void TCommonLogger::LogMarked(std::string_view bytes, const std::string& marker,
                              const std::string& tag) {
    if (!active_) return;
    WriteRaw(Stamp() + " " + marker + " " + LengthField(bytes.size()) + tag + HexBytes(bytes) +
             "\r\n");
}

void TCommonLogger::LogBuffer(const void* data, size_t count, bool outgoing,
                              const std::string& tag) {
    LogData(std::string_view(static_cast<const char*>(data), count), outgoing, tag);
}

void TCommonLogger::LogText(const std::string& text, bool stamped, const std::string& tag) {
    if (!active_) return;
    if (text.empty()) {
        WriteRaw("\r\n");
        return;
    }
    std::string line;
    if (stamped) line += Stamp() + " ";
    if (!tag.empty()) line += tag + " ";
    WriteRaw(line + text + "\r\n");
}

void TCommonLogger::LogFormat(const std::string& format, const std::vector<std::string>& args,
                              bool stamped, const std::string& tag) {
    std::string out;
    size_t next = 0;
    bool fits = true;
    for (size_t i = 0; i < format.size() && fits; ++i) {
        if (format[i] != '%') {
            out += format[i];
            continue;
        }
        const char conversion = i + 1 < format.size() ? format[i + 1] : '\0';
        if (conversion == '%') {
            out += '%';
        } else if ((conversion == 's' || conversion == 'd') && next < args.size()) {
            out += args[next++];
        } else {
            fits = false;
        }
        ++i;
    }
    LogText(fits ? out : format, stamped, tag);
}

std::shared_ptr<ICommonLogger> GetLogger() {
    // Created on first use; the static reference is dropped at exit, closing the file.
    static std::shared_ptr<ICommonLogger> logger =
        std::make_shared<TCommonLogger>("\\Logs", "dbg_", true);
    return logger;
}

} // namespace tunavox
