// The network port's sockets on POSIX: non-blocking, waited on with poll beside the
// port's wake-up descriptor.
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
#include "link/net_socket.h"

namespace tunavox {
namespace net {
namespace {

using Clock = std::chrono::steady_clock;

std::string ConnectWords(int code, int timeoutMs) {
    switch (code) {
    case ECONNREFUSED:
        return "соединение отклонено (на этом порту узла нет сервера)";
    case ETIMEDOUT:
        return "узел не ответил за " + std::to_string((timeoutMs + 999) / 1000) + " с";
    case EHOSTUNREACH:
    case ENETUNREACH:
        return "узел недоступен";
    default:
        return std::strerror(code);
    }
}

} // namespace

intptr_t Connect(const TNetAddress& address, int timeoutMs, long long& roundTripMs, int& code,
                 std::string& words, const std::atomic<bool>* cancel) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(address.Port);
    if (::getaddrinfo(address.Host.c_str(), service.c_str(), &hints, &list) != 0 || !list) {
        code = ENOENT;
        words = "узел " + address.Host + " не найден";
        return -1;
    }
    // Every address of the name in turn, all within the one connecting time.
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int fd = -1;
    code = ETIMEDOUT;
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
        bool cancelled = false;
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            ready = ::poll(&p, 1, static_cast<int>(std::clamp<long long>(left, 0, 50)));
            if (ready < 0 && errno == EINTR) continue;
            cancelled = ready == 0 && cancel && cancel->load();
            if (ready != 0 || cancelled || left <= 50) break;
        }
        if (cancelled) {
            ::close(s);
            ::freeaddrinfo(list);
            code = ECANCELED;
            words = kConnectCancelled;
            return -1;
        }
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
        roundTripMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        fd = s;
    }
    ::freeaddrinfo(list);
    if (fd < 0) {
        words = ConnectWords(code, timeoutMs);
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    // A dead path is told from silent devices by what TCP knows (see kDeadPathMs).
    const int idle = kKeepAliveIdleMs / 1000, interval = 1;
    const unsigned int unacknowledged = kDeadPathMs;
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &unacknowledged, sizeof unacknowledged);
    code = 0;
    return fd;
}

long Receive(intptr_t socket, char* buffer, size_t size, int& code) {
    for (;;) {
        const ssize_t n = ::recv(static_cast<int>(socket), buffer, size, MSG_DONTWAIT);
        if (n >= 0) return static_cast<long>(n);
        if (errno == EINTR) continue;
        code = errno == EAGAIN || errno == EWOULDBLOCK ? 0 : errno;
        return -1;
    }
}

long Send(intptr_t socket, const char* data, size_t size, int& code) {
    for (;;) {
        const ssize_t n = ::send(static_cast<int>(socket), data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) return static_cast<long>(n);
        if (errno == EINTR) continue;
        code = errno == EAGAIN || errno == EWOULDBLOCK ? 0 : errno;
        return -1;
    }
}

int Wait(intptr_t socket, intptr_t, intptr_t wake, bool write, int ms, int& code) {
    pollfd fds[2] = {{static_cast<int>(socket), static_cast<short>(write ? POLLOUT : POLLIN), 0},
                     {static_cast<int>(wake), POLLIN, 0}};
    const int r = ::poll(fds, 2, ms);
    if (r < 0 && errno != EINTR) {
        code = errno;
        return -2;
    }
    if (fds[1].revents) return -1;
    // A hang-up or error shows as ready: the next call tells which.
    return r > 0 ? 1 : 0;
}

int ResetCode() {
    return ECONNRESET;
}

int DeadPathCode() {
    return ETIMEDOUT;
}

} // namespace net

bool TMyComPort::AttachSocket(intptr_t socket) {
    const int wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake < 0) {
        const int e = errno;
        ::close(static_cast<int>(socket));
        return Fail(e);
    }
    std::lock_guard<std::mutex> g(lock_);
    fd_ = static_cast<int>(socket);
    wakeFd_ = wake;
    closing_ = false;
    return true;
}

bool TMyComPort::EnterSocket(intptr_t& socket, intptr_t& event, intptr_t& wake,
                             TCommTimeouts* applied) {
    int fd = -1, w = -1;
    if (!Enter(fd, applied, &w)) return false;
    socket = fd;
    event = 0;
    wake = w;
    return true;
}

} // namespace tunavox
