// The simulator's line on POSIX: a pseudo-terminal of its own, or a serial port.
#include <cerrno>
#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <string_view>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "link/com_port.h"
#include "sim/simulator.h"
#include "util/system_error.h"

namespace tunavox {
namespace {

void MakeRaw(int fd) {
    struct termios t {};
    if (tcgetattr(fd, &t) != 0) return;
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
}

} // namespace

std::string TDeviceSimulator::StartPty(const std::string& link, std::string& error) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        error = std::string("не удалось создать псевдотерминал: ") + SystemErrorText(errno);
        if (master >= 0) close(master);
        return {};
    }
    const std::string slave = ptsname(master);
    MakeRaw(master);
    keepFd_ = open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (keepFd_ >= 0) MakeRaw(keepFd_);
    if (!link.empty()) {
        // Only a link to a pseudo-terminal (left by an earlier run) may be replaced.
        struct stat st {};
        if (lstat(link.c_str(), &st) == 0) {
            char target[256] = {};
            const bool ours = S_ISLNK(st.st_mode) &&
                              readlink(link.c_str(), target, sizeof target - 1) > 0 &&
                              std::string_view(target).rfind("/dev/pts/", 0) == 0;
            if (!ours || unlink(link.c_str()) != 0) {
                error = "путь " + link + " уже существует и не является ссылкой на псевдотерминал";
                close(master);
                if (keepFd_ >= 0) close(keepFd_);
                keepFd_ = -1;
                return {};
            }
        }
        if (symlink(slave.c_str(), link.c_str()) != 0) {
            error = "не удалось создать ссылку " + link + ": " + SystemErrorText(errno);
            close(master);
            if (keepFd_ >= 0) close(keepFd_);
            keepFd_ = -1;
            return {};
        }
        link_ = link;
        linkTarget_ = slave;
    }
    // Writes to the line never block: a client that does not read cannot stall us.
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fd_ = master;
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    thread_ = std::thread([this] { Serve(); });
    return slave;
}

bool TDeviceSimulator::StartPort(const std::string& device, std::string& error) {
    auto port = std::make_unique<TMyComPort>();
    const TLineSettings& l = options_.Line;
    port->SetLine(l.BaudRate, l.ByteSize, l.Parity, l.StopBits, false);
    if (!port->Open(device, true)) {
        error = port->ErrorText();
        return false;
    }
    // The settings stay with the device; serve it on a descriptor of our own.
    const std::string path = device[0] == '/' ? device : "/dev/" + device;
    port->Close();
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0) {
        error = SystemErrorText(errno);
        return false;
    }
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    thread_ = std::thread([this] { Serve(); });
    return true;
}

bool TDeviceSimulator::Pause(int ms) {
    if (ms <= 0) return !stop_;
    struct pollfd w = {wakeFd_, POLLIN, 0};
    return poll(&w, 1, ms) == 0 && !stop_;
}

bool TDeviceSimulator::Send(const std::string& bytes) {
    // Bounded: what the client does not take within the limit is dropped.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kWriteLimitMs);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t w = write(fd_, bytes.data() + done, bytes.size() - done);
        if (w > 0) {
            done += static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && errno != EAGAIN) return !stop_;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) return !stop_;
        struct pollfd fds[2] = {{fd_, POLLOUT, 0}, {wakeFd_, POLLIN, 0}};
        poll(fds, 2, static_cast<int>(left));
        if (fds[1].revents) return false;
    }
    return !stop_;
}

int TDeviceSimulator::ReadLine(std::string& chunk, int ms) {
    struct pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    const int r = poll(fds, 2, ms);
    if (stop_ || (r > 0 && fds[1].revents)) return -1;
    if (r <= 0) return 0;
    if (!(fds[0].revents & POLLIN)) {
        // A hung-up pseudo-terminal polls as ready at once: do not spin on it.
        return Pause(std::min(ms, 10)) ? 0 : -1;
    }
    char buf[512];
    const ssize_t n = read(fd_, buf, sizeof buf);
    if (n <= 0) return 0;
    chunk.assign(buf, static_cast<size_t>(n));
    return static_cast<int>(n);
}

void TDeviceSimulator::Stop() {
    if (thread_.joinable()) {
        stop_ = true;
        const uint64_t one = 1;
        if (write(wakeFd_, &one, sizeof one) < 0) {
        }
        thread_.join();
    }
    for (int* fd : {&fd_, &keepFd_, &wakeFd_})
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    if (!link_.empty()) {
        // Removed only while it is still the link made here.
        char target[256] = {};
        if (readlink(link_.c_str(), target, sizeof target - 1) > 0 && target == linkTarget_)
            unlink(link_.c_str());
        link_.clear();
    }
}

} // namespace tunavox
