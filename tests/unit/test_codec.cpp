// Value conversions between text, stored values and wire bytes; device error texts.
#include <gtest/gtest.h>

#include "device/value_codec.h"
#include "util/cp1251.h"
#include "util/integer_text.h"

using namespace tunavox;

namespace {

// Restores the point as separator after each test that changes it.
class CodecTest : public ::testing::Test {
protected:
    void TearDown() override { SetDecimalSeparator('.'); }
};

std::string Hex(const std::string& bytes) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty()) out += ' ';
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    return out;
}

struct IntCase {
    const char* text;
    uint8_t type;
    bool ok;
    int64_t value;
};

} // namespace

TEST_F(CodecTest, IntegerTextsRespectTheTypeRange) {
    const IntCase cases[] = {
        {"0x7F", rtByte, true, 127},
        {"0x80", rtByte, false, 0},
        {"0x80", rtUByte, true, 128},
        {"-1", rtUWord, false, 0},
        {"-128", rtByte, true, -128},
        {"-129", rtByte, false, 0},
        {"255", rtUByte, true, 255},
        {"256", rtUByte, false, 0},
        {"-32768", rtWord, true, -32768},
        {"32768", rtWord, false, 0},
        {"65535", rtUWord, true, 65535},
        {"$FFFF", rtUWord, true, 65535},
        {"x10", rtUWord, true, 16},
        {"X10", rtUWord, true, 16},
        {"0X1f", rtUWord, true, 31},
        {"  42", rtLong, true, 42},
        {"42 ", rtLong, false, 0},
        {"+7", rtLong, true, 7},
        {"-2147483648", rtLong, true, INT32_MIN},
        {"2147483648", rtLong, false, 0},
        {"4294967295", rtULong, true, 4294967295LL},
        {"4294967296", rtULong, false, 0},
        {"", rtWord, false, 0},
        {"12a", rtWord, false, 0},
        {"0x", rtWord, false, 0},
        {"1.5", rtWord, false, 0},
        {"99999999999999999999", rtULong, false, 0},
    };
    for (const IntCase& c : cases) {
        TValue v;
        EXPECT_EQ(TextToValue(c.text, c.type, v), c.ok) << c.text << " as " << TypeName(c.type);
        int64_t got = 0;
        if (c.ok) {
            ASSERT_TRUE(v.AsInt64(got)) << c.text;
            EXPECT_EQ(got, c.value) << c.text;
        } else {
            EXPECT_TRUE(v.IsEmpty()) << c.text;
        }
    }
}

TEST_F(CodecTest, IntegerKindFollowsTheType) {
    TValue v;
    ASSERT_TRUE(TextToValue("5", rtByte, v));
    EXPECT_TRUE(std::holds_alternative<int8_t>(v.Get()));
    ASSERT_TRUE(TextToValue("5", rtUWord, v));
    EXPECT_TRUE(std::holds_alternative<uint16_t>(v.Get()));
    ASSERT_TRUE(TextToValue("5", rtULong, v));
    EXPECT_TRUE(std::holds_alternative<uint32_t>(v.Get()));
    EXPECT_FALSE(TextToValue("5", rtHeader, v));
    EXPECT_FALSE(TextToValue("5", 9, v));
    ASSERT_TRUE(TextToValue("", rtStr, v));
    EXPECT_EQ(std::get<std::string>(v.Get()), "");
}

TEST_F(CodecTest, RealsAcceptEitherSeparatorOnce) {
    SetDecimalSeparator(',');
    TValue v;
    double d = 0;
    ASSERT_TRUE(TextToValue("3.5", rtFloat, v));
    v.AsDouble(d);
    EXPECT_EQ(d, 3.5);
    ASSERT_TRUE(TextToValue("3,5", rtFloat, v));
    v.AsDouble(d);
    EXPECT_EQ(d, 3.5);
    EXPECT_FALSE(TextToValue("1.234.5", rtFloat, v));
    EXPECT_TRUE(v.IsEmpty());
    EXPECT_EQ(FloatText(2, TValue(3.5)), "3,50");

    SetDecimalSeparator('.');
    ASSERT_TRUE(TextToValue("3,5", rtFloat, v));
    v.AsDouble(d);
    EXPECT_EQ(d, 3.5);
    ASSERT_TRUE(TextToValue("-1.5e2", rtFloat, v));
    v.AsDouble(d);
    EXPECT_EQ(d, -150.0);
    for (const char* bad : {"", "abc", "inf", "nan", "1e99", "1,2,3", "--1"})
        EXPECT_FALSE(TextToValue(bad, rtFloat, v)) << bad;
}

