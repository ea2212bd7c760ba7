// A generated description with 10,000 registers: the window loads it and shows its
// table. Target: under 1 s on the 2-core reference machine.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineSeries>
#include <QTemporaryDir>
#include <QTimer>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <qcustomplot.h>

#include <sys/resource.h>

#include "app/main_window.h"
#include "device/signature.h"
#include "generated_description.h"
#include "journal/journal.h"
#include "paramset/set_compare.h"
#include "sim/simulator.h"
#include "trend/sample_store.h"
#include "ui/journal_window.h"
#include "ui/set_window.h"

namespace {

// Repeated timing in ms with median and worst.
void Repeated(benchmark::internal::Benchmark* b, int times) {
    b->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->Repetitions(times)
        ->ReportAggregatesOnly(true)
        ->ComputeStatistics("max", [](const std::vector<double>& v) {
            return *std::max_element(v.begin(), v.end());
        });
}

void BM_WindowLoads10k(benchmark::State& state) {
    QTemporaryDir dir;
    const std::string path =
        QDir(dir.path()).filePath(QStringLiteral("NastrBig.xml")).toStdString();
    const std::string bytes = tunavox::bench::GeneratedDescription(10000);
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    if (!tunavox::SignDescriptionFile(path).empty()) state.SkipWithError("signing failed");
    tunavox::TMainOptions options;
    options.DescriptionsDir = dir.path();
    options.Ports = QStringList{};
    for (auto _ : state) {
        tunavox::TfMain window(options);
        window.show();
        QApplication::processEvents();
        benchmark::DoNotOptimize(window.vstList->model()->rowCount());
        state.PauseTiming();
        window.close();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_WindowLoads10k)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// The chart window itself with 1,000,000 samples in 8 series: one redraw (decimation,
// data, painting). Target: under 8 ms at the median.
void BM_ChartWindowRedraw(benchmark::State& state) {
    tunavox::TSampleStore store;
    for (int i = 0; i < 125000; ++i)
        for (int k = 0; k < 8; ++k)
            store.Add(k, int64_t{1700000000000} + int64_t{i} * 100,
                      std::sin(i * 0.001 * (k + 1)) * (k + 1) * 10);
    tunavox::TChartWindow chart(store);
    chart.SeriesSource = [] {
        std::vector<tunavox::TChartSeries> s;
        for (int k = 0; k < 8; ++k)
            s.push_back({k, QStringLiteral("0x%1").arg(k), QStringLiteral("0x%1 ряд").arg(k)});
        return s;
    };
    chart.resize(1000, 560);
    chart.show();
    QApplication::processEvents();
    chart.chFollow->setChecked(false);
    chart.SetTimeRange(int64_t{1700000000000}, int64_t{1700000000000} + 12500000);
    for (auto _ : state) {
        chart.Redraw();
        chart.Plot->replot(QCustomPlot::rpImmediateRefresh);
    }
}
BENCHMARK(BM_ChartWindowRedraw)->Apply([](auto* b) { Repeated(b, 10); });

// Polling 8 rows of the simulated device for 5 s, with the chart open and the
// recording on (1) or without them (0): the poll rate, and the longest stall of the
// window's event loop (a 1 ms timer's largest gap). Targets: the rate within 2% of
// the plain one, stalls under 16 ms.
void BM_PollingWithChartAndRecording(benchmark::State& state) {
    QTemporaryDir dir;
    QFile::copy(QCoreApplication::applicationDirPath() + QStringLiteral("/NastrBUK2.xml"),
                dir.filePath(QStringLiteral("NastrBUK2.xml")));
    tunavox::TMainOptions options;
    options.DescriptionsDir = dir.path();
    options.Ports = QStringList{};
    options.Demo = true;
    tunavox::TfMain w(options);
    w.show();
    QApplication::processEvents();
    w.Dev().PollOnConnect = false;
    w.bOpen->click();
    if (!w.PortOpen()) {
        state.SkipWithError("the demo port did not open");
        return;
    }
    tunavox::TRegisterModel* m = w.vstList->Model();
    int ticked = 0;
    for (int r = 0; r < m->rowCount(); ++r) {
        const bool take = m->HasCheckBox(r) && m->Reg(r)->RegType != tunavox::rtStr && ticked < 8;
        m->SetCheckState(r, take ? Qt::Checked : Qt::Unchecked, false);
        ticked += take ? 1 : 0;
    }
    if (state.range(0)) {
        w.Trend().ShowChart();
        w.Trend().StartRecording(dir.filePath(QStringLiteral("poll.csv")));
    }
    for (auto _ : state) {
        const size_t before = w.Line().Samples.Size();
        QElapsedTimer clock, gap;
        qint64 worst = 0;
        QTimer tick;
        tick.setInterval(1);
        QObject::connect(&tick, &QTimer::timeout, [&] { worst = std::max(worst, gap.restart()); });
        w.chPoll->setChecked(true);
        clock.start();
        gap.start();
        tick.start();
        while (clock.elapsed() < 5000)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        tick.stop();
        w.chPoll->setChecked(false);
        state.counters["polls_per_s"] =
            static_cast<double>(w.Line().Samples.Size() - before) / (clock.elapsed() / 1000.0);
        state.counters["worst_stall_ms"] = static_cast<double>(worst);
    }
    w.Trend().StopRecording();
}
BENCHMARK(BM_PollingWithChartAndRecording)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

// Chart redraw with 1,000,000 samples in 8 series, offscreen, 1000 x 500 pixels:
// QCustomPlot and Qt Charts, each fed the samples as min/max per pixel column (what
// the chart window draws) and, for comparison, all of them. Target: under 16 ms at
// the median.

constexpr int kSeries = 8;
constexpr int kPerSeries = 125000;
constexpr int kWidth = 1000;

const tunavox::TSampleStore& Store() {
    static tunavox::TSampleStore store = [] {
        tunavox::TSampleStore s;
        for (int i = 0; i < kPerSeries; ++i)
            for (int k = 0; k < kSeries; ++k)
                s.Add(k, int64_t{i} * 100, std::sin(i * 0.001 * (k + 1)) * (k + 1) * 10);
        return s;
    }();
    return store;
}

// Two points per pixel column (its least and largest value), NaN for a gap.
void Decimated(int series, QVector<double>& x, QVector<double>& y) {
    const int64_t t1 = int64_t{kPerSeries} * 100;
    const auto cols = Store().Decimate(series, 0, t1, kWidth);
    x.clear();
    y.clear();
    for (int c = 0; c < kWidth; ++c) {
        const double t = static_cast<double>(t1) * c / kWidth / 1000.0;
        const auto& col = cols[static_cast<size_t>(c)];
        if (!col.HasValue) {
            x << t;
            y << std::nan("");
            continue;
        }
        x << t << t;
        y << col.Min << col.Max;
    }
}

void All(int series, QVector<double>& x, QVector<double>& y) {
    x.clear();
    y.clear();
    for (const auto& s : Store().Series(series)) {
        x << s.TimeMs / 1000.0;
        y << s.Y;
    }
}

// The decimation alone: every sample looked at once.
// CPU time of the whole process, ms.
double ProcessCpuMs() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

// Polling while the adapter is pulled out for 5 s and plugged in again: the CPU used
// while waiting (target: near idle) and the time from the device's return to the
// first good read (target: under 2 s).
// The BUK-2 description served by the simulator on a pseudo-terminal, and a window
// with that port open.
struct TSimulatedWindow {
    QTemporaryDir dir;
    tunavox::TRegList simRegs;
    tunavox::TNameValueList errors;
    tunavox::TDescription desc;
    std::string link;
    std::unique_ptr<tunavox::TDeviceSimulator> sim;
    std::unique_ptr<tunavox::TfMain> w;

    // Empty, or why the port is not open.
    std::string Start() {
        const QString path = dir.filePath(QStringLiteral("NastrBUK2.xml"));
        QFile::copy(QCoreApplication::applicationDirPath() + QStringLiteral("/NastrBUK2.xml"),
                    path);
        tunavox::LoadDescription(path.toStdString(), simRegs, errors, desc,
                                 dir.path().toStdString());
        link = dir.filePath(QStringLiteral("dev")).toStdString();
        std::string error = PlugIn();
        if (!error.empty()) return error;
        tunavox::TMainOptions options;
        options.DescriptionsDir = dir.path();
        options.Ports = QStringList{};
        options.ExtraPort = QString::fromStdString(link);
        options.JournalDir = dir.filePath(QStringLiteral("Journal"));
        w = std::make_unique<tunavox::TfMain>(options);
        w->show();
        w->Dev().PollOnConnect = false;
        w->bOpen->click();
        return w->PortOpen() ? std::string() : std::string("the port did not open");
    }
    // A new simulated device on the same link; empty, or what went wrong.
    std::string PlugIn() {
        std::string error;
        sim = std::make_unique<tunavox::TDeviceSimulator>(simRegs, tunavox::TSimOptions{});
        return sim->StartPty(link, error).empty() ? error : std::string();
    }
};

void BM_WindowReconnect(benchmark::State& state) {
    TSimulatedWindow rig;
    if (const std::string error = rig.Start(); !error.empty()) {
        state.SkipWithError(error.c_str());
        return;
    }
    tunavox::TfMain& w = *rig.w;
    w.chPoll->setChecked(true);
    // The event loop as the program runs it (no busy waiting of our own).
    const auto spin = [](int ms) {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    };
    for (auto _ : state) {
        spin(1000);
        rig.sim.reset(); // pulled out
        spin(200);
        const double cpu = ProcessCpuMs();
        QElapsedTimer waiting;
        waiting.start();
        spin(5000);
        state.counters["cpu_pct_waiting"] = 100.0 * (ProcessCpuMs() - cpu) / waiting.elapsed();
        rig.PlugIn();
        QElapsedTimer back;
        back.start();
        while (w.Dev().Link.State() != tunavox::TLinkState::Answering && back.elapsed() < 10000)
            spin(1);
        state.counters["return_to_read_ms"] = static_cast<double>(back.elapsed());
    }
}
BENCHMARK(BM_WindowReconnect)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(3)
    ->UseRealTime();

// A parameter set saved from the window over a pseudo-terminal to the simulator, from
// the call to the file on disk. Target: the reads (each at least 10 ms apart by design)
// plus a few milliseconds, so per_row_ms stays under 15.
void BM_WindowSavesSet(benchmark::State& state) {
    TSimulatedWindow rig;
    if (const std::string error = rig.Start(); !error.empty()) {
        state.SkipWithError(error.c_str());
        return;
    }
    tunavox::TfMain& w = *rig.w;
    tunavox::TDeviceSimulator& sim = *rig.sim;
    QTemporaryDir& dir = rig.dir;
    int n = 0;
    for (auto _ : state) {
        const QString path = dir.filePath(QStringLiteral("set%1.params").arg(++n));
        const size_t before = sim.RequestCount();
        QElapsedTimer clock;
        clock.start();
        w.Sets().SaveParameters(path);
        while (!QFile::exists(path) && clock.elapsed() < 20000)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 1);
        const double ms = static_cast<double>(clock.elapsed());
        const double rows = static_cast<double>(sim.RequestCount() - before);
        state.counters["save_ms"] = ms;
        state.counters["rows"] = rows;
        state.counters["per_row_ms"] = rows > 0 ? ms / rows : 0;
        while (w.Dev().ParamRunner->Running())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
}
BENCHMARK(BM_WindowSavesSet)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// A 10,000-row set opened in its window (without a device). Target: under 300 ms.
void BM_SetWindowOpens10k(benchmark::State& state) {
    QTemporaryDir dir;
    const std::string path =
        QDir(dir.path()).filePath(QStringLiteral("NastrBig.xml")).toStdString();
    tunavox::TRegList regs;
    tunavox::TNameValueList errors;
    tunavox::TDescription desc;
    if (!tunavox::bench::LoadGeneratedDescription(path, 10000, regs, errors, desc).empty()) {
        state.SkipWithError("the description did not load");
        return;
    }
    tunavox::TParamSet set = tunavox::FactorySet(regs, desc.Name, desc.FileName, desc.Sign);
    set.Factory = false;
    const std::string setPath =
        QDir(dir.path()).filePath(QStringLiteral("big.params")).toStdString();
    std::string error;
    tunavox::WriteParamSetFile(setPath, set, error);
    int rows = 0;
    for (auto _ : state) {
        tunavox::TParamSet read;
        if (!tunavox::ReadParamSetFile(setPath, read, error)) state.SkipWithError(error.c_str());
        tunavox::TSetWindow window(read, QString::fromStdString(setPath), regs, &errors, desc,
                                   path);
        window.show();
        QApplication::processEvents();
        rows = window.Table->model()->rowCount();
    }
    state.counters["rows"] = rows;
}
BENCHMARK(BM_SetWindowOpens10k)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// The journal window over 200,000 writes: how long until it is on the screen (target:
// well under a second, whatever the journal's size) and until every row is in the table.
void BM_JournalWindowOpens200k(benchmark::State& state) {
    QTemporaryDir dir;
    const std::string folder = QDir(dir.path()).filePath(QStringLiteral("Journal")).toStdString();
    QDir().mkpath(QString::fromStdString(folder));
    for (const char* day : {"2026-12-08", "2026-12-09"}) {
        std::string bytes = tunavox::JournalHeader();
        for (int i = 0; i < 100000; ++i)
            bytes += tunavox::JournalLine({std::string(day) + " 10:00:00.000 +03:00",
                                           "/dev/ttyUSB0", i % 2 ? "ЧП-7" : "БУК-2", "NastrX.xml",
                                           "0", "2.0", "0x" + std::to_string(i % 500),
                                           "Уставка [°C]", "1", "2", tunavox::kConfirmed});
        QFile f(QString::fromStdString(folder + "/" + day + ".csv"));
        f.open(QIODevice::WriteOnly);
        f.write(bytes.data(), static_cast<qint64>(bytes.size()));
    }
    double shownMs = 0, filledMs = 0;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        tunavox::TJournalWindow window(QString::fromStdString(folder));
        window.eSince->setDate(QDate(2026, 12, 1));
        window.Reload();
        window.show();
        QApplication::processEvents();
        shownMs = static_cast<double>(clock.elapsed());
        while (window.Reading())
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        filledMs = static_cast<double>(clock.elapsed());
        if (window.Table->model()->rowCount() != 200000) state.SkipWithError("rows missing");
    }
    state.counters["shown_ms"] = shownMs;
    state.counters["filled_ms"] = filledMs;
}
BENCHMARK(BM_JournalWindowOpens200k)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_Decimate(benchmark::State& state) {
    Store();
    QVector<double> x, y;
    for (auto _ : state)
        for (int k = 0; k < kSeries; ++k)
            Decimated(k, x, y);
}
BENCHMARK(BM_Decimate)->Apply([](auto* b) { Repeated(b, 5); });

void BM_QCustomPlot(benchmark::State& state) {
    Store();
    QCustomPlot plot;
    plot.resize(kWidth, 500);
    for (int k = 0; k < kSeries; ++k)
        plot.addGraph();
    QVector<double> x, y;
    for (auto _ : state) {
        for (int k = 0; k < kSeries; ++k) {
            state.range(0) ? All(k, x, y) : Decimated(k, x, y);
            plot.graph(k)->setData(x, y, true);
        }
        plot.rescaleAxes();
        // Paints into the plot's own buffer: what the screen shows.
        plot.replot(QCustomPlot::rpImmediateRefresh);
    }
}
BENCHMARK(BM_QCustomPlot)->Arg(0)->Arg(1)->Apply([](auto* b) { Repeated(b, 5); });

void BM_QtCharts(benchmark::State& state) {
    Store();
    auto* chart = new QChart;
    QChartView view(chart);
    view.resize(kWidth, 500);
    QList<QLineSeries*> lines;
    for (int k = 0; k < kSeries; ++k) {
        lines << new QLineSeries;
        chart->addSeries(lines.back());
    }
    chart->createDefaultAxes();
    QPixmap target(view.size());
    QVector<double> x, y;
    for (auto _ : state) {
        for (int k = 0; k < kSeries; ++k) {
            state.range(0) ? All(k, x, y) : Decimated(k, x, y);
            QList<QPointF> points;
            points.reserve(x.size());
            for (int i = 0; i < x.size(); ++i)
                if (!std::isnan(y[i])) points << QPointF(x[i], y[i]);
            lines[k]->replace(points);
        }
        chart->axes(Qt::Horizontal).first()->setRange(0, kPerSeries / 10.0);
        chart->axes(Qt::Vertical).first()->setRange(-80, 80);
        QPainter painter(&target);
        view.render(&painter);
    }
}
BENCHMARK(BM_QtCharts)->Arg(0)->Arg(1)->Apply([](auto* b) { Repeated(b, 5); });

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
