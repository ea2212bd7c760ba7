#include "journal/journal.h"

#include <algorithm>
#include <array>
#include <unordered_map>

#include "device/reg.h"
#include "device/table_text.h"
#include "export/table_export.h"
#include "util/cp1251.h"
#include "util/file_io.h"
#include "util/os_file.h"
#include "util/program_folder.h"
#include "util/system_error.h"
#include "util/time_text.h"

namespace tunavox {
namespace {

constexpr size_t kFields = 11;

std::array<std::string, kFields> Fields(const TJournalEntry& e) {
    return {e.Time, e.Port, e.Device, e.DescFile, e.DeviceId, e.Version,
            e.Code, e.Name, e.Before, e.Written,  e.Outcome};
}

const std::array<std::string, kFields>& Captions() {
    static const std::array<std::string, kFields> kCaptions = {
        "Время", "Порт",     "Устройство", "Файл описания", "ID",       "Протокол",
        "Код",   "Параметр", "Было",       "Записано",      "Результат"};
    return kCaptions;
}

std::string LineOf(const std::array<std::string, kFields>& fields) {
    std::string out;
    for (size_t i = 0; i < fields.size(); ++i)
        out += (i ? ";" : "") + DelimitedField(fields[i]);
    return Utf8ToCp1251(out + "\r\n");
}

// ";"-separated fields, quoted ones with doubled quotes inside (CR and LF included).
bool SplitFields(const std::string& line, std::vector<std::string>& out) {
    out.assign(1, std::string());
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c != '"')
                out.back() += c;
            else if (i + 1 < line.size() && line[i + 1] == '"')
                out.back() += line[++i];
            else
                quoted = false;
        } else if (c == '"' && out.back().empty()) {
            quoted = true;
        } else if (c == ';') {
            out.emplace_back();
        } else {
            out.back() += c;
        }
    }
    return !quoted;
}

bool IsDayFile(const std::string& name) {
    if (name.size() != 14 || name.substr(10) != ".csv") return false;
    for (size_t i = 0; i < 10; ++i) {
        const bool dash = i == 4 || i == 7;
        if (dash != (name[i] == '-') ||
            (!dash && !std::isdigit(static_cast<unsigned char>(name[i]))))
            return false;
    }
    return true;
}

std::string Joined(const std::string& folder, const std::string& name) {
    return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

} // namespace

TJournalEntry JournalEntryFor(const TJournalContext& c, const TReg& reg, const std::string& before,
                              const std::string& written, const std::string& outcome,
                              std::chrono::system_clock::time_point t) {
    TJournalEntry e;
    e.Time = LocalTimeWithOffset(t);
    e.Port = c.Port;
    e.Device = c.Device;
    e.DescFile = c.DescFile;
    e.DeviceId = std::to_string(c.DeviceId);
    e.Version = c.Version == 0 ? "1.0" : "2.0";
    e.Code = CodeText(reg);
    e.Name = NameText(reg);
    e.Before = before;
    e.Written = written;
    e.Outcome = outcome;
    if (reg.Pass) {
        // The table's mask has a star per character: the journal keeps not even that.
        if (before != kNotRead) e.Before = kPasswordMask;
        e.Written = kPasswordMask;
        if (outcome.rfind(KeptOtherOutcome(""), 0) == 0) e.Outcome = KeptOtherOutcome(kPasswordMask);
    }
    return e;
}

std::string ValueBeforeWrite(const TReg& reg) {
    const TValue v = reg.GetDevValue();
    return v.IsEmpty() || v.IsNull() ? std::string(kNotRead) : reg.DisplayTextOf(v);
}

std::string KeptOtherOutcome(const std::string& deviceText) {
    return "устройство сохранило " + deviceText;
}

std::string JournalLine(const TJournalEntry& entry) {
    return LineOf(Fields(entry));
}

std::string JournalHeader() {
    return LineOf(Captions());
}

