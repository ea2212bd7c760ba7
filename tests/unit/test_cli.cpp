// tunavox-cli sign and verify, run as a user would run them.
#include <gtest/gtest.h>

#include "test_support.h"

using namespace tunavox::test;

namespace {

CommandResult Cli(const std::string& args) {
    return RunCommand(std::string(TUNAVOX_BIN_DIR) + "/tunavox-cli " + args);
}

} // namespace

TEST(Cli, VerifyReportsEachFile) {
    const std::string samples =
        std::string(TUNAVOX_BIN_DIR) + "/NastrBUK2.xml " + TUNAVOX_BIN_DIR + "/NastrChP7.xml";
    CommandResult ok = Cli("verify " + samples);
    EXPECT_EQ(ok.status, 0) << ok.out;
    EXPECT_EQ(ok.out, std::string(TUNAVOX_BIN_DIR) + "/NastrBUK2.xml: OK\n" + TUNAVOX_BIN_DIR +
                          "/NastrChP7.xml: OK\n");

    TempDir dir;
    std::string bytes = ReadBytes(std::string(TUNAVOX_BIN_DIR) + "/NastrChP7.xml");
    bytes.replace(bytes.find("timeout=\"500\""), 13, "timeout=\"501\"");
    WriteBytes(dir.File("NastrBad.xml"), bytes);
    CommandResult bad = Cli("verify " + samples + " " + dir.File("NastrBad.xml"));
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.out.find(dir.File("NastrBad.xml") + ": Файл данных поврежден\n"),
              std::string::npos);

    CommandResult missing = Cli("verify " + dir.File("none.xml"));
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, dir.File("none.xml") + ": Файл не найден\n");

    // Signing repairs the edited copy.
    CommandResult sign = Cli("sign " + dir.File("NastrBad.xml"));
    EXPECT_EQ(sign.status, 0) << sign.out;
    EXPECT_EQ(Cli("verify " + dir.File("NastrBad.xml")).status, 0);
}

TEST(Cli, UsageErrorsExitWithTwo) {
    for (const char* args : {"", "verify", "sign", "frobnicate x"}) {
        CommandResult r = Cli(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.out.find("Использование:"), std::string::npos) << args;
    }
}
