#include "link/usb_latency.h"

#include "link/net_address.h"

namespace tunavox {

std::string UsbLatencyHint(const std::string& port, const TUsbLatency& latency) {
    if (latency.TimerMs <= kUsbLatencyHintMs || IsNetworkPortName(port)) return {};
    return "Адаптер USB порта " + port + " задерживает каждый ответ до " +
           std::to_string(latency.TimerMs) + " мс (таймер задержки). Чтобы опрос шёл быстрее, " +
           latency.Setting;
}

} // namespace tunavox
