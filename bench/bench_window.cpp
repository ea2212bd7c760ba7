// A generated description with 10,000 registers: the window loads it and shows its
// table. Target: under 1 s on the 2-core reference machine.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdio>

#include "app/main_window.h"
#include "device/signature.h"
#include "generated_description.h"

namespace {

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

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
