#include "exchange.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include "device/description.h"
#include "device/table_text.h"
#include "device/value_codec.h"
#include "engine/worker.h"
#include "export/table_export.h"
#include "link/canal.h"
#include "link/open_port.h"
#include "util/integer_text.h"
#include "util/program_folder.h"

namespace tunavox::cli {
namespace {

struct Options {
    std::string Desc;
    std::string Port;
    uint8_t Version = 1; // 2.0, as the program starts
    uint32_t DeviceId = 0;
    bool Gateway = false;
    bool Log = false;
    std::string Format; // csv, html or rtf: export the table after reading
    std::string Output;
    std::vector<std::string> Rest;
};

constexpr int kUsageError = 2;

volatile std::sig_atomic_t g_stopRequested = 0;

void OnStopSignal(int) {
    g_stopRequested = 1;
}

// SIGINT and SIGTERM end the command promptly: the port is closed, so the exchange
// in progress and everything queued fail at once, and the lines are still printed.
void CatchStopSignals() {
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

int Fail(const std::string& message) {
    std::fprintf(stderr, "tunavox-cli: %s\n", message.c_str());
    return kUsageError;
}

bool ParseOptions(const std::vector<std::string>& args, Options& o, std::string& error) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                error = a + " needs a value";
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
        } else if (a == "--version") {
            if (!value(v)) return false;
            if (v != "1" && v != "2") {
                error = "--version takes 1 or 2";
                return false;
            }
            o.Version = v == "1" ? 0 : 1;
        } else if (a == "--id") {
            int64_t id = 0;
            if (!value(v)) return false;
            if (!ParseIntegerText(v, id)) {
                error = "--id takes a number";
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
                error = "--format takes csv, html or rtf";
                return false;
            }
        } else if (a == "--output") {
            if (!value(o.Output)) return false;
        } else if (a.rfind("--", 0) == 0) {
            error = "unknown option: " + a;
            return false;
        } else {
            o.Rest.push_back(a);
        }
    }
    if (o.Desc.empty() || o.Port.empty()) {
        error = "--desc and --port are required";
        return false;
    }
    if (o.Format.empty() != o.Output.empty()) {
        error = "--format and --output go together";
        return false;
    }
    return true;
}

// A loaded description with an open port and a running worker.
class Session {
public:
    int Start(const Options& o) {
        CatchStopSignals();
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
        deviceId_ = static_cast<int32_t>(o.DeviceId);
        worker_ = std::make_unique<TTh>(handOver_);
        return 0;
    }

    ~Session() {
        if (worker_) worker_->Stop([this](int ms) { handOver_.Serve(ms); });
        Canal.ComPort->Close();
    }

    // Queues a read (a write for "WOR") or a write of row and remembers its outcome.
    void Queue(int row, bool write) {
        TReg* reg = Regs.Items(row);
        auto done = [this](TAction* a) {
            results_[a->Node] = a->Error();
            --outstanding_;
        };
        ++outstanding_;
        if (write || reg->Io == ioWOR)
            worker_->AddAction(
                std::make_unique<TActionWriteReg>(&Canal, deviceId_, reg, row, done));
        else
            worker_->AddAction(std::make_unique<TActionReadReg>(&Canal, deviceId_, reg, row, done));
    }

