// The three table exports over the table's texts.
#include <gtest/gtest.h>

#include <regex>

#include "export/table_export.h"
#include "util/cp1251.h"

using namespace tunavox;

namespace {

TTableTexts SmallTable() {
    TRegList regs;
    TReg* h = regs.Add();
    h->RegType = rtHeader;
    h->Name = "Группа";
    TReg* r = regs.Add();
    r->RegType = rtUWord;
    r->Addr = 12;
    r->Name = "Скорость";
    r->Units = "бод";
    r->SetValue(TValue(uint16_t{9600}), true, "");
    TReg* e = regs.Add();
    e->RegType = rtUByte;
    e->Addr = 13;
    e->Name = "Режим \"А\"";
    e->ValueTexts.Add("1", "вкл; авто");
    e->SetValue(TValue(uint8_t{1}), true, "");
    TReg* s = regs.Add();
    s->RegType = rtWord;
    s->Addr = 0xFFFD;
    s->Name = "Скрытый";
    s->Admin = true;
    s->SetValue(TValue::MakeNull(), true, "\x04");
    return CollectTableTexts(&regs, nullptr);
}

int Count(const std::string& s, const std::string& what) {
    int n = 0;
    for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + what.size()))
        ++n;
    return n;
}

} // namespace

TEST(Export, CsvByteForByte) {
    const std::string expected = Utf8ToCp1251(";Код;Параметр;Значение\r\n"
                                              ";;Группа;\r\n"
                                              ";0x0C;Скорость [бод];9600\r\n"
                                              ";0x0D;\"Режим \"\"А\"\"\";\"вкл; авто\"\r\n"
                                              ";0xFFFD;Скрытый;отказано в чтении\r\n");
    EXPECT_EQ(ExportCsv(SmallTable()), expected);
    // Without a description: the header line alone.
    EXPECT_EQ(ExportCsv(CollectTableTexts(nullptr, nullptr)),
              Utf8ToCp1251(";Код;Параметр;Значение\r\n"));
}

TEST(Export, HtmlStructure) {
    const std::string html = ExportHtml(SmallTable(), "Настройка <БУК>");
    EXPECT_NE(html.find("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">"),
              std::string::npos);
    EXPECT_NE(html.find("<caption>Настройка &lt;БУК&gt;</caption>"), std::string::npos);
    EXPECT_NE(html.find("<style>"), std::string::npos);
    EXPECT_EQ(Count(html, "<table>"), 1);
    EXPECT_EQ(Count(html, "<tr>"), 5); // header + 4 rows, the hidden one included
    EXPECT_EQ(Count(html, "<tr>"), Count(html, "</tr>"));
    EXPECT_EQ(Count(html, "<th>"), 4);
    EXPECT_NE(html.find("<td>Скорость [бод]</td>"), std::string::npos);
    EXPECT_NE(html.find("Режим &quot;А&quot;"), std::string::npos);
    EXPECT_NE(html.find("<td>Скрытый</td>"), std::string::npos);
    EXPECT_EQ(Count(ExportHtml(CollectTableTexts(nullptr, nullptr), "x"), "<tr>"), 1);
}

TEST(Export, RtfStructure) {
    const std::string rtf = ExportRtf(SmallTable());
    int depth = 0, minDepth = 0;
    for (size_t i = 0; i < rtf.size(); ++i) {
        if (rtf[i] == '\\') {
            ++i; // an escaped brace is no group
            continue;
        }
        if (rtf[i] == '{') ++depth;
        if (rtf[i] == '}') minDepth = std::min(minDepth, --depth);
    }
    EXPECT_EQ(depth, 0);
    EXPECT_EQ(minDepth, 0);
    EXPECT_EQ(rtf.rfind("{\\rtf1", 0), 0u);
    EXPECT_EQ(Count(rtf, "\\row"), 5);
    for (unsigned char c : rtf)
        EXPECT_LT(c, 0x80);                                     // all non-ASCII went into escapes
    EXPECT_NE(rtf.find("\\u1057?\\u1082?"), std::string::npos); // "Ск"
    EXPECT_NE(rtf.find("0xFFFD"), std::string::npos);
    EXPECT_EQ(Count(ExportRtf(CollectTableTexts(nullptr, nullptr)), "\\row"), 1);
}

TEST(Export, ProposedName) {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 7;
    t.tm_hour = 20;
    t.tm_min = 4;
    t.tm_sec = 9;
    EXPECT_EQ(ExportTimeStamp(t), "07.12.2026 20.04.09");
}
