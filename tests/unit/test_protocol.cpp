// Register requests and the field-by-field answer checks.
#include <gtest/gtest.h>

#include "test_support.h"

#include "device/value_codec.h"
#include "link/frame.h"
#include "protocol/register_protocol.h"
#include "util/hex_text.h"

using namespace tunavox;
using tunavox::test::Bytes;

namespace {

// An exchange that records the request and plays one canned answer.
struct FakeLine {
    bool ok = true;
    std::string answer;
    std::string error;
    std::string request;
    bool withId = false;
    int calls = 0;
    TExchange Exchange() {
        return [this](std::string_view p, bool id, std::string& a, std::string& e) {
            ++calls;
            request = std::string(p);
            withId = id;
            a = answer;
            e = error;
            return ok;
        };
    }
};

} // namespace

TEST(Protocol, WorkedRequests) {
    EXPECT_EQ(HexBytes(BuildFrame(BuildRequest(0, kCmdRead, 0x10, ""), false)),
              "02 00 03 00 00 10 DE AD");
    EXPECT_EQ(HexBytes(BuildFrame(BuildRequest(5, kCmdRead, 0x10, ""), true)),
              "02 80 07 00 00 00 05 00 00 10 5F BA");
    std::string data;
    ASSERT_TRUE(ValueToBytes(TValue(uint16_t{42}), rtUWord, data));
    EXPECT_EQ(HexBytes(BuildFrame(BuildRequest(0, kCmdWrite, 0x10, data), false)),
              "02 00 05 80 00 10 00 2A F5 97");
    EXPECT_EQ(HexBytes(BuildRequest(0x01020304, kCmdRead, 0xFFFD, "")), "01 02 03 04 00 FF FD");
}

TEST(Protocol, ReadChecksInOrder) {
    struct Case {
        uint32_t id;
        std::string answer;
        uint8_t type;
        std::string error;
    } cases[] = {
        {0, Bytes({0x00, 0x00, 0x10, 0x12, 0x34}), rtUWord, ""},
        {0, Bytes({0x80, 0x00, 0x10, 0x12, 0x34}), rtUWord, ""}, // bit 7 is not examined
        {0, Bytes({0x03, 0x00, 0x10}), rtUWord, "\x03"},
        {0, Bytes({0x81, 0x00, 0x10}), rtUWord, "\x01"},
        {0, Bytes({0x00, 0x00}), rtUWord, "Получен пустой пакет"},
        {0, "", rtUWord, "Получен пустой пакет"},
        {0, Bytes({0x00, 0x00, 0x11, 0x12, 0x34}), rtUWord,
         "Адрес регистра в ответе не совпадает с запрошенным"},
        {0, Bytes({0x00, 0x00, 0x10, 0x01, 0x02, 0x03}), rtWord,
         "Некорретные данные в поле DATA (01 02 03) - regType = Word"},
        {0, Bytes({0x00, 0x00, 0x10}), rtLong,
         "Некорретные данные в поле DATA () - regType = Long"},
        {0, Bytes({0x00, 0x00, 0x10}), rtStr, ""},
        {0x01020304, Bytes({1, 2, 3, 4, 0, 0, 0x10, 7}), rtUByte, ""},
        {0x01020304, Bytes({4, 3, 2, 1, 0, 0, 0x10, 7}), rtUByte,
         "Получен ответ не от того устройства"},
        {0x01020304, Bytes({1, 2, 3}), rtUByte, "Получен пустой пакет"},
        {0x01020304, Bytes({1, 2, 3, 4}), rtUByte, "Получен пустой пакет"},
        {0x01020304, Bytes({1, 2, 3, 4, 0, 0}), rtUByte,
         "Адрес регистра в ответе не совпадает с запрошенным"},
        {0x01020304, Bytes({1, 2, 3, 4, 5}), rtUByte, "\x05"},
    };
    for (const Case& c : cases) {
        FakeLine line;
        line.answer = c.answer;
        TValue value = TValue(uint8_t{99});
        std::string error;
        ReadRegister(c.id, 0x10, c.type, line.Exchange(), value, error);
        EXPECT_EQ(error, c.error) << HexBytes(c.answer);
        EXPECT_EQ(value.IsNull(), !c.error.empty()) << HexBytes(c.answer);
        EXPECT_EQ(line.withId, c.id != 0);
    }
    FakeLine line;
    line.answer = Bytes({0x00, 0x00, 0x10, 0x12, 0x34});
    TValue value;
    std::string error;
    ReadRegister(0, 0x10, rtUWord, line.Exchange(), value, error);
    EXPECT_EQ(value, TValue(uint16_t{4660}));
    EXPECT_EQ(HexBytes(line.request), "00 00 10");
}

