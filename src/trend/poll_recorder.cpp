#include "trend/poll_recorder.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "device/table_text.h"
#include "device/value_codec.h"
#include "util/cp1251.h"
#include "util/system_error.h"
#include "util/time_text.h"

namespace tunavox {

TPollSample PollSampleOf(const TReg& reg, int64_t timeMs, const TValue& value,
                         const std::string& error, const TNameValueList* errorTexts) {
    TPollSample s;
    // With the offset from UTC: when summer time ends the clock goes back an hour, and
    // the offset keeps the times in order.
    s.Time = LocalTimeWithOffset(
        std::chrono::system_clock::time_point(std::chrono::milliseconds(timeMs)));
    s.Code = CodeText(reg);
    s.Name = NameText(reg);
    if (error.empty())
        s.Value = reg.DisplayTextOf(value);
    else if (error.size() == 1 && (error[0] == 1 || error[0] == 4))
        s.Value = DeviceErrorText(error[0], errorTexts);
    s.Error = error.empty() ? std::string() : ErrorTextInWords(error, errorTexts);
    return s;
}

std::string RecordingLine(const TPollSample& s) {
    const std::string device = s.Device.empty() ? std::string() : DelimitedField(s.Device) + ";";
    return Utf8ToCp1251(DelimitedField(s.Time) + ";" + device + DelimitedField(s.Code) + ";" +
                        DelimitedField(s.Name) + ";" + DelimitedField(s.Value) + ";" +
                        DelimitedField(s.Error) + "\r\n");
}

std::string RecordingHeader(bool withDevice) {
    return RecordingLine(
        {"Время", "Код", "Параметр", "Значение", "Ошибка", withDevice ? "ID" : ""});
}

std::string EncodedLine(const std::string& utf8) {
    return Utf8ToCp1251(utf8 + "\r\n");
}

TWideRecording::TWideRecording(std::vector<TColumn> columns)
    : columns_(std::move(columns)), cells_(columns_.size()) {}

std::string TWideRecording::Header() const {
    std::string line = "Время";
    for (const TColumn& c : columns_)
        line += ";" + DelimitedField(c.Title);
    return line;
}

std::string TWideRecording::Add(int node, const TPollSample& sample) {
    size_t i = 0;
    while (i < columns_.size() && columns_[i].Node != node)
        ++i;
    if (i == columns_.size()) return {};
    // A row read again begins the next pass.
    std::string done = cells_[i] ? Finish() : std::string();
    if (filled_ == 0) time_ = sample.Time;
    cells_[i] = sample.Error.empty() ? sample.Value : std::string();
    ++filled_;
    if (filled_ == columns_.size()) done += Finish();
    return done;
}

std::string TWideRecording::Finish() {
    if (filled_ == 0) return {};
    std::string line = DelimitedField(time_);
    for (std::optional<std::string>& cell : cells_) {
        line += ";" + DelimitedField(cell.value_or(std::string()));
        cell.reset();
    }
    filled_ = 0;
    return line;
}

TPollRecorder::~TPollRecorder() {
    Stop();
}

namespace {

// Releases the lock when Start is done.
struct FileLock {
    TOsFile& file;
    explicit FileLock(TOsFile& f) : file(f) { file.Lock(); }
    ~FileLock() { file.Unlock(); }
};

} // namespace

bool TPollRecorder::Start(const std::string& path, std::string& error,
                          const std::string& wideHeader) {
    Stop();
    tornRemoved_ = false;
    lines_ = 0;
    written_ = -1;
    int code = 0;
    if (!file_.OpenAppend(path, true, code)) {
        error = SystemErrorText(code);
        return false;
    }
    const auto refuse = [&](const std::string& why) {
        error = why;
        file_.Close();
        return false;
    };
    if (!file_.IsRegular()) return refuse("это не обычный файл");
    {
        // Two recorders starting on one new file: only one writes the header.
        const FileLock lock(file_);
        int64_t size = 0;
        if (!file_.Size(size, code)) return refuse(SystemErrorText(code));
        const std::string header = wideHeader.empty() ? RecordingHeader() : EncodedLine(wideHeader);
        // The header's length, and enough beyond it to tell a recording of another kind.
        std::string probe(std::max<size_t>(header.size(), 4096), '\0');
        const long long read = size > 0 ? file_.ReadAt(probe.data(), probe.size(), 0, code) : 0;
        if (read < 0) return refuse(SystemErrorText(code));
        probe.resize(static_cast<size_t>(read));
        const std::string first = probe.substr(0, header.size());
        const auto got = static_cast<long long>(first.size());
        // Only a recording is appended to; a header cut short is a torn first line.
        const bool tornHeader = static_cast<size_t>(got) < header.size() && got == size &&
                                header.compare(0, first.size(), first) == 0;
        if (size > 0 && first != header && !tornHeader) {
            // A recording of the other kind, or of other rows, is not mixed in either.
            const size_t end = probe.find("\r\n");
            const bool recording = probe.rfind(Utf8ToCp1251("Время;"), 0) == 0 &&
                                   end != std::string::npos && probe.find('\n') == end + 1;
            return refuse(recording ? "в файле запись опроса другого вида или других "
                                      "параметров (первая строка не совпадает), выберите "
                                      "другой файл"
                                    : "файл не является записью опроса (первая строка не "
                                      "заголовок записи), выберите другой файл");
        }
        // A last line cut short by a crash is taken away, so no fragment reads as a value.
        const int64_t keep = tornHeader ? 0 : EndOfLastLine(file_, size, code);
        if (keep < 0) return refuse(SystemErrorText(code));
        if (keep < size) {
            if (!file_.Truncate(keep, code)) return refuse(SystemErrorText(code));
            tornRemoved_ = true;
        }
        std::string writeError;
        if (keep == 0 && !WriteAll(header, writeError)) return refuse(writeError);
    }
    {
        std::lock_guard<std::mutex> g(lock_);
        failure_.clear();
        stopping_ = false;
        running_ = true;
    }
    thread_ = std::thread([this] { Body(); });
    return true;
}

void TPollRecorder::Stop() {
    {
        std::lock_guard<std::mutex> g(lock_);
        if (!thread_.joinable()) return;
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
    std::lock_guard<std::mutex> g(lock_);
    file_.Close();
    running_ = false;
    queue_.clear();
}

bool TPollRecorder::Recording() const {
    std::lock_guard<std::mutex> g(lock_);
    return running_ && failure_.empty();
}

std::string TPollRecorder::Failure() const {
    std::lock_guard<std::mutex> g(lock_);
    return failure_;
}

void TPollRecorder::Record(const TPollSample& sample) {
    Queue(RecordingLine(sample));
}

void TPollRecorder::RecordText(const std::string& utf8) {
    Queue(EncodedLine(utf8));
}

void TPollRecorder::Queue(std::string line) {
    std::function<void(const std::string&)> report;
    {
        std::lock_guard<std::mutex> g(lock_);
        if (!running_ || stopping_ || !failure_.empty()) return;
        if (queue_.size() >= kMaxQueued) {
            failure_ = "запись на диск не успевает за опросом";
            queue_.clear();
            report = OnFailure;
        } else {
            queue_.push_back(std::move(line));
        }
    }
    changed_.notify_all();
    if (report) report(Failure());
}

void TPollRecorder::Flush() {
    std::unique_lock<std::mutex> lk(lock_);
    changed_.wait(
        lk, [this] { return !writing_ && (queue_.empty() || !failure_.empty() || !running_); });
}

bool TPollRecorder::WriteAll(const std::string& bytes, std::string& error) {
    int code = 0;
    int64_t before = -1;
    if (!file_.Size(before, code)) before = -1;
    // Emptied or cut short meanwhile (truncate, an editor): writing on would leave
    // lines without a header, which no later recording may append to.
    if (written_ >= 0 && before >= 0 && before < written_) {
        error = "файл записи усечён";
        return false;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        const long long n = file_.Append(bytes.data() + done, bytes.size() - done, code);
        if (n <= 0) {
            error = SystemErrorText(n < 0 ? code : kErrorNoSpace);
            // What went out of this line is taken back: the file ends on a whole line.
            if (done > 0 && before >= 0) file_.Truncate(before, code);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    // On the disk before the next sample: a power cut keeps what was written.
    if (!file_.Sync(code)) {
        error = SystemErrorText(code);
        return false;
    }
    // A file removed meanwhile takes the writes without complaint, and loses them.
    if (file_.Removed()) {
        error = "файл записи удалён";
        return false;
    }
    if (before >= 0) written_ = before + static_cast<int64_t>(bytes.size());
    return true;
}

void TPollRecorder::Body() {
    for (;;) {
        std::string line;
        {
            std::unique_lock<std::mutex> lk(lock_);
            changed_.wait(lk, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty() || !failure_.empty()) {
                if (stopping_ || !failure_.empty()) break;
                continue;
            }
            line = std::move(queue_.front());
            queue_.pop_front();
            writing_ = true;
        }
        std::string error;
        const bool ok = WriteAll(line, error);
        std::function<void(const std::string&)> report;
        if (ok) lines_.fetch_add(1, std::memory_order_relaxed);
        {
            std::lock_guard<std::mutex> g(lock_);
            if (ok) writing_ = false;
            if (!ok) {
                failure_ = error;
                queue_.clear();
                report = OnFailure;
            }
        }
        if (!ok) {
            // Told before Flush returns.
            if (report) report(error);
            std::lock_guard<std::mutex> g(lock_);
            writing_ = false;
        }
        changed_.notify_all();
        if (!ok) break;
    }
    changed_.notify_all();
}

} // namespace tunavox
