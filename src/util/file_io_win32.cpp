#include <windows.h>

#include <algorithm>
#include <cstdint>

#include "util/file_io.h"
#include "util/system_error.h"
#include "util/win32_text.h"

namespace tunavox {
namespace {

std::string LastErrorText() {
    return SystemErrorText(static_cast<int>(GetLastError()));
}

// A name beside path no other file has; created exclusively.
HANDLE CreateTemporaryBeside(const std::string& path, std::string& tmp) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        tmp = path + ".tmp-" + std::to_string(GetCurrentProcessId()) + "-" +
              std::to_string(GetTickCount64() % 1000000) + "-" + std::to_string(attempt);
        HANDLE h = CreateFileW(WidePath(tmp).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return h;
    }
    return INVALID_HANDLE_VALUE;
}

// The file to replace (a regular file if it exists) and the temporary file beside it.
HANDLE BeginReplace(const std::string& path, std::string& tmp, bool& had, std::string& error) {
    const TPathKind kind = PathKind(path);
    had = kind != TPathKind::Missing;
    if (kind == TPathKind::Folder) {
        error = SystemErrorText(kErrorIsFolder);
        return INVALID_HANDLE_VALUE;
    }
    if (kind == TPathKind::Other) {
        error = "это не обычный файл";
        return INVALID_HANDLE_VALUE;
    }
    HANDLE h = CreateTemporaryBeside(path, tmp);
    if (h == INVALID_HANDLE_VALUE) error = LastErrorText();
    return h;
}

} // namespace

bool ReadFileBytes(const std::string& path, std::string& bytes, std::string& error,
                   size_t maxBytes) {
    bytes.clear();
    // Devices (CON, COM1, NUL...) and pipes are refused before anything is read.
    HANDLE h = CreateFileW(WidePath(path).c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = LastErrorText();
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool disk = GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info);
    if (!disk || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = disk ? SystemErrorText(kErrorIsFolder) : "это не обычный файл";
        CloseHandle(h);
        return false;
    }
    const auto tooLarge = [&] {
        error = "файл больше " + std::to_string(maxBytes >> 20) + " МБ";
        CloseHandle(h);
        return false;
    };
    const uint64_t size = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    if (size > maxBytes) return tooLarge();
    bytes.reserve(static_cast<size_t>(size));
    char buf[65536];
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(h, buf, sizeof buf, &n, nullptr)) {
            error = LastErrorText();
            CloseHandle(h);
            return false;
        }
        if (n == 0) break;
        if (bytes.size() + n > maxBytes) return tooLarge();
        bytes.append(buf, n);
    }
    CloseHandle(h);
    return true;
}

bool CheckReplaceable(const std::string& path, std::string& error) {
    std::string tmp;
    bool had = false;
    HANDLE h = BeginReplace(path, tmp, had, error);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    DeleteFileW(WidePath(tmp).c_str());
    return true;
}

bool ReplaceFileBytes(const std::string& path, const std::string& bytes, std::string& error,
                      int /*mode*/, bool* placed,
                      const std::function<bool(std::string&)>& beforePlace) {
    if (placed) *placed = false;
    // Windows has no mode bits: the new file gets the folder's permissions.
    std::string tmp;
    bool had = false;
    HANDLE h = BeginReplace(path, tmp, had, error);
    if (h == INVALID_HANDLE_VALUE) return false;
    const auto fail = [&] {
        error = LastErrorText();
        CloseHandle(h);
        DeleteFileW(WidePath(tmp).c_str());
        return false;
    };
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD n = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
        if (!WriteFile(h, bytes.data() + done, chunk, &n, nullptr)) return fail();
        if (n == 0) {
            SetLastError(ERROR_DISK_FULL);
            return fail();
        }
        done += n;
    }
    if (!FlushFileBuffers(h)) return fail();
    CloseHandle(h);
    if (beforePlace && !beforePlace(error)) {
        DeleteFileW(WidePath(tmp).c_str());
        return false;
    }
    // The rename reaches the disk before the call returns.
    if (!MoveFileExW(WidePath(tmp).c_str(), WidePath(path).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = LastErrorText();
        DeleteFileW(WidePath(tmp).c_str());
        return false;
    }
    if (placed) *placed = true;
    return true;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes, std::string& error) {
    HANDLE h = CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        error = LastErrorText();
        return false;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD n = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
        if (!WriteFile(h, bytes.data() + done, chunk, &n, nullptr) || n == 0) {
            error =
                n == 0 && GetLastError() == 0 ? SystemErrorText(kErrorNoSpace) : LastErrorText();
            CloseHandle(h);
            return false;
        }
        done += n;
    }
    CloseHandle(h);
    return true;
}

TPathKind PathKind(const std::string& path) {
    const DWORD a = GetFileAttributesW(WidePath(path).c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return TPathKind::Missing;
    if (a & FILE_ATTRIBUTE_DIRECTORY) return TPathKind::Folder;
    // Device names (COM1, NUL, CON...) answer with attributes too.
    HANDLE h = CreateFileW(WidePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return TPathKind::File;
    const bool disk = GetFileType(h) == FILE_TYPE_DISK;
    CloseHandle(h);
    return disk ? TPathKind::File : TPathKind::Other;
}

bool SameFile(const std::string& a, const std::string& b) {
    BY_HANDLE_FILE_INFORMATION ia{}, ib{};
    const auto info = [](const std::string& p, BY_HANDLE_FILE_INFORMATION& out) {
        HANDLE h = CreateFileW(WidePath(p).c_str(), 0,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE) return false;
        const bool ok = GetFileInformationByHandle(h, &out);
        CloseHandle(h);
        return ok != 0;
    };
    return info(a, ia) && info(b, ib) && ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
           ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    std::string pattern = folder.empty() ? std::string("./") : folder;
    if (pattern.back() != '/' && pattern.back() != '\\') pattern += '/';
    WIN32_FIND_DATAW data{};
    HANDLE find = FindFirstFileW(WidePath(pattern + "*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string name = Narrow(data.cFileName);
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

} // namespace tunavox
