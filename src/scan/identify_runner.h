#pragma once
// Whether the device at an ID of an open line is still the one the window or the command
// line works with: read as the search recognises a device, through the line's worker.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/action.h"
#include "scan/scan_runner.h"

namespace tunavox {

class TCanal;

enum class TIdentity {
    Same,    // the expected type's check registers answer as that type
    Other,   // they do not; another type of the catalogue fits
    Unknown, // they do not, and no type of the catalogue fits
    Silent,  // nothing answered (the check waits for the next answer)
};

// Reads the expected type's check registers, then, if they do not fit, every other
// type's, one request at a time on the line's worker (each started by the previous one's
// completion on the main thread). Read requests only.
class TIdentifyRunner {
public:
    using Queue = std::function<void(std::unique_ptr<TAction>)>;
    // types: the catalogue as the search loads it; expected: the index of the type the
    // device should be.
    TIdentifyRunner(TCanal* canal, uint32_t id, std::vector<TScanType> types, size_t expected,
                    Queue queue);
    ~TIdentifyRunner();
    TIdentifyRunner(const TIdentifyRunner&) = delete;
    TIdentifyRunner& operator=(const TIdentifyRunner&) = delete;

    void Start();
    bool Running() const { return running_; }
    TIdentity Result() const { return result_; }
    // The types that fit, for Other.
    const std::vector<size_t>& Matched() const { return matched_; }
    // "<name>" (several joined by " / "), or "неизвестное устройство".
    std::string WhatText() const;

    // Main thread, once at the end.
    std::function<void()> OnFinished;

private:
    void Next();
    void Finish(TIdentity result);

    TCanal* canal_;
    uint32_t id_;
    std::vector<TScanType> types_;
    size_t expected_;
    Queue queue_;
    std::shared_ptr<char> alive_ = std::make_shared<char>(0);
    std::map<uint16_t, TProbeOutcome> answers_;
    bool others_ = false; // past the expected type
    bool running_ = false;
    TIdentity result_ = TIdentity::Silent;
    std::vector<size_t> matched_;
};

// "На месте ID N другое устройство: <what it answers as>".
std::string OtherDeviceText(uint32_t id, const std::string& what);

} // namespace tunavox
