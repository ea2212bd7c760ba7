// A site made from a line of five devices with tunavox-cli and checked again while the
// simulator's line changes under it: a unit gone silent, another type at an ID, a unit
// replaced, a setting changed.
#include <gtest/gtest.h>

#include <sstream>

#include "device/description.h"
#include "sim/simulator.h"
#include "sim_process.h"
#include "site/site.h"
#include "test_support.h"
#include "util/file_io.h"

using namespace tunavox;
using namespace tunavox::test;

namespace {

std::vector<std::string> OutLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

} // namespace

TEST(Site, MadeFromTheLineThenCheckedAsTheLineChanges) {
    TempDir dir;
    LoadedSample buk("NastrBUK2.xml"), chp("NastrChP7.xml");
    TSimOptions o;
    o.Line = *buk.Desc.Line;
    o.DeviceId = 1;
    TDeviceSimulator sim(buk.Regs, o);
    sim.AddDevice(buk.Regs, 2);
    sim.AddDevice(chp.Regs, 3);
    sim.AddDevice(chp.Regs, 4);
    sim.AddDevice(buk.Regs, 5);
    ASSERT_TRUE(sim.SetValueOf(1, 0x0001, "B2-0417"));
    std::string error;
    const std::string port = sim.StartPty(dir.File("line"), error);
    ASSERT_FALSE(port.empty()) << error;

    const std::string b = kBin + "/NastrBUK2.xml", c = kBin + "/NastrChP7.xml";
    const std::string devices = " --device " + b + ":1 --device " + b + ":2 --device " + c +
                                ":3 --device " + c + ":4 --device " + b + ":5";
    const std::string site = dir.File("Котельная 3");
    // A device that does not answer: nothing is written, not even the folder's sets.
    CommandResult r = Cli("site new '" + site + "' --port " + port + devices + " --device " + c +
                          ":9");
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_NE(r.out.find("ID 9 (ЧП-7 (частотный преобразователь)): устройство не отвечает"),
              std::string::npos)
        << r.out;
    EXPECT_TRUE(FolderNames(site).empty());

    r = Cli("site new '" + site + "' --port " + port + devices + " --name 'Котельная №3'");
    ASSERT_EQ(r.status, 0) << r.out;
    TSite read;
    ASSERT_TRUE(ReadSite(site, read, error)) << error;
    EXPECT_EQ(read.Name, "Котельная №3");
    ASSERT_EQ(read.Lines.size(), 1u);
    EXPECT_EQ(read.Lines[0].Port, port);
    EXPECT_EQ(read.Lines[0].Version, 1);
    ASSERT_EQ(read.Lines[0].Devices.size(), 5u);
    const TSiteDevice& first = read.Lines[0].Devices[0];
    EXPECT_EQ(first.Description, "NastrBUK2.xml");
    EXPECT_EQ(first.Type, buk.Desc.Name);
    EXPECT_EQ(first.Sign, buk.Desc.Sign);
    EXPECT_EQ(first.Identity, (std::vector<TIdentityValue>{{0x0001, "B2-0417"}, {0x0002, "0"}}));
    EXPECT_EQ(first.Polled, (std::vector<uint16_t>{0x10, 0x11, 0x12, 0x13, 0x20}));
    EXPECT_EQ(read.Lines[0].Devices[3].Identity,
              (std::vector<TIdentityValue>{{0x0101, "70012345"}, {0x0102, "515"}}));
    for (const TSiteDevice& d : read.Lines[0].Devices) {
        TParamSet reference;
        EXPECT_TRUE(ReadParamSetFile(SiteFolderFile(site, d.Reference), reference, error))
            << error;
        EXPECT_EQ(reference.DeviceId, d.Id);
    }
    // A second site in the same folder is refused.
    EXPECT_EQ(Cli("site new '" + site + "' --port " + port + devices).status, 2);

    r = Cli("site check '" + site + "'");
    EXPECT_EQ(r.status, 0) << r.out;
    std::vector<std::string> lines = OutLines(r.out);
    ASSERT_GE(lines.size(), 6u) << r.out;
    EXPECT_EQ(lines.back(), "Устройств: 5, на месте: 5");
    EXPECT_EQ(lines[lines.size() - 6], "1;БУК-2 (контроллер котельной);на месте;0");

    // The line as the engineer finds it next time.
    ASSERT_TRUE(sim.SetPresent(2, false));
    ASSERT_TRUE(sim.ReplaceDevice(3, buk.Regs));
    ASSERT_TRUE(sim.SetValueOf(4, 0x0101, "70099999"));
    ASSERT_TRUE(sim.SetValueOf(5, 0x0021, "80"));
    r = Cli("site check '" + site + "'");
    EXPECT_EQ(r.status, 1) << r.out;
    lines = OutLines(r.out);
    ASSERT_GE(lines.size(), 6u) << r.out;
    const std::vector<std::string> expected{
        "1;БУК-2 (контроллер котельной);на месте;0",
        "2;БУК-2 (контроллер котельной);нет ответа;—",
        "3;ЧП-7 (частотный преобразователь);другое устройство: БУК-2 (контроллер котельной);—",
        "4;ЧП-7 (частотный преобразователь);заменено: Серийный номер: 70012345 → 70099999;0",
        "5;БУК-2 (контроллер котельной);отличается от эталона: 1;1",
        "Устройств: 5, на месте: 1, нет ответа: 1, другое устройство: 1, заменено: 1, "
        "отличается от эталона: 1",
    };
    EXPECT_EQ(std::vector<std::string>(lines.end() - 6, lines.end()), expected) << r.out;
    // Checks only read: nothing was written to any device.
    EXPECT_EQ(sim.OtherRequestCount(), 0u);
    int64_t setting = 0;
    EXPECT_TRUE(sim.ValueOf(5, 0x0021).AsInt64(setting));
    EXPECT_EQ(setting, 80);

    // A site file no program of this version can read.
    std::string text;
    ASSERT_TRUE(ReadFileBytes(SiteFilePath(site), text, error));
    text.replace(text.find("format=\"1\""), 10, "format=\"2\"");
    ASSERT_TRUE(WriteFileBytes(SiteFilePath(site), text, error));
    r = Cli("site check '" + site + "'");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("записан более новой версией программы (формат 2"), std::string::npos)
        << r.out;
}
