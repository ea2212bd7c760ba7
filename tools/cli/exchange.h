#pragma once
// The exchange commands of tunavox-cli: ports, read, write.
#include <string>
#include <vector>

namespace tunavox::cli {

int Ports();
int Read(const std::vector<std::string>& args);
int Write(const std::vector<std::string>& args);

} // namespace tunavox::cli
