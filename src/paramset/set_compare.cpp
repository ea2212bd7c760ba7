#include "paramset/set_compare.h"

#include <algorithm>
#include <map>

#include "device/table_text.h"
#include "device/value_codec.h"

namespace tunavox {
namespace {

// The first register row of each address.
std::map<uint16_t, int> RowsByAddress(const TRegList& regs) {
    std::map<uint16_t, int> out;
    for (int row = 0; row < regs.Count(); ++row)
        if (regs.Items(row)->RegType != rtHeader) out.emplace(regs.Items(row)->Addr, row);
    return out;
}

} // namespace

std::string EntryValueText(const TParamEntry& e, const TReg* reg) {
    if (e.Failed) return {};
    if (reg && reg->RegType == e.Type) return reg->DisplayTextOf(e.Value);
    return e.Type == rtFloat ? ExactFloatText(e.Value) : VariantText(e.Value);
}

bool SameValue(uint8_t type, const TValue& a, const TValue& b) {
    if (type == rtFloat) return !a.IsNull() && !b.IsNull() && FloatBits(a) == FloatBits(b);
    return a == b;
}

TParamSet FactorySet(const TRegList& regs, const std::string& device, const std::string& file,
                     const std::string& sign) {
    TParamSet set;
    set.Device = device;
    set.DescriptionFile = file;
    set.Sign = sign;
    set.Factory = true;
    for (int r = 0; r < regs.Count(); ++r) {
        const TReg& reg = *regs.Items(r);
        if (reg.RegType == rtHeader || (reg.Io != ioR && reg.Io != ioRW)) continue;
        TParamEntry e;
        e.Addr = reg.Addr;
        e.Type = reg.RegType;
        e.Name = NameText(reg);
        e.Failed = !reg.HasDefValue;
        e.Value = e.Failed ? TValue::MakeNull() : reg.DefValue;
        e.Shown = e.Failed ? "нет заводского значения" : reg.DisplayTextOf(e.Value);
        set.Entries.push_back(std::move(e));
    }
    return set;
}

bool HasFactoryValues(const TParamSet& factory) {
    return std::any_of(factory.Entries.begin(), factory.Entries.end(),
                       [](const TParamEntry& e) { return !e.Failed; });
}

std::vector<TCompareRow> CompareSets(const TRegList& regs, const TParamSet& first,
                                     const TParamSet& second) {
    std::map<uint16_t, const TParamEntry*> others;
    for (const TParamEntry& e : second.Entries)
        others[e.Addr] = &e;
    std::vector<TCompareRow> rows;
    const std::map<uint16_t, int> rowOf = RowsByAddress(regs);
    const auto add = [&](const TParamEntry& e, const TParamEntry* other, bool onlySecond) {
        TCompareRow row;
        row.File = e;
        row.Name = e.Name;
        const auto found = rowOf.find(e.Addr);
        row.Row = found == rowOf.end() ? -1 : found->second;
        const TReg* reg = row.Row >= 0 ? regs.Items(row.Row) : nullptr;
        if (reg) {
            row.Name = NameText(*reg);
            row.Service = reg->Admin;
            row.Setting = reg->Io != ioR;
        }
        const TParamEntry& a = onlySecond ? *other : e;
        row.FileText = onlySecond ? std::string() : EntryValueText(a, reg);
        row.DeviceText = other ? EntryValueText(*other, reg) : std::string();
        if (other && other->Failed) row.DeviceText = other->Shown;
        // The description's checks first, whichever set holds the row.
        if (!reg)
            row.State = TCompareState::NotInDescription;
        else if (reg->RegType != e.Type || (other && other->Type != e.Type))
            row.State = TCompareState::TypeMismatch;
        else if (onlySecond)
            row.State = TCompareState::NotInFirst;
        else if (!other)
            row.State = TCompareState::NotInOther;
        else if (other->Failed && second.Factory)
            row.State = TCompareState::NoFactoryValue;
        else if (e.Failed || other->Failed)
            row.State = TCompareState::NoValueInFile;
        else
            row.State = SameValue(e.Type, e.Value, other->Value) ? TCompareState::Same
                                                                 : TCompareState::Differs;
        // Reals apart in digits the table does not show: both with every digit.
        if (row.State == TCompareState::Differs && e.Type == rtFloat && reg && !reg->Pass &&
            row.FileText == row.DeviceText) {
            row.FileText = ExactFloatText(e.Value);
            row.DeviceText = ExactFloatText(other->Value);
        }
        // Written back to a device only from a set, never a factory-less row.
        row.Restorable = reg && reg->Io == ioRW && !onlySecond && !e.Failed &&
                         row.State != TCompareState::TypeMismatch;
        row.Selected = row.Restorable && row.State == TCompareState::Differs && !row.Service;
        rows.push_back(std::move(row));
    };
    std::map<uint16_t, bool> inFirst;
    for (const TParamEntry& e : first.Entries) {
        const auto it = others.find(e.Addr);
        add(e, it == others.end() ? nullptr : it->second, false);
        inFirst[e.Addr] = true;
    }
    if (!second.Factory)
        for (const TParamEntry& e : second.Entries)
            if (!inFirst.count(e.Addr)) add(e, &e, true);
    std::stable_sort(rows.begin(), rows.end(), [](const TCompareRow& a, const TCompareRow& b) {
        return std::make_pair(!a.Setting, static_cast<unsigned>(a.Row)) <
               std::make_pair(!b.Setting, static_cast<unsigned>(b.Row));
    });
    return rows;
}

std::vector<std::string> SetHeaderWarnings(const TParamSet& first, const TParamSet& second) {
    std::vector<std::string> out;
    if (first.Device != second.Device)
        out.push_back("Наборы сохранены для разных устройств: " + first.Device + " и " +
                      second.Device);
    else if (first.Sign != second.Sign)
        out.push_back("Наборы сохранены с разными версиями описания: " + first.DescriptionFile +
                      " и " + second.DescriptionFile);
    if (first.DeviceId != second.DeviceId)
        out.push_back("Наборы сохранены для разных ID: " + std::to_string(first.DeviceId) + " и " +
                      std::to_string(second.DeviceId));
    return out;
}

} // namespace tunavox
