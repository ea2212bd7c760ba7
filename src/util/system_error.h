#pragma once
#include <string>

namespace tunavox {

// The user's words for an operating-system error code: Russian for the errors a user
// meets with files and ports (missing, no permission, no space, read-only, a folder,
// input/output, busy, not a device), the system's own text for the rest, without
// trailing blanks or full stops.
std::string SystemErrorText(int code);

} // namespace tunavox
