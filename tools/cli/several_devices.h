#pragma once
#include <cstdint>
#include <vector>

#include "session.h"

namespace tunavox::cli {

// read with several --device on one line: every readable register of each device (or
// the listed ones it has), in turn through one worker, each line led by the device's ID.
int ReadSeveral(const Options& o, const std::vector<uint16_t>& wanted);
// poll with several --device: every device's rows in turn, one pass over all of them; a
// silent device rests alone (TDeviceRest) while the others keep their rate. Each line
// (and the recording, in a form of its own) names the device's ID.
int PollSeveral(const Options& o, const std::vector<uint16_t>& wanted);

} // namespace tunavox::cli
