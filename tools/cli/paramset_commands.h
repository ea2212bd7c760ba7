#pragma once
// The parameter set commands of tunavox-cli: backup, compare, restore.
#include <cstdint>
#include <string>
#include <vector>

namespace tunavox::cli {

int Backup(const std::vector<std::string>& args);
int Compare(const std::vector<std::string>& args);
int Restore(const std::vector<std::string>& args);

} // namespace tunavox::cli
