// tunavox-sim and tunavox-cli as separate processes, as a user runs them.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "link/frame.h"
#include "protocol/register_protocol.h"
#include "sim_process.h"
#include "test_support.h"
#include "util/cp1251.h"

using namespace tunavox::test;

TEST(Tools, ReadEveryRegisterInBothVersions) {
    TempDir dir;
    const std::string desc = kBin + "/NastrChP7.xml";
    for (const char* version : {"1", "2"}) {
        const std::string link = dir.File(std::string("dev") + version);
        SimProcess sim({"--link", link, "--desc", desc, "--version", version});
        ASSERT_EQ(sim.FirstLine().rfind("/dev/pts/", 0), 0u) << sim.FirstLine();
        CommandResult out =
            Cli("read --desc " + desc + " --port " + link + " --version " + version);
        EXPECT_EQ(out.status, 0) << out.out;
        EXPECT_NE(out.out.find("0x200;Выходная частота [Гц];49.95;\n"), std::string::npos)
            << out.out;
        EXPECT_NE(out.out.find("0x206;Состояние;Работа;\n"), std::string::npos);
        EXPECT_NE(out.out.find("0x100;Модель;ЧП-7/11кВт;\n"), std::string::npos);
        EXPECT_NE(out.out.find("0xFFFD;Счётчик обмена;0;\n"), std::string::npos);
        EXPECT_EQ(out.out.find("Пароль наладчика"), std::string::npos); // write only: not read
        EXPECT_EQ(Lines(out.out), 33u) << out.out; // every row but headings and write-only ones
    }
}

TEST(Tools, WriteThenReadBack) {
    TempDir dir;
    const std::string desc = kBin + "/NastrBUK2.xml";
    const std::string link = dir.File("dev");
    SimProcess sim({"--link", link, "--desc", desc, "--id", "42", "--fault", "error=0x32:0x20"});
    const std::string common = " --desc " + desc + " --port " + link + " --id 42 ";
    CommandResult w = Cli("write" + common + "0x20=авто 0x03=\"Котельная; №2\"");
    EXPECT_EQ(w.status, 0) << w.out;
    EXPECT_EQ(w.out, "0x03;Название объекта;\"Котельная; №2\";\n0x20;Режим работы;авто;\n");
    CommandResult r = Cli("read" + common + "0x20 0x03 0x32");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_EQ(r.out, "0x03;Название объекта;\"Котельная; №2\";\n0x20;Режим работы;авто;\n"
                     "0x32;Период архивации [с];;параметр заблокирован ключом\n");
    // Another device ID gets no answer.
    CommandResult other = Cli("read --desc " + desc + " --port " + link + " --id 41 0x20");
    EXPECT_EQ(other.status, 1);
    EXPECT_EQ(other.out, "0x20;Режим работы;;Устройство не отвечает\n");
}

TEST(Tools, SeveralDevicesOnOneLine) {
    // A multi-drop line: two types, three IDs, each device its own registers.
    TempDir dir;
    const std::string buk = kBin + "/NastrBUK2.xml", chp = kBin + "/NastrChP7.xml";
    const std::string link = dir.File("line");
    SimProcess sim({"--link", link, "--device", buk + ":3", "--device", chp + ":17", "--device",
                    chp + ":200"});
    ASSERT_EQ(sim.FirstLine().rfind("/dev/pts/", 0), 0u) << sim.FirstLine();
    const auto on = [&](const std::string& desc, int id) {
        return " --desc " + desc + " --port " + link + " --id " + std::to_string(id) + " ";
    };
    // A write reaches only the device with its ID.
    CommandResult w = Cli("write" + on(chp, 17) + "0x302=45,5");
    EXPECT_EQ(w.status, 0) << w.out;
    struct Case {
        std::string Desc;
        int Id;
        std::string Args, Out;
        int Status;
    };
    const Case cases[] = {
        {buk, 3, "0x20", "0x20;Режим работы;выкл;\n", 0},
        {chp, 17, "0x302", "0x302;Заданная частота [Гц];45.50;\n", 0},
        {chp, 200, "0x302", "0x302;Заданная частота [Гц];50.00;\n", 0},
        {chp, 3, "0x302", "0x302;Заданная частота [Гц];;", 1}, // another type answers 1
        {chp, 9, "0x200", "0x200;Выходная частота [Гц];;Устройство не отвечает\n", 1},
    };
    for (const Case& c : cases) {
        const CommandResult r = Cli("read" + on(c.Desc, c.Id) + c.Args);
        EXPECT_EQ(r.status, c.Status) << c.Id << " " << r.out;
        EXPECT_EQ(r.out.rfind(c.Out, 0), 0u) << c.Id << " " << r.out;
    }
    // Two devices with one ID answer at once: garbled, never a value.
    const std::string clash = dir.File("clash");
    SimProcess twice({"--link", clash, "--device", chp + ":5", "--device", buk + ":5"});
    const CommandResult r = Cli("read --desc " + chp + " --port " + clash + " --id 5 0x200");
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_EQ(r.out.find(";49.95;"), std::string::npos) << r.out;
    EXPECT_EQ(Cli("read --desc " + chp + " --port " + clash + " 0x200").status, 1);
    // Usage: one way of naming the devices.
    EXPECT_EQ(RunCommand(kBin + "/tunavox-sim --desc " + chp + " --device " + chp + " --link " +
                         dir.File("x"))
                  .status,
              2);
}

