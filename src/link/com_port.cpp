#include "link/com_port.h"

#include <chrono>
#include <cmath>
#include <thread>

namespace tunavox {

TMyComPort::~TMyComPort() {
    Close();
}

void TMyComPort::Leave() {
    std::lock_guard<std::mutex> g(lock_);
    if (--users_ == 0) idle_.notify_all();
}

bool TMyComPort::Fail(int code) {
    errorCode_ = code;
    return false;
}

std::string TMyComPort::PortName() const {
    std::lock_guard<std::mutex> g(lock_);
    return portName_;
}

TCommTimeouts TMyComPort::Timeouts() const {
    std::lock_guard<std::mutex> g(lock_);
    return timeouts_;
}

bool TMyComPort::SetTimeouts(uint32_t writeMultiplier, uint32_t writeConstant,
                             uint32_t readInterval, uint32_t readMultiplier, uint32_t readConstant,
                             bool apply) {
    {
        std::lock_guard<std::mutex> g(lock_);
        timeouts_ = {readInterval, readMultiplier, readConstant, writeMultiplier, writeConstant};
    }
    return apply ? ApplyTimeouts() : true;
}

bool TMyComPort::SetPollingTimeouts(uint32_t writeMultiplier, uint32_t writeConstant, bool apply) {
    return SetTimeouts(writeMultiplier, writeConstant, kMaxDword, 0, 0, apply);
}

bool TMyComPort::SetWaitingTimeouts(uint32_t writeMultiplier, uint32_t writeConstant,
                                    uint32_t readConstant, bool apply) {
    return SetTimeouts(writeMultiplier, writeConstant, kMaxDword, kMaxDword, readConstant, apply);
}

void TMyComPort::SetLine(uint32_t baud, uint8_t dataBits, uint8_t parity, uint8_t stopBits,
                         bool apply) {
    settings_.SetBaudRate(baud);
    settings_.SetByteSize(dataBits);
    settings_.SetParity(parity);
    settings_.SetStopBits(stopBits);
    if (apply && IsOpen()) ApplyLineSettings();
}

bool TMyComPort::ParseSettings(std::string_view text, bool apply) {
    TLineSettings s = settings_.Line();
    if (!ParseSettingsText(text, s)) return false;
    SetLine(s.BaudRate, s.ByteSize, s.Parity, s.StopBits, apply);
    return true;
}

int TMyComPort::Read(std::string& out, int count) {
    out.assign(static_cast<size_t>(std::max(count, 0)), '\0');
    const int n = ReadBuffer(out.data(), count);
    out.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return n;
}

int TMyComPort::WriteString(std::string_view bytes, bool wait) {
    return Write(bytes.data(), static_cast<int>(bytes.size()), wait);
}

double TMyComPort::CharTime() const {
    return tunavox::CharTime(settings_.Line());
}

void TMyComPort::WaitSent(int count) const {
    const auto ms = static_cast<long long>(std::ceil(CharTime() * count));
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string TMyComPort::ErrorText() const {
    const int code = errorCode_;
    if (code == kPortClosedError) return "COM-порт закрыт";
    {
        std::lock_guard<std::mutex> g(lock_);
        if (!netError_.empty() && code == netErrorCode_) return netError_;
    }
    return SystemErrorText(code);
}

bool TMyComPort::NetFail(int code, const std::string& words) {
    {
        std::lock_guard<std::mutex> g(lock_);
        netError_ = words;
        netErrorCode_ = code;
    }
    return Fail(code);
}

} // namespace tunavox
