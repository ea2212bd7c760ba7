#include "site/site.h"

#include <cstdio>
#include <filesystem>

#include "util/file_io.h"
#include "util/integer_text.h"
#include "util/os_file.h"
#include "util/system_error.h"
#include "util/program_folder.h"
#include "xml/xml_document.h"

namespace tunavox {

namespace {

std::string CodeText(uint16_t addr) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(addr));
    return text;
}

void Attr(std::string& out, const char* name, std::string_view value) {
    out += ' ';
    out += name;
    out += "=\"";
    AppendEscaped(out, value);
    out += '"';
}

bool ParseCode(const std::string& text, uint16_t& addr) {
    int64_t v = 0;
    if (!ParseIntegerText(text, v) || v < 0 || v > 0xFFFF) return false;
    addr = static_cast<uint16_t>(v);
    return true;
}

// A required attribute; the message names the element and the attribute.
bool Required(const XmlElement& e, const char* name, std::string& out, std::string& error) {
    if (!e.HasAttribute(name)) {
        error = "у элемента " + e.Name() + " нет атрибута " + name;
        return false;
    }
    out = e.AttrText(name);
    return true;
}

bool ReadDevice(const XmlElement& e, TSiteDevice& d, std::string& error) {
    std::string id;
    if (!Required(e, "description", d.Description, error) || !Required(e, "id", id, error))
        return false;
    int64_t n = 0;
    if (!ParseIntegerText(id, n) || n < 0 || n > 0xFFFFFFFFLL) {
        error = "неверный ID устройства: " + id;
        return false;
    }
    d.Id = static_cast<uint32_t>(n);
    if (d.Description.empty() || d.Description.find_first_of("/\\") != std::string::npos) {
        error = "файл описания задаётся именем без папки: " + d.Description;
        return false;
    }
    d.Type = e.AttrText("type");
    d.Sign = e.AttrText("sign");
    d.Reference = e.AttrText("reference");
    if (d.Reference.find_first_of("/\\") != std::string::npos) {
        error = "эталон задаётся именем файла в папке объекта: " + d.Reference;
        return false;
    }
    std::string word;
    const std::string poll = e.AttrText("poll") + ' ';
    for (const char c : poll) {
        if (c != ' ' && c != ',') {
            word += c;
            continue;
        }
        if (word.empty()) continue;
        uint16_t addr = 0;
        if (!ParseCode(word, addr)) {
            error = "неверный код регистра в poll: " + word;
            return false;
        }
        d.Polled.push_back(addr);
        word.clear();
    }
    for (const XmlElement& v : e.Children("IDENTITY")) {
        TIdentityValue value;
        std::string code;
        if (!Required(v, "addr", code, error)) return false;
        if (!ParseCode(code, value.Addr)) {
            error = "неверный код регистра в IDENTITY: " + code;
            return false;
        }
        value.Value = v.AttrText("value");
        d.Identity.push_back(std::move(value));
    }
    return true;
}

bool ReadLine(const XmlElement& e, TSiteLine& line, std::string& error) {
    if (!Required(e, "port", line.Port, error)) return false;
    if (line.Port.empty()) {
        error = "у линии не указан порт";
        return false;
    }
    const std::string version = e.AttrText("protocol", "2.0");
    if (version != "1.0" && version != "2.0") {
        error = "неверная версия протокола: " + version + " (1.0 или 2.0)";
        return false;
    }
    line.Version = version == "1.0" ? 0 : 1;
    int32_t period = 0;
    if (!e.AttrBool("gateway", false, line.Gateway, error) ||
        !e.AttrInt("pollPeriod", 0, period, error))
        return false;
    if (period < 0 || period > 3600000) {
        error = "неверный период опроса: " + std::to_string(period) + " мс";
        return false;
    }
    line.PollPeriodMs = period;
    for (const XmlElement& d : e.Children("DEVICE")) {
        if (line.Devices.size() >= kMaxSiteDevices) {
            error = "на линии больше " + std::to_string(kMaxSiteDevices) + " устройств";
            return false;
        }
        line.Devices.emplace_back();
        if (!ReadDevice(d, line.Devices.back(), error)) return false;
        for (size_t i = 0; i + 1 < line.Devices.size(); ++i)
            if (line.Devices[i].Id == line.Devices.back().Id) {
                error = "на линии " + line.Port + " два устройства с ID " +
                        std::to_string(line.Devices.back().Id);
                return false;
            }
    }
    return true;
}

} // namespace

std::string SiteFilePath(const std::string& folder) {
    return SiteFolderFile(folder, kSiteFileName);
}

std::string SiteFolderFile(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    const char last = folder.back();
    return last == '/' || last == '\\' ? folder + name : folder + "/" + name;
}

std::string ReferenceName(const TSiteDevice& device) {
    return DeviceSetName(device.Type, device.Id);
}

