#pragma once
#include <cstdint>
#include <vector>

#include "session.h"

namespace tunavox::cli {

// read with several --device on one line: every readable register of each device (or
// the listed ones it has), in turn through one worker, each line led by the device's ID.
int ReadSeveral(const Options& o, const std::vector<uint16_t>& wanted);

} // namespace tunavox::cli
