#pragma once
// The exchange commands of tunavox-cli: ports, read, write.
#include <string>
#include <vector>

namespace tunavox::cli {

// The system's serial ports, as "ports" lists them; false when the list cannot be read.
bool SystemPorts(std::vector<std::string>& ports);
int Ports();
int Read(const std::vector<std::string>& args);
int Write(const std::vector<std::string>& args);

} // namespace tunavox::cli
