#include "link/com_port.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "link/custom_baud.h"

namespace tunavox {
namespace {

using Clock = std::chrono::steady_clock;

bool StandardSpeed(uint32_t baud, speed_t& speed) {
    static const std::pair<uint32_t, speed_t> kSpeeds[] = {
        {0, B0},
        {50, B50},
        {75, B75},
        {110, B110},
        {134, B134},
        {150, B150},
        {200, B200},
        {300, B300},
        {600, B600},
        {1200, B1200},
        {1800, B1800},
        {2400, B2400},
        {4800, B4800},
        {9600, B9600},
        {19200, B19200},
        {38400, B38400},
        {57600, B57600},
        {115200, B115200},
        {230400, B230400},
        {460800, B460800},
        {500000, B500000},
        {576000, B576000},
        {921600, B921600},
        {1000000, B1000000},
        {1152000, B1152000},
        {1500000, B1500000},
        {2000000, B2000000},
    };
    for (const auto& [b, s] : kSpeeds)
        if (b == baud) {
            speed = s;
            return true;
        }
    return false;
}

int RemainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

// Natural order: the name's letters, then its number (ttyS2 before ttyS10).
bool NaturalLess(const std::string& a, const std::string& b) {
    auto split = [](const std::string& s) {
        size_t i = s.size();
        while (i > 0 && std::isdigit(static_cast<unsigned char>(s[i - 1])))
            --i;
        const long n = i < s.size() ? std::stol(s.substr(i)) : -1;
        return std::make_pair(s.substr(0, i), n);
    };
    return split(a) < split(b);
}

} // namespace

bool IsPortLostError(int code) {
    // A hang-up reads as EIO (see ReadBuffer); a network port's connection ends as reset,
    // or times out when the path to the converter is gone.
    return code == EIO || code == ENXIO || code == ENODEV || code == ECONNRESET || code == EPIPE ||
           code == ENOTCONN || code == ECONNABORTED || code == ETIMEDOUT ||
           code == EHOSTUNREACH || code == ENETUNREACH || code == ENETDOWN;
}

bool FillTermios(const TMyDCB& dcb, struct termios& t) {
    const TLineSettings& s = dcb.Line();
    ::cfmakeraw(&t);
    t.c_cflag &=
        ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | HUPCL);
    t.c_cflag |= CLOCAL | CREAD;
    switch (s.ByteSize) {
    case 5:
        t.c_cflag |= CS5;
        break;
    case 6:
        t.c_cflag |= CS6;
        break;
    case 7:
        t.c_cflag |= CS7;
        break;
    default:
        t.c_cflag |= CS8;
        break;
    }
    switch (s.Parity) {
    case parOdd:
        t.c_cflag |= PARENB | PARODD;
        break;
    case parEven:
        t.c_cflag |= PARENB;
        break;
    case parMark:
        t.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case parSpace:
        t.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        break;
    }
    if (s.StopBits != sbOne) t.c_cflag |= CSTOPB;
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    speed_t speed = B38400;
    const bool standard = StandardSpeed(s.BaudRate, speed);
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    return standard;
}

bool TMyComPort::Enter(int& fd, TCommTimeouts* applied, int* wake) {
    std::lock_guard<std::mutex> g(lock_);
    if (fd_ < 0 || closing_) return Fail(kPortClosedError);
    fd = fd_;
    if (applied) *applied = applied_;
    if (wake) *wake = wakeFd_;
    ++users_;
    return true;
}

bool TMyComPort::IsOpen() const {
    std::lock_guard<std::mutex> g(lock_);
    return fd_ >= 0;
}

int TMyComPort::Handle() const {
    std::lock_guard<std::mutex> g(lock_);
    return fd_;
}

bool TMyComPort::Open(const std::string& name, bool setup) {
    net_ = false;
    rfc2217_ = false;
    roundTripMs_ = -1;
    if (IsNetworkPortName(name)) return OpenNetwork(name, setup);
    const std::string path = !name.empty() && name[0] == '/' ? name : "/dev/" + name;
    {
        std::lock_guard<std::mutex> g(lock_);
        portName_ = name.rfind("/dev/", 0) == 0 ? name.substr(5) : name;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Fail(errno);
    if (!::isatty(fd)) {
        ::close(fd);
        return Fail(ENOTTY);
    }
    // The advisory lock keeps out a second copy of this program, even one with the
    // rights to override TIOCEXCL; TIOCEXCL keeps out other users. The flag belongs
    // to the line, not to this descriptor: it is set only once the line is ours and
    // cleared before closing, or the next opening by a normal user fails as busy.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return Fail(EBUSY);
    }
    ::ioctl(fd, TIOCEXCL);
    // A USB adapter's driver that holds back short answers (ftdi_sio's latency timer)
    // passes them on at once for a port asked for low latency; other ttys refuse it.
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) == 0 && !(serial.flags & ASYNC_LOW_LATENCY)) {
        serial.flags |= ASYNC_LOW_LATENCY;
        ::ioctl(fd, TIOCSSERIAL, &serial);
    }
    const int wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake < 0) {
        const int e = errno;
        ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        return Fail(e);
    }
    {
        std::lock_guard<std::mutex> g(lock_);
        fd_ = fd;
        wakeFd_ = wake;
        closing_ = false;
    }
    if (setup && !Setup()) {
        const int code = errorCode_;
        Close();
        errorCode_ = code;
        return false;
    }
    txEmptyWait_ = true;
    return true;
}

