#include "scan/identify_runner.h"

#include <algorithm>

#include "link/canal.h"
#include "scan/probe.h"

namespace tunavox {
namespace {

// One read of a check register; the line's link state and statistics are the poll's, not
// this check's.
class TIdentifyStep : public TAction {
public:
    TIdentifyStep(TCanal* canal, uint32_t id, uint16_t address, Handler done)
        : TAction(canal, static_cast<int32_t>(id), nullptr, -1, std::move(done)), id_(id),
          address_(address) {}
    bool CountsForLink() const override { return false; }
    TProbeOutcome Outcome;

protected:
    void Execute() override { Outcome = ReadOnce(*Canal, id_ != 0, id_, address_); }

private:
    uint32_t id_;
    uint16_t address_;
};

} // namespace

TIdentifyRunner::TIdentifyRunner(TCanal* canal, uint32_t id, std::vector<TScanType> types,
                                 size_t expected, Queue queue)
    : canal_(canal), id_(id), types_(std::move(types)), expected_(expected),
      queue_(std::move(queue)) {}

TIdentifyRunner::~TIdentifyRunner() = default;

void TIdentifyRunner::Start() {
    if (running_) return;
    running_ = true;
    answers_.clear();
    matched_.clear();
    others_ = false;
    Next();
}

void TIdentifyRunner::Next() {
    std::vector<size_t> candidates;
    if (!others_) {
        if (expected_ < types_.size()) candidates.push_back(expected_);
    } else {
        for (size_t t = 0; t < types_.size(); ++t)
            if (t != expected_) candidates.push_back(t);
    }
    std::vector<size_t> matched;
    for (const size_t t : candidates) {
        bool fits = !types_[t].Checks.empty();
        for (const TScanRegister& check : types_[t].Checks) {
            const auto it = answers_.find(check.Addr);
            if (it == answers_.end()) {
                // Read it, then weigh the candidates again.
                std::weak_ptr<char> alive = alive_;
                auto step = std::make_unique<TIdentifyStep>(
                    canal_, id_, check.Addr, [this, alive, address = check.Addr](TAction* a) {
                        if (alive.expired()) return;
                        const TProbeOutcome o = static_cast<TIdentifyStep*>(a)->Outcome;
                        if (o.Kind == TProbeAnswer::Silent || o.Kind == TProbeAnswer::PortLost)
                            return Finish(TIdentity::Silent);
                        // Damaged answers decide nothing: the check waits for clean ones.
                        if (o.Kind == TProbeAnswer::Garbled) return Finish(TIdentity::Silent);
                        answers_[address] = o;
                        Next();
                    });
                queue_(std::move(step));
                return;
            }
            if (!Matches(it->second, check.RegType)) {
                fits = false;
                break;
            }
        }
        if (fits) matched.push_back(t);
    }
    if (!others_) {
        if (!matched.empty()) return Finish(TIdentity::Same);
        others_ = true;
        return Next();
    }
    matched_ = matched;
    Finish(matched.empty() ? TIdentity::Unknown : TIdentity::Other);
}

void TIdentifyRunner::Finish(TIdentity result) {
    result_ = result;
    running_ = false;
    if (OnFinished) OnFinished();
}

std::string TIdentifyRunner::WhatText() const {
    if (matched_.empty()) return "неизвестное устройство";
    std::string names;
    for (const size_t t : matched_)
        names += (names.empty() ? "" : " / ") + types_[t].Name;
    return names;
}

std::string OtherDeviceText(uint32_t id, const std::string& what) {
    return "На месте ID " + std::to_string(id) + " другое устройство: " + what;
}

} // namespace tunavox
