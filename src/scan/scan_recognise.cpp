// The search's recognition of a place that answered: its check registers read at the
// version it answered at, the other version tried where the bytes could not tell, and
// what it is reported as.
#include <algorithm>

#include "device/value_codec.h"
#include "link/canal.h"
#include "scan/scan_runner.h"
#include "util/time_text.h"

namespace tunavox {

void TScanRunner::ReadDone(const TProbeOutcome& o, bool sameBytes) {
    if (cancelled_) return Finish();
    if (o.Kind == TProbeAnswer::PortLost) {
        place_.reset();
        PortFailed("COM-порт " + options_.Ports[passes_[pass_].Port] + " потерян: " + o.Error);
        return Next();
    }
    Place& place = *place_;
    if (o.Junk) NoteNoise(SteadyMs());
    TProbeOutcome outcome = o;
    if (o.Kind == TProbeAnswer::OtherId || o.Kind == TProbeAnswer::OtherAddress) {
        if (o.Kind == TProbeAnswer::OtherId) NoteLate(o.OtherId, readVersion_);
        // A late answer came instead: this place's own may be right behind it.
        if (place.StaleRetries < kMaxStale) {
            ++place.StaleRetries;
            return Read(address_, readTimeout_, readVersion_);
        }
        outcome.Kind = TProbeAnswer::Silent;
    }
    if (outcome.Kind == TProbeAnswer::Garbled && !place.GarbleRetried) {
        // Damaged: late answers colliding pass by; two devices at one ID do not.
        place.GarbleRetried = true;
        const uint16_t address = address_;
        const uint32_t timeout = readTimeout_;
        const uint8_t version = readVersion_;
        return Settle([this, address, timeout, version] { Read(address, timeout, version); });
    }
    const bool answered =
        outcome.Kind == TProbeAnswer::Data || outcome.Kind == TProbeAnswer::DeviceError;
    if (answered && !sameBytes) place.Proven = true;
    if (outcome.Kind == TProbeAnswer::Silent) place.Settle = true;
    if (place.Distinguishing) {
        // A request that differs between the versions: the device answers only its own.
        if (answered || readVersion_ != place.Versions[place.Version])
            return PlaceDone(
                ResultOf(place, answered ? readVersion_ : place.Versions[place.Version]));
        return Settle([this] {
            Read(address_, readTimeout_,
                 static_cast<uint8_t>(place_->Versions[place_->Version] != 0 ? 0 : 1));
        });
    }
    if (!place.Confirmed) {
        if (answered) {
            place.Confirmed = true;
            place.ConfirmMs = o.Ms;
            place.Answers.clear();
            place.Answers[address_] = outcome;
            place.TriedOthers = false;
            return Identify();
        }
        if (outcome.Kind == TProbeAnswer::Garbled) place.Garbled = true;
        return NextVersion();
    }
    if (outcome.Kind == TProbeAnswer::Garbled) {
        // Two devices with one ID, or interference: never taken for a device.
        place.Garbled = true;
        return NextVersion();
    }
    place.Answers[address_] = outcome;
    Identify();
}

void TScanRunner::Identify() {
    Place& place = *place_;
    const TScanGroup& group = groups_[passes_[pass_].Group];
    std::vector<size_t> candidates;
    if (!place.TriedOthers) {
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
            const auto it = place.Answers.find(check.Addr);
            if (it == place.Answers.end()) {
                // Read it, then weigh every candidate again.
                return Read(check.Addr, types_[t].Timeout, place.Versions[place.Version]);
            }
            if (!Matches(it->second, check.RegType)) {
                ok = false;
                break;
            }
        }
        if (ok) matched.push_back(t);
    }
    if (matched.empty() && !place.TriedOthers && group.Types.size() < types_.size()) {
        // Set to another line setting than its description says: still one of ours?
        place.TriedOthers = true;
        return Identify();
    }
    if (matched.empty()) {
        if (place.Answered < 0) place.Answered = place.Versions[place.Version];
        return NextVersion();
    }
    place.Matched = matched;
    if (place.Proven) return PlaceDone(ResultOf(place, place.Versions[place.Version]));
    Distinguish();
}

void TScanRunner::Distinguish() {
    // Every request so far read the same in both versions, and so did the answers: ask
    // with one that does not (a register of the type, else 0x0002, whose 02 is stuffed).
    Place& place = *place_;
    place.Distinguishing = true;
    uint16_t address = 0x0002;
    for (size_t t : place.Matched)
        for (const TScanRegister& check : types_[t].Checks)
            if (address == 0x0002 && !SameInBoth(place.WithId, place.Id, check.Addr))
                address = check.Addr;
    Read(address, groups_[passes_[pass_].Group].LongestTimeout, place.Versions[place.Version]);
}

void TScanRunner::NextVersion() {
    Place& place = *place_;
    place.Confirmed = false;
    place.Answers.clear();
    place.TriedOthers = false;
    place.StaleRetries = 0;
    place.GarbleRetried = false;
    place.Proven = false;
    if (++place.Version < place.Versions.size()) {
        auto next = [this] {
            place_->Settle = false;
            Read(place_->Probe, groups_[passes_[pass_].Group].LongestTimeout,
                 place_->Versions[place_->Version]);
        };
        // An answer to the last read may still be on its way: not taken for the next's.
        if (place.Settle) return Settle(next);
        return next();
    }
    TScanResult r = ResultOf(place, place.Versions.front());
    if (place.Garbled) {
        r.Kind = TScanKind::Garbled;
    } else if (place.Answered >= 0) {
        r.Kind = TScanKind::Unknown;
        r.Version = static_cast<uint8_t>(place.Answered);
    } else {
        // Nothing here answered again: what came in its window was not its own.
        if (placeTarget_ < 0)
            ++unplaced_; // named its ID, but too late for its description's time-out
        else
            NoteNoise(place.HeardMs);
        return PlaceDone(std::nullopt);
    }
    PlaceDone(r);
}

TScanResult TScanRunner::ResultOf(const Place& place, uint8_t version) const {
    const Pass& p = passes_[pass_];
    TScanResult r;
    r.Kind = TScanKind::Device;
    r.Port = options_.Ports[p.Port];
    r.Gateway = p.Gateway;
    r.Version = version;
    r.WithId = place.WithId;
    r.Id = place.Id;
    r.Types = place.Matched;
    r.AnswerMs = place.ConfirmMs;
    return r;
}

} // namespace tunavox
