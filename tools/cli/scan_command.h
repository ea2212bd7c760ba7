#pragma once
#include <string>
#include <vector>

namespace tunavox::cli {

// scan: finds the devices on the line (see the usage text).
int Scan(const std::vector<std::string>& args);

} // namespace tunavox::cli
