#include "several_devices.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>

#include "device/table_text.h"
#include "device/value_codec.h"
#include "line/device.h"
#include "line/line.h"
#include "link/open_port.h"
#include "util/program_folder.h"

namespace tunavox::cli {
namespace {

std::string LineText(const TLineSettings& l) {
    static const char kParity[] = "NOEMS";
    return std::to_string(l.BaudRate) + "-" + std::to_string(l.ByteSize) + "-" +
           kParity[l.Parity % 5] + "-" + (l.StopBits == sbTwo ? "2" : "1");
}

} // namespace

int ReadSeveral(const Options& o, const std::vector<uint16_t>& wanted) {
    WatchStopSignals();
    TLine line;
    std::vector<std::unique_ptr<TDevice>> devices;
    uint32_t timeout = 0;
    for (const auto& [file, id] : o.Devices) {
        auto d = std::make_unique<TDevice>();
        // The first device's description sets the line; the others share it.
        const std::string error =
            d->Load(file, -1, ProgramFolder(), devices.empty() ? line.Canal.get() : nullptr);
        if (!error.empty()) {
            std::fprintf(stderr, "%s: %s\n", file.c_str(), error.c_str());
            return kUsageError;
        }
        d->Id = static_cast<int32_t>(id);
        const bool told = std::any_of(devices.begin(), devices.end(), [&](const auto& e) {
            return e->Desc.FileName == d->Desc.FileName;
        });
        if (!devices.empty() && !told && d->Desc.Line && devices.front()->Desc.Line &&
            !(*d->Desc.Line == *devices.front()->Desc.Line))
            std::fprintf(stderr, "%s: в описании %s, линия работает с %s первого устройства\n",
                         d->Desc.FileName.c_str(), LineText(*d->Desc.Line).c_str(),
                         LineText(*devices.front()->Desc.Line).c_str());
        // One line, one answer time-out: the longest any of its devices needs.
        timeout = std::max(timeout, line.Canal->Timeout());
        if (d->Desc.Timeout && *d->Desc.Timeout > 0)
            timeout = std::max(timeout, static_cast<uint32_t>(*d->Desc.Timeout));
        devices.push_back(std::move(d));
    }
    for (const uint16_t address : wanted)
        if (std::none_of(devices.begin(), devices.end(),
                         [&](const auto& d) { return FindRow(*d->Regs, address) >= 0; }))
            return Fail("нет регистра с адресом " + DeviceErrorKey(address));
    line.Canal->SetTimeout(timeout);
    line.Canal->SetLogging(o.Log);
    if (!OpenPort(*line.Canal, o.Port, o.Version, o.Gateway)) {
        std::fprintf(stderr, "%s: %s\n", o.Port.c_str(), line.Canal->ComPort->ErrorText().c_str());
        return kUsageError;
    }
    line.Start({}, {});
    int outstanding = 0;
    std::map<std::pair<size_t, int>, std::string> results; // (device, row) -> error
    for (size_t d = 0; d < devices.size(); ++d) {
        TRegList& regs = *devices[d]->Regs;
        for (int row = 0; row < regs.Count(); ++row) {
            TReg* reg = regs.Items(row);
            if (reg->RegType == rtHeader || reg->Io == ioW) continue;
            if (!wanted.empty() &&
                std::find(wanted.begin(), wanted.end(), reg->Addr) == wanted.end())
                continue;
            ++outstanding;
            auto done = [&results, &outstanding, d](TAction* a) {
                results[{d, a->Node}] = a->Error();
                --outstanding;
            };
            if (reg->Io == ioWOR)
                line.Queue(std::make_unique<TActionWriteReg>(line.Canal.get(), devices[d]->Id,
                                                              reg, row, done));
            else
                line.Queue(std::make_unique<TActionReadReg>(line.Canal.get(), devices[d]->Id,
                                                             reg, row, done));
        }
    }
    while (outstanding > 0) {
        line.HandOver.Serve(50);
        // A stop signal closes the port: what is running and queued fails at once.
        if (StopRequested() && line.PortOpen()) line.Canal->ComPort->Close();
    }
    line.Shutdown();
    int status = 0;
    for (const auto& [place, error] : results) {
        const TDevice& dev = *devices[place.first];
        const TReg& reg = *dev.Regs->Items(place.second);
        const std::string words =
            error.empty() ? std::string() : ErrorTextInWords(error, dev.ErrorTexts.get());
        std::printf("%u;%s;%s;%s;%s\n", static_cast<unsigned>(dev.Id),
                    DelimitedField(CodeText(reg)).c_str(), DelimitedField(NameText(reg)).c_str(),
                    DelimitedField(reg.DisplayText()).c_str(), DelimitedField(words).c_str());
        if (!error.empty()) status = 1;
    }
    return status;
}

} // namespace tunavox::cli