TEST(Tools, UsageDescriptionAndPortErrors) {
    TempDir dir;
    const std::string desc = kBin + "/NastrBUK2.xml";
    EXPECT_EQ(Cli("read --port x").status, 2);
    EXPECT_EQ(Cli("read --desc " + desc).status, 2);
    EXPECT_EQ(Cli("read --desc " + desc + " --port x --version 3").status, 2);
    CommandResult missing = Cli("read --desc " + dir.File("none.xml") + " --port x");
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.out.find("Файл не найден"), std::string::npos);
    CommandResult port = Cli("read --desc " + desc + " --port " + dir.File("nodev"));
    EXPECT_EQ(port.status, 2);
    EXPECT_NE(port.out.find("нет такого файла или папки"), std::string::npos);

    const std::string link = dir.File("dev");
    SimProcess sim({"--link", link, "--desc", desc});
    EXPECT_EQ(Cli("write --desc " + desc + " --port " + link + " 0x21=abc").status, 2);
    EXPECT_EQ(Cli("write --desc " + desc + " --port " + link + " 0x9999=1").status, 2);
    EXPECT_EQ(Cli("read --desc " + desc + " --port " + link + " 0x9999").status, 2);
    EXPECT_EQ(Cli("ports").status, 0);
}

TEST(Tools, ReadExportsTheTable) {
    TempDir dir;
    const std::string desc = kBin + "/NastrBUK2.xml";
    const std::string link = dir.File("dev");
    SimProcess sim({"--link", link, "--desc", desc});
    const std::string common = "read --desc " + desc + " --port " + link;
    CommandResult csv = Cli(common + " --format csv --output " + dir.File("t.csv"));
    EXPECT_EQ(csv.status, 0) << csv.out;
    const std::string bytes = ReadBytes(dir.File("t.csv"));
    EXPECT_EQ(
        bytes.rfind(tunavox::Utf8ToCp1251(";Код;Параметр;Значение\r\n;;Общие сведения;\r\n"), 0),
        0u);
    EXPECT_NE(bytes.find(tunavox::Utf8ToCp1251(";0x10;Температура подачи [°C];72.5\r\n")),
              std::string::npos);
    // Heading and service rows are exported too, as the window does.
    EXPECT_NE(bytes.find(tunavox::Utf8ToCp1251(";;Сервис;")), std::string::npos);
    CommandResult html = Cli(common + " 0x10 --format html --output " + dir.File("t.html"));
    EXPECT_EQ(html.status, 0);
    EXPECT_NE(ReadBytes(dir.File("t.html"))
                  .find("<caption>Настройка БУК-2 (контроллер котельной)</caption>"),
              std::string::npos);
    CommandResult bad = Cli(common + " 0x10 --format csv --output " + dir.File("no/such/t.csv"));
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.out.find("нет такого файла или папки"), std::string::npos);
    EXPECT_EQ(Cli(common + " --format pdf --output x").status, 2);
    EXPECT_EQ(Cli(common + " --format csv").status, 2);
}

