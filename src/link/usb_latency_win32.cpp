// The adapter's latency timer on Windows: the FTDI driver keeps it (LatencyTimer, ms)
// in the adapter's "Device Parameters" key beside the COM port's name.
#include <windows.h>

#include <algorithm>
#include <cwctype>

#include "link/usb_latency.h"
#include "util/win32_text.h"

namespace tunavox {
namespace {

bool ReadWord(HKEY key, const wchar_t* name, DWORD& value) {
    DWORD type = 0, size = sizeof value;
    return RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
               ERROR_SUCCESS &&
           type == REG_DWORD;
}

std::wstring ReadText(HKEY key, const wchar_t* name) {
    wchar_t text[64] = {};
    DWORD type = 0, size = sizeof text - sizeof(wchar_t);
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return {};
    return text;
}

std::wstring Upper(std::wstring s) {
    std::transform(s.begin(), s.end(), s.begin(), [](wchar_t c) { return std::towupper(c); });
    return s;
}

} // namespace

TUsbLatency UsbLatency(const std::string& port, const std::string& root) {
    TUsbLatency out;
    std::string name = port;
    if (name.rfind("\\\\.\\", 0) == 0) name = name.substr(4);
    if (name.empty()) return out;
    const std::wstring wanted = Upper(Widen(name));
    const HKEY base = HKEY_LOCAL_MACHINE;
    const std::wstring path =
        root.empty() ? std::wstring(L"SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS") : Widen(root);
    HKEY bus = nullptr;
    if (RegOpenKeyExW(base, path.c_str(), 0, KEY_READ, &bus) != ERROR_SUCCESS) return out;
    // Each adapter ever plugged in has a key; the one whose port has the name is ours.
    wchar_t device[256];
    for (DWORD i = 0; i < 4096; ++i) {
        DWORD length = sizeof device / sizeof device[0];
        if (RegEnumKeyExW(bus, i, device, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        HKEY parameters = nullptr;
        const std::wstring sub = std::wstring(device) + L"\\0000\\Device Parameters";
        if (RegOpenKeyExW(bus, sub.c_str(), 0, KEY_READ, &parameters) != ERROR_SUCCESS) continue;
        DWORD timer = 0;
        const bool ours = Upper(ReadText(parameters, L"PortName")) == wanted &&
                          ReadWord(parameters, L"LatencyTimer", timer);
        RegCloseKey(parameters);
        if (ours) {
            out.TimerMs = static_cast<int>(std::min<DWORD>(timer, 255));
            out.Setting = "уменьшите его: Диспетчер устройств → Порты (COM и LPT) → " + name +
                          " → Свойства → Параметры порта → Дополнительно → «Время задержки "
                          "(мс)»: 1";
            break;
        }
    }
    RegCloseKey(bus);
    return out;
}

} // namespace tunavox
