#include "scan/scan_runner.h"

#include <algorithm>
#include <chrono>

#include "device/value_codec.h"
#include "link/canal.h"
#include "link/open_port.h"
#include "protocol/register_protocol.h"
#include "util/time_text.h"

namespace tunavox {
namespace {

// One step of a search on the worker. It says nothing about the link of the device
// the window works with, so it stays out of the link state and the statistics.
class TScanStep : public TAction {
public:
    TScanStep(std::function<void()> body, Handler done)
        : TAction(nullptr, 0, nullptr, -1, std::move(done)), body_(std::move(body)) {}
    bool CountsForLink() const override { return false; }

protected:
    void Execute() override { body_(); }

private:
    std::function<void()> body_;
};

// Gives the channel what the next exchange needs, touching only what differs.
void Tune(TCanal& canal, const TLineSettings& line, uint8_t version, uint32_t timeoutMs) {
    TMyComPort& port = *canal.ComPort;
    const bool open = port.IsOpen();
    if (!(port.Settings().Line() == line))
        port.SetLine(line.BaudRate, line.ByteSize, line.Parity, line.StopBits, open);
    if (canal.ProtocolVersion() != version || canal.Timeout() != timeoutMs) {
        canal.SetVersion(version);
        canal.SetTimeout(timeoutMs);
        if (open) port.ApplyTimeouts();
    }
}

bool Matches(const TProbeOutcome& outcome, uint8_t regType) {
    TValue value;
    return outcome.Kind == TProbeAnswer::Data && BytesToValue(outcome.Data, regType, value);
}

} // namespace

TProbeOutcome ClassifyProbeAnswer(bool ok, const std::string& answer, const std::string& error,
                                  int portError, bool withId, uint32_t id, uint16_t address) {
    TProbeOutcome o;
    o.Error = error;
    if (!ok) {
        o.Kind = portError != 0                      ? TProbeAnswer::PortLost
                 : error == "Устройство не отвечает" ? TProbeAnswer::Silent
                                                     : TProbeAnswer::Garbled;
        return o;
    }
    o.Kind = TProbeAnswer::Garbled;
    size_t pos = 0;
    if (withId) {
        if (answer.size() < 4) {
            o.Error = "Получен пустой пакет";
            return o;
        }
        uint32_t got = 0;
        for (size_t i = 0; i < 4; ++i)
            got = (got << 8) | static_cast<unsigned char>(answer[i]);
        if (got != id) {
            o.Kind = TProbeAnswer::OtherId;
            o.OtherId = got;
            return o;
        }
        pos = 4;
    }
    if (pos >= answer.size()) {
        o.Error = "Получен пустой пакет";
        return o;
    }
    // A refusal is a device's answer whatever follows its status.
    std::string code;
    if (!StatusToError(static_cast<uint8_t>(answer[pos]), code)) {
        o.Kind = TProbeAnswer::DeviceError;
        o.Error = code;
        return o;
    }
    if (pos + 3 > answer.size() || ((static_cast<unsigned char>(answer[pos + 1]) << 8) |
                                    static_cast<unsigned char>(answer[pos + 2])) != address) {
        o.Error = "Адрес регистра в ответе не совпадает с запрошенным";
        return o;
    }
    o.Kind = TProbeAnswer::Data;
    o.Error.clear();
    o.Data = answer.substr(pos + 3);
    return o;
}

TScanRunner::TScanRunner(std::vector<TScanType> types, TScanOptions options, Queue queue)
    : types_(std::move(types)), groups_(GroupScanTypes(types_)), options_(std::move(options)),
      queue_(std::move(queue)), canal_(std::make_shared<TCanal>()) {
    for (size_t port = 0; port < options_.Ports.size(); ++port)
        for (const bool gateway : options_.Gateway)
            for (const uint8_t version : options_.Versions)
                for (size_t g = 0; g < groups_.size(); ++g) {
                    const int probeMs = options_.ProbeTimeoutMs > 0
                                            ? options_.ProbeTimeoutMs
                                            : DefaultProbeTimeout(groups_[g]);
                    passes_.push_back({port, gateway, version, g, probeMs});
                    planned_ += Targets() * static_cast<int64_t>(groups_[g].Probes.size());
                }
}

TScanRunner::~TScanRunner() {
    // A step still on the worker ends at once with the port's error; its completion
    // finds this runner gone. The channel lives on with that step.
    if (canal_->ComPort->IsOpen()) canal_->ComPort->Close();
}

void TScanRunner::SetLogging(bool on) {
    canal_->SetLogging(on);
}

int64_t TScanRunner::Targets() const {
    return 1 + static_cast<int64_t>(options_.LastId) - static_cast<int64_t>(options_.FirstId) + 1;
}

uint32_t TScanRunner::TargetId() const {
    if (rechecking_) return recheckId_;
    return target_ == 0 ? 0 : options_.FirstId + static_cast<uint32_t>(target_ - 1);
}

int TScanRunner::DevicesFound() const {
    return static_cast<int>(
        std::count_if(results_.begin(), results_.end(), [](const TScanResult& r) {
            return r.Kind == TScanKind::Device || r.Kind == TScanKind::Unknown;
        }));
}

double TScanRunner::Fraction() const {
    if (!running_ && startMs_ != 0 && !cancelled_) return 1.0;
    return planned_ > 0 ? std::min(1.0, static_cast<double>(done_) / static_cast<double>(planned_))
                        : 1.0;
}

int64_t TScanRunner::ElapsedMs() const {
    if (startMs_ == 0) return 0;
    return (running_ ? SteadyMs() : endMs_) - startMs_;
}

int64_t TScanRunner::RemainingMs() const {
    if (!running_) return 0;
    int64_t ms = 0;
    for (size_t p = pass_; p < passes_.size(); ++p) {
        if (failedPorts_.count(passes_[p].Port)) continue;
        const int64_t targets = p == pass_ ? std::max<int64_t>(0, Targets() - target_) : Targets();
        ms += targets * static_cast<int64_t>(groups_[passes_[p].Group].Probes.size()) *
              (passes_[p].ProbeMs + 10);
    }
    return ms;
}

void TScanRunner::Start() {
    if (running_) return;
    running_ = true;
    startMs_ = SteadyMs();
    Next();
}

void TScanRunner::Cancel() {
    if (!running_ || cancelled_) return;
    cancelled_ = true;
    // The exchange in progress ends at once with the port's error, not after its time-out.
    if (busy_)
        canal_->ComPort->Close();
    else
        Finish();
}

void TScanRunner::Step(std::function<void(TCanal&)> body, std::function<void()> done) {
    busy_ = true;
    std::shared_ptr<TCanal> canal = canal_;
    std::weak_ptr<char> alive = alive_;
    queue_(std::make_unique<TScanStep>([canal, body = std::move(body)] { body(*canal); },
                                       [this, alive, done = std::move(done)](TAction*) {
                                           if (alive.expired()) return;
                                           busy_ = false;
                                           done();
                                           if (OnProgress) OnProgress();
                                       }));
}

void TScanRunner::AdvanceTarget() {
    if (rechecking_)
        rechecking_ = false;
    else {
        ++target_;
        done_ += static_cast<int64_t>(groups_[passes_[pass_].Group].Probes.size());
    }
    probe_ = 0;
    retried_ = false;
    garbled_ = false;
    answers_.clear();
    triedOthers_ = false;
    phase_ = Phase::Probe;
}

void TScanRunner::Next() {
    if (cancelled_) return Finish();
    for (;;) {
        if (pass_ >= passes_.size()) return Finish();
        const Pass& p = passes_[pass_];
        const int64_t probes = static_cast<int64_t>(groups_[p.Group].Probes.size());
        auto nextPass = [&] {
            done_ += std::max<int64_t>(0, Targets() - target_) * probes;
            ++pass_;
            target_ = 0;
            probe_ = 0;
            retried_ = false;
            rechecking_ = false;
            recheck_.clear();
        };
        if (failedPorts_.count(p.Port)) {
            nextPass();
            continue;
        }
        if (rechecking_) break;
        if (target_ >= Targets()) {
            // Late answers of this pass, each looked at once more with the full time-out.
            while (!recheck_.empty() && found_.count({p.Port, *recheck_.begin()}))
                recheck_.erase(recheck_.begin());
            if (recheck_.empty()) {
                nextPass();
                continue;
            }
            rechecking_ = true;
            recheckId_ = *recheck_.begin();
            recheck_.erase(recheck_.begin());
            break;
        }
        const int64_t key = TargetWithId() ? static_cast<int64_t>(TargetId()) : -1;
        if (!found_.count({p.Port, key})) break;
        AdvanceTarget();
    }
    const Pass p = passes_[pass_];
    const TScanGroup& group = groups_[p.Group];
    if (openPort_ != static_cast<int>(p.Port) || openGateway_ != p.Gateway) {
        if (openPort_ >= 0) {
            Step([](TCanal& c) { c.ComPort->Close(); },
                 [this] {
                     openPort_ = -1;
                     Next();
                 });
            return;
        }
        auto error = std::make_shared<std::string>();
        const std::string name = options_.Ports[p.Port];
        const TLineSettings line = group.Line;
        Step(
            [=](TCanal& c) {
                c.ComPort->SetLine(line.BaudRate, line.ByteSize, line.Parity, line.StopBits, false);
                if (OpenPort(c, name, p.Version, p.Gateway)) {
                    c.SetTimeout(static_cast<uint32_t>(p.ProbeMs));
                    c.ComPort->ApplyTimeouts();
                } else {
                    *error = c.ComPort->ErrorText();
                }
            },
            [this, error, p, name] {
                if (error->empty()) {
                    openPort_ = static_cast<int>(p.Port);
                    openGateway_ = p.Gateway;
                } else {
                    PortFailed("Не удалось открыть COM-порт " + name + ": " + *error);
                }
                Next();
            });
        return;
    }
    garbled_ = false;
    if (rechecking_) {
        phase_ = Phase::Confirm;
        QueueExchange(group.Probes.front().Addr, group.LongestTimeout);
    } else {
        phase_ = Phase::Probe;
        QueueExchange(group.Probes[probe_].Addr, static_cast<uint32_t>(p.ProbeMs));
    }
}

void TScanRunner::QueueExchange(uint16_t address, uint32_t timeoutMs) {
    const Pass p = passes_[pass_];
    const TLineSettings line = groups_[p.Group].Line;
    const bool withId = TargetWithId();
    const uint32_t id = TargetId();
    const std::string request = BuildRequest(withId ? id : 0, kCmdRead, address, {});
    address_ = address;
    auto out = std::make_shared<TProbeOutcome>();
    Step(
        [=](TCanal& c) {
            Tune(c, line, p.Version, timeoutMs);
            const int64_t began = SteadyMs();
            std::string answer, error;
            const bool ok = c.Exchange(request, withId, answer, error);
            *out = ClassifyProbeAnswer(ok, answer, error, c.LastPortError(), withId, id, address);
            out->Ms = static_cast<int>(SteadyMs() - began);
        },
        [this, out] { ExchangeDone(*out); });
}

void TScanRunner::ExchangeDone(const TProbeOutcome& o) {
    if (cancelled_) return Finish();
    const Pass& p = passes_[pass_];
    const TScanGroup& group = groups_[p.Group];
    if (o.Kind == TProbeAnswer::PortLost) {
        PortFailed("COM-порт " + options_.Ports[p.Port] + " потерян: " + o.Error);
        return Next();
    }
    auto lateAnswer = [&] {
        if (o.OtherId >= options_.FirstId && o.OtherId <= options_.LastId &&
            o.OtherId != TargetId() && !found_.count({p.Port, static_cast<int64_t>(o.OtherId)}))
            recheck_.insert(o.OtherId);
    };
    switch (phase_) {
    case Phase::Probe:
        if (o.Kind == TProbeAnswer::OtherId) {
            lateAnswer();
            // The answer meant for this request may have been pushed aside: ask again once.
            if (!retried_) {
                retried_ = true;
                return Next();
            }
        }
        if (o.Kind == TProbeAnswer::Silent || o.Kind == TProbeAnswer::OtherId) {
            if (++probe_ >= group.Probes.size()) AdvanceTarget();
            return Next();
        }
        // Something answered: asked once more with the description's own time-out.
        garbled_ = o.Kind == TProbeAnswer::Garbled;
        phase_ = Phase::Confirm;
        return QueueExchange(address_, group.LongestTimeout);
    case Phase::Confirm:
        if (o.Kind == TProbeAnswer::Data || o.Kind == TProbeAnswer::DeviceError) {
            confirmMs_ = o.Ms;
            answers_.clear();
            answers_[address_] = o;
            triedOthers_ = false;
            phase_ = Phase::Identify;
            return Identify();
        }
        if (o.Kind == TProbeAnswer::Garbled || garbled_) {
            TScanResult r = Place();
            r.Kind = TScanKind::Garbled;
            r.AnswerMs = o.Ms;
            Report(r);
            AdvanceTarget();
            return Next();
        }
        if (o.Kind == TProbeAnswer::OtherId) lateAnswer();
        // Silent this time: the first answer was not this place's.
        if (rechecking_ || ++probe_ >= group.Probes.size()) AdvanceTarget();
        return Next();
    case Phase::Identify:
        answers_[address_] = o;
        return Identify();
    }
}

void TScanRunner::Identify() {
    const TScanGroup& group = groups_[passes_[pass_].Group];
    std::vector<size_t> candidates;
    if (!triedOthers_) {
        candidates = group.Types;
    } else {
        for (size_t t = 0; t < types_.size(); ++t)
            if (std::find(group.Types.begin(), group.Types.end(), t) == group.Types.end())
                candidates.push_back(t);
    }
    std::vector<size_t> matched;
    for (size_t t : candidates) {
        bool ok = true;
        for (const TScanRegister& check : types_[t].Checks) {
            const auto it = answers_.find(check.Addr);
            if (it == answers_.end()) {
                // Read it, then weigh every candidate again.
                return QueueExchange(check.Addr, types_[t].Timeout);
            }
            if (!Matches(it->second, check.RegType)) {
                ok = false;
                break;
            }
        }
        if (ok) matched.push_back(t);
    }
    if (matched.empty() && !triedOthers_ && group.Types.size() < types_.size()) {
        // Set to another line setting than its description says: still one of ours?
        triedOthers_ = true;
        return Identify();
    }
    TScanResult r = Place();
    r.Kind = matched.empty() ? TScanKind::Unknown : TScanKind::Device;
    r.Types = matched;
    r.AnswerMs = confirmMs_;
    Report(r);
    AdvanceTarget();
    Next();
}

TScanResult TScanRunner::Place() const {
    const Pass& p = passes_[pass_];
    TScanResult r;
    r.Port = options_.Ports[p.Port];
    r.Gateway = p.Gateway;
    r.Version = p.Version;
    r.WithId = TargetWithId();
    r.Id = TargetId();
    return r;
}

void TScanRunner::Report(TScanResult result) {
    if (result.Kind != TScanKind::PortFailed) {
        const size_t port = passes_[pass_].Port;
        found_.insert({port, result.WithId ? static_cast<int64_t>(result.Id) : -1});
    }
    results_.push_back(std::move(result));
    if (OnResult) OnResult(results_.back());
}

void TScanRunner::PortFailed(const std::string& error) {
    const size_t port = passes_[pass_].Port;
    if (failedPorts_.count(port)) return;
    failedPorts_.insert(port);
    TScanResult r;
    r.Kind = TScanKind::PortFailed;
    r.Port = options_.Ports[port];
    r.Error = error;
    Report(r);
    AdvanceTarget();
}

void TScanRunner::Finish() {
    if (!running_) return;
    if (openPort_ >= 0 || canal_->ComPort->IsOpen()) {
        if (busy_) return; // the step's completion comes back here
        Step([](TCanal& c) { c.ComPort->Close(); },
             [this] {
                 openPort_ = -1;
                 Finish();
             });
        return;
    }
    running_ = false;
    endMs_ = SteadyMs();
    if (!cancelled_) done_ = planned_;
    if (OnFinished) OnFinished();
}

} // namespace tunavox
