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
#include "trend/sample_store.h"

#include "util/cp1251.h"
#include "util/system_error.h"
#include <algorithm>

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
    std::string reported;
    std::mutex lock;
    r.OnFailure = [&](const std::string& e) {
        std::lock_guard<std::mutex> g(lock);
        reported = e;
    };
    ASSERT_TRUE(r.Start(dir.File("rec.csv"), error)) << error;
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
    EXPECT_EQ(r.Failure(), SystemErrorText(EFBIG));
    {
        std::lock_guard<std::mutex> g(lock);
        EXPECT_EQ(reported, SystemErrorText(EFBIG));
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

TEST(SampleStore, GapsOrderAndDecimation) {
    TSampleStore store;
    // 0..999 ms: values 0..99 every 10 ms, a failed read at 500, a refusal at 700.
    for (int i = 0; i < 100; ++i) {
        const int64_t t = i * 10;
        if (t == 500)
            store.Add(3, t, std::nullopt);
        else if (t == 700)
            store.Add(3, t, std::nullopt, true, "параметр заблокирован ключом");
        else
            store.Add(3, t, i);
    }
    store.Add(3, 5, 1.0); // a clock set back: kept in order, not before the last
    const auto& s = store.Series(3);
    ASSERT_EQ(s.size(), 101u);
    EXPECT_TRUE(std::is_sorted(s.begin(), s.end(),
                               [](const auto& a, const auto& b) { return a.TimeMs < b.TimeMs; }));
    const auto cols = store.Decimate(3, 0, 1000, 10); // 100 ms a column
    ASSERT_EQ(cols.size(), 10u);
    EXPECT_EQ(cols[0].Min, 0);
    EXPECT_EQ(cols[0].Max, 9);
    EXPECT_TRUE(cols[5].HasGap && !cols[5].HasDeviceError);
    EXPECT_EQ(cols[5].Min, 51); // the gap is no value
    EXPECT_TRUE(cols[7].HasGap && cols[7].HasDeviceError);
    EXPECT_EQ(cols[9].Max, 99);
    EXPECT_FALSE(cols[4].HasGap);
    double lo = 0, hi = 0;
    ASSERT_TRUE(store.ValueRange(3, 200, 300, lo, hi));
    EXPECT_EQ(lo, 20);
    EXPECT_EQ(hi, 29);
    EXPECT_FALSE(store.ValueRange(4, 0, 1000, lo, hi));
    EXPECT_EQ(store.At(3, 505)->What, TSampleStore::Gap);
    EXPECT_EQ(store.ErrorText(*store.At(3, 705)), "параметр заблокирован ключом");
    EXPECT_EQ(store.At(3, 515)->Y, 51);
    EXPECT_FALSE(store.At(3, -1).has_value());
}

TEST(SampleStore, TheOldestGoBeyondTheCapacity) {
    TSampleStore store(1000);
    for (int i = 0; i < 1500; ++i)
        store.Add(i % 2, i, i);
    EXPECT_EQ(store.Size(), 1000u);
    EXPECT_EQ(store.Dropped(), 500u);
    EXPECT_EQ(store.Series(0).front().TimeMs, 500);
    EXPECT_EQ(store.Series(1).front().TimeMs, 501);
    EXPECT_EQ(store.SeriesIds(), (std::vector<int>{0, 1}));
}
