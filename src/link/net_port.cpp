// A port behind a serial-to-Ethernet converter: the serial port's calls over a TCP
// socket, raw or with Telnet's COM port control (RFC 2217). The sockets themselves are the
// platform's (net_socket_posix.cpp, net_socket_win32.cpp).
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>

#include "link/com_port.h"
#include "link/net_socket.h"

namespace tunavox {
namespace {

using Clock = std::chrono::steady_clock;

int LeftMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1 << 30));
}

constexpr const char* kDropped = "соединение с сетевым портом разорвано";
constexpr const char* kDeadPath =
    "преобразователь не подтверждает приём: сеть до него прервана";
constexpr const char* kBusy =
    "порт преобразователя занят: к нему подключена другая программа";
constexpr size_t kHeardLimit = 256;

// A converter that serves one client at a time says so to the next and hangs up
// (ser2net: "Port already in use").
bool SaidBusy(std::string heard) {
    for (char& c : heard)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return heard.find("in use") != std::string::npos || heard.find("busy") != std::string::npos;
}

} // namespace

std::string TMyComPort::NetLostWords(int error) {
    // The system tells a timed-out connection once; the calls after it find it closed.
    if (error == net::DeadPathCode()) netDeadPath_ = true;
    if (netDeadPath_) return kDeadPath;
    return SaidBusy(netHeard_) ? kBusy : kDropped;
}

bool TMyComPort::OpenNetwork(const std::string& name, bool setup) {
    {
        std::lock_guard<std::mutex> g(lock_);
        portName_ = name;
        netError_.clear();
    }
    TNetAddress address;
    std::string words;
    int code = 0;
    if (!ParseNetAddress(name, address, words)) return NetFail(kBadAddressError, words);
    long long roundTrip = 0;
    const intptr_t socket =
        net::Connect(address, connectTimeoutMs_, roundTrip, code, words, &connectCancel_);
    if (socket == -1) return NetFail(code, words);
    if (!AttachSocket(socket)) return false;
    net_ = true;
    rfc2217_ = address.Rfc2217;
    roundTripMs_ = static_cast<int>(roundTrip);
    telnetIn_ = {};
    netPending_.clear();
    netHeard_.clear();
    netDeadPath_ = false;
    txEmptyWait_ = false;
    if (rfc2217_) {
        const std::string opening = telnet::Opening();
        if (NetWrite(opening.data(), static_cast<int>(opening.size()), false) < 0) {
            const int e = errorCode_;
            Close();
            errorCode_ = e;
            return false;
        }
    }
    if (setup && !Setup()) {
        const int e = errorCode_;
        Close();
        errorCode_ = e;
        return false;
    }
    return true;
}

bool TMyComPort::NetApplyLineSettings() {
    // Over raw TCP the converter keeps its own settings: nothing to send.
    if (!rfc2217_) return IsOpen() ? true : Fail(kPortClosedError);
    const TLineSettings line = settings_.Line();
    const std::string commands = telnet::LineCommands(line);
    telnetIn_.ForgetAnswers();
    if (NetWrite(commands.data(), static_cast<int>(commands.size()), false) < 0) return false;
    // The server answers every setting once it is in force. Bytes sent before that may
    // leave at the settings before (ser2net applies every command it has received before
    // it writes the data that came with them), so nothing goes out until the answers.
    const int limit = kSettingsAnswerMs + std::max(roundTripMs_.load(), 0);
    if (!NetAwaitAnswers(limit)) return false;
    if (const std::string wrong = telnet::LineAnswersDiffer(line, telnetIn_); !wrong.empty())
        return NetFail(kServerRefusedError, "сервер установил на порту не те настройки линии: " +
                                                wrong + " (" + SettingsText(line) + ")");
    return true;
}

