#include "device/value_codec.h"

#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "util/cp1251.h"
#include "util/integer_text.h"

namespace tunavox {
namespace {

std::atomic<char> g_separator{'.'};

bool IntegerRange(uint8_t regType, int64_t& lo, int64_t& hi) {
    switch (regType) {
    case rtByte:
        lo = INT8_MIN;
        hi = INT8_MAX;
        return true;
    case rtWord:
        lo = INT16_MIN;
        hi = INT16_MAX;
        return true;
    case rtLong:
        lo = INT32_MIN;
        hi = INT32_MAX;
        return true;
    case rtUByte:
        lo = 0;
        hi = UINT8_MAX;
        return true;
    case rtUWord:
        lo = 0;
        hi = UINT16_MAX;
        return true;
    case rtULong:
        lo = 0;
        hi = UINT32_MAX;
        return true;
    default:
        return false;
    }
}

TValue IntegerValue(uint8_t regType, int64_t v) {
    switch (regType) {
    case rtByte:
        return TValue(static_cast<int8_t>(v));
    case rtWord:
        return TValue(static_cast<int16_t>(v));
    case rtLong:
        return TValue(static_cast<int32_t>(v));
    case rtUByte:
        return TValue(static_cast<uint8_t>(v));
    case rtUWord:
        return TValue(static_cast<uint16_t>(v));
    default:
        return TValue(static_cast<uint32_t>(v));
    }
}

// Parses a real written with the current separator: optional blanks around, sign,
// digits with at most one separator, optional exponent. No "inf" or "nan".
bool ParseReal(std::string_view text, char separator, float& out) {
    size_t b = 0, e = text.size();
    while (b < e && (text[b] == ' ' || text[b] == '\t'))
        ++b;
    while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t'))
        --e;
    std::string s(text.substr(b, e - b));
    if (!s.empty() && s[0] == '+') s.erase(0, 1);
    bool digits = false;
    for (char& c : s) {
        if (c >= '0' && c <= '9') {
            digits = true;
        } else if (c == separator) {
            c = '.';
        } else if (c == '.') {
            return false; // a point is no separator in a comma locale
        } else if (c != '-' && c != '+' && c != 'e' && c != 'E') {
            return false;
        }
    }
    if (!digits) return false;
    const auto res = std::from_chars(s.data(), s.data() + s.size(), out);
    return res.ec == std::errc() && res.ptr == s.data() + s.size() && std::isfinite(out);
}

std::string WithSeparator(std::string s) {
    const char sep = g_separator.load(std::memory_order_relaxed);
    if (sep != '.')
        for (char& c : s)
            if (c == '.') c = sep;
    return s;
}

} // namespace

void SetDecimalSeparator(char separator) {
    g_separator.store(separator, std::memory_order_relaxed);
}
char DecimalSeparator() {
    return g_separator.load(std::memory_order_relaxed);
}

bool TextToValue(std::string_view text, uint8_t regType, TValue& value) {
    value = TValue();
    if (regType == rtStr) {
        value = TValue(std::string(text));
        return true;
    }
    if (regType == rtFloat) {
        const char sep = DecimalSeparator();
        const char other = sep == '.' ? ',' : '.';
        std::string s(text);
        if (s.find(sep) == std::string::npos) {
            const size_t at = s.find(other);
            if (at != std::string::npos) s[at] = sep;
        }
        float f = 0;
        if (!ParseReal(s, sep, f)) return false;
        value = TValue(static_cast<double>(f));
        return true;
    }
    int64_t lo = 0, hi = 0, v = 0;
    if (!IntegerRange(regType, lo, hi)) return false;
    if (!ParseIntegerText(text, v) || v < lo || v > hi) return false;
    value = IntegerValue(regType, v);
    return true;
}

std::string TextProblem(std::string_view text, uint8_t regType) {
    TValue v;
    if (TextToValue(text, regType, v)) return {};
    if (regType == rtFloat) {
        // A number too large for single precision reads as a form error: say both.
        return std::string("нужно число, например 12") + DecimalSeparator() + "5 (не больше 3" +
               DecimalSeparator() + "4·10^38 по модулю)";
    }
    int64_t lo = 0, hi = 0, n = 0;
    if (!IntegerRange(regType, lo, hi)) return "значение этого типа не вводится";
    const std::string range = "от " + std::to_string(lo) + " до " + std::to_string(hi);
    if (ParseIntegerText(text, n)) return "допустимо " + range;
    return "нужно целое число " + range;
}

std::string VariantText(const TValue& value) {
    if (value.IsNull() || value.IsEmpty()) return {};
    if (value.IsString()) return std::get<std::string>(value.Get());
    int64_t i = 0;
    if (value.AsInt64(i)) return std::to_string(i);
    double d = 0;
    value.AsDouble(d);
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, 15);
    return WithSeparator(std::string(buf, res.ptr));
}

