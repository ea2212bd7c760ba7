// The network port's sockets on Windows: Winsock, non-blocking, each socket's readiness
// signalled on an event waited on beside the port's wake-up event.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <mutex>

#include "link/com_port.h"
#include "link/net_socket.h"
#include "util/system_error.h"

namespace tunavox {
namespace net {
namespace {

using Clock = std::chrono::steady_clock;

// TCP_MAXRT (ws2ipdef.h), which not every SDK's headers name.
constexpr int kTcpMaxRt = 5;

bool Started() {
    static std::once_flag once;
    static bool ok = false;
    std::call_once(once, [] {
        WSADATA data;
        ok = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    });
    return ok;
}

std::string ConnectWords(int code, int timeoutMs) {
    switch (code) {
    case WSAECONNREFUSED:
        return "соединение отклонено (на этом порту узла нет сервера)";
    case WSAETIMEDOUT:
        return "узел не ответил за " + std::to_string((timeoutMs + 999) / 1000) + " с";
    case WSAEHOSTUNREACH:
    case WSAENETUNREACH:
        return "узел недоступен";
    default:
        return SystemErrorText(code);
    }
}

} // namespace

intptr_t Connect(const TNetAddress& address, int timeoutMs, long long& roundTripMs, int& code,
                 std::string& words, const std::atomic<bool>* cancel) {
    if (!Started()) {
        code = WSAGetLastError();
        words = SystemErrorText(code);
        return -1;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(address.Port);
    if (getaddrinfo(address.Host.c_str(), service.c_str(), &hints, &list) != 0 || !list) {
        code = WSAHOST_NOT_FOUND;
        words = "узел " + address.Host + " не найден";
        return -1;
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    SOCKET found = INVALID_SOCKET;
    code = WSAETIMEDOUT;
    for (const addrinfo* a = list; a && found == INVALID_SOCKET; a = a->ai_next) {
        const SOCKET s = socket(a->ai_family, SOCK_STREAM, IPPROTO_TCP);
        if (s == INVALID_SOCKET) {
            code = WSAGetLastError();
            continue;
        }
        u_long nonBlocking = 1;
        ioctlsocket(s, FIONBIO, &nonBlocking);
        const Clock::time_point start = Clock::now();
        if (connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0 &&
            WSAGetLastError() != WSAEWOULDBLOCK) {
            code = WSAGetLastError();
            closesocket(s);
            continue;
        }
        fd_set writable, failed;
        int ready = 0;
        bool cancelled = false;
        for (;;) {
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            FD_SET(s, &writable);
            FD_SET(s, &failed);
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            const long long slice = std::clamp<long long>(left, 0, 50);
            timeval limit{0, static_cast<long>(slice * 1000)};
            ready = select(0, nullptr, &writable, &failed, &limit);
            cancelled = ready == 0 && cancel && cancel->load();
            if (ready != 0 || cancelled || left <= 50) break;
        }
        if (cancelled) {
            closesocket(s);
            freeaddrinfo(list);
            code = ERROR_CANCELLED;
            words = kConnectCancelled;
            return -1;
        }
        if (ready <= 0) {
            code = WSAETIMEDOUT;
            closesocket(s);
            break;
        }
        if (FD_ISSET(s, &failed)) {
            int error = 0;
            int length = sizeof error;
            getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
            code = error != 0 ? error : WSAECONNREFUSED;
            closesocket(s);
            continue;
        }
        roundTripMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        found = s;
    }
    freeaddrinfo(list);
    if (found == INVALID_SOCKET) {
        words = ConnectWords(code, timeoutMs);
        return -1;
    }
    const BOOL one = TRUE;
    setsockopt(found, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    // A dead path is told from silent devices by what TCP knows (see kDeadPathMs): the
    // longest retransmission and keep-alive probes while idle.
    const DWORD maxRetransmitS = (kDeadPathMs + 999) / 1000;
    setsockopt(found, IPPROTO_TCP, kTcpMaxRt, reinterpret_cast<const char*>(&maxRetransmitS),
               sizeof maxRetransmitS);
    tcp_keepalive keepAlive{1, kKeepAliveIdleMs, 1000};
    DWORD returned = 0;
    WSAIoctl(found, SIO_KEEPALIVE_VALS, &keepAlive, sizeof keepAlive, nullptr, 0, &returned,
             nullptr, nullptr);
    code = 0;
    return static_cast<intptr_t>(found);
}

long Receive(intptr_t socket, char* buffer, size_t size, int& code) {
    const int n = recv(static_cast<SOCKET>(socket), buffer, static_cast<int>(size), 0);
    if (n >= 0) return n;
    const int e = WSAGetLastError();
    code = e == WSAEWOULDBLOCK ? 0 : e;
    return -1;
}

long Send(intptr_t socket, const char* data, size_t size, int& code) {
    const int n = send(static_cast<SOCKET>(socket), data, static_cast<int>(size), 0);
    if (n >= 0) return n;
    const int e = WSAGetLastError();
    code = e == WSAEWOULDBLOCK ? 0 : e;
    return -1;
}

int Wait(intptr_t socket, intptr_t event, intptr_t wake, bool write, int ms, int& code) {
    // The socket's event is set by what happened since it was last looked at: looked at
    // now, so that only what comes next wakes the wait.
    const auto s = static_cast<SOCKET>(socket);
    WSAEventSelect(s, reinterpret_cast<WSAEVENT>(event), (write ? FD_WRITE : FD_READ) | FD_CLOSE);
    HANDLE events[2] = {reinterpret_cast<HANDLE>(event), reinterpret_cast<HANDLE>(wake)};
    const DWORD r =
        WaitForMultipleObjects(2, events, FALSE, ms < 0 ? INFINITE : static_cast<DWORD>(ms));
    WSANETWORKEVENTS happened{};
    WSAEnumNetworkEvents(s, reinterpret_cast<WSAEVENT>(event), &happened);
    if (r == WAIT_OBJECT_0 + 1) return -1;
    if (r == WAIT_TIMEOUT) return 0;
    if (r != WAIT_OBJECT_0) {
        code = static_cast<int>(GetLastError());
        return -2;
    }
    return 1; // ready, or closed: the next call tells which
}

int ResetCode() {
    return WSAECONNRESET;
}

int DeadPathCode() {
    return WSAETIMEDOUT;
}

void CloseSocket(intptr_t socket, intptr_t event) {
    closesocket(static_cast<SOCKET>(socket));
    if (event) WSACloseEvent(reinterpret_cast<WSAEVENT>(event));
}

} // namespace net

bool TMyComPort::AttachSocket(intptr_t socket) {
    HANDLE wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    WSAEVENT io = WSACreateEvent();
    if (!wake || io == WSA_INVALID_EVENT) {
        const int e = static_cast<int>(GetLastError());
        if (wake) CloseHandle(wake);
        net::CloseSocket(socket, io == WSA_INVALID_EVENT ? 0 : reinterpret_cast<intptr_t>(io));
        return Fail(e);
    }
    std::lock_guard<std::mutex> g(lock_);
    handle_ = reinterpret_cast<void*>(socket);
    wake_ = wake;
    ioEvent_ = io;
    closing_ = false;
    return true;
}

bool TMyComPort::EnterSocket(intptr_t& socket, intptr_t& event, intptr_t& wake,
                             TCommTimeouts* applied) {
    void* h = nullptr;
    if (!Enter(h, applied)) return false;
    std::lock_guard<std::mutex> g(lock_);
    socket = reinterpret_cast<intptr_t>(h);
    event = reinterpret_cast<intptr_t>(ioEvent_);
    wake = reinterpret_cast<intptr_t>(wake_);
    return true;
}

} // namespace tunavox
