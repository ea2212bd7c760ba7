#pragma once
// The platform's sockets for the network port (POSIX or Winsock), one small file each.
#include <atomic>
#include <cstdint>
#include <string>

#include "link/net_address.h"

namespace tunavox::net {

// A connected non-blocking TCP socket to the address within timeoutMs, and the round trip
// its handshake took; -1 on failure with the system's code and the failure in words.
// Setting *cancel (looked at every 50 ms of the handshake) gives up: "подключение отменено".
intptr_t Connect(const TNetAddress& address, int timeoutMs, long long& roundTripMs, int& code,
                 std::string& words, const std::atomic<bool>* cancel = nullptr);
// The words of a connection given up by the user.
constexpr const char* kConnectCancelled = "подключение отменено";
// Bytes received (>0); 0 when the server closed the connection; -1 on failure with the
// system's code, or with code 0 when nothing is there now.
long Receive(intptr_t socket, char* buffer, size_t size, int& code);
// Bytes sent; -1 on failure with the system's code, or with code 0 when it would block.
long Send(intptr_t socket, const char* data, size_t size, int& code);
// Waits up to ms (-1: no limit) for the socket to be readable (or writable): 1 ready, 0
// time out, -1 woken (the port is being closed), -2 failed with the system's code. event
// is the socket's event on Windows; wake the port's wake-up descriptor or event.
int Wait(intptr_t socket, intptr_t event, intptr_t wake, bool write, int ms, int& code);
// The code of a connection the server ended.
int ResetCode();
// The code of a connection whose path is gone: the converter's stack left our bytes (or
// keep-alive probes) unacknowledged for kDeadPathMs.
int DeadPathCode();
// How long the converter's stack may leave our bytes unacknowledged, or keep-alive probes
// unanswered while nothing is sent, before the path to it counts as gone. Silent devices
// do not count: the converter acknowledges requests whether or not a device answers.
constexpr int kDeadPathMs = 2500;
constexpr int kKeepAliveIdleMs = 2000;
// Closes the socket (and its event, on Windows).
void CloseSocket(intptr_t socket, intptr_t event);

} // namespace tunavox::net