TEST(Tools, TheSimulatorIsHarmless) {
    TempDir dir;
    const std::string desc = kBin + "/NastrChP7.xml";
    // A path that is not a link to a pseudo-terminal is never replaced.
    const std::string taken = dir.File("notes.txt");
    WriteBytes(taken, "keep me");
    CommandResult refused = RunCommand(kBin + "/tunavox-sim --desc " + desc + " --link " + taken);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.out.find("уже существует"), std::string::npos) << refused.out;
    EXPECT_EQ(ReadBytes(taken), "keep me");
    // A stale link left by a killed run is taken over.
    const std::string link = dir.File("dev");
    ASSERT_EQ(symlink("/dev/pts/9999", link.c_str()), 0);

    // A client that sends and never reads cannot make it deaf to SIGTERM.
    SimProcess sim({"--link", link, "--desc", desc});
    ASSERT_EQ(sim.FirstLine().rfind("/dev/pts/", 0), 0u) << sim.FirstLine();
    const int fd = open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    struct termios t {};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    std::string requests;
    for (int i = 0; i < 4000; ++i)
        requests += tunavox::StuffFrame(
            tunavox::BuildFrame(tunavox::BuildRequest(0, tunavox::kCmdRead, 0x302, {}), false));
    for (size_t done = 0, tries = 0; done < requests.size() && tries < 2000; ++tries) {
        const ssize_t n = write(fd, requests.data() + done, requests.size() - done);
        if (n > 0)
            done += static_cast<size_t>(n);
        else
            usleep(1000);
    }
    EXPECT_TRUE(sim.Terminate(10000)) << "still running after SIGTERM";
    close(fd);
    // It removed its own link on the way out.
    struct stat st {};
    EXPECT_NE(lstat(link.c_str(), &st), 0);
}

