#pragma once
// The latency timer of a USB-serial adapter: the chip holds back a short answer for up
// to that long before it sends it to the computer (16 ms by default on the most common
// one), which adds to every exchange. Read from the system, never changed by us.
#include <string>

namespace tunavox {

struct TUsbLatency {
    int TimerMs = -1;    // the adapter's setting; -1 when the port has none known
    std::string Setting; // where the user changes it on this system, in words
};

// Adapters whose timer adds more than this are worth a word to the user.
constexpr int kUsbLatencyHintMs = 4;

// The timer of the port's adapter: on Linux from sysfs (root: the sysfs tree, "/sys"
// unless a test gives its own), on Windows from the adapter's registry key (root: a key
// path under HKEY_LOCAL_MACHINE standing in for the driver's FTDIBUS key, for tests).
TUsbLatency UsbLatency(const std::string& port, const std::string& root = {});

// The status line's word when the timer adds more than kUsbLatencyHintMs; empty else.
std::string UsbLatencyHint(const std::string& port, const TUsbLatency& latency);

} // namespace tunavox
