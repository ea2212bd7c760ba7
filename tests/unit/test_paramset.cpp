// The parameter set file: exact round trips and refusal of anything malformed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "paramset/param_set.h"
#include "test_support.h"

using namespace tunavox;
using namespace tunavox::test;

namespace {

TParamSet Sample() {
    TParamSet s;
    s.Device = "Котёл; \"БУК-2\"";
    s.DescriptionFile = "NastrBUK2.xml";
    s.Sign = "0123456789ABCDEF0123456789ABCDEF";
    s.DeviceId = 4000000000u;
    s.Protocol = 0;
    s.Saved = "2026-12-08 10:11:12";
    s.Program = "0.1.0";
    const std::pair<uint8_t, TValue> values[] = {
        {rtStr, TValue(std::string("a;b\t\"кавычки\"\r\nвторая\\ строка"))},
        {rtStr, TValue(std::string("  пробелы по краям  "))},
        {rtStr, TValue(std::string("\x01\x7F"))},
        {rtStr, TValue(std::string())},
        {rtByte, TValue(int8_t{-128})},
        {rtWord, TValue(int16_t{-32768})},
        {rtLong, TValue(int32_t{std::numeric_limits<int32_t>::min()})},
        {rtUByte, TValue(uint8_t{255})},
        {rtUWord, TValue(uint16_t{65535})},
        {rtULong, TValue(uint32_t{4294967295u})},
        {rtFloat, TValue(static_cast<double>(0.1f))},
        {rtFloat, TValue(static_cast<double>(1e-38f))},
        {rtFloat, FromFloatBits(0x80000000u)}, // -0
        {rtFloat, FromFloatBits(0x00000001u)}, // the smallest subnormal
        {rtFloat, FromFloatBits(0x7F7FFFFFu)},
    };
    uint16_t addr = 1;
    for (const auto& [type, value] : values)
        s.Entries.push_back({addr++, type, false, value, "показ", "Имя [ед.]"});
    s.Entries.push_back({0xFFFF, rtUWord, true, TValue::MakeNull(), "Устройство не отвечает", "x"});
    return s;
}

} // namespace

TEST(ParamSet, RoundTripIsExact) {
    TempDir dir;
    const TParamSet saved = Sample();
    std::string error;
    ASSERT_TRUE(WriteParamSetFile(dir.File("a.params"), saved, error)) << error;
    TParamSet back;
    ASSERT_TRUE(ReadParamSetFile(dir.File("a.params"), back, error)) << error;
    EXPECT_EQ(back.Device, saved.Device);
    EXPECT_EQ(back.DescriptionFile, saved.DescriptionFile);
    EXPECT_EQ(back.Sign, saved.Sign);
    EXPECT_EQ(back.DeviceId, saved.DeviceId);
    EXPECT_EQ(back.Protocol, saved.Protocol);
    EXPECT_EQ(back.Saved, saved.Saved);
    EXPECT_EQ(back.FailedCount(), 1);
    ASSERT_EQ(back.Entries.size(), saved.Entries.size());
    for (size_t i = 0; i < saved.Entries.size(); ++i) {
        const TParamEntry &a = saved.Entries[i], &b = back.Entries[i];
        EXPECT_EQ(b.Addr, a.Addr);
        EXPECT_EQ(b.Type, a.Type);
        EXPECT_EQ(b.Failed, a.Failed);
        EXPECT_EQ(b.Shown, a.Shown);
        EXPECT_EQ(b.Name, a.Name);
        if (a.Type == rtFloat)
            EXPECT_EQ(FloatBitsOf(b.Value), FloatBitsOf(a.Value)) << i;
        else
            EXPECT_EQ(b.Value, a.Value) << i;
    }
    // One line per register, readable: the Str value stays on its line.
    const std::string text = ReadBytes(dir.File("a.params"));
    EXPECT_NE(text.find("0x0001\tStr\t\"a;b\\t\\\"кавычки\\\"\\r\\nвторая\\\\ строка\"\t"),
              std::string::npos);
    EXPECT_NE(text.find("0x000B\tFloat\t0x3DCCCCCD\t"), std::string::npos);
    EXPECT_NE(text.find("0xFFFF\tUWord\t-\t\"Устройство не отвечает\"\tx\n"), std::string::npos);
    EXPECT_EQ(FormatParamSet(back), text);
}

TEST(ParamSet, MalformedFilesAreRefusedNamingTheLine) {
    const std::string good = FormatParamSet(Sample());
    const auto cut = [&](const std::string& marker) { return good.substr(0, good.find(marker)); };
    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string s = good;
        s.replace(s.find(from), from.size(), to);
        return s;
    };
    const struct {
        std::string text;
        std::string error;
    } cases[] = {
        {"", "строка 0: это не файл параметров"},
        {"<?xml version=\"1.0\"?>\n<DEVICE/>\n", "строка 1: это не файл параметров"},
        {good.substr(0, good.size() - 1), "строка 28: файл оборван (нет конца строки)"},
        {cut("end\n"), "строка 27: файл оборван (нет строки «end»)"},
        {cut("0x0005"), "строка 15: файл оборван (нет строки «end»)"},
        {replaced("0x0005\tByte\t-128", "0x0005\tByte\t-129"),
         "строка 16: значение «-129» не подходит к типу Byte"},
        {replaced("\tUByte\t", "\tNibble\t"), "строка 19: неизвестный тип «Nibble»"},
        {replaced("registers: 16", "registers: 17"), "строка 28: записей 16 вместо 17"},
        {replaced("registers: 16", "registers: 15"), "строка 27: записей больше, чем указано"},
        {replaced("protocol: 1.0", "protocol: 3"), "строка 6: некорректная версия протокола"},
        {replaced("0x000B\tFloat\t0x3DCCCCCD", "0x000B\tFloat\t0.1"),
         "строка 22: значение «0.1» не подходит к типу Float"},
        {replaced("\"показ\"\tИмя", "\"показ\tИмя"), "строка 12: некорректный текст значения"},
        {good + "лишнее\n", "строка 29: текст после строки «end»"},
    };
    for (const auto& c : cases) {
        TParamSet set = Sample();
        std::string error;
        EXPECT_FALSE(ParseParamSet(c.text, set, error)) << c.error;
        EXPECT_EQ(error, "Ошибка в файле параметров, " + c.error);
        EXPECT_TRUE(set.Entries.empty());
    }
    TParamSet set;
    std::string error;
    EXPECT_FALSE(ReadParamSetFile("/nonexistent/x.params", set, error));
    EXPECT_EQ(error.rfind("Не удалось прочитать файл: ", 0), 0u);
}
