// Recording polled values and counting exchanges.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <random>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

#include "device/description.h"
#include "device/reg.h"
#include "device/value_codec.h"
#include "test_support.h"
#include "trend/chart_palette.h"
#include "trend/exchange_stats.h"
#include "trend/poll_backoff.h"
#include "trend/poll_pace.h"
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

    EXPECT_EQ(r.Lines(), 2u);
    const std::string whole = ReadBytes(path);

    // Appending: no second header; a torn last line is cut away, never ended as if whole.
    const std::string header = RecordingHeader();
    const struct {
        std::string before; // the file's bytes before appending
        std::string kept;   // what stays of them
        bool torn;
    } appended[] = {
        {whole, whole, false},
        {whole + Utf8ToCp1251("2026-12-08 10:00:00.011;0x10;Температура [°C];65"), whole, true},
        {whole + std::string(300, '\0'), whole, true},
        {whole + "2026-12-08 10:00:00.011;0x10;x;1\r", whole, true},
        {header.substr(0, 10), header, true}, // a torn header
        {"", header, false},
    };
    for (const auto& c : appended) {
        WriteBytes(path, c.before);
        ASSERT_TRUE(r.Start(path, error)) << error;
        EXPECT_EQ(r.TornLineRemoved(), c.torn);
        r.Record({"2026-12-08 11:00:00.000", "0x12", "n", "1", ""});
        r.Flush();
        EXPECT_TRUE(r.Recording());
        r.Stop();
        EXPECT_EQ(ReadBytes(path), c.kept + "2026-12-08 11:00:00.000;0x12;n;1;\r\n")
            << c.before.size();
    }
    // Only a recording is appended to: not a description, UTF-8 or LF text.
    for (const std::string& foreign :
         {std::string("<?xml version=\"1.0\"?>\r\n"),
          std::string("Время;Код;Параметр;Значение;Ошибка\r\n"), Cp1251ToUtf8(header),
          header.substr(0, header.size() - 2) + "\n"}) {
        WriteBytes(path, foreign);
        EXPECT_FALSE(r.Start(path, error));
        EXPECT_EQ(error.rfind("файл не является записью опроса", 0), 0u) << error;
        EXPECT_EQ(ReadBytes(path), foreign);
    }
    // Two recorders starting on one new file write one header between them.
    for (int round = 0; round < 20; ++round) {
        const std::string fresh = dir.File("two" + std::to_string(round) + ".csv");
        TPollRecorder a, b;
        std::string ea, eb;
        std::thread other([&] { EXPECT_TRUE(b.Start(fresh, eb)) << eb; });
        EXPECT_TRUE(a.Start(fresh, ea)) << ea;
        other.join();
        a.Stop();
        b.Stop();
        EXPECT_EQ(ReadBytes(fresh), header);
    }
}

TEST(PollRecorder, TheSampleOfARead) {
    // What the recording and the chart's export write for one read.
    TRegList regs;
    TReg* reg = regs.Add();
    reg->Addr = 0x10;
    reg->Name = "Режим";
    reg->Units = "ед.";
    reg->RegType = rtFloat;
    reg->Prec = 1;
    const TPollSample ok = PollSampleOf(*reg, 0, TValue(65.25), "", nullptr);
    EXPECT_EQ(ok.Code, "0x10");
    EXPECT_EQ(ok.Name, "Режим [ед.]");
    EXPECT_EQ(ok.Value, FloatText(1, TValue(65.25)));
    EXPECT_EQ(ok.Error, "");
    // Local time with milliseconds and the offset from UTC.
    EXPECT_EQ(ok.Time.size(), 30u);
    EXPECT_TRUE(ok.Time[24] == '+' || ok.Time[24] == '-') << ok.Time;
    const TPollSample refused = PollSampleOf(*reg, 0, TValue(1.0), std::string(1, '\x04'), nullptr);
    EXPECT_EQ(refused.Value, DeviceErrorText(4));
    EXPECT_EQ(refused.Error, DeviceErrorText(4));
    const TPollSample silent =
        PollSampleOf(*reg, 0, TValue(1.0), "Устройство не отвечает", nullptr);
    EXPECT_EQ(silent.Value, "");
    EXPECT_EQ(silent.Error, "Устройство не отвечает");
}