TEST(Tools, StopSignalsEndABlockedExchange) {
    TempDir dir;
    const std::string desc = WriteSignedDescription(
        dir, "NastrSlow.xml",
        Description("<REG addr=\"1\" type=\"UWord\" io=\"RW\"><name>a</name></REG>"
                    "<REG addr=\"2\" type=\"UWord\" io=\"RW\"><name>b</name></REG>",
                    " timeout=\"60000\""));
    const std::string link = dir.File("dev");
    SimProcess sim({"--link", link, "--desc", desc, "--fault", "silent"});
    for (const int signal : {SIGINT, SIGTERM}) {
        const std::string out = dir.File("out.txt");
        const pid_t pid = fork();
        if (pid == 0) {
            freopen(out.c_str(), "w", stdout);
            const std::string exe = kBin + "/tunavox-cli";
            execl(exe.c_str(), exe.c_str(), "read", "--desc", desc.c_str(), "--port", link.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        usleep(500000); // the first request is out and waits for its minute
        kill(pid, signal);
        int status = -1;
        for (int waited = 0; waited < 20000 && waitpid(pid, &status, WNOHANG) != pid; waited += 10)
            usleep(10000);
        if (!WIFEXITED(status)) kill(pid, SIGKILL);
        ASSERT_TRUE(WIFEXITED(status)) << "still running after signal " << signal;
        EXPECT_EQ(WEXITSTATUS(status), 1);
        EXPECT_EQ(ReadBytes(out), "0x01;a;;COM-порт закрыт\n0x02;b;;COM-порт закрыт\n");
    }
}

TEST(Tools, ParameterSetsFromTheCommandLine) {
    TempDir dir;
    const std::string desc = kBin + "/NastrChP7.xml";
    const std::string link = dir.File("dev");
    SimProcess sim({"--link", link, "--desc", desc, "--fault", "keep=0x305"});
    const std::string common = " --desc " + desc + " --port " + link + " ";
    const std::string set = dir.File("set.params");
    CommandResult backup = Cli("backup" + common + "--output " + set);
    EXPECT_EQ(backup.status, 0) << backup.out;
    EXPECT_NE(backup.out.find("Параметры сохранены: 32, ошибок чтения: 0"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(stat(set.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    CommandResult same = Cli("compare" + common + set);
    EXPECT_EQ(same.status, 0) << same.out;
    EXPECT_EQ(Lines(same.out), 33u); // a line per row, then the count
    EXPECT_NE(same.out.find("\nРазличий в настройках нет\n"), std::string::npos) << same.out;
    EXPECT_NE(same.out.find("0x302;Заданная частота [Гц];50.00;50.00;совпадает\n"),
              std::string::npos);

    ASSERT_EQ(Cli("write" + common + "0x302=45,5 0x303=7").status, 0);
    CommandResult differs = Cli("compare" + common + set);
    EXPECT_EQ(differs.status, 1);
    EXPECT_NE(differs.out.find("0x302;Заданная частота [Гц];50.00;45.50;различается\n"),
              std::string::npos);
    // Only the listed address; then the rest, every row of the set accounted for.
    CommandResult one = Cli("restore" + common + set + " 0x303");
    EXPECT_EQ(one.status, 0) << one.out;
    // (standard error, folded in here, ends with the count)
    EXPECT_NE(one.out.find("0x303;Время разгона [с];10.0;\n"), std::string::npos);
    EXPECT_NE(one.out.find("Записано и подтверждено: 1 из 1"), std::string::npos);
    EXPECT_EQ(Lines(one.out), 2u);
    CommandResult rest = Cli("restore" + common + set);
    EXPECT_EQ(rest.status, 0) << rest.out;
    EXPECT_NE(rest.out.find("\n0x302;Заданная частота [Гц];50.00;\n"), std::string::npos);
    EXPECT_NE(rest.out.find("\n0x303;Время разгона [с];10.0;не записан: совпадает\n"),
              std::string::npos);
    EXPECT_NE(rest.out.find(";не записан: только для чтения\n"), std::string::npos);
    EXPECT_EQ(Lines(rest.out), 33u);
    EXPECT_EQ(Cli("compare" + common + set).status, 0);
    // The device acknowledges 0x305 but keeps its value: never reported as done. The
    // file's shown text is a comment: what is shown and written is its value.
    std::string text = ReadBytes(set);
    const std::string stop = "0x0305\tUByte\t0\t\"Торможение\"";
    ASSERT_NE(text.find(stop), std::string::npos);
    std::string edited = text;
    edited.replace(edited.find(stop), stop.size(), "0x0305\tUByte\t1\t\"Торможение\"");
    WriteBytes(dir.File("edited.params"), edited);
    CommandResult all = Cli("restore" + common + dir.File("edited.params") + " --all");
    EXPECT_EQ(all.status, 1);
    EXPECT_NE(all.out.find("0x305;Способ останова;Выбег;значение не подтверждено\n"),
              std::string::npos)
        << all.out;
    // Read-only rows cannot be restored; bad files and usage are trouble.
    CommandResult readOnly = Cli("restore" + common + set + " 0x100");
    EXPECT_EQ(readOnly.status, 2);
    EXPECT_NE(readOnly.out.find("регистр 0x100 не записать: только для чтения"), std::string::npos)
        << readOnly.out;
    WriteBytes(dir.File("cut.params"), text.substr(0, text.size() / 2));
    CommandResult cut = Cli("compare" + common + dir.File("cut.params"));
    EXPECT_EQ(cut.status, 2);
    EXPECT_NE(cut.out.find("Ошибка в файле параметров " + dir.File("cut.params") + ", строка"),
              std::string::npos);
    EXPECT_EQ(Cli("restore" + common + dir.File("cut.params") + " --all").status, 2);
    EXPECT_EQ(Cli("backup" + common).status, 2);
    EXPECT_EQ(Cli("backup" + common + "--output " + dir.File("no/such/dir.params")).status, 2);
    // Never into the description or a folder, and refused before the first exchange.
    const std::string descBefore = ReadBytes(desc);
    for (const std::string& bad : {desc, dir.File("")}) {
        CommandResult refused = Cli("backup" + common + "--output " + bad);
        EXPECT_EQ(refused.status, 2) << bad;
        EXPECT_EQ(Lines(refused.out), 1u) << refused.out;
    }
    EXPECT_EQ(ReadBytes(desc), descBefore);
}

TEST(Tools, ParameterSetsOfADeadOrForeignDevice) {
    TempDir dir;
    const std::string desc = WriteSignedDescription(
        dir, "NastrSmall.xml",
        Description("    <REG addr=\"1\" type=\"UWord\" io=\"RW\"><name>a</name></REG>\r\n"
                    "    <REG addr=\"2\" type=\"UWord\" io=\"RW\"><name>b</name></REG>\r\n",
                    " timeout=\"50\""));
    const std::string set = dir.File("good.params");
    {
        SimProcess sim({"--link", dir.File("dev"), "--desc", desc});
        ASSERT_EQ(
            Cli("backup --desc " + desc + " --port " + dir.File("dev") + " --output " + set).status,
            0);
    }
    const std::string good = ReadBytes(set);
    // A silent device: the good set stays, compare says trouble, not difference.
    SimProcess silent({"--link", dir.File("dead"), "--desc", desc, "--fault", "silent"});
    const std::string dead = " --desc " + desc + " --port " + dir.File("dead") + " ";
    CommandResult backup = Cli("backup" + dead + "--output " + set);
    EXPECT_EQ(backup.status, 1);
    EXPECT_NE(backup.out.find("Ни один параметр не считан, файл " + set + " не записан"),
              std::string::npos)
        << backup.out;
    EXPECT_EQ(ReadBytes(set), good);
    EXPECT_EQ(Cli("compare" + dead + set).status, 2);
    // Some reads refused: the set is written, the exit status and standard error say so.
    SimProcess refusing({"--link", dir.File("half"), "--desc", desc, "--fault", "error=2:4"});
    const std::string half = " --desc " + desc + " --port " + dir.File("half") + " ";
    CommandResult partial = Cli("backup" + half + "--output " + dir.File("half.params"));
    EXPECT_EQ(partial.status, 1);
    EXPECT_NE(partial.out.find("Не считано параметров: 1 из 2"), std::string::npos);
    // A row of another type is skipped: the summary says so beside what was written.
    std::string typed = good;
    typed.replace(typed.find("0x0002\tUWord\t"), 13, "0x0002\tWord\t");
    WriteBytes(dir.File("typed.params"), typed);
    CommandResult mixed = Cli("restore" + half + "--all " + dir.File("typed.params"));
    EXPECT_EQ(mixed.status, 1);
    EXPECT_NE(
        mixed.out.find("Записано и подтверждено: 1 из 2, не записано: 1 (тип не совпадает)\n"),
        std::string::npos)
        << mixed.out;
    // A set from another device type is refused unless asked for by name: nothing written.
    const std::string chp7 = kBin + "/NastrChP7.xml";
    SimProcess other({"--link", dir.File("chp7"), "--desc", chp7});
    CommandResult refused =
        Cli("restore --desc " + chp7 + " --port " + dir.File("chp7") + " " + set);
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.out.find("Внимание: Файл сохранён для другого устройства: "),
              std::string::npos)
        << refused.out;
    EXPECT_NE(refused.out.find("набор сохранён для другого устройства, ничего не записано; "
                               "чтобы записать его в это устройство, добавьте --other-device"),
              std::string::npos)
        << refused.out;
    EXPECT_EQ(refused.out.find(";не записан: "), std::string::npos) << refused.out;
    // Asked for: nothing to write is no success, and every row says why.
    CommandResult foreign =
        Cli("restore --other-device --desc " + chp7 + " --port " + dir.File("chp7") + " " + set);
    EXPECT_EQ(foreign.status, 1);
    EXPECT_NE(foreign.out.find("0x01;a;0;не записан: нет в описании\n"), std::string::npos)
        << foreign.out;
    // The summary counts what could not be written and says why: the reason for exit 1.
    EXPECT_NE(
        foreign.out.find("Записано и подтверждено: 0 из 2, не записано: 2 (нет в описании — 2)"),
        std::string::npos)
        << foreign.out;
}

TEST(Tools, PollRecordingSurvivesAKill) {
    TempDir dir;
    const std::string desc = kBin + "/NastrChP7.xml";
    const std::string link = dir.File("dev");
    SimProcess sim({"--link", link, "--desc", desc});
    const std::string rec = dir.File("rec.csv");
    const auto run = [&](int signal, size_t lines) {
        const pid_t pid = fork();
        if (pid == 0) {
            const std::string exe = kBin + "/tunavox-cli";
            freopen("/dev/null", "w", stdout);
            execl(exe.c_str(), exe.c_str(), "poll", "--desc", desc.c_str(), "--port", link.c_str(),
                  "--output", rec.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        // Until the recording has grown by the lines asked for (or 20 s passed).
        for (int waited = 0; waited < 20000 && Lines(ReadBytes(rec)) < lines; waited += 10)
            usleep(10000);
        kill(pid, signal);
        int status = -1;
        waitpid(pid, &status, 0);
        return status;
    };
    const int killed = run(SIGKILL, 40);
    EXPECT_TRUE(WIFSIGNALED(killed));
    const int stopped = run(SIGINT, Lines(ReadBytes(rec)) + 40); // appended to the same file
    EXPECT_TRUE(WIFEXITED(stopped) && WEXITSTATUS(stopped) == 0) << stopped;
    // Every line is whole: a header, then time;code;name;value;error, CR LF.
    const std::string text = tunavox::Cp1251ToUtf8(ReadBytes(rec));
    ASSERT_GE(Lines(text), 80u);
    size_t start = 0, headers = 0;
    while (start < text.size()) {
        const size_t end = text.find("\r\n", start);
        ASSERT_NE(end, std::string::npos) << "unended line at " << start;
        const std::string line = text.substr(start, end - start);
        if (line == "Время;Код;Параметр;Значение;Ошибка") {
            ++headers;
        } else if (line.size() > 0) {
            EXPECT_EQ(std::count(line.begin(), line.end(), ';'), 4) << line;
            EXPECT_EQ(line.substr(0, 2), "20") << line;
            EXPECT_EQ(line[23], ' ') << line; // then the offset from UTC
            EXPECT_EQ(line[30], ';') << line;
        }
        start = end + 2;
    }
    EXPECT_EQ(headers, 1u);
    // --count passes over the listed rows, to standard output.
    CommandResult two = Cli("poll --desc " + desc + " --port " + link + " --count 2 0x200 0x302");
    EXPECT_EQ(two.status, 0) << two.out;
    EXPECT_EQ(Lines(two.out), 4u);
    EXPECT_NE(two.out.find(";0x302;Заданная частота [Гц];50.00;\n"), std::string::npos) << two.out;
    EXPECT_EQ(Cli("poll --desc " + desc + " --port " + link + " 0x9999").status, 2);
    EXPECT_EQ(Cli("poll --desc " + desc + " --port " + link + " --count 0").status, 2);
    CommandResult help = Cli("poll --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Использование:", 0), 0u);
    // Nothing but a recording is appended to: refused, the file as it was.
    const std::string foreign = dir.File("notes.csv");
    WriteBytes(foreign, "a;b\n");
    CommandResult refused =
        Cli("poll --desc " + desc + " --port " + link + " --count 1 --output " + foreign);
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.out.find("файл не является записью опроса"), std::string::npos);
    EXPECT_EQ(ReadBytes(foreign), "a;b\n");
}

TEST(Tools, PollingASilentDeviceBacksOff) {
    TempDir dir;
    const std::string desc = WriteSignedDescription(
        dir, "NastrSmall.xml",
        Description("    <REG addr=\"1\" type=\"UWord\" io=\"RW\"><name>a</name></REG>\r\n"
                    "    <REG addr=\"2\" type=\"UWord\" io=\"WOR\"><name>b</name></REG>\r\n",
                    " timeout=\"50\""));
    const std::string link = dir.File("dev");
    auto sim =
        std::make_unique<SimProcess>(std::vector<std::string>{"--link", link, "--desc", desc});
    // A WOR row's poll would write it: refused, as the chart leaves it out.
    CommandResult wor = Cli("poll --desc " + desc + " --port " + link + " --count 1 0x2");
    EXPECT_EQ(wor.status, 2);
    EXPECT_NE(wor.out.find("регистр 0x02 не читается"), std::string::npos) << wor.out;
    // The device stops answering: every read times out.
    sim = std::make_unique<SimProcess>(
        std::vector<std::string>{"--link", link, "--desc", desc, "--fault", "silent"});
    const std::string out = dir.File("out.txt");
    const pid_t pid =
        SpawnCli({"poll", "--desc", desc, "--port", link, "--seconds", "4", "0x1"}, out);
    EXPECT_EQ(WaitExit(pid), 1);
    const std::string text = ReadBytes(out);
    size_t failures = 0;
    for (size_t at = text.find(";a;;"); at != std::string::npos; at = text.find(";a;;", at + 1))
        ++failures;
    // Four seconds of silence: a few quick failures, then one a second.
    EXPECT_GE(failures, 3u) << text;
    EXPECT_LE(failures, 3u + 6u) << text;
}