int TMyComPort::NetPull(intptr_t socket, int& error) {
    char chunk[4096];
    int code = 0;
    const long n = net::Receive(socket, chunk, sizeof chunk, code);
    if (n == 0 || (n < 0 && code != 0)) {
        error = n == 0 ? net::ResetCode() : code; // the server closed: the line is lost
        return -1;
    }
    if (n < 0) return 0;
    if (netHeard_.size() < kHeardLimit)
        netHeard_.append(chunk, std::min(static_cast<size_t>(n), kHeardLimit));
    if (!rfc2217_) {
        netPending_.append(chunk, static_cast<size_t>(n));
        return 1;
    }
    std::string reply;
    telnetIn_.Feed(std::string_view(chunk, static_cast<size_t>(n)), netPending_, reply);
    // The server's questions are answered at once (a few bytes: never blocks).
    if (!reply.empty()) net::Send(socket, reply.data(), reply.size(), code);
    return 1;
}

bool TMyComPort::NetAwaitAnswers(int ms) {
    intptr_t socket = -1, event = 0, wake = 0;
    if (!EnterSocket(socket, event, wake, nullptr)) return false;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    const auto all = [this] {
        std::string value;
        for (unsigned char command = 1; command <= 5; ++command)
            if (!telnetIn_.Answered(command, value)) return false;
        return true;
    };
    int error = 0;
    while (!all()) {
        const int pulled = NetPull(socket, error);
        if (pulled > 0) continue;
        if (pulled < 0) break;
        int code = 0;
        const int left = LeftMs(deadline);
        const int ready = left == 0 ? 0 : net::Wait(socket, event, wake, false, left, code);
        if (ready == 0) error = kServerRefusedError;
        if (ready == -1) error = kPortClosedError;
        if (ready == -2) error = code;
        if (ready <= 0) break;
    }
    Leave();
    if (error == 0) return true;
    if (error == kPortClosedError) return Fail(error);
    if (error == kServerRefusedError)
        return NetFail(error, "сервер не подтвердил настройки линии за " +
                                  std::to_string((ms + 999) / 1000) +
                                  " с (отвечает ли на этом порту сервер RFC 2217?)");
    return NetFail(error, NetLostWords(error));
}

int TMyComPort::NetReadBuffer(void* buffer, int count) {
    TCommTimeouts t;
    intptr_t socket = -1, event = 0, wake = 0;
    if (!EnterSocket(socket, event, wake, &t)) return -1;
    const bool immediate = t.ReadIntervalTimeout == kMaxDword &&
                           t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0;
    const bool firstByte =
        t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == kMaxDword;
    // The network's round trip comes on top of the line's time.
    const uint64_t totalMs = (firstByte ? t.ReadTotalTimeoutConstant
                                        : uint64_t{t.ReadTotalTimeoutMultiplier} *
                                                  static_cast<uint64_t>(std::max(count, 0)) +
                                              t.ReadTotalTimeoutConstant) +
                             static_cast<uint64_t>(std::max(roundTripMs_.load(), 0));
    const bool unlimited = !immediate && !firstByte && totalMs == 0;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(totalMs);
    auto* p = static_cast<char*>(buffer);
    int got = 0, error = 0;
    while (got < count) {
        if (!netPending_.empty()) {
            const size_t n = std::min(netPending_.size(), static_cast<size_t>(count - got));
            std::memcpy(p + got, netPending_.data(), n);
            netPending_.erase(0, n);
            got += static_cast<int>(n);
            continue;
        }
        const int pulled = NetPull(socket, error);
        if (pulled > 0) continue;
        if (pulled < 0) break;
        int code = 0;
        if (immediate || (firstByte && got > 0)) break;
        const int wait = unlimited ? -1 : LeftMs(deadline);
        if (!unlimited && wait == 0) break;
        const int ready = net::Wait(socket, event, wake, false, wait, code);
        if (ready == -1) error = kPortClosedError;
        if (ready == -2) error = code;
        if (ready < 0) break;
    }
    Leave();
    if (error == 0) return got;
    if (error == kPortClosedError)
        Fail(error);
    else
        NetFail(error, NetLostWords(error));
    return -1;
}