TEST(PollBackoff, OneAttemptASecondWhileTheLinkFailsAlike) {
    TPollBackoff b;
    struct Step {
        const char* Error;
        bool Link;
        int Pause;
    };
    const std::string refused(1, '\x01'); // a device's code: the device is there
    const Step steps[] = {
        {"нет ответа", true, 0},
        {"нет ответа", true, 0},
        {"нет ответа", true, 1000},
        {"нет ответа", true, 1000},
        {"другая", true, 0},
        {"", false, 0},
        {"нет ответа", true, 0},
        {"нет ответа", true, 0},
        {"нет ответа", true, 1000},
        {"", false, 0},
        {"нет ответа", true, 0},
        // Three refusing registers in a row, then more: full rate throughout.
        {refused.c_str(), false, 0},
        {refused.c_str(), false, 0},
        {refused.c_str(), false, 0},
        {refused.c_str(), false, 0},
        // A refusal between time-outs does not add to their run, and breaks it.
        {"нет ответа", true, 0},
        {"нет ответа", true, 0},
        {refused.c_str(), false, 0},
        {"нет ответа", true, 0},
    };
    for (size_t i = 0; i < std::size(steps); ++i)
        EXPECT_EQ(b.After(steps[i].Error, steps[i].Link), steps[i].Pause) << i;
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

    // Emptied under the recording (truncate -s0): it stops instead of writing lines
    // without a header.
    ASSERT_TRUE(r.Start(dir.File("cut.csv"), error)) << error;
    r.Record({"2026-12-08 10:00:00.000", "0x10", "Температура", "1", ""});
    r.Flush();
    ASSERT_EQ(truncate(dir.File("cut.csv").c_str(), 0), 0);
    r.Record({"2026-12-08 10:00:01.000", "0x10", "Температура", "2", ""});
    r.Flush();
    EXPECT_FALSE(r.Recording());
    EXPECT_EQ(r.Failure(), "файл записи усечён");
    r.Stop();
    EXPECT_EQ(ReadBytes(dir.File("cut.csv")), "");
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
    // A device's code is told in words.
    s.Record(std::string(1, '\x04'), t0 + std::chrono::milliseconds(19950));
    EXPECT_NE(TExchangeStats::Hint(s.Take(t0 + std::chrono::seconds(20)))
                  .find(DeviceErrorText(4) + ": 1"),
              std::string::npos);
    EXPECT_EQ(s.Take(t0 + std::chrono::seconds(60)).Rate, 0.0);
    s.Reset();
    EXPECT_EQ(TExchangeStats::Text(s.Take()), "Обмен: 0, ошибок: 0, 0/с");
    // Before ten seconds have passed the rate is over the time polling has run.
    for (int i = 0; i < 40; ++i)
        s.Record("", t0 + std::chrono::milliseconds(i * 50)); // 20 a second for 2 s
    EXPECT_NEAR(s.Take(t0 + std::chrono::seconds(2)).Rate, 20, 0.5);
    s.Reset();
    EXPECT_EQ(TExchangeStats::Hint(s.Take()), "Ошибок обмена нет");
    // The answers' first bytes: mean and least over the last 10 s, unanswered ones aside.
    s.Record("", t0, 0, 40); // out of the window by the time it is taken
    s.Record("", t0 + std::chrono::seconds(11), 0, 17);
    s.Record("", t0 + std::chrono::seconds(12), 0, 18);
    s.Record("Устройство не отвечает", t0 + std::chrono::seconds(13), 0, -1);
    const auto answers = s.Take(t0 + std::chrono::seconds(14));
    EXPECT_EQ(answers.Answers, 2u);
    EXPECT_EQ(TExchangeStats::Hint(answers),
              "Устройство не отвечает: 1\nОтвет начинается через 17,5 мс после запроса (в среднем "
              "за 10 с, наименьшее 17 мс)");
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

    // A stretch without samples (polling paused) breaks the line; the steps before it join.
    for (int i = 0; i < 20; ++i)
        store.Add(5, i * 100, 1.0);
    store.Add(5, 60000, 2.0);
    EXPECT_EQ(store.GapMs(5), TSampleStore::kMinGapMs);
    const auto paused = store.Decimate(5, 0, 61000, 61);
    EXPECT_FALSE(paused[1].HasGap);
    EXPECT_TRUE(paused[60].HasGap && paused[60].HasValue);
    EXPECT_TRUE(store.Decimate(5, 59000, 61000, 2)[1].HasGap); // from before the range
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
    // One device's rows forgotten among others': the rest and the capacity's count stay
    // right.
    store.Add(2000005, 1500, 1.0);
    store.Add(1000007, 1501, 2.0);
    store.Clear(1000000, 2000000);
    EXPECT_EQ(store.SeriesIds(), (std::vector<int>{0, 1, 2000005}));
    EXPECT_EQ(store.Size(), 999u);
    const size_t dropped = store.Dropped();
    store.Add(0, 1502, 3.0);
    store.Add(0, 1503, 3.0);
    EXPECT_EQ(store.Size(), 1000u);
    EXPECT_EQ(store.Dropped(), dropped + 1) << "the room a cleared series left is used first";
    EXPECT_EQ(store.Series(2000005).size(), 1u);
}

