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
    if (text.find(separator) == std::string::npos && text.find('"') == std::string::npos)
        return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

} // namespace tunavox
