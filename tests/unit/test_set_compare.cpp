// Parameter sets away from the device: factory values, two sets side by side, settings
// apart from measurements, and Russian counts.
#include <gtest/gtest.h>

#include <algorithm>

#include "device/description.h"
#include "paramset/set_compare.h"
#include "test_support.h"
#include "util/plural.h"

using namespace tunavox;
using namespace tunavox::test;

namespace {

const std::string kChp7 = std::string(TUNAVOX_DEVICES_DIR) + "/NastrChP7.xml";

struct Loaded {
    TRegList Regs;
    TNameValueList Errors;
    TDescription Desc;
    Loaded() { EXPECT_EQ(LoadDescription(kChp7, Regs, Errors, Desc, "./"), ""); }
};

const TCompareRow* Find(const std::vector<TCompareRow>& rows, uint16_t addr) {
    for (const TCompareRow& r : rows)
        if (r.File.Addr == addr) return &r;
    return nullptr;
}

TParamEntry* Entry(TParamSet& set, uint16_t addr) {
    for (TParamEntry& e : set.Entries)
        if (e.Addr == addr) return &e;
    return nullptr;
}

} // namespace

TEST(Plural, RussianNumberAgreement) {
    const std::pair<long long, const char*> cases[] = {
        {0, "0 параметров"},     {1, "1 параметр"},       {2, "2 параметра"},
        {4, "4 параметра"},      {5, "5 параметров"},     {11, "11 параметров"},
        {12, "12 параметров"},   {14, "14 параметров"},   {21, "21 параметр"},
        {22, "22 параметра"},    {25, "25 параметров"},   {101, "101 параметр"},
        {111, "111 параметров"}, {112, "112 параметров"}, {1000, "1000 параметров"},
        {1001, "1001 параметр"},
    };
    for (const auto& [n, text] : cases)
        EXPECT_EQ(ParametersText(n), text) << n;
    EXPECT_EQ(CountText(3, "строка", "строки", "строк"), "3 строки");
    EXPECT_EQ(CountText(11, "строка", "строки", "строк"), "11 строк");
}

TEST(SetCompare, TheDescriptionFileIsNamedWithoutItsFolder) {
    // A Windows path may use either separator; the set names the file alone.
    TempDir dir;
    const std::string path = WriteSignedDescription(
        dir, "sub\\NastrX.xml",
        Description("    <REG addr=\"1\" type=\"UWord\" io=\"RW\"><name>a</name></REG>\r\n"));
    TRegList regs;
    TNameValueList errors;
    TDescription desc;
    ASSERT_EQ(LoadDescription(path, regs, errors, desc, "./"), "");
    EXPECT_EQ(desc.FileName, "NastrX.xml");
}

TEST(SetCompare, FactoryValuesOfTheDescription) {
    Loaded d;
    const TParamSet f = FactorySet(d.Regs, d.Desc.Name, d.Desc.FileName, d.Desc.Sign);
    EXPECT_TRUE(f.Factory);
    // Every register a backup saves: R and RW, no headings, nothing write-only.
    const TParamEntry* freq = nullptr;
    for (const TParamEntry& e : f.Entries) {
        EXPECT_NE(e.Addr, 0x0301); // W
        EXPECT_NE(e.Addr, 0x0306); // WOR
        if (e.Addr == 0x0302) freq = &e;
    }
    ASSERT_NE(freq, nullptr);
    EXPECT_FALSE(freq->Failed);
    EXPECT_EQ(freq->Shown, "50.00");
    EXPECT_EQ(f.Entries.size(), 32u); // what read reads, but the WOR row
}

