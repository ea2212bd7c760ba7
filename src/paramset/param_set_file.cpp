// Set files on the disk: safe replacement, the check that a file read is still the one
// being replaced, read-only files and targets a set may not go to.
#include <chrono>
#include <filesystem>
#include <functional>

#include "device/signature.h"
#include "paramset/param_set.h"
#include "util/cp1251.h"
#include "util/file_io.h"
#include "util/os_file.h"
#include "util/program_folder.h"

namespace tunavox {

namespace {

// Temporary files of the same target that a killed writer left behind (NAME.tmp-…),
// once they are old enough not to belong to a write in progress.
void RemoveLeftovers(const std::string& path) {
    namespace fs = std::filesystem;
    const size_t slash = LastSeparator(path);
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string prefix =
        (slash == std::string::npos ? path : path.substr(slash + 1)) + ".tmp-";
    std::error_code ec;
    const auto before = fs::file_time_type::clock::now() - std::chrono::minutes(1);
    for (const std::string& name : FolderNames(folder)) {
        if (name.rfind(prefix, 0) != 0) continue;
        const fs::path leftover = FsPath(folder + (folder == "." ? "/" : "") + name);
        if (fs::is_regular_file(leftover, ec) && fs::last_write_time(leftover, ec) < before)
            fs::remove(leftover, ec);
    }
}

} // namespace

namespace {

TFileStamp StampOf(const std::string& path, const std::string& bytes) {
    TFileStamp stamp;
    std::error_code ec;
    const auto time = std::filesystem::last_write_time(FsPath(path), ec);
    if (ec) return stamp;
    stamp.Known = true;
    stamp.Path = path;
    stamp.Size = bytes.size();
    stamp.Time = static_cast<int64_t>(time.time_since_epoch().count());
    stamp.Digest = Md5Hex(bytes);
    return stamp;
}

// Why a set may not replace the file at path (a read-only file); empty when it may.
std::string ReadOnlyProblem(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status st = fs::status(FsPath(path), ec);
    if (ec || !fs::is_regular_file(st)) return {};
    if ((st.permissions() & fs::perms::owner_write) == fs::perms::none)
        return "файл только для чтения";
    return {};
}

} // namespace

TFileStamp FileStampOf(const std::string& path) {
    std::string bytes, error;
    if (!ReadFileBytes(path, bytes, error)) return {};
    return StampOf(path, bytes);
}

bool ReplaceStampedFile(const std::string& path, const std::string& bytes, TFileStamp& stamp,
                        std::string& error, bool* changedOnDisk) {
    if (changedOnDisk) *changedOnDisk = false;
    if (const std::string why = ReadOnlyProblem(path); !why.empty()) {
        error = "Не удалось записать файл " + path + ": " + why;
        return false;
    }
    // Only a file that was read is checked, and only where it was read from.
    const bool check = stamp.Known && stamp.Path == path;
    bool changed = false;
    const auto unchanged = [&](std::string& why) {
        const TFileStamp now = FileStampOf(path);
        if (!now.Known) return true; // gone: nothing of anybody's is lost
        if (now.Size == stamp.Size && now.Time == stamp.Time && now.Digest == stamp.Digest)
            return true;
        changed = true;
        why = "файл изменён другой программой после того, как был прочитан";
        return false;
    };
    // Owner only for a new file: a set may hold password registers in clear text.
    const int mode = PathKind(path) == TPathKind::File ? -1 : 0600;
    bool placed = false;
    if (ReplaceFileBytes(path, bytes, error, mode, &placed,
                         check ? std::function<bool(std::string&)>(unchanged) : nullptr)) {
        RemoveLeftovers(path);
        stamp = StampOf(path, bytes);
        return true;
    }
    if (changedOnDisk) *changedOnDisk = changed;
    error = placed ? "Файл " + path +
                         " записан, но его место в папке не сохранено на диске надёжно: " + error
                   : "Не удалось записать файл " + path + ": " + error;
    return false;
}

bool WriteParamSetFile(const std::string& path, TParamSet& set, std::string& error,
                       bool* changedOnDisk) {
    const std::string bytes = FormatParamSet(set);
    if (!ReplaceStampedFile(path, bytes, set.Stamp, error, changedOnDisk)) return false;
    // From now on the set stands for the file just written.
    TParamSet written;
    std::string ignored;
    if (ParseParamSet(bytes, written, ignored)) {
        set.Source = std::move(written.Source);
        set.Crlf = written.Crlf;
        set.Bom = written.Bom;
    }
    return true;
}

bool WriteParamSetFile(const std::string& path, const TParamSet& set, std::string& error) {
    TParamSet copy = set;
    return WriteParamSetFile(path, copy, error, nullptr);
}

bool ReadStampedFile(const std::string& path, std::string& bytes, TFileStamp& stamp,
                     std::string& error) {
    if (!ReadFileBytes(path, bytes, error)) {
        error = "Не удалось прочитать файл " + path + ": " + error;
        return false;
    }
    stamp = StampOf(path, bytes);
    return true;
}

bool ReadParamSetFile(const std::string& path, TParamSet& set, std::string& error) {
    std::string bytes;
    TFileStamp stamp;
    if (!ReadStampedFile(path, bytes, stamp, error)) return false;
    if (!ParseParamSet(bytes, set, error, path)) return false;
    set.Stamp = stamp;
    return true;
}

bool CheckParamSetTarget(const std::string& path, const std::string& descriptionPath,
                         std::string& error) {
    const size_t slash = LastSeparator(path);
    const std::string name = Utf8Upper(slash == std::string::npos ? path : path.substr(slash + 1));
    const bool isDescription = (name.rfind("NASTR", 0) == 0 && name.size() >= 9 &&
                                name.compare(name.size() - 4, 4, ".XML") == 0) ||
                               (!descriptionPath.empty() && SameFile(path, descriptionPath));
    if (isDescription) {
        error = "Файл " + path + " — файл описания устройства, параметры в него не сохраняются";
        return false;
    }
    if (const std::string why = ReadOnlyProblem(path); !why.empty()) {
        error = "Не удалось записать файл " + path + ": " + why;
        return false;
    }
    if (CheckReplaceable(path, error)) return true;
    error = "Не удалось записать файл " + path + ": " + error;
    return false;
}

} // namespace tunavox
