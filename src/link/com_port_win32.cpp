// The serial port on Windows: Win32 communications on an overlapped handle, so that
// closing the port ends a read or write that another thread is waiting in.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "link/com_port.h"
#include "link/net_socket.h"

namespace tunavox {
namespace {

using Clock = std::chrono::steady_clock;

HANDLE H(void* h) {
    return static_cast<HANDLE>(h);
}

bool IsFirstByte(const TCommTimeouts& t) {
    return t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == kMaxDword;
}

bool IsImmediate(const TCommTimeouts& t) {
    return t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == 0 &&
           t.ReadTotalTimeoutConstant == 0;
}

} // namespace

bool IsPortLostError(int code) {
    switch (code) {
    // A network port's connection that ended (WSAECONNABORTED, WSAECONNRESET,
    // WSAENOTCONN, WSAESHUTDOWN) or whose path is gone (WSAETIMEDOUT, WSAENETDOWN,
    // WSAENETUNREACH, WSAENETRESET, WSAEHOSTUNREACH).
    case 10060:
    case 10050:
    case 10051:
    case 10052:
    case 10065:
    case 10053:
    case 10054:
    case 10057:
    case 10058:
    case ERROR_DEVICE_REMOVED:
    case ERROR_BAD_COMMAND:
    case ERROR_ACCESS_DENIED:
    case ERROR_OPERATION_ABORTED:
    case ERROR_GEN_FAILURE:
    // What a pseudo-terminal whose far end has gone reads as under Wine (EIO), and what
    // some USB adapter drivers report for an unplugged port.
    case ERROR_NOT_READY:
        return true;
    default:
        return false;
    }
}

TCommTimeouts SystemTimeouts(const TCommTimeouts& t) {
    TCommTimeouts s = t;
    if (IsFirstByte(t)) {
        if (t.ReadTotalTimeoutConstant == 0) {
            s.ReadTotalTimeoutMultiplier = 0; // at once, with what has arrived
        } else {
            s.ReadIntervalTimeout = 1;
            s.ReadTotalTimeoutMultiplier = 0;
        }
    }
    return s;
}

bool TMyComPort::Enter(void*& handle, TCommTimeouts* applied) {
    std::lock_guard<std::mutex> g(lock_);
    if (H(handle_) == INVALID_HANDLE_VALUE || closing_) return Fail(kPortClosedError);
    handle = handle_;
    if (applied) *applied = applied_;
    ++users_;
    return true;
}

bool TMyComPort::IsOpen() const {
    std::lock_guard<std::mutex> g(lock_);
    return H(handle_) != INVALID_HANDLE_VALUE;
}

void* TMyComPort::Handle() const {
    std::lock_guard<std::mutex> g(lock_);
    return handle_;
}

bool TMyComPort::Open(const std::string& name, bool setup) {
    net_ = false;
    rfc2217_ = false;
    roundTripMs_ = -1;
    if (IsNetworkPortName(name)) return OpenNetwork(name, setup);
    const bool prefixed = name.rfind("\\\\.\\", 0) == 0;
    const std::string path = prefixed ? name : "\\\\.\\" + name;
    {
        std::lock_guard<std::mutex> g(lock_);
        portName_ = prefixed ? name.substr(4) : name;
    }
    // Not shared: the port is this program's alone while open.
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) return Fail(static_cast<int>(GetLastError()));
    HANDLE wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE io = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!wake || !io) {
        const int e = static_cast<int>(GetLastError());
        if (wake) CloseHandle(wake);
        if (io) CloseHandle(io);
        CloseHandle(h);
        return Fail(e);
    }
    {
        std::lock_guard<std::mutex> g(lock_);
        handle_ = h;
        wake_ = wake;
        ioEvent_ = io;
        closing_ = false;
    }
    if (setup && !Setup()) {
        const int code = errorCode_;
        Close();
        errorCode_ = code;
        return false;
    }
    txEmptyWait_ = SetCommMask(h, EV_TXEMPTY) != 0;
    return true;
}