bool ParseJournalLine(const std::string& line, TJournalEntry& e) {
    std::vector<std::string> f;
    if (!SplitFields(Cp1251ToUtf8(line), f) || f.size() != kFields) return false;
    e = {f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9], f[10]};
    return e.Time.size() >= 10 && IsDayFile(e.Time.substr(0, 10) + ".csv");
}

std::string DefaultJournalFolder() {
    return WritableProgramSubfolder("Journal/");
}

std::string TJournal::Folder() const {
    return folder_.empty() ? DefaultJournalFolder() : folder_;
}

namespace {

// The same write: a read-back's line names what its acknowledged line named.
bool SameWrite(const TJournalEntry& a, const TJournalEntry& b) {
    return a.Port == b.Port && a.Device == b.Device && a.DeviceId == b.DeviceId &&
           a.Code == b.Code && a.Written == b.Written;
}

// What a write's two lines share, time included.
std::string WriteKey(const TJournalEntry& e) {
    std::string key;
    for (const std::string* part : {&e.Time, &e.Port, &e.Device, &e.DeviceId, &e.Code, &e.Written})
        key += *part + '\n';
    return key;
}

} // namespace

bool TJournal::Append(const TJournalEntry& entry, std::string& error, TJournalLine kind) {
    if (kind == TJournalLine::Whole) return AppendLine(entry, error);
    const auto pending = std::find_if(acknowledged_.begin(), acknowledged_.end(),
                                      [&](const TJournalEntry& e) { return SameWrite(e, entry); });
    if (kind == TJournalLine::Acknowledged) {
        TJournalEntry line = entry;
        line.Outcome = kWritten;
        if (pending != acknowledged_.end()) acknowledged_.erase(pending);
        acknowledged_.push_back(line);
        return AppendLine(line, error);
    }
    if (pending == acknowledged_.end()) return AppendLine(entry, error);
    TJournalEntry line = entry;
    line.Time = pending->Time;
    line.Before = pending->Before;
    acknowledged_.erase(pending);
    return AppendLine(line, error);
}

bool TJournal::AppendLine(const TJournalEntry& entry, std::string& error) {
    tornRemoved_ = false;
    const std::string folder = Folder();
    std::error_code ec;
    std::filesystem::create_directories(FsPath(folder), ec);
    if (PathKind(folder) != TPathKind::Folder) {
        error = ec ? SystemErrorText(ec.value()) : "папка журнала недоступна: " + folder;
        return false;
    }
    const std::string path = Joined(folder, entry.Time.substr(0, 10) + ".csv");
    TOsFile file;
    int code = 0;
    const auto fail = [&](const std::string& why) {
        error = why;
        return false;
    };
    if (!file.OpenAppend(path, true, code)) return fail(SystemErrorText(code));
    if (!file.IsRegular()) return fail("это не обычный файл: " + path);
    // Two copies of the program writing at once take turns.
    file.Lock();
    struct Unlock {
        TOsFile& f;
        ~Unlock() { f.Unlock(); }
    } unlock{file};
    int64_t size = 0;
    if (!file.Size(size, code)) return fail(SystemErrorText(code));
    const std::string header = JournalHeader();
    if (size > 0) {
        std::string first(header.size(), '\0');
        const long long got = file.ReadAt(first.data(), first.size(), 0, code);
        if (got < 0) return fail(SystemErrorText(code));
        first.resize(static_cast<size_t>(got));
        const bool tornHeader = got == size && header.compare(0, first.size(), first) == 0;
        if (first != header && !tornHeader)
            return fail("файл не является журналом записей: " + path);
        const int64_t keep = tornHeader && got < static_cast<long long>(header.size())
                                 ? 0
                                 : EndOfLastLine(file, size, code);
        if (keep < 0) return fail(SystemErrorText(code));
        if (keep < size) {
            if (!file.Truncate(keep, code)) return fail(SystemErrorText(code));
            tornRemoved_ = true;
            size = keep;
        }
    }
    const std::string bytes = (size == 0 ? header : std::string()) + JournalLine(entry);
    size_t done = 0;
    while (done < bytes.size()) {
        const long long n = file.Append(bytes.data() + done, bytes.size() - done, code);
        if (n <= 0) {
            // The file keeps ending on a whole line.
            file.Truncate(size, code);
            return fail(SystemErrorText(n < 0 ? code : kErrorNoSpace));
        }
        done += static_cast<size_t>(n);
    }
    if (!file.Sync(code)) return fail(SystemErrorText(code));
    return true;
}

