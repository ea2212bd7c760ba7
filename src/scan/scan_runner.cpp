#include "scan/scan_runner.h"

#include <algorithm>
#include <chrono>

#include "link/frame.h"

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

// How long one run of the sweep stays on the worker before the main thread looks in.
constexpr int64_t kRunMs = 400;
// Listens for late answers after a pass's last place, at most.
constexpr int kMaxListens = 8;
// Answers let pass while waiting for a quiet line, at most.
constexpr int kMaxSettle = 8;

} // namespace

// Where a run of the sweep stopped: at a place that answered, or at the first place
// it did not reach.
struct TScanRunner::SweepHit {
    int64_t Next = 0; // into the targets given
    std::vector<std::pair<int64_t, int64_t>> Probed; // (target, when)
    bool Hit = false;
    uint16_t Address = 0;
    uint8_t Version = 1;
    bool SameBytes = true;
    TProbeOutcome Outcome;
};

TScanRunner::TScanRunner(std::vector<TScanType> types, TScanOptions options, Queue queue)
    : types_(std::move(types)), groups_(GroupScanTypes(types_)), options_(std::move(options)),
      queue_(std::move(queue)), canal_(std::make_shared<TCanal>()) {
    // The search reads what came before its requests: a late answer shows itself.
    canal_->SetKeepArrived(true);
    int64_t checks = 0;
    for (const TScanType& t : types_)
        checks += static_cast<int64_t>(t.Checks.size());
    const int64_t versions = static_cast<int64_t>(std::max<size_t>(options_.Versions.size(), 1));
    for (size_t port = 0; port < options_.Ports.size(); ++port)
        for (const bool gateway : options_.Gateway)
            for (size_t g = 0; g < groups_.size(); ++g) {
                const int probeMs = options_.ProbeTimeoutMs > 0 ? options_.ProbeTimeoutMs
                                                                : DefaultProbeTimeout(groups_[g]);
                passes_.push_back({port, gateway, g, probeMs});
                planned_ += Targets();
                // Every place probed three times at most at each version (once more after
                // a late answer, once more after a collision of late ones); as many places again
                // (late answers) recognised, each at both versions, with one repeat after
                // a late answer, and two reads that tell the version apart.
                const int64_t probes = static_cast<int64_t>(groups_[g].Probes.size());
                maxRequests_ += Targets() * probes * versions * 3 +
                                2 * Targets() * (2 * (2 + checks + kMaxStale) + 2) + kMaxListens;
            }
}

TScanRunner::~TScanRunner() {
    // A step still on the worker ends at once with the port's error; its completion
    // finds this runner gone. The channel lives on with that step.
    *stop_ = true;
    if (canal_->ComPort->IsOpen()) canal_->ComPort->Close();
}

void TScanRunner::SetLogging(bool on) {
    canal_->SetLogging(on);
}

int64_t TScanRunner::Targets() const {
    return 1 + static_cast<int64_t>(options_.LastId) - static_cast<int64_t>(options_.FirstId) + 1;
}

uint32_t TScanRunner::IdOf(int64_t target) const {
    return target == 0 ? 0 : options_.FirstId + static_cast<uint32_t>(target - 1);
}

int64_t TScanRunner::Requests() const {
    return *sent_;
}

int TScanRunner::DevicesFound() const {
    return static_cast<int>(
        std::count_if(results_.begin(), results_.end(), [](const TScanResult& r) {
            return r.Kind == TScanKind::Device || r.Kind == TScanKind::Unknown;
        }));
}