bool TMyComPort::Close() {
    std::unique_lock<std::mutex> lk(lock_);
    if (H(handle_) == INVALID_HANDLE_VALUE) return true;
    closing_ = true;
    SetEvent(H(wake_)); // a waiting call cancels itself and leaves
    idle_.wait(lk, [this] { return users_ == 0; });
    if (net_) {
        net::CloseSocket(reinterpret_cast<intptr_t>(handle_), reinterpret_cast<intptr_t>(ioEvent_));
        CloseHandle(H(wake_));
        handle_ = INVALID_HANDLE_VALUE;
        wake_ = nullptr;
        ioEvent_ = nullptr;
        closing_ = false;
        return true;
    }
    PurgeComm(H(handle_), PURGE_TXCLEAR | PURGE_RXCLEAR);
    if (!CloseHandle(H(handle_))) {
        closing_ = false;
        ResetEvent(H(wake_));
        return false;
    }
    CloseHandle(H(wake_));
    CloseHandle(H(ioEvent_));
    handle_ = INVALID_HANDLE_VALUE;
    wake_ = nullptr;
    ioEvent_ = nullptr;
    closing_ = false;
    txEmptyWait_ = false;
    return true;
}

bool TMyComPort::Setup() {
    if (net_) return ApplyLineSettings() && ApplyTimeouts();
    void* h = nullptr;
    if (!Enter(h)) return false;
    const bool ok = SetupComm(H(h), 1200, 1200) != 0;
    const int code = static_cast<int>(GetLastError());
    Leave();
    if (!ok) return Fail(code);
    return ApplyLineSettings() && ApplyTimeouts();
}

bool FillDcb(const TMyDCB& settings, _DCB& dcb) {
    const TLineSettings& s = settings.Line();
    static const char kParity[] = {'N', 'O', 'E', 'M', 'S'};
    static const char* const kStop[] = {"1", "1.5", "2"};
    char text[96];
    std::snprintf(text, sizeof text, "baud=%u parity=%c data=%u stop=%s",
                  static_cast<unsigned>(s.BaudRate), kParity[s.Parity <= 4 ? s.Parity : 0],
                  static_cast<unsigned>(s.ByteSize), kStop[s.StopBits <= 2 ? s.StopBits : 0]);
    dcb.DCBlength = sizeof(DCB);
    if (!BuildCommDCBA(text, &dcb)) return false;
    // Binary, no flow control of any kind: a device's 0x13 byte must not stop the
    // line, and a line error must not stall every later call.
    dcb.fBinary = 1;
    dcb.fParity = s.Parity != 0;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = 1;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fAbortOnError = 0;
    dcb.fDtrControl = settings.DtrControl() & 3;
    dcb.fRtsControl = settings.RtsControl() & 3;
    if (settings.XonChar() != 0 && settings.XonChar() != static_cast<uint8_t>(dcb.XoffChar))
        dcb.XonChar = static_cast<char>(settings.XonChar());
    return true;
}

bool TMyComPort::ApplyLineSettings() {
    if (net_) return NetApplyLineSettings();
    void* h = nullptr;
    if (!Enter(h)) return false;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    const bool ok = GetCommState(H(h), &dcb) && FillDcb(settings_, dcb) && SetCommState(H(h), &dcb);
    const int code = static_cast<int>(GetLastError());
    Leave();
    return ok ? true : Fail(code);
}