uint32_t FloatBits(const TValue& value) {
    double d = 0;
    value.AsDouble(d);
    uint64_t wide = 0;
    std::memcpy(&wide, &d, sizeof wide);
    if (std::isnan(d)) {
        // The payload's top 23 bits, quiet bit included, as the float held them.
        auto bits =
            static_cast<uint32_t>(((wide >> 63) << 31) | 0x7F800000u | ((wide >> 29) & 0x7FFFFFu));
        if ((bits & 0x7FFFFFu) == 0) bits |= 0x400000u; // still a NaN
        return bits;
    }
    const float f = static_cast<float>(d);
    uint32_t bits = 0;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

TValue FloatFromBits(uint32_t bits) {
    if ((bits & 0x7F800000u) == 0x7F800000u && (bits & 0x7FFFFFu) != 0) {
        const uint64_t wide = (uint64_t{bits >> 31} << 63) | (uint64_t{0x7FF} << 52) |
                              (uint64_t{bits & 0x7FFFFFu} << 29);
        double d = 0;
        std::memcpy(&d, &wide, sizeof d);
        return TValue(d);
    }
    float f = 0;
    std::memcpy(&f, &bits, sizeof f);
    return TValue(static_cast<double>(f));
}

std::string ExactFloatText(const TValue& value) {
    if (!value.IsReal()) return VariantText(value);
    const uint32_t bits = FloatBits(value);
    float f = 0;
    std::memcpy(&f, &bits, sizeof f);
    char buf[64];
    if (std::isnan(f)) {
        std::snprintf(buf, sizeof buf, "NaN 0x%08X", bits);
        return buf;
    }
    const auto res = std::to_chars(buf, buf + sizeof buf, f);
    return WithSeparator(std::string(buf, res.ptr));
}

std::string FloatText(int prec, const TValue& value) {
    if (!value.IsReal()) return VariantText(value);
    const double d = static_cast<double>(static_cast<float>(std::get<double>(value.Get())));
    prec = prec < 0 ? 0 : (prec > 18 ? 18 : prec);
    char buf[128];
    const auto res = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed, prec);
    if (res.ec != std::errc()) return VariantText(value);
    return WithSeparator(std::string(buf, res.ptr));
}

bool BytesToValue(std::string_view bytes, uint8_t regType, TValue& value) {
    value = TValue::MakeNull();
    if (regType == rtStr) {
        value = TValue(Cp1251ToUtf8(bytes));
        return true;
    }
    const int size = FixedSize(regType);
    if (size < 0 || bytes.size() != static_cast<size_t>(size)) return false;
    uint32_t raw = 0;
    for (char c : bytes)
        raw = (raw << 8) | static_cast<unsigned char>(c);
    switch (regType) {
    case rtByte:
        value = TValue(static_cast<int8_t>(raw));
        break;
    case rtWord:
        value = TValue(static_cast<int16_t>(raw));
        break;
    case rtLong:
        value = TValue(static_cast<int32_t>(raw));
        break;
    case rtUByte:
        value = TValue(static_cast<uint8_t>(raw));
        break;
    case rtUWord:
        value = TValue(static_cast<uint16_t>(raw));
        break;
    case rtULong:
        value = TValue(raw);
        break;
    case rtFloat:
        value = FloatFromBits(raw);
        break;
    default:
        return false;
    }
    return true;
}

