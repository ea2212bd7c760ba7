#include "scan_command.h"

#include <cstdio>
#include <memory>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "device/catalogue.h"
#include "engine/worker.h"
#include "exchange.h"
#include "scan/scan_runner.h"
#include "session.h"
#include "util/integer_text.h"
#include "util/program_folder.h"

namespace tunavox::cli {
namespace {

bool StderrIsTerminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return ::isatty(2) != 0;
#endif
}

bool ParseScanOptions(const std::vector<std::string>& args, TScanOptions& o, std::string& folder,
                      bool& log, std::string& error) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string v;
        if (a == "--log") {
            log = true;
            continue;
        }
        if (a.rfind("--", 0) != 0) {
            error = "лишний аргумент: " + a;
            return false;
        }
        if (i + 1 >= args.size()) {
            error = a + ": нужно значение";
            return false;
        }
        v = args[++i];
        if (a == "--port") {
            o.Ports.push_back(v);
        } else if (a == "--ids") {
            std::string why;
            if (!ParseIdRange(v, o.FirstId, o.LastId, why)) {
                error = "--ids: " + why;
                return false;
            }
        } else if (a == "--version") {
            if (v == "1" || v == "2")
                o.Versions = {static_cast<uint8_t>(v == "2" ? 1 : 0)};
            else if (v == "all")
                o.Versions = {1, 0};
            else {
                error = "--version: 1, 2 или all";
                return false;
            }
        } else if (a == "--gateway") {
            if (v == "off" || v == "on")
                o.Gateway = {v == "on"};
            else if (v == "both")
                o.Gateway = {false, true};
            else {
                error = "--gateway: off, on или both";
                return false;
            }
        } else if (a == "--probe-timeout") {
            int64_t ms = 0;
            if (!ParseIntegerText(v, ms) || ms < 1 || ms > 60000) {
                error = "--probe-timeout: от 1 до 60000 мс";
                return false;
            }
            o.ProbeTimeoutMs = static_cast<int>(ms);
        } else if (a == "--descriptions") {
            folder = v;
            if (!folder.empty() && folder.back() != '/' && folder.back() != '\\') folder += '/';
        } else {
            error = "неизвестный параметр: " + a;
            return false;
        }
    }
    return true;
}

} // namespace

int Scan(const std::vector<std::string>& args) {
    TScanOptions options;
    std::string folder = ProgramFolder();
    bool log = false;
    std::string error;
    if (!ParseScanOptions(args, options, folder, log, error)) return Fail(error);
    if (options.Ports.empty()) SystemPorts(options.Ports);
    if (options.Ports.empty()) return Fail("в системе нет COM-портов; укажите --port");
    std::vector<std::string> problems;
    std::vector<TScanType> types = LoadScanTypes(ScanCatalogue(folder), ProgramFolder(), problems);
    for (const std::string& p : problems)
        std::fprintf(stderr, "%s\n", p.c_str());
    if (types.empty()) return Fail("нет описаний устройств в папке " + folder);

    WatchStopSignals();
    THandOverQueue handOver;
    TTh worker(handOver);
    TScanRunner scan(std::move(types), options,
                     [&worker](std::unique_ptr<TAction> a) { worker.AddAction(std::move(a)); });
    scan.SetLogging(log);
    const bool progress = StderrIsTerminal();
    bool portFailed = false;
    int64_t shownAt = -1000;
    scan.OnResult = [&](const TScanResult& r) {
        if (progress) std::fputs("\r\033[K", stderr);
        if (r.Kind == TScanKind::PortFailed) {
            portFailed = true;
            std::fprintf(stderr, "%s\n", r.Error.c_str());
        } else {
            std::printf("%s\n", ScanResultLine(r, scan.Types()).c_str());
        }
        std::fflush(stdout);
    };
    scan.OnProgress = [&] {
        if (!progress || scan.ElapsedMs() - shownAt < 250) return;
        shownAt = scan.ElapsedMs();
        std::fprintf(stderr, "\r\033[K%3d%%  прошло %s, осталось около %s (запросов %lld из не более %lld)",
                     static_cast<int>(scan.Fraction() * 100),
                     ScanTimeText(scan.ElapsedMs()).c_str(),
                     ScanTimeText(scan.RemainingMs()).c_str(),
                     static_cast<long long>(scan.Requests()),
                     static_cast<long long>(scan.MaxRequests()));
    };
    scan.Start();
    while (scan.Running()) {
        handOver.Serve(50);
        if (StopRequested()) scan.Cancel();
    }
    worker.Stop([&handOver](int ms) { handOver.Serve(ms); });
    if (progress) std::fputs("\r\033[K", stderr);
    const int devices = scan.DevicesFound();
    std::printf("%s%s\n", ScanSummary(devices, scan.ElapsedMs()).c_str(),
                scan.Cancelled() ? " (поиск остановлен)" : "");
    const std::string unplaced = ScanUnplacedText(scan.Unplaced());
    if (!unplaced.empty()) std::printf("%s\n", unplaced.c_str());
    if (devices == 0 && !portFailed && !scan.Cancelled())
        std::fprintf(stderr, "tunavox-cli: на линии не ответило ни одно устройство\n");
    if (devices > 0) return 0;
    return portFailed ? kUsageError : 1;
}

} // namespace tunavox::cli