bool TMyComPort::Close() {
    std::unique_lock<std::mutex> lk(lock_);
    if (fd_ < 0) return true;
    closing_ = true;
    const uint64_t one = 1;
    if (::write(wakeFd_, &one, sizeof one) < 0) {
        // the counter cannot overflow here; nothing to do
    }
    idle_.wait(lk, [this] { return users_ == 0; });
    if (net_) {
        ::shutdown(fd_, SHUT_RDWR);
    } else {
        ::tcflush(fd_, TCIOFLUSH);
        ::ioctl(fd_, TIOCNXCL);
    }
    ::close(fd_);
    ::close(wakeFd_);
    fd_ = -1;
    wakeFd_ = -1;
    closing_ = false;
    txEmptyWait_ = false;
    return true;
}

bool TMyComPort::Setup() {
    // The driver's queue sizes are its own on this system; nothing to set for them.
    return ApplyLineSettings() && ApplyTimeouts();
}

bool TMyComPort::ApplyLineSettings() {
    if (net_) return NetApplyLineSettings();
    int fd = -1;
    if (!Enter(fd)) return false;
    struct termios t {};
    bool ok = ::tcgetattr(fd, &t) == 0;
    int code = errno;
    if (ok) {
        const bool standard = FillTermios(settings_, t);
        // TCSADRAIN: whatever was written under the old settings goes out under them.
        ok = ::tcsetattr(fd, TCSADRAIN, &t) == 0;
        code = errno;
        if (ok && !standard) {
            code = SetCustomBaud(fd, settings_.BaudRate());
            ok = code == 0;
        }
        if (ok) {
            // Modem lines: held inactive unless the record asks for them. Ports without
            // modem lines (pseudo-terminals) refuse this, which is fine.
            int dtr = TIOCM_DTR, rts = TIOCM_RTS;
            ::ioctl(fd, settings_.DtrControl() == 1 ? TIOCMBIS : TIOCMBIC, &dtr);
            ::ioctl(fd, settings_.RtsControl() == 1 ? TIOCMBIS : TIOCMBIC, &rts);
        }
    }
    Leave();
    return ok ? true : Fail(code);
}

bool TMyComPort::ApplyTimeouts() {
    std::lock_guard<std::mutex> g(lock_);
    if (fd_ < 0) return Fail(kPortClosedError);
    applied_ = timeouts_;
    return true;
}

int TMyComPort::ReadBuffer(void* buffer, int count) {
    if (net_) return NetReadBuffer(buffer, count);
    TCommTimeouts t;
    int fd = -1, wake = -1;
    if (!Enter(fd, &t, &wake)) return -1;
    const bool immediate = t.ReadIntervalTimeout == kMaxDword &&
                           t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0;
    const bool firstByte =
        t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == kMaxDword;
    const uint64_t totalMs = firstByte ? t.ReadTotalTimeoutConstant
                                       : uint64_t{t.ReadTotalTimeoutMultiplier} *
                                                 static_cast<uint64_t>(std::max(count, 0)) +
                                             t.ReadTotalTimeoutConstant;
    const bool unlimited = !immediate && !firstByte && totalMs == 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(totalMs);
    auto* p = static_cast<char*>(buffer);
    int got = 0, error = 0;
    while (got < count) {
        const ssize_t n = ::read(fd, p + got, static_cast<size_t>(count - got));
        if (n > 0) {
            got += static_cast<int>(n);
            continue;
        }
        // In raw mode with no minimum count, a read without data returns 0.
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) {
            error = errno;
            break;
        }
        // Nothing there now. Even a read that returns at once looks for a hang-up, so
        // a dead line fails instead of reading as silence for ever.
        const bool stopNow = immediate || (firstByte && got > 0);
        const int wait = stopNow ? 0 : unlimited ? -1 : RemainingMs(deadline);
        if (!stopNow && !unlimited && wait == 0) break;
        struct pollfd fds[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
        if (::poll(fds, 2, wait) < 0 && errno != EINTR) {
            error = errno;
            break;
        }
        if (fds[1].revents) {
            error = kPortClosedError;
            break;
        }
        if (fds[0].revents & (POLLHUP | POLLERR)) {
            // The other side hung up: what is still queued is read, then the read fails.
            const ssize_t rest = ::read(fd, p + got, static_cast<size_t>(count - got));
            if (rest > 0) {
                got += static_cast<int>(rest);
                continue;
            }
            if (got == 0) error = EIO;
            break;
        }
        if (stopNow) break;
    }
    Leave();
    if (error != 0) {
        Fail(error);
        return -1;
    }
    return got;
}

