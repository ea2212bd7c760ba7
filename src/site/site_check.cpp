#include "site/site_check.h"

#include <algorithm>
#include <map>

#include "device/catalogue.h"
#include "device/table_text.h"
#include "device/value_codec.h"
#include "engine/link_state.h"

namespace tunavox {

std::string SiteStateText(const TSiteCheck& check) {
    switch (check.State) {
    case TSiteState::NotChecked: return "не проверено";
    case TSiteState::InPlace: return "на месте";
    case TSiteState::Silent: return "нет ответа";
    case TSiteState::OtherDevice: return "другое устройство";
    case TSiteState::Replaced: return "заменено";
    case TSiteState::Differs:
        return "отличается от эталона: " + std::to_string(std::max(check.Differences, 0));
    }
    return {};
}

std::string IdentityChangesText(const TSiteCheck& check) {
    std::string text;
    for (const TIdentityChange& c : check.Changes)
        text += (text.empty() ? "" : "; ") + c.Name + ": " + (c.Old.empty() ? "—" : c.Old) +
                " → " + (c.New.empty() ? "—" : c.New);
    return text;
}

bool SiteDeviceTrusted(const TSiteCheck& check) {
    return check.State == TSiteState::InPlace || check.State == TSiteState::Differs;
}

std::vector<TIdentityValue> IdentityNow(const TRegList& regs, const TNameValueList* errorTexts) {
    std::vector<TIdentityValue> values;
    for (int r = 0; r < regs.Count(); ++r) {
        const TReg& reg = *regs.Items(r);
        if (reg.RegType == rtHeader || !reg.Identity) continue;
        const TValue v = reg.GetValue();
        values.push_back(
            {reg.Addr, v.IsNull() || v.IsEmpty() ? std::string() : ValueText(reg, errorTexts)});
    }
    return values;
}

TSiteDevice SiteDeviceOf(const TDescription& desc, const TRegList& regs,
                         const TNameValueList* errorTexts, uint32_t id,
                         std::vector<uint16_t> polled) {
    TSiteDevice d;
    d.Description = desc.FileName;
    d.Type = desc.Name;
    d.Sign = desc.Sign;
    d.Id = id;
    d.Identity = IdentityNow(regs, errorTexts);
    d.Polled = std::move(polled);
    d.Reference = ReferenceName(d);
    return d;
}

std::optional<TParamSet> LoadReference(const std::string& folder, const TSiteDevice& device,
                                       std::string& problem) {
    if (device.Reference.empty()) {
        problem = "эталон не задан";
        return std::nullopt;
    }
    TParamSet set;
    if (!ReadParamSetFile(SiteFolderFile(folder, device.Reference), set, problem))
        return std::nullopt;
    return set;
}

std::vector<TScanType> SiteTypes(const std::string& programFolder) {
    std::vector<std::string> problems;
    return LoadScanTypes(ScanCatalogue(programFolder), programFolder, problems);
}

std::optional<size_t> TypeIndex(const std::vector<TScanType>& types, const std::string& fileName) {
    for (size_t t = 0; t < types.size(); ++t)
        if (types[t].FileName == fileName) return t;
    return std::nullopt;
}

TSiteCheckRunner::TSiteCheckRunner(TRunnerContext context, TSiteDevice device,
                                   std::optional<TParamSet> reference, std::string problem,
                                   std::vector<TScanType> types, std::optional<size_t> expected)
    : ctx_(std::move(context)), device_(std::move(device)), reference_(std::move(reference)),
      types_(std::move(types)), expected_(expected) {
    result_.Problem = std::move(problem);
    // Every request of the check is counted, the comparison's too.
    ctx_.Queue = [this, queue = ctx_.Queue](std::unique_ptr<TAction> a) {
        ++result_.Reads;
        queue(std::move(a));
    };
}

TSiteCheckRunner::~TSiteCheckRunner() = default;

void TSiteCheckRunner::Start() {
    if (running_) return;
    running_ = true;
    const TSiteCheck kept{TSiteState::NotChecked, {}, {}, {}, -1, result_.Problem, {}, 0, {}};
    result_ = kept;
    first_.clear();
    fresh_.clear();
    const TRegList& regs = *ctx_.Regs;
    const auto add = [&](int row) {
        if (row >= 0 && std::find(first_.begin(), first_.end(), row) == first_.end())
            first_.push_back(row);
    };
    const auto rowOf = [&](uint16_t addr) {
        for (int r = 0; r < regs.Count(); ++r)
            if (regs.Items(r)->RegType != rtHeader && regs.Items(r)->Addr == addr) return r;
        return -1;
    };
    // The probe register first: a silent device costs one time-out.
    for (const TScanRegister& check : ScanChecks(regs))
        add(rowOf(check.Addr));
    for (int r = 0; r < regs.Count(); ++r)
        if (regs.Items(r)->Identity && regs.Items(r)->RegType != rtHeader &&
            regs.Items(r)->Io != ioW && regs.Items(r)->Io != ioWOR)
            add(r);
    ReadFirst(0);
}

void TSiteCheckRunner::ReadFirst(size_t next) {
    if (next >= first_.size()) return CompareIdentity();
    const int row = first_[next];
    std::weak_ptr<char> alive = alive_;
    ctx_.Queue(std::make_unique<TActionReadReg>(
        ctx_.Canal, ctx_.DeviceId, ctx_.Regs->Items(row), row,
        [this, alive, next, row](TAction* a) {
            if (alive.expired()) return;
            if (OnRow) OnRow(row);
            if (!a->HasError()) {
                fresh_.insert(row);
                return ReadFirst(next + 1);
            }
            const TLinkKind kind = ClassifyExchange(a->Error(), a->PortError());
            // Nothing answers: nobody to ask who it is.
            if (kind == TLinkKind::NoAnswer || kind == TLinkKind::PortLost ||
                kind == TLinkKind::PortClosed || kind == TLinkKind::PortError)
                return Finish(TSiteState::Silent);
            AskWho();
        }));
}

void TSiteCheckRunner::AskWho() {
    if (!expected_ || types_.empty()) {
        result_.Other = "неизвестное устройство";
        return Finish(TSiteState::OtherDevice);
    }
    fresh_.clear();
    std::weak_ptr<char> alive = alive_;
    who_ = std::make_unique<TIdentifyRunner>(ctx_.Canal, static_cast<uint32_t>(ctx_.DeviceId),
                                             types_, *expected_, ctx_.Queue);
    who_->OnFinished = [this, alive] {
        if (alive.expired()) return;
        switch (who_->Result()) {
        case TIdentity::Same:
            // A refused row of its own type: the check goes on without it.
            return CompareIdentity();
        case TIdentity::Silent: return Finish(TSiteState::Silent);
        case TIdentity::Other:
        case TIdentity::Unknown: result_.Other = who_->WhatText(); return Finish(TSiteState::OtherDevice);
        }
    };
    who_->Start();
}

void TSiteCheckRunner::CompareIdentity() {
    result_.Identity = IdentityNow(*ctx_.Regs, ctx_.ErrorTexts);
    for (const TIdentityValue& was : device_.Identity) {
        const auto now = std::find_if(result_.Identity.begin(), result_.Identity.end(),
                                      [&](const TIdentityValue& v) { return v.Addr == was.Addr; });
        if (now == result_.Identity.end() || now->Value == was.Value) continue;
        std::string name = DeviceErrorKey(was.Addr);
        for (int r = 0; r < ctx_.Regs->Count(); ++r)
            if (ctx_.Regs->Items(r)->Addr == was.Addr && ctx_.Regs->Items(r)->RegType != rtHeader)
                name = NameText(*ctx_.Regs->Items(r));
        result_.Changes.push_back({was.Addr, name, was.Value, now->Value});
    }
    if (!reference_) return Finish(result_.Changes.empty() ? TSiteState::InPlace
                                                           : TSiteState::Replaced);
    TRunnerContext context = ctx_;
    compare_ = std::make_unique<TParamRunner>(context);
    compare_->OnRow = OnRow;
    std::weak_ptr<char> alive = alive_;
    compare_->OnFinished = [this, alive] {
        if (alive.expired()) return;
        result_.Rows = compare_->Rows;
        const TCompareCounts counts = CountComparison(result_.Rows);
        result_.Differences = counts.Differing + counts.Mismatched;
        Finish(!result_.Changes.empty() ? TSiteState::Replaced
               : result_.Differences > 0 ? TSiteState::Differs
                                         : TSiteState::InPlace);
    };
    compare_->StartCompare(*reference_, fresh_);
}

void TSiteCheckRunner::Finish(TSiteState state) {
    result_.State = state;
    result_.Found.clear();
    if (state != TSiteState::Silent && state != TSiteState::OtherDevice) {
        // Rows read first, then the comparison's, each register once in table order.
        std::map<int, std::string> read; // row: the error in words, empty when read
        for (const int row : fresh_)
            read[row] = {};
        // A compared row was read; one still ReadFailed says why not (rows the comparison
        // passes by, such as a value missing from the reference, were not asked).
        for (const TCompareRow& row : result_.Rows) {
            const bool compared =
                row.State == TCompareState::Same || row.State == TCompareState::Differs;
            if (row.Row >= 0 && !read.count(row.Row) &&
                (compared || row.State == TCompareState::ReadFailed))
                read[row.Row] = compared ? std::string() : row.Error;
        }
        for (const auto& [row, error] : read)
            result_.Found.push_back(
                EntryOfRead(*ctx_.Regs->Items(row), !error.empty(), error, ctx_.ErrorTexts));
    }
    running_ = false;
    if (OnFinished) OnFinished();
}

} // namespace tunavox
