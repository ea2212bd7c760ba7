#include "session.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "device/table_text.h"
#include "device/value_codec.h"
#include "export/table_export.h"
#include "line/device.h"
#include "link/open_port.h"
#include "link/usb_latency.h"
#include "trend/poll_pace.h"
#include "util/console.h"
#include "util/file_io.h"
#include "util/integer_text.h"
#include "util/program_folder.h"
#include "util/system_error.h"

namespace tunavox::cli {
namespace {

volatile std::sig_atomic_t g_stopRequested = 0;

// SIGINT and SIGTERM (Ctrl+C on Windows) end the command promptly: the port is
// closed, so the exchange in progress and everything queued fail at once, and the
// lines are still printed.
void CatchStopSignals() {
    CatchStopRequests([] { g_stopRequested = 1; });
}

} // namespace

void WatchStopSignals() {
    CatchStopSignals();
}

bool StopRequested() {
    return g_stopRequested != 0;
}

void Session::ServeUntil(const std::function<bool()>& done, const std::function<int()>& dueInMs) {
    while (!done()) {
        // Woken by a hand-over, at the caller's due time, or at the latest in 50 ms to
        // look for a stop signal.
        handOver_.Serve(dueInMs ? std::clamp(dueInMs(), 1, 50) : 50);
        if (g_stopRequested && Canal.ComPort->IsOpen()) Canal.ComPort->Close();
    }
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "tunavox-cli: %s\n", message.c_str());
    return kUsageError;
}

bool ParseOptions(const std::vector<std::string>& args, Options& o, std::string& error,
                  bool pairedOutput, bool needPort) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                error = a + ": нужно значение";
                return false;
            }
            out = args[++i];
            return true;
        };
        std::string v;
        if (a == "--desc") {
            if (!value(o.Desc)) return false;
        } else if (a == "--port") {
            if (!value(o.Port)) return false;
        } else if (a == "--device") {
            if (!value(v) || !AddDevice(v, o.Devices, error)) return false;
        } else if (a == "--version") {
            if (!value(v)) return false;
            if (v != "1" && v != "2") {
                error = "--version: 1 или 2";
                return false;
            }
            o.Version = v == "1" ? 0 : 1;
        } else if (a == "--id") {
            int64_t id = 0;
            if (!value(v)) return false;
            if (!ParseIntegerText(v, id)) {
                error = "--id: нужно число";
                return false;
            }
            o.DeviceId = static_cast<uint32_t>(id); // the low 32 bits, as the window's ID box
        } else if (a == "--gateway") {
            o.Gateway = true;
        } else if (a == "--log") {
            o.Log = true;
        } else if (a == "--format") {
            if (!value(o.Format)) return false;
            if (o.Format != "csv" && o.Format != "html" && o.Format != "rtf") {
                error = "--format: csv, html или rtf";
                return false;
            }
        } else if (a == "--seconds" || a == "--count") {
            if (!value(v)) return false;
            char* end = nullptr;
            const double n = std::strtod(v.c_str(), &end);
            if (v.empty() || *end || !(n > 0) || n > 1e9 ||
                (a == "--count" && n != static_cast<double>(static_cast<long long>(n)))) {
                error = a + ": нужно положительное число";
                return false;
            }
            if (a == "--seconds")
                o.Seconds = n;
            else
                o.Count = static_cast<long long>(n);
        } else if (a == "--period") {
            if (!value(v)) return false;
            if (!TPollPace::Parse(v, o.Period, error)) {
                error = "--period: " + error;
                return false;
            }
        } else if (a == "--wide") {
            o.Wide = true;
        } else if (a == "--journal") {
            if (!value(o.Journal)) return false;
        } else if (a == "--no-verify") {
            o.Verify = false;
        } else if (a == "--defaults") {
            o.Defaults = true;
        } else if (a == "--all") {
            o.All = true;
        } else if (a == "--other-device") {
            o.OtherDevice = true;
        } else if (a == "--output") {
            if (!value(o.Output)) return false;
        } else if (a.rfind("--", 0) == 0) {
            error = "неизвестный параметр: " + a;
            return false;
        } else {
            o.Rest.push_back(a);
        }
    }
    if (!o.Devices.empty()) {
        if (!o.Desc.empty() || o.DeviceId != 0) {
            error = "--device заменяет --desc и --id: не указываются вместе";
            return false;
        }
        o.Desc = o.Devices.front().first;
        o.DeviceId = o.Devices.front().second;
    }
    if (o.Desc.empty() || (needPort && o.Port.empty())) {
        error = needPort ? "нужны --desc и --port" : "нужен --desc";
        return false;
    }
    if (pairedOutput && o.Format.empty() != o.Output.empty()) {
        error = "--format и --output указываются вместе";
        return false;
    }
    return true;
}

bool AddDevice(const std::string& text, std::vector<std::pair<std::string, uint32_t>>& devices,
               std::string& error) {
    std::string file;
    uint32_t id = 0;
    if (!SplitDeviceArgument(text, file, id)) {
        error = "--device: нужно ФАЙЛ или ФАЙЛ:ID, ID от 1 до 4294967295";
        return false;
    }
    devices.emplace_back(file, id);
    return true;
}

bool ParseAddress(const std::string& text, uint16_t& address) {
    int64_t v = 0;
    if (!ParseIntegerText(text, v) || v < 0 || v > 0xFFFF) return false;
    address = static_cast<uint16_t>(v);
    return true;
}

