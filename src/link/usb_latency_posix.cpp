// The adapter's latency timer on Linux: the USB-serial driver (ftdi_sio) shows it in
// sysfs beside the tty, in milliseconds.
#include <cctype>
#include <filesystem>
#include <fstream>

#include "link/usb_latency.h"

namespace tunavox {

TUsbLatency UsbLatency(const std::string& port, const std::string& root) {
    TUsbLatency out;
    if (port.empty()) return out;
    // The tty's own name, through any link to it (/dev/serial/by-id/…).
    std::string path = port[0] == '/' ? port : "/dev/" + port;
    std::error_code error;
    const std::filesystem::path real = std::filesystem::canonical(path, error);
    const std::string name = (error ? std::filesystem::path(path) : real).filename().string();
    if (name.empty() || name.find("..") != std::string::npos) return out;
    const std::string file =
        (root.empty() ? std::string("/sys") : root) + "/class/tty/" + name + "/device/latency_timer";
    std::ifstream in(file);
    std::string text;
    if (!in || !std::getline(in, text) || text.empty() || text.size() > 4) return out;
    int ms = 0;
    for (const char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return out;
        ms = ms * 10 + (c - '0');
    }
    out.TimerMs = ms;
    out.Setting = "уменьшите его (от root): echo 1 > " + file;
    return out;
}

} // namespace tunavox
