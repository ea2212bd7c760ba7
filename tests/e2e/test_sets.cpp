// Parameter sets from the command line: settings apart from measurements, sets away
// from the device (diff, set), factory values and partial sets.
#include <gtest/gtest.h>

#include "paramset/param_set.h"
#include "sim_process.h"

using namespace tunavox::test;

namespace {

std::string LastLine(const std::string& text) {
    const size_t end = text.size() > 0 && text.back() == '\n' ? text.size() - 1 : text.size();
    const size_t start = text.rfind('\n', end - 1);
    return text.substr(start == std::string::npos ? 0 : start + 1, end - (start + 1));
}

} // namespace

TEST(Sets, MeasurementsThatDriftDoNotMakeARunningDeviceDiffer) {
    TempDir dir;
    const std::string desc = kBin + "/NastrChP7.xml";
    const std::string link = dir.File("dev");
    SimProcess sim({"--link", link, "--desc", desc, "--animate"});
    const std::string common = " --desc " + desc + " --port " + link + " ";
    const std::string set = dir.File("a.params");
    ASSERT_EQ(Cli("backup" + common + "--output " + set).status, 0);
    usleep(300000); // the measured values move on
    const CommandResult same = Cli("compare" + common + set);
    EXPECT_EQ(same.status, 0) << same.out;
    EXPECT_NE(same.out.find(";Выходная частота [Гц];"), std::string::npos);
    EXPECT_NE(same.out.find(";различается\n"), std::string::npos) << same.out; // a measurement
    EXPECT_EQ(LastLine(same.out), "Различий в настройках нет");
    // Settings first: the first read-only row comes after the last setting.
    EXPECT_LT(same.out.find("0x302;"), same.out.find("0x200;"));
    const CommandResult restore = Cli("restore" + common + set);
    EXPECT_EQ(restore.status, 0) << restore.out;
    EXPECT_NE(restore.out.find("Записано и подтверждено: 0 из 0"), std::string::npos);
    ASSERT_EQ(Cli("write" + common + "0x302=45,5").status, 0);
    const CommandResult differs = Cli("compare" + common + set);
    EXPECT_EQ(differs.status, 1);
    EXPECT_EQ(LastLine(differs.out), "Различий в настройках: 1 из 17") << differs.out;
}

