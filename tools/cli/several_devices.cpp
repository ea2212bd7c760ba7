#include "several_devices.h"

#include "poll_command.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <set>

#include "device/catalogue.h"
#include "device/table_text.h"
#include "device/value_codec.h"
#include "engine/link_state.h"
#include "line/device.h"
#include "line/line.h"
#include "line/poll_round.h"
#include "link/canal.h"
#include "link/line_settings.h"
#include "link/open_port.h"
#include "link/usb_latency.h"
#include "scan/identify_runner.h"
#include "trend/poll_backoff.h"
#include "trend/poll_pace.h"
#include "trend/poll_recorder.h"
#include "util/program_folder.h"
#include "util/time_text.h"

namespace tunavox::cli {

int OpenSeveral(const Options& o, const std::vector<uint16_t>& wanted, TLine& line,
                std::vector<std::unique_ptr<TDevice>>& devices) {
    WatchStopSignals();
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
                         d->Desc.FileName.c_str(), SettingsText(*d->Desc.Line).c_str(),
                         SettingsText(*devices.front()->Desc.Line).c_str());
        // One line, one answer time-out: the longest any of its devices needs.
        if (d->Desc.Timeout && *d->Desc.Timeout > 0)
            timeout = std::max(timeout, static_cast<uint32_t>(*d->Desc.Timeout));
        devices.push_back(std::move(d));
    }
    for (const uint16_t address : wanted)
        if (std::none_of(devices.begin(), devices.end(),
                         [&](const auto& d) { return FindRow(*d->Regs, address) >= 0; }))
            return Fail("нет регистра с адресом " + DeviceErrorKey(address));
    if (timeout > 0) line.Canal->SetTimeout(timeout);
    line.Canal->SetLogging(o.Log);
    if (!OpenPort(*line.Canal, o.Port, o.Version, o.Gateway)) {
        std::fprintf(stderr, "%s: %s\n", o.Port.c_str(), line.Canal->ComPort->ErrorText().c_str());
        return kUsageError;
    }
    if (const std::string note = OpenPortNote(*line.Canal); !note.empty())
        std::fprintf(stderr, "%s\n", note.c_str());
    if (const std::string hint = UsbLatencyHint(o.Port, UsbLatency(o.Port)); !hint.empty())
        std::fprintf(stderr, "%s\n", hint.c_str());
    line.Start({}, {});
    return 0;
}

