#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace tunavox {

// A path of the program (UTF-8) for std::filesystem, on every system.
std::filesystem::path FsPath(const std::string& utf8);

// One file of the system opened for appending: a descriptor on POSIX, a handle on
// Windows. Others may read the file (and append to it) while it is open. Failures
// return false or -1 with the system's error code in code (SystemErrorText words it).
class TOsFile {
public:
    TOsFile() = default;
    ~TOsFile() { Close(); }
    TOsFile(const TOsFile&) = delete;
    TOsFile& operator=(const TOsFile&) = delete;

    // Creates the file or opens it as it is; every write goes to its end. With
    // readable, the file can also be read and cut short.
    bool OpenAppend(const std::string& path, bool readable, int& code);
    bool IsOpen() const;
    void Close();

    // A plain file on a disk, not a device, a pipe or a folder.
    bool IsRegular() const;
    bool Size(int64_t& size, int& code) const;
    // Bytes read at offset (fewer at the end of the file), or -1.
    long long ReadAt(void* buffer, size_t count, int64_t offset, int& code) const;
    bool Truncate(int64_t size, int& code);
    // Bytes appended (0 when the disk takes none), or -1.
    long long Append(const void* data, size_t count, int& code);
    // The written data on the disk before returning.
    bool Sync(int& code);
    // Removed from its folder while open (POSIX only: Windows refuses to remove it).
    bool Removed() const;
    // Whole-file lock between processes; waits for another holder.
    void Lock();
    void Unlock();

private:
#ifdef _WIN32
    void* handle_ = reinterpret_cast<void*>(intptr_t{-1});
#else
    int fd_ = -1;
#endif
};

// Where the file's last whole line (ended by CR LF) ends: the size to cut a torn last
// line back to; 0 when there is none, -1 (and code) when the file cannot be read.
int64_t EndOfLastLine(const TOsFile& file, int64_t size, int& code);

} // namespace tunavox
