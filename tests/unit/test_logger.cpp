// The exchange logger: line formats, file names, folders, size limit, failures.
#include <gtest/gtest.h>

#include <filesystem>

#include <limits>

#include <filesystem>
#include <regex>

#include "log/logger.h"
#include "test_support.h"
#include "util/program_folder.h"

using namespace tunavox;
using namespace tunavox::test;

namespace {

std::vector<std::string> Files(const std::string& dir) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec))
        out.push_back(e.path().string());
    std::sort(out.begin(), out.end());
    return out;
}

// Replaces time stamps by "T" so lines can be compared.
std::string Masked(const std::string& text) {
    static const std::regex stamp(R"((\d\d\.\d\d\.\d{4} )?\d\d:\d\d:\d\d\.\d\d\d)");
    return std::regex_replace(text, stamp, "T");
}

} // namespace

TEST(Logger, LineFormats) {
    TempDir dir;
    TCommonLogger log(dir.Path() + "/sub/Logs", "dbg_", true);
    log.LogText("", true);
    log.LogData(std::string("\x02\x00\x03"
                            "abc",
                            6),
                true);
    log.LogData("", false);
    log.LogMarked("\xFF\x10", "##");
    log.LogMarked("\x01", "??", "tag:");
    log.LogText("текст", true, "**");
    log.LogText("plain", false);
    log.LogFormat("Ошибка %s: %d%%", {"чтения", "5"}, true);
    log.LogFormat("100% отказ", {}, true, "**"); // does not fit: written as it stands
    log.SetShowLength(true);
    log.LogData("abc", true);
    log.LogData(std::string(1000, 'a').substr(0, 12), false);
    log.SetFullDate(true);
    log.LogText("дата", true);
    log.CloseFile();

    const auto files = Files(dir.Path() + "/sub/Logs");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(std::regex_match(std::filesystem::path(files[0]).filename().string(),
                                 std::regex(R"(dbg_\d{4}\.\d\d\.\d\d_\d\d\.\d\d\.\d\d\.txt)")));
    const std::string text = ReadBytes(files[0]);
    EXPECT_EQ(Masked(text), "\r\n"
                            "T >> 02 00 03 61 62 63\r\n"
                            "T << \r\n"
                            "T ## FF 10\r\n"
                            "T ?? tag:01\r\n"
                            "T ** текст\r\n"
                            "plain\r\n"
                            "T Ошибка чтения: 5%\r\n"
                            "T ** 100% отказ\r\n"
                            "T >> [3]   61 62 63\r\n"
                            "T << [12]  61 61 61 61 61 61 61 61 61 61 61 61\r\n"
                            "T дата\r\n");
    EXPECT_TRUE(
        std::regex_search(text, std::regex(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d\.\d{3} дата)")));
}

TEST(Logger, InactiveWritesNothingAndSwitchingOffCloses) {
    TempDir dir;
    TCommonLogger log(dir.Path(), "p_", false);
    log.LogText("x", true);
    EXPECT_FALSE(log.IsFileOpen());
    EXPECT_TRUE(Files(dir.Path()).empty());
    log.SetActive(true);
    log.LogText("x", true);
    EXPECT_TRUE(log.IsFileOpen());
    log.SetActive(false);
    EXPECT_FALSE(log.IsFileOpen());
}

TEST(Logger, SizeLimitStartsAgain) {
    TempDir dir;
    TCommonLogger log(dir.Path(), "p_", true);
    log.SetFileName(dir.File("fixed.txt"));
    EXPECT_EQ(log.GetFileName(), "fixed.txt");
    EXPECT_EQ(log.GetLogDir(), dir.Path() + "/");
    log.SetMaxFileSize(100);
    std::vector<std::string> opened;
    log.OnFileOpened = [&](TCommonLogger&, const std::string& path) { opened.push_back(path); };
    const std::string line(58, 'x'); // 60 bytes with CR LF
    log.LogText(line, false);
    log.LogText(line, false);
    EXPECT_EQ(opened.size(), 1u);
    log.LogText(line, false); // 120 >= 100: a new file, here the same name, appended
    EXPECT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[1], dir.File("fixed.txt"));
    log.CloseFile();
    EXPECT_EQ(ReadBytes(dir.File("fixed.txt")).size(), 180u);
}

TEST(Logger, SizeCountPassesTwoGigabytes) {
    TempDir dir;
    TCommonLogger log(dir.Path(), "p_", true);
    log.SetFileName("/dev/null");
    log.SetMaxFileSize(std::numeric_limits<int32_t>::max());
    int opened = 0;
    log.OnFileOpened = [&](TCommonLogger&, const std::string&) { ++opened; };
    const std::string line((1 << 20) - 2, 'x');
    for (int i = 0; i < 2048; ++i) // 2 GiB, one byte past the limit
        log.LogText(line, false);
    EXPECT_EQ(opened, 1);
    log.LogText(line, false); // the limit was reached: the next line starts a new file
    EXPECT_EQ(opened, 2);
}

TEST(Logger, FoldersAndFailures) {
    TempDir dir;
    TCommonLogger log("", "p_", true);
    EXPECT_EQ(log.GetLogDir(), "/");
    log.SetBaseFolder("/opt/tv/");
    log.SetLogDir("\\Logs");
    EXPECT_EQ(log.GetLogDir(), "/opt/tv/Logs/");
    log.SetLogDir("a\\b");
    EXPECT_EQ(log.GetLogDir(), "/opt/tv/a/b/");
    log.SetLogDir("/var/x/");
    EXPECT_EQ(log.GetLogDir(), "/var/x/");

    // A folder that cannot be created: nothing opens, nothing is reported.
    WriteBytes(dir.File("file"), "");
    log.SetLogDir(dir.File("file") + "/Logs");
    log.LogText("lost", true);
    EXPECT_FALSE(log.IsFileOpen());
    EXPECT_FALSE(log.NewFile());
    // Once the folder can be made, the next line opens the file.
    log.SetLogDir(dir.File("ok"));
    log.LogText("kept", false);
    EXPECT_TRUE(log.IsFileOpen());
}

TEST(Logger, AProgramFolderThatCannotBeWrittenSendsTheLogsToTheUsersFolder) {
    TempDir dir;
    const std::string program = dir.File("program") + "/", user = dir.File("user") + "/";
    ASSERT_TRUE(std::filesystem::create_directories(program));
    // "Logs" taken by a file stands for a folder that cannot be written (root may write
    // anywhere, so modes would not show it).
    WriteBytes(program + "Logs", "");
    TCommonLogger log("", "p_", true);
    log.SetBaseFolder(program, user);
    log.SetLogDir("\\Logs");
    log.SetFileName("\\Logs\\x.txt");
    log.LogText("kept", false);
    ASSERT_TRUE(log.IsFileOpen());
    EXPECT_EQ(log.GetLogDir(), user + "Logs/");
    EXPECT_EQ(ReadBytes(user + "Logs/x.txt"), "kept\r\n");
    EXPECT_EQ(ReadBytes(program + "Logs"), "");
    // A writable program folder keeps them beside the program, as before.
    EXPECT_EQ(WritableProgramSubfolder("Journal/", program, user), program + "Journal/");
    EXPECT_EQ(WritableProgramSubfolder("Logs/", program, user), user + "Logs/");
    // Paths typed with either separator on Windows; a backslash is a name's own on Linux.
    EXPECT_EQ(LastSeparator("C:\\sets/a\\b.params"),
#ifdef _WIN32
              9u
#else
              7u
#endif
    );
    EXPECT_EQ(NativePath("C:/Program Files/Tunavox/Logs/"),
#ifdef _WIN32
              "C:\\Program Files\\Tunavox\\Logs\\"
#else
              "C:/Program Files/Tunavox/Logs/"
#endif
    );
}

TEST(Logger, SharedInstanceDefaults) {
    auto log = GetLogger();
    EXPECT_EQ(log.get(), GetLogger().get());
    EXPECT_TRUE(log->GetActive());
    EXPECT_EQ(log->GetPrefix(), "dbg_");
    EXPECT_EQ(log->GetMaxFileSize(), 0);
    EXPECT_FALSE(log->GetShowLength());
    EXPECT_FALSE(log->GetFullDate());
    const std::string dir = log->GetLogDir();
    EXPECT_EQ(dir.substr(dir.size() - 5), "Logs/");
    EXPECT_EQ(dir.substr(0, dir.size() - 5), std::string(TUNAVOX_BIN_DIR) + "/");
}