bool TMyComPort::ApplyTimeouts() {
    HANDLE h;
    TCommTimeouts t;
    {
        std::lock_guard<std::mutex> g(lock_);
        if (H(handle_) == INVALID_HANDLE_VALUE || closing_) return Fail(kPortClosedError);
        // A network port's time-outs are its own calls' (the socket has none).
        if (net_) {
            applied_ = timeouts_;
            return true;
        }
        h = H(handle_);
        t = timeouts_;
        ++users_;
    }
    const TCommTimeouts s = SystemTimeouts(t);
    COMMTIMEOUTS ct{s.ReadIntervalTimeout, s.ReadTotalTimeoutMultiplier, s.ReadTotalTimeoutConstant,
                    s.WriteTotalTimeoutMultiplier, s.WriteTotalTimeoutConstant};
    const bool ok = SetCommTimeouts(h, &ct) != 0;
    const int code = static_cast<int>(GetLastError());
    {
        std::lock_guard<std::mutex> g(lock_);
        if (ok) applied_ = t;
    }
    Leave();
    return ok ? true : Fail(code);
}

long TMyComPort::Finish(void* handle, void* overlapped, bool started, int& error) {
    auto* ov = static_cast<OVERLAPPED*>(overlapped);
    DWORD n = 0;
    if (started) {
        if (GetOverlappedResult(H(handle), ov, &n, FALSE) || GetLastError() == ERROR_TIMEOUT)
            return static_cast<long>(n);
        error = static_cast<int>(GetLastError());
        return -1;
    }
    if (GetLastError() != ERROR_IO_PENDING) {
        error = static_cast<int>(GetLastError());
        return -1;
    }
    HANDLE wake;
    {
        std::lock_guard<std::mutex> g(lock_);
        wake = H(wake_);
    }
    HANDLE events[2] = {ov->hEvent, wake};
    // The port's time-outs end the call; a close ends it sooner.
    const DWORD r = WaitForMultipleObjects(2, events, FALSE, INFINITE);
    const bool closed = r == WAIT_OBJECT_0 + 1;
    if (r != WAIT_OBJECT_0) CancelIoEx(H(handle), ov);
    const bool ok = GetOverlappedResult(H(handle), ov, &n, TRUE) != 0;
    if (closed) {
        error = kPortClosedError;
        return -1;
    }
    // Wine ends a call at its time-out with ERROR_TIMEOUT, Windows with success; both
    // with what was moved so far.
    if (!ok && GetLastError() != ERROR_TIMEOUT) {
        error = static_cast<int>(GetLastError());
        return -1;
    }
    return static_cast<long>(n);
}

int TMyComPort::ReadBuffer(void* buffer, int count) {
    if (net_) return NetReadBuffer(buffer, count);
    TCommTimeouts t;
    void* h = nullptr;
    if (!Enter(h, &t)) return -1;
    int error = 0;
    long got = 0;
    DWORD want = static_cast<DWORD>(std::max(count, 0));
    if (IsImmediate(t) || (IsFirstByte(t) && t.ReadTotalTimeoutConstant == 0)) {
        // What has arrived, without waiting: no read at all when nothing is there. A
        // port whose device has gone fails here instead of reading as silence.
        DWORD errors = 0;
        COMSTAT st{};
        if (!ClearCommError(H(h), &errors, &st)) {
            error = static_cast<int>(GetLastError());
            want = 0;
        } else {
            want = std::min<DWORD>(want, st.cbInQue);
        }
    }
    if (error == 0 && want > 0) {
        OVERLAPPED ov{};
        ov.hEvent = H(ioEvent_);
        const bool started = ReadFile(H(h), buffer, want, nullptr, &ov) != 0;
        got = Finish(h, &ov, started, error);
        if (got < 0 && error == 0) error = static_cast<int>(GetLastError());
    }
    Leave();
    if (error != 0) {
        Fail(error);
        return -1;
    }
    return static_cast<int>(got);
}

bool TMyComPort::WaitReadable(int ms) {
    if (net_) return NetWaitReadable(ms);
    void* h = nullptr;
    if (!Enter(h)) return false;
    // Drivers (and Wine on a pseudo-terminal) differ on EV_RXCHAR; the input queue's
    // count is the same everywhere. Looked at every millisecond, or at once on close.
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(ms, 0));
    bool readable = false;
    for (;;) {
        DWORD errors = 0;
        COMSTAT st{};
        if (!ClearCommError(H(h), &errors, &st)) break;
        if (st.cbInQue > 0) {
            readable = true;
            break;
        }
        if (Clock::now() >= deadline) break;
        if (WaitForSingleObject(H(wake_), 1) == WAIT_OBJECT_0) break;
    }
    Leave();
    return readable;
}

