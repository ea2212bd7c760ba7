#pragma once
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "link/com_port.h"

namespace tunavox {

// The frame channel: one request payload out, one answer payload back, framed with
// STX, length and CRC-16 (byte-stuffed in protocol 2.0), with up to three attempts
// for a garbled answer and every frame in the exchange log while logging is on.
class TCanal {
public:
    TCanal();
    virtual ~TCanal() = default;
    TCanal(const TCanal&) = delete;
    TCanal& operator=(const TCanal&) = delete;

    // One request/answer. On success answer is the answer frame's payload; on failure
    // error holds the reason ("Устройство не отвечает", the port's text, ...).
    bool Exchange(std::string_view payload, bool withId, std::string& answer, std::string& error);

    // Longest answer time-out, ms; larger (and negative) values are taken as this.
    static constexpr uint32_t kMaxTimeout = 60000;

    // Answer time-out in ms; stores the matching port time-outs for the next opening.
    void SetTimeout(uint32_t ms);
    // 0: protocol 1.0, anything else: 2.0.
    void SetVersion(uint8_t version);
    void SetLogging(bool on);
    bool Logging() const;
    // The search's quick probe: no byte within ms of the request (its own line time
    // included) is no answer; once a byte has come the whole time-out applies. 0: off.
    void SetFirstByteWindow(uint32_t ms) { firstByteWindow_ = ms; }
    // Bytes that came before a request are read with its answer instead of purged: a
    // late answer from another place shows itself (the search only).
    void SetKeepArrived(bool keep) { keepArrived_ = keep; }

    // The port's error code when the last exchange failed at the port (0 otherwise).
    // Exchanges run on one thread; this is read on the same one.
    int LastPortError() const { return lastPortError_; }
    void ClearPortError() { lastPortError_ = 0; }

    // Whether the last 2.0 answer came after bytes that made no frame (noise, or answers
    // that collided); read on the exchanges' thread.
    bool LastHadJunk() const { return lastJunk_; }
    // Ms from the last request's sending to the first bytes of its answer (-1: none came);
    // the adapter's latency shows here. Read on the exchanges' thread.
    int LastFirstByteMs() const { return firstByteMs_; }

    uint8_t ProtocolVersion() const { return protocolVersion_; }
    uint32_t Timeout() const { return timeout_; }

    std::unique_ptr<TMyComPort> ComPort;

    bool ReceiveV1(std::string& answer, std::string& error);
    bool ReceiveV2(std::string& answer, std::string& error);

private:
    mutable std::mutex lock_; // guards logEnabled_ only
    bool logEnabled_ = false;
    uint8_t protocolVersion_ = 0;
    uint32_t timeout_ = 1000;
    int lastPortError_ = 0;
    uint32_t firstByteWindow_ = 0;
    bool keepArrived_ = false;
    bool lastJunk_ = false;
    std::chrono::steady_clock::time_point sent_{};
    int firstByteMs_ = -1;
    void FirstBytesCame();

    // The port's error text, remembering its code as the exchange's port failure.
    std::string PortFailure();
};

} // namespace tunavox
