#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "link/line_settings.h"
#include "link/net_address.h"
#include "util/system_error.h"

#ifdef _WIN32
struct _DCB;
#else
struct termios;
#endif

namespace tunavox {

// Error code of every call on a closed port; ErrorText gives "COM-порт закрыт".
#ifdef _WIN32
constexpr int kPortClosedError = 6;  // ERROR_INVALID_HANDLE
constexpr int kBadAddressError = 87; // ERROR_INVALID_PARAMETER: a network name malformed
constexpr int kServerRefusedError = 50; // ERROR_NOT_SUPPORTED: a server that did not set the line
#else
constexpr int kPortClosedError = 9;  // EBADF
constexpr int kBadAddressError = 22; // EINVAL
constexpr int kServerRefusedError = 71; // EPROTO: a server that did not set the line
#endif

// Whether an error on a port that had worked means the adapter is gone (unplugged, a
// pseudo-terminal's device side ended): EIO, ENXIO, ENODEV or a hang-up on Linux;
// ERROR_DEVICE_REMOVED, ERROR_BAD_COMMAND, ERROR_ACCESS_DENIED, ERROR_OPERATION_ABORTED or
// ERROR_GEN_FAILURE (and ERROR_NOT_READY, a hung-up line under Wine) on Windows. A closed
// port's code is not one of them.
bool IsPortLostError(int code);

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

// One serial port of the system (termios, or Win32 communications with overlapped
// I/O). Opened and closed by the main thread, used for exchanges by the worker. Close
// may be called while the worker is inside a read or write: that call returns at once
// with kPortClosedError, and the descriptor or handle is closed only after it has left
// the system call.
class TMyComPort {
public:
    TMyComPort() = default;
    virtual ~TMyComPort();
    TMyComPort(const TMyComPort&) = delete;
    TMyComPort& operator=(const TMyComPort&) = delete;

    // A name without a leading "/" opens "/dev/" + name; PortName is the name without
    // "/dev/" either way. On Windows: "\\.\" + name, PortName without "\\.\". Exclusive; with
    // setup, also runs Setup and closes on failure.
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
    // A network port ("tcp://HOST:PORT", "rfc2217://HOST:PORT"; see net_address.h): the
    // same calls over a socket. Its answers wait the round trip measured at connect on
    // top of the usual time-outs.
    bool IsNetwork() const { return net_; }
    bool IsRfc2217() const { return rfc2217_; }
    int RoundTripMs() const { return roundTripMs_; }
    // A network port's connecting under way (on another thread) gives up within 50 ms;
    // false arms the next one.
    void CancelConnect(bool cancel) { connectCancel_ = cancel; }
    // How long connecting to a network port may take (kConnectTimeoutMs unless set).
    void SetConnectTimeout(int ms) { connectTimeoutMs_ = ms; }
    TMyDCB& Settings() { return settings_; }
    const TMyDCB& Settings() const { return settings_; }
    TCommTimeouts Timeouts() const;
    bool TxEmptyWait() const { return txEmptyWait_; }
#ifdef _WIN32
    // The port's handle while open, INVALID_HANDLE_VALUE when closed.
    void* Handle() const;
#else
    // The file descriptor while open, -1 when closed (for inspecting line settings).
    int Handle() const;
#endif

private:
    void Leave();
    bool Fail(int code);
    // Fails with the system's code and the words that name the address.
    bool NetFail(int code, const std::string& words);
    bool OpenNetwork(const std::string& name, bool setup);
    int NetReadBuffer(void* buffer, int count);
    int NetWrite(const void* buffer, int count, bool wait);
    bool NetPurge();
    bool NetWaitReadable(int ms);
    bool NetApplyLineSettings();
    // Takes in what the server has sent: its data kept for reading, its Telnet commands
    // answered. 1 bytes came, 0 none now, -1 the connection failed (its code in error).
    int NetPull(intptr_t socket, int& error);
    // Waits up to ms for the server's answers to every line setting.
    bool NetAwaitAnswers(int ms);
    // Why the connection failed, in words: the path gone, the port busy, or dropped.
    std::string NetLostWords(int error);
    // The platform's part: the connected socket becomes the port's handle (with its
    // wake-up on closing); one call's socket, its event (Windows) and the wake-up.
    bool AttachSocket(intptr_t socket);
    bool EnterSocket(intptr_t& socket, intptr_t& event, intptr_t& wake, TCommTimeouts* applied);
#ifdef _WIN32
    // Takes the handle for one system call; false (and kPortClosedError) when closed.
    bool Enter(void*& handle, TCommTimeouts* applied = nullptr);
    // Waits for an overlapped call on the handle; a close meanwhile cancels it. The
    // bytes moved, or -1 with the error (kPortClosedError when closed).
    long Finish(void* handle, void* overlapped, bool started, int& error);
    bool WaitTxEmpty(void* handle, int count);
#else
    // Takes the descriptor for one system call; false (and kPortClosedError) when closed.
    // Also hands out the applied time-outs and the wake-up descriptor when asked.
    bool Enter(int& fd, TCommTimeouts* applied = nullptr, int* wake = nullptr);
    bool DrainOutput(int fd, int wake, int count);
#endif

