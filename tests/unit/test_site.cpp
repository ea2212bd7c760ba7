// The site file: written and read back field for field, refused when foreign or newer,
// never written over another program's change; the check's state texts.
#include <gtest/gtest.h>

#include "site/site.h"
#include "site/site_check.h"
#include "test_support.h"
#include "util/file_io.h"

using namespace tunavox;
using namespace tunavox::test;

namespace {

TSite SampleSite() {
    TSite site;
    site.Name = "Котельная №3 \"Северная\" & <щит 2>";
    site.Notes = "Ключ у дежурного.\nНасос 2 в резерве.";
    TSiteLine a;
    a.Port = "/dev/ttyUSB0";
    a.Version = 0;
    a.Gateway = true;
    a.PollPeriodMs = 1500;
    TSiteDevice d;
    d.Description = "NastrBUK2.xml";
    d.Type = "БУК-2 (контроллер котельной)";
    d.Sign = "BD6CF9741133717840653333F7147BE3";
    d.Id = 17;
    d.Identity = {{0x0001, "B2-0417 \"a\""}, {0x0002, ""}};
    d.Polled = {0x10, 0x20};
    d.Reference = ReferenceName(d);
    a.Devices.push_back(d);
    d.Id = 4000000000u;
    d.Identity.clear();
    d.Polled.clear();
    d.Reference.clear();
    a.Devices.push_back(d);
    TSiteLine b;
    b.Port = "rfc2217://127.0.0.1:7000";
    site.Lines = {a, b};
    return site;
}

} // namespace

TEST(SiteFile, WrittenAndReadBackFieldForField) {
    TempDir dir;
    TSite site = SampleSite();
    std::string error;
    ASSERT_TRUE(WriteSite(dir.Path(), site, error)) << error;
    TSite read;
    ASSERT_TRUE(ReadSite(dir.Path(), read, error)) << error;
    EXPECT_EQ(read.Name, site.Name);
    EXPECT_EQ(read.Notes, site.Notes);
    EXPECT_EQ(read.Format, kSiteFormat);
    EXPECT_EQ(read.Lines, site.Lines);
    EXPECT_EQ(read.Lines[0].Devices[0].Reference, "БУК-2_(контроллер_котельной)_ID17.params");
    // What the program writes it reads as it wrote it.
    EXPECT_EQ(FormatSite(read), FormatSite(site));
}

TEST(SiteFile, ForeignNewerOrBrokenFilesAreRefusedAndLeaveTheSiteAsItWas) {
    const std::string line = "<LINE port=\"COM3\">";
    const std::string device = "<DEVICE description=\"NastrBUK2.xml\" id=\"1\"/>";
    const struct {
        std::string text;
        std::string error;
    } cases[] = {
        {"<SITE format=\"2\"/>", "файл объекта записан более новой версией программы (формат 2, "
                                 "эта версия читает формат 1 и старше не знает)"},
        {"<SITE/>", "у файла объекта нет номера формата (format)"},
        {"<DEVICE format=\"1\"/>", "это не файл объекта: нет элемента SITE"},
        {"<SITE format=\"1\"", "файл объекта не читается как XML: "},
        {"<SITE format=\"1\"><LINE/></SITE>", "у элемента LINE нет атрибута port"},
        {"<SITE format=\"1\"><LINE port=\"COM3\" protocol=\"3.0\"/></SITE>",
         "неверная версия протокола: 3.0 (1.0 или 2.0)"},
        {"<SITE format=\"1\"><LINE port=\"COM3\" pollPeriod=\"-5\"/></SITE>",
         "неверный период опроса: -5 мс"},
        {"<SITE format=\"1\">" + line + device + device + "</LINE></SITE>",
         "на линии COM3 два устройства с ID 1"},
        {"<SITE format=\"1\">" + line + "<DEVICE description=\"../x/NastrBUK2.xml\" id=\"1\"/>" +
             "</LINE></SITE>",
         "файл описания задаётся именем без папки: ../x/NastrBUK2.xml"},
        {"<SITE format=\"1\">" + line +
             "<DEVICE description=\"NastrBUK2.xml\" id=\"1\" reference=\"/etc/passwd\"/>" +
             "</LINE></SITE>",
         "эталон задаётся именем файла в папке объекта: /etc/passwd"},
        {"<SITE format=\"1\">" + line +
             "<DEVICE description=\"NastrBUK2.xml\" id=\"1\" poll=\"0x10 0x1FFFF\"/></LINE></SITE>",
         "неверный код регистра в poll: 0x1FFFF"},
        {"<SITE format=\"1\">" + line + "<DEVICE description=\"NastrBUK2.xml\" id=\"-1\"/>" +
             "</LINE></SITE>",
         "неверный ID устройства: -1"},
        {"<SITE format=\"1\">" + line +
             "<DEVICE description=\"NastrBUK2.xml\" id=\"1\"><IDENTITY value=\"1\"/></DEVICE>" +
             "</LINE></SITE>",
         "у элемента IDENTITY нет атрибута addr"},
    };
    for (const auto& c : cases) {
        TSite site = SampleSite();
        std::string error;
        EXPECT_FALSE(ParseSite(c.text, site, error)) << c.text;
        EXPECT_EQ(error.substr(0, c.error.size()), c.error) << c.text;
        EXPECT_EQ(site.Lines, SampleSite().Lines) << c.text;
    }
    // A file of a hand, in another encoding and with comments, within the bounds.
    TSite site;
    std::string error;
    std::string lines;
    for (size_t i = 0; i < kMaxSiteLines; ++i)
        lines += "<LINE port=\"COM" + std::to_string(i + 1) + "\"/>";
    ASSERT_TRUE(ParseSite("<?xml version=\"1.0\" encoding=\"windows-1251\"?>\n<!-- от руки -->"
                          "<SITE format=\"1\" name=\"\xCA\xEE\xF2\xE5\xEB\xFC\xED\xE0\xFF\">" +
                              lines + "</SITE>",
                          site, error))
        << error;
    EXPECT_EQ(site.Name, "Котельная");
    EXPECT_EQ(site.Lines.size(), kMaxSiteLines);
    EXPECT_EQ(site.Lines[0].Version, 1); // 2.0 when not said
    EXPECT_FALSE(ParseSite("<SITE format=\"1\">" + lines + "<LINE port=\"COM99\"/></SITE>", site,
                           error));
    EXPECT_EQ(error, "в объекте больше 16 линий");
}

