// CRC-16, frames, byte stuffing and the protocol 2.0 frame collector.
#include <gtest/gtest.h>

#include "test_support.h"

#include <random>

#include "link/frame.h"
#include "link/frame_collector.h"
#include "util/hex_text.h"

using namespace tunavox;
using tunavox::test::Bytes;

namespace {} // namespace

TEST(Crc, KnownAnswers) {
    struct Case {
        std::string data;
        uint16_t crc;
    } cases[] = {
        {"123456789", 0x29B1},         {"abc", 0x514A},         {"", 0xFFFF},
        {Bytes({0xE5, 0x02}), 0xD20A}, {Bytes({0x00}), 0xE1F0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CalcCRC(c.data), c.crc) << HexBytes(c.data);
        EXPECT_EQ(CRCBytes(c.data), Bytes({c.crc >> 8, c.crc & 0xFF}));
    }
}

TEST(Crc, RangesAndChecks) {
    const std::string s = "xx123456789";
    EXPECT_EQ(CalcCRC(s, 3, 9), 0x29B1);
    EXPECT_EQ(CalcCRC(s, 3, 0), 0x29B1);    // 0: to the end
    EXPECT_EQ(CalcCRC(s, 3, -1), 0x29B1);   // negative: to the end
    EXPECT_EQ(CalcCRC(s, 3, 1000), 0x29B1); // past the end: to the end
    EXPECT_EQ(CalcCRC(s, 12, 1), 0xFFFF);   // empty range
    EXPECT_TRUE(CheckCRC("abc" + Bytes({0x51, 0x4A}), 1));
    EXPECT_TRUE(CheckCRC(Bytes({2, 0, 3}) + "abc" + Bytes({0x51, 0x4A}), 4));
    EXPECT_FALSE(CheckCRC("abc" + Bytes({0x4A, 0x51}), 1));
    EXPECT_FALSE(CheckCRC(Bytes({0xFF, 0xFF}), 1));         // two bytes or fewer never pass
    EXPECT_TRUE(CheckCRC(Bytes({2, 0, 0, 0xFF, 0xFF}), 4)); // empty payload
}

TEST(Frame, WorkedExamples) {
    struct Case {
        std::string payload;
        bool withId;
        std::string v1;
        std::string v2;
    } cases[] = {
        {"abc", false, "02 00 03 61 62 63 51 4A", "02 00 03 61 62 63 51 4A"},
        {"abc", true, "02 80 03 61 62 63 51 4A", "02 80 03 61 62 63 51 4A"},
        {Bytes({0xE5, 0x02}), false, "02 00 02 E5 02 D2 0A", "02 00 E5 1A E5 E5 E5 1A D2 0A"},
        {"", false, "02 00 00 FF FF", "02 00 00 FF FF"},
    };
    for (const Case& c : cases) {
        const std::string frame = BuildFrame(c.payload, c.withId);
        EXPECT_EQ(HexBytes(frame), c.v1);
        EXPECT_EQ(HexBytes(StuffFrame(frame)), c.v2);
        EXPECT_EQ(UnstuffFrame(StuffFrame(frame)), frame);
    }
}

TEST(Frame, StuffingRoundTrips) {
    EXPECT_EQ(StuffFrame(""), "");
    EXPECT_EQ(HexBytes(StuffFrame(Bytes({0x41, 0x02}))), "41 E5 1A"); // no leading STX
    EXPECT_EQ(HexBytes(UnstuffFrame(Bytes({0xE5, 0x41, 0xE5}))), "E5 41 E5");
    EXPECT_EQ(ReplaceAll("aaaa", "aa", "b"), "bb");
    EXPECT_EQ(ReplaceAll("abc", "", "x"), "abc");
    for (const std::string& payload : {Bytes({0xE5, 0xE5}), Bytes({0xE5, 0x1A}),
                                       Bytes({0x02, 0x02, 0xE5}), Bytes({0x1A, 0xE5, 0x02})}) {
        const std::string frame = BuildFrame(payload, false);
        const std::string wire = StuffFrame(frame);
        EXPECT_EQ(wire.find('\x02', 1), std::string::npos) << HexBytes(wire);
        EXPECT_EQ(UnstuffFrame(wire), frame) << HexBytes(payload);
    }
    std::mt19937 rng(7);
    for (int round = 0; round < 500; ++round) {
        std::string payload(rng() % 40, '\0');
        for (char& c : payload)
            c = static_cast<char>(rng() % 4 == 0 ? 0xE5 : rng() % 4 == 0 ? 0x02 : rng());
        const std::string frame = BuildFrame(payload, rng() % 2);
        ASSERT_EQ(UnstuffFrame(StuffFrame(frame)), frame);
    }
}

TEST(Collector, SplitNoisyAndGluedStreams) {
    const std::string payload = Bytes({0x00, 0x12, 0x34, 0xE5, 0x02});
    const std::string wire = StuffFrame(BuildFrame(payload, false));

    // Byte by byte: found exactly when the last byte arrives.
    TFrameCollector split;
    for (size_t i = 0; i < wire.size(); ++i)
        EXPECT_EQ(split.Append(wire.substr(i, 1)), i + 1 == wire.size()) << i;
    EXPECT_EQ(split.Answer(), payload);
    EXPECT_FALSE(split.Junk());

    // Noise in front is dropped and reported.
    std::string dropped;
    TFrameCollector noisy([&](std::string_view d) { dropped += std::string(d); });
    EXPECT_FALSE(noisy.Append(Bytes({0xFF, 0x00, 0x41})));
    EXPECT_TRUE(noisy.Buffer().empty());
    EXPECT_TRUE(noisy.Junk());
    EXPECT_TRUE(noisy.Append(Bytes({0x13}) + wire));
    EXPECT_EQ(dropped, Bytes({0xFF, 0x00, 0x41, 0x13}));
    EXPECT_EQ(noisy.Answer(), payload);

    // A broken frame followed by a second STX: collection restarts there.
    TFrameCollector restart;
    EXPECT_FALSE(restart.Append(wire.substr(0, 4)));
    EXPECT_TRUE(restart.Append(wire));
    EXPECT_EQ(restart.Answer(), payload);

    // Bytes glued after a whole frame spoil the CRC check. (A single 00 would not:
    // CRC(data + CRC high byte) is always CRC low byte followed by 00.)
    TFrameCollector glued;
    EXPECT_FALSE(glued.Append(wire + Bytes({0x55})));

    // Five stuffed bytes that unstuff to four are no frame, whatever their CRC says.
    TFrameCollector shortFrame;
    EXPECT_FALSE(shortFrame.Append(Bytes({2, 0xE5, 0xE5, 0xFF, 0xFF})));

    // An empty payload is a valid answer in this version.
    TFrameCollector empty;
    EXPECT_TRUE(empty.Append(Bytes({2, 0, 0, 0xFF, 0xFF})));
    EXPECT_EQ(empty.Answer(), "");
}
