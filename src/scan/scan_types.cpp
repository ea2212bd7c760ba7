#include "scan/scan_types.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "device/description.h"
#include "device/value_codec.h"
#include "util/integer_text.h"

namespace tunavox {
namespace {

bool Readable(const TReg& reg) {
    return reg.RegType != rtHeader && (reg.Io == ioR || reg.Io == ioRW);
}

std::string FileNameOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

std::vector<TScanRegister> ScanChecks(const TRegList& regs) {
    std::vector<TScanRegister> checks;
    int probe = -1;
    for (int r = 0; r < regs.Count() && probe < 0; ++r)
        if (regs.Items(r)->Addr == 0xFFFD && Readable(*regs.Items(r))) probe = r;
    for (int r = 0; r < regs.Count() && probe < 0; ++r)
        if (Readable(*regs.Items(r))) probe = r;
    if (probe < 0) return checks;
    checks.push_back({regs.Items(probe)->Addr, regs.Items(probe)->RegType});
    // A text answers with any bytes: a fixed-size value tells types apart better.
    for (const bool texts : {false, true})
        for (int r = 0; r < regs.Count() && checks.size() < 3; ++r) {
            const TReg& reg = *regs.Items(r);
            if (!Readable(reg) || (reg.RegType == rtStr) != texts) continue;
            const TScanRegister c{reg.Addr, reg.RegType};
            if (std::find(checks.begin(), checks.end(), c) == checks.end()) checks.push_back(c);
        }
    return checks;
}

std::vector<TScanType> LoadScanTypes(const std::vector<TCatalogueEntry>& catalogue,
                                     const std::string& programFolder,
                                     std::vector<std::string>& problems) {
    std::vector<TScanType> types;
    for (const TCatalogueEntry& entry : catalogue) {
        TRegList regs;
        TNameValueList errorTexts;
        TDescription desc;
        const std::string error =
            LoadDescription(entry.Path, regs, errorTexts, desc, programFolder);
        TScanType type;
        type.Path = entry.Path;
        type.FileName = FileNameOf(entry.Path);
        if (!error.empty()) {
            problems.push_back(type.FileName + ": " + error);
            continue;
        }
        type.Name = desc.Name.empty() ? entry.Caption : desc.Name;
        if (desc.Line) type.Line = *desc.Line;
        if (desc.Timeout && *desc.Timeout > 0)
            type.Timeout = static_cast<uint32_t>(std::min<int32_t>(*desc.Timeout, 60000));
        type.Checks = ScanChecks(regs);
        if (type.Checks.empty()) {
            problems.push_back(type.FileName + ": нет читаемых регистров");
            continue;
        }
        types.push_back(std::move(type));
    }
    return types;
}

std::vector<TScanGroup> GroupScanTypes(const std::vector<TScanType>& types) {
    std::vector<TScanGroup> groups;
    for (size_t t = 0; t < types.size(); ++t) {
        auto g = std::find_if(groups.begin(), groups.end(),
                              [&](const TScanGroup& x) { return x.Line == types[t].Line; });
        if (g == groups.end())
            g = groups.insert(groups.end(), TScanGroup{types[t].Line, {}, {}, 0});
        g->Types.push_back(t);
        g->LongestTimeout = std::max(g->LongestTimeout, types[t].Timeout);
        const TScanRegister probe = types[t].Checks.front();
        if (std::find(g->Probes.begin(), g->Probes.end(), probe) == g->Probes.end())
            g->Probes.push_back(probe);
    }
    return groups;
}

int DefaultProbeTimeout(const TScanGroup& group) {
    // STX, length, ID, command, address, CRC: the request's own time on the line, then
    // the window for the first byte of an answer. A device that takes longer is heard
    // later, by its ID, and confirmed with the description's time-out.
    return ProbeWindowMs(group.Line);
}

bool ParseIdRange(const std::string& text, uint32_t& first, uint32_t& last, std::string& error) {
    const size_t dash = text.find('-', 1);
    const std::string a = dash == std::string::npos ? text : text.substr(0, dash);
    const std::string b = dash == std::string::npos ? text : text.substr(dash + 1);
    int64_t x = 0, y = 0;
    if (!ParseIntegerText(a, x) || !ParseIntegerText(b, y) || x < 1 || y < x || y > 0xFFFFFFFFLL) {
        error = "диапазон ID: нужно A-B, 1 ≤ A ≤ B ≤ 4294967295";
        return false;
    }
    if (y - x >= 65536) {
        error = "диапазон ID: не больше 65536 адресов за один поиск";
        return false;
    }
    first = static_cast<uint32_t>(x);
    last = static_cast<uint32_t>(y);
    return true;
}

std::string ScanModeText(bool gateway) {
    return gateway ? "через шлюз" : "напрямую";
}

std::string ScanVersionText(uint8_t version) {
    return version == 0 ? "1.0" : "2.0";
}

std::string ScanIdText(const TScanResult& result) {
    return result.WithId ? std::to_string(result.Id) : "без ID";
}

std::string ScanWhatText(const TScanResult& result, const std::vector<TScanType>& types) {
    switch (result.Kind) {
    case TScanKind::Device: {
        std::string names;
        for (size_t t : result.Types) {
            if (!names.empty()) names += " / ";
            names += t < types.size() ? types[t].Name : "?";
        }
        return names;
    }
    case TScanKind::Unknown:
        return "неизвестное устройство";
    case TScanKind::Garbled:
        return "помехи или несколько устройств с одним ID";
    case TScanKind::PortFailed:
        break;
    }
    return result.Error;
}

std::string ScanResultLine(const TScanResult& result, const std::vector<TScanType>& types) {
    if (result.Kind == TScanKind::PortFailed) return result.Port + ";;;;" + result.Error + ";";
    return result.Port + ";" + ScanModeText(result.Gateway) + ";" +
           ScanVersionText(result.Version) + ";" + ScanIdText(result) + ";" +
           ScanWhatText(result, types) + ";" + std::to_string(result.AnswerMs) + " мс";
}

std::string ScanSummary(int devices, int64_t elapsedMs) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", static_cast<double>(elapsedMs) / 1000.0);
    std::string t = seconds;
    std::replace(t.begin(), t.end(), '.', ',');
    return "Найдено устройств: " + std::to_string(devices) + " за " + t + " с";
}

std::string ScanUnplacedText(int unplaced) {
    if (unplaced <= 0) return {};
    return "Ответов, не отнесённых ни к одному ID: " + std::to_string(unplaced) +
           ". Возможно, на линии есть медленные устройства: повторите поиск с большим "
           "временем ожидания ответа (в окне поиска «Ожидание ответа», в командной строке "
           "--probe-timeout МС)";
}

std::string ScanTimeText(int64_t ms) {
    const int64_t s = std::max<int64_t>(0, (ms + 999) / 1000);
    char text[48];
    if (s < 60)
        std::snprintf(text, sizeof text, "%lld с", static_cast<long long>(s));
    else
        std::snprintf(text, sizeof text, "%lld мин %02lld с", static_cast<long long>(s / 60),
                      static_cast<long long>(s % 60));
    return text;
}

} // namespace tunavox
