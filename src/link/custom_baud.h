#pragma once
#include <cstdint>

namespace tunavox {

// Sets a baud rate that has no standard termios constant (Linux termios2). Returns
// 0 or the errno of the failing call.
int SetCustomBaud(int fd, uint32_t baud);

} // namespace tunavox