TEST(SampleStore, BlockSummariesDecimateAsEverySampleWould) {
    // Random values with failed reads and pauses, some dropped from the front: the
    // columns must be those of a walk over every sample.
    std::mt19937 random(7);
    TSampleStore store(5000);
    int64_t t = 0;
    for (int i = 0; i < 9000; ++i) {
        t += random() % 50 == 0 ? 5000 : 100 + random() % 20;
        const unsigned kind = random() % 200;
        if (kind == 0)
            store.Add(1, t, std::nullopt, 0, "нет ответа");
        else if (kind == 1)
            store.Add(1, t, std::nullopt, 4, "отказ");
        else
            store.Add(1, t, std::uniform_real_distribution<double>(-50, 50)(random));
    }
    ASSERT_GT(store.Dropped(), 0u);
    const auto& s = store.Series(1);
    const int64_t gap = store.GapMs(1);
    for (const int columns : {1, 7, 100, 1000, 20000}) {
        for (const auto& [t0, t1] : {std::pair{s.front().TimeMs, s.back().TimeMs + 1},
                                     std::pair{s[700].TimeMs - 3, s[3000].TimeMs}}) {
            const auto cols = store.Decimate(1, t0, t1, columns);
            std::vector<TSampleStore::Column> want(static_cast<size_t>(columns));
            int64_t previous = INT64_MIN;
            const double span = static_cast<double>(t1 - t0);
            for (const auto& x : s) {
                if (x.TimeMs >= t0 && x.TimeMs < t1) {
                    size_t c = 0;
                    while (c + 1 < want.size() &&
                           x.TimeMs >= t0 + static_cast<int64_t>(span * (c + 1) / columns))
                        ++c;
                    auto& col = want[c];
                    if (previous != INT64_MIN && x.TimeMs - previous > gap) col.HasGap = true;
                    if (x.What != TSampleStore::Value) {
                        col.HasGap = true;
                        col.HasDeviceError =
                            col.HasDeviceError || x.What == TSampleStore::DeviceError;
                    } else {
                        col.Min = col.HasValue ? std::min(col.Min, x.Y) : x.Y;
                        col.Max = col.HasValue ? std::max(col.Max, x.Y) : x.Y;
                        col.HasValue = true;
                    }
                }
                if (x.TimeMs < t1) previous = x.TimeMs;
            }
            for (size_t c = 0; c < want.size(); ++c) {
                ASSERT_EQ(cols[c].HasValue, want[c].HasValue) << columns << " " << c;
                ASSERT_EQ(cols[c].HasGap, want[c].HasGap) << columns << " " << c;
                ASSERT_EQ(cols[c].HasDeviceError, want[c].HasDeviceError) << columns << " " << c;
                if (want[c].HasValue) {
                    ASSERT_EQ(cols[c].Min, want[c].Min) << columns << " " << c;
                    ASSERT_EQ(cols[c].Max, want[c].Max) << columns << " " << c;
                }
            }
        }
    }
}