bool TMyComPort::WaitReadable(int ms) {
    if (net_) return NetWaitReadable(ms);
    int fd = -1, wake = -1;
    if (!Enter(fd, nullptr, &wake)) return false;
    struct pollfd fds[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
    const int r = ::poll(fds, 2, ms);
    Leave();
    return r > 0 && (fds[0].revents & POLLIN) && !fds[1].revents;
}

int TMyComPort::Write(const void* buffer, int count, bool wait) {
    if (net_) return NetWrite(buffer, count, wait);
    TCommTimeouts t;
    int fd = -1, wake = -1;
    if (!Enter(fd, &t, &wake)) return -1;
    const uint64_t totalMs =
        uint64_t{t.WriteTotalTimeoutMultiplier} * static_cast<uint64_t>(std::max(count, 0)) +
        t.WriteTotalTimeoutConstant;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(totalMs);
    const auto* p = static_cast<const char*>(buffer);
    int done = 0, error = 0;
    while (done < count) {
        const ssize_t n = ::write(fd, p + done, static_cast<size_t>(count - done));
        if (n > 0) {
            done += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) {
            error = errno;
            break;
        }
        const int left = totalMs == 0 ? -1 : RemainingMs(deadline);
        if (left == 0) break; // time-out: report what went out
        struct pollfd fds[2] = {{fd, POLLOUT, 0}, {wake, POLLIN, 0}};
        ::poll(fds, 2, left);
        if (fds[1].revents) {
            error = kPortClosedError;
            break;
        }
    }
    if (error == 0 && wait && done > 0) {
        if (txEmptyWait_)
            DrainOutput(fd, wake, done);
        else
            WaitSent(done);
    }
    Leave();
    if (error != 0) {
        Fail(error);
        return -1;
    }
    return done;
}

bool TMyComPort::DrainOutput(int fd, int wake, int count) {
    // Wait for the driver's queue to empty in small steps, so that closing the port
    // is not held up; then let tcdrain see the last bytes through the UART.
    const double charMs = CharTime();
    const auto limit =
        Clock::now() + std::chrono::milliseconds(1000 + static_cast<long long>(4 * charMs * count));
    for (;;) {
        int queued = 0;
        if (::ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0) break;
        if (Clock::now() >= limit) return false;
        const int step = std::clamp(static_cast<int>(std::ceil(queued * charMs)), 1, 50);
        struct pollfd w = {wake, POLLIN, 0};
        if (::poll(&w, 1, step) > 0) return false;
    }
    ::tcdrain(fd);
    return true;
}

bool TMyComPort::Purge() {
    if (net_) return NetPurge();
    int fd = -1;
    if (!Enter(fd)) return false;
    const bool ok = ::tcflush(fd, TCIOFLUSH) == 0;
    const int code = errno;
    Leave();
    return ok ? true : Fail(code);
}

bool ListComPorts(std::string& out, bool withNames, const std::string& sysRoot) {
    out.clear();
    DIR* dir = ::opendir(sysRoot.c_str());
    if (!dir) return false;
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        const std::string base = sysRoot + "/" + name;
        if (::access((base + "/device").c_str(), F_OK) != 0) continue; // virtual consoles, ptmx
        if (name.rfind("ttyS", 0) == 0) {
            // Legacy 8250 entries exist whether or not a UART answers; type 0 means none.
            std::ifstream type(base + "/type");
            int t = -1;
            if (type >> t && t == 0) continue;
        }
        names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end(), NaturalLess);
    for (const std::string& name : names) {
        if (withNames) {
            std::string driver;
            char link[512];
            const ssize_t n = ::readlink((sysRoot + "/" + name + "/device/driver").c_str(), link,
                                         sizeof link - 1);
            if (n > 0) {
                driver.assign(link, static_cast<size_t>(n));
                driver = driver.substr(driver.find_last_of('/') + 1);
            }
            out += (driver.empty() ? name : driver) + "=";
        }
        out += name + "\r\n";
    }
    return true;
}

} // namespace tunavox
