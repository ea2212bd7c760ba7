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
    // a NUL would end the line for many readers and hide what follows.
    std::string shown;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if ((b < 0x20 && c != '\r' && c != '\n' && c != '\t') || b == 0x7F) {
            static const char* const kHex = "0123456789ABCDEF";
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
