#include <windows.h>

#include "util/os_file.h"
#include "util/win32_text.h"

namespace tunavox {

std::filesystem::path FsPath(const std::string& utf8) {
    return std::filesystem::path(Widen(utf8));
}

namespace {

HANDLE H(void* h) {
    return static_cast<HANDLE>(h);
}

} // namespace

bool TOsFile::OpenAppend(const std::string& path, bool readable, int& code) {
    Close();
    // Writes go to the end through the offset "end of file" (see Append), so the
    // handle may also cut the file; others may read and append meanwhile.
    const DWORD access = FILE_APPEND_DATA | (readable ? GENERIC_READ | GENERIC_WRITE : 0);
    HANDLE h = CreateFileW(WidePath(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        code = static_cast<int>(GetLastError());
        return false;
    }
    handle_ = h;
    return true;
}

bool TOsFile::IsOpen() const {
    return H(handle_) != INVALID_HANDLE_VALUE;
}

void TOsFile::Close() {
    if (!IsOpen()) return;
    CloseHandle(H(handle_));
    handle_ = INVALID_HANDLE_VALUE;
}

bool TOsFile::IsRegular() const {
    BY_HANDLE_FILE_INFORMATION info{};
    return GetFileType(H(handle_)) == FILE_TYPE_DISK &&
           GetFileInformationByHandle(H(handle_), &info) &&
           !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool TOsFile::Size(int64_t& size, int& code) const {
    LARGE_INTEGER s{};
    if (!GetFileSizeEx(H(handle_), &s)) {
        code = static_cast<int>(GetLastError());
        return false;
    }
    size = s.QuadPart;
    return true;
}

long long TOsFile::ReadAt(void* buffer, size_t count, int64_t offset, int& code) const {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
    DWORD got = 0;
    if (!ReadFile(H(handle_), buffer, static_cast<DWORD>(count), &got, &at)) {
        const DWORD e = GetLastError();
        if (e == ERROR_HANDLE_EOF) return 0;
        code = static_cast<int>(e);
        return -1;
    }
    return got;
}

bool TOsFile::Truncate(int64_t size, int& code) {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = size;
    if (SetFileInformationByHandle(H(handle_), FileEndOfFileInfo, &end, sizeof end)) return true;
    code = static_cast<int>(GetLastError());
    return false;
}

long long TOsFile::Append(const void* data, size_t count, int& code) {
    OVERLAPPED atEnd{};
    atEnd.Offset = 0xFFFFFFFF;
    atEnd.OffsetHigh = 0xFFFFFFFF;
    DWORD done = 0;
    if (!WriteFile(H(handle_), data, static_cast<DWORD>(count), &done, &atEnd)) {
        code = static_cast<int>(GetLastError());
        return -1;
    }
    return done;
}

bool TOsFile::Sync(int& code) {
    if (FlushFileBuffers(H(handle_))) return true;
    code = static_cast<int>(GetLastError());
    return false;
}

bool TOsFile::Removed() const {
    return false;
}

void TOsFile::Lock() {
    OVERLAPPED whole{};
    LockFileEx(H(handle_), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole);
}

void TOsFile::Unlock() {
    OVERLAPPED whole{};
    UnlockFileEx(H(handle_), 0, MAXDWORD, MAXDWORD, &whole);
}

} // namespace tunavox
