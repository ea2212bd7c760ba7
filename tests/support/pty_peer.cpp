#include "pty_peer.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace tunavox::test {

PtyPair::PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
        throw std::runtime_error("no pseudo-terminal");
    slave_ = ::ptsname(master_);
    struct termios t {};
    ::tcgetattr(master_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(master_, TCSANOW, &t);
}

PtyPair::~PtyPair() {
    HangUp();
}

void PtyPair::HangUp() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
}

std::string PtyPair::ReadExactly(size_t count, int ms) {
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (out.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) break;
        struct pollfd p = {master_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        char buf[256];
        const ssize_t n = ::read(master_, buf, std::min(sizeof buf, count - out.size()));
        if (n > 0)
            out.append(buf, static_cast<size_t>(n));
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            break;
    }
    return out;
}

std::string PtyPair::ReadQuiet(int quietMs) {
    std::string out;
    for (;;) {
        struct pollfd p = {master_, POLLIN, 0};
        if (::poll(&p, 1, quietMs) <= 0) break;
        char buf[256];
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

void PtyPair::Write(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
}

ScriptedPeer::ScriptedPeer(PtyPair& pty, size_t requestSize, std::vector<Answer> answers)
    : pty_(pty) {
    thread_ = std::thread([this, requestSize, answers = std::move(answers)] {
        for (const Answer& answer : answers) {
            const std::string request = pty_.ReadExactly(requestSize, 5000);
            if (request.empty()) return;
            requests_.push_back(request);
            for (const Chunk& c : answer) {
                if (c.delayMs > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(c.delayMs));
                pty_.Write(c.bytes);
            }
        }
    });
}

ScriptedPeer::~ScriptedPeer() {
    if (thread_.joinable()) thread_.join();
}

std::vector<std::string> ScriptedPeer::Requests() {
    if (thread_.joinable()) thread_.join();
    return requests_;
}

} // namespace tunavox::test
