#pragma once
// One read of a probe or check register, as the search and the identity check make it:
// the request, the exchange and what its answer says about the place.
#include <atomic>
#include <cstdint>
#include <string>

#include "link/line_settings.h"

namespace tunavox {

class TCanal;

// What one read of a probe or check register brought.
enum class TProbeAnswer {
    Silent,      // nothing within the time-out
    Data,        // the register's bytes
    DeviceError, // a well-formed refusal: a device is there, perhaps of another type
    OtherId,     // a well-formed answer from another ID (a late answer to an earlier probe)
    OtherAddress, // from this ID, for another register: a late answer to an earlier read
    Garbled,     // damaged: CRC, framing, another address, two devices at once
    PortLost,    // the port failed
};
struct TProbeOutcome {
    TProbeAnswer Kind = TProbeAnswer::Silent;
    std::string Data;     // Data: the bytes after the address
    uint32_t OtherId = 0; // OtherId: the ID that answered
    std::string Error;    // the channel's or the port's text
    int Ms = 0;           // from the request to the answer (or the time-out)
    bool Junk = false;    // bytes that made no frame came first (colliding late answers)
};

// Sorts a channel exchange's outcome for a read of address from id (withId false: a
// request without an ID).
TProbeOutcome ClassifyProbeAnswer(bool ok, const std::string& answer, const std::string& error,
                                  int portError, bool withId, uint32_t id, uint16_t address);

// Reads address from id (withId false: a request without an ID) with the channel as it
// is set; on the exchanges' thread.
TProbeOutcome ReadOnce(TCanal& c, bool withId, uint32_t id, uint16_t address);

// Gives the channel what the next exchange needs, touching only what differs.
void Tune(TCanal& canal, const TLineSettings& line, uint8_t version, uint32_t timeoutMs);

// The request as it goes out at a protocol version.
std::string Wire(bool withId, uint32_t id, uint16_t address, uint8_t version);

// Whether the request is the same bytes in 1.0 and 2.0: then one request asks a device
// of either version, and its answer alone may not tell which.
bool SameInBoth(bool withId, uint32_t id, uint16_t address);

// One read of a place on the worker at that line setting and version; windowMs 0: the
// whole time-out from the start. sent counts the requests.
TProbeOutcome Probe(TCanal& c, const TLineSettings& line, uint8_t version, uint32_t timeoutMs,
                    uint32_t windowMs, bool withId, uint32_t id, uint16_t address,
                    std::atomic<int64_t>& sent);

// Whether the outcome is the register's bytes and they read as its type.
bool Matches(const TProbeOutcome& outcome, uint8_t regType);

} // namespace tunavox
