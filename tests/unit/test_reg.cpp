// Registers: modified state, display text, text entry and the shared lock.
#include <gtest/gtest.h>

#include <thread>

#include "device/reg.h"
#include "device/value_codec.h"

using namespace tunavox;

namespace {

TReg* MakeReg(TRegList& list, uint8_t type, int prec = 7) {
    TReg* r = list.Add();
    r->RegType = type;
    r->Prec = prec;
    return r;
}

} // namespace

TEST(Reg, StartsNullWithoutColours) {
    TRegList list;
    TReg* r = list.Add();
    EXPECT_EQ(r->Owner, &list);
    EXPECT_TRUE(r->GetValue().IsNull());
    EXPECT_TRUE(r->GetDevValue().IsNull());
    EXPECT_EQ(r->BgColor, kNoColor);
    EXPECT_EQ(r->FontColor, kNoColor);
    EXPECT_TRUE(r->ValueTexts.Empty());
    EXPECT_FALSE(r->IsModified());
    EXPECT_EQ(r->DisplayText(), "");
}

TEST(Reg, FloatModifiedComparesShownDigits) {
    TRegList list;
    TReg* r = MakeReg(list, rtFloat, 2);
    r->SetValue(TValue(1.0), true, "");
    r->SetValue(TValue(1.004), false, "");
    EXPECT_FALSE(r->IsModified());
    r->SetValue(TValue(1.006), false, "");
    EXPECT_TRUE(r->IsModified());
    r->CommitWrite();
    EXPECT_FALSE(r->IsModified());
    // A known value against an unknown one is a change.
    r->SetValue(TValue::MakeNull(), true, "");
    r->SetValue(TValue(0.0), false, "");
    EXPECT_TRUE(r->IsModified());
}

TEST(Reg, IntegerModifiedAndWriteOutcomes) {
    TRegList list;
    TReg* r = MakeReg(list, rtUWord);
    r->SetValue(TValue(uint16_t{5}), true, "");
    EXPECT_FALSE(r->IsModified());
    ASSERT_TRUE(r->SetValueFromText("6", false));
    EXPECT_TRUE(r->IsModified());
    r->SetLastError("Устройство не отвечает");
    EXPECT_TRUE(r->IsModified());
    EXPECT_EQ(r->GetLastError(), "Устройство не отвечает");
    r->CommitWrite();
    EXPECT_FALSE(r->IsModified());
    EXPECT_EQ(r->GetLastError(), "");
    r->SetValue(TValue::MakeNull(), true, "ошибка");
    EXPECT_EQ(r->GetLastError(), "ошибка");
    EXPECT_EQ(r->DisplayText(), "");
}

TEST(Reg, PasswordIsMaskedPerCharacter) {
    TRegList list;
    TReg* r = MakeReg(list, rtULong);
    r->Pass = true;
    EXPECT_EQ(r->DisplayText(), "");
    r->SetValue(TValue(uint32_t{12345}), true, "");
    EXPECT_EQ(r->DisplayText(), "*****");
    TReg* s = MakeReg(list, rtStr);
    s->Pass = true;
    s->SetValue(TValue(std::string("пароль")), true, "");
    EXPECT_EQ(s->DisplayText(), "******");
}

TEST(Reg, NamedValues) {
    TRegList list;
    TReg* r = MakeReg(list, rtUByte);
    r->ValueTexts.Add("1", "On");
    r->ValueTexts.Add("0", "Off");
    r->SetValue(TValue(uint8_t{1}), true, "");
    EXPECT_EQ(r->DisplayText(), "On");
    r->SetValue(TValue(uint8_t{7}), true, "");
    EXPECT_EQ(r->DisplayText(), "7");
    ASSERT_TRUE(r->SetValueFromText("Off", false));
    EXPECT_EQ(r->GetValue(), TValue(uint8_t{0}));
    EXPECT_FALSE(r->SetValueFromText("on", false)); // case counts when entering
    EXPECT_EQ(r->GetValue(), TValue(uint8_t{0}));
    ASSERT_TRUE(r->SetValueFromText("2", false));
    EXPECT_EQ(r->DisplayText(), "2");

    TReg* f = MakeReg(list, rtFloat, 1);
    f->ValueTexts.Add("0.5", "половина");
    f->SetValue(TValue(0.5), true, "");
    EXPECT_EQ(f->DisplayText(), "половина");
    // Named values are looked up without regard to letter case.
    TReg* h = MakeReg(list, rtStr);
    h->ValueTexts.Add("ab", "буквы");
    h->SetValue(TValue(std::string("AB")), true, "");
    EXPECT_EQ(h->DisplayText(), "буквы");
}

TEST(Reg, EmptyAndBadTexts) {
    TRegList list;
    TReg* w = MakeReg(list, rtUWord);
    w->SetValue(TValue(uint16_t{9}), true, "прежняя");
    EXPECT_TRUE(w->SetValueFromText("", false));
    EXPECT_EQ(w->GetValue(), TValue(uint16_t{9}));
    EXPECT_EQ(w->GetLastError(), "прежняя");
    EXPECT_FALSE(w->SetValueFromText("1a", false));
    EXPECT_FALSE(w->SetValueFromText("70000", false));
    EXPECT_EQ(w->GetValue(), TValue(uint16_t{9}));
    EXPECT_EQ(w->GetLastError(), "прежняя");
    ASSERT_TRUE(w->SetValueFromText("0x10", true));
    EXPECT_EQ(w->GetDevValue(), TValue(uint16_t{16}));
    EXPECT_EQ(w->GetLastError(), "");

    TReg* s = MakeReg(list, rtStr);
    s->SetValue(TValue(std::string("было")), true, "");
    ASSERT_TRUE(s->SetValueFromText("", false));
    EXPECT_EQ(s->GetValue(), TValue(std::string("")));
    EXPECT_TRUE(s->IsModified());
}

TEST(Reg, ValueEquality) {
    EXPECT_EQ(TValue::MakeNull(), TValue::MakeNull());
    EXPECT_EQ(TValue(), TValue());
    EXPECT_FALSE(TValue::MakeNull() == TValue());
    EXPECT_FALSE(TValue::MakeNull() == TValue(uint8_t{0}));
    EXPECT_EQ(TValue(int8_t{5}), TValue(uint32_t{5}));
    EXPECT_FALSE(TValue(std::string("5")) == TValue(uint8_t{5}));
}

TEST(Reg, BothThreadsShareOneLock) {
    TRegList list;
    TReg* r = MakeReg(list, rtLong);
    constexpr int kRounds = 20000;
    std::thread worker([&] {
        for (int i = 0; i < kRounds; ++i)
            r->SetValue(TValue(int32_t{i}), true, "");
    });
    int64_t last = -1;
    for (int i = 0; i < kRounds; ++i) {
        const TValue v = r->GetValue();
        int64_t now = 0;
        if (v.AsInt64(now)) {
            EXPECT_GE(now, last);
            last = now;
        }
        (void)r->IsModified();
        (void)r->DisplayText();
    }
    worker.join();
    EXPECT_EQ(r->GetValue(), TValue(int32_t{kRounds - 1}));
}
