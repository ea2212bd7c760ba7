#pragma once
// Loopback sockets for the network port's tests (POSIX).
#include <cstdint>
#include <string>

namespace tunavox::test {

// A TCP listener on a free port of 127.0.0.1.
class LoopbackListener {
public:
    explicit LoopbackListener(int backlog = 4);
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;
    int Fd() const { return fd_; }
    uint16_t Port() const { return port_; }
    std::string Address(const std::string& scheme = "tcp") const;

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

// A loopback address whose handshake is never answered: a listener whose queue is full.
class SilentAddress {
public:
    SilentAddress();
    ~SilentAddress();
    std::string Address() const { return listener_.Address(); }

private:
    LoopbackListener listener_{0};
    int queued_[2] = {-1, -1};
};

// A loopback port nobody listens on now.
uint16_t FreeLoopbackPort();

} // namespace tunavox::test
