#include "site/report.h"

#include <algorithm>
#include <map>

#include "device/table_text.h"
#include "engine/link_state.h"
#include "paramset/set_compare.h"
#include "util/time_text.h"

namespace tunavox {
namespace {

using TEntries = std::map<uint16_t, const TParamEntry*>;

TEntries EntriesOf(const TParamSet* set) {
    TEntries out;
    if (set)
        for (const TParamEntry& e : set->Entries)
            out.emplace(e.Addr, &e);
    return out;
}

// The entry of reg that holds a value of its type, else none.
const TParamEntry* ValueOf(const TEntries& entries, const TReg& reg) {
    const auto it = entries.find(reg.Addr);
    if (it == entries.end() || it->second->Failed || it->second->Type != reg.RegType)
        return nullptr;
    return it->second;
}

std::string Shown(const TParamEntry* e, const TReg& reg) {
    return e ? EntryValueText(*e, &reg) : std::string(kNotRead);
}

bool Readable(const TReg& reg) {
    return reg.RegType != rtHeader && (reg.Io == ioR || reg.Io == ioRW);
}

bool IsSetting(const TReg& reg) { return reg.RegType != rtHeader && reg.Io == ioRW; }

} // namespace

std::vector<uint16_t> ReportRows(const TRegList& regs) {
    std::vector<uint16_t> out;
    for (int r = 0; r < regs.Count(); ++r) {
        const TReg& reg = *regs.Items(r);
        if (Readable(reg) && (reg.Identity || IsSetting(reg)) &&
            std::find(out.begin(), out.end(), reg.Addr) == out.end())
            out.push_back(reg.Addr);
    }
    return out;
}

TReportDevice ReportDeviceOf(const TReportSource& src) {
    TReportDevice d;
    d.Type = src.Site->Type;
    d.Id = src.Site->Id;
    d.Description = src.Site->Description;
    d.Signature = "подпись верна";
    if (!src.Site->Sign.empty() && src.Site->Sign != src.Sign)
        d.Signature += "; описание изменено после приёмки объекта";
    const TEntries found = EntriesOf(src.Found), left = EntriesOf(src.Left),
                   reference = EntriesOf(src.Reference);
    const TParamSet factory = FactorySet(*src.Regs, d.Type, d.Description, src.Sign);
    const TEntries factoryValues = EntriesOf(&factory);
    int differing = 0, unread = 0, read = 0;
    std::map<uint16_t, bool> seen;
    for (int r = 0; r < src.Regs->Count(); ++r) {
        const TReg& reg = *src.Regs->Items(r);
        if (!Readable(reg) || seen[reg.Addr]) continue;
        seen[reg.Addr] = true;
        const TParamEntry* was = ValueOf(found, reg);
        const TParamEntry* now = ValueOf(left, reg);
        if (now) ++read;
        if (reg.Identity)
            d.Identity.push_back({CodeText(reg), NameText(reg), Shown(was, reg), Shown(now, reg)});
        if (!IsSetting(reg)) continue;
        TReportRow row{CodeText(reg), NameText(reg), {}, {}, Shown(was, reg), Shown(now, reg), {}};
        const auto f = factoryValues.find(reg.Addr);
        row.Factory = f == factoryValues.end() ? std::string() : f->second->Shown;
        const TParamEntry* ref = ValueOf(reference, reg);
        row.Reference = ref ? EntryValueText(*ref, &reg) : std::string("—");
        if (!now) {
            row.State = kNotRead;
            if (ref) ++unread;
        } else if (!ref) {
            row.State = kRowNoReference;
        } else if (SameValue(reg.RegType, now->Value, ref->Value)) {
            row.State = was && !SameValue(reg.RegType, was->Value, now->Value) ? kRowChanged
                                                                               : kRowSame;
        } else {
            row.State = kRowDiffers;
            ++differing;
        }
        d.Rows.push_back(std::move(row));
    }
    for (const TJournalEntry& e : src.Writes)
        d.Writes.push_back(
            {e.Time, e.Code, e.Name, e.Before, e.Written, ReportOutcomeText(e.Outcome)});
    if (read == 0)
        d.Verdict = TReportVerdict::NoLink;
    else if (differing > 0)
        d.Verdict = TReportVerdict::Differs, d.Count = differing;
    else if (!src.Reference)
        d.Verdict = TReportVerdict::NoReference;
    else if (unread > 0)
        d.Verdict = TReportVerdict::Unread, d.Count = unread;
    else
        d.Verdict = TReportVerdict::Conforms;
    return d;
}

TReportLine ReportLineOf(const TSiteLine& line, const std::string& settings) {
    TReportLine out;
    out.Port = line.Port;
    out.Protocol = SiteVersionText(line.Version);
    out.Mode = line.Gateway ? "через шлюз" : "напрямую";
    out.Settings = settings;
    return out;
}

std::string VerdictText(const TReportDevice& device) {
    switch (device.Verdict) {
    case TReportVerdict::Conforms: return "соответствует эталону";
    case TReportVerdict::Differs: return "отличается от эталона: " + std::to_string(device.Count);
    case TReportVerdict::NoLink: return "не проверено: нет связи";
    case TReportVerdict::Unread: return "не проверено: не считано " + std::to_string(device.Count);
    case TReportVerdict::NoReference: return "не проверено: нет эталона";
    }
    return {};
}

std::string SiteVerdictText(const TReport& report) {
    int devices = 0, differ = 0, unchecked = 0;
    for (const TReportLine& line : report.Lines)
        for (const TReportDevice& d : line.Devices) {
            ++devices;
            if (d.Verdict == TReportVerdict::Differs) ++differ;
            else if (d.Verdict != TReportVerdict::Conforms) ++unchecked;
        }
    if (devices == 0) return "не проверено: нет устройств";
    if (differ == 0 && unchecked == 0) return "соответствует эталону";
    std::string text = "не соответствует эталону (";
    if (differ > 0) text += "отличаются от эталона устройств: " + std::to_string(differ);
    if (differ > 0 && unchecked > 0) text += "; ";
    if (unchecked > 0) text += "не проверено устройств: " + std::to_string(unchecked);
    return text + " из " + std::to_string(devices) + ")";
}

std::string ReportOutcomeText(const std::string& outcome) {
    if (outcome == kConfirmed) return outcome;
    if (outcome.rfind(KeptOtherOutcome(""), 0) == 0) return kWriteKeptOther;
    // Written and not (or not yet) checked, an accepted unit: the journal's own words.
    if (outcome.rfind(kWritten, 0) == 0 || outcome.rfind("принято", 0) == 0) return outcome;
    return kWriteFailedPrefix + outcome;
}

std::vector<TJournalEntry> VisitWrites(const std::vector<TJournalEntry>& journal,
                                       const std::string& port, const TSiteDevice& device,
                                       int64_t sinceMs) {
    std::vector<TJournalEntry> out;
    const std::string id = std::to_string(device.Id);
    for (const TJournalEntry& e : journal) {
        int64_t ms = 0;
        if (e.Port == port && e.DeviceId == id && e.DescFile == device.Description &&
            ParseTimeWithOffset(e.Time, ms) && ms >= sinceMs)
            out.push_back(e);
    }
    return out;
}

TLeftReader::TLeftReader(TRunnerContext context) : ctx_(std::move(context)) {
    rows_ = ReportRows(*ctx_.Regs);
}

void TLeftReader::Start() {
    set_ = {};
    answered_ = false;
    if (rows_.empty()) {
        if (OnFinished) OnFinished();
        return;
    }
    // The first row alone: a device that does not answer it is not asked for the rest.
    probe_ = std::make_unique<TParamRunner>(ctx_);
    probe_->OnFinished = [this] {
        set_.Entries = probe_->Set.Entries;
        const TParamEntry* first = set_.Entries.empty() ? nullptr : &set_.Entries.front();
        const TReg* reg = nullptr;
        for (int r = 0; first && r < ctx_.Regs->Count(); ++r)
            if (ctx_.Regs->Items(r)->Addr == first->Addr &&
                ctx_.Regs->Items(r)->RegType != rtHeader)
                reg = ctx_.Regs->Items(r);
        answered_ = first && (!first->Failed ||
                              !IsLinkFailure(ClassifyExchange(reg ? reg->GetLastError() : "", 0)));
        if (!answered_ || rows_.size() == 1) {
            if (OnFinished) OnFinished();
            return;
        }
        rest_ = std::make_unique<TParamRunner>(ctx_);
        rest_->OnFinished = [this] {
            set_.Entries.insert(set_.Entries.end(), rest_->Set.Entries.begin(),
                                rest_->Set.Entries.end());
            if (OnFinished) OnFinished();
        };
        rest_->StartBackup(std::vector<uint16_t>(rows_.begin() + 1, rows_.end()));
    };
    probe_->StartBackup({rows_.front()});
}

} // namespace tunavox
