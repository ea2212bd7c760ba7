#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
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

    // One device's answer on its way: its wire bytes, when they start on the pair, and
    // the request it answers (its end in the received stream).
    struct Outgoing {
        std::chrono::steady_clock::time_point Due;
        std::string Bytes;
        uint64_t Request = 0;
    };

    // Answer payload for one request payload (the ID flag from the length field) from
    // the device that takes it, or nothing when none answers.
    std::optional<std::string> Handle(const std::string& payload, bool withId);
    // Feeds received bytes; returns the wire bytes to send back (possibly several answers;
    // answers of several devices to one request already collided), delays left out.
    std::vector<std::string> Receive(const std::string& bytes);

    // One more device on the same line (a multi-drop RS-485 pair), with its own registers.
    // A device with an ID answers only requests with that ID; one without (0) answers
    // requests without an ID and those no other device takes. It answers delayMs after
    // the request, at its own protocol version (0: 1.0, 1: 2.0, -1: the line's). When
    // two answers overlap on the pair their bytes are OR-ed, as on a real bus: the CRC
    // fails unless they are the same bytes. Call before starting.
    void AddDevice(const TRegList& regs, uint32_t id, int delayMs = 0, int version = -1);
    // Puts another device (its registers from their default values) at every place with
    // that ID while running, as when a controller is swapped; false when no device has it.
    bool ReplaceDevice(uint32_t id, const TRegList& regs);

    // Gives the register at address of the device with that ID a value from its text (as
    // a description's defValue is read), as a unit's own serial number differs from its
    // type's: false when there is no such device or register or the text does not fit.
    bool SetValueOf(uint32_t id, uint16_t address, const std::string& text);
    // Takes the device with that ID off the line (powered down, its stub cut) or puts it
    // back: while off, it hears nothing. False when no device has the ID.
    bool SetPresent(uint32_t id, bool present);
    // A register of the first device, or of the device with that ID.
    TValue Value(uint16_t address) const;
    TValue ValueOf(uint32_t id, uint16_t address) const;
    // Switches the protocol version the line's devices speak (0: 1.0, else 2.0); a device
    // added with a version of its own keeps it.
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
        int DelayMs = 0;
        int Version = -1; // -1: the line's
        bool Off = false; // taken off the line: answers nothing
        std::map<uint16_t, Register> Registers;
    };
    // The request frames seen by a receiver of one protocol version.
    struct Receiver {
        std::string Buffer;
        uint64_t Base = 0; // stream position of Buffer[0]
        uint64_t Scan = 0; // next stream position to look at for an STX (protocol 1.0)
        // Candidate frames of protocol 1.0: (stream position of their end, of their STX),
        // nearest end first.
        std::priority_queue<std::pair<uint64_t, uint64_t>,
                            std::vector<std::pair<uint64_t, uint64_t>>, std::greater<>>
            Pending;
    };
    static Device DeviceOf(const TRegList& regs, uint32_t id);
    // The answer payloads of the devices speaking version that take the request.
    std::vector<std::pair<const Device*, std::string>> AnswersOf(const std::string& payload,
                                                               bool withId, uint8_t version);
    std::string AnswerOf(Device& device, const std::string& payload, size_t pos, uint32_t id,
                         bool withId);
    uint8_t VersionOf(const Device& d) const { return d.Version < 0 ? version_.load() : d.Version; }
    void Serve();
    // Waits up to ms for bytes from the line: their count, 0 for none, -1 when stopped.
    int ReadLine(std::string& chunk, int ms);
    // Takes what arrived; false when stopped meanwhile.
    bool Respond(const std::string& bytes);
    // Sends every answer due by now, overlapping ones collided; false when stopped.
    bool SendDue();
    // Milliseconds until the next answer is due, or -1 for none.
    int NextDueMs() const;
    std::string Frame(const std::string& payload, bool withId, uint8_t version) const;
    void ReceivePlain(Receiver& r, std::vector<Outgoing>& out);
    void ReceiveStuffed(Receiver& r, std::vector<Outgoing>& out);
    // Counts one request frame (once for both receivers) and queues its answers.
    void Answer(const std::string& frame, uint64_t end, uint8_t version,
                std::vector<Outgoing>& out);
    std::vector<Outgoing> Take(const std::string& bytes);
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
    Receiver plain_, stuffed_;
    // Stream ends of the last requests counted: one chunk of bytes may hold several
    // requests, each read by both receivers in turn.
    std::deque<uint64_t> counted_;
    std::vector<Outgoing> outgoing_;    // answers waiting for their time (serving thread)
#ifdef _WIN32
    std::unique_ptr<TMyComPort> port_; // the serial port served
    std::mutex pauseLock_;
    std::condition_variable pauseWake_; // ends pauses on Stop
    int readWaitMs_ = -1;               // the read time-out set on the port
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

// Parses FILE[:ID[:DELAY_MS[:VERSION]]] (VERSION 1 or 2) of tunavox-sim --device.
bool ParseSimDevice(const std::string& text, std::string& file, uint32_t& id, int& delayMs,
                    int& version);

// Parses one --fault switch: silent, badcrc, noise, split, wrong-addr, wrong-id,
// delay=MS, error=ADDR:CODE, keep=ADDR. False for anything else.
bool ParseSimFault(const std::string& text, TSimFaults& faults);

} // namespace tunavox
