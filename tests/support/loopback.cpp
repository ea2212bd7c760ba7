#include "loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace tunavox::test {
namespace {

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

} // namespace

LoopbackListener::LoopbackListener(int backlog) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in a = Loopback(0);
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(fd_, backlog);
    socklen_t n = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &n);
    port_ = ntohs(a.sin_port);
}

LoopbackListener::~LoopbackListener() {
    close(fd_);
}

std::string LoopbackListener::Address(const std::string& scheme) const {
    return scheme + "://127.0.0.1:" + std::to_string(port_);
}

SilentAddress::SilentAddress() {
    // With no room in the queue, a further handshake is not answered.
    const sockaddr_in a = Loopback(listener_.Port());
    for (int& s : queued_) {
        s = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

SilentAddress::~SilentAddress() {
    for (int s : queued_)
        close(s);
}

uint16_t FreeLoopbackPort() {
    return LoopbackListener().Port();
}

} // namespace tunavox::test