int ReadSeveral(const Options& o, const std::vector<uint16_t>& wanted) {
    TLine line;
    std::vector<std::unique_ptr<TDevice>> devices;
    if (const int status = OpenSeveral(o, wanted, line, devices)) return status;
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
                line.Queue(std::make_unique<TActionWriteReg>(line.Canal.get(), devices[d]->Id, reg,
                                                             row, done));
            else
                line.Queue(std::make_unique<TActionReadReg>(line.Canal.get(), devices[d]->Id, reg,
                                                            row, done));
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

namespace {

// Whether each device at its ID is still the one polled. A device is told again (as the
// search tells a type, through the line's worker) after an outage of the line, when it
// answers again after silence, and when a row it read refuses; meanwhile it is not
// polled. One that is not its description's type is left out for the rest of the poll,
// with a line on standard error.
class TDeviceWatch {
public:
    TDeviceWatch(const Options& o, const std::vector<std::unique_ptr<TDevice>>& devices,
                 TLine& line)
        : devices_(devices), line_(line), state_(devices.size()) {
        // The catalogue: the devices' own descriptions, then those beside the program.
        std::vector<TCatalogueEntry> entries;
        const auto known = [&](const std::string& path) {
            const std::string name = path.substr(path.find_last_of("/\\") + 1);
            return std::any_of(entries.begin(), entries.end(), [&](const TCatalogueEntry& e) {
                return e.Path.substr(e.Path.find_last_of("/\\") + 1) == name;
            });
        };
        for (const auto& [file, id] : o.Devices)
            if (!known(file)) entries.push_back({file, file});
        for (const TCatalogueEntry& e : ScanCatalogue(ProgramFolder()))
            if (!known(e.Path)) entries.push_back(e);
        std::vector<std::string> problems;
        types_ = LoadScanTypes(entries, ProgramFolder(), problems);
        for (size_t d = 0; d < devices.size(); ++d)
            for (size_t t = 0; t < types_.size(); ++t)
                if (types_[t].FileName == devices[d]->Desc.FileName) state_[d].Expected = t;
    }

    // After each poll read of a device's row (a lost port aside).
    void Read(size_t d, int row, bool ok, bool silent, TPollRound& round) {
        if (devices_[d]->Recheck.Read(row, ok, silent)) Check(d, round);
    }
    void CheckAll(TPollRound& round) {
        for (size_t d = 0; d < state_.size(); ++d)
            Check(d, round);
    }
    // Checks that waited for a silent device are tried again when due.
    void Due(TPollRound& round) {
        const int64_t now = SteadyMs();
        for (size_t d = 0; d < state_.size(); ++d)
            if (state_[d].RetryAt >= 0 && now >= state_[d].RetryAt) {
                state_[d].RetryAt = -1;
                Check(d, round);
            }
    }
    bool Replaced() const { return replaced_; }

private:
    struct State {
        size_t Expected = SIZE_MAX;
        bool Gone = false;
        int64_t RetryAt = -1;
        std::unique_ptr<TIdentifyRunner> Runner;
    };
    void Check(size_t d, TPollRound& round) {
        State& s = state_[d];
        if (s.Gone || s.Expected == SIZE_MAX || (s.Runner && s.Runner->Running())) return;
        round.Hold(d, true);
        s.RetryAt = -1;
        s.Runner = std::make_unique<TIdentifyRunner>(
            line_.Canal.get(), static_cast<uint32_t>(devices_[d]->Id), types_, s.Expected,
            [this](std::unique_ptr<TAction> a) { line_.Queue(std::move(a)); });
        s.Runner->OnFinished = [this, d, &round] {
            State& st = state_[d];
            switch (st.Runner->Result()) {
            case TIdentity::Same:
                round.Hold(d, false);
                round.Wake(d);
                break;
            case TIdentity::Silent:
                st.RetryAt = SteadyMs() + 1000; // held until it answers as itself
                break;
            case TIdentity::Other:
            case TIdentity::Unknown:
                st.Gone = true;
                replaced_ = true;
                std::fprintf(stderr, "%s\n",
                             OtherDeviceText(static_cast<uint32_t>(devices_[d]->Id),
                                             st.Runner->WhatText())
                                 .c_str());
                break;
            }
        };
        s.Runner->Start();
    }

    const std::vector<std::unique_ptr<TDevice>>& devices_;
    TLine& line_;
    std::vector<TScanType> types_;
    std::vector<State> state_;
    bool replaced_ = false;
};

} // namespace

int PollSeveral(const Options& o, const std::vector<uint16_t>& wanted) {
    TLine line;
    std::vector<std::unique_ptr<TDevice>> devices;
    if (const int status = OpenSeveral(o, wanted, line, devices)) return status;
    // Every device's rows in turn, each read with its device's ID.
    struct Item {
        size_t Device;
        int Row;
    };
    std::vector<Item> items;
    for (size_t d = 0; d < devices.size(); ++d) {
        const TRegList& regs = *devices[d]->Regs;
        for (int row = 0; row < regs.Count(); ++row) {
            const TReg* reg = regs.Items(row);
            if (reg->RegType == rtHeader || (reg->Io != ioR && reg->Io != ioRW)) continue;
            if (wanted.empty() ||
                std::find(wanted.begin(), wanted.end(), reg->Addr) != wanted.end())
                items.push_back({d, row});
        }
    }
    if (items.empty()) return Fail("нечего опрашивать");
    const auto idText = [&](size_t d) {
        return std::to_string(static_cast<uint32_t>(devices[d]->Id));
    };
    // A column's key: the device and its row.
    const auto key = [](size_t d, int row) { return static_cast<int>(d) * 1000000 + row; };
    std::unique_ptr<TWideRecording> wide;
    if (o.Wide) {
        std::vector<TWideRecording::TColumn> columns;
        for (const Item& i : items) {
            const TReg& reg = *devices[i.Device]->Regs->Items(i.Row);
            columns.push_back({key(i.Device, i.Row), "ID " + idText(i.Device) + " · " +
                                                         CodeText(reg) + " " + NameText(reg)});
        }
        wide = std::make_unique<TWideRecording>(std::move(columns));
    }
    const std::string header = wide ? wide->Header() : "Время;ID;Код;Параметр;Значение;Ошибка";
    TPollRecorder recorder;
    std::string error;
    if (!o.Output.empty() && !recorder.Start(o.Output, error, header)) {
        std::fprintf(stderr, "Не удалось начать запись опроса в файл %s: %s\n", o.Output.c_str(),
                     error.c_str());
        line.Shutdown();
        return kUsageError;
    }
    if (o.Output.empty()) std::printf("%s\n", header.c_str());
    const auto emit = [&](const std::string& text) {
        if (text.empty()) return;
        if (recorder.Recording())
            recorder.RecordText(text);
        else if (o.Output.empty())
            std::printf("%s\n", text.c_str());
        std::fflush(stdout);
    };
    using Clock = std::chrono::steady_clock;
    const auto until =
        Clock::now() + std::chrono::milliseconds(static_cast<long long>(o.Seconds * 1000));
    TPollRound round;
    {
        std::vector<TPollRound::TItem> order;
        for (const Item& i : items)
            order.push_back({i.Device, i.Row});
        round.Reset(std::move(order), devices.size());
    }
    std::vector<TDeviceRest> rests(devices.size());
    TDeviceWatch watch(o, devices, line);
    bool outstanding = false, failed = false;
    Clock::time_point resumeAt;
    bool paused = false;
    TPollPace pace;
    pace.SetPeriod(o.Period);
    const auto more = [&] {
        if (StopRequested() || !recorder.Failure().empty()) return false;
        if (o.Count > 0 && round.Passes() >= o.Count) return false;
        return !(o.Seconds > 0 && Clock::now() >= until);
    };
    const auto pauseFor = [&](int64_t ms) {
        paused = true;
        resumeAt = Clock::now() + std::chrono::milliseconds(ms);
    };
    std::function<void()> step = [&] {
        // A resting device's rows are passed over; the others keep their rate.
        const TPollRound::TNext n = round.Next(SteadyMs());
        if (!more()) return;
        if (!n.Ready) return pauseFor(n.WaitMs); // every device rests
        if (n.PassBegins)
            if (const int64_t wait = pace.BeforePass(); wait > 0) return pauseFor(wait);
        const TPollRound::TItem item = n.Item;
        TDevice& dev = *devices[item.Device];
        outstanding = true;
        auto read = std::make_unique<TActionReadReg>(
            line.Canal.get(), dev.Id, dev.Regs->Items(item.Row), item.Row, [&, item](TAction* a) {
                outstanding = false;
                pace.ExchangeBegan(a->StartedMs());
                if (StopRequested()) return;
                TDevice& d = *devices[item.Device];
                TPollSample sample = PollSampleOf(*a->Reg, WallClockMs(), a->Reg->GetValue(),
                                                  a->Error(), d.ErrorTexts.get());
                sample.Device = idText(item.Device);
                failed = failed || a->HasError();
                if (wide)
                    emit(wide->Add(key(item.Device, item.Row), sample));
                else
                    emit(DelimitedField(sample.Time) + ";" + sample.Device + ";" +
                         DelimitedField(sample.Code) + ";" + DelimitedField(sample.Name) + ";" +
                         DelimitedField(sample.Value) + ";" + DelimitedField(sample.Error));
                const TLinkKind kind = ClassifyExchange(a->Error(), a->PortError());
                if (kind == TLinkKind::PortLost && !line.Reconnect.Active()) {
                    line.Reconnect.Begin(*line.Canal, o.Port, o.Version, o.Gateway);
                    const std::string why = ErrorTextInWords(a->Error(), d.ErrorTexts.get());
                    std::fprintf(stderr, "%s\n", LineLostNote(o.Port, why).c_str());
                }
                // A lost port is the line's, not this device's silence.
                const int rest =
                    kind == TLinkKind::PortLost
                        ? 0
                        : rests[item.Device].After(IsLinkFailure(kind), line.Canal->Timeout());
                round.Done(rest, SteadyMs());
                if (kind != TLinkKind::PortLost)
                    watch.Read(item.Device, item.Row, !a->HasError(), IsLinkFailure(kind), round);
                if (more() && !line.Reconnect.Active()) step();
            });
        // A device whose last read went unanswered is probed quickly (see TDeviceRest).
        if (devices.size() > 1 && rests[item.Device].Quiet())
            read->FirstByteWindowMs =
                static_cast<uint32_t>(ProbeWindowMs(line.Canal->ComPort->Settings().Line()));
        line.Queue(std::move(read));
    };
    step();
    while (true) {
        line.HandOver.Serve(
            paused
                ? std::clamp(static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                  resumeAt - Clock::now())
                                                  .count()) +
                                 1,
                             1, 50)
                : 50);
        if (StopRequested() && line.PortOpen()) line.Canal->ComPort->Close();
        watch.Due(round);
        failed = failed || watch.Replaced();
        if (outstanding) continue;
        if (line.Reconnect.Active()) {
            if (!more()) break;
            if (line.Reconnect.Attempt(*line.Canal)) {
                const long long ms = line.Reconnect.Outage().count();
                std::fprintf(stderr,
                             "Связь восстановлена: порт %s открыт снова, перерыв %lld,%lld с\n",
                             o.Port.c_str(), ms / 1000, ms % 1000 / 100);
                round.WakeAll();
                for (TDeviceRest& r : rests)
                    r.Reset();
                // Back after an outage: every device is told again before it is polled.
                watch.CheckAll(round);
                step();
            }
            continue;
        }
        if (paused) {
            if (!more()) break;
            if (Clock::now() < resumeAt) continue;
            paused = false;
            step();
            continue;
        }
        break;
    }
    line.Shutdown();
    return FinishPoll(wide.get(), recorder, emit, o.Output, failed);
}

} // namespace tunavox::cli
