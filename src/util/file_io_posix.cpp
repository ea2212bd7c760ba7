#include "util/file_io.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "util/system_error.h"

namespace tunavox {

bool ReadFileBytes(const std::string& path, std::string& bytes, std::string& error,
                   size_t maxBytes) {
    bytes.clear();
    // Without blocking: opening a FIFO must not wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        error = SystemErrorText(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = S_ISDIR(st.st_mode) ? SystemErrorText(EISDIR) : "это не обычный файл";
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
            error = SystemErrorText(errno);
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

namespace {

// The folder of a path ("." for a bare name).
std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a link points to, or the path itself.
bool ResolveLink(const std::string& linkOrPath, std::string& path, std::string& error) {
    path = linkOrPath;
    struct stat link {};
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        char* real = ::realpath(path.c_str(), nullptr);
        if (!real) {
            error = SystemErrorText(errno);
            return false;
        }
        path = real;
        std::free(real);
    }
    return true;
}

// A new file with a unique name beside path, created exclusively: an existing file or
// link of that name is never opened. Mode 0600 until changed.
int CreateTemporaryBeside(const std::string& path, std::string& tmp) {
    tmp = path + ".tmp-XXXXXX";
    return ::mkostemp(tmp.data(), O_CLOEXEC);
}

bool SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL; // some file systems cannot
    ::close(fd);
    return ok;
}

// Resolves linkOrPath to the file to replace (which must be a regular file if it
// exists) and creates the temporary file beside it; the descriptor, or -1 with the
// reason. had and st tell whether the file existed and what it was.
int BeginReplace(const std::string& linkOrPath, std::string& path, std::string& tmp, bool& had,
                 struct stat& st, std::string& error) {
    if (!ResolveLink(linkOrPath, path, error)) return -1;
    had = ::stat(path.c_str(), &st) == 0;
    if (had && !S_ISREG(st.st_mode)) {
        error = S_ISDIR(st.st_mode) ? SystemErrorText(EISDIR) : "это не обычный файл";
        return -1;
    }
    const int fd = CreateTemporaryBeside(path, tmp);
    if (fd < 0) error = SystemErrorText(errno);
    return fd;
}

} // namespace

bool CheckReplaceable(const std::string& linkOrPath, std::string& error) {
    // The one sure test of the folder: create a file there and remove it again.
    std::string path, tmp;
    bool had = false;
    struct stat st {};
    const int fd = BeginReplace(linkOrPath, path, tmp, had, st, error);
    if (fd < 0) return false;
    ::close(fd);
    ::unlink(tmp.c_str());
    return true;
}

bool ReplaceFileBytes(const std::string& linkOrPath, const std::string& bytes, std::string& error,
                      int mode, bool* placed,
                      const std::function<bool(std::string&)>& beforePlace) {
    if (placed) *placed = false;
    // Through a symbolic link the file it points to is replaced, not the link.
    std::string path, tmp;
    bool had = false;
    struct stat st {};
    const int fd = BeginReplace(linkOrPath, path, tmp, had, st, error);
    if (fd < 0) return false;
    const auto fail = [&](int code) {
        error = SystemErrorText(code);
        ::close(fd);
        ::unlink(tmp.c_str());
        return false;
    };
    const mode_t wanted = mode >= 0 ? static_cast<mode_t>(mode) : had ? (st.st_mode & 07777) : 0644;
    if (::fchmod(fd, wanted) != 0) return fail(errno);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(errno);
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0) return fail(errno);
    if (::close(fd) != 0) {
        error = SystemErrorText(errno);
        ::unlink(tmp.c_str());
        return false;
    }
    if (beforePlace && !beforePlace(error)) {
        ::unlink(tmp.c_str());
        return false;
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        error = SystemErrorText(errno);
        ::unlink(tmp.c_str());
        return false;
    }
    if (placed) *placed = true;
    // The rename itself is on the disk only once the folder is.
    if (!SyncFolder(FolderOf(path))) {
        error = SystemErrorText(errno);
        return false;
    }
    return true;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
    if (fd < 0) {
        error = SystemErrorText(errno);
        return false;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = SystemErrorText(n < 0 ? errno : ENOSPC);
            ::close(fd);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0) {
        error = SystemErrorText(errno);
        return false;
    }
    return true;
}

TPathKind PathKind(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return TPathKind::Missing;
    return S_ISREG(st.st_mode)   ? TPathKind::File
           : S_ISDIR(st.st_mode) ? TPathKind::Folder
                                 : TPathKind::Other;
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return names;
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

} // namespace tunavox