    mutable std::mutex lock_; // guards the handle or descriptor, users_, closing_, timeouts
    std::condition_variable idle_;
#ifdef _WIN32
    void* handle_ = reinterpret_cast<void*>(intptr_t{-1});
    void* wake_ = nullptr;    // manual-reset event set when the port is being closed
    void* ioEvent_ = nullptr; // completion event of the worker's overlapped calls
#else
    int fd_ = -1;
    int wakeFd_ = -1; // eventfd that interrupts waits when the port is closed
#endif
    int users_ = 0;
    bool closing_ = false;
    std::string portName_;
    TMyDCB settings_;
    TCommTimeouts timeouts_;
    TCommTimeouts applied_;
    std::atomic<int> errorCode_{0};
    std::string netError_; // a network failure in words, for its code (guarded by lock_)
    int netErrorCode_ = 0;
    std::atomic<bool> net_{false};
    std::atomic<bool> rfc2217_{false};
    std::atomic<int> roundTripMs_{-1};
    // The worker's: the server's bytes taken apart, the data not handed out yet.
    telnet::TReader telnetIn_;
    std::string netPending_;
    std::string netHeard_; // the first bytes the server sent on this connection
    bool netDeadPath_ = false; // this connection timed out (the path to it is gone)
    std::atomic<bool> connectCancel_{false};
    std::atomic<int> connectTimeoutMs_{kConnectTimeoutMs};
    std::atomic<bool> txEmptyWait_{false};
};

#ifdef _WIN32
// The time-outs given to SetCommTimeouts for the stored ones: the "first byte" regime
// becomes an interval of 1 ms with the same total, which every driver (and Wine on a
// pseudo-terminal) honours; a first-byte wait of 0 ms returns at once.
TCommTimeouts SystemTimeouts(const TCommTimeouts& t);

// Fills a Win32 device control block from the line settings (BuildCommDCBA, then no
// flow control, binary, no abort on errors). False when the system refuses the text.
bool FillDcb(const TMyDCB& settings, _DCB& dcb);
#else
// Fills a raw-mode termios record from the line settings: data bits, parity (mark
// and space through CMSPAR), stop bits, speed; no flow control. False when the baud
// rate has no standard constant (the port then sets it separately).
bool FillTermios(const TMyDCB& dcb, struct termios& t);
#endif

// The system's serial ports (real UARTs, USB and ACM adapters...), one name per line
// ended by CR LF, in a stable order; with names, "driver=name". False when the list
// cannot be read. On Windows the list is the values of the local machine's registry
// key sysRoot, in the registry's order, with names "value name=port".
#ifdef _WIN32
bool ListComPorts(std::string& out, bool withNames,
                  const std::string& sysRoot = "HARDWARE\\DEVICEMAP\\SERIALCOMM");
#else
bool ListComPorts(std::string& out, bool withNames, const std::string& sysRoot = "/sys/class/tty");
#endif

} // namespace tunavox
