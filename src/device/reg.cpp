#include "device/reg.h"

#include "device/value_codec.h"
#include "util/cp1251.h"
#include "xml/xml_document.h"

namespace tunavox {
namespace {

const char* const kInvalidColor = "Invalid Color string";

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ParseTypeText(const std::string& t, uint8_t& type) {
    if (t.empty()) return false;
    switch (t[0]) {
    case 'S':
    case 's':
        type = rtStr;
        return true;
    case 'B':
    case 'b':
        type = rtByte;
        return true;
    case 'W':
    case 'w':
        type = rtWord;
        return true;
    case 'L':
    case 'l':
        type = rtLong;
        return true;
    case 'F':
    case 'f':
        type = rtFloat;
        return true;
    case 'H':
    case 'h':
        type = rtHeader;
        return true;
    case 'U':
    case 'u':
        if (t.size() < 2) return false;
        if (t[1] == 'B')
            type = rtUByte;
        else if (t[1] == 'W')
            type = rtUWord;
        else if (t[1] == 'L')
            type = rtULong;
        else
            return false;
        return true;
    default:
        return false;
    }
}

bool ParseIoText(const std::string& t, uint8_t& io) {
    const std::string u = Utf8Upper(t);
    if (u == "R")
        io = ioR;
    else if (u == "W")
        io = ioW;
    else if (u == "RW")
        io = ioRW;
    else if (u == "WOR")
        io = ioWOR;
    else
        return false;
    return true;
}

} // namespace

bool ParseColorText(const std::string& text, uint32_t& color) {
    std::string_view s = text;
    if (s.size() == 7 && s[0] == '#') s.remove_prefix(1);
    if (s.size() != 6) return false;
    uint32_t digits[6];
    for (size_t i = 0; i < 6; ++i) {
        const int v = HexValue(s[i]);
        if (v < 0) return false;
        digits[i] = static_cast<uint32_t>(v);
    }
    const uint32_t r = digits[0] * 16 + digits[1];
    const uint32_t g = digits[2] * 16 + digits[3];
    const uint32_t b = digits[4] * 16 + digits[5];
    color = r | (g << 8) | (b << 16);
    return true;
}

TReg::TReg(TRegList* owner)
    : Owner(owner), value_(TValue::MakeNull()), devValue_(TValue::MakeNull()) {}

bool TReg::GetBusy() const {
    std::lock_guard<std::mutex> g(Owner->lock_);
    return busy_;
}

void TReg::SetBusy(bool busy) {
    std::lock_guard<std::mutex> g(Owner->lock_);
    busy_ = busy;
}

std::string TReg::GetLastError() const {
    std::lock_guard<std::mutex> g(Owner->lock_);
    return lastError_;
}

void TReg::SetLastError(const std::string& error) {
    std::lock_guard<std::mutex> g(Owner->lock_);
    lastError_ = error;
}

TValue TReg::GetValue() const {
    std::lock_guard<std::mutex> g(Owner->lock_);
    return value_;
}

TValue TReg::GetDevValue() const {
    std::lock_guard<std::mutex> g(Owner->lock_);
    return devValue_;
}

void TReg::SetValue(const TValue& v, bool alsoDevice, const std::string& error) {
    std::lock_guard<std::mutex> g(Owner->lock_);
    value_ = v;
    if (alsoDevice) devValue_ = v;
    lastError_ = error;
}

void TReg::CommitWrite() {
    std::lock_guard<std::mutex> g(Owner->lock_);
    devValue_ = value_;
    lastError_.clear();
}

bool TReg::IsModified() const {
    std::lock_guard<std::mutex> g(Owner->lock_);
    if (RegType == rtFloat) return FloatText(Prec, value_) != FloatText(Prec, devValue_);
    return !(value_ == devValue_);
}

bool TReg::SetValueFromText(const std::string& text, bool alsoDevice) {
    if (text.empty() && RegType != rtStr) return true;
    const std::string* raw = ValueTexts.FindNameOfValue(text);
    TValue converted;
    if (!TextToValue(raw ? *raw : text, RegType, converted)) return false;
    SetValue(converted, alsoDevice, std::string());
    return true;
}

std::string TReg::TextProblem(const std::string& text) const {
    if (text.empty() && RegType != rtStr) return {};
    if (ValueTexts.FindNameOfValue(text)) return {};
    std::string problem = tunavox::TextProblem(text, RegType);
    if (problem.empty()) return {};
    if (Pass && text.find_first_not_of('*') == std::string::npos)
        return "звёздочки скрывают значение: введите новое (" + problem + ")";
    if (!ValueTexts.Empty()) return "выберите значение из списка или введите число: " + problem;
    return problem;
}

std::string TReg::DisplayText() const {
    return DisplayTextOf(GetValue());
}

std::string TReg::DisplayTextOf(const TValue& v) const {
    if (v.IsNull()) return {};
    const std::string raw = RegType == rtFloat ? FloatText(Prec, v) : VariantText(v);
    if (Pass) return std::string(Utf8Length(raw), '*');
    if (!ValueTexts.Empty())
        if (const std::string* shown = ValueTexts.FindByName(raw)) return *shown;
    return raw;
}

std::string TReg::ReadFromElement(const XmlElement& reg) {
    std::string error;
    int32_t addr = 0;
    if (!reg.AttrInt("addr", 0, addr, error)) return error;
    Addr = static_cast<uint16_t>(addr & 0xFFFF);
    if (reg.HasAttribute("header")) {
        RegType = rtHeader;
        Name = reg.AttrText("header");
    } else {
        const std::string type = reg.AttrText("type");
        if (!ParseTypeText(type, RegType)) return "Некорректный тип регистра: " + type;
        const std::string io = reg.AttrText("io");
        if (!ParseIoText(io, Io)) return "Некорректный тип ввода/вывода: " + io;
        if (!reg.AttrBool("poll", false, Poll, error)) return error;
        if (!reg.AttrBool("pass", false, Pass, error)) return error;
        if (!reg.AttrBool("identity", false, Identity, error)) return error;
        if (!reg.AttrInt("prec", 7, Prec, error)) return error;
        Name = reg.ChildText("name");
        Units = reg.ChildText("units");
        Desc = reg.ChildText("desc");
    }
    if (!reg.AttrBool("admin", false, Admin, error)) return error;
    if (!TextToValue(reg.AttrText("defValue"), RegType, DefValue)) DefValue = TValue();
    HasDefValue = reg.HasAttribute("defValue") && !DefValue.IsEmpty() && !DefValue.IsNull();
    const std::string font = reg.AttrText("font");
    if (!font.empty() && !ParseColorText(font, FontColor)) return kInvalidColor;
    const std::string bg = reg.AttrText("bg");
    if (!bg.empty() && !ParseColorText(bg, BgColor)) return kInvalidColor;
    ValueTexts.Clear();
    if (const XmlElement values = reg.FirstChild("values"))
        for (const XmlElement& item : values.Children("item"))
            ValueTexts.Add(item.AttrText("value"), item.AttrText("text"));
    const TValue initial = Io == ioWOR && RegType != rtHeader ? DefValue : TValue::MakeNull();
    SetValue(initial, true, std::string());
    return {};
}

TReg* TRegList::Add() {
    items_.push_back(std::make_unique<TReg>(this));
    return items_.back().get();
}

std::string TRegList::Load(const XmlElement& registers) {
    Clear();
    for (const XmlElement& element : registers.Children("REG")) {
        const std::string error = Add()->ReadFromElement(element);
        if (!error.empty()) {
            Clear();
            return error;
        }
    }
    return {};
}

bool TReg::DiffersFromFactory() const {
    if (Io != ioRW || RegType == rtHeader || !HasDefValue) return false;
    const TValue v = GetValue();
    if (v.IsEmpty() || v.IsNull()) return false;
    if (RegType == rtFloat) return FloatBits(v) != FloatBits(DefValue);
    return !(v == DefValue);
}

} // namespace tunavox
