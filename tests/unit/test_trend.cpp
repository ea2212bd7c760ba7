// Recording polled values and counting exchanges.
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/resource.h>
#include <unistd.h>

#include "test_support.h"
#include "trend/exchange_stats.h"
#include "trend/poll_recorder.h"
#include "util/cp1251.h"

using namespace tunavox;
using namespace tunavox::test;

TEST(PollRecorder, LinesAsTheCsvExportWritesThem) {
    TempDir dir;
    const std::string path = dir.File("rec.csv");
    TPollRecorder r;
    std::string error;
    ASSERT_TRUE(r.Start(path, error)) << error;
    r.Record({"2026-12-08 10:00:00.001", "0x10", "Температура [°C]", "72.5", ""});
    r.Record(
        {"2026-12-08 10:00:00.011", "0x11", "Имя; с \"кавычками\"", "", "Устройство не отвечает"});
    r.Stop();
    EXPECT_EQ(
        Cp1251ToUtf8(ReadBytes(path)),
        "Время;Код;Параметр;Значение;Ошибка\r\n"
        "2026-12-08 10:00:00.001;0x10;Температура [°C];72.5;\r\n"
        "2026-12-08 10:00:00.011;0x11;\"Имя; с \"\"кавычками\"\"\";;Устройство не отвечает\r\n");

    // Appending: no second header, and a line cut short by a crash is ended first.
    WriteBytes(path, ReadBytes(path) + "2026-12-08 10:00:00.0");
    ASSERT_TRUE(r.Start(path, error)) << error;
    r.Record({"2026-12-08 11:00:00.000", "0x12", "n", "1", ""});
    r.Flush();
    EXPECT_TRUE(r.Recording());
    r.Stop();
    const std::string text = Cp1251ToUtf8(ReadBytes(path));
    EXPECT_EQ(text.substr(text.size() - 58),
              "2026-12-08 10:00:00.0\r\n2026-12-08 11:00:00.000;0x12;n;1;\r\n");
    EXPECT_EQ(text.find("Время", 10), std::string::npos);
}

TEST(PollRecorder, AWriteFailureStopsTheRecordingAndSaysWhy) {
    TPollRecorder r;
    std::string error;
    EXPECT_FALSE(r.Start("/nonexistent/dir/rec.csv", error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(r.Start("/dev/full", error));
    EXPECT_EQ(error, "это не обычный файл");

    // A disk that fills up: the file may not grow past 1 KB.
    TempDir dir;
    ASSERT_TRUE(r.Start(dir.File("rec.csv"), error)) << error;
    std::string reported;
    std::mutex lock;
    r.OnFailure = [&](const std::string& e) {
        std::lock_guard<std::mutex> g(lock);
        reported = e;
    };
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    for (int i = 0; i < 100; ++i)
        r.Record({"2026-12-08 10:00:00.000", "0x10", "Температура", std::to_string(i), ""});
    r.Flush();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(r.Recording());
    EXPECT_EQ(r.Failure(), std::strerror(EFBIG));
    {
        std::lock_guard<std::mutex> g(lock);
        EXPECT_EQ(reported, std::strerror(EFBIG));
    }
    r.Stop();
    // Every line on the disk is whole.
    const std::string text = ReadBytes(dir.File("rec.csv"));
    EXPECT_LE(text.size(), 1024u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST(ExchangeStats, CountsRateAndFailures) {
    TExchangeStats s;
    const auto t0 = TExchangeStats::Clock::now();
    for (int i = 0; i < 100; ++i)
        s.Record(i % 10 == 0 ? "Устройство не отвечает" : "",
                 t0 + std::chrono::milliseconds(i * 200)); // 5 a second over 20 s
    s.Record("\x01 код", t0 + std::chrono::milliseconds(19900));
    const auto snap = s.Take(t0 + std::chrono::milliseconds(20000));
    EXPECT_EQ(snap.Done, 101u);
    EXPECT_EQ(snap.Failed, 11u);
    EXPECT_NEAR(snap.Rate, 5.1, 0.15); // the last 10 s only
    EXPECT_EQ(TExchangeStats::Text(snap), "Обмен: 101, ошибок: 11, 5/с");
    EXPECT_EQ(TExchangeStats::Hint(snap), "\x01 код: 1\nУстройство не отвечает: 10");
    EXPECT_EQ(s.Take(t0 + std::chrono::seconds(60)).Rate, 0.0);
    s.Reset();
    EXPECT_EQ(TExchangeStats::Text(s.Take()), "Обмен: 0, ошибок: 0, 0/с");
    EXPECT_EQ(TExchangeStats::Hint(s.Take()), "Ошибок обмена нет");
}
