#include "export/table_export.h"

#include <cstdio>

#include "device/table_text.h"
#include "util/cp1251.h"
#include "xml/xml_document.h"

namespace tunavox {

std::string HtmlEscaped(const std::string& s) {
    std::string out;
    AppendEscaped(out, s);
    return out;
}

namespace {

// Decodes UTF-8 into code points; stray bytes stand for themselves.
std::vector<uint32_t> CodePoints(const std::string& s) {
    std::vector<uint32_t> out;
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
        uint32_t cp = extra == 3 ? b & 0x07 : extra == 2 ? b & 0x0F : extra == 1 ? b & 0x1F : b;
        if (i + static_cast<size_t>(extra) >= s.size() + (extra ? 0 : 1)) extra = 0, cp = b;
        for (int k = 1; k <= extra; ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(s[i + static_cast<size_t>(k)]) & 0x3F);
        out.push_back(cp);
        i += static_cast<size_t>(extra) + 1;
    }
    return out;
}

std::string RtfEscaped(const std::string& s) {
    std::string out;
    for (uint32_t cp : CodePoints(s)) {
        if (cp == '\\' || cp == '{' || cp == '}') {
            out += '\\';
            out += static_cast<char>(cp);
        } else if (cp >= 0x20 && cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x20) {
            out += ' ';
        } else {
            // \uN takes a signed 16-bit number; characters beyond the BMP as a surrogate pair.
            auto unit = [&out](uint32_t u) {
                out += "\\u" + std::to_string(static_cast<int16_t>(u)) + "?";
            };
            if (cp > 0xFFFF) {
                cp -= 0x10000;
                unit(0xD800 + (cp >> 10));
                unit(0xDC00 + (cp & 0x3FF));
            } else {
                unit(cp);
            }
        }
    }
    return out;
}

} // namespace

TTableTexts CollectTableTexts(const TRegList* regs, const TNameValueList* errorTexts) {
    TTableTexts t;
    if (!regs) return t;
    for (int i = 0; i < regs->Count(); ++i) {
        const TReg& r = *regs->Items(i);
        t.Rows.push_back({"", CodeText(r), NameText(r), ValueText(r, errorTexts)});
    }
    return t;
}

std::string ExportCsv(const TTableTexts& table, char separator) {
    std::string out;
    auto line = [&](const std::array<std::string, 4>& cells) {
        for (size_t i = 0; i < cells.size(); ++i) {
            if (i) out += separator;
            out += DelimitedField(cells[i], separator);
        }
        out += "\r\n";
    };
    line(table.Captions);
    for (const auto& row : table.Rows)
        line(row);
    return Utf8ToCp1251(out);
}

std::string ExportHtml(const TTableTexts& table, const std::string& caption) {
    std::string out = "<!DOCTYPE html>\r\n<html>\r\n<head>\r\n"
                      "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\r\n"
                      "<title>" +
                      HtmlEscaped(caption) +
                      "</title>\r\n"
                      "<style>\r\n"
                      "table { border-collapse: collapse; font-family: Tahoma, Arial, sans-serif; "
                      "font-size: 10pt; }\r\n"
                      "caption { font-weight: bold; padding: 4px; }\r\n"
                      "th, td { border: 1px solid #A0A0A0; padding: 2px 6px; }\r\n"
                      "th { background: #E8E8E8; }\r\n"
                      "td.c { text-align: center; }\r\n"
                      "</style>\r\n</head>\r\n<body>\r\n<table>\r\n"
                      "<caption>" +
                      HtmlEscaped(caption) + "</caption>\r\n<tr>";
    for (const std::string& c : table.Captions)
        out += "<th>" + HtmlEscaped(c) + "</th>";
    out += "</tr>\r\n";
    for (const auto& row : table.Rows) {
        out += "<tr>";
        for (size_t i = 0; i < row.size(); ++i)
            out +=
                std::string(i == 2 ? "<td>" : "<td class=\"c\">") + HtmlEscaped(row[i]) + "</td>";
        out += "</tr>\r\n";
    }
    out += "</table>\r\n</body>\r\n</html>\r\n";
    return out;
}

std::string ExportRtf(const TTableTexts& table) {
    static const int kRightEdges[] = {450, 1500, 8550, 11550}; // twips: 30, 70, 470, 200 px
    std::string out =
        "{\\rtf1\\ansi\\ansicpg1251\\deff0{\\fonttbl{\\f0\\fswiss Tahoma;}}\\uc1\\f0\\fs18\r\n";
    auto row = [&](const std::array<std::string, 4>& cells, bool bold) {
        out += "\\trowd\\trgaph60";
        for (int edge : kRightEdges)
            out += "\\clbrdrt\\brdrs\\clbrdrl\\brdrs\\clbrdrb\\brdrs\\clbrdrr\\brdrs\\cellx" +
                   std::to_string(edge);
        out += "\r\n";
        for (const std::string& c : cells)
            out += std::string("\\pard\\intbl") + (bold ? "\\b " : " ") + RtfEscaped(c) +
                   (bold ? "\\b0" : "") + "\\cell ";
        out += "\\row\r\n";
    };
    row(table.Captions, true);
    for (const auto& r : table.Rows)
        row(r, false);
    out += "\\pard\\par\r\n}\r\n";
    return out;
}

std::string ExportTimeStamp(const std::tm& t) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d %02d.%02d.%02d", t.tm_mday, t.tm_mon + 1,
                  t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
    return buf;
}

} // namespace tunavox
