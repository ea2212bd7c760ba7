#pragma once
// What a search of a line knows and finds: the device types of the catalogue with the
// registers that tell them apart, the places tried, and what answered there.
#include <cstdint>
#include <string>
#include <vector>

#include "device/catalogue.h"
#include "device/reg.h"
#include "link/line_settings.h"

namespace tunavox {

// One register read to find or recognise a device.
struct TScanRegister {
    uint16_t Addr = 0;
    uint8_t RegType = 0;
    bool operator==(const TScanRegister&) const = default;
};

// A device type of the catalogue as the search uses it.
struct TScanType {
    std::string Path;        // the description file
    std::string FileName;    // without its folder
    std::string Name;        // the description's name
    TLineSettings Line;      // its line settings ("serial"), or the port's default
    uint32_t Timeout = 1000; // its answer time-out, ms
    // The probe register first (the row at 0xFFFD, else the first readable row), then up
    // to two more readable registers, fixed-size types before texts.
    std::vector<TScanRegister> Checks;
};

// The registers a search reads for a description: empty when it has no readable row.
std::vector<TScanRegister> ScanChecks(const TRegList& regs);

// Loads every description of the catalogue (each verified as "Открыть" would); those
// that do not load are left out, with "file: reason" in problems.
std::vector<TScanType> LoadScanTypes(const std::vector<TCatalogueEntry>& catalogue,
                                     const std::string& programFolder,
                                     std::vector<std::string>& problems);

// Device types sharing one line setting, and the distinct probe registers they need:
// one request serves every type with the same probe register.
struct TScanGroup {
    TLineSettings Line;
    std::vector<size_t> Types;         // indices into the types
    std::vector<TScanRegister> Probes; // distinct, in catalogue order
    uint32_t LongestTimeout = 0;       // the longest answer time-out of its types
};
std::vector<TScanGroup> GroupScanTypes(const std::vector<TScanType>& types);

// A silent place costs this much by default: the request's time on the line at the
// group's settings plus the first byte's window.
int DefaultProbeTimeout(const TScanGroup& group);

// What to try, in this order: each port; direct, then gateway; 2.0, then 1.0; each line
// setting; a request without an ID, then every ID of the range.
struct TScanOptions {
    std::vector<std::string> Ports;
    uint32_t FirstId = 1;
    uint32_t LastId = 255;
    std::vector<bool> Gateway{false, true};
    std::vector<uint8_t> Versions{1, 0}; // as the channel takes them: 0 is 1.0
    int ProbeTimeoutMs = 0;              // 0: each group's default
};

// Parses "A-B" or a single ID; false with the reason.
bool ParseIdRange(const std::string& text, uint32_t& first, uint32_t& last, std::string& error);

enum class TScanKind {
    Device,     // answered and recognised as one or more device types
    Unknown,    // answered, but as none of the catalogue's types
    Garbled,    // a damaged answer: interference, or two devices with one ID
    PortFailed, // the port could not be opened or was lost
};

// One place that answered (or a port that failed).
struct TScanResult {
    TScanKind Kind = TScanKind::Device;
    std::string Port;
    bool Gateway = false;
    uint8_t Version = 1;
    bool WithId = false;
    uint32_t Id = 0;
    std::vector<size_t> Types; // indices into the types, for Device
    int AnswerMs = 0;          // the confirming exchange's time
    std::string Error;         // PortFailed: the message
};

// "напрямую" or "через шлюз".
std::string ScanModeText(bool gateway);
// "2.0" or "1.0".
std::string ScanVersionText(uint8_t version);
// The ID, or "без ID".
std::string ScanIdText(const TScanResult& result);
// The device types' names (joined by " / "), "неизвестное устройство", "помехи или
// несколько устройств с одним ID", or the port's message.
std::string ScanWhatText(const TScanResult& result, const std::vector<TScanType>& types);
// One line for the command line: port;mode;version;ID;what;N мс.
std::string ScanResultLine(const TScanResult& result, const std::vector<TScanType>& types);
// "Найдено устройств: N за T с".
std::string ScanSummary(int devices, int64_t elapsedMs);
// With answers no place owned: how many, and how to catch slow devices; else empty.
std::string ScanUnplacedText(int unplaced);
// "осталось около 1 мин 05 с" and the like, for the progress.
std::string ScanTimeText(int64_t ms);

} // namespace tunavox
