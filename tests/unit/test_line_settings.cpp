// The port settings text of descriptions and the character time.
#include <gtest/gtest.h>

#include "link/line_settings.h"

using namespace tunavox;

TEST(LineSettings, AcceptedTexts) {
    struct Case {
        const char* text;
        TLineSettings expected;
    } cases[] = {
        {"9600-8-N-1", {9600, 8, parNone, sbOne}},
        {"9600-8-N-1-x", {9600, 8, parNone, sbOne}},
        {"19200-7-Even-2", {19200, 7, parEven, sbTwo}},
        {"115200-8-m-2", {115200, 8, parMark, sbTwo}},
        {"4800-5-s-1", {4800, 5, parSpace, sbOne}},
        {"1200-6-o-1", {1200, 6, parOdd, sbOne}},
        {"0-8-N-1", {0, 8, parNone, sbOne}},
        {"$2580-8-N-1", {9600, 8, parNone, sbOne}},
        {" +9600-0x8-N-1", {9600, 8, parNone, sbOne}},
    };
    for (const Case& c : cases) {
        TLineSettings s{1, 1, 1, 1};
        EXPECT_TRUE(ParseSettingsText(c.text, s)) << c.text;
        EXPECT_EQ(s, c.expected) << c.text;
    }
}

TEST(LineSettings, RejectedTextsChangeNothing) {
    for (const char* text : {"9600-8-N", "9600--N-1", "9600-9-N-1", "9600-8-X-1", "9600-8-N-3", "",
                             "-8-N-1", "9600-8-N-1.5", "96OO-8-N-1", "9600-4-N-1", "9600 -8-N-1",
                             "99999999999-8-N-1", "0xFFFFFFFF-8-N-1"}) {
        TLineSettings s{19200, 7, parEven, sbTwo};
        EXPECT_FALSE(ParseSettingsText(text, s)) << text;
        EXPECT_EQ(s, (TLineSettings{19200, 7, parEven, sbTwo})) << text;
    }
}

TEST(LineSettings, CharTimeCountsBits) {
    EXPECT_DOUBLE_EQ(CharTime({9600, 8, parNone, sbOne}), 0.9375);
    EXPECT_DOUBLE_EQ(CharTime({9600, 8, parEven, sbTwo}), 1.25);
    EXPECT_DOUBLE_EQ(CharTime({0, 8, parNone, sbOne}), 0.0);
}

TEST(LineSettings, TextRoundTrip) {
    // As a description writes its "serial" attribute, and back.
    for (const char* text :
         {"9600-8-N-1", "19200-8-E-1", "115200-8-M-2", "1200-7-O-2", "4800-7-S-1"}) {
        tunavox::TLineSettings s;
        ASSERT_TRUE(tunavox::ParseSettingsText(text, s)) << text;
        EXPECT_EQ(tunavox::SettingsText(s), text);
    }
}
