#pragma once
#include <string>

#ifndef _WIN32
#include <cerrno>
#endif

namespace tunavox {

// The system's codes for the failures the program names itself: errno values on
// POSIX, GetLastError values on Windows.
#ifdef _WIN32
constexpr int kErrorNoSpace = 112;  // ERROR_DISK_FULL
constexpr int kErrorIsFolder = 267; // ERROR_DIRECTORY
constexpr int kErrorBusy = 170;     // ERROR_BUSY
constexpr int kErrorIo = 1117;      // ERROR_IO_DEVICE
#else
constexpr int kErrorNoSpace = ENOSPC;
constexpr int kErrorIsFolder = EISDIR;
constexpr int kErrorBusy = EBUSY;
constexpr int kErrorIo = EIO;
#endif

// The last error of the calling thread: errno, or GetLastError on Windows.
int LastSystemError();

// The user's words for an operating-system error code: Russian for the errors a user
// meets with files and ports (missing, no permission, no space, read-only, a folder,
// input/output, busy, not a device), the system's own text for the rest, without
// trailing blanks or full stops.
std::string SystemErrorText(int code);

} // namespace tunavox
