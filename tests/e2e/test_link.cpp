// The link as the command line sees it: an adapter that goes and comes back, a device
// that refuses registers, writes it keeps otherwise, and the journal of writes.
#include <gtest/gtest.h>

#include <chrono>
#include <sys/stat.h>
#include <unistd.h>

#include "sim_process.h"
#include "util/cp1251.h"

using namespace tunavox::test;

namespace {

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// Waits up to ms for the file to hold at least lines lines.
bool WaitForLines(const std::string& path, size_t lines, int ms = 20000) {
    for (int waited = 0; waited < ms; waited += 10) {
        if (Lines(ReadBytes(path)) >= lines) return true;
        usleep(10000);
    }
    return false;
}

} // namespace

TEST(Link, PollPicksUpADeviceThatReturnsOnTheSameName) {
    TempDir dir;
    const std::string desc = kBin + "/NastrChP7.xml";
    const std::string link = dir.File("dev");
    auto sim =
        std::make_unique<SimProcess>(std::vector<std::string>{"--link", link, "--desc", desc});
    const std::string out = dir.File("out.txt"), err = dir.File("err.txt");
    const pid_t pid = SpawnCli(
        {"poll", "--desc", desc, "--port", link, "--seconds", "8", "0x200", "0x201"}, out, err);
    ASSERT_TRUE(WaitForLines(out, 20));
    // The adapter is pulled out (the device side of the terminal ends), and plugged in
    // again a moment later under the same name.
    sim.reset();
    usleep(1500000);
    const size_t before = Lines(ReadBytes(out));
    sim = std::make_unique<SimProcess>(std::vector<std::string>{"--link", link, "--desc", desc});
    ASSERT_TRUE(WaitForLines(out, before + 20)) << ReadBytes(err);
    EXPECT_EQ(WaitExit(pid), 1); // one read failed
    const std::string text = ReadBytes(out), said = ReadBytes(err);
    // One failed read when it went, not one a second while it was away.
    EXPECT_EQ(Count(text, ";ошибка ввода-вывода\n"), 1u) << text;
    EXPECT_NE(said.find("Связь с устройством потеряна (ошибка ввода-вывода), ожидание "
                        "подключения порта " +
                        link),
              std::string::npos)
        << said;
    EXPECT_NE(said.find("Связь восстановлена: порт " + link + " открыт снова"), std::string::npos)
        << said;
    // Good reads after the failure.
    const size_t failure = text.find(";ошибка ввода-вывода\n");
    ASSERT_NE(failure, std::string::npos);
    EXPECT_NE(text.find(";Выходная частота [Гц];49.95;\n", failure), std::string::npos) << text;
}

TEST(Link, RefusedRegistersKeepTheFullPollRate) {
    TempDir dir;
    const std::string desc = kBin + "/NastrChP7.xml";
    const std::string link = dir.File("dev");
    // An older firmware without three of the registers.
    SimProcess sim({"--link", link, "--desc", desc, "--fault", "error=0x201:1", "--fault",
                    "error=0x202:1", "--fault", "error=0x203:1"});
    const auto start = std::chrono::steady_clock::now();
    const CommandResult r = Cli("poll --desc " + desc + " --port " + link +
                                " --count 10 0x200 0x204 0x205 0x206 0x201 0x202 0x203");
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Lines(r.out), 70u) << r.out;
    // A pause of a second after every run of three refusals would take ten seconds at
    // least; the 70 reads themselves take well under one.
    EXPECT_LT(seconds.count(), 9.0);
}

