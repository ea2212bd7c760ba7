// The report's content: each row's state and each device's verdict from what was found,
// left and referenced; a journal outcome in the report's words; the visit's writes picked
// by port, device and time; visits kept in the site folder; the page and the spreadsheet.
#include <gtest/gtest.h>

#include "device/description.h"
#include "paramset/set_compare.h"
#include "report_doc.h"
#include "site/report.h"
#include "site/visit.h"
#include "test_support.h"
#include "util/cp1251.h"
#include "util/file_io.h"
#include "util/time_text.h"

using namespace tunavox;
using namespace tunavox::test;

namespace {

struct Buk {
    TRegList Regs;
    TNameValueList Errors;
    TDescription Desc;
    TSiteDevice Site;
    Buk() {
        EXPECT_EQ(LoadDescription(std::string(TUNAVOX_DEVICES_DIR) + "/NastrBUK2.xml", Regs,
                                  Errors, Desc, std::string(TUNAVOX_DEVICES_DIR) + "/"),
                  "");
        Site.Description = Desc.FileName;
        Site.Type = Desc.Name;
        Site.Sign = Desc.Sign;
        Site.Id = 7;
        Site.Reference = ReferenceName(Site);
    }
    // Every readable register at its factory value, as if read from the device.
    TParamSet AtFactory() const {
        TParamSet set = FactorySet(Regs, Desc.Name, Desc.FileName, Desc.Sign);
        set.Factory = false;
        return set;
    }
};

void Put(TParamSet& set, uint16_t addr, int64_t value) {
    for (TParamEntry& e : set.Entries)
        if (e.Addr == addr) {
            EXPECT_TRUE(ParseValueField(std::to_string(value), e.Type, e.Value));
        }
}

void Drop(TParamSet& set, uint16_t addr) {
    std::erase_if(set.Entries, [addr](const TParamEntry& e) { return e.Addr == addr; });
}

const TReportRow* Row(const TReportDevice& d, const std::string& code) {
    for (const TReportRow& r : d.Rows)
        if (r.Code == code) return &r;
    return nullptr;
}

} // namespace

TEST(Report, EachRowsStateAndTheDevicesVerdict) {
    Buk buk;
    struct Case {
        const char* what;
        std::optional<int64_t> found, left; // 0x21; none: not read
        bool inReference;
        bool answered;
        const char* state;
        const char* verdict;
    };
    const Case cases[] = {
        {"put right", 80, 75, true, true, "изменено при наладке", "соответствует эталону"},
        {"as found", 75, 75, true, true, "совпадает с эталоном", "соответствует эталону"},
        {"found unread", {}, 75, true, true, "совпадает с эталоном", "соответствует эталону"},
        {"changed away", 75, 80, true, true, "отличается от эталона", "отличается от эталона: 1"},
        {"left unread", 75, {}, true, true, "не считано", "не проверено: не считано 1"},
        {"no reference row", 75, 75, false, true, "нет в эталоне", "соответствует эталону"},
        {"silent", 75, {}, true, false, "не считано", "не проверено: нет связи"},
    };
    const TParamSet reference = buk.AtFactory();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TParamSet found = buk.AtFactory(), left = buk.AtFactory(), ref = reference;
        c.found ? Put(found, 0x21, *c.found) : Drop(found, 0x21);
        c.left ? Put(left, 0x21, *c.left) : Drop(left, 0x21);
        if (!c.inReference) Drop(ref, 0x21);
        TReportSource source;
        source.Site = &buk.Site;
        source.Regs = &buk.Regs;
        source.Sign = buk.Desc.Sign;
        source.Found = &found;
        source.Left = c.answered ? &left : nullptr;
        source.Reference = &ref;
        const TReportDevice d = ReportDeviceOf(source);
        const TReportRow* row = Row(d, "0x21");
        ASSERT_TRUE(row);
        EXPECT_EQ(row->State, c.state);
        EXPECT_EQ(row->Found, c.found ? std::to_string(*c.found) : "не считано");
        EXPECT_EQ(row->Left, c.left && c.answered ? std::to_string(*c.left) : "не считано");
        EXPECT_EQ(row->Reference, c.inReference ? "75" : "—");
        EXPECT_EQ(row->Factory, "75");
        EXPECT_EQ(VerdictText(d), c.verdict);
        // Only settings are rows; identity rows are listed apart.
        EXPECT_FALSE(Row(d, "0x10"));
        EXPECT_EQ(d.Identity.size(), 2u);
    }
    // Without a reference nothing can be said to conform; another signature is said.
    TParamSet left = buk.AtFactory();
    TReportSource source;
    source.Site = &buk.Site;
    source.Regs = &buk.Regs;
    source.Sign = "0000";
    source.Left = &left;
    const TReportDevice d = ReportDeviceOf(source);
    EXPECT_EQ(VerdictText(d), "не проверено: нет эталона");
    EXPECT_EQ(d.Signature, "подпись верна; описание изменено после приёмки объекта");
}

