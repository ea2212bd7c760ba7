#pragma once
#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <string>

#include "device/name_value_list.h"

namespace tunavox {

// Counts the exchanges the worker did: all of them, the failed ones by error text,
// and the rate over the last 10 s. Recorded on the worker, read on the main thread.
class TExchangeStats {
public:
    using Clock = std::chrono::steady_clock;

    // An exchange with the device of that ID (0 without one) ended with error ("" for
    // none); its answer began firstByteMs after the request (-1: no answer came).
    void Record(const std::string& error, Clock::time_point at = Clock::now(), uint32_t device = 0,
                int firstByteMs = -1);
    // The port was lost for that long and came back.
    void RecordOutage(std::chrono::milliseconds length);
    void Reset();

    struct Snapshot {
        uint64_t Done = 0;
        uint64_t Failed = 0;
        double Rate = 0; // exchanges per second over the last 10 s (or since the first)
        std::map<std::string, uint64_t> Failures;
        uint64_t Outages = 0; // times the port was lost and came back
        std::chrono::milliseconds OutageTime{0};
        struct TDevice {
            uint64_t Done = 0;
            uint64_t Failed = 0;
        };
        std::map<uint32_t, TDevice> Devices; // by device ID
        // From request to the answer's first bytes, over the answers of the last 10 s.
        uint64_t Answers = 0;
        double FirstByteMs = 0; // mean
        int FirstByteMinMs = 0;
    };
    Snapshot Take(Clock::time_point now = Clock::now()) const;

    // "Обмен: 1234, ошибок: 3, 37/с"; after an outage also "обрывов связи: 1".
    static std::string Text(const Snapshot& s);
    // One line per error, in words (a device's code by its text): "Устройство не отвечает: 3";
    // then the answers' first-byte time.
    static std::string Hint(const Snapshot& s, const TNameValueList* errorTexts = nullptr);
    // One line per device when there are several: "ID 17: обмен 120, ошибок 3".
    static std::string DevicesText(const Snapshot& s);

    static constexpr std::chrono::seconds kWindow{10};

private:
    mutable std::mutex lock_;
    uint64_t done_ = 0;
    uint64_t failed_ = 0;
    std::map<std::string, uint64_t> failures_;
    std::map<uint32_t, Snapshot::TDevice> devices_;
    uint64_t outages_ = 0;
    std::chrono::milliseconds outageTime_{0};
    Clock::time_point started_; // the first exchange counted
    mutable std::deque<Clock::time_point> recent_;
    mutable std::deque<std::pair<Clock::time_point, int>> firstBytes_;
};

} // namespace tunavox
