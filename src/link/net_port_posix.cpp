// A port behind a serial-to-Ethernet converter on POSIX: a non-blocking TCP socket in
// place of the terminal, with the same wake-up on closing.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include "link/com_port.h"

namespace tunavox {
namespace {

using Clock = std::chrono::steady_clock;

int LeftMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
}

std::string ConnectWords(int code) {
    switch (code) {
    case ECONNREFUSED:
        return "соединение отклонено (на этом порту узла нет сервера)";
    case ETIMEDOUT:
        return "узел не ответил за " + std::to_string(kConnectTimeoutMs / 1000) + " с";
    case EHOSTUNREACH:
    case ENETUNREACH:
        return "узел недоступен";
    default:
        return std::strerror(code);
    }
}

} // namespace

bool TMyComPort::OpenNetwork(const std::string& name, bool setup) {
    {
        std::lock_guard<std::mutex> g(lock_);
        portName_ = name;
        netError_.clear();
    }
    TNetAddress address;
    std::string why;
    if (!ParseNetAddress(name, address, why)) return NetFail(EINVAL, why);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(address.Port);
    if (::getaddrinfo(address.Host.c_str(), service.c_str(), &hints, &list) != 0 || !list)
        return NetFail(ENOENT, "узел " + address.Host + " не найден");
    // Every address of the name in turn, all within the one connecting time.
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kConnectTimeoutMs);
    int fd = -1, code = ETIMEDOUT;
    long long roundTrip = 0;
    for (const addrinfo* a = list; a && fd < 0; a = a->ai_next) {
        const int s = ::socket(a->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (s < 0) {
            code = errno;
            continue;
        }
        const Clock::time_point start = Clock::now();
        if (::connect(s, a->ai_addr, a->ai_addrlen) != 0 && errno != EINPROGRESS) {
            code = errno;
            ::close(s);
            continue;
        }
        pollfd p{s, POLLOUT, 0};
        int ready = 0;
        do {
            ready = ::poll(&p, 1, LeftMs(deadline));
        } while (ready < 0 && errno == EINTR);
        if (ready <= 0) {
            code = ETIMEDOUT;
            ::close(s);
            break;
        }
        int error = 0;
        socklen_t length = sizeof error;
        ::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &length);
        if (error != 0) {
            code = error;
            ::close(s);
            continue;
        }
        // The handshake took one round trip.
        roundTrip =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        fd = s;
    }
    ::freeaddrinfo(list);
    if (fd < 0) return NetFail(code, ConnectWords(code));
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
    const int wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake < 0) {
        const int e = errno;
        ::close(fd);
        return Fail(e);
    }
    {
        std::lock_guard<std::mutex> g(lock_);
        fd_ = fd;
        wakeFd_ = wake;
        closing_ = false;
    }
    net_ = true;
    rfc2217_ = address.Rfc2217;
    roundTripMs_ = static_cast<int>(roundTrip);
    telnetIn_ = {};
    netPending_.clear();
    txEmptyWait_ = false;
    if (rfc2217_) {
        const std::string opening = telnet::Opening();
        if (::send(fd, opening.data(), opening.size(), MSG_NOSIGNAL) < 0) {
            const int e = errno;
            Close();
            return NetFail(e, std::strerror(e));
        }
    }
    if (setup && !Setup()) {
        const int e = errorCode_;
        Close();
        errorCode_ = e;
        return false;
    }
    return true;
}

bool TMyComPort::NetApplyLineSettings() {
    // Over raw TCP the converter keeps its own settings: nothing to send.
    if (!rfc2217_) return IsOpen() ? true : Fail(kPortClosedError);
    const std::string commands = telnet::LineCommands(settings_.Line());
    return NetWrite(commands.data(), static_cast<int>(commands.size()), false) >= 0 ||
           errorCode_ == 0;
}