TEST(Link, WritesAreReadBackAndKeptInTheJournal) {
    TempDir dir;
    const std::string desc = kBin + "/NastrChP7.xml";
    const std::string link = dir.File("dev");
    // The device acknowledges writes of 0x302 but keeps its value; 0x303 it refuses.
    SimProcess sim(
        {"--link", link, "--desc", desc, "--fault", "keep=0x302", "--fault", "error=0x303:3"});
    const std::string journal = dir.File("journal");
    const std::string common =
        " --desc " + desc + " --port " + link + " --journal " + journal + " ";
    struct Case {
        const char* Args;
        int Status;
        const char* Out;
    };
    const Case cases[] = {
        {"0x302=45,5", 1,
         "0x302;Заданная частота [Гц];50.00;Устройство сохранило другое значение: 50.00\n"},
        {"--no-verify 0x302=45,5", 0, "0x302;Заданная частота [Гц];45.50;\n"},
        {"0x304=12,5 0x305=Выбег", 0,
         "0x304;Время торможения [с];12.5;\n0x305;Способ останова;Выбег;\n"},
        {"0x303=3", 1, "0x303;Время разгона [с];3.0;"},
        // A command cannot be read back: done, not a failure, and nothing read.
        {"0x301=Пуск", 0, "0x301;Команда;Пуск;\n"},
    };
    for (const Case& c : cases) {
        const CommandResult r = Cli(std::string("write") + common + c.Args);
        EXPECT_EQ(r.status, c.Status) << c.Args << "\n" << r.out;
        EXPECT_EQ(r.out.rfind(c.Out, 0), 0u) << c.Args << "\n" << r.out;
    }
    // The journal: one entry per write, oldest first, with what was there before.
    const CommandResult all = Cli("journal --journal " + journal);
    EXPECT_EQ(all.status, 0) << all.out;
    ASSERT_EQ(Lines(all.out), 6u) << all.out;
    const std::string expected[] = {
        ";Заданная частота [Гц];не считано;45.50;устройство сохранило 50.00\n",
        ";Заданная частота [Гц];не считано;45.50;записано\n",
        ";Время торможения [с];не считано;12.5;записано и подтверждено\n",
        ";Способ останова;не считано;Выбег;записано и подтверждено\n",
        ";Время разгона [с];не считано;3.0;",
        ";Команда;не считано;Пуск;записано, проверка невозможна: параметр не считывается\n",
    };
    size_t at = 0;
    for (const std::string& e : expected) {
        at = all.out.find(e, at);
        EXPECT_NE(at, std::string::npos) << e << "\n" << all.out;
    }
    EXPECT_NE(
        all.out.find(";" + link + ";ЧП-7 (частотный преобразователь);NastrChP7.xml;0;2.0;0x302;"),
        std::string::npos)
        << all.out;
    // Local time with milliseconds and the offset from UTC.
    EXPECT_EQ(all.out[23], ' ') << all.out;
    EXPECT_TRUE(all.out[24] == '+' || all.out[24] == '-') << all.out;
    // The day's file is Windows-1251 with CR LF, a header first.
    const std::string day = all.out.substr(0, 10);
    const std::string bytes = ReadBytes(journal + "/" + day + ".csv");
    EXPECT_EQ(tunavox::Cp1251ToUtf8(bytes).rfind("Время;Порт;Устройство;", 0), 0u);
    // A write read back is on the disk twice: when the device took it, and the
    // read-back's outcome (a kill between the two still leaves the write on record).
    EXPECT_EQ(Count(bytes, "\r\n"), 1u + 2 + 1 + 4 + 1 + 1);
    EXPECT_EQ(Count(tunavox::Cp1251ToUtf8(bytes), ";Время торможения [с];не считано;12.5;записано\r\n"),
              1u);
    // Filters.
    EXPECT_EQ(Lines(Cli("journal --journal " + journal + " --device чп-7").out), 6u);
    EXPECT_EQ(Cli("journal --journal " + journal + " --device БУК").out.find(";ЧП-7"),
              std::string::npos);
    EXPECT_EQ(Cli("journal --journal " + journal + " --since 2999-01-01").out.find(";ЧП-7"),
              std::string::npos);
    EXPECT_EQ(Cli("journal --journal " + journal + " --since вчера").status, 2);
    for (const char* impossible : {"2026-02-30", "2026-13-01", "2025-02-29", "2026-00-10"})
        EXPECT_EQ(Cli("journal --journal " + journal + " --until " + impossible).status, 2)
            << impossible;
    EXPECT_EQ(Cli("journal --journal " + journal + " --since 2024-02-29").status, 0);
    // A crash in the middle of a line: cut away before the next one is appended.
    {
        FILE* f = fopen((journal + "/" + day + ".csv").c_str(), "ab");
        ASSERT_NE(f, nullptr);
        fputs("2026-01-01 00:00:00.000 +00:00;/dev/x;Ch", f);
        fclose(f);
    }
    EXPECT_EQ(Cli(std::string("write") + common + "0x304=10").status, 0);
    EXPECT_EQ(Count(ReadBytes(journal + "/" + day + ".csv"), "\r\n"), 12u);
    EXPECT_EQ(Lines(Cli("journal --journal " + journal).out), 7u);
    // A restore journals each row it writes, with the device's value before.
    const std::string set = dir.File("set.params");
    EXPECT_EQ(Cli("backup" + common + "--output " + set).status, 1); // 0x303 is refused
    EXPECT_EQ(Cli(std::string("write") + common + "0x304=20").status, 0);
    const CommandResult restore = Cli("restore" + common + set + " 0x304");
    EXPECT_EQ(restore.status, 0) << restore.out;
    EXPECT_NE(Cli("journal --journal " + journal)
                  .out.find(";Время торможения [с];20.0;10.0;записано и подтверждено\n"),
              std::string::npos);
    // A journal that cannot be kept never stops a write: said once, exit as the exchange.
    const std::string blocked = dir.File("blocked");
    WriteBytes(blocked, "a file where the folder should be");
    const CommandResult w = Cli("write --desc " + desc + " --port " + link + " --journal " +
                                blocked + " 0x304=11 0x305=Выбег");
    EXPECT_EQ(w.status, 0) << w.out;
    EXPECT_EQ(Count(w.out, "Журнал записей не ведётся (" + blocked), 1u) << w.out;
    EXPECT_NE(w.out.find("0x304;Время торможения [с];11.0;\n"), std::string::npos) << w.out;
}
