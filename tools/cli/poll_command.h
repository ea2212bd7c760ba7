#pragma once
// tunavox-cli poll.
#include <string>
#include <vector>

namespace tunavox::cli {

int Poll(const std::vector<std::string>& args);

} // namespace tunavox::cli