bool ValueToBytes(const TValue& value, uint8_t regType, std::string& bytes) {
    bytes.clear();
    if (regType == rtStr) {
        bytes = Utf8ToCp1251(VariantText(value));
        return true;
    }
    const int size = FixedSize(regType);
    if (size < 0) return false;
    uint32_t raw = 0;
    if (regType == rtFloat) {
        double d = 0;
        if (value.AsDouble(d)) {
            raw = FloatBits(value);
        } else {
            TValue parsed;
            if (!value.IsString() || !TextToValue(VariantText(value), rtFloat, parsed))
                return false;
            raw = FloatBits(parsed);
        }
    } else {
        int64_t i = 0;
        double d = 0;
        if (value.AsInt64(i)) {
        } else if (value.AsDouble(d)) {
            if (!std::isfinite(d) || std::fabs(d) > 9.0e18) return false;
            i = std::llround(d);
        } else if (!value.IsString() || !ParseIntegerText(VariantText(value), i)) {
            return false;
        }
        raw = static_cast<uint32_t>(static_cast<uint64_t>(i));
    }
    for (int k = size - 1; k >= 0; --k)
        bytes += static_cast<char>((raw >> (8 * k)) & 0xFF);
    return true;
}

std::string TypeName(uint8_t regType) {
    static const char* const kNames[] = {"Str",   "Byte",  "Word",  "Long",  "UByte",
                                         "UWord", "ULong", "Float", "Header"};
    return regType <= rtHeader ? kNames[regType] : "";
}

bool StatusToError(uint8_t status, std::string& errorText) {
    const int code = status & 0x7F;
    if (code == 0) {
        errorText.clear();
        return true;
    }
    errorText = std::string(1, static_cast<char>(code));
    return false;
}

std::string DeviceErrorKey(int64_t code) {
    static const char* const kHex = "0123456789ABCDEF";
    // Codes are 32-bit in description files; a negative one shows as its bit pattern.
    uint32_t u = static_cast<uint32_t>(code);
    std::string digits;
    do {
        digits.insert(digits.begin(), kHex[u & 0xF]);
        u >>= 4;
    } while (u != 0);
    if (digits.size() < 2) digits.insert(digits.begin(), '0');
    return "0x" + digits;
}

std::string DeviceErrorText(int code, const TNameValueList* texts) {
    const std::string key = DeviceErrorKey(code);
    if (texts)
        if (const std::string* text = texts->FindByName(key)) return *text;
    switch (code) {
    case 1:
        return "не поддерживается";
    case 2:
        return "попытка записи некорректного значения";
    case 3:
        return "отказано в записи";
    case 4:
        return "отказано в чтении";
    case 5:
        return "значение выходит за пределы допустимого диапазона";
    case 127:
        return "общая ошибка чтения/записи";
    default:
        return "ошибка с кодом " + key;
    }
}

std::string ErrorTextInWords(const std::string& errorText, const TNameValueList* texts) {
    if (errorText.size() == 1)
        return DeviceErrorText(static_cast<unsigned char>(errorText[0]), texts);
    return errorText;
}

void ReverseBytes(const void* source, void* destination, size_t n) {
    const auto* s = static_cast<const unsigned char*>(source);
    auto* d = static_cast<unsigned char*>(destination);
    for (size_t i = 0; i < n; ++i)
        d[i] = s[n - 1 - i];
}

int FixedSize(uint8_t regType) {
    switch (regType) {
    case rtByte:
    case rtUByte:
        return 1;
    case rtWord:
    case rtUWord:
        return 2;
    case rtLong:
    case rtULong:
    case rtFloat:
        return 4;
    default:
        return -1;
    }
}

} // namespace tunavox
