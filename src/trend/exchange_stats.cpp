#include "trend/exchange_stats.h"

#include <algorithm>
#include <cmath>

#include "device/value_codec.h"
#include "util/plural.h"

namespace tunavox {

void TExchangeStats::Record(const std::string& error, Clock::time_point at, uint32_t device,
                            int firstByteMs) {
    std::lock_guard<std::mutex> g(lock_);
    if (done_++ == 0) started_ = at;
    Snapshot::TDevice& mine = devices_[device];
    ++mine.Done;
    if (!error.empty()) {
        ++failed_;
        ++mine.Failed;
        ++failures_[error];
    }
    recent_.push_back(at);
    while (!recent_.empty() && at - recent_.front() > kWindow)
        recent_.pop_front();
    if (firstByteMs >= 0) firstBytes_.emplace_back(at, firstByteMs);
    while (!firstBytes_.empty() && at - firstBytes_.front().first > kWindow)
        firstBytes_.pop_front();
}

void TExchangeStats::RecordOutage(std::chrono::milliseconds length) {
    std::lock_guard<std::mutex> g(lock_);
    ++outages_;
    outageTime_ += length;
}

void TExchangeStats::Reset() {
    std::lock_guard<std::mutex> g(lock_);
    done_ = failed_ = outages_ = 0;
    outageTime_ = {};
    failures_.clear();
    devices_.clear();
    recent_.clear();
    firstBytes_.clear();
}

TExchangeStats::Snapshot TExchangeStats::Take(Clock::time_point now) const {
    std::lock_guard<std::mutex> g(lock_);
    while (!recent_.empty() && now - recent_.front() > kWindow)
        recent_.pop_front();
    while (!firstBytes_.empty() && now - firstBytes_.front().first > kWindow)
        firstBytes_.pop_front();
    Snapshot s;
    s.Answers = firstBytes_.size();
    double sum = 0;
    s.FirstByteMinMs = firstBytes_.empty() ? 0 : firstBytes_.front().second;
    for (const auto& [at, ms] : firstBytes_) {
        sum += ms;
        s.FirstByteMinMs = std::min(s.FirstByteMinMs, ms);
    }
    if (s.Answers > 0) s.FirstByteMs = sum / static_cast<double>(s.Answers);
    s.Done = done_;
    s.Failed = failed_;
    s.Failures = failures_;
    s.Devices = devices_;
    s.Outages = outages_;
    s.OutageTime = outageTime_;
    // Until the window is full, over the time polling has run (at least a second).
    const double ran = done_ == 0 ? 1.0 : std::chrono::duration<double>(now - started_).count();
    const double span = std::clamp(ran, 1.0, static_cast<double>(kWindow.count()));
    s.Rate = static_cast<double>(recent_.size()) / span;
    return s;
}

std::string TExchangeStats::Text(const Snapshot& s) {
    return "Обмен: " + std::to_string(s.Done) + ", ошибок: " + std::to_string(s.Failed) + ", " +
           (s.Outages > 0 ? "обрывов связи: " + std::to_string(s.Outages) + ", " : "") +
           std::to_string(static_cast<long long>(std::lround(s.Rate))) + "/с";
}

std::string TExchangeStats::DevicesText(const Snapshot& s) {
    std::string out;
    if (s.Devices.size() < 2) return out;
    for (const auto& [id, count] : s.Devices)
        out += (out.empty() ? "" : "\n") + std::string("ID ") + std::to_string(id) + ": обмен " +
               std::to_string(count.Done) + ", ошибок " + std::to_string(count.Failed);
    return out;
}

namespace {

// "17,5": one decimal, as the window's other numbers.
std::string FixedText(double v) {
    const long long tenths = std::llround(v * 10);
    return std::to_string(tenths / 10) + "," + std::to_string(tenths % 10);
}

} // namespace

std::string TExchangeStats::Hint(const Snapshot& s, const TNameValueList* errorTexts) {
    std::string out;
    for (const auto& [text, count] : s.Failures)
        out += (out.empty() ? "" : "\n") + ErrorTextInWords(text, errorTexts) + ": " +
               std::to_string(count);
    if (s.Outages > 0)
        out += (out.empty() ? "" : "\n") + std::string("Связь терялась: ") +
               CountText(static_cast<long long>(s.Outages), "раз", "раза", "раз") + ", всего " +
               std::to_string((s.OutageTime.count() + 500) / 1000) + " с";
    if (out.empty()) out = "Ошибок обмена нет";
    if (s.Answers > 0)
        out += "\nОтвет начинается через " + FixedText(s.FirstByteMs) +
               " мс после запроса (в среднем за 10 с, наименьшее " +
               std::to_string(s.FirstByteMinMs) + " мс)";
    return out;
}

} // namespace tunavox
