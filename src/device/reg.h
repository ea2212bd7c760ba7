#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/name_value_list.h"
#include "device/value.h"

namespace tunavox {

class TRegList;
class XmlElement;

// "No colour" for a register's or the table's colours.
constexpr uint32_t kNoColor = 0x1FFFFFFF;

// One register of the loaded description. The description fields are written only
// while loading; Busy, LastError, Value and DevValue are guarded by the owner's lock.
class TReg {
public:
    explicit TReg(TRegList* owner);

    TRegList* Owner;
    std::string Name;
    std::string Units;
    std::string Desc;
    uint16_t Addr = 0;
    bool Poll = false;
    bool Pass = false;
    // Tells this unit from another of its type (serial number, firmware version).
    bool Identity = false;
    int32_t Prec = 7;
    uint8_t Io = ioR;
    uint8_t RegType = rtStr;
    TNameValueList ValueTexts;
    uint32_t BgColor = kNoColor;
    uint32_t FontColor = kNoColor;
    bool Admin = false;
    // The defValue converted by the type; empty when absent or not convertible.
    TValue DefValue;
    // Whether the description gives a factory value: a Str register without defValue has
    // DefValue "" for its WOR start value, but no factory value.
    bool HasDefValue = false;

    bool GetBusy() const;
    void SetBusy(bool busy);
    std::string GetLastError() const;
    void SetLastError(const std::string& error);
    TValue GetValue() const;
    TValue GetDevValue() const;
    void SetValue(const TValue& v, bool alsoDevice, const std::string& error);
    // After a successful write: the device now holds the current value.
    void CommitWrite();
    // Float: the two values differ when shown with Prec digits; others: they differ.
    bool IsModified() const;
    // Converts a named value's display text or the text itself; an empty text for a
    // non-Str register succeeds and changes nothing. False leaves everything as it was.
    bool SetValueFromText(const std::string& text, bool alsoDevice);
    // Why SetValueFromText refuses text, in words; empty when it takes it.
    std::string TextProblem(const std::string& text) const;
    // Text for the value cell: masked for Pass, named when ValueTexts has the value.
    std::string DisplayText() const;
    // The same text for another value of this register.
    std::string DisplayTextOf(const TValue& v) const;
    // A setting (RW) with a factory value (defValue) whose current value is known and
    // another one (reals by their single-precision bits).
    bool DiffersFromFactory() const;

    // Fills the description fields from one REG element; returns the failure's message.
    std::string ReadFromElement(const XmlElement& reg);

private:
    bool busy_ = false;
    std::string lastError_;
    TValue value_;
    TValue devValue_;
};

// All registers of the loaded description, in file order; row n is register n.
class TRegList {
public:
    TRegList() = default;
    virtual ~TRegList() = default;
    TRegList(const TRegList&) = delete;
    TRegList& operator=(const TRegList&) = delete;

    TReg* Add();
    int Count() const { return static_cast<int>(items_.size()); }
    TReg* Items(int index) const { return items_.at(static_cast<size_t>(index)).get(); }
    void Clear() { items_.clear(); }

    // Fills the list from a REGISTERS element. Either every REG loads or the list
    // ends up empty; returns the first failure's message.
    std::string Load(const XmlElement& registers);

private:
    friend class TReg;
    mutable std::mutex lock_;
    std::vector<std::unique_ptr<TReg>> items_;
};

// A colour text "#RRGGBB" or "RRGGBB" as red + green*256 + blue*65536.
bool ParseColorText(const std::string& text, uint32_t& color);

} // namespace tunavox
