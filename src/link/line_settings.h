#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace tunavox {

// Parity codes.
enum TParity : uint8_t { parNone = 0, parOdd = 1, parEven = 2, parMark = 3, parSpace = 4 };
// Stop bit codes: 0 one, 1 one and a half, 2 two.
enum TStopBits : uint8_t { sbOne = 0, sbOneHalf = 1, sbTwo = 2 };

// The four line settings a description carries.
struct TLineSettings {
    uint32_t BaudRate = 9600;
    uint8_t ByteSize = 8;
    uint8_t Parity = parNone;
    uint8_t StopBits = sbOne;
    bool operator==(const TLineSettings&) const = default;
};

// Parses "baud-data-parity-stop" such as "9600-8-N-1". Parity is decided by the first
// letter of its field (N, O, E, M, S in either case); stop bits are 1 or 2; fields
// after the fourth are ignored. On failure settings are left unchanged.
bool ParseSettingsText(std::string_view text, TLineSettings& settings);
// The settings as a description writes them: "19200-8-E-1".
std::string SettingsText(const TLineSettings& settings);

// Milliseconds one character takes on the line: 0 at 0 baud, else
// (data bits + 1 + stop code + parity bit) * 1000 / baud.
double CharTime(const TLineSettings& settings);

// How long an answer's first byte may take once a request is out, ms: a device that
// needs longer is taken for silent by a quick probe (the search, a silent device's reads).
constexpr int kFirstByteWindowMs = 10;
// A quick probe's wait: a request's time on the line (12 characters) plus that window.
int ProbeWindowMs(const TLineSettings& settings);

} // namespace tunavox
