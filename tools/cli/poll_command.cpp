// tunavox-cli poll: the listed registers read in turn, one action outstanding at a
// time as the window polls, each completed read one recording line.
#include "poll_command.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>

#include "device/table_text.h"
#include "device/value_codec.h"
#include "engine/link_state.h"
#include "session.h"
#include "several_devices.h"
#include "trend/poll_backoff.h"
#include "trend/poll_pace.h"
#include "trend/poll_recorder.h"
#include "util/time_text.h"

namespace tunavox::cli {

int Poll(const std::vector<std::string>& args) {
    Options o;
    std::string error;
    if (!ParseOptions(args, o, error, false)) return Fail(error);
    if (o.Seconds > 0 && o.Count > 0) return Fail("--seconds и --count не указываются вместе");
    std::vector<uint16_t> wanted;
    if (!ParseAddresses(o.Rest, 0, wanted, error)) return Fail(error);
    if (o.Devices.size() > 1) return PollSeveral(o, wanted);
    Session s;
    if (const int status = s.Start(o)) return status;
    std::vector<int> rows;
    for (const uint16_t address : wanted) {
        const int row = FindRow(s.Regs, address);
        if (row < 0) return Fail("нет регистра с адресом " + DeviceErrorKey(address));
        const uint8_t io = s.Regs.Items(row)->Io;
        // A WOR row's poll would write it: the command only reads, as the chart only shows reads.
        if (io != ioR && io != ioRW)
            return Fail("регистр " + DeviceErrorKey(address) + " не читается");
        rows.push_back(row);
    }
    if (wanted.empty())
        for (int row = 0; row < s.Regs.Count(); ++row) {
            const TReg* reg = s.Regs.Items(row);
            if (reg->RegType != rtHeader && (reg->Io == ioR || reg->Io == ioRW))
                rows.push_back(row);
        }
    if (rows.empty()) return Fail("нечего опрашивать");

    // --wide: a line per pass, a column per register, as a spreadsheet reads it.
    std::unique_ptr<TWideRecording> wide;
    if (o.Wide) {
        std::vector<TWideRecording::TColumn> columns;
        for (const int row : rows)
            columns.push_back(
                {row, CodeText(*s.Regs.Items(row)) + " " + NameText(*s.Regs.Items(row))});
        wide = std::make_unique<TWideRecording>(std::move(columns));
    }
    TPollRecorder recorder;
    if (!o.Output.empty() &&
        !recorder.Start(o.Output, error, wide ? wide->Header() : std::string())) {
        std::fprintf(stderr, "Не удалось начать запись опроса в файл %s: %s\n", o.Output.c_str(),
                     error.c_str());
        return kUsageError;
    }
    if (wide && o.Output.empty()) {
        std::printf("%s\n", wide->Header().c_str());
        std::fflush(stdout);
    }
    const auto emit = [&](const std::string& line) {
        if (line.empty()) return;
        if (recorder.Recording()) {
            recorder.RecordText(line);
        } else if (o.Output.empty()) {
            std::printf("%s\n", line.c_str());
            std::fflush(stdout);
        }
    };
    if (recorder.TornLineRemoved())
        std::fprintf(stderr, "Из файла %s удалена оборванная последняя строка\n", o.Output.c_str());
    const auto until = std::chrono::steady_clock::now() +
                       std::chrono::milliseconds(static_cast<long long>(o.Seconds * 1000));
    size_t next = 0;
    long long passes = 0;
    bool outstanding = false, failed = false;
    // While reads keep failing alike (the device has gone), one attempt a second.
    TPollBackoff backoff;
    std::chrono::steady_clock::time_point resumeAt;
    bool paused = false;
    const auto more = [&] {
        if (StopRequested() || !recorder.Failure().empty()) return false;
        if (o.Count > 0 && passes >= o.Count) return false;
        return !(o.Seconds > 0 && std::chrono::steady_clock::now() >= until);
    };
    // --period: a pass starts at most once per period; the line is idle in between.
    TPollPace pace;
    pace.SetPeriod(o.Period);
    std::function<void()> step;
    const auto stepOrWait = [&] {
        if (next == 0) {
            const int64_t wait = pace.BeforePass();
            if (wait > 0) {
                paused = true;
                resumeAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait);
                return;
            }
        }
        step();
    };
    step = [&] {
        const int row = rows[next];
        outstanding = true;
        s.AddAction(std::make_unique<TActionReadReg>(
            &s.Canal, s.DeviceId(), s.Regs.Items(row), row, [&](TAction* a) {
                outstanding = false;
                pace.ExchangeBegan(a->StartedMs());
                // A read ended by a stop signal (the port closed under it) is no sample.
                if (StopRequested()) return;
                const TReg& reg = *a->Reg;
                const TPollSample sample =
                    PollSampleOf(reg, WallClockMs(), reg.GetValue(), a->Error(), &s.ErrorTexts);
                failed = failed || a->HasError();
                if (wide) {
                    emit(wide->Add(a->Node, sample));
                } else if (recorder.Recording()) {
                    recorder.Record(sample);
                } else if (o.Output.empty()) {
                    std::printf(
                        "%s;%s;%s;%s;%s\n", DelimitedField(sample.Time).c_str(),
                        DelimitedField(sample.Code).c_str(), DelimitedField(sample.Name).c_str(),
                        DelimitedField(sample.Value).c_str(), DelimitedField(sample.Error).c_str());
                    std::fflush(stdout);
                }
                if (++next == rows.size()) {
                    next = 0;
                    ++passes;
                }
                const TLinkKind kind = ClassifyExchange(a->Error(), a->PortError());
                const int pause = backoff.After(a->Error(), IsLinkFailure(kind));
                // The adapter is gone: the port is let go and reopened once it is back.
                if (kind == TLinkKind::PortLost)
                    s.LinkLost(ErrorTextInWords(a->Error(), &s.ErrorTexts));
                if (!more() || s.Reconnecting()) return;
                if (pause == 0) {
                    stepOrWait();
                    return;
                }
                paused = true;
                resumeAt = std::chrono::steady_clock::now() + std::chrono::milliseconds(pause);
            }));
    };
    stepOrWait();
    s.ServeUntil(
        [&] {
            if (s.Reconnecting() && !outstanding) {
                if (!more()) return true;
                backoff.Reset();
                if (s.TryReconnect()) stepOrWait();
                return false;
            }
            if (paused && (!more() || std::chrono::steady_clock::now() >= resumeAt)) {
                paused = false;
                if (more()) stepOrWait();
            }
            return !outstanding && !paused;
        },
        [&] {
            if (!paused) return 50;
            return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        resumeAt - std::chrono::steady_clock::now())
                                        .count()) +
                   1;
        });
    return FinishPoll(wide.get(), recorder, emit, o.Output, failed);
}

int FinishPoll(TWideRecording* wide, TPollRecorder& recorder,
               const std::function<void(const std::string&)>& emit, const std::string& output,
               bool failed) {
    // The pass begun is kept as far as it got.
    if (wide) emit(wide->Finish());
    recorder.Flush();
    const std::string failure = recorder.Failure();
    recorder.Stop();
    if (!failure.empty()) {
        std::fprintf(stderr, "Запись опроса в файл %s остановлена: %s\n", output.c_str(),
                     failure.c_str());
        return kUsageError;
    }
    return failed ? 1 : 0;
}

} // namespace tunavox::cli
