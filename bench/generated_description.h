#pragma once
// A large description for the benchmarks: groups of 50 registers of every type.
#include <cstdio>
#include <string>

#include "device/description.h"
#include "device/signature.h"
#include "util/cp1251.h"

namespace tunavox::bench {

inline std::string GeneratedDescription(int registers) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n"
                      "<DEVICE name=\"Генератор\" serial=\"9600-8-N-1\">\r\n"
                      "  <ERRORS><ERR code=\"0x10\" text=\"ошибка\"/></ERRORS>\r\n"
                      "  <REGISTERS>\r\n";
    static const char* const kTypes[] = {"Str",   "Byte",  "Word",  "Long",
                                         "UByte", "UWord", "ULong", "Float"};
    for (int i = 0; i < registers; ++i) {
        if (i % 50 == 0) xml += "    <REG header=\"Группа " + std::to_string(i / 50) + "\"/>\r\n";
        xml += "    <REG addr=\"" + std::to_string(i) + "\" type=\"" + kTypes[i % 8] +
               "\" io=\"RW\" poll=\"" + std::to_string(i % 2) + "\" admin=\"" +
               std::to_string(i % 7 == 0) + "\" defValue=\"1\"><name>Параметр " +
               std::to_string(i) + "</name><units>ед.</units><desc>Описание параметра</desc>";
        if (i % 10 == 0)
            xml += "<values><item value=\"0\" text=\"выкл\"/><item value=\"1\" "
                   "text=\"вкл\"/></values>";
        xml += "</REG>\r\n";
    }
    xml += "  </REGISTERS>\r\n</DEVICE>\r\n";
    return Utf8ToCp1251(xml);
}

// Writes and signs the generated description at path and loads it; the loader's error.
inline std::string LoadGeneratedDescription(const std::string& path, int registers, TRegList& regs,
                                            TNameValueList& errors, TDescription& desc) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return "cannot write " + path;
    const std::string bytes = GeneratedDescription(registers);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    SignDescriptionFile(path);
    return LoadDescription(path, regs, errors, desc, "./");
}

} // namespace tunavox::bench