bool CreateSite(const std::string& folder, TSite& site, const std::vector<TParamSet>& references,
                std::string& error) {
    const std::string path = SiteFilePath(folder);
    if (PathKind(path) != TPathKind::Missing) {
        error = "В папке " + folder + " уже есть объект (" + kSiteFileName + ")";
        return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(FsPath(folder), ec);
    if (ec) {
        error = "Не удалось создать папку " + folder + ": " + SystemErrorText(ec.value());
        return false;
    }
    size_t next = 0;
    for (const TSiteLine& line : site.Lines)
        for (const TSiteDevice& d : line.Devices) {
            if (next >= references.size()) break;
            if (!d.Reference.empty() &&
                !WriteParamSetFile(SiteFolderFile(folder, d.Reference), references[next], error))
                return false;
            ++next;
        }
    site.Stamp = {};
    return WriteSite(folder, site, error);
}

std::string SiteVersionText(uint8_t version) { return version == 0 ? "1.0" : "2.0"; }

std::string FormatSite(const TSite& site) {
    std::string out = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<SITE";
    Attr(out, "format", std::to_string(kSiteFormat));
    Attr(out, "name", site.Name);
    out += ">\n";
    if (!site.Notes.empty()) {
        out += "  <notes>";
        AppendEscaped(out, site.Notes);
        out += "</notes>\n";
    }
    for (const TSiteLine& line : site.Lines) {
        out += "  <LINE";
        Attr(out, "port", line.Port);
        Attr(out, "protocol", SiteVersionText(line.Version));
        Attr(out, "gateway", line.Gateway ? "1" : "0");
        Attr(out, "pollPeriod", std::to_string(line.PollPeriodMs));
        out += ">\n";
        for (const TSiteDevice& d : line.Devices) {
            out += "    <DEVICE";
            Attr(out, "description", d.Description);
            Attr(out, "type", d.Type);
            Attr(out, "sign", d.Sign);
            Attr(out, "id", std::to_string(d.Id));
            std::string poll;
            for (const uint16_t addr : d.Polled)
                poll += (poll.empty() ? "" : " ") + CodeText(addr);
            Attr(out, "poll", poll);
            Attr(out, "reference", d.Reference);
            if (d.Identity.empty()) {
                out += "/>\n";
                continue;
            }
            out += ">\n";
            for (const TIdentityValue& v : d.Identity) {
                out += "      <IDENTITY";
                Attr(out, "addr", CodeText(v.Addr));
                Attr(out, "value", v.Value);
                out += "/>\n";
            }
            out += "    </DEVICE>\n";
        }
        out += "  </LINE>\n";
    }
    out += "</SITE>\n";
    return out;
}

bool ParseSite(std::string_view text, TSite& site, std::string& error) {
    XmlDocument doc;
    if (const std::string why = doc.LoadBytes(text); !why.empty()) {
        error = "файл объекта не читается как XML: " + why;
        return false;
    }
    const XmlElement root = doc.Root();
    if (!root || root.Name() != "SITE") {
        error = "это не файл объекта: нет элемента SITE";
        return false;
    }
    TSite read;
    if (!root.AttrInt("format", 0, read.Format, error)) return false;
    if (read.Format < 1) {
        error = "у файла объекта нет номера формата (format)";
        return false;
    }
    if (read.Format > kSiteFormat) {
        error = "файл объекта записан более новой версией программы (формат " +
                std::to_string(read.Format) + ", эта версия читает формат " +
                std::to_string(kSiteFormat) + " и старше не знает)";
        return false;
    }
    read.Name = root.AttrText("name");
    read.Notes = root.ChildText("notes");
    for (const XmlElement& l : root.Children("LINE")) {
        if (read.Lines.size() >= kMaxSiteLines) {
            error = "в объекте больше " + std::to_string(kMaxSiteLines) + " линий";
            return false;
        }
        read.Lines.emplace_back();
        if (!ReadLine(l, read.Lines.back(), error)) return false;
    }
    read.Stamp = site.Stamp;
    site = std::move(read);
    return true;
}

bool ReadSite(const std::string& folder, TSite& site, std::string& error) {
    const std::string path = SiteFilePath(folder);
    std::string bytes;
    TFileStamp stamp;
    if (!ReadStampedFile(path, bytes, stamp, error)) return false;
    if (!ParseSite(bytes, site, error)) {
        error = "Файл объекта " + path + ": " + error;
        return false;
    }
    site.Stamp = stamp;
    return true;
}

bool WriteSite(const std::string& folder, TSite& site, std::string& error, bool* changedOnDisk) {
    const std::string bytes = FormatSite(site);
    if (!ReplaceStampedFile(SiteFilePath(folder), bytes, site.Stamp, error, changedOnDisk))
        return false;
    site.Format = kSiteFormat;
    return true;
}

} // namespace tunavox
