#include "device/table_text.h"

#include "device/value_codec.h"

namespace tunavox {

std::string CodeText(const TReg& reg) {
    if (reg.RegType == rtHeader) return {};
    return DeviceErrorKey(reg.Addr);
}

std::string NameText(const TReg& reg) {
    if (reg.RegType == rtHeader || reg.Units.empty()) return reg.Name;
    return reg.Name + " [" + reg.Units + "]";
}

bool ShowsDeviceError(const TReg& reg) {
    const std::string error = reg.GetLastError();
    return error.size() == 1 && (error[0] == 1 || error[0] == 4);
}

std::string ValueText(const TReg& reg, const TNameValueList* errorTexts) {
    const std::string error = reg.GetLastError();
    if (error.size() == 1 && (error[0] == 1 || error[0] == 4))
        return DeviceErrorText(error[0], errorTexts);
    return reg.DisplayText();
}

std::string DelimitedField(const std::string& text, char separator) {
    // Control characters other than line breaks and tabs are shown, never written raw:
    // a NUL would end the line for many readers and hide what follows. So are U+0080 to
    // U+009F (a device's byte 0x98 arrives as U+0098), which Windows-1251 has no letter
    // for, as \xHH the way set files write them.
    static const char* const kHex = "0123456789ABCDEF";
    std::string shown;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const auto b = static_cast<unsigned char>(c);
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (b == 0xC2 && next >= 0x80 && next <= 0x9F) {
            shown += "\\x";
            shown += kHex[next >> 4];
            shown += kHex[next & 0xF];
            ++i;
        } else if ((b < 0x20 && c != '\r' && c != '\n' && c != '\t') || b == 0x7F) {
            shown += "\\x";
            shown += kHex[b >> 4];
            shown += kHex[b & 0xF];
        } else {
            shown += c;
        }
    }
    // As RFC 4180: a field with the separator, a quote or a line break is quoted, so a
    // text over two lines stays one field of one record.
    if (shown.find_first_of(std::string(1, separator) + "\"\r\n") == std::string::npos)
        return shown;
    std::string out = "\"";
    for (char c : shown) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

} // namespace tunavox