TEST(Report, JournalOutcomesInTheReportsWords) {
    const std::pair<std::string, std::string> cases[] = {
        {kConfirmed, "записано и подтверждено"},
        {KeptOtherOutcome("70"), "устройство сохранило другое значение"},
        {"записано, не проверено: нет ответа", "записано, не проверено: нет ответа"},
        {"принято как устройство объекта", "принято как устройство объекта"},
        {"Устройство не отвечает", "не записано: Устройство не отвечает"},
    };
    for (const auto& [journal, report] : cases)
        EXPECT_EQ(ReportOutcomeText(journal), report) << journal;
}

TEST(Report, TimesWithTheirOffsetReadBackToTheSameInstant) {
    int64_t a = 0, b = 0;
    ASSERT_TRUE(ParseTimeWithOffset("2026-12-11 09:30:05.123 +03:00", a));
    ASSERT_TRUE(ParseTimeWithOffset("2026-12-11 06:30:05.123 +00:00", b));
    EXPECT_EQ(a, b);
    ASSERT_TRUE(ParseTimeWithOffset("2026-12-10 21:30:05.123 -09:00", b));
    EXPECT_EQ(a, b);
    ASSERT_TRUE(ParseTimeWithOffset("1970-01-01 00:00:01 +00:00", b));
    EXPECT_EQ(b, 1000);
    const auto now = std::chrono::system_clock::now();
    ASSERT_TRUE(ParseTimeWithOffset(LocalTimeWithOffset(now), b));
    EXPECT_EQ(b, std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch())
                     .count());
    for (const char* bad : {"", "2026-02-30 10:00:00 +00:00", "2026-12-11 24:00:00 +00:00",
                            "2026-12-11 10:00:00", "2026-12-11 10:00:00 +0300",
                            "2026-12-11 10:00:00.12 +00:00", "2026-12-11 10:00:00 +00:00 ",
                            "2026-12-11T10:00:00 +00:00"})
        EXPECT_FALSE(ParseTimeWithOffset(bad, b)) << bad;
}

TEST(Report, TheVisitsWritesAreTheDevicesOnItsLineSinceItBegan) {
    Buk buk;
    int64_t since = 0;
    ASSERT_TRUE(ParseTimeWithOffset("2026-12-11 09:00:00.000 +03:00", since));
    const auto entry = [&](const char* time, const char* port, const char* id, const char* file) {
        TJournalEntry e;
        e.Time = time;
        e.Port = port;
        e.DeviceId = id;
        e.DescFile = file;
        return e;
    };
    const std::vector<TJournalEntry> journal{
        entry("2026-12-11 08:59:59.999 +03:00", "COM3", "7", "NastrBUK2.xml"), // before
        entry("2026-12-11 06:00:00.000 +00:00", "COM3", "7", "NastrBUK2.xml"), // the moment
        entry("2026-12-11 10:00:00.000 +03:00", "COM4", "7", "NastrBUK2.xml"), // other line
        entry("2026-12-11 10:00:00.000 +03:00", "COM3", "8", "NastrBUK2.xml"), // other ID
        entry("2026-12-11 10:00:00.000 +03:00", "COM3", "7", "NastrChP7.xml"), // other type
        entry("garbled", "COM3", "7", "NastrBUK2.xml"),
        entry("2026-12-11 11:00:00.000 +03:00", "COM3", "7", "NastrBUK2.xml"),
    };
    const std::vector<TJournalEntry> picked = VisitWrites(journal, "COM3", buk.Site, since);
    ASSERT_EQ(picked.size(), 2u);
    EXPECT_EQ(picked[0].Time, journal[1].Time);
    EXPECT_EQ(picked[1].Time, journal[6].Time);
}

