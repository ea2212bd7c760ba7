#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "util/os_file.h"

namespace tunavox {

std::filesystem::path FsPath(const std::string& utf8) {
    return std::filesystem::path(utf8);
}

bool TOsFile::OpenAppend(const std::string& path, bool readable, int& code) {
    Close();
    fd_ = ::open(path.c_str(),
                 (readable ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY, 0644);
    code = errno;
    return fd_ >= 0;
}

bool TOsFile::IsOpen() const {
    return fd_ >= 0;
}

void TOsFile::Close() {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
}

bool TOsFile::IsRegular() const {
    struct stat st {};
    return ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
}

bool TOsFile::Size(int64_t& size, int& code) const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        code = errno;
        return false;
    }
    size = st.st_size;
    return true;
}

long long TOsFile::ReadAt(void* buffer, size_t count, int64_t offset, int& code) const {
    for (;;) {
        const ssize_t n = ::pread(fd_, buffer, count, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        code = errno;
        return n;
    }
}

bool TOsFile::Truncate(int64_t size, int& code) {
    if (::ftruncate(fd_, static_cast<off_t>(size)) == 0) return true;
    code = errno;
    return false;
}

long long TOsFile::Append(const void* data, size_t count, int& code) {
    for (;;) {
        const ssize_t n = ::write(fd_, data, count);
        if (n < 0 && errno == EINTR) continue;
        code = errno;
        return n;
    }
}

bool TOsFile::Sync(int& code) {
    if (::fdatasync(fd_) == 0 || errno == EINVAL) return true; // some files cannot
    code = errno;
    return false;
}

bool TOsFile::Removed() const {
    struct stat st {};
    return ::fstat(fd_, &st) == 0 && st.st_nlink == 0;
}

void TOsFile::Lock() {
    while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
}

void TOsFile::Unlock() {
    ::flock(fd_, LOCK_UN);
}

} // namespace tunavox
