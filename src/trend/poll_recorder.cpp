#include "trend/poll_recorder.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "device/table_text.h"
#include "util/cp1251.h"
#include "util/system_error.h"

namespace tunavox {

std::string RecordingLine(const TPollSample& s) {
    return Utf8ToCp1251(DelimitedField(s.Time) + ";" + DelimitedField(s.Code) + ";" +
                        DelimitedField(s.Name) + ";" + DelimitedField(s.Value) + ";" +
                        DelimitedField(s.Error) + "\r\n");
}

std::string RecordingHeader() {
    return RecordingLine({"Время", "Код", "Параметр", "Значение", "Ошибка"});
}

TPollRecorder::~TPollRecorder() {
    Stop();
}

bool TPollRecorder::Start(const std::string& path, std::string& error) {
    Stop();
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0) {
        error = SystemErrorText(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "это не обычный файл";
        ::close(fd);
        return false;
    }
    std::string first;
    if (st.st_size == 0) {
        first = RecordingHeader();
    } else {
        // A last line cut short (a crash while writing it) is ended, so the new lines
        // stay whole.
        char last = '\n';
        if (::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n') first = "\r\n";
    }
    {
        std::lock_guard<std::mutex> g(lock_);
        fd_ = fd;
        failure_.clear();
        stopping_ = false;
        running_ = true;
        if (!first.empty()) queue_.push_back(first);
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
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
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
    std::string line = RecordingLine(sample);
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
    const off_t before = ::lseek(fd_, 0, SEEK_END);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = SystemErrorText(n < 0 ? errno : ENOSPC);
            // What went out of this line is taken back: the file ends on a whole line.
            if (done > 0 && before >= 0 && ::ftruncate(fd_, before) != 0) {
            }
            return false;
        }
        done += static_cast<size_t>(n);
    }
    // On the disk before the next sample: a power cut keeps what was written.
    if (::fdatasync(fd_) != 0 && errno != EINVAL) {
        error = SystemErrorText(errno);
        return false;
    }
    // A file removed meanwhile takes the writes without complaint, and loses them.
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && st.st_nlink == 0) {
        error = "файл записи удалён";
        return false;
    }
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
