#pragma once
#include <chrono>
#include <string>

namespace tunavox {

// Local date and time as "YYYY-MM-DD hh:mm:ss", with ".zzz" milliseconds when asked.
std::string LocalTimeText(std::chrono::system_clock::time_point t, bool millis);

} // namespace tunavox