bool TMyComPort::WaitTxEmpty(void* h, int count) {
    // Bounded, unlike the event itself: a driver that never reports an empty
    // transmitter costs one wait of about a second, and from then on the character
    // time is waited instead.
    const DWORD limit = 1000 + static_cast<DWORD>(std::ceil(4 * CharTime() * count));
    DWORD mask = 0;
    OVERLAPPED ov{};
    ov.hEvent = H(ioEvent_);
    const auto giveUp = [&] {
        txEmptyWait_ = false;
        WaitSent(count);
        return false;
    };
    if (WaitCommEvent(H(h), &mask, &ov)) return true;
    if (GetLastError() != ERROR_IO_PENDING) return giveUp();
    HANDLE events[2] = {ov.hEvent, H(wake_)};
    const DWORD r = WaitForMultipleObjects(2, events, FALSE, limit);
    DWORD n = 0;
    if (r == WAIT_OBJECT_0) return GetOverlappedResult(H(h), &ov, &n, TRUE) != 0;
    CancelIoEx(H(h), &ov);
    GetOverlappedResult(H(h), &ov, &n, TRUE);
    return r == WAIT_TIMEOUT ? giveUp() : false;
}

int TMyComPort::Write(const void* buffer, int count, bool wait) {
    if (net_) return NetWrite(buffer, count, wait);
    TCommTimeouts t;
    void* h = nullptr;
    if (!Enter(h, &t)) return -1;
    int error = 0;
    long done = 0;
    if (count > 0) {
        OVERLAPPED ov{};
        ov.hEvent = H(ioEvent_);
        const bool started = WriteFile(H(h), buffer, static_cast<DWORD>(count), nullptr, &ov) != 0;
        done = Finish(h, &ov, started, error);
        if (done < 0 && error == 0) error = static_cast<int>(GetLastError());
    }
    if (error == 0 && wait && done > 0) {
        if (txEmptyWait_)
            WaitTxEmpty(h, static_cast<int>(done));
        else
            WaitSent(static_cast<int>(done));
    }
    Leave();
    if (error != 0) {
        Fail(error);
        return -1;
    }
    return static_cast<int>(done);
}

bool TMyComPort::Purge() {
    if (net_) return NetPurge();
    void* h = nullptr;
    if (!Enter(h)) return false;
    const bool ok = PurgeComm(H(h), PURGE_TXCLEAR | PURGE_RXCLEAR) != 0;
    const int code = static_cast<int>(GetLastError());
    Leave();
    return ok ? true : Fail(code);
}

bool ListComPorts(std::string& out, bool withNames, const std::string& sysRoot) {
    out.clear();
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, sysRoot.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    const auto trim = [](std::string s) {
        while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32)
            s.pop_back();
        size_t i = 0;
        while (i < s.size() && static_cast<unsigned char>(s[i]) <= 32)
            ++i;
        return s.substr(i);
    };
    bool ok = true;
    for (DWORD index = 0;; ++index) {
        char name[256];
        BYTE data[256];
        DWORD nameSize = sizeof name, dataSize = sizeof data - 1, type = 0;
        const LONG r = RegEnumValueA(key, index, name, &nameSize, nullptr, &type, data, &dataSize);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r != ERROR_SUCCESS) {
            ok = false;
            break;
        }
        data[dataSize] = 0;
        if (withNames) out += std::string(name, nameSize) + "=";
        out += trim(std::string(reinterpret_cast<const char*>(data), dataSize)) + "\r\n";
    }
    RegCloseKey(key);
    if (!ok) out.clear();
    return ok;
}

} // namespace tunavox
