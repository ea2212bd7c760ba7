// tunavox-sim: a simulated field device driven by a description file.
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#ifndef _WIN32
#include "tcp_relay.h"
#endif
#include "device/description.h"
#include "line/device.h"
#include "sim/simulator.h"
#include "util/console.h"
#include "util/integer_text.h"
#include "util/program_folder.h"

namespace {

const char* const kUsage =
    "Usage: tunavox-sim (--desc FILE [--id N] | --device FILE[:ID]...) (--link PATH | --port "
    "DEVICE)\n"
    "                   [--version 1|2] [--baud-emulation] [--fault F]...\n"
    "  --link PATH       create a pseudo-terminal and make PATH a link to it\n"
    "  --port DEVICE     serve a real serial port\n"
    "  --tcp HOST:PORT   also serve the line over raw TCP (PORT 0: a free one), one client\n"
    "                    at a time, as a serial-to-Ethernet converter; with --link only\n"
    "  --version 1|2     protocol version (default 2)\n"
    "  --id N            answer only requests that carry this device ID\n"
    "  --device FILE[:ID[:DELAY_MS[:VERSION]]] one device of a multi-drop line, with its\n"
    "                    own registers and ID (without an ID: requests without one),\n"
    "                    answering DELAY_MS after each request, at protocol VERSION (1 or\n"
    "                    2; default --version); repeatable, the line settings are the\n"
    "                    first device's. Answers that overlap on the line collide (OR-ed)\n"
    "  --swap ID:FILE    on SIGUSR1 the device at ID becomes FILE's (its registers from\n"
    "                    their default values), on the next back again, and so on\n"
    "  --value ID:ADDR=VALUE the register at ADDR of the device at ID starts with VALUE\n"
    "                    (a unit's own serial number); repeatable\n"
    "  --baud-emulation  pace answers as a real line at the description's baud rate\n"
    "  --animate         read-only numbers drift around their value (a slow sine)\n"
    "  --fault F         silent, badcrc, noise, split, wrong-addr, wrong-id, delay=MS,\n"
    "                    error=ADDR:CODE (device error CODE on register ADDR),\n"
    "                    keep=ADDR (acknowledge writes of ADDR but keep its value); repeatable\n"
    "The first line of output is the device path to open; with --tcp the second is the\n"
    "network address (tcp://HOST:PORT).\n";

int Usage(const std::string& message) {
    std::fprintf(stderr, "tunavox-sim: %s\n%s", message.c_str(), kUsage);
    return 2;
}

} // namespace

#ifdef _WIN32
HANDLE g_stop = nullptr;
#endif

int main(int argc, char** argv) {
    tunavox::PrepareConsole();
    const std::vector<std::string> argList = tunavox::CommandLineArguments(argc, argv);
    const size_t count = argList.size();
    std::string desc, link, port, tcp;
    tunavox::TSimOptions options;
    struct SimDevice {
        std::string File;
        uint32_t Id = 0;
        int DelayMs = 0;
        int Version = -1;
    };
    std::vector<SimDevice> devices; // --device FILE[:ID[:DELAY_MS[:VERSION]]]
    std::string swapFile;
    uint32_t swapId = 0;
    struct SimValue {
        uint32_t Id = 0;
        uint16_t Addr = 0;
        std::string Text;
    };
    std::vector<SimValue> values; // --value ID:ADDR=TEXT
    for (size_t i = 0; i < count; ++i) {
        const std::string a = argList[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= count) return false;
            out = argList[++i];
            return true;
        };
        std::string v;
        if (a == "--desc") {
            if (!value(desc)) return Usage("--desc needs a file");
        } else if (a == "--tcp") {
            if (!value(tcp) || tcp.rfind(':') == std::string::npos)
                return Usage("--tcp needs HOST:PORT");
        } else if (a == "--link") {
            if (!value(link)) return Usage("--link needs a path");
        } else if (a == "--port") {
            if (!value(port)) return Usage("--port needs a device");
        } else if (a == "--version") {
            if (!value(v) || (v != "1" && v != "2")) return Usage("--version takes 1 or 2");
            options.Version = v == "1" ? 0 : 1;
        } else if (a == "--id") {
            int64_t id = 0;
            if (!value(v) || !tunavox::ParseIntegerText(v, id)) return Usage("--id takes a number");
            options.DeviceId = static_cast<uint32_t>(id);
        } else if (a == "--device") {
            if (!value(v)) return Usage("--device needs a file");
            SimDevice d;
            if (!tunavox::ParseSimDevice(v, d.File, d.Id, d.DelayMs, d.Version))
                return Usage("bad --device: " + v);
            devices.push_back(d);
        } else if (a == "--swap") {
            const size_t colon = value(v) ? v.find(':') : std::string::npos;
            int64_t id = 0;
            if (colon == std::string::npos || !tunavox::ParseIntegerText(v.substr(0, colon), id) ||
                id <= 0 || id > 0xFFFFFFFFLL || colon + 1 >= v.size())
                return Usage("--swap needs ID:FILE");
            swapId = static_cast<uint32_t>(id);
            swapFile = v.substr(colon + 1);
        } else if (a == "--value") {
            const size_t colon = value(v) ? v.find(':') : std::string::npos;
            const size_t equals = v.find('=', colon == std::string::npos ? 0 : colon);
            int64_t id = 0, addr = 0;
            if (colon == std::string::npos || equals == std::string::npos ||
                !tunavox::ParseIntegerText(v.substr(0, colon), id) || id < 0 ||
                id > 0xFFFFFFFFLL ||
                !tunavox::ParseIntegerText(v.substr(colon + 1, equals - colon - 1), addr) ||
                addr < 0 || addr > 0xFFFF)
                return Usage("--value needs ID:ADDR=VALUE");
            values.push_back({static_cast<uint32_t>(id), static_cast<uint16_t>(addr),
                              v.substr(equals + 1)});
        } else if (a == "--animate") {
            options.Animate = true;
        } else if (a == "--baud-emulation") {
            options.BaudEmulation = true;
        } else if (a == "--fault") {
            if (!value(v) || !tunavox::ParseSimFault(v, options.Faults))
                return Usage("unknown fault: " + v);
        } else if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            return Usage("unknown option: " + a);
        }
    }
    if (desc.empty() == devices.empty() || link.empty() == port.empty())
        return Usage("give --desc or --device, and one of --link or --port");
    if (!desc.empty()) devices.push_back({desc, options.DeviceId, 0, -1});
    if (!swapFile.empty()) devices.push_back({swapFile, swapId, 0, -1});

    // Every description loads before the line is served.
    std::vector<std::unique_ptr<tunavox::TRegList>> lists;
    for (const SimDevice& device : devices) {
        const std::string& file = device.File;
        auto regs = std::make_unique<tunavox::TRegList>();
        tunavox::TNameValueList errors;
        tunavox::TDescription d;
        const std::string error =
            tunavox::LoadDescription(file, *regs, errors, d, tunavox::ProgramFolder());
        if (!error.empty()) {
            std::fprintf(stderr, "%s: %s\n", file.c_str(), error.c_str());
            return 2;
        }
        if (lists.empty()) options.Line = *d.Line;
        lists.push_back(std::move(regs));
    }
    // The swap's description is held apart, not served until asked for.
    std::unique_ptr<tunavox::TRegList> swapTo;
    size_t swapOriginal = devices.size();
    if (!swapFile.empty()) {
        swapTo = std::move(lists.back());
        lists.pop_back();
        devices.pop_back();
        for (size_t i = devices.size(); i-- > 0;)
            if (devices[i].Id == swapId) swapOriginal = i;
        if (swapOriginal == devices.size()) return Usage("--swap: no --device has that ID");
    }
    options.DeviceId = devices.front().Id;
    options.Faults.DelayMs += devices.front().DelayMs;
    if (devices.front().Version >= 0) options.Version = static_cast<uint8_t>(devices.front().Version);

