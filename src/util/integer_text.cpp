#include "util/integer_text.h"

#include <limits>

namespace tunavox {
namespace {

struct Parsed {
    bool negative = false;
    bool hex = false;
    uint64_t magnitude = 0;
};

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ParseParts(std::string_view s, Parsed& p) {
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
        ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        p.negative = s[i] == '-';
        ++i;
    }
    if (i < s.size() && s[i] == '$') {
        p.hex = true;
        ++i;
    } else if (i < s.size() && (s[i] == 'x' || s[i] == 'X')) {
        p.hex = true;
        ++i;
    } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        p.hex = true;
        i += 2;
    }
    if (i >= s.size()) return false;
    const uint64_t base = p.hex ? 16 : 10;
    // Magnitudes above 2^63 can never be accepted, so stop there.
    constexpr uint64_t kLimit = uint64_t{1} << 63;
    for (; i < s.size(); ++i) {
        const int d = HexDigit(s[i]);
        if (d < 0 || (!p.hex && d > 9)) return false;
        if (p.magnitude > (kLimit - static_cast<uint64_t>(d)) / base) return false;
        p.magnitude = p.magnitude * base + static_cast<uint64_t>(d);
    }
    return true;
}

} // namespace

bool ParseIntegerText(std::string_view text, int64_t& out) {
    Parsed p;
    if (!ParseParts(text, p)) return false;
    constexpr uint64_t kLimit = uint64_t{1} << 63;
    if (p.negative) {
        out = p.magnitude == kLimit ? std::numeric_limits<int64_t>::min()
                                    : -static_cast<int64_t>(p.magnitude);
        return true;
    }
    if (p.magnitude >= kLimit) return false;
    out = static_cast<int64_t>(p.magnitude);
    return true;
}

bool ParseInt32Text(std::string_view text, int32_t& out) {
    Parsed p;
    if (!ParseParts(text, p)) return false;
    if (p.hex && p.magnitude <= 0xFFFFFFFFull) {
        const auto bits = static_cast<uint32_t>(p.magnitude);
        const auto value = static_cast<int32_t>(bits);
        out = p.negative ? static_cast<int32_t>(0u - bits) : value;
        return true;
    }
    const int64_t v =
        p.negative ? -static_cast<int64_t>(p.magnitude) : static_cast<int64_t>(p.magnitude);
    if (p.magnitude > 0x80000000ull || v < std::numeric_limits<int32_t>::min() ||
        v > std::numeric_limits<int32_t>::max())
        return false;
    out = static_cast<int32_t>(v);
    return true;
}

} // namespace tunavox
