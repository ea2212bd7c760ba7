#include "link/open_port.h"

#include <chrono>
#include <thread>

#include "link/canal.h"

namespace tunavox {

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
        port.SetLine(115200, 8, parMark, sbTwo, false);
        if (port.Open(name, true) && port.WriteString("\x18", true) >= 0) {
            port.Settings().SetParity(parSpace);
            if (port.ApplyLineSettings()) port.WriteString("\xA0\x5A", true);
        }
    }
    const bool ok = port.IsOpen() && port.ErrorCode() == 0;
    if (ok)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    else
        port.Close();
    port.Settings().Assign(saved);
    if (port.IsOpen()) port.ApplyLineSettings();
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
