#include "util/file_io.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tunavox {

bool ReadFileBytes(const std::string& path, std::string& bytes, std::string& error,
                   size_t maxBytes) {
    bytes.clear();
    // Without blocking: opening a FIFO must not wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "это не обычный файл";
        ::close(fd);
        return false;
    }
    const auto tooLarge = [&] {
        error = "файл больше " + std::to_string(maxBytes >> 20) + " МБ";
        ::close(fd);
        return false;
    };
    if (static_cast<uint64_t>(st.st_size) > maxBytes) return tooLarge();
    if (st.st_size > 0) bytes.reserve(static_cast<size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = std::strerror(errno);
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        // The file may grow while it is read.
        if (bytes.size() + static_cast<size_t>(n) > maxBytes) return tooLarge();
        bytes.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return true;
}

bool ReplaceFileBytes(const std::string& linkOrPath, const std::string& bytes, std::string& error) {
    // Through a symbolic link the file it points to is replaced, not the link.
    std::string path = linkOrPath;
    struct stat link {};
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        char* real = ::realpath(path.c_str(), nullptr);
        if (!real) {
            error = std::strerror(errno);
            return false;
        }
        path = real;
        std::free(real);
    }
    const std::string tmp = path + ".tmp~";
    struct stat st {};
    const bool had = ::stat(path.c_str(), &st) == 0;
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                          had ? (st.st_mode & 07777) : 0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = std::strerror(errno);
            ::close(fd);
            ::unlink(tmp.c_str());
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        error = std::strerror(errno);
        ::unlink(tmp.c_str());
        return false;
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        error = std::strerror(errno);
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

} // namespace tunavox