bool ParseAddresses(const std::vector<std::string>& words, size_t first, std::vector<uint16_t>& out,
                    std::string& error) {
    for (size_t i = first; i < words.size(); ++i) {
        uint16_t address = 0;
        if (!ParseAddress(words[i], address)) {
            error = "это не адрес регистра: " + words[i];
            return false;
        }
        out.push_back(address);
    }
    return true;
}

// The first register row with that address, or -1.
int FindRow(const TRegList& regs, uint16_t address) {
    for (int i = 0; i < regs.Count(); ++i)
        if (regs.Items(i)->RegType != rtHeader && regs.Items(i)->Addr == address) return i;
    return -1;
}

int Session::Start(const Options& o) {
    CatchStopSignals();
    if (o.Devices.size() > 1) {
        std::fprintf(stderr,
                     "tunavox-cli: несколько устройств (--device) принимают только read и poll\n");
        return kUsageError;
    }
    const std::string error =
        LoadDescription(o.Desc, Regs, ErrorTexts, Desc, ProgramFolder(), &Canal);
    if (!error.empty()) {
        std::fprintf(stderr, "%s: %s\n", o.Desc.c_str(), error.c_str());
        return kUsageError;
    }
    Canal.SetLogging(o.Log);
    if (!OpenPort(Canal, o.Port, o.Version, o.Gateway)) {
        std::fprintf(stderr, "%s: %s\n", o.Port.c_str(), Canal.ComPort->ErrorText().c_str());
        return kUsageError;
    }
    if (const std::string note = OpenPortNote(Canal); !note.empty())
        std::fprintf(stderr, "%s\n", note.c_str());
    if (const std::string hint = UsbLatencyHint(o.Port, UsbLatency(o.Port)); !hint.empty())
        std::fprintf(stderr, "%s\n", hint.c_str());
    deviceId_ = static_cast<int32_t>(o.DeviceId);
    options_ = o;
    journal_.SetFolder(o.Journal);
    worker_ = std::make_unique<TTh>(handOver_);
    return 0;
}

void Session::Journal(const TReg& reg, const std::string& before, const std::string& written,
                      const std::string& outcome, TJournalLine kind) {
    TJournalContext c;
    c.Port = options_.Port;
    c.Device = Desc.Name;
    c.DescFile = Desc.FileName;
    c.DeviceId = static_cast<uint32_t>(deviceId_);
    c.Version = options_.Version;
    std::string error;
    if (journal_.Append(JournalEntryFor(c, reg, before, written, outcome), error, kind)) return;
    if (!std::exchange(journalFailed_, true))
        std::fprintf(stderr, "Журнал записей не ведётся (%s): %s\n", journal_.Folder().c_str(),
                     error.c_str());
}

void Session::LinkLost(const std::string& why) {
    if (reconnect_.Active()) return;
    reconnect_.Begin(Canal, options_.Port, options_.Version, options_.Gateway);
    std::fprintf(stderr, "%s\n", LineLostNote(options_.Port, why).c_str());
}

bool Session::TryReconnect() {
    if (!reconnect_.Attempt(Canal)) return false;
    const long long ms = reconnect_.Outage().count();
    std::fprintf(stderr, "Связь восстановлена: порт %s открыт снова, перерыв %lld,%lld с\n",
                 options_.Port.c_str(), ms / 1000, ms % 1000 / 100);
    return true;
}

Session::~Session() {
    if (worker_) worker_->Stop([this](int ms) { handOver_.Serve(ms); });
    Canal.ComPort->Close();
}

void Session::Queue(int row, bool write) {
    TReg* reg = Regs.Items(row);
    auto done = [this](TAction* a) {
        results_[a->Node] = a->Error();
        --outstanding_;
    };
    ++outstanding_;
    if (write || reg->Io == ioWOR)
        worker_->AddAction(std::make_unique<TActionWriteReg>(&Canal, deviceId_, reg, row, done));
    else
        worker_->AddAction(std::make_unique<TActionReadReg>(&Canal, deviceId_, reg, row, done));
}

void Session::Wait() {
    ServeUntil([this] { return outstanding_ <= 0; });
}

int Session::Finish() {
    Wait();
    int status = 0;
    for (const auto& [row, error] : results_) {
        const TReg& reg = *Regs.Items(row);
        const std::string words =
            error.empty() ? std::string() : ErrorTextInWords(error, &ErrorTexts);
        std::printf("%s;%s;%s;%s\n", DelimitedField(CodeText(reg)).c_str(),
                    DelimitedField(NameText(reg)).c_str(),
                    DelimitedField(reg.DisplayText()).c_str(), DelimitedField(words).c_str());
        if (!error.empty()) status = 1;
    }
    return status;
}

bool Session::Export(const Options& o) const {
    const TTableTexts texts = CollectTableTexts(&Regs, &ErrorTexts);
    const std::string content = o.Format == "csv"   ? ExportCsv(texts, ';')
                                : o.Format == "rtf" ? ExportRtf(texts)
                                                    : ExportHtml(texts, Desc.Caption);
    std::string error;
    if (WriteFileBytes(o.Output, content, error)) return true;
    std::fprintf(stderr, "Не удалось записать файл %s: %s\n", o.Output.c_str(), error.c_str());
    return false;
}

} // namespace tunavox::cli