TEST_F(CodecTest, RealsAreHeldAtSinglePrecision) {
    TValue v;
    ASSERT_TRUE(TextToValue("0.1", rtFloat, v));
    double d = 0;
    v.AsDouble(d);
    EXPECT_EQ(d, static_cast<double>(0.1f));
    // 1.005 as a single is 1.00499999523..., so two digits give 1.00, not 1.01.
    EXPECT_EQ(FloatText(2, TValue(1.005)), "1.00");
    EXPECT_EQ(FloatText(3, TValue(-0.25)), "-0.250");
    EXPECT_EQ(FloatText(-4, TValue(1.5)), "2");
    EXPECT_EQ(FloatText(2, TValue::MakeNull()), "");
    EXPECT_EQ(FloatText(2, TValue(int16_t{-7})), "-7");
    EXPECT_EQ(FloatText(2, TValue(std::string("abc"))), "abc");
}

TEST_F(CodecTest, WireBytesAreBigEndian) {
    std::string bytes;
    ASSERT_TRUE(ValueToBytes(TValue(int16_t{-2}), rtWord, bytes));
    EXPECT_EQ(Hex(bytes), "FF FE");
    ASSERT_TRUE(ValueToBytes(TValue(1.0), rtFloat, bytes));
    EXPECT_EQ(Hex(bytes), "3F 80 00 00");
    ASSERT_TRUE(ValueToBytes(TValue(uint32_t{0x12345678}), rtULong, bytes));
    EXPECT_EQ(Hex(bytes), "12 34 56 78");
    ASSERT_TRUE(ValueToBytes(TValue(int8_t{-1}), rtByte, bytes));
    EXPECT_EQ(Hex(bytes), "FF");
    ASSERT_TRUE(ValueToBytes(TValue(std::string("Ав")), rtStr, bytes));
    EXPECT_EQ(Hex(bytes), "C0 E2");
    EXPECT_FALSE(ValueToBytes(TValue(uint8_t{1}), rtHeader, bytes));
}

TEST_F(CodecTest, NullOrEmptyNumbersAreNotWritten) {
    std::string bytes = "x";
    for (uint8_t type : {rtByte, rtWord, rtLong, rtUByte, rtUWord, rtULong, rtFloat}) {
        EXPECT_FALSE(ValueToBytes(TValue::MakeNull(), type, bytes)) << TypeName(type);
        EXPECT_FALSE(ValueToBytes(TValue(), type, bytes)) << TypeName(type);
    }
    ASSERT_TRUE(ValueToBytes(TValue::MakeNull(), rtStr, bytes));
    EXPECT_EQ(bytes, "");
}

TEST_F(CodecTest, BytesToValueChecksSizeAndSign) {
    TValue v;
    int64_t i = 0;
    ASSERT_TRUE(BytesToValue(std::string("\xFF\xFE", 2), rtWord, v));
    v.AsInt64(i);
    EXPECT_EQ(i, -2);
    ASSERT_TRUE(BytesToValue(std::string("\xFF\xFE", 2), rtUWord, v));
    v.AsInt64(i);
    EXPECT_EQ(i, 65534);
    ASSERT_TRUE(BytesToValue(std::string("\x80\x00\x00\x00", 4), rtLong, v));
    v.AsInt64(i);
    EXPECT_EQ(i, INT32_MIN);
    ASSERT_TRUE(BytesToValue(std::string("\x3F\x80\x00\x00", 4), rtFloat, v));
    double d = 0;
    v.AsDouble(d);
    EXPECT_EQ(d, 1.0);
    EXPECT_FALSE(BytesToValue(std::string("\x00\x01", 2), rtLong, v));
    EXPECT_TRUE(v.IsNull());
    EXPECT_FALSE(BytesToValue("", rtByte, v));
    EXPECT_FALSE(BytesToValue("", rtHeader, v));
    ASSERT_TRUE(BytesToValue("", rtStr, v));
    EXPECT_EQ(std::get<std::string>(v.Get()), "");
    ASSERT_TRUE(BytesToValue("\xCF\xF3\xEC\xEF", rtStr, v));
    EXPECT_EQ(std::get<std::string>(v.Get()), "Пумп");
}

