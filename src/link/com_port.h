#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "link/line_settings.h"
#include "util/system_error.h"

struct termios;

namespace tunavox {

// Error code of every call on a closed port; ErrorText gives "COM-порт закрыт".
constexpr int kPortClosedError = 9; // EBADF

// Line settings record of a port.
class TMyDCB {
public:
    uint32_t BaudRate() const { return line_.BaudRate; }
    uint8_t ByteSize() const { return line_.ByteSize; }
    uint8_t Parity() const { return line_.Parity; }
    uint8_t StopBits() const { return line_.StopBits; }
    uint8_t DtrControl() const { return dtr_; } // 0 disable, 1 enable, 2 handshake
    uint8_t RtsControl() const { return rts_; } // 0 disable, 1 enable, 2 handshake, 3 toggle
    uint8_t XonChar() const { return xon_; }
    void SetBaudRate(uint32_t v) { line_.BaudRate = v; }
    void SetByteSize(uint8_t v) { line_.ByteSize = v; }
    void SetParity(uint8_t v) { line_.Parity = v; }
    void SetStopBits(uint8_t v) { line_.StopBits = v; }
    void SetDtrControl(uint8_t v) { dtr_ = v & 3; }
    void SetRtsControl(uint8_t v) { rts_ = v & 3; }
    void SetXonChar(uint8_t v) { xon_ = v; }
    // Copies a whole record (used to put saved settings back).
    void Assign(const TMyDCB& other) { *this = other; }
    const TLineSettings& Line() const { return line_; }

private:
    TLineSettings line_{9600, 8, parNone, sbOne};
    uint8_t dtr_ = 0;
    uint8_t rts_ = 0;
    uint8_t xon_ = 0;
};

constexpr uint32_t kMaxDword = 0xFFFFFFFF;

// Read and write time-outs in milliseconds, with the classic serial meanings:
// interval MAXDWORD with multiplier and constant 0 returns at once with what has
// arrived; interval and multiplier MAXDWORD wait up to the constant for the first
// byte; otherwise a read waits until the count has arrived or multiplier*count +
// constant ms have passed (0 for both: no limit).
struct TCommTimeouts {
    uint32_t ReadIntervalTimeout = kMaxDword;
    uint32_t ReadTotalTimeoutMultiplier = kMaxDword;
    uint32_t ReadTotalTimeoutConstant = 1000;
    uint32_t WriteTotalTimeoutMultiplier = 1;
    uint32_t WriteTotalTimeoutConstant = 1000;
};

// One serial port of the system (termios). Opened and closed by the main thread,
// used for exchanges by the worker. Close may be called while the worker is inside
// a read or write: that call returns at once with kPortClosedError, and the file
// descriptor is closed only after it has left the system call.
class TMyComPort {
public:
    TMyComPort() = default;
    virtual ~TMyComPort();
    TMyComPort(const TMyComPort&) = delete;
    TMyComPort& operator=(const TMyComPort&) = delete;

    // A name without a leading "/" opens "/dev/" + name; PortName is the name without
    // "/dev/" either way. Exclusive; with setup, also runs Setup and closes on failure.
    bool Open(const std::string& name, bool setup);
    bool Close();
    bool IsOpen() const;
    bool Setup();
    bool ApplyLineSettings();
    bool ApplyTimeouts();
    bool SetTimeouts(uint32_t writeMultiplier, uint32_t writeConstant, uint32_t readInterval,
                     uint32_t readMultiplier, uint32_t readConstant, bool apply);
    bool SetPollingTimeouts(uint32_t writeMultiplier, uint32_t writeConstant, bool apply);
    bool SetWaitingTimeouts(uint32_t writeMultiplier, uint32_t writeConstant, uint32_t readConstant,
                            bool apply);
    void SetLine(uint32_t baud, uint8_t dataBits, uint8_t parity, uint8_t stopBits, bool apply);
    // Parses "9600-8-N-1" into the line settings; on failure nothing changes.
    bool ParseSettings(std::string_view text, bool apply);

    // Number of bytes read, or -1 (with an empty string) when the read fails.
    int Read(std::string& out, int count);
    int ReadBuffer(void* buffer, int count);
    // Bytes written or -1. With wait, returns after the last byte has left the line.
    int Write(const void* buffer, int count, bool wait);
    int WriteString(std::string_view bytes, bool wait);
    bool Purge();
    // Waits up to ms for bytes to read; true when some are there. Returns early when
    // the port is being closed.
    bool WaitReadable(int ms);

    double CharTime() const;
    void WaitSent(int count) const;
    void ClearError() { errorCode_ = 0; }
    int ErrorCode() const { return errorCode_; }
    std::string ErrorText() const;

    std::string PortName() const;
    TMyDCB& Settings() { return settings_; }
    const TMyDCB& Settings() const { return settings_; }
    TCommTimeouts Timeouts() const;
    bool TxEmptyWait() const { return txEmptyWait_; }
    // The file descriptor while open, -1 when closed (for inspecting line settings).
    int Handle() const;

private:
    // Takes the descriptor for one system call; false (and kPortClosedError) when closed.
    // Also hands out the applied time-outs and the wake-up descriptor when asked.
    bool Enter(int& fd, TCommTimeouts* applied = nullptr, int* wake = nullptr);
    void Leave();
    bool Fail(int code);
    bool DrainOutput(int fd, int wake, int count);

    mutable std::mutex lock_; // guards fd_, users_, closing_, timeouts
    std::condition_variable idle_;
    int fd_ = -1;
    int wakeFd_ = -1; // eventfd that interrupts waits when the port is closed
    int users_ = 0;
    bool closing_ = false;
    std::string portName_;
    TMyDCB settings_;
    TCommTimeouts timeouts_;
    TCommTimeouts applied_;
    std::atomic<int> errorCode_{0};
    std::atomic<bool> txEmptyWait_{false};
};

// Fills a raw-mode termios record from the line settings: data bits, parity (mark
// and space through CMSPAR), stop bits, speed; no flow control. False when the baud
// rate has no standard constant (the port then sets it separately).
bool FillTermios(const TMyDCB& dcb, struct termios& t);

// The system's serial ports (real UARTs, USB and ACM adapters...), one name per line
// ended by CR LF, in a stable order; with names, "driver=name". False when the list
// cannot be read.
bool ListComPorts(std::string& out, bool withNames, const std::string& sysRoot = "/sys/class/tty");

} // namespace tunavox
