#include "tcp_relay.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include "util/system_error.h"

namespace tunavox {
namespace {

// Writes everything, waiting at most a second for a slow reader; false when it failed.
bool WriteAll(int fd, const char* p, size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w > 0) {
            p += w;
            n -= static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && errno != EAGAIN) return false;
        pollfd out{fd, POLLOUT, 0};
        if (::poll(&out, 1, 1000) <= 0) return false;
    }
    return true;
}

} // namespace

TTcpRelay::~TTcpRelay() {
    Stop();
}

std::string TTcpRelay::Start(const std::string& host, uint16_t port, const std::string& device,
                             std::string& error) {
    device_ = device;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* list = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list) != 0 || !list) {
        error = "узел " + host + " не найден";
        return {};
    }
    listen_ = ::socket(list->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    if (listen_ >= 0) ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (listen_ < 0 || ::bind(listen_, list->ai_addr, list->ai_addrlen) != 0 ||
        ::listen(listen_, 4) != 0) {
        error = host + ":" + std::to_string(port) + ": " + SystemErrorText(errno);
        ::freeaddrinfo(list);
        if (listen_ >= 0) ::close(listen_);
        listen_ = -1;
        return {};
    }
    ::freeaddrinfo(list);
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&bound), &length);
    const uint16_t actual =
        ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                          : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    thread_ = std::thread([this] { Serve(); });
    const bool v6 = host.find(':') != std::string::npos;
    return "tcp://" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(actual);
}

void TTcpRelay::Stop() {
    if (thread_.joinable()) {
        stop_ = true;
        const uint64_t one = 1;
        if (::write(wake_, &one, sizeof one) < 0) {
        }
        thread_.join();
    }
    for (int* fd : {&listen_, &wake_})
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
}

void TTcpRelay::Serve() {
    int client = -1;
    while (!stop_) {
        if (client < 0) {
            pollfd fds[2] = {{listen_, POLLIN, 0}, {wake_, POLLIN, 0}};
            if (::poll(fds, 2, -1) <= 0 || fds[1].revents) continue;
            client = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (client < 0) continue;
        }
        const int one = 1;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        Relay(client);
        ::close(client);
        client = -1;
    }
}

void TTcpRelay::Relay(int client) {
    const int line = ::open(device_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (line < 0) return;
    termios t{};
    if (::tcgetattr(line, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(line, TCSANOW, &t);
    }
    char buf[4096];
    while (!stop_) {
        pollfd fds[4] = {
            {client, POLLIN, 0}, {line, POLLIN, 0}, {listen_, POLLIN, 0}, {wake_, POLLIN, 0}};
        if (::poll(fds, 4, 500) < 0 && errno != EINTR) break;
        if (fds[3].revents) break;
        if (fds[2].revents) break; // a new client takes the line over
        if (fds[0].revents) {
            const ssize_t n = ::read(client, buf, sizeof buf);
            if (n <= 0 && !(n < 0 && (errno == EAGAIN || errno == EINTR))) break;
            if (n > 0 && !WriteAll(line, buf, static_cast<size_t>(n))) break;
        }
        if (fds[1].revents & POLLIN) {
            const ssize_t n = ::read(line, buf, sizeof buf);
            if (n > 0 && !WriteAll(client, buf, static_cast<size_t>(n))) break;
        }
    }
    ::close(line);
}

} // namespace tunavox