TEST(PollPace, APassStartsAtMostOncePerPeriod) {
    TPollPace pace;
    struct Step {
        int SetPeriod; // -1: unchanged
        int64_t Now;
        int64_t Wait;
    };
    const Step steps[] = {
        {0, 0, 0},       // as fast as the line allows: never a wait
        {-1, 5, 0},      //
        {500, 10, 495},  // a period set: timed from the last start
        {-1, 400, 105},  //
        {-1, 505, 0},    // due: starts, and the next is timed from here
        {-1, 700, 305},  //
        {200, 700, 5},   // a shorter period shortens the wait at once
        {-1, 2000, 0},   // late: starts now, no catching up
        {-1, 2100, 100}, //
        {-1, 1000, 0},   // a clock set back never makes the wait longer than a period
        {50, 1001, 0},   // an invalid period is taken as none
        {3600000, 1002, 3599999},
    };
    for (const Step& s : steps) {
        if (s.SetPeriod >= 0) pace.SetPeriod(s.SetPeriod);
        EXPECT_EQ(pace.BeforePass(s.Now), s.Wait) << "at " << s.Now;
    }
    pace.Reset(); // polling stopped: the next start is immediate
    EXPECT_EQ(pace.BeforePass(1003), 0);

    // A pass begins when its first request is taken by the worker, which may be up to
    // 60 ms after it was let start: the next pass counts from there, never from before.
    TPollPace paced;
    paced.SetPeriod(250);
    EXPECT_EQ(paced.BeforePass(1000), 0);
    paced.ExchangeBegan(1045); // the first read of the pass
    paced.ExchangeBegan(1070); // the second one is no new start
    EXPECT_EQ(paced.BeforePass(1250), 45);
    EXPECT_EQ(paced.BeforePass(1295), 0);
    paced.ExchangeBegan(1300);
    EXPECT_EQ(paced.BeforePass(1540), 10);
    // A request that somehow ran before the mark (a clock step) does not pull it back.
    EXPECT_EQ(paced.BeforePass(1550), 0);
    paced.ExchangeBegan(1500);
    EXPECT_EQ(paced.BeforePass(1700), 100);

    struct Text {
        const char* In;
        bool Ok;
        int Ms;
    };
    const Text texts[] = {{"0", true, 0},       {"100", true, 100}, {"3600000", true, 3600000},
                          {"99", false, 0},     {"1", false, 0},    {"3600001", false, 0},
                          {"-100", false, 0},   {"+100", false, 0}, {"", false, 0},
                          {"1000мс", false, 0}, {" 100", false, 0}, {"99999999999999", false, 0}};
    for (const Text& t : texts) {
        int ms = -1;
        std::string error;
        EXPECT_EQ(TPollPace::Parse(t.In, ms, error), t.Ok) << t.In;
        if (t.Ok)
            EXPECT_EQ(ms, t.Ms) << t.In;
        else
            EXPECT_EQ(error, "период опроса: 0 (как можно чаще) или от 100 до 3600000 мс");
    }
    EXPECT_EQ(TPollPace::Text(0), "как можно чаще");
    EXPECT_EQ(TPollPace::Text(250), "250 мс");
    EXPECT_EQ(TPollPace::Text(90000), "1 мин 30 с");
    EXPECT_EQ(TPollPace::Text(3600000), "1 ч");
}

TEST(WideRecording, ALinePerPassWithAColumnPerRow) {
    TWideRecording wide(
        {{3, "0x200 Частота [Гц]"}, {5, "0x201 Ток; фаза A"}, {7, "0x206 Состояние"}});
    EXPECT_EQ(wide.Header(), "Время;0x200 Частота [Гц];\"0x201 Ток; фаза A\";0x206 Состояние");
    const auto at = [](const char* time, const char* value, const char* error = "") {
        return TPollSample{time, "", "", value, error};
    };
    struct Step {
        int Node;
        TPollSample Sample;
        const char* Line; // what Add returns
    };
    const Step steps[] = {
        {3, at("t1", "49.95"), ""},
        {5, at("t2", "12.4"), ""},
        {9, at("t2", "x"), ""}, // a row polled besides the columns is left out
        {7, at("t3", "Работа"), "t1;49.95;12.4;Работа"},
        // A failed read is an empty cell, whatever the value text says.
        {3, at("t4", "нет такого параметра", "нет такого параметра"), ""},
        {5, at("t5", "A\r\nB"), ""},
        // A row unticked meanwhile: the pass ends when a row comes round again.
        {3, at("t6", "50.00"), "t4;;\"A\r\nB\";"},
        {7, at("t7", "Стоп"), ""},
    };
    for (const Step& s : steps)
        EXPECT_EQ(wide.Add(s.Node, s.Sample), s.Line) << s.Sample.Time;
    EXPECT_EQ(wide.Finish(), "t6;50.00;;Стоп"); // the pass begun, as far as it got
    EXPECT_EQ(wide.Finish(), "");
}

