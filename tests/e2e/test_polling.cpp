// Polling from the command line at a chosen pace, and the recording a spreadsheet
// reads: a line per pass with a column per register.
#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "sim_process.h"
#include "util/cp1251.h"

using namespace tunavox::test;

namespace {

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

// Milliseconds since midnight of a recording line's "YYYY-MM-DD hh:mm:ss.zzz …" time.
long long TimeOfDayMs(const std::string& line) {
    const int h = std::stoi(line.substr(11, 2)), m = std::stoi(line.substr(14, 2));
    const int s = std::stoi(line.substr(17, 2)), ms = std::stoi(line.substr(20, 3));
    return ((h * 60LL + m) * 60 + s) * 1000 + ms;
}

} // namespace

TEST(Polling, APeriodSpacesThePassesAndIsChecked) {
    TempDir dir;
    const std::string desc = kBin + "/NastrChP7.xml";
    const std::string link = dir.File("dev");
    SimProcess sim({"--link", link, "--desc", desc});
    const std::string common = "poll --desc " + desc + " --port " + link + " ";

    const CommandResult r = Cli(common + "--count 3 --period 400 0x200 0x201");
    ASSERT_EQ(r.status, 0) << r.out;
    const std::vector<std::string> lines = SplitLines(r.out);
    ASSERT_EQ(lines.size(), 6u) << r.out;
    // Each pass begins a period after the one before (as fast as the line allows,
    // they would be some ten milliseconds apart); the reads of a pass come together.
    for (size_t pass = 1; pass < 3; ++pass) {
        const long long apart =
            (TimeOfDayMs(lines[2 * pass]) - TimeOfDayMs(lines[2 * pass - 2]) + 86400000) % 86400000;
        EXPECT_GE(apart, 300) << r.out;
    }

    const std::string refused =
        "tunavox-cli: --period: период опроса: 0 (как можно чаще) или от 100 до 3600000 мс\n";
    for (const char* period : {"50", "1", "-100", "3600001", "1с", "0x100"}) {
        const CommandResult bad = Cli(common + "--count 1 --period " + period + " 0x200");
        EXPECT_EQ(bad.status, 2) << period;
        EXPECT_EQ(bad.out, refused) << period;
    }
    EXPECT_EQ(Cli(common + "--count 1 --period 0 0x200").status, 0);
}

TEST(Polling, AWideRecordingHasALinePerPassAndAColumnPerRegister) {
    TempDir dir;
    const std::string desc = kBin + "/NastrChP7.xml";
    const std::string link = dir.File("dev");
    SimProcess sim({"--link", link, "--desc", desc, "--fault", "error=0x203:1"});
    const std::string common = "poll --desc " + desc + " --port " + link + " ";

    // On the screen: the header, then a line per pass; the refused register's cell empty.
    const CommandResult r = Cli(common + "--count 2 --wide 0x200 0x203 0x206");
    EXPECT_EQ(r.status, 1) << r.out;
    const std::vector<std::string> lines = SplitLines(r.out);
    ASSERT_EQ(lines.size(), 3u) << r.out;
    EXPECT_EQ(lines[0], "Время;0x200 Выходная частота [Гц];0x203 Температура радиатора [°C];"
                        "0x206 Состояние");
    for (size_t i = 1; i < 3; ++i)
        EXPECT_EQ(lines[i].substr(lines[i].find(';')), ";49.95;;Работа") << lines[i];

    // Into a file: Windows-1251 and CR LF, appended to by the same columns only.
    const std::string file = dir.File("wide.csv");
    ASSERT_EQ(Cli(common + "--count 2 --wide --output " + file + " 0x200 0x206").status, 0);
    ASSERT_EQ(Cli(common + "--count 1 --wide --output " + file + " 0x200 0x206").status, 0);
    const std::string text = tunavox::Cp1251ToUtf8(ReadBytes(file));
    const std::vector<std::string> written = SplitLines(text);
    ASSERT_EQ(written.size(), 4u) << text;
    EXPECT_EQ(written[0], "Время;0x200 Выходная частота [Гц];0x206 Состояние\r");
    for (size_t i = 1; i < 4; ++i)
        EXPECT_EQ(written[i].substr(written[i].find(';')), ";49.95;Работа\r") << written[i];
    const std::string refusal = "Не удалось начать запись опроса в файл " + file +
                                ": в файле запись опроса другого вида или других параметров "
                                "(первая строка не совпадает), выберите другой файл\n";
    for (const char* other : {"--wide 0x200", "0x200 0x206", "--wide 0x206 0x200"}) {
        const CommandResult mixed =
            Cli(common + "--count 1 --output " + file + " " + std::string(other));
        EXPECT_EQ(mixed.status, 2) << other;
        EXPECT_EQ(mixed.out, refusal) << other;
    }
    EXPECT_EQ(tunavox::Cp1251ToUtf8(ReadBytes(file)), text);
}
