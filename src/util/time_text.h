#pragma once
#include <chrono>
#include <cstdint>
#include <string>

namespace tunavox {

// Local date and time as "YYYY-MM-DD hh:mm:ss", with ".zzz" milliseconds when asked.
std::string LocalTimeText(std::chrono::system_clock::time_point t, bool millis);
// Local time with milliseconds and the offset from UTC: "2026-12-09 16:03:33.123 +03:00",
// so times stay in order across a change to or from summer time.
std::string LocalTimeWithOffset(std::chrono::system_clock::time_point t);
// Reads a time as LocalTimeWithOffset writes it (milliseconds optional) into milliseconds
// since the epoch, UTC; false for any other text.
bool ParseTimeWithOffset(const std::string& text, int64_t& utcMs);
// Now, in milliseconds: since the epoch by the wall clock (for times shown and recorded),
// and by the steady clock (for intervals, immune to clock changes).
int64_t WallClockMs();
int64_t SteadyMs();
// Whether text is a date of the calendar as "YYYY-MM-DD" (2026-02-30 is not).
bool IsDateText(const std::string& text);

} // namespace tunavox
