#include "link/line_settings.h"

#include <algorithm>
#include <cmath>

#include <string>
#include <vector>

#include "util/integer_text.h"

namespace tunavox {
namespace {

bool ParseField(std::string_view field, int32_t& out) {
    // A minus sign cannot occur (the hyphen separates fields), so the number is never negative.
    return !field.empty() && field.find('-') == std::string_view::npos &&
           ParseInt32Text(field, out) && out >= 0;
}

} // namespace

std::string SettingsText(const TLineSettings& s) {
    static const char kParity[] = "NOEMS";
    return std::to_string(s.BaudRate) + "-" + std::to_string(s.ByteSize) + "-" +
           kParity[s.Parity % 5] + "-" + (s.StopBits == sbTwo ? "2" : "1");
}

bool ParseSettingsText(std::string_view text, TLineSettings& settings) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    while (fields.size() < 4) {
        const size_t dash = text.find('-', start);
        if (dash == std::string_view::npos) {
            fields.push_back(text.substr(start));
            break;
        }
        fields.push_back(text.substr(start, dash - start));
        start = dash + 1;
    }
    if (fields.size() < 4) return false;
    for (auto f : fields)
        if (f.empty()) return false;
    int32_t baud = 0, data = 0, stop = 0;
    if (!ParseField(fields[0], baud) || !ParseField(fields[1], data) ||
        !ParseField(fields[3], stop))
        return false;
    if (data < 5 || data > 8 || (stop != 1 && stop != 2)) return false;
    uint8_t parity = 0;
    switch (fields[2][0]) {
    case 'N':
    case 'n':
        parity = parNone;
        break;
    case 'O':
    case 'o':
        parity = parOdd;
        break;
    case 'E':
    case 'e':
        parity = parEven;
        break;
    case 'M':
    case 'm':
        parity = parMark;
        break;
    case 'S':
    case 's':
        parity = parSpace;
        break;
    default:
        return false;
    }
    settings.BaudRate = static_cast<uint32_t>(baud);
    settings.ByteSize = static_cast<uint8_t>(data);
    settings.Parity = parity;
    settings.StopBits = stop == 1 ? sbOne : sbTwo;
    return true;
}

double CharTime(const TLineSettings& s) {
    if (s.BaudRate == 0) return 0.0;
    const int bits = s.ByteSize + 1 + s.StopBits + (s.Parity != parNone ? 1 : 0);
    return bits * 1000.0 / s.BaudRate;
}

int ProbeWindowMs(const TLineSettings& settings) {
    const double ms = CharTime(settings) * 12.0 + kFirstByteWindowMs;
    return std::max(kFirstByteWindowMs, static_cast<int>(std::ceil(ms)));
}

} // namespace tunavox
