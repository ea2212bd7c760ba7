#pragma once
#include <string>
#include <vector>

namespace tunavox::cli {

// tunavox-cli journal [--since YYYY-MM-DD] [--until YYYY-MM-DD] [--device NAME] [--journal DIR]
int Journal(const std::vector<std::string>& args);

} // namespace tunavox::cli
