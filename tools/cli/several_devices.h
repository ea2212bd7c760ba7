#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "line/device.h"
#include "line/line.h"

#include "session.h"

namespace tunavox::cli {

// Loads every --device and opens the line at the first one's settings (the longest answer
// time-out of them all), its worker started; 0, or kUsageError with the message printed.
// wanted: addresses some device must have.
int OpenSeveral(const Options& o, const std::vector<uint16_t>& wanted, TLine& line,
                std::vector<std::unique_ptr<TDevice>>& devices);

// read with several --device on one line: every readable register of each device (or
// the listed ones it has), in turn through one worker, each line led by the device's ID.
int ReadSeveral(const Options& o, const std::vector<uint16_t>& wanted);
// poll with several --device: every device's rows in turn, one pass over all of them; a
// silent device rests alone (TDeviceRest) while the others keep their rate. Each line
// (and the recording, in a form of its own) names the device's ID.
int PollSeveral(const Options& o, const std::vector<uint16_t>& wanted);

} // namespace tunavox::cli
