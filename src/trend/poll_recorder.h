#pragma once
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace tunavox {

// One completed poll read as a recording line: local time with milliseconds, code,
// name with units, value and error as the table and the status line show them.
struct TPollSample {
    std::string Time; // "YYYY-MM-DD hh:mm:ss.zzz"
    std::string Code;
    std::string Name;
    std::string Value;
    std::string Error;
};

// The line of a sample in the recording: the CSV export's separator, quoting, line
// end and encoding (Windows-1251).
std::string RecordingLine(const TPollSample& sample);
// The recording's first line.
std::string RecordingHeader();

// Appends poll samples to a file, one line each, written and flushed to the disk
// when the sample arrives, on a thread of its own so a slow disk never stalls the
// caller. A kill or a power cut loses at most the line being written; appending to
// an existing file never damages what it holds (a line cut short by a crash is ended
// first). A write failure stops the recording; OnFailure (called on the recorder's
// thread) and Failure() say why.
class TPollRecorder {
public:
    TPollRecorder() = default;
    ~TPollRecorder();
    TPollRecorder(const TPollRecorder&) = delete;
    TPollRecorder& operator=(const TPollRecorder&) = delete;

    // Opens path for appending (creating it with the header line). False and the
    // reason when it cannot.
    bool Start(const std::string& path, std::string& error);
    // Writes what is queued, then closes the file.
    void Stop();
    bool Recording() const;
    // Queues one line; ignored once stopped or failed.
    void Record(const TPollSample& sample);
    // Waits until everything queued so far is on the disk (or failed).
    void Flush();
    std::string Failure() const;

    // Set before Start.
    std::function<void(const std::string& error)> OnFailure;

    // Lines waiting beyond this are a failure: the disk does not keep up.
    static constexpr size_t kMaxQueued = 100000;

private:
    void Body();
    bool WriteAll(const std::string& bytes, std::string& error);

    mutable std::mutex lock_; // guards everything below but fd_'s writes
    std::condition_variable changed_;
    std::deque<std::string> queue_;
    bool stopping_ = false;
    bool running_ = false;
    bool writing_ = false;
    std::string failure_;
    int fd_ = -1;
    std::thread thread_;
};

} // namespace tunavox