int TMyComPort::NetWrite(const void* buffer, int count, bool wait) {
    TCommTimeouts t;
    intptr_t socket = -1, event = 0, wake = 0;
    if (!EnterSocket(socket, event, wake, &t)) return -1;
    const std::string_view data(static_cast<const char*>(buffer),
                                static_cast<size_t>(std::max(count, 0)));
    // Data to a Telnet server has its IAC bytes doubled; commands go as they are.
    const bool command =
        rfc2217_ && !data.empty() && static_cast<unsigned char>(data.front()) == telnet::kIac;
    const std::string bytes = rfc2217_ && !command ? telnet::Escape(data) : std::string(data);
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(uint64_t{t.WriteTotalTimeoutMultiplier} *
                                                     static_cast<uint64_t>(bytes.size()) +
                                                 t.WriteTotalTimeoutConstant + kConnectTimeoutMs);
    size_t done = 0;
    int error = 0;
    while (done < bytes.size()) {
        int code = 0;
        const long n = net::Send(socket, bytes.data() + done, bytes.size() - done, code);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (code != 0) {
            error = code;
            break;
        }
        const int left = LeftMs(deadline);
        const int ready = left == 0 ? 0 : net::Wait(socket, event, wake, true, left, code);
        if (ready == 0) error = net::ResetCode(); // the server takes nothing: as good as gone
        if (ready == -1) error = kPortClosedError;
        if (ready == -2) error = code;
        if (ready <= 0) break;
    }
    if (error != 0 && error != kPortClosedError) {
        // What the server said before it hung up may say why.
        char chunk[256];
        int code = 0;
        for (long n = 0; netHeard_.size() < kHeardLimit &&
                         (n = net::Receive(socket, chunk, sizeof chunk, code)) > 0;)
            netHeard_.append(chunk, static_cast<size_t>(n));
    }
    Leave();
    if (error != 0) {
        if (error == kPortClosedError)
            Fail(error);
        else
            NetFail(error, NetLostWords(error));
        return -1;
    }
    // When the bytes leave the converter's line is not told: their line time is waited.
    if (wait && !command) WaitSent(count);
    return count;
}

bool TMyComPort::NetWaitReadable(int ms) {
    intptr_t socket = -1, event = 0, wake = 0;
    if (!EnterSocket(socket, event, wake, nullptr)) return false;
    int code = 0;
    const bool readable =
        !netPending_.empty() || net::Wait(socket, event, wake, false, std::max(ms, 0), code) == 1;
    Leave();
    return readable;
}

bool TMyComPort::NetPurge() {
    // What has arrived and not been read is dropped, as a purge drops a UART's buffer. No
    // purge goes to an RFC 2217 server: ser2net carries it out after the request that
    // follows it and drops that request.
    intptr_t socket = -1, event = 0, wake = 0;
    if (!EnterSocket(socket, event, wake, nullptr)) return false;
    char chunk[4096];
    std::string data, reply;
    int code = 0;
    long n = 0;
    while ((n = net::Receive(socket, chunk, sizeof chunk, code)) > 0) {
        if (netHeard_.size() < kHeardLimit)
            netHeard_.append(chunk, std::min(static_cast<size_t>(n), kHeardLimit));
        if (rfc2217_) telnetIn_.Feed(std::string_view(chunk, static_cast<size_t>(n)), data, reply);
    }
    netPending_.clear();
    if (!reply.empty()) {
        int ignored = 0;
        net::Send(socket, reply.data(), reply.size(), ignored);
    }
    Leave();
    if (n == 0) return NetFail(net::ResetCode(), NetLostWords(net::ResetCode()));
    if (code != 0) return NetFail(code, NetLostWords(code));
    return true;
}

} // namespace tunavox
