// The simulator's line on Windows: an existing COM port (one end of a null-modem pair,
// real or virtual), served through the program's own port layer.
#include <algorithm>
#include <chrono>

#include "link/com_port.h"
#include "sim/simulator.h"

namespace tunavox {

std::string TDeviceSimulator::StartPty(const std::string& /*link*/, std::string& error) {
    error = "псевдотерминалов в Windows нет: укажите COM-порт (--port)";
    return {};
}

bool TDeviceSimulator::StartPort(const std::string& device, std::string& error) {
    port_ = std::make_unique<TMyComPort>();
    const TLineSettings& l = options_.Line;
    port_->SetLine(l.BaudRate, l.ByteSize, l.Parity, l.StopBits, false);
    // Reads wait up to half a second for a first byte; writes are bounded as on POSIX.
    port_->SetWaitingTimeouts(0, kWriteLimitMs, 500, false);
    if (!port_->Open(device, true)) {
        error = port_->ErrorText();
        port_.reset();
        return false;
    }
    thread_ = std::thread([this] { Serve(); });
    return true;
}

bool TDeviceSimulator::Pause(int ms) {
    if (ms <= 0) return !stop_;
    std::unique_lock<std::mutex> lk(pauseLock_);
    pauseWake_.wait_for(lk, std::chrono::milliseconds(ms), [this] { return stop_.load(); });
    return !stop_;
}

bool TDeviceSimulator::Send(const std::string& bytes) {
    // What the client does not take within the write time-out is dropped.
    port_->WriteString(bytes, false);
    return !stop_;
}

int TDeviceSimulator::ReadLine(std::string& chunk, int ms) {
    // The port's first-byte time-out is the wait; set again only when it changes.
    ms = std::max(ms, 1);
    if (ms != readWaitMs_) {
        port_->SetWaitingTimeouts(0, kWriteLimitMs, static_cast<uint32_t>(ms), true);
        readWaitMs_ = ms;
    }
    const int n = port_->Read(chunk, 512);
    if (stop_) return -1;
    if (n < 0) return Pause(10) ? 0 : -1; // a line error: keep serving, unless closed
    return n;
}

void TDeviceSimulator::Stop() {
    if (thread_.joinable()) {
        {
            std::lock_guard<std::mutex> g(pauseLock_);
            stop_ = true;
        }
        pauseWake_.notify_all();
        port_->Close(); // ends a read in progress
        thread_.join();
    }
    if (port_) port_->Close();
    port_.reset();
}

} // namespace tunavox
