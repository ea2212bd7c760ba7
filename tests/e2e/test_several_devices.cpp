// tunavox-cli with several devices of one line (tunavox-sim --device FILE:ID ...): read and
// poll in one go, sets per device, a set kept to its own device.
#include <gtest/gtest.h>

#include <csignal>
#include <chrono>
#include <memory>
#include <thread>

#include <sys/stat.h>

#include "sim_process.h"
#include "test_support.h"
#include "util/cp1251.h"

using namespace tunavox::test;

TEST(SeveralDevices, ReadInOneGo) {
    // Three devices of two types on one line, read in one go: every value on its own
    // device's line (a mix-up of IDs shows as a wrong value).
    TempDir dir;
    const std::string buk = kBin + "/NastrBUK2.xml", chp = kBin + "/NastrChP7.xml";
    const std::string link = dir.File("line");
    SimProcess sim({"--link", link, "--device", buk + ":3", "--device", chp + ":17", "--device",
                    chp + ":200"});
    ASSERT_EQ(sim.FirstLine().rfind("/dev/pts/", 0), 0u) << sim.FirstLine();
    // One --device is --desc with --id.
    EXPECT_EQ(Cli("write --device " + chp + ":17 --port " + link + " 0x302=45,5").status, 0);
    const std::string devices = " --port " + link + " --device " + buk + ":3 --device " + chp +
                                ":17 --device " + chp + ":200 ";
    // The line runs at the first description's settings; another's are named once.
    const std::string note =
        "NastrChP7.xml: в описании 19200-8-E-1, линия работает с 9600-8-N-1 первого устройства\n";
    CommandResult r = Cli("read" + devices + "0x20 0x302");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, note + "3;0x20;Режим работы;выкл;\n"
                            "17;0x302;Заданная частота [Гц];45.50;\n"
                            "200;0x302;Заданная частота [Гц];50.00;\n");
    // Every readable row of each (what "Считать все" reads), in table order per device.
    r = Cli("read" + devices);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(Lines(r.out), 1u + 15u + 33u + 33u) << r.out;
    // A device that is not there fails alone.
    r = Cli("read --port " + link + " --device " + chp + ":17 --device " + chp + ":9 0x200");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("17;0x200;Выходная частота [Гц];49.95;\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("9;0x200;Выходная частота [Гц];;Устройство не отвечает\n"),
              std::string::npos)
        << r.out;
    // A set saved for ID 17 goes into ID 200 only when asked for by name.
    const std::string set = dir.File("17.params");
    ASSERT_EQ(Cli("backup --device " + chp + ":17 --port " + link + " --output " + set).status, 0);
    const std::string into200 = "restore --device " + chp + ":200 --port " + link + " ";
    r = Cli(into200 + set);
    EXPECT_EQ(r.status, 2) << r.out;
    EXPECT_NE(r.out.find("Внимание: Файл сохранён для ID 17, сейчас ID 200"), std::string::npos)
        << r.out;
    EXPECT_EQ(Cli("read --device " + chp + ":200 --port " + link + " 0x302").out,
              "0x302;Заданная частота [Гц];50.00;\n");
    EXPECT_EQ(Cli(into200 + "--other-device " + set).status, 0);
    EXPECT_EQ(Cli("read --device " + chp + ":200 --port " + link + " 0x302").out,
              "0x302;Заданная частота [Гц];45.50;\n");
    for (const std::string& bad : {"read --desc " + chp + devices, "read" + devices + "0x9999",
                                   "backup" + devices + "--output " + dir.File("x.params"),
                                   "read --port " + link + " --device " + chp + ":0"})
        EXPECT_EQ(Cli(bad).status, 2) << bad;
}

TEST(SeveralDevices, PollEachValueOnItsOwnDevice) {
    TempDir dir;
    const std::string chp = kBin + "/NastrChP7.xml";
    const std::string link = dir.File("line");
    SimProcess sim({"--link", link, "--device", chp + ":17", "--device", chp + ":200"});
    ASSERT_EQ(Cli("write --device " + chp + ":17 --port " + link + " 0x302=45,5").status, 0);
    // ID 9 is not on the line: it rests alone while the others keep being read.
    const std::string out = dir.File("poll.csv");
    const CommandResult r =
        Cli("poll --port " + link + " --device " + chp + ":17 --device " + chp + ":9 --device " +
            chp + ":200 --seconds 3 --output " + out + " 0x302");
    EXPECT_EQ(r.status, 1) << r.out; // the silent one's reads failed
    const std::string text = tunavox::Cp1251ToUtf8(ReadBytes(out));
    ASSERT_EQ(text.rfind("Время;ID;Код;Параметр;Значение;Ошибка\r\n", 0), 0u) << text;
    size_t live17 = 0, live200 = 0, silent = 0, wrong = 0;
    for (size_t at = text.find("\r\n") + 2; at < text.size();) {
        const size_t end = text.find("\r\n", at);
        const std::string l = text.substr(at, end - at);
        at = end + 2;
        if (l.find(";17;0x302;Заданная частота [Гц];45.50;") != std::string::npos)
            ++live17;
        else if (l.find(";200;0x302;Заданная частота [Гц];50.00;") != std::string::npos)
            ++live200;
        else if (l.find(";9;0x302;Заданная частота [Гц];;Устройство не отвечает") !=
                 std::string::npos)
            ++silent;
        else
            ++wrong;
    }
    EXPECT_EQ(wrong, 0u) << text;
    EXPECT_GE(silent, 1u);
    EXPECT_LE(silent, 3u) << "a silent device rests after three time-outs";
    // The live ones are read many times over in the two seconds the silent one leaves.
    EXPECT_GE(live17, 10u) << text;
    EXPECT_GE(live200, 10u) << text;
    // A recording of one device has another form: not appended to this one.
    const CommandResult one = Cli("poll --port " + link + " --device " + chp +
                                  ":17 --count 1 --output " + out + " 0x302");
    EXPECT_EQ(one.status, 2) << one.out;
    EXPECT_NE(one.out.find("другого вида"), std::string::npos) << one.out;
}

