#include "link/open_port.h"

#include <bit>
#include <chrono>
#include <optional>
#include <thread>

#include "link/canal.h"
#include "link/net_address.h"

namespace tunavox {
namespace {

// The odd or even parity that puts the same bit after each of the bytes as mark or space
// does (the same bits on the line), or the parity as it is when there is none. An RFC 2217
// server that has once set mark or space keeps that flag whatever parity is asked next
// (ser2net does), which would leave the line at mark or space after the opening.
uint8_t SameBitsParity(uint8_t parity, std::string_view bytes) {
    if (parity != parMark && parity != parSpace) return parity;
    std::optional<uint8_t> same;
    for (const char c : bytes) {
        // Even parity adds a 1 after an odd count of ones, odd parity after an even count.
        const bool oddOnes = std::popcount(static_cast<unsigned char>(c)) % 2 != 0;
        const uint8_t p = (parity == parMark) == oddOnes ? parEven : parOdd;
        if (same && *same != p) return parity;
        same = p;
    }
    return same.value_or(parity);
}

} // namespace

bool OpenPort(TCanal& canal, const std::string& name, uint8_t version, bool gateway) {
    TMyComPort& port = *canal.ComPort;
    TMyDCB saved;
    saved.Assign(port.Settings());
    port.ClearError();
    canal.SetVersion(version);
    if (gateway) {
        port.SetLine(4800, 7, parEven, sbTwo, false);
        if (port.Open(name, true))
            port.WriteString(
                std::string("\x7F\x02\x57\x28\x3F\x40\x3F\x40\x3F\x40\x3A\x45\x03\x03\x51", 15),
                true);
    } else {
        TNetAddress address;
        std::string unused;
        const bool rfc2217 =
            IsNetworkPortName(name) && ParseNetAddress(name, address, unused) && address.Rfc2217;
        const auto parity = [rfc2217](uint8_t p, std::string_view bytes) {
            return rfc2217 ? SameBitsParity(p, bytes) : p;
        };
        port.SetLine(115200, 8, parity(parMark, "\x18"), sbTwo, false);
        if (port.Open(name, true) && port.WriteString("\x18", true) >= 0) {
            port.Settings().SetParity(parity(parSpace, "\xA0\x5A"));
            if (port.ApplyLineSettings()) port.WriteString("\xA0\x5A", true);
        }
    }
    bool ok = port.IsOpen() && port.ErrorCode() == 0;
    if (ok) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    port.Settings().Assign(saved);
    // A network server may refuse the description's settings: the port is then not usable.
    if (ok) ok = port.ApplyLineSettings();
    if (!ok) port.Close();
    return ok;
}

std::string OpenPortNote(const TCanal& canal) {
    const TMyComPort& port = *canal.ComPort;
    if (!port.IsNetwork() || port.IsRfc2217()) return {};
    return "Сетевой порт " + port.PortName() +
           ": настройки линии задаёт преобразователь, программа их не меняет (" +
           SettingsText(port.Settings().Line()) + " и смена чётности при открытии не применяются)";
}

} // namespace tunavox
