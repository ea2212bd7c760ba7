// Chart redraw with 1,000,000 samples in 8 series, offscreen, 1000 x 500 pixels:
// QCustomPlot and Qt Charts, each fed the samples as min/max per pixel column (what
// the chart window draws) and, for comparison, all of them. Target: under 16 ms at
// the median.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QLineSeries>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <qcustomplot.h>

#include "trend/sample_store.h"

namespace {

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
void BM_Decimate(benchmark::State& state) {
    Store();
    QVector<double> x, y;
    for (auto _ : state)
        for (int k = 0; k < kSeries; ++k)
            Decimated(k, x, y);
}
BENCHMARK(BM_Decimate)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

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
BENCHMARK(BM_QCustomPlot)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

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
BENCHMARK(BM_QtCharts)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
