// A generated description with 10,000 registers: the window loads it and shows its
// table. Target: under 1 s on the 2-core reference machine.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdio>

#include "app/main_window.h"
#include "device/signature.h"
#include "util/cp1251.h"

namespace {

std::string MakeDescription(int registers) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n"
                      "<DEVICE name=\"Генератор\" serial=\"9600-8-N-1\">\r\n  <REGISTERS>\r\n";
    static const char* const kTypes[] = {"Str",   "Byte",  "Word",  "Long",
                                         "UByte", "UWord", "ULong", "Float"};
    for (int i = 0; i < registers; ++i) {
        if (i % 50 == 0) xml += "    <REG header=\"Группа " + std::to_string(i / 50) + "\"/>\r\n";
        xml += "    <REG addr=\"" + std::to_string(i) + "\" type=\"" + kTypes[i % 8] +
               "\" io=\"RW\" poll=\"" + std::to_string(i % 2) + "\" admin=\"" +
               std::to_string(i % 7 == 0) +
               "\" defValue=\"1\">"
               "<name>Параметр " +
               std::to_string(i) + "</name><units>ед.</units></REG>\r\n";
    }
    xml += "  </REGISTERS>\r\n</DEVICE>\r\n";
    return tunavox::Utf8ToCp1251(xml);
}

void BM_WindowLoads10k(benchmark::State& state) {
    QTemporaryDir dir;
    const std::string path =
        QDir(dir.path()).filePath(QStringLiteral("NastrBig.xml")).toStdString();
    const std::string bytes = MakeDescription(10000);
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
