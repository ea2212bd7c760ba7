#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <queue>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "device/reg.h"
#include "link/line_settings.h"

namespace tunavox {

class TMyComPort;

// Ways the simulated device can misbehave, for tests and training.
struct TSimFaults {
    bool Silent = false; // never answers
    bool BadCrc = false; // answers with a broken CRC
    bool Noise = false;  // sends junk bytes before each answer
    bool Split = false;  // sends each answer in two parts with a pause
    bool WrongAddress = false;
    bool WrongId = false;
    int DelayMs = 0;                        // waits before answering
    std::map<uint16_t, uint8_t> ErrorCodes; // address -> device error code
    std::set<uint16_t> KeepValue;           // writes are acknowledged but not stored
};

struct TSimOptions {
    uint8_t Version = 1;        // 0: protocol 1.0, else 2.0
    uint32_t DeviceId = 0;      // 0: answer every request; else only requests with this ID
    bool BaudEmulation = false; // pace answers as the line would at the description's rate
    bool Animate = false; // read-only numbers drift around their value (a slow sine), for demos
    TLineSettings Line;   // the description's line settings
    TSimFaults Faults;
};

// A device driven by a description: registers start from their default value (else
// 0, 0.0 or the empty text) and keep what is written. Read-only registers refuse a
// write with code 3, write-only ones a read with code 4, unknown addresses answer 1.
// Bytes before an STX (wake-up preambles) are skipped.
class TDeviceSimulator {
public:
    TDeviceSimulator(const TRegList& regs, TSimOptions options);
    ~TDeviceSimulator();
    TDeviceSimulator(const TDeviceSimulator&) = delete;
    TDeviceSimulator& operator=(const TDeviceSimulator&) = delete;

    // Creates a pseudo-terminal and serves its device side; returns the device path
    // the program opens (and, with link, makes link a symbolic link to it). Empty and
    // a message in error on failure (always on Windows, which has none).
    std::string StartPty(const std::string& link, std::string& error);
    // Serves a real serial port with the description's line settings.
    bool StartPort(const std::string& device, std::string& error);
    void Stop();

    // Answer payload for one request payload (the ID flag from the length field), or
    // nothing when the device stays silent.
    std::optional<std::string> Handle(const std::string& payload, bool withId);
    // Feeds received bytes; returns the wire bytes to send back (possibly several answers).
    std::vector<std::string> Receive(const std::string& bytes);

    // One more device on the same line (a multi-drop RS-485 pair), with its own registers.
    // A device with an ID answers only requests with that ID; one without (0) answers
    // requests without an ID and those no other device takes. When two devices answer
    // at once their answers collide: the frame arrives garbled. Call before starting.
    void AddDevice(const TRegList& regs, uint32_t id);

    // A register of the first device, or of the device with that ID.
    TValue Value(uint16_t address) const;
    TValue ValueOf(uint32_t id, uint16_t address) const;
    // Switches the protocol version the device speaks (0: 1.0, else 2.0).
    void SetVersion(uint8_t version);
    void SetFaults(const TSimFaults& faults);
    void SetAnimate(bool on) { animate_ = on; }
    size_t RequestCount() const { return requests_; }
    // Requests that were not reads (writes and anything else).
    size_t OtherRequestCount() const { return otherRequests_; }

private:
    struct Register {
        uint8_t Type = 0;
        uint8_t Io = 0;
        TValue Value;
        bool Named = false; // has a list of named values: not animated past it
    };
    struct Device {
        uint32_t Id = 0;
        std::map<uint16_t, Register> Registers;
    };
    static Device DeviceOf(const TRegList& regs, uint32_t id);
    void Serve();
    // Answers what arrived; false when stopped meanwhile.
    bool Respond(const std::string& bytes);
    std::string Frame(const std::string& payload, bool withId) const;
    void ReceivePlain(std::vector<std::string>& out);
    void ReceiveStuffed(std::vector<std::string>& out);
    // Counts one request frame and queues its answer's wire bytes, if any.
    void Answer(const std::string& frame, std::vector<std::string>& out);
    // Sleeps ms unless stopped meanwhile; false when stopped.
    bool Pause(int ms);
    // Writes to the line within kWriteLimitMs; false when stopped.
    bool Send(const std::string& bytes);

    static constexpr int kWriteLimitMs = 2000;

    TSimOptions options_;
    std::atomic<uint8_t> version_;
    std::atomic<bool> animate_{false};
    mutable std::mutex lock_;     // guards devices_, collision_ and options_.Faults
    std::vector<Device> devices_; // the first is the options' own
    bool collision_ = false;      // the last request was answered by two devices at once
    std::string buffer_;
    uint64_t base_ = 0; // stream position of buffer_[0]
    uint64_t scan_ = 0; // next stream position to look at for an STX (protocol 1.0)
    // Candidate frames of protocol 1.0: (stream position of their end, of their STX),
    // nearest end first.
    std::priority_queue<std::pair<uint64_t, uint64_t>, std::vector<std::pair<uint64_t, uint64_t>>,
                        std::greater<>>
        pending_;
#ifdef _WIN32
    std::unique_ptr<TMyComPort> port_; // the serial port served
    std::mutex pauseLock_;
    std::condition_variable pauseWake_; // ends pauses on Stop
#else
    int fd_ = -1;     // the side the simulator reads and writes
    int keepFd_ = -1; // a pty's device side, held open so the line never hangs up
    int wakeFd_ = -1;
    std::string link_;
    std::string linkTarget_;
#endif
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<size_t> requests_{0};
    std::atomic<size_t> otherRequests_{0};
};

// Parses one --fault switch: silent, badcrc, noise, split, wrong-addr, wrong-id,
// delay=MS, error=ADDR:CODE, keep=ADDR. False for anything else.
bool ParseSimFault(const std::string& text, TSimFaults& faults);

} // namespace tunavox
