#pragma once
#include <string>
#include <vector>

#include "device/reg.h"
#include "paramset/param_runner.h"
#include "paramset/param_set.h"

namespace tunavox {

// A set entry's value as the table shows it in reg (when the types agree; else every
// digit); empty when the entry has no value.
std::string EntryValueText(const TParamEntry& entry, const TReg* reg);
// Reals are the same when their single-precision bits are; every other type by value.
bool SameValue(uint8_t type, const TValue& a, const TValue& b);

// The description's factory values (defValue) as a set: every register a backup saves,
// a register without a defValue without a value ("нет заводского значения").
TParamSet FactorySet(const TRegList& regs, const std::string& device, const std::string& file,
                     const std::string& sign);
// Said instead of a comparison when the description gives no factory value at all.
constexpr const char* kNoFactoryValues = "В описании нет заводских значений (defValue)";
// Whether a factory set has any value to compare with.
bool HasFactoryValues(const TParamSet& factory);

// Compares two sets away from any device, row by row as a device comparison does: the
// first set's value in FileText, the second's in DeviceText, each shown as the loaded
// description's table shows it; rows in table order, settings first, read-only rows
// apart at the end, rows of one set only marked so ("нет во втором наборе", "нет в
// первом наборе"; a factory set's extra rows are left out: a partial set is compared on
// its own rows only).
std::vector<TCompareRow> CompareSets(const TRegList& regs, const TParamSet& first,
                                     const TParamSet& second);

// Where two sets' headers part ways (device, description, sign, device ID); empty when
// they agree.
std::vector<std::string> SetHeaderWarnings(const TParamSet& first, const TParamSet& second);

} // namespace tunavox
