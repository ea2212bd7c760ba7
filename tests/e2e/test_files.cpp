// What the command line writes into files and lines: limits of the file system, and
// device strings that hold line breaks or control characters.
#include <gtest/gtest.h>

#include "sim_process.h"

using namespace tunavox::test;

TEST(Files, AFileSizeLimitStopsTheRecordingWithAMessage) {
    TempDir dir;
    const std::string desc = kBin + "/NastrChP7.xml";
    const std::string link = dir.File("dev");
    SimProcess sim({"--link", link, "--desc", desc});
    const std::string rec = dir.File("rec.csv");
    // A limit of a few kilobytes: without SIGXFSZ ignored, the command is killed mid-line.
    const CommandResult r = RunCommand("ulimit -f 4; " + kBin + "/tunavox-cli poll --desc " + desc +
                                       " --port " + link + " --seconds 30 --output " + rec +
                                       " 0x200 0x201");
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_NE(r.out.find("Запись опроса в файл " + rec + " остановлена: файл слишком велик"),
              std::string::npos)
        << r.out;
    const std::string text = ReadBytes(rec);
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n"); // no torn line
}

TEST(Files, DeviceStringsWithLineBreaksStayOneField) {
    TempDir dir;
    const std::string desc = kBin + "/NastrBUK2.xml";
    const std::string link = dir.File("dev");
    SimProcess sim({"--link", link, "--desc", desc});
    const std::string common = " --desc " + desc + " --port " + link + " ";
    ASSERT_EQ(Cli("write" + common + "0x03=\"$(printf 'A\\r\\nB')\"").status, 0);
    const CommandResult r = Cli("read" + common + "0x03 0x02");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "0x02;Версия ПО;0;\n0x03;Название объекта;\"A\r\nB\";\n");
}