#ifdef _WIN32
    g_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    tunavox::CatchStopRequests([] { SetEvent(g_stop); });
#else
    // Block the stop signals before any thread starts, then wait for one of them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGHUP);
    sigaddset(&stop, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
#endif

    tunavox::TDeviceSimulator sim(*lists.front(), options);
#ifndef _WIN32
    tunavox::TTcpRelay relay; // stopped before the simulator's line goes
#endif
    for (size_t i = 1; i < lists.size(); ++i)
        sim.AddDevice(*lists[i], devices[i].Id, devices[i].DelayMs, devices[i].Version);
    for (const SimValue& v : values)
        if (!sim.SetValueOf(v.Id, v.Addr, v.Text))
            return Usage("--value: no register " + std::to_string(v.Addr) + " at ID " +
                         std::to_string(v.Id) + " takes " + v.Text);
    std::string failure;
    if (!link.empty()) {
        const std::string path = sim.StartPty(link, failure);
        if (path.empty()) {
            std::fprintf(stderr, "tunavox-sim: %s\n", failure.c_str());
            return 1;
        }
        std::printf("%s\n", path.c_str());
#ifndef _WIN32
        if (!tcp.empty()) {
            const size_t colon = tcp.rfind(':');
            int64_t number = 0;
            std::string host = tcp.substr(0, colon);
            if (host.size() > 2 && host.front() == '[' && host.back() == ']')
                host = host.substr(1, host.size() - 2);
            if (!tunavox::ParseIntegerText(tcp.substr(colon + 1), number) || number < 0 ||
                number > 65535)
                return Usage("--tcp needs HOST:PORT");
            const std::string address =
                relay.Start(host, static_cast<uint16_t>(number), path, failure);
            if (address.empty()) {
                std::fprintf(stderr, "tunavox-sim: %s\n", failure.c_str());
                return 1;
            }
            std::printf("%s\n", address.c_str());
        }
#endif
    } else {
        if (!sim.StartPort(port, failure)) {
            std::fprintf(stderr, "tunavox-sim: %s: %s\n", port.c_str(), failure.c_str());
            return 1;
        }
        std::printf("%s\n", port.c_str());
    }
    std::fflush(stdout);
#ifdef _WIN32
    WaitForSingleObject(g_stop, INFINITE);
#else
    int signal = 0;
    bool swapped = false;
    while (sigwait(&stop, &signal) == 0 && signal == SIGUSR1) {
        if (!swapTo) continue;
        swapped = !swapped;
        sim.ReplaceDevice(swapId, swapped ? *swapTo : *lists[swapOriginal]);
    }
#endif
#ifndef _WIN32
    relay.Stop();
#endif
    sim.Stop();
    return 0;
}
