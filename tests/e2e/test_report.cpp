// A visit's commissioning report from tunavox-cli on the simulator's line of three devices:
// a setting found off its reference and put right, a write the device acknowledged and did
// not keep, and a device that stops answering before the report.
#include <gtest/gtest.h>

#include <set>
#include <sstream>

#include "device/description.h"
#include "report_doc.h"
#include "sim/simulator.h"
#include "sim_process.h"
#include "site/site.h"
#include "site/visit.h"
#include "test_support.h"
#include "util/cp1251.h"
#include "util/file_io.h"

using namespace tunavox;
using namespace tunavox::test;

namespace {

// The settings a device's table lists: every register it reads and writes.
size_t Settings(const TRegList& regs) {
    std::set<uint16_t> rows;
    for (int r = 0; r < regs.Count(); ++r)
        if (regs.Items(r)->RegType != rtHeader && regs.Items(r)->Io == ioRW)
            rows.insert(regs.Items(r)->Addr);
    return rows.size();
}

const std::set<std::string> kStates{"совпадает с эталоном", "изменено при наладке",
                                    "отличается от эталона", "не считано"};

} // namespace

TEST(Report, VisitOfThreeDevicesShowsWhatEachAnsweredAndWhatItKept) {
    TempDir dir;
    LoadedSample buk("NastrBUK2.xml"), chp("NastrChP7.xml");
    TSimOptions o;
    o.Line = *buk.Desc.Line;
    o.DeviceId = 1;
    TDeviceSimulator sim(buk.Regs, o);
    sim.AddDevice(chp.Regs, 2);
    sim.AddDevice(buk.Regs, 3);
    std::string error;
    const std::string port = sim.StartPty(dir.File("line"), error);
    ASSERT_FALSE(port.empty()) << error;
    const std::string b = kBin + "/NastrBUK2.xml", c = kBin + "/NastrChP7.xml";
    const std::string site = dir.File("Котельная"), journal = dir.File("journal");
    ASSERT_EQ(Cli("site new '" + site + "' --port " + port + " --device " + b + ":1 --device " +
                  c + ":2 --device " + b + ":3 --name 'Котельная №1'")
                  .status,
              0);

    // The engineer finds a setting off its reference; the check starts the visit.
    ASSERT_TRUE(sim.SetValueOf(1, 0x0021, "80"));
    CommandResult r = Cli("site check '" + site + "'");
    EXPECT_EQ(r.status, 1) << r.out;
    TVisit visit;
    ASSERT_TRUE(LastVisit(site, visit, error)) << error;
    TSite read;
    ASSERT_TRUE(ReadSite(site, read, error)) << error;
    for (const TSiteDevice& d : read.Lines.at(0).Devices)
        EXPECT_EQ(PathKind(FoundSetPath(visit, d)), TPathKind::File) << d.Id;

    // He puts it right, and tries a setting the device acknowledges but does not keep.
    const std::string write = " --port " + port + " --journal '" + journal + "' ";
    r = Cli("write --device " + b + ":1" + write + "0x21=75");
    EXPECT_EQ(r.status, 0) << r.out;
    TSimFaults faults;
    faults.KeepValue.insert(0x402);
    sim.SetFaults(faults);
    r = Cli("write --device " + c + ":2" + write + "0x402=400");
    EXPECT_EQ(r.status, 1) << r.out;
    // Then the third device goes silent.
    ASSERT_TRUE(sim.SetPresent(3, false));

    const std::string html = dir.File("отчёт.html"), csv = dir.File("отчёт.csv");
    r = Cli("site report '" + site + "' --output '" + html + "' --engineer 'Иванов И. И.'" +
            " --journal '" + journal + "'");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find("3;БУК-2 (контроллер котельной);не проверено: нет связи"),
              std::string::npos)
        << r.out;
    std::string text;
    ASSERT_TRUE(ReadFileBytes(html, text, error)) << error;
    TReportDoc doc;
    ASSERT_TRUE(ParseReportHtml(text, doc, error)) << error;
    EXPECT_TRUE(doc.HeadersRepeat);
    EXPECT_EQ(doc.Facts["Объект"], "Котельная №1");
    EXPECT_EQ(doc.Facts["Инженер"], "Иванов И. И.");
    EXPECT_EQ(doc.Facts["Начало посещения"], visit.Started);
    EXPECT_FALSE(doc.Facts["Версия программы"].empty());
    EXPECT_EQ(doc.SiteVerdict, "Заключение по объекту: не соответствует эталону "
                               "(не проверено устройств: 1 из 3)");
    ASSERT_EQ(doc.Devices.size(), 3u);
    EXPECT_EQ(doc.Devices[0].SettingsHead,
              (std::vector<std::string>{"Код", "Параметр", "Заводское", "Эталон", "Было",
                                        "Стало", "Состояние"}));
    const std::vector<std::string> verdicts{"соответствует эталону", "соответствует эталону",
                                            "не проверено: нет связи"};
    for (size_t i = 0; i < 3; ++i) {
        const TReportDocDevice& d = doc.Devices[i];
        SCOPED_TRACE("ID " + d.Id);
        EXPECT_EQ(d.Id, std::to_string(i + 1));
        EXPECT_EQ(d.Verdict, "Заключение: " + verdicts[i]);
        EXPECT_EQ(d.Facts.at("Подпись описания"), "подпись верна");
        EXPECT_EQ(d.Settings.size(), Settings(i == 1 ? chp.Regs : buk.Regs));
        for (const auto& row : d.Settings) {
            ASSERT_EQ(row.size(), 7u);
            EXPECT_TRUE(kStates.count(row[6])) << row[6];
            // Every value found; the silent device's as left never read.
            EXPECT_NE(row[4], "не считано") << row[0];
            EXPECT_EQ(row[5] == "не считано", i == 2) << row[0];
            if (row[0] == "0x21" && i == 0) continue;
            EXPECT_EQ(row[4], row[3]) << row[0];
            EXPECT_EQ(row[6], i == 2 ? "не считано" : "совпадает с эталоном") << row[0];
        }
        ASSERT_EQ(d.Identity.size(), 2u);
        EXPECT_EQ(d.Identity[0].size(), 4u);
        EXPECT_EQ(d.Identity[0][3] == "не считано", i == 2);
    }
    EXPECT_EQ(SettingsRow(doc.Devices[0], "0x21"),
              (std::vector<std::string>{"0x21", SettingsRow(doc.Devices[0], "0x21")[1], "75",
                                        "75", "80", "75", "изменено при наладке"}));
    ASSERT_EQ(doc.Devices[0].Writes.size(), 1u);
    EXPECT_EQ(doc.Devices[0].Writes[0][1], "0x21");
    // The command line writes without reading first: the journal says so.
    EXPECT_EQ(doc.Devices[0].Writes[0][3], "не считано");
    EXPECT_EQ(doc.Devices[0].Writes[0][4], "75");
    EXPECT_EQ(doc.Devices[0].Writes[0][5], "записано и подтверждено");
    ASSERT_EQ(doc.Devices[1].Writes.size(), 1u);
    EXPECT_EQ(doc.Devices[1].Writes[0][1], "0x402");
    EXPECT_EQ(doc.Devices[1].Writes[0][4], "400");
    EXPECT_EQ(doc.Devices[1].Writes[0][5], "устройство сохранило другое значение");
    // The device kept its old value: as left is what it answered, not what was written.
    const std::vector<std::string> kept = SettingsRow(doc.Devices[1], "0x402");
    ASSERT_EQ(kept.size(), 7u);
    EXPECT_EQ(kept[5], kept[3]);
    EXPECT_NE(kept[5], "400");
    EXPECT_TRUE(doc.Devices[2].Writes.empty());

    // The same tables as spreadsheet lines.
    r = Cli("site report '" + site + "' --output '" + csv + "' --journal '" + journal + "'");
    EXPECT_EQ(r.status, 1) << r.out;
    ASSERT_TRUE(ReadFileBytes(csv, text, error)) << error;
    std::vector<std::string> lines;
    std::istringstream in(Cp1251ToUtf8(text));
    for (std::string line; std::getline(in, line);) {
        ASSERT_FALSE(line.empty());
        ASSERT_EQ(line.back(), '\r');
        lines.push_back(line.substr(0, line.size() - 1));
    }
    ASSERT_EQ(lines.size(), 1 + doc.Devices[0].Settings.size() + doc.Devices[1].Settings.size() +
                                doc.Devices[2].Settings.size());
    EXPECT_EQ(lines[0], "ID;Код;Параметр;Заводское;Эталон;Было;Стало;Состояние");
    size_t at = 1;
    for (const TReportDocDevice& d : doc.Devices)
        for (const auto& row : d.Settings) {
            std::string expected = d.Id;
            for (const std::string& cell : row)
                expected += ";" + cell;
            EXPECT_EQ(lines[at++], expected);
        }
}
