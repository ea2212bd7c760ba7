#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

namespace tunavox {

// The simulator's line reached over raw TCP, as a serial-to-Ethernet converter passes it
// on: one client at a time (a new one replaces the old), its bytes relayed both ways to
// the simulator's pseudo-terminal.
class TTcpRelay {
public:
    ~TTcpRelay();
    // Listens on host:port (0: a free port) and relays to the device path. The address
    // actually listened on ("tcp://127.0.0.1:40123"), or empty and why in error.
    std::string Start(const std::string& host, uint16_t port, const std::string& device,
                      std::string& error);
    void Stop();

private:
    void Serve();
    // Relays one client until it or the line ends, or a new client comes.
    void Relay(int client);

    std::string device_;
    int listen_ = -1;
    int wake_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace tunavox