    // Serves hand-overs until every queued action has completed, then prints one line
    // per row in table order. Returns 1 when any exchange failed.
    int Finish() {
        while (outstanding_ > 0) {
            handOver_.Serve(50);
            if (g_stopRequested && Canal.ComPort->IsOpen()) Canal.ComPort->Close();
        }
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

    // Writes the table as the window would export it. False (and a message on
    // standard error) when the file cannot be written.
    bool Export(const Options& o) const {
        const TTableTexts texts = CollectTableTexts(&Regs, &ErrorTexts);
        const std::string content = o.Format == "csv"   ? ExportCsv(texts, ';')
                                    : o.Format == "rtf" ? ExportRtf(texts)
                                                        : ExportHtml(texts, Desc.Caption);
        std::FILE* f = std::fopen(o.Output.c_str(), "wb");
        const bool ok = f && std::fwrite(content.data(), 1, content.size(), f) == content.size();
        const int code = errno;
        if (f && std::fclose(f) != 0 && ok) {
            std::fprintf(stderr, "%s: %s\n", o.Output.c_str(), std::strerror(errno));
            return false;
        }
        if (!ok) std::fprintf(stderr, "%s: %s\n", o.Output.c_str(), std::strerror(code));
        return ok;
    }

    TCanal Canal;
    TRegList Regs;
    TNameValueList ErrorTexts;
    TDescription Desc;

private:
    THandOverQueue handOver_;
    std::unique_ptr<TTh> worker_;
    int32_t deviceId_ = 0;
    int outstanding_ = 0;
    std::map<int, std::string> results_;
};

bool ParseAddress(const std::string& text, uint16_t& address) {
    int64_t v = 0;
    if (!ParseIntegerText(text, v) || v < 0 || v > 0xFFFF) return false;
    address = static_cast<uint16_t>(v);
    return true;
}

// The first register row with that address, or -1.
int FindRow(const TRegList& regs, uint16_t address) {
    for (int i = 0; i < regs.Count(); ++i)
        if (regs.Items(i)->RegType != rtHeader && regs.Items(i)->Addr == address) return i;
    return -1;
}

} // namespace

int Ports() {
    std::string list;
    if (!ListComPorts(list, false)) return Fail("the list of serial ports cannot be read");
    size_t start = 0;
    while (start < list.size()) {
        const size_t end = list.find("\r\n", start);
        std::printf("%s\n", list.substr(start, end - start).c_str());
        start = end + 2;
    }
    return 0;
}

int Read(const std::vector<std::string>& args) {
    Options o;
    std::string error;
    if (!ParseOptions(args, o, error)) return Fail(error);
    std::vector<uint16_t> wanted;
    for (const std::string& a : o.Rest) {
        uint16_t address = 0;
        if (!ParseAddress(a, address)) return Fail("not a register address: " + a);
        wanted.push_back(address);
    }
    Session s;
    if (const int status = s.Start(o)) return status;
    for (uint16_t address : wanted)
        if (FindRow(s.Regs, address) < 0)
            return Fail("no register at address " + DeviceErrorKey(address));
    for (int row = 0; row < s.Regs.Count(); ++row) {
        const TReg* reg = s.Regs.Items(row);
        // What "Считать все" reads: no headings, nothing write-only.
        if (reg->RegType == rtHeader || reg->Io == ioW) continue;
        if (!wanted.empty() && std::find(wanted.begin(), wanted.end(), reg->Addr) == wanted.end())
            continue;
        s.Queue(row, false);
    }
    const int status = s.Finish();
    if (!o.Format.empty() && !s.Export(o)) return 1;
    return status;
}

int Write(const std::vector<std::string>& args) {
    Options o;
    std::string error;
    if (!ParseOptions(args, o, error)) return Fail(error);
    if (o.Rest.empty()) return Fail("write needs ADDR=VALUE");
    Session s;
    if (const int status = s.Start(o)) return status;
    std::vector<int> rows;
    for (const std::string& a : o.Rest) {
        const size_t eq = a.find('=');
        uint16_t address = 0;
        if (eq == std::string::npos || !ParseAddress(a.substr(0, eq), address))
            return Fail("not ADDR=VALUE: " + a);
        const int row = FindRow(s.Regs, address);
        if (row < 0) return Fail("no register at address " + DeviceErrorKey(address));
        // As the table's editor: a named value's text first, then the text itself.
        if (!s.Regs.Items(row)->SetValueFromText(a.substr(eq + 1), false))
            return Fail("the value does not fit the register's type: " + a);
        rows.push_back(row);
    }
    for (int row : rows)
        s.Queue(row, true);
    return s.Finish();
}

} // namespace tunavox::cli