int TMyComPort::NetReadBuffer(void* buffer, int count) {
    TCommTimeouts t;
    int fd = -1, wake = -1;
    if (!Enter(fd, &t, &wake)) return -1;
    const bool immediate = t.ReadIntervalTimeout == kMaxDword &&
                           t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0;
    const bool firstByte =
        t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == kMaxDword;
    // The network's round trip comes on top of the line's time.
    const uint64_t totalMs = (firstByte ? t.ReadTotalTimeoutConstant
                                        : uint64_t{t.ReadTotalTimeoutMultiplier} *
                                                  static_cast<uint64_t>(std::max(count, 0)) +
                                              t.ReadTotalTimeoutConstant) +
                             static_cast<uint64_t>(std::max(roundTripMs_.load(), 0));
    const bool unlimited = !immediate && !firstByte && totalMs == 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(totalMs);
    auto* p = static_cast<char*>(buffer);
    int got = 0, error = 0;
    std::string reply;
    while (got < count) {
        if (!netPending_.empty()) {
            const size_t n = std::min(netPending_.size(), static_cast<size_t>(count - got));
            std::memcpy(p + got, netPending_.data(), n);
            netPending_.erase(0, n);
            got += static_cast<int>(n);
            continue;
        }
        char chunk[4096];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n > 0) {
            if (rfc2217_)
                telnetIn_.Feed(std::string_view(chunk, static_cast<size_t>(n)), netPending_, reply);
            else
                netPending_.append(chunk, static_cast<size_t>(n));
            if (!reply.empty()) {
                ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
                reply.clear();
            }
            continue;
        }
        if (n == 0) {
            error = ECONNRESET; // the server closed the connection: the line is lost
            break;
        }
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            error = errno;
            break;
        }
        const bool stopNow = immediate || (firstByte && got > 0);
        if (stopNow) break;
        const int wait = unlimited ? -1 : LeftMs(deadline);
        if (!unlimited && wait == 0) break;
        pollfd fds[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
        if (::poll(fds, 2, wait) < 0 && errno != EINTR) {
            error = errno;
            break;
        }
        if (fds[1].revents) {
            error = kPortClosedError;
            break;
        }
    }
    Leave();
    if (error != 0) {
        if (error == kPortClosedError)
            Fail(error);
        else
            NetFail(error, "соединение с сетевым портом разорвано");
        return -1;
    }
    return got;
}

int TMyComPort::NetWrite(const void* buffer, int count, bool wait) {
    TCommTimeouts t;
    int fd = -1, wake = -1;
    if (!Enter(fd, &t, &wake)) return -1;
    const std::string_view data(static_cast<const char*>(buffer),
                                static_cast<size_t>(std::max(count, 0)));
    // Data to a Telnet server has its IAC bytes doubled; commands go as they are.
    const bool command =
        rfc2217_ && !data.empty() && static_cast<unsigned char>(data.front()) == telnet::kIac;
    const std::string bytes = rfc2217_ && !command ? telnet::Escape(data) : std::string(data);
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(uint64_t{t.WriteTotalTimeoutMultiplier} *
                                                     static_cast<uint64_t>(bytes.size()) +
                                                 t.WriteTotalTimeoutConstant + kConnectTimeoutMs);
    size_t done = 0;
    int error = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            error = errno;
            break;
        }
        const int left = LeftMs(deadline);
        if (left == 0) {
            error = ETIMEDOUT;
            break;
        }
        pollfd fds[2] = {{fd, POLLOUT, 0}, {wake, POLLIN, 0}};
        ::poll(fds, 2, left);
        if (fds[1].revents) {
            error = kPortClosedError;
            break;
        }
    }
    Leave();
    if (error != 0) {
        if (error == kPortClosedError)
            Fail(error);
        else
            NetFail(error, "соединение с сетевым портом разорвано");
        return -1;
    }
    // When the bytes leave the converter's line is not told: their line time is waited.
    if (wait && !command) WaitSent(count);
    return count;
}

bool TMyComPort::NetPurge() {
    int fd = -1;
    if (!Enter(fd)) return false;
    // What has arrived and not been read is dropped, as a purge drops a UART's buffer.
    char chunk[4096];
    std::string data, reply;
    bool lost = false;
    for (;;) {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n > 0) {
            if (rfc2217_)
                telnetIn_.Feed(std::string_view(chunk, static_cast<size_t>(n)), data, reply);
            continue;
        }
        lost = n == 0;
        break;
    }
    netPending_.clear();
    if (!reply.empty()) ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    Leave();
    if (lost) return NetFail(ECONNRESET, "соединение с сетевым портом разорвано");
    return true;
}

} // namespace tunavox