double TScanRunner::Fraction() const {
    if (!running_ && startMs_ != 0 && !cancelled_) return 1.0;
    const int64_t done =
        pass_ < passes_.size() ? doneBefore_ + std::min<int64_t>(static_cast<int64_t>(at_), Targets())
                               : planned_;
    return planned_ > 0 ? std::min(1.0, static_cast<double>(done) / static_cast<double>(planned_))
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
        const int64_t targets =
            p == pass_ && passStarted_
                ? static_cast<int64_t>(order_.size()) - static_cast<int64_t>(std::min(at_, order_.size()))
                : Targets();
        ms += targets * static_cast<int64_t>(groups_[passes_[p].Group].Probes.size()) *
                  (passes_[p].ProbeMs + 1) +
              groups_[passes_[p].Group].LongestTimeout;
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
    *stop_ = true;
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

void TScanRunner::Next() {
    if (cancelled_) return Finish();
    for (;;) {
        if (pass_ >= passes_.size()) return Finish();
        if (!passStarted_) {
            passStarted_ = true;
            order_.clear();
            for (int64_t t = 0; t < Targets(); ++t)
                order_.push_back(t);
            at_ = 0;
        }
        if (at_ >= order_.size() && !resweep_.empty()) {
            // Places whose late answers collided: asked once more, the other way round, so
            // that slow answers fall apart this time.
            for (auto t = resweep_.rbegin(); t != resweep_.rend(); ++t)
                order_.push_back(*t);
            resweep_.clear();
            listened_ = false;
            listens_ = 0;
        }
        if (!failedPorts_.count(passes_[pass_].Port) &&
            (!late_.empty() || at_ < order_.size() || !listened_))
            break;
        doneBefore_ += Targets();
        WeighNoise();
        ++pass_;
        passStarted_ = false;
        retried_.clear();
        reswept_.clear();
        probedAt_.clear();
        lateAsked_.clear();
        late_.clear();
        listened_ = false;
        listens_ = 0;
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
        const uint8_t version = options_.Versions.empty() ? 1 : options_.Versions.front();
        Step(
            [=](TCanal& c) {
                c.ComPort->SetLine(line.BaudRate, line.ByteSize, line.Parity, line.StopBits, false);
                if (OpenPort(c, name, version, p.Gateway)) {
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
    if (!late_.empty()) {
        const uint32_t id = late_.front();
        late_.erase(late_.begin());
        if (found_.count({p.Port, static_cast<int64_t>(id)})) return Next();
        Place place;
        place.WithId = true;
        place.Id = id;
        place.Versions = {lateVersion_, static_cast<uint8_t>(lateVersion_ != 0 ? 0 : 1)};
        place.Probe = group.Probes.front().Addr;
        place_ = place;
        placeTarget_ = -1;
        return Read(place_->Probe, group.LongestTimeout, place_->Versions.front());
    }
    if (at_ < order_.size()) return Sweep();
    Listen();
}

void TScanRunner::Sweep() {
    const Pass p = passes_[pass_];
    const TScanGroup& group = groups_[p.Group];
    std::vector<uint16_t> probes;
    for (const TScanRegister& r : group.Probes)
        probes.push_back(r.Addr);
    std::set<int64_t> skip; // places found before, by ID (-1: without an ID)
    for (const auto& [port, key] : found_)
        if (port == p.Port) skip.insert(key);
    std::vector<uint8_t> versions = options_.Versions;
    if (versions.empty()) versions = {1};
    const std::vector<int64_t> targets(order_.begin() + static_cast<std::ptrdiff_t>(at_),
                                       order_.end());
    const uint32_t firstId = options_.FirstId;
    const TLineSettings line = group.Line;
    const uint32_t timeout = group.LongestTimeout;
    const auto window = static_cast<uint32_t>(p.ProbeMs);
    auto hit = std::make_shared<SweepHit>();
    auto stop = stop_;
    auto sent = sent_;
    Step(
        [=](TCanal& c) {
            const int64_t began = SteadyMs();
            size_t i = 0;
            for (; i < targets.size() && !*stop; ++i) {
                if (i > 0 && SteadyMs() - began >= kRunMs) break;
                const int64_t t = targets[i];
                const bool withId = t > 0;
                const uint32_t id = withId ? firstId + static_cast<uint32_t>(t - 1) : 0;
                if (skip.count(withId ? static_cast<int64_t>(id) : -1)) continue;
                hit->Probed.emplace_back(t, SteadyMs());
                for (const uint16_t address : probes) {
                    // One request asks both versions when it is the same bytes in each.
                    const bool same = SameInBoth(withId, id, address);
                    for (size_t v = 0; v < (same ? 1 : versions.size()); ++v) {
                        TProbeOutcome o = Probe(c, line, versions[v], timeout, window, withId, id,
                                                address, *sent);
                        if (o.Kind == TProbeAnswer::Silent) continue;
                        hit->Next = static_cast<int64_t>(i);
                        hit->Hit = true;
                        hit->Address = address;
                        hit->Version = versions[v];
                        hit->SameBytes = same;
                        hit->Outcome = std::move(o);
                        return;
                    }
                }
            }
            hit->Next = static_cast<int64_t>(i);
        },
        [this, hit] { SweepDone(*hit); });
}

void TScanRunner::SweepDone(const SweepHit& hit) {
    if (cancelled_) return Finish();
    for (const auto& [t, ms] : hit.Probed)
        probedAt_[t] = ms;
    at_ += static_cast<size_t>(hit.Next);
    if (!hit.Hit) return Next();
    if (hit.Outcome.Junk) NoteNoise(SteadyMs());
    const int64_t target = order_[at_];
    const Pass& p = passes_[pass_];
    const TProbeOutcome& o = hit.Outcome;
    if (o.Kind == TProbeAnswer::PortLost) {
        PortFailed("COM-порт " + options_.Ports[p.Port] + " потерян: " + o.Error);
        return Next();
    }
    if (o.Kind == TProbeAnswer::OtherId) {
        NoteLate(o.OtherId, hit.Version);
        // The answer meant for this request may have been pushed aside: asked again once.
        if (!retried_.insert(target).second) ++at_;
        return Next();
    }
    // Something answered here: confirmed and recognised at the version it answered, then
    // at the other one.
    Place place;
    place.WithId = target > 0;
    place.Id = IdOf(target);
    place.Versions = {hit.Version, static_cast<uint8_t>(hit.Version != 0 ? 0 : 1)};
    place.Probe = hit.Address;
    place.Proven = !hit.SameBytes && (o.Kind == TProbeAnswer::Data ||
                                      o.Kind == TProbeAnswer::DeviceError ||
                                      o.Kind == TProbeAnswer::OtherAddress);
    place.HeardMs = SteadyMs();
    place_ = place;
    placeTarget_ = target;
    Read(place.Probe, groups_[p.Group].LongestTimeout, place.Versions.front());
}

void TScanRunner::NoteNoise(int64_t heardMs) {
    // Late answers collided, or one came too broken to name its ID: the places asked
    // within a time-out before are asked once more.
    const int64_t span = groups_[passes_[pass_].Group].LongestTimeout + passes_[pass_].ProbeMs;
    const size_t port = passes_[pass_].Port;
    bool any = false;
    for (const auto& [t, ms] : probedAt_) {
        if (ms > heardMs || ms < heardMs - span) continue;
        const int64_t key = t > 0 ? static_cast<int64_t>(IdOf(t)) : -1;
        if (found_.count({port, key}) || !reswept_.insert(t).second) continue;
        resweep_.insert(t);
        any = true;
    }
    // Asked again already: weighed when the pass ends.
    if (!any) ++pendingNoise_;
}

void TScanRunner::WeighNoise() {
    if (pendingNoise_ == 0 || pass_ >= passes_.size()) return;
    // Unless a slow device found on this line explains it (its answers to earlier reads
    // colliding), what came is an answer nobody owns.
    const std::string& name = options_.Ports[passes_[pass_].Port];
    const bool explained =
        std::any_of(results_.begin(), results_.end(), [&](const TScanResult& r) {
            return r.Port == name && r.Kind == TScanKind::Device &&
                   r.AnswerMs > passes_[pass_].ProbeMs;
        });
    if (!explained) unplaced_ += pendingNoise_;
    pendingNoise_ = 0;
}

void TScanRunner::Listen() {
    // Late answers to the last places of the pass come after their probes ended.
    const TScanGroup& group = groups_[passes_[pass_].Group];
    const uint8_t version = options_.Versions.empty() ? 1 : options_.Versions.front();
    const TLineSettings line = group.Line;
    const uint32_t timeout = group.LongestTimeout;
    auto out = std::make_shared<TProbeOutcome>();
    Step(
        [=](TCanal& c) {
            Tune(c, line, version, timeout);
            std::string answer, error;
            const bool ok = c.ReceiveV2(answer, error);
            out->Kind = !ok ? (c.LastPortError() != 0        ? TProbeAnswer::PortLost
                               : error == "Устройство не отвечает" ? TProbeAnswer::Silent
                                                                   : TProbeAnswer::Garbled)
                            : TProbeAnswer::Garbled;
            out->Error = error;
            out->Junk = ok && c.LastHadJunk();
            if (ok && answer.size() >= 7) {
                out->Kind = TProbeAnswer::OtherId;
                for (size_t i = 0; i < 4; ++i)
                    out->OtherId = (out->OtherId << 8) | static_cast<unsigned char>(answer[i]);
            }
        },
        [this, out, version] {
            if (cancelled_) return Finish();
            const TProbeOutcome& o = *out;
            if (o.Kind == TProbeAnswer::PortLost) {
                PortFailed("COM-порт " + options_.Ports[passes_[pass_].Port] +
                           " потерян: " + o.Error);
                return Next();
            }
            if (o.Kind == TProbeAnswer::Garbled || o.Junk) NoteNoise(SteadyMs());
            if (o.Kind == TProbeAnswer::OtherId) NoteLate(o.OtherId, version);
            // Heard something: listened again after it is placed.
            listened_ = o.Kind == TProbeAnswer::Silent || ++listens_ >= kMaxListens;
            Next();
        });
}

void TScanRunner::NoteLate(uint32_t id, uint8_t version) {
    const size_t port = passes_[pass_].Port;
    if (id < options_.FirstId || id > options_.LastId) {
        ++unplaced_;
        return;
    }
    if (found_.count({port, static_cast<int64_t>(id)}) || !lateAsked_.insert(id).second) return;
    late_.push_back(id);
    lateVersion_ = version;
}

void TScanRunner::Read(uint16_t address, uint32_t timeoutMs, uint8_t version) {
    const Place& place = *place_;
    const TLineSettings line = groups_[passes_[pass_].Group].Line;
    const bool withId = place.WithId;
    const uint32_t id = place.Id;
    const bool same = SameInBoth(withId, id, address);
    // A probe time-out the user raised holds for confirming too: a device slower than its
    // description is still found when asked to wait for it.
    timeoutMs = std::max(timeoutMs, static_cast<uint32_t>(passes_[pass_].ProbeMs));
    address_ = address;
    readTimeout_ = timeoutMs;
    readVersion_ = version;
    auto out = std::make_shared<TProbeOutcome>();
    auto sent = sent_;
    Step([=](TCanal& c) { *out = Probe(c, line, version, timeoutMs, 0, withId, id, address, *sent); },
         [this, out, same] { ReadDone(*out, same); });
}

void TScanRunner::Settle(std::function<void()> then) {
    const TScanGroup& group = groups_[passes_[pass_].Group];
    const TLineSettings line = group.Line;
    const uint32_t timeout =
        std::max(group.LongestTimeout, static_cast<uint32_t>(passes_[pass_].ProbeMs));
    const uint8_t version = options_.Versions.empty() ? 1 : options_.Versions.front();
    Step(
        [=](TCanal& c) {
            Tune(c, line, version, timeout);
            for (int i = 0; i < kMaxSettle; ++i) {
                std::string answer, error;
                const bool ok = c.ReceiveV2(answer, error);
                if (!ok && (error == "Устройство не отвечает" || c.LastPortError() != 0)) break;
            }
        },
        [this, then = std::move(then)] {
            if (cancelled_) return Finish();
            then();
        });
}

void TScanRunner::PlaceDone(std::optional<TScanResult> r) {
    if (r) Report(std::move(*r));
    if (placeTarget_ >= 0 && at_ < order_.size() && order_[at_] == placeTarget_) ++at_;
    place_.reset();
    placeTarget_ = -1;
    Next();
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
    place_.reset();
    placeTarget_ = -1;
    if (failedPorts_.count(port)) return;
    failedPorts_.insert(port);
    TScanResult r;
    r.Kind = TScanKind::PortFailed;
    r.Port = options_.Ports[port];
    r.Error = error;
    Report(r);
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
    WeighNoise();
    running_ = false;
    endMs_ = SteadyMs();
    if (OnFinished) OnFinished();
}

} // namespace tunavox