TEST(Report, VisitsAreKeptInTheSiteFolderTheLatestFound) {
    TempDir dir;
    Buk buk;
    const std::string site = dir.File("объект");
    TVisit none;
    std::string error;
    EXPECT_FALSE(LastVisit(site, none, error));
    EXPECT_EQ(error, "У объекта нет посещений: сначала проверьте его (site check)");
    const auto t = std::chrono::system_clock::now();
    TVisit first, second, later;
    ASSERT_TRUE(StartVisit(site, t, first, error)) << error;
    ASSERT_TRUE(StartVisit(site, t, second, error)) << error;
    EXPECT_EQ(second.Folder, first.Folder + "_2");
    TVisit last;
    ASSERT_TRUE(LastVisit(site, last, error)) << error;
    EXPECT_EQ(last.Folder, second.Folder);
    EXPECT_EQ(last.Started, second.Started);
    ASSERT_TRUE(StartVisit(site, t + std::chrono::seconds(61), later, error)) << error;
    ASSERT_TRUE(LastVisit(site, last, error)) << error;
    EXPECT_EQ(last.Folder, later.Folder);

    // A device's first answers stay; a device never found has none.
    TParamSet found = buk.AtFactory();
    ASSERT_TRUE(SaveFound(later, buk.Site, 1, found.Entries, error)) << error;
    Put(found, 0x21, 99);
    ASSERT_TRUE(SaveFound(later, buk.Site, 1, found.Entries, error)) << error;
    std::optional<TParamSet> read;
    ASSERT_TRUE(ReadFound(later, buk.Site, read, error)) << error;
    ASSERT_TRUE(read);
    EXPECT_EQ(read->Entries.size(), found.Entries.size());
    int64_t kept = 0;
    for (const TParamEntry& e : read->Entries)
        if (e.Addr == 0x21) {
            EXPECT_TRUE(e.Value.AsInt64(kept));
        }
    EXPECT_EQ(kept, 75);
    TSiteDevice other = buk.Site;
    other.Id = 8;
    ASSERT_TRUE(ReadFound(later, other, read, error));
    EXPECT_FALSE(read);

    // A visit file that does not say when it began is refused, not taken for any time.
    ASSERT_TRUE(WriteFileBytes(SiteFolderFile(later.Folder, kVisitFileName), "started=вчера\n",
                               error));
    EXPECT_FALSE(ReadVisit(later.Folder, last, error));
    EXPECT_NE(error.find("не говорит, когда оно началось"), std::string::npos) << error;
}

TEST(Report, PageAndSpreadsheetHoldEveryCellEscaped) {
    TReport r;
    r.Site = "Котельная <№3> & \"Северная\"";
    r.Engineer = "Иванов";
    r.VisitStarted = "2026-12-11 09:00:00.000 +03:00";
    r.Made = "2026-12-11 12:00:00.000 +03:00";
    r.Program = "0.1.0";
    TReportLine line;
    line.Port = "COM3";
    TReportDevice d;
    d.Type = "БУК-2";
    d.Id = 7;
    d.Rows = {{"0x21", "Уставка; \"подачи\" [°C]", "75", "75", "80", "75", kRowChanged},
              {"0x22", "Гистерезис", "0.50", "—", kNotRead, kNotRead, kNotRead}};
    d.Writes = {{r.Made, "0x21", "Уставка", "80", "75", kConfirmed}};
    d.Verdict = TReportVerdict::Conforms;
    line.Devices = {d};
    r.Lines = {line};
    TReportDoc doc;
    std::string error;
    ASSERT_TRUE(ParseReportHtml(ReportHtml(r), doc, error)) << error;
    EXPECT_EQ(doc.Facts["Объект"], r.Site);
    EXPECT_EQ(doc.SiteVerdict, "Заключение по объекту: соответствует эталону");
    ASSERT_EQ(doc.Devices.size(), 1u);
    ASSERT_EQ(doc.Devices[0].Settings.size(), 2u);
    EXPECT_EQ(doc.Devices[0].Settings[0][1], d.Rows[0].Name);
    EXPECT_EQ(doc.Devices[0].Writes.at(0).at(5), kConfirmed);
    EXPECT_TRUE(doc.HeadersRepeat);
    EXPECT_EQ(Cp1251ToUtf8(ReportCsv(r)),
              "ID;Код;Параметр;Заводское;Эталон;Было;Стало;Состояние\r\n"
              "7;0x21;\"Уставка; \"\"подачи\"\" [°C]\";75;75;80;75;изменено при наладке\r\n"
              "7;0x22;Гистерезис;0.50;—;не считано;не считано;не считано\r\n");
}
