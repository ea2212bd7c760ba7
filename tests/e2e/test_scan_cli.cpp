// tunavox-cli scan against tunavox-sim lines, as a user runs it.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "sim_process.h"
#include "test_support.h"

using namespace tunavox::test;

namespace {

// Functions, not constants: kBin is set up with the other globals.
std::string Buk() {
    return kBin + "/NastrBUK2.xml";
}
std::string Chp() {
    return kBin + "/NastrChP7.xml";
}

// The lines of out that hold needle.
size_t LinesWith(const std::string& out, const std::string& needle) {
    size_t n = 0;
    for (size_t at = out.find(needle); at != std::string::npos; at = out.find(needle, at + 1))
        ++n;
    return n;
}

} // namespace

TEST(ScanCli, EveryModeAndVersionOnceEachPlaceAMissingPortNamed) {
    // Two types at their own line settings, and two devices of both types sharing ID 2.
    TempDir dir;
    const std::string line = dir.File("line");
    SimProcess sim({"--link", line, "--device", Buk() + ":3", "--device", Chp() + ":4", "--device",
                    Chp() + ":2", "--device", Buk() + ":2"});
    ASSERT_EQ(sim.FirstLine().rfind("/dev/pts/", 0), 0u) << sim.FirstLine();
    const std::string missing = dir.File("no-such-port");
    const CommandResult r = Cli("scan --port " + missing + " --port " + line + " --ids 1-4");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Не удалось открыть COM-порт " + missing + ": "), std::string::npos)
        << r.out;
    // Found at 2.0 and direct, the first try, and not again in the later ones.
    EXPECT_EQ(LinesWith(r.out, line + ";"), 3u) << r.out;
    EXPECT_NE(r.out.find(line + ";напрямую;2.0;2;помехи или несколько устройств с одним ID;"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(line + ";напрямую;2.0;3;БУК-2 (контроллер котельной);"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(line + ";напрямую;2.0;4;ЧП-7 (частотный преобразователь);"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Найдено устройств: 2 за "), std::string::npos) << r.out;
}

TEST(ScanCli, RefusedProbeSilentLineAndUsage) {
    TempDir dir;
    {
        // Refuses the keep-alive every description probes: still a device, not missed.
        const std::string line = dir.File("refusing");
        SimProcess sim({"--link", line, "--device", Buk() + ":5", "--fault", "error=0xFFFD:1"});
        const CommandResult r = Cli("scan --port " + line + " --ids 4-6 --version 2 --gateway off");
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find(";2.0;5;неизвестное устройство;"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("Найдено устройств: 1 за "), std::string::npos) << r.out;
    }
    {
        const std::string line = dir.File("silent");
        SimProcess sim({"--link", line, "--desc", Chp(), "--fault", "silent"});
        const CommandResult r = Cli("scan --port " + line + " --ids 1-3 --version 1");
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_NE(r.out.find("Найдено устройств: 0 за "), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("на линии не ответило ни одно устройство"), std::string::npos)
            << r.out;
    }
    for (const char* bad : {"--ids 0-5", "--ids 9-3", "--version 3", "--gateway maybe",
                            "--probe-timeout 0", "--descriptions "}) {
        const CommandResult r = Cli(std::string("scan --port x ") + bad);
        EXPECT_EQ(r.status, 2) << bad << r.out;
    }
    EXPECT_EQ(Cli("scan --port x --descriptions " + dir.Path()).status, 2); // no descriptions
}

TEST(ScanCli, CtrlCStopsTheSweepAndFreesThePort) {
    TempDir dir;
    const std::string line = dir.File("line");
    SimProcess sim({"--link", line, "--device", Chp() + ":250"});
    const std::string out = dir.File("out");
    const pid_t pid = SpawnCli({"scan", "--port", line, "--version", "2", "--gateway", "off"}, out);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    ::kill(pid, SIGINT);
    const auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitExit(pid), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(10));
    const std::string text = ReadBytes(out);
    EXPECT_NE(text.find("Найдено устройств: 0 за "), std::string::npos) << text;
    EXPECT_NE(text.find("(поиск остановлен)"), std::string::npos) << text;
    // The port was closed: the device is reachable at once.
    const CommandResult r = Cli("read --desc " + Chp() + " --port " + line + " --id 250 0x200");
    EXPECT_EQ(r.status, 0) << r.out;
}