TEST_F(CodecTest, DeviceErrorTexts) {
    EXPECT_EQ(DeviceErrorText(5), "значение выходит за пределы допустимого диапазона");
    EXPECT_EQ(DeviceErrorText(1), "не поддерживается");
    EXPECT_EQ(DeviceErrorText(127), "общая ошибка чтения/записи");
    EXPECT_EQ(DeviceErrorText(6), "ошибка с кодом 0x06");
    EXPECT_EQ(DeviceErrorText(0x7E), "ошибка с кодом 0x7E");
    TNameValueList table;
    table.Add("0x05", "своё");
    table.Add("0x05", "второе");
    table.Add("0XAB", "в другом регистре");
    EXPECT_EQ(DeviceErrorText(5, &table), "своё");
    EXPECT_EQ(DeviceErrorText(0xAB, &table), "в другом регистре");
    EXPECT_EQ(DeviceErrorText(4, &table), "отказано в чтении");
    EXPECT_EQ(DeviceErrorKey(171), "0xAB");
    EXPECT_EQ(DeviceErrorKey(0x123), "0x123");
    EXPECT_EQ(ErrorTextInWords(std::string(1, '\x04'), nullptr), "отказано в чтении");
    EXPECT_EQ(ErrorTextInWords("Устройство не отвечает", nullptr), "Устройство не отвечает");
}

TEST_F(CodecTest, StatusByteIgnoresBit7) {
    std::string error = "old";
    EXPECT_TRUE(StatusToError(0x00, error));
    EXPECT_EQ(error, "");
    EXPECT_TRUE(StatusToError(0x80, error));
    EXPECT_FALSE(StatusToError(0x84, error));
    EXPECT_EQ(error, std::string(1, '\x04'));
    EXPECT_FALSE(StatusToError(0x7F, error));
    EXPECT_EQ(error, std::string(1, '\x7F'));
}

TEST_F(CodecTest, TypeNamesAndReverse) {
    EXPECT_EQ(TypeName(rtUWord), "UWord");
    EXPECT_EQ(TypeName(rtHeader), "Header");
    EXPECT_EQ(TypeName(42), "");
    const unsigned char src[] = {1, 2, 3, 4};
    unsigned char dst[4] = {};
    ReverseBytes(src, dst, 4);
    EXPECT_EQ(dst[0], 4);
    EXPECT_EQ(dst[3], 1);
}

TEST(Text, Windows1251AndCase) {
    EXPECT_EQ(Utf8ToCp1251("Ёё №"), "\xA8\xB8 \xB9");
    EXPECT_EQ(Cp1251ToUtf8("\xA8\xB8 \xB9"), "Ёё №");
    EXPECT_EQ(Utf8ToCp1251("中"), "?");
    EXPECT_EQ(Utf8ToCp1251("a\xFF"
                           "b"),
              "a?b");
    for (int b = 0; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(one)), one) << b;
    }
    EXPECT_TRUE(SameTextIgnoreCase("Вкл", "вКЛ"));
    EXPECT_TRUE(SameTextIgnoreCase("0xab", "0XAB"));
    EXPECT_FALSE(SameTextIgnoreCase("Вкл", "Вкл "));
    EXPECT_EQ(Utf8Length("Ёж1"), 3u);
    EXPECT_EQ(Utf8Upper("rw ёж"), "RW ЁЖ");
}

TEST(Text, Int32TextAcceptsHexBitPatterns) {
    int32_t v = 0;
    EXPECT_TRUE(ParseInt32Text("$FFFFFFFF", v));
    EXPECT_EQ(v, -1);
    EXPECT_TRUE(ParseInt32Text("-0x10", v));
    EXPECT_EQ(v, -16);
    EXPECT_FALSE(ParseInt32Text("2147483648", v));
    EXPECT_TRUE(ParseInt32Text("-2147483648", v));
    EXPECT_EQ(v, INT32_MIN);
    EXPECT_FALSE(ParseInt32Text("0x100000000", v));
    EXPECT_FALSE(ParseInt32Text("", v));
    EXPECT_FALSE(ParseInt32Text("-", v));
}

TEST(Codec, ARefusedTextSaysWhy) {
    SetDecimalSeparator('.');
    const struct {
        const char* Text;
        uint8_t Type;
        const char* Problem;
    } cases[] = {
        {"45,5", rtFloat, ""},
        {"12", rtWord, ""},
        {"99999", rtWord, "допустимо от -32768 до 32767"},
        {"-1", rtUByte, "допустимо от 0 до 255"},
        {"1.5", rtLong, "нужно целое число от -2147483648 до 2147483647"},
        {"abc", rtULong, "нужно целое число от 0 до 4294967295"},
        {"abc", rtFloat, "нужно число, например 12.5 (не больше 3.4·10^38 по модулю)"},
        {"1e39", rtFloat, "нужно число, например 12.5 (не больше 3.4·10^38 по модулю)"},
        {"что угодно", rtStr, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TextProblem(c.Text, c.Type), c.Problem) << c.Text;
}