TEST(SiteFile, AnotherProgramsChangeIsNotWrittenOver) {
    TempDir dir;
    TSite site = SampleSite();
    std::string error;
    ASSERT_TRUE(WriteSite(dir.Path(), site, error)) << error;
    const std::string path = SiteFilePath(dir.Path());
    std::string bytes;
    ASSERT_TRUE(ReadFileBytes(path, bytes, error));
    const std::string edited = bytes + "<!-- правка в блокноте -->\n";
    ASSERT_TRUE(WriteFileBytes(path, edited, error));
    site.Name = "Другое имя";
    bool changed = false;
    EXPECT_FALSE(WriteSite(dir.Path(), site, error, &changed));
    EXPECT_TRUE(changed);
    EXPECT_NE(error.find("файл изменён другой программой"), std::string::npos) << error;
    ASSERT_TRUE(ReadFileBytes(path, bytes, error));
    EXPECT_EQ(bytes, edited);
    // Read again, it is written.
    TSite again;
    ASSERT_TRUE(ReadSite(dir.Path(), again, error)) << error;
    again.Name = "Другое имя";
    EXPECT_TRUE(WriteSite(dir.Path(), again, error)) << error;
    // A new site never takes the place of one.
    TSite other = SampleSite();
    EXPECT_FALSE(CreateSite(dir.Path(), other, {}, error));
    EXPECT_NE(error.find("уже есть объект (site.xml)"), std::string::npos) << error;
}

TEST(SiteCheck, StateTexts) {
    const struct {
        TSiteState state;
        int differences;
        const char* text;
        bool trusted;
    } cases[] = {
        {TSiteState::NotChecked, -1, "не проверено", false},
        {TSiteState::InPlace, 0, "на месте", true},
        {TSiteState::Silent, -1, "нет ответа", false},
        {TSiteState::OtherDevice, -1, "другое устройство", false},
        {TSiteState::Replaced, 0, "заменено", false},
        {TSiteState::Differs, 3, "отличается от эталона: 3", true},
    };
    for (const auto& c : cases) {
        TSiteCheck check;
        check.State = c.state;
        check.Differences = c.differences;
        EXPECT_EQ(SiteStateText(check), c.text);
        EXPECT_EQ(SiteDeviceTrusted(check), c.trusted) << c.text;
    }
    TSiteCheck replaced;
    replaced.Changes = {{1, "Заводской номер", "B2-0417", "B2-0999"}, {2, "Версия ПО", "", "12"}};
    EXPECT_EQ(IdentityChangesText(replaced),
              "Заводской номер: B2-0417 → B2-0999; Версия ПО: — → 12");
}
