#include "link/canal.h"

#include <algorithm>
#include <chrono>

#include "link/frame.h"
#include "link/frame_collector.h"
#include "log/logger.h"

namespace tunavox {
namespace {

const char* const kNoAnswer = "Устройство не отвечает";

} // namespace

TCanal::TCanal() : ComPort(std::make_unique<TMyComPort>()) {
    SetTimeout(1000);
}

void TCanal::SetTimeout(uint32_t ms) {
    // A negative time-out (as the description's signed value), or one beyond the
    // limit, waits the limit: no exchange may wait without end.
    if (ms > kMaxTimeout) ms = kMaxTimeout;
    timeout_ = ms;
    if (protocolVersion_ == 0 && ms > 0)
        ComPort->SetTimeouts(1, ms, 0, 0, ms, false);
    else
        // 0 ms: a read returns at once with what has arrived (all-zero read time-outs
        // would mean "no limit" to the port).
        ComPort->SetPollingTimeouts(1, ms, false);
}

void TCanal::SetVersion(uint8_t version) {
    protocolVersion_ = version;
    SetTimeout(timeout_);
}

void TCanal::SetLogging(bool on) {
    std::lock_guard<std::mutex> g(lock_);
    logEnabled_ = on;
}

bool TCanal::Logging() const {
    std::lock_guard<std::mutex> g(lock_);
    return logEnabled_;
}

void TCanal::FirstBytesCame() {
    if (firstByteMs_ >= 0) return;
    firstByteMs_ = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now() - sent_)
                                        .count());
}

std::string TCanal::PortFailure() {
    lastPortError_ = ComPort->ErrorCode();
    return ComPort->ErrorText();
}

bool TCanal::Exchange(std::string_view payload, bool withId, std::string& answer,
                      std::string& error) {
    error.clear();
    lastPortError_ = 0;
    firstByteMs_ = -1;
    std::string frame = BuildFrame(payload, withId);
    if (protocolVersion_ != 0) frame = StuffFrame(frame);
    bool result = false;
    for (int attempt = 1; attempt <= 3; ++attempt) {
        if (!keepArrived_ && !ComPort->Purge()) {
            error = PortFailure();
            return false;
        }
        if (Logging()) GetLogger()->LogText("", false);
        if (Logging()) GetLogger()->LogData(frame, true);
        if (ComPort->WriteString(frame, false) < 0) {
            error = PortFailure();
            if (Logging()) GetLogger()->LogFormat(error, {}, true, "**");
            return false;
        }
        answer.clear();
        error.clear();
        sent_ = std::chrono::steady_clock::now();
        firstByteMs_ = -1;
        if (firstByteWindow_ > 0 && !ComPort->WaitReadable(static_cast<int>(
                                         std::min(firstByteWindow_, timeout_)))) {
            if (!ComPort->IsOpen()) {
                error = PortFailure();
                return false;
            }
            if (Logging()) GetLogger()->LogData("", false);
            error = kNoAnswer;
            break;
        }
        result = protocolVersion_ == 0 ? ReceiveV1(answer, error) : ReceiveV2(answer, error);
        if (result || error == kNoAnswer) break;
    }
    return result;
}

bool TCanal::ReceiveV1(std::string& answer, std::string& error) {
    std::string header;
    const int n = ComPort->Read(header, 3);
    if (n > 0) FirstBytesCame();
    if (n == 0) {
        if (Logging()) GetLogger()->LogData("", false);
        error = kNoAnswer;
        return false;
    }
    if (n < 0 || n < 3 || header[0] != kStx) {
        error = n < 0 ? PortFailure() : n < 3 ? "Неполный ответ" : "Некорректный стартовый байт";
        if (Logging()) GetLogger()->LogData(header, false);
        return false;
    }
    int length =
        (static_cast<unsigned char>(header[1]) << 8) | static_cast<unsigned char>(header[2]);
    if (length & 0x8000) length &= 0x0FFF;
    const int got = ComPort->Read(answer, length + 2);
    if (Logging()) GetLogger()->LogData(answer, false);
    if (got < length + 2) {
        error = got < 0 ? PortFailure() : "Неполный ответ";
        return false;
    }
    if (!CheckCRC(answer, 1)) {
        error = "Некорректная CRC";
        return false;
    }
    answer.resize(answer.size() - 2);
    return true;
}

bool TCanal::ReceiveV2(std::string& answer, std::string& error) {
    lastJunk_ = false;
    TFrameCollector collector([this](std::string_view dropped) {
        lastJunk_ = true;
        if (Logging()) GetLogger()->LogMarked(dropped, "##");
    });
    bool found = false;
    // A monotonic deadline: immune to clock changes and to tick wrap. Over a network the
    // round trip measured at connecting comes on top, as for a 1.0 answer's reads.
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(timeout_) +
                          std::chrono::milliseconds(std::max(ComPort->RoundTripMs(), 0));
    char chunk[100];
    for (;;) {
        const int n = ComPort->ReadBuffer(chunk, sizeof chunk);
        if (n < 0) {
            // Closed under us, or a dead line (the far end gone): every further read
            // fails at once, so waiting out the time-out would only spin.
            error = PortFailure();
            return false;
        }
        const auto now = std::chrono::steady_clock::now();
        const long long left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        if (n > 0) {
            FirstBytesCame();
            found = collector.Append(std::string_view(chunk, static_cast<size_t>(n)));
            if (!found && left > 0) ComPort->WaitReadable(1);
        } else if (left > 0) {
            // Instead of sleeping blindly, wake as soon as bytes arrive.
            ComPort->WaitReadable(static_cast<int>(std::min(left, 10LL)));
        }
        if (found || std::chrono::steady_clock::now() >= deadline) break;
    }
    if (found) {
        if (Logging()) GetLogger()->LogData(collector.Buffer(), false);
        answer = collector.Answer();
        error.clear();
        return true;
    }
    if (collector.Buffer().empty()) {
        if (collector.Junk()) {
            error = "Не найден STX в ответе";
        } else {
            error = kNoAnswer;
            if (Logging()) GetLogger()->LogData("", false);
        }
        return false;
    }
    error = "Получен некорректный ответ";
    if (Logging()) GetLogger()->LogMarked(collector.Buffer(), "??");
    return false;
}

} // namespace tunavox