bool ReadJournal(const std::string& folder, const TJournalFilter& filter,
                 std::vector<TJournalEntry>& entries, std::string& error,
                 const std::atomic<bool>* stop) {
    entries.clear();
    error.clear();
    const auto stopped = [stop] { return stop && stop->load(std::memory_order_relaxed); };
    std::unordered_map<std::string, size_t> acknowledged; // write -> its entry
    if (PathKind(folder) != TPathKind::Folder) {
        error = "нет папки журнала: " + folder;
        return false;
    }
    std::vector<std::string> names = FolderNames(folder);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        if (!IsDayFile(name)) continue;
        if (stopped()) return false;
        const std::string day = name.substr(0, 10);
        if ((!filter.Since.empty() && day < filter.Since) ||
            (!filter.Until.empty() && day > filter.Until))
            continue;
        std::string bytes, why;
        if (!ReadFileBytes(Joined(folder, name), bytes, why)) {
            error = name + ": " + why;
            return false;
        }
        // Whole lines only; the first is the header. Quoted fields may hold CR LF, so
        // lines are cut where a CR LF stands outside quotes.
        size_t start = 0;
        bool quoted = false, first = true;
        for (size_t i = 0; i + 1 < bytes.size(); ++i) {
            if (bytes[i] == '"') quoted = !quoted;
            if (quoted || bytes[i] != '\r' || bytes[i + 1] != '\n') continue;
            const std::string line = bytes.substr(start, i - start);
            start = i + 2;
            ++i;
            if (std::exchange(first, false)) continue;
            if ((entries.size() & 0xFFF) == 0 && stopped()) return false;
            TJournalEntry e;
            if (!ParseJournalLine(line, e)) continue;
            if (!filter.Device.empty() &&
                Utf8Upper(e.Device).find(Utf8Upper(filter.Device)) == std::string::npos)
                continue;
            // A read-back's word on a write already listed: that write's outcome.
            const std::string key = WriteKey(e);
            if (e.Outcome != kWritten) {
                if (const auto it = acknowledged.find(key); it != acknowledged.end()) {
                    entries[it->second].Outcome = e.Outcome;
                    acknowledged.erase(it);
                    continue;
                }
            } else {
                acknowledged[key] = entries.size();
            }
            entries.push_back(std::move(e));
        }
    }
    // Days in order, lines as appended: the order the writes happened in, even when
    // the clock went back an hour.
    return true;
}

std::string JournalHtml(const std::vector<TJournalEntry>& entries, const std::string& title) {
    std::string out = "<!DOCTYPE html>\r\n<html>\r\n<head>\r\n<meta charset=\"utf-8\">\r\n<title>" +
                      HtmlEscaped(title) +
                      "</title>\r\n<style>\r\n"
                      "table { border-collapse: collapse; font-family: Tahoma, Arial, sans-serif; "
                      "font-size: 10pt; }\r\n"
                      "th, td { border: 1px solid #A0A0A0; padding: 2px 6px; }\r\n"
                      "th { background: #E8E8E8; }\r\n"
                      "</style>\r\n</head>\r\n<body>\r\n<h3>" +
                      HtmlEscaped(title) + "</h3>\r\n<table>\r\n<tr>";
    for (const std::string& c : Captions())
        out += "<th>" + HtmlEscaped(c) + "</th>";
    out += "</tr>\r\n";
    for (const TJournalEntry& e : entries) {
        out += "<tr>";
        for (const std::string& f : Fields(e))
            out += "<td>" + HtmlEscaped(f) + "</td>";
        out += "</tr>\r\n";
    }
    return out + "</table>\r\n</body>\r\n</html>\r\n";
}

} // namespace tunavox