TEST(SetCompare, TwoSetsRowByRowSettingsFirst) {
    Loaded d;
    TParamSet a = FactorySet(d.Regs, d.Desc.Name, d.Desc.FileName, d.Desc.Sign);
    a.Factory = false;
    TParamSet b = a;
    Entry(b, 0x0302)->Value = TValue(45.5);         // a setting
    Entry(b, 0x0200)->Value = TValue(48.0);         // a measurement
    Entry(b, 0x0101)->Value = TValue(uint32_t{99}); // a replacement unit's serial number
    Entry(b, 0x0303)->Failed = true;                // not read when b was saved
    Entry(b, 0x0303)->Value = TValue::MakeNull();
    Entry(b, 0x0303)->Shown = "Устройство не отвечает";
    b.Entries.erase(b.Entries.begin() + 2); // b lacks one register a has
    TParamEntry extra{0x7777, rtUWord, false, TValue(uint16_t{1}), "1", "чужой"};
    b.Entries.push_back(extra); // and has one a lacks
    const std::vector<TCompareRow> rows = CompareSets(d.Regs, a, b);

    struct Expect {
        uint16_t Addr;
        TCompareState State;
        bool Setting;
    };
    const uint16_t missing = a.Entries[2].Addr;
    const Expect expected[] = {
        {0x0302, TCompareState::Differs, true},       {0x0304, TCompareState::Same, true},
        {0x0303, TCompareState::NoValueInFile, true}, {0x0200, TCompareState::Differs, false},
        {0x0101, TCompareState::Differs, false},      {missing, TCompareState::NotInOther, false},
        {0x7777, TCompareState::NotInDescription, true},
    };
    for (const Expect& e : expected) {
        const TCompareRow* r = Find(rows, e.Addr);
        ASSERT_NE(r, nullptr) << e.Addr;
        EXPECT_EQ(r->State, e.State) << e.Addr;
        EXPECT_EQ(r->Setting, e.Setting) << e.Addr;
    }
    EXPECT_EQ(Find(rows, 0x0302)->FileText, "50.00");
    EXPECT_EQ(Find(rows, 0x0302)->DeviceText, "45.50");
    EXPECT_EQ(Find(rows, 0x0303)->DeviceText, "Устройство не отвечает");
    // Settings first, the read-only rows apart after them.
    bool readOnlySeen = false;
    for (const TCompareRow& r : rows) {
        if (!r.Setting) readOnlySeen = true;
        EXPECT_FALSE(readOnlySeen && r.Setting) << r.File.Addr;
    }
    // Only settings of this description count: 0x0302 and 0x0303, not 0x7777.
    const TCompareCounts counts = CountComparison(rows);
    int settings = 0;
    for (const TCompareRow& r : rows)
        settings += r.Setting && r.Row >= 0 ? 1 : 0;
    EXPECT_EQ(counts.Differing, 2);
    EXPECT_EQ(counts.Settings, settings);
    EXPECT_EQ(SettingsDifferenceText(counts.Differing, counts.Settings),
              "Различий в настройках: 2 из " + std::to_string(settings));
    EXPECT_EQ(SettingsDifferenceText(0, settings), "Различий в настройках нет");
    // The other way round: the same labels (but which set lacks a row) and counts.
    const std::vector<TCompareRow> swapped = CompareSets(d.Regs, b, a);
    for (const TCompareRow& r : rows) {
        const TCompareRow* s = Find(swapped, r.File.Addr);
        ASSERT_NE(s, nullptr) << r.File.Addr;
        const TCompareState mirrored = r.State == TCompareState::NotInOther   ? TCompareState::NotInFirst
                                       : r.State == TCompareState::NotInFirst ? TCompareState::NotInOther
                                                                              : r.State;
        EXPECT_EQ(s->State, mirrored) << r.File.Addr;
    }
    const TCompareCounts back = CountComparison(swapped);
    EXPECT_EQ(back.Differing, counts.Differing);
    EXPECT_EQ(back.Settings, counts.Settings);
    EXPECT_EQ(back.ReadOnly, counts.ReadOnly);
    // A row only in the second set with another type than the description's.
    TParamSet c = a;
    c.Entries.push_back({0x0304, rtStr, false, TValue("x"), "x", "чужой тип"});
    TParamSet first = a;
    first.Entries.erase(std::remove_if(first.Entries.begin(), first.Entries.end(),
                                       [](const TParamEntry& e) { return e.Addr == 0x0304; }),
                        first.Entries.end());
    c.Entries.erase(std::remove_if(c.Entries.begin(), c.Entries.end(),
                                   [](const TParamEntry& e) {
                                       return e.Addr == 0x0304 && e.Type != rtStr;
                                   }),
                    c.Entries.end());
    EXPECT_EQ(Find(CompareSets(d.Regs, first, c), 0x0304)->State, TCompareState::TypeMismatch);
    EXPECT_EQ(Find(CompareSets(d.Regs, c, first), 0x0304)->State, TCompareState::TypeMismatch);

    // The headers are compared too.
    b.Device = "БУК-2";
    b.DeviceId = 7;
    const std::vector<std::string> w = SetHeaderWarnings(a, b);
    ASSERT_EQ(w.size(), 2u);
    EXPECT_EQ(w[0], "Наборы сохранены для разных устройств: " + a.Device + " и БУК-2");
    EXPECT_EQ(w[1], "Наборы сохранены для разных ID: 0 и 7");
}

