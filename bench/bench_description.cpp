// Verifying and loading a generated description with 10,000 registers.
// Target: under 100 ms per load on the 2-core reference machine.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <unistd.h>

#include "device/description.h"
#include "device/signature.h"
#include "util/cp1251.h"

namespace {

std::string MakeDescription(int registers) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n"
                      "<DEVICE name=\"Генератор\" serial=\"9600-8-N-1\">\r\n"
                      "  <ERRORS><ERR code=\"0x10\" text=\"ошибка\"/></ERRORS>\r\n"
                      "  <REGISTERS>\r\n";
    static const char* const kTypes[] = {"Str",   "Byte",  "Word",  "Long",
                                         "UByte", "UWord", "ULong", "Float"};
    for (int i = 0; i < registers; ++i) {
        if (i % 50 == 0) xml += "    <REG header=\"Группа " + std::to_string(i / 50) + "\"/>\r\n";
        xml += "    <REG addr=\"" + std::to_string(i) + "\" type=\"" + kTypes[i % 8] +
               "\" io=\"RW\" poll=\"" + std::to_string(i % 2) +
               "\" defValue=\"1\">"
               "<name>Параметр " +
               std::to_string(i) +
               "</name><units>ед.</units>"
               "<desc>Описание параметра</desc>";
        if (i % 10 == 0)
            xml += "<values><item value=\"0\" text=\"выкл\"/><item value=\"1\" "
                   "text=\"вкл\"/></values>";
        xml += "</REG>\r\n";
    }
    xml += "  </REGISTERS>\r\n</DEVICE>\r\n";
    return tunavox::Utf8ToCp1251(xml);
}

void BM_LoadDescription10k(benchmark::State& state) {
    const std::string path = "/tmp/tunavox-bench-" + std::to_string(getpid()) + ".xml";
    const std::string bytes = MakeDescription(10000);
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    if (!tunavox::SignDescriptionFile(path).empty()) state.SkipWithError("signing failed");
    for (auto _ : state) {
        tunavox::TRegList regs;
        tunavox::TNameValueList errors;
        tunavox::TDescription desc;
        const std::string error = tunavox::LoadDescription(path, regs, errors, desc, "/tmp/");
        if (!error.empty()) state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(regs.Count());
    }
    state.counters["bytes"] = static_cast<double>(bytes.size());
    std::remove(path.c_str());
}
BENCHMARK(BM_LoadDescription10k)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
