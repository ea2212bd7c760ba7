#include "trend/poll_pace.h"

#include "util/time_text.h"

#include <chrono>
#include <cstdlib>
#include <utility>

namespace tunavox {

bool TPollPace::Parse(const std::string& text, int& ms, std::string& error) {
    char* end = nullptr;
    const long long v = text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' '
                            ? -1
                            : std::strtoll(text.c_str(), &end, 10);
    if (v < 0 || (end && *end) || !Valid(v)) {
        error = "период опроса: 0 (как можно чаще) или от " + std::to_string(kMinMs) + " до " +
                std::to_string(kMaxMs) + " мс";
        return false;
    }
    ms = static_cast<int>(v);
    return true;
}

std::string TPollPace::Text(int ms) {
    if (ms <= 0) return "как можно чаще";
    if (ms % 1000 != 0) return std::to_string(ms) + " мс";
    int s = ms / 1000;
    std::string out;
    const auto part = [&](int n, const char* unit) {
        if (n == 0) return;
        if (!out.empty()) out += ' ';
        out += std::to_string(n) + ' ' + unit;
    };
    part(s / 3600, "ч");
    s %= 3600;
    part(s / 60, "мин");
    part(s % 60, "с");
    return out;
}

void TPollPace::SetPeriod(int ms) {
    period_ = Valid(ms) ? ms : 0;
}

int64_t TPollPace::BeforePass(int64_t nowMs) {
    if (period_ > 0 && started_) {
        const int64_t due = lastStart_ + period_;
        // A clock set back makes the wait at most one period.
        if (nowMs < due && due - nowMs <= period_) return due - nowMs;
    }
    started_ = true;
    anchorPending_ = true;
    lastStart_ = nowMs;
    return 0;
}

void TPollPace::ExchangeBegan(int64_t startedMs) {
    if (!std::exchange(anchorPending_, false)) return;
    if (startedMs > lastStart_) lastStart_ = startedMs;
}

int64_t TPollPace::BeforePass() {
    return BeforePass(SteadyMs());
}

} // namespace tunavox