TEST(SetCompare, AgainstTheFactoryValues) {
    Loaded d;
    const TParamSet factory = FactorySet(d.Regs, d.Desc.Name, d.Desc.FileName, d.Desc.Sign);
    TParamSet a = factory;
    a.Factory = false;
    Entry(a, 0x0303)->Value = TValue(7.0);
    // A partial set: compared on its own rows only.
    TParamSet partial;
    partial.Entries = {*Entry(a, 0x0303), *Entry(a, 0x0304)};
    const std::vector<TCompareRow> rows = CompareSets(d.Regs, partial, factory);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(Find(rows, 0x0303)->State, TCompareState::Differs);
    EXPECT_EQ(Find(rows, 0x0304)->State, TCompareState::Same);
    // A register without a defValue has nothing to compare with, and is no difference.
    TParamSet noDefaults = factory;
    for (TParamEntry& e : noDefaults.Entries) {
        e.Failed = true;
        e.Value = TValue::MakeNull();
        e.Shown = "нет заводского значения";
    }
    const std::vector<TCompareRow> none = CompareSets(d.Regs, a, noDefaults);
    for (const TCompareRow& r : none) {
        EXPECT_EQ(r.State, TCompareState::NoFactoryValue) << r.File.Addr;
        EXPECT_FALSE(CountsAsDifference(r));
        EXPECT_EQ(CompareStateText(r), "нет заводского значения");
    }
}

TEST(SetCompare, ARegisterWithoutDefValueHasNoFactoryValueWhateverItsType) {
    // A Str register converts a missing defValue to "", which is no factory value: it must
    // never count as a difference, be ticked for writing or be "restored" as an empty text.
    TempDir dir;
    const std::string path = WriteSignedDescription(
        dir, "NastrD.xml",
        Description("    <REG addr=\"1\" type=\"Str\" io=\"RW\"><name>s</name></REG>\r\n"
                    "    <REG addr=\"2\" type=\"Str\" io=\"RW\" defValue=\"\"><name>e</name></REG>\r\n"
                    "    <REG addr=\"3\" type=\"Str\" io=\"RW\" defValue=\"abc\"><name>t</name></REG>\r\n"
                    "    <REG addr=\"4\" type=\"Float\" io=\"RW\"><name>f</name></REG>\r\n"
                    "    <REG addr=\"5\" type=\"Byte\" io=\"RW\"><name>b</name></REG>\r\n"
                    "    <REG addr=\"6\" type=\"Str\" io=\"WOR\"><name>w</name></REG>\r\n"));
    TRegList regs;
    TNameValueList errors;
    TDescription desc;
    ASSERT_EQ(LoadDescription(path, regs, errors, desc, "./"), "");
    const TParamSet factory = FactorySet(regs, desc.Name, desc.FileName, desc.Sign);
    TParamSet device = factory;
    device.Factory = false;
    for (TParamEntry& e : device.Entries) {
        e.Failed = false;
        e.Value = e.Type == rtStr ? TValue("текст") : e.Type == rtFloat ? TValue(1.0)
                                                                        : TValue(int8_t{1});
        e.Shown = "x";
    }
    struct Expect {
        uint16_t Addr;
        TCompareState State;
        bool Differs; // by the table's filter "Только отличающиеся от заводских"
    };
    const Expect expected[] = {
        {1, TCompareState::NoFactoryValue, false}, {2, TCompareState::Differs, true},
        {3, TCompareState::Differs, true},         {4, TCompareState::NoFactoryValue, false},
        {5, TCompareState::NoFactoryValue, false},
    };
    const std::vector<TCompareRow> rows = CompareSets(regs, device, factory);
    for (const Expect& e : expected) {
        const TCompareRow* r = Find(rows, e.Addr);
        ASSERT_NE(r, nullptr) << e.Addr;
        EXPECT_EQ(r->State, e.State) << e.Addr;
        EXPECT_EQ(CountsAsDifference(*r), e.Differs) << e.Addr;
        EXPECT_EQ(r->Selected, e.Differs) << e.Addr; // ticked for "Записать выбранные"
        TReg* reg = regs.Items(e.Addr - 1);
        reg->SetValue(device.Entries[e.Addr - 1].Value, true, {});
        EXPECT_EQ(reg->DiffersFromFactory(), e.Differs) << e.Addr;
    }
    // The write-only text still starts from its (empty) converted default.
    EXPECT_EQ(regs.Items(5)->GetValue(), TValue(""));
}
