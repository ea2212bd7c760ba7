#pragma once
#include <string>
#include <string_view>

namespace tunavox {

// Bytes as upper-case hex pairs separated by blanks: "02 00 03".
std::string HexBytes(std::string_view bytes);

} // namespace tunavox
