#include "util/time_text.h"

#include <cstdio>
#include <ctime>

namespace tunavox {

int64_t WallClockMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

int64_t SteadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string LocalTimeText(std::chrono::system_clock::time_point t, bool millis) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(t);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    char buf[48];
    int n =
        std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
                      local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    if (millis) {
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count() %
            1000;
        std::snprintf(buf + n, sizeof buf - static_cast<size_t>(n), ".%03d",
                      static_cast<int>(ms < 0 ? ms + 1000 : ms));
    }
    return buf;
}

std::string LocalTimeWithOffset(std::chrono::system_clock::time_point t) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(t);
    long offset = 0; // seconds east of UTC
#ifdef _WIN32
    std::tm local{}, utc{};
    localtime_s(&local, &seconds);
    gmtime_s(&utc, &seconds);
    // The UTC fields read as local time are off by the offset.
    utc.tm_isdst = local.tm_isdst;
    offset = static_cast<long>(seconds - std::mktime(&utc));
#else
    std::tm local{};
    localtime_r(&seconds, &local);
    offset = local.tm_gmtoff;
#endif
    const long minutes = (offset < 0 ? -offset : offset) / 60;
    char zone[48];
    std::snprintf(zone, sizeof zone, " %c%02ld:%02ld", offset < 0 ? '-' : '+', minutes / 60,
                  minutes % 60);
    return LocalTimeText(t, true) + zone;
}

bool ParseTimeWithOffset(const std::string& s, int64_t& utcMs) {
    // "YYYY-MM-DD hh:mm:ss[.zzz] +hh:mm"
    const auto digits = [&s](size_t at, size_t n, int& out) {
        if (at + n > s.size()) return false;
        out = 0;
        for (size_t i = at; i < at + n; ++i) {
            if (s[i] < '0' || s[i] > '9') return false;
            out = out * 10 + (s[i] - '0');
        }
        return true;
    };
    int hour = 0, minute = 0, second = 0, millis = 0, zh = 0, zm = 0;
    if (s.size() < 26 || !IsDateText(s.substr(0, 10)) || s[10] != ' ' || s[13] != ':' ||
        s[16] != ':' || !digits(11, 2, hour) || !digits(14, 2, minute) ||
        !digits(17, 2, second) || hour > 23 || minute > 59 || second > 60)
        return false;
    size_t at = 19;
    if (s[at] == '.') {
        if (!digits(at + 1, 3, millis)) return false;
        at += 4;
    }
    if (s.size() != at + 7 || s[at] != ' ' || (s[at + 1] != '+' && s[at + 1] != '-') ||
        s[at + 4] != ':' || !digits(at + 2, 2, zh) || !digits(at + 5, 2, zm) || zm > 59)
        return false;
    const std::chrono::year_month_day date{
        std::chrono::year(std::stoi(s.substr(0, 4))),
        std::chrono::month(static_cast<unsigned>(std::stoi(s.substr(5, 2)))),
        std::chrono::day(static_cast<unsigned>(std::stoi(s.substr(8, 2))))};
    const int64_t days = std::chrono::sys_days(date).time_since_epoch().count();
    const int64_t offset = (zh * 60 + zm) * int64_t{60000} * (s[at + 1] == '-' ? -1 : 1);
    utcMs = ((days * 24 + hour) * 60 + minute) * int64_t{60000} + second * int64_t{1000} +
            millis - offset;
    return true;
}

bool IsDateText(const std::string& s) {
    if (s.size() != 10 || s[4] != '-' || s[7] != '-') return false;
    for (size_t i = 0; i < s.size(); ++i)
        if (i != 4 && i != 7 && (s[i] < '0' || s[i] > '9')) return false;
    const int year = std::stoi(s.substr(0, 4)), month = std::stoi(s.substr(5, 2)),
              day = std::stoi(s.substr(8, 2));
    if (year < 1 || month < 1 || month > 12 || day < 1) return false;
    const std::chrono::year_month_day date{std::chrono::year(year),
                                           std::chrono::month(static_cast<unsigned>(month)),
                                           std::chrono::day(static_cast<unsigned>(day))};
    return date.ok();
}

} // namespace tunavox