TEST(SeveralDevices, SetsRoundTrip) {
    // Three devices of two types: one set file each, named by device and ID; changed
    // devices restored from them hold what was saved, byte for byte.
    TempDir dir;
    const std::string buk = kBin + "/NastrBUK2.xml", chp = kBin + "/NastrChP7.xml";
    const std::string link = dir.File("line");
    SimProcess sim({"--link", link, "--device", buk + ":3", "--device", chp + ":17", "--device",
                    chp + ":200"});
    const std::string devices = " --port " + link + " --device " + buk + ":3 --device " + chp +
                                ":17 --device " + chp + ":200 ";
    const std::string first = dir.File("first"), second = dir.File("second");
    ASSERT_EQ(mkdir(first.c_str(), 0700), 0);
    ASSERT_EQ(mkdir(second.c_str(), 0700), 0);
    CommandResult r = Cli("backup" + devices + "--output-dir " + first);
    ASSERT_EQ(r.status, 0) << r.out;
    const std::vector<std::string> names = {"БУК-2_(контроллер_котельной)_ID3.params",
                                            "ЧП-7_(частотный_преобразователь)_ID17.params",
                                            "ЧП-7_(частотный_преобразователь)_ID200.params"};
    for (const std::string& n : names)
        EXPECT_NE(r.out.find(": " + first + "/" + n + "\n"), std::string::npos) << r.out;
    // Each device changed its own way.
    ASSERT_EQ(Cli("write --device " + buk + ":3 --port " + link + " 0x21=61").status, 0);
    ASSERT_EQ(Cli("write --device " + chp + ":17 --port " + link + " 0x302=45,5").status, 0);
    ASSERT_EQ(Cli("write --device " + chp + ":200 --port " + link + " 0x303=7").status, 0);
    r = Cli("compare --desc " + chp + " --ids 17,200 --port " + link + " --input-dir " + first);
    EXPECT_EQ(r.status, 1) << r.out; // both differ from their sets
    r = Cli("restore" + devices + "--input-dir " + first);
    EXPECT_EQ(r.status, 0) << r.out;
    ASSERT_EQ(Cli("backup" + devices + "--output-dir " + second).status, 0);
    // The sets again, but for the time of saving.
    const auto body = [](const std::string& path) {
        std::string text = ReadBytes(path);
        const size_t saved = text.find("saved: ");
        if (saved != std::string::npos) text.erase(saved, text.find('\n', saved) - saved);
        return text;
    };
    for (const std::string& n : names) {
        EXPECT_EQ(body(second + "/" + n), body(first + "/" + n)) << n;
        EXPECT_GT(body(first + "/" + n).size(), 500u) << n;
    }
    // A folder of sets needs several devices or --ids with --desc.
    EXPECT_EQ(Cli("backup --port " + link + " --ids 3 --output " + dir.File("x.params")).status, 2);
    EXPECT_EQ(
        Cli("restore --desc " + chp + " --ids 0-2 --port " + link + " --input-dir " + first).status,
        2);
}

TEST(SeveralDevices, AnotherDeviceAtAnIdIsToldAndLeftOut) {
    // A frequency converter at ID 5 is polled beside another at 17; then a controller
    // answers at 5: swapped while the line runs, or met when the line comes back (the
    // adapter moved to another line). It is said once, 5 is polled no more, 17 goes on.
    const std::string buk = kBin + "/NastrBUK2.xml", chp = kBin + "/NastrChP7.xml";
    for (const bool swapWhileRunning : {true, false}) {
        SCOPED_TRACE(swapWhileRunning ? "swapped" : "line away and back");
        TempDir dir;
        const std::string link = dir.File("line");
        auto sim = std::make_unique<SimProcess>(std::vector<std::string>{
            "--link", link, "--device", chp + ":17", "--device", chp + ":5", "--swap",
            "5:" + buk});
        const std::string out = dir.File("out"), err = dir.File("err");
        const pid_t poll = SpawnCli({"poll", "--port", link, "--device", chp + ":17", "--device",
                                     chp + ":5", "--seconds", "5", "0x302"},
                                    out, err);
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
        if (swapWhileRunning) {
            sim->Signal(SIGUSR1);
        } else {
            sim.reset();
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            sim = std::make_unique<SimProcess>(std::vector<std::string>{
                "--link", link, "--device", chp + ":17", "--device", buk + ":5"});
        }
        EXPECT_EQ(WaitExit(poll), 1);
        const std::string said = ReadBytes(err);
        const std::string other = "На месте ID 5 другое устройство: БУК-2 (контроллер котельной)\n";
        EXPECT_NE(said.find(other), std::string::npos) << said;
        EXPECT_EQ(said.find(other), said.rfind(other)) << "said once: " << said;
        // After the controller came, ID 5 has at most its refusal and 17 many values.
        const std::string lines = ReadBytes(out);
        size_t lastOf5 = lines.rfind(";5;0x302;"), after17 = 0;
        ASSERT_NE(lastOf5, std::string::npos);
        for (size_t at = lines.find(";17;0x302;", lastOf5); at != std::string::npos;
             at = lines.find(";17;0x302;", at + 1))
            ++after17;
        EXPECT_GT(after17, 20u) << lines;
    }
}
