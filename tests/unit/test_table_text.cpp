// Cell texts of the register table and delimited fields.
#include <gtest/gtest.h>

#include "device/table_text.h"
#include "util/mnemonics.h"

using namespace tunavox;

TEST(TableText, CodesNamesAndValues) {
    TRegList list;
    TReg* r = list.Add();
    r->RegType = rtUWord;
    for (const auto& [addr, text] :
         std::vector<std::pair<uint16_t, std::string>>{{0x00, "0x00"},
                                                       {0x05, "0x05"},
                                                       {0xAB, "0xAB"},
                                                       {0x1F4, "0x1F4"},
                                                       {0x1000, "0x1000"}}) {
        r->Addr = addr;
        EXPECT_EQ(CodeText(*r), text);
    }
    r->Name = "Скорость";
    EXPECT_EQ(NameText(*r), "Скорость");
    r->Units = "бод";
    EXPECT_EQ(NameText(*r), "Скорость [бод]");
    r->Name = "";
    EXPECT_EQ(NameText(*r), " [бод]");

    TReg* h = list.Add();
    h->RegType = rtHeader;
    h->Name = "Группа";
    EXPECT_EQ(CodeText(*h), "");
    EXPECT_EQ(NameText(*h), "Группа");
    EXPECT_EQ(ValueText(*h, nullptr), "");

    r->SetValue(TValue(uint16_t{9600}), true, "");
    EXPECT_EQ(ValueText(*r, nullptr), "9600");
    TNameValueList errors;
    errors.Add("0x04", "чтение запрещено");
    r->SetValue(TValue::MakeNull(), true, "\x04");
    EXPECT_TRUE(ShowsDeviceError(*r));
    EXPECT_EQ(ValueText(*r, nullptr), "отказано в чтении");
    EXPECT_EQ(ValueText(*r, &errors), "чтение запрещено");
    r->SetValue(TValue::MakeNull(), true, "\x01");
    EXPECT_EQ(ValueText(*r, nullptr), "не поддерживается");
    // Other errors leave the value cell to the value.
    r->SetValue(TValue(uint16_t{7}), true, "\x03");
    EXPECT_FALSE(ShowsDeviceError(*r));
    EXPECT_EQ(ValueText(*r, nullptr), "7");
}

TEST(TableText, DelimitedFields) {
    EXPECT_EQ(DelimitedField("plain"), "plain");
    EXPECT_EQ(DelimitedField(""), "");
    EXPECT_EQ(DelimitedField("a;b"), "\"a;b\"");
    EXPECT_EQ(DelimitedField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(DelimitedField("a,b", ','), "\"a,b\"");
    // A device string over two lines stays one field; control characters are shown.
    EXPECT_EQ(DelimitedField("A\r\nB"), "\"A\r\nB\"");
    EXPECT_EQ(DelimitedField("A\nB"), "\"A\nB\"");
    EXPECT_EQ(DelimitedField(std::string("a\0b", 3)), "a\\x00b");
    EXPECT_EQ(DelimitedField("\x01\t\x7F"), "\\x01\t\\x7F");
}

TEST(Mnemonics, EachTextGetsALetterOfItsOwn) {
    struct Case {
        std::vector<std::string> In;
        std::u32string Taken;
        std::vector<std::string> Out;
    };
    const Case cases[] = {
        // Initials first, in order; then any letter; case does not matter.
        {{"Файл", "Устройство", "Сервис", "Справка"},
         {},
         {"&Файл", "&Устройство", "&Сервис", "С&правка"}},
        {{"Записывать опрос в файл…", "Запись опроса: строка на проход", "Журнал записей…"},
         {},
         {"&Записывать опрос в файл…", "Запись &опроса: строка на проход", "&Журнал записей…"}},
        {{"HTML", "RTF", "CSV"}, {}, {"&HTML", "&RTF", "&CSV"}},
        {{"1.0", "2.0"}, {}, {"&1.0", "&2.0"}},
        // A literal "&" is doubled, never taken for a mark; a word after a sign is a word.
        {{"A&B", "COM-порт"}, {U'c'}, {"&A&&B", "COM-&порт"}},
        {{"БУК-2 & ЧП-7"}, {U'б'}, {"БУК-&2 && ЧП-7"}},
        // Letters already in use (Ё and Е are different letters).
        {{"Ёлка", "ель"}, {U'ё'}, {"Ё&лка", "&ель"}},
        // All letters taken: no mark at all.
        {{"аб", "ба", "аб"}, {}, {"&аб", "&ба", "аб"}},
        {{"", "…"}, {}, {"", "…"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(WithMnemonics(c.In, c.Taken), c.Out) << c.In.front();
}
