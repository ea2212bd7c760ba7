#include "paramset/param_set.h"

#include <charconv>
#include <cstring>
#include <map>

#include "device/value_codec.h"
#include "protocol/register_protocol.h"
#include "util/cp1251.h"

namespace tunavox {
namespace {

constexpr std::string_view kFormatLine = "format: tunavox-params 1";
constexpr std::string_view kEndLine = "end";

uint8_t TypeCode(std::string_view name) {
    for (uint8_t t = rtStr; t < rtHeader; ++t)
        if (TypeName(t) == name) return t;
    return rtHeader; // none
}

// A double-quoted text with \\ \" \n \r \t and \xHH for the other control characters
// (U+0000-U+001F, U+007F and U+0080-U+009F, as a device's byte 0x98 arrives), so that any
// text stays on one line and reads back exactly.
std::string Quoted(std::string_view text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (static_cast<unsigned char>(c) == 0xC2 && next >= 0x80 && next <= 0x9F) {
            static const char* const kHex = "0123456789ABCDEF";
            out += "\\x";
            out += kHex[next >> 4];
            out += kHex[next & 0xF];
            ++i;
            continue;
        }
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                static const char* const kHex = "0123456789ABCDEF";
                out += "\\x";
                out += kHex[static_cast<unsigned char>(c) >> 4];
                out += kHex[c & 0xF];
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool Unquoted(std::string_view text, std::string& out) {
    out.clear();
    if (text.size() < 2 || text.front() != '"' || text.back() != '"') return false;
    for (size_t i = 1; i + 1 < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') return false;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i + 1 > text.size() - 1) return false;
        switch (text[i]) {
        case '\\':
            out += '\\';
            break;
        case '"':
            out += '"';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case 'x': {
            if (i + 3 > text.size() - 1) return false;
            const int hi = HexDigit(text[i + 1]), lo = HexDigit(text[i + 2]);
            if (hi < 0 || lo < 0) return false;
            // The character U+00HH, as written: a control character below 0x80 is its
            // byte, one from 0x80 on its two UTF-8 bytes.
            const int code = hi * 16 + lo;
            if (code < 0x80) {
                out += static_cast<char>(code);
            } else {
                out += static_cast<char>(0xC0 | (code >> 6));
                out += static_cast<char>(0x80 | (code & 0x3F));
            }
            i += 2;
            break;
        }
        default:
            return false;
        }
    }
    return true;
}

template <typename T> bool ParseNumber(std::string_view text, T& out) {
    const char* end = text.data() + text.size();
    const auto r = std::from_chars(text.data(), end, out);
    return r.ec == std::errc() && r.ptr == end && !text.empty();
}

std::vector<std::string_view> SplitTabs(std::string_view line, size_t most) {
    std::vector<std::string_view> fields;
    while (fields.size() + 1 < most) {
        const size_t tab = line.find('\t');
        if (tab == std::string_view::npos) break;
        fields.push_back(line.substr(0, tab));
        line.remove_prefix(tab + 1);
    }
    fields.push_back(line);
    return fields;
}

// A piece of the file quoted in a message: control bytes as \xHH, at most 40 bytes
// (cut on a character boundary).
std::string Echo(std::string_view text) {
    std::string out;
    size_t i = 0;
    for (; i < text.size() && out.size() < 40; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            static const char* const kHex = "0123456789ABCDEF";
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else {
            out += text[i];
        }
    }
    while (i < text.size() && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80)
        out += text[i++];
    return i < text.size() ? out + "…" : out;
}

// Why a Str value cannot go to a device as it stands; empty when it can.
std::string StrValueProblem(const std::string& text) {
    const std::string bytes = Utf8ToCp1251(text);
    if (Cp1251ToUtf8(bytes) != text)
        return "текст содержит символы, которых нет в кодировке Windows-1251";
    if (bytes.size() > kMaxWriteData)
        return "текст длиннее " + std::to_string(kMaxWriteData) + " байт";
    return {};
}

// Header values stay on their line.
std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    return text;
}

} // namespace

int TParamSet::FailedCount() const {
    int n = 0;
    for (const TParamEntry& e : Entries)
        n += e.Failed ? 1 : 0;
    return n;
}

std::string ProgramVersion() {
    return TUNAVOX_CORE_VERSION;
}

bool ValueFieldText(const TValue& value, uint8_t type, std::string& out) {
    if (type == rtStr) {
        if (!value.IsString()) return false;
        out = Quoted(std::get<std::string>(value.Get()));
        return true;
    }
    if (type == rtFloat) {
        double d = 0;
        if (!value.AsDouble(d)) return false;
        char buf[16];
        std::snprintf(buf, sizeof buf, "0x%08X", FloatBits(value));
        out = buf;
        return true;
    }
    // Integers: the value must fit the type, which the codec's bytes check.
    std::string bytes;
    if (!ValueToBytes(value, type, bytes)) return false;
    out = VariantText(value);
    return true;
}

std::string SetValueProblem(const TValue& value, uint8_t type) {
    std::string text;
    if (!ValueFieldText(value, type, text)) return "значение не подходит к типу";
    return type == rtStr ? StrValueProblem(std::get<std::string>(value.Get())) : std::string();
}

bool ParseValueField(std::string_view text, uint8_t type, TValue& out) {
    if (type == rtStr) {
        std::string s;
        if (!Unquoted(text, s)) return false;
        out = TValue(std::move(s));
        return true;
    }
    if (type == rtFloat) {
        if (text.size() != 10 || text.substr(0, 2) != "0x") return false;
        uint32_t bits = 0;
        for (const char c : text.substr(2)) {
            const int d = HexDigit(c);
            if (d < 0) return false;
            bits = bits * 16 + static_cast<uint32_t>(d);
        }
        out = FloatFromBits(bits);
        return true;
    }
    int64_t n = 0;
    if (!ParseNumber(text, n)) return false;
    TValue v;
    if (!TextToValue(std::to_string(n), type, v)) return false;
    out = v;
    return true;
}

namespace {

// A header line as the program writes it; empty for a key it does not know.
std::string HeaderLine(std::string_view key, const TParamSet& set) {
    const auto line = [&](const std::string& value) { return std::string(key) + ": " + value; };
    if (key == "device") return line(OneLine(set.Device));
    if (key == "description") return line(OneLine(set.DescriptionFile));
    if (key == "sign") return line(OneLine(set.Sign));
    if (key == "id") return line(std::to_string(set.DeviceId));
    if (key == "protocol") return line(set.Protocol == 0 ? "1.0" : "2.0");
    if (key == "saved") return line(OneLine(set.Saved));
    if (key == "program") return line(OneLine(set.Program));
    if (key == "edited") return line(OneLine(set.Edited));
    if (key == "registers") return line(std::to_string(set.Entries.size()));
    if (key == "failed") return line(std::to_string(set.FailedCount()));
    return {};
}

std::string EntryLine(const TParamEntry& e) {
    char code[8];
    std::snprintf(code, sizeof code, "0x%04X", e.Addr);
    std::string value = "-";
    if (!e.Failed && !ValueFieldText(e.Value, e.Type, value)) value = "-";
    return std::string(code) + "\t" + TypeName(e.Type) + "\t" + value + "\t" + Quoted(e.Shown) +
           "\t" + OneLine(e.Name);
}

// The set over the lines of the file it was read from: a line whose content is what was
// read goes back as it was, a changed one as the program writes it, comments where they
// stood; rows the set no longer has are left out, new ones go before "end".
std::string FormatOverSource(const TParamSet& set) {
    const std::string eol = set.Crlf ? "\r\n" : "\n";
    std::string out = set.Bom ? "\xEF\xBB\xBF" : "";
    std::map<uint16_t, const TParamEntry*> entries;
    for (const TParamEntry& e : set.Entries)
        entries.emplace(e.Addr, &e);
    std::map<uint16_t, bool> written;
    bool hasEdited = false;
    for (const TSetSourceLine& l : set.Source)
        hasEdited = hasEdited || (l.What == TSetSourceLine::Kind::Key && l.Key == "edited");
    const auto put = [&](const std::string& norm, const TSetSourceLine* was) {
        if (was && norm == was->Norm)
            out += was->Raw + "\n";
        else
            out += norm + eol;
    };
    for (const TSetSourceLine& l : set.Source) {
        switch (l.What) {
        case TSetSourceLine::Kind::Key:
            if (l.Key == "registers" && !hasEdited && !set.Edited.empty())
                put(HeaderLine("edited", set), nullptr);
            put(HeaderLine(l.Key, set), &l);
            break;
        case TSetSourceLine::Kind::Entry:
            if (const auto it = entries.find(l.Addr); it != entries.end() && !written[l.Addr]) {
                put(EntryLine(*it->second), &l);
                written[l.Addr] = true;
            }
            break;
        case TSetSourceLine::Kind::End:
            for (const TParamEntry& e : set.Entries)
                if (!written[e.Addr]) {
                    put(EntryLine(e), nullptr);
                    written[e.Addr] = true;
                }
            out += l.Raw + "\n";
            break;
        case TSetSourceLine::Kind::Other:
            out += l.Raw + "\n";
            break;
        }
    }
    return out;
}

} // namespace

std::string FormatParamSet(const TParamSet& set) {
    if (!set.Source.empty()) return FormatOverSource(set);
    std::string out;
    out += kFormatLine;
    for (const char* key : {"device", "description", "sign", "id", "protocol", "saved", "program",
                            "edited", "registers", "failed"})
        if (std::string_view(key) != "edited" || !set.Edited.empty())
            out += "\n" + HeaderLine(key, set);
    out += "\n# code\ttype\tvalue\tshown\tname [units]\n";
    for (const TParamEntry& e : set.Entries)
        out += EntryLine(e) + "\n";
    out += kEndLine;
    out += "\n";
    return out;
}

bool ParseParamSet(std::string_view text, TParamSet& set, std::string& error,
                   std::string_view fileName) {
    set = {};
    TParamSet parsed;
    size_t lineNo = 0;
    const std::string where = "Ошибка в файле параметров" +
                              (fileName.empty() ? std::string() : " " + std::string(fileName));
    const auto fail = [&](const std::string& what) {
        error = where + ", строка " + std::to_string(lineNo) + ": " + what;
        return false;
    };
    // A byte order mark some editors put in front is no part of the text.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
        parsed.Bom = true;
    }
    if (text.empty()) {
        error = where + ": файл пуст";
        return false;
    }
    enum { Format, Header, Registers, Done } stage = Format;
    size_t expected = 0, failedExpected = 0;
    bool columns = false;
    std::map<std::string, size_t, std::less<>> lineOfKey;
    std::map<uint16_t, size_t> lineOfCode;
    // What the header must hold before the first register (saved, program and edited
    // may be missing).
    const auto headerProblem = [&]() -> std::string {
        for (const char* key :
             {"device", "description", "sign", "id", "protocol", "registers", "failed"})
            if (!lineOfKey.count(key)) return std::string("нет строки «") + key + "»";
        return columns ? std::string() : "нет строки с названиями столбцов";
    };
    // Numbers as the program writes them: no sign, no leading zeros.
    const auto canonical = [](std::string_view text, auto& n) {
        return ParseNumber(text, n) && std::to_string(n) == text;
    };
    while (!text.empty()) {
        ++lineNo;
        const size_t nl = text.find('\n');
        if (nl == std::string_view::npos) return fail("файл оборван (нет конца строки)");
        std::string_view line = text.substr(0, nl);
        text.remove_prefix(nl + 1);
        TSetSourceLine& source = parsed.Source.emplace_back();
        source.Raw = line;
        if (lineNo == 1) parsed.Crlf = !line.empty() && line.back() == '\r';
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        // The format escapes every control character, so a raw one is damage.
        for (const char c : line)
            if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F)
                return fail("недопустимый управляющий символ");
        if (stage == Done) {
            if (!line.empty()) return fail("текст после строки «end»");
            continue;
        }
        if (stage == Header && line.rfind("# code\t", 0) == 0) columns = true;
        if (line.empty() || line.front() == '#') continue;
        if (stage == Format) {
            if (line != kFormatLine) return fail("это не файл параметров");
            stage = Header;
            continue;
        }
        if (line == kEndLine) {
            source.What = TSetSourceLine::Kind::End;
            if (stage == Header && !headerProblem().empty()) return fail(headerProblem());
            if (parsed.Entries.size() != expected)
                return fail("записей " + std::to_string(parsed.Entries.size()) + " вместо " +
                            std::to_string(expected));
            if (static_cast<size_t>(parsed.FailedCount()) != failedExpected)
                return fail("записей без значения " + std::to_string(parsed.FailedCount()) +
                            " вместо " + std::to_string(failedExpected));
            stage = Done;
            continue;
        }
        if (stage == Header && line.substr(0, 2) != "0x") {
            const size_t colon = line.find(": ");
            const std::string_view key = line.substr(0, colon);
            const std::string_view value =
                colon == std::string_view::npos ? std::string_view() : line.substr(colon + 2);
            if (colon == std::string_view::npos && line.back() == ':') {
                // "key:" with an empty value
            } else if (colon == std::string_view::npos) {
                return fail("ожидалось «ключ: значение»");
            }
            const std::string_view k =
                colon == std::string_view::npos ? line.substr(0, line.size() - 1) : key;
            // The column line closes the header: a header line after it is a cut-and-paste.
            if (columns)
                return fail("строка заголовка «" + Echo(k) +
                            "» после строки с названиями столбцов");
            source.What = TSetSourceLine::Kind::Key;
            source.Key = k;
            if (const auto [seen, fresh] = lineOfKey.emplace(std::string(k), lineNo); !fresh)
                return fail("ключ «" + Echo(k) + "» уже был в строке " +
                            std::to_string(seen->second));
            if (k == "device")
                parsed.Device = value;
            else if (k == "description")
                parsed.DescriptionFile = value;
            else if (k == "sign")
                parsed.Sign = value;
            else if (k == "saved")
                parsed.Saved = value;
            else if (k == "program")
                parsed.Program = value;
            else if (k == "edited")
                parsed.Edited = value;
            else if (k == "id") {
                if (!canonical(value, parsed.DeviceId)) return fail("некорректный ID");
            } else if (k == "protocol") {
                if (value != "1.0" && value != "2.0") return fail("некорректная версия протокола");
                parsed.Protocol = value == "1.0" ? 0 : 1;
            } else if (k == "registers") {
                if (!canonical(value, expected) || expected > 65536)
                    return fail("некорректное число регистров");
            } else if (k == "failed") {
                if (!canonical(value, failedExpected) || failedExpected > 65536)
                    return fail("некорректное число записей без значения");
            } else {
                return fail("неизвестный ключ «" + Echo(k) + "»");
            }
            continue;
        }
        if (stage == Header && !headerProblem().empty()) return fail(headerProblem());
        stage = Registers;
        const std::vector<std::string_view> f = SplitTabs(line, 6);
        if (f.size() != 5) return fail("ожидалось пять полей, разделённых табуляцией");
        TParamEntry e;
        uint32_t addr = 0;
        // Four hexadecimal digits, as written.
        if (f[0].size() != 6 || f[0].substr(0, 2) != "0x") return fail("некорректный код регистра");
        for (const char c : f[0].substr(2)) {
            const int d = HexDigit(c);
            if (d < 0 || addr > 0xFFF) return fail("некорректный код регистра");
            addr = addr * 16 + static_cast<uint32_t>(d);
        }
        e.Addr = static_cast<uint16_t>(addr);
        source.What = TSetSourceLine::Kind::Entry;
        source.Addr = e.Addr;
        const auto [seen, fresh] = lineOfCode.emplace(e.Addr, lineNo);
        if (!fresh)
            return fail("код " + DeviceErrorKey(e.Addr) + " уже был в строке " +
                        std::to_string(seen->second));
        e.Type = TypeCode(f[1]);
        if (e.Type == rtHeader) return fail("неизвестный тип «" + Echo(f[1]) + "»");
        // The shown text is a comment: taken as it stands when it is not quoted right.
        if (!Unquoted(f[3], e.Shown)) e.Shown = f[3];
        e.Name = f[4];
        if (f[2] == "-") {
            e.Failed = true;
            e.Value = TValue::MakeNull();
        } else if (!ParseValueField(f[2], e.Type, e.Value)) {
            return fail("значение «" + Echo(f[2]) + "» не подходит к типу " + std::string(f[1]));
        } else if (e.Type == rtStr) {
            const std::string problem = StrValueProblem(std::get<std::string>(e.Value.Get()));
            if (!problem.empty()) return fail("значение не записать в устройство: " + problem);
        }
        if (parsed.Entries.size() >= expected) return fail("записей больше, чем указано");
        parsed.Entries.push_back(std::move(e));
    }
    if (stage == Format) return fail("это не файл параметров");
    if (stage != Done) return fail("файл оборван (нет строки «end»)");
    std::map<uint16_t, const TParamEntry*> byAddr;
    for (const TParamEntry& e : parsed.Entries)
        byAddr.emplace(e.Addr, &e);
    for (TSetSourceLine& l : parsed.Source)
        if (l.What == TSetSourceLine::Kind::Key)
            l.Norm = HeaderLine(l.Key, parsed);
        else if (l.What == TSetSourceLine::Kind::Entry)
            l.Norm = EntryLine(*byAddr.at(l.Addr));
    set = std::move(parsed);
    error.clear();
    return true;
}

std::string DeviceSetName(const std::string& deviceName, uint32_t id) {
    std::string name = (deviceName.empty() ? std::string("Параметры") : deviceName) + "_ID" +
                       std::to_string(id) + ".params";
    for (char& c : name)
        if (std::string_view("\\/:*?\"<>| ").find(c) != std::string_view::npos) c = '_';
    return name;
}

} // namespace tunavox