TEST(Protocol, ChannelFailurePassesThrough) {
    FakeLine line;
    line.ok = false;
    line.error = "Устройство не отвечает";
    TValue value;
    std::string error;
    ReadRegister(0, 1, rtWord, line.Exchange(), value, error);
    EXPECT_EQ(error, "Устройство не отвечает");
    EXPECT_TRUE(value.IsNull());
    WriteRegister(0, 1, rtWord, TValue(int16_t{1}), line.Exchange(), error);
    EXPECT_EQ(error, "Устройство не отвечает");
}

TEST(Protocol, Writes) {
    FakeLine line;
    line.answer = Bytes({0x00, 0x00, 0x10});
    std::string error = "old";
    WriteRegister(0, 0x10, rtUWord, TValue(uint16_t{42}), line.Exchange(), error);
    EXPECT_EQ(error, "");
    EXPECT_EQ(HexBytes(line.request), "80 00 10 00 2A");
    line.answer = Bytes({0x00, 0x00, 0x10, 0xAA, 0xBB}); // data after the address is ignored
    WriteRegister(0, 0x10, rtStr, TValue(std::string("Ёж")), line.Exchange(), error);
    EXPECT_EQ(error, "");
    EXPECT_EQ(HexBytes(line.request), "80 00 10 A8 E6");
    line.answer = Bytes({0x02, 0x00, 0x10});
    WriteRegister(0, 0x10, rtUWord, TValue(uint16_t{1}), line.Exchange(), error);
    EXPECT_EQ(error, "\x02");

    // A value that has no bytes is refused before anything is sent.
    FakeLine unused;
    WriteRegister(0, 0x10, rtUWord, TValue::MakeNull(), unused.Exchange(), error);
    EXPECT_EQ(error, "Ошибка при формировании запроса: некорректное значение параметра");
    WriteRegister(0, 0x10, rtHeader, TValue(uint8_t{1}), unused.Exchange(), error);
    EXPECT_EQ(error, "Ошибка при формировании запроса: некорректное значение параметра");
    // So is a payload whose length would run into the ID flag of the length field:
    // 3 bytes of command and address (and 4 of ID) plus the text.
    const struct {
        uint32_t id;
        size_t text;
        bool sent;
    } sizes[] = {{0, kMaxPayload - 3, true},
                 {0, kMaxPayload - 2, false},
                 {7, kMaxPayload - 7, true},
                 {7, kMaxPayload - 6, false},
                 {0, 100000, false}};
    for (const auto& c : sizes) {
        line.answer = c.id ? Bytes({0, 0, 0, 7, 0x00, 0x00, 0x10}) : Bytes({0x00, 0x00, 0x10});
        line.request.clear();
        WriteRegister(c.id, 0x10, rtStr, TValue(std::string(c.text, 'x')), line.Exchange(), error);
        EXPECT_EQ(error.empty(), c.sent) << c.text;
        EXPECT_EQ(line.request.size(), c.sent ? c.text + 3 + (c.id ? 4 : 0) : 0u) << c.text;
    }
    EXPECT_EQ(unused.calls, 0);
}