TEST(Sets, SetsAwayFromTheDevice) {
    TempDir dir;
    const std::string desc = kBin + "/NastrChP7.xml";
    const std::string link = dir.File("dev");
    SimProcess sim({"--link", link, "--desc", desc});
    const std::string common = " --desc " + desc + " --port " + link + " ";
    const std::string a = dir.File("a.params"), b = dir.File("b.params");
    ASSERT_EQ(Cli("backup" + common + "--output " + a).status, 0);
    ASSERT_EQ(Cli("backup" + common + "--output " + b).status, 0);
    const std::string offline = " --desc " + desc + " ";

    // set: the description's checks, all or nothing, the file replaced whole.
    struct Case {
        std::string Args;
        int Status;
    };
    const std::string before = ReadBytes(b);
    const Case refused[] = {
        {"0x302=45,5 0x305=нет-такого", 2}, // a named value the register does not have
        {"0x305=300", 2},                   // out of the type's range
        {"0x100=ЧП-9", 2},                  // read-only: no device would take it
        {"0x9999=1", 2},
        {"0x302", 2},
    };
    for (const Case& c : refused) {
        const CommandResult r = Cli("set" + offline + b + " " + c.Args);
        EXPECT_EQ(r.status, c.Status) << c.Args << "\n" << r.out;
        EXPECT_EQ(ReadBytes(b), before) << c.Args;
    }
    const CommandResult edited = Cli("set" + offline + b + " 0x302=45,5 0x305=Выбег");
    EXPECT_EQ(edited.status, 0) << edited.out;
    EXPECT_NE(ReadBytes(b).find("\nedited: "), std::string::npos);

    // diff: one line per row as compare prints, then the count; 0, 1 or 2.
    const CommandResult same = Cli("diff" + offline + a + " " + a);
    EXPECT_EQ(same.status, 0) << same.out;
    EXPECT_EQ(LastLine(same.out), "Различий в настройках нет");
    const CommandResult diff = Cli("diff" + offline + a + " " + b);
    EXPECT_EQ(diff.status, 1) << diff.out;
    EXPECT_NE(diff.out.find("0x302;Заданная частота [Гц];50.00;45.50;различается\n"),
              std::string::npos)
        << diff.out;
    EXPECT_NE(diff.out.find("0x305;Способ останова;Торможение;Выбег;различается\n"),
              std::string::npos)
        << diff.out;
    EXPECT_EQ(LastLine(diff.out), "Различий в настройках: 2 из 17");
    EXPECT_EQ(Cli("diff" + offline + a).status, 2);
    EXPECT_EQ(Cli("diff" + offline + a + " " + dir.File("missing.params")).status, 2);
    // A row of another type in one set is no "no difference", alone or beside others.
    std::string otherType = ReadBytes(a);
    const size_t row = otherType.find("0x0303\tFloat\t");
    ASSERT_NE(row, std::string::npos);
    otherType.replace(row, otherType.find('\n', row) - row, "0x0303\tUWord\t10\t\"10\"\tВремя разгона [с]");
    const std::string mismatched = dir.File("mismatched.params");
    WriteBytes(mismatched, otherType);
    struct Apart {
        std::string First, Last;
        int Status;
    };
    for (const Apart& c : {Apart{a, "Не сравнимо: 1 (тип не совпадает)", 1},
                           Apart{b, "Различий в настройках: 2 из 16. Не сравнимо: 1 (тип не совпадает)", 1}}) {
        const CommandResult r = Cli("diff" + offline + c.First + " " + mismatched);
        EXPECT_EQ(r.status, c.Status) << r.out;
        EXPECT_EQ(LastLine(r.out), c.Last) << r.out;
    }
    // Against the factory values: the device started from them.
    EXPECT_EQ(Cli("diff" + offline + "--defaults " + a).status, 0);
    const CommandResult fromFactory = Cli("diff" + offline + "--defaults " + b);
    EXPECT_EQ(fromFactory.status, 1);
    EXPECT_EQ(LastLine(fromFactory.out), "Различий в настройках: 2 из 17");

    // The device against the factory values.
    ASSERT_EQ(Cli("write" + common + "0x303=7").status, 0);
    const CommandResult device = Cli("compare" + common + "--defaults");
    EXPECT_EQ(device.status, 1) << device.out;
    EXPECT_NE(device.out.find("0x303;Время разгона [с];10.0;7.0;различается\n"), std::string::npos)
        << device.out;

    // A partial set: only the listed rows, and compare and restore touch only those.
    const std::string part = dir.File("part.params");
    ASSERT_EQ(Cli("backup" + common + "--output " + part + " 0x303 0x304").status, 0);
    EXPECT_NE(ReadBytes(part).find("\nregisters: 2\n"), std::string::npos);
    ASSERT_EQ(Cli("write" + common + "0x303=8 0x302=40").status, 0);
    const CommandResult partCompare = Cli("compare" + common + part);
    EXPECT_EQ(partCompare.status, 1);
    EXPECT_EQ(Lines(partCompare.out), 3u) << partCompare.out;
    const CommandResult partRestore = Cli("restore" + common + part);
    EXPECT_EQ(partRestore.status, 0) << partRestore.out;
    EXPECT_NE(partRestore.out.find("Записано и подтверждено: 1 из 1"), std::string::npos);
    const CommandResult after = Cli("read" + common + "0x302 0x303");
    EXPECT_EQ(after.out, "0x302;Заданная частота [Гц];40.00;\n0x303;Время разгона [с];7.0;\n");
    EXPECT_EQ(Cli("backup" + common + "--output " + part + " 0x301").status, 2); // write-only

    // A description without any factory value says so instead of listing every row.
    const std::string bare = WriteSignedDescription(
        dir, "NastrBare.xml",
        Description("    <REG addr=\"1\" type=\"UWord\" io=\"RW\"><name>a</name></REG>\r\n"));
    tunavox::TParamSet empty;
    WriteBytes(dir.File("empty.params"), tunavox::FormatParamSet(empty));
    const CommandResult none =
        Cli("diff --desc " + bare + " --defaults " + dir.File("empty.params"));
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.out, "tunavox-cli: В описании нет заводских значений (defValue)\n");
}