TEST(WideRecording, AppendsOnlyToARecordingOfTheSameColumns) {
    TempDir dir;
    const std::string path = dir.File("wide.csv");
    const std::string header = "Время;0x200 Частота [Гц];0x206 Состояние";
    std::string error;
    {
        TPollRecorder r;
        ASSERT_TRUE(r.Start(path, error, header)) << error;
        r.RecordText("t1;49.95;Работа");
        r.Stop();
    }
    {
        TPollRecorder r;
        ASSERT_TRUE(r.Start(path, error, header)) << error;
        r.RecordText("t2;50.00;Стоп");
        r.Stop();
    }
    EXPECT_EQ(Cp1251ToUtf8(ReadBytes(path)),
              "Время;0x200 Частота [Гц];0x206 Состояние\r\nt1;49.95;Работа\r\nt2;50.00;Стоп\r\n");
    const std::string mixed =
        "в файле запись опроса другого вида или других параметров (первая строка не "
        "совпадает), выберите другой файл";
    TPollRecorder r;
    EXPECT_FALSE(r.Start(path, error, "Время;0x200 Частота [Гц]"));
    EXPECT_EQ(error, mixed);
    EXPECT_FALSE(r.Start(path, error)); // one line per read
    EXPECT_EQ(error, mixed);
    // And the other way round: a wide recording never goes into one line per read.
    const std::string narrow = dir.File("narrow.csv");
    ASSERT_TRUE(r.Start(narrow, error)) << error;
    r.Stop();
    EXPECT_FALSE(r.Start(narrow, error, header));
    EXPECT_EQ(error, mixed);
    EXPECT_EQ(ReadBytes(narrow), RecordingHeader());
}

namespace {

// sRGB (D65) to CIELAB.
std::array<double, 3> Lab(uint32_t rgb) {
    const auto linear = [](double c) {
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    const double r = linear(((rgb >> 16) & 0xFF) / 255.0), g = linear(((rgb >> 8) & 0xFF) / 255.0),
                 b = linear((rgb & 0xFF) / 255.0);
    const double x = (0.4124 * r + 0.3576 * g + 0.1805 * b) / 0.95047;
    const double y = 0.2126 * r + 0.7152 * g + 0.0722 * b;
    const double z = (0.0193 * r + 0.1192 * g + 0.9505 * b) / 1.08883;
    const auto f = [](double t) { return t > 0.008856 ? std::cbrt(t) : 7.787 * t + 16.0 / 116; };
    return {116 * f(y) - 16, 500 * (f(x) - f(y)), 200 * (f(y) - f(z))};
}

} // namespace

TEST(ChartPalette, TheFirstTenColoursAreFarApartAndReadOnWhite) {
    const auto& colours = ChartPalette();
    for (size_t i = 0; i < colours.size(); ++i) {
        const auto a = Lab(colours[i]);
        EXPECT_LE(a[0], 72.0) << std::hex << colours[i]; // yellow on white is unreadable
        for (size_t j = i + 1; j < colours.size(); ++j) {
            const auto b = Lab(colours[j]);
            const double distance = std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
            // ΔE*ab 40: clearly different at a glance (the old palette's closest pair,
            // olive and ochre hues, stood at 28).
            EXPECT_GE(distance, 40.0) << std::hex << colours[i] << " " << colours[j];
        }
    }
}

TEST(ChartPalette, LinesOfARealDescriptionGetColoursFarApart) {
    // The lines of the sample frequency converter's chart stand far down its table (rows
    // 10 and beyond), where colours by row number once handed out two yellow-greens.
    TRegList regs;
    TNameValueList errors;
    TDescription desc;
    ASSERT_EQ(LoadDescription(std::string(TUNAVOX_DEVICES_DIR) + "/NastrChP7.xml", regs, errors,
                              desc, "./"),
              "");
    std::vector<int> rows;
    // Its polled registers and one setting the engineer ticked as well: seven lines.
    for (int r = 0; r < regs.Count(); ++r)
        if ((regs.Items(r)->Poll && regs.Items(r)->RegType != rtStr) ||
            regs.Items(r)->Addr == 0x302)
            rows.push_back(r);
    ASSERT_EQ(rows.size(), 7u);
    ASSERT_GE(rows.back(), 10);
    TLineColours colours;
    std::vector<uint32_t> given;
    for (const int row : rows)
        given.push_back(colours.For(row));
    for (size_t i = 0; i < given.size(); ++i) {
        const auto a = Lab(given[i]);
        EXPECT_LE(a[0], 72.0) << std::hex << given[i];
        for (size_t j = i + 1; j < given.size(); ++j) {
            const auto b = Lab(given[j]);
            EXPECT_GE(std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]), 40.0)
                << std::hex << given[i] << " " << given[j];
        }
    }
    // A line keeps its colour while others come and go; a new one takes a free colour.
    colours.Keep({rows[0], rows[2]});
    EXPECT_EQ(colours.For(rows[2]), given[2]);
    EXPECT_EQ(colours.For(1000), given[1]);
    // Past the palette: still readable on white.
    for (size_t n = 10; n < 60; ++n)
        EXPECT_LE(Lab(ChartColour(n))[0], 72.0) << n;
}
