#pragma once
// tunavox-cli site: a site folder made from the devices of a line, and checked again.
#include <string>
#include <vector>

namespace tunavox::cli {

// site new DIR --port NAME [--version 1|2] [--gateway] --device FILE:ID... [--name TEXT]
// site check DIR
int Site(const std::vector<std::string>& args);

} // namespace tunavox::cli
