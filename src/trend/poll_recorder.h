#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "device/reg.h"

#include "util/os_file.h"

namespace tunavox {

// One completed poll read as a recording line: local time with milliseconds, code,
// name with units, value and error as the table and the status line show them.
struct TPollSample {
    std::string Time; // "YYYY-MM-DD hh:mm:ss.zzz +hh:mm" (recordings before had no offset)
    std::string Code;
    std::string Name;
    std::string Value;
    std::string Error;
    // The device's ID when several devices are polled (a field of its own after the
    // time); empty with one device, whose recording keeps its form.
    std::string Device{};
};

// The sample of one poll read of reg that ended at timeMs (ms since the epoch) with
// value and the action's error text: the value as the table shows it (a device's code
// 1 or 4 in words, as its cell shows it; nothing after any other failure) and the
// error in words. The recording and the chart's data export both write these.
TPollSample PollSampleOf(const TReg& reg, int64_t timeMs, const TValue& value,
                         const std::string& error, const TNameValueList* errorTexts);

// The line of a sample in the recording: the CSV export's separator, quoting, line
// end and encoding (Windows-1251).
std::string RecordingLine(const TPollSample& sample);
// The recording's first line; with the device field when several devices are polled.
std::string RecordingHeader(bool withDevice = false);
// A line of UTF-8 text as the recording holds it: Windows-1251 ending in CR LF.
std::string EncodedLine(const std::string& utf8);

// The wide recording: one line per poll pass with the time and a column per polled
// row ("Время;0x200 Выходная частота [Гц];…"), values as the table shows them and an
// empty cell for a failed read, as a spreadsheet reads it. The columns are fixed when
// the recording starts; a row polled besides them is left out.
class TWideRecording {
public:
    struct TColumn {
        int Node;          // the row whose samples fill the column
        std::string Title; // code and name with units
    };
    explicit TWideRecording(std::vector<TColumn> columns);

    // The first line (UTF-8, fields joined by ';').
    std::string Header() const;
    // Adds the sample of node's read. Returns the finished pass's line when this
    // sample completes it or begins the next one (a row read again), else "".
    std::string Add(int node, const TPollSample& sample);
    // The pass begun and not finished (when the recording stops), or "".
    std::string Finish();

private:
    std::vector<TColumn> columns_;
    std::vector<std::optional<std::string>> cells_; // the current pass
    std::string time_;                              // of its first sample
    size_t filled_ = 0;
};

// Appends poll samples to a file, one line each, written and flushed to the disk
// when the sample arrives, on a thread of its own so a slow disk never stalls the
// caller. A kill or a power cut loses at most the line being written; appending to
// an existing recording never damages what it holds (a line cut short by a crash is
// cut away first), and a file that is not a recording is never appended to. A write
// failure stops the recording; OnFailure (called on the recorder's thread) and
// Failure() say why.
class TPollRecorder {
public:
    TPollRecorder() = default;
    ~TPollRecorder();
    TPollRecorder(const TPollRecorder&) = delete;
    TPollRecorder& operator=(const TPollRecorder&) = delete;

    // Opens path for appending (creating it with the header line). An existing file
    // must begin with the header. False and the reason when it cannot. header is a
    // wide recording's first line (UTF-8); by default one line per read.
    bool Start(const std::string& path, std::string& error, const std::string& header = {});
    // Whether Start cut a torn last line away.
    bool TornLineRemoved() const { return tornRemoved_; }
    // Lines written since Start (the header not counted).
    uint64_t Lines() const { return lines_.load(std::memory_order_relaxed); }
    // Writes what is queued, then closes the file.
    void Stop();
    bool Recording() const;
    // Queues one line; ignored once stopped or failed.
    void Record(const TPollSample& sample);
    // Queues a line of UTF-8 text (a wide recording's pass).
    void RecordText(const std::string& utf8);
    // Waits until everything queued so far is on the disk (or failed).
    void Flush();
    std::string Failure() const;

    // Set before Start.
    std::function<void(const std::string& error)> OnFailure;

    // Lines waiting beyond this are a failure: the disk does not keep up.
    static constexpr size_t kMaxQueued = 100000;

private:
    void Body();
    void Queue(std::string line);
    bool WriteAll(const std::string& bytes, std::string& error);

    mutable std::mutex lock_; // guards everything below but file_'s writes
    std::condition_variable changed_;
    std::deque<std::string> queue_;
    bool stopping_ = false;
    bool running_ = false;
    bool writing_ = false;
    std::string failure_;
    TOsFile file_; // opened by Start, written by the thread, closed by Stop
    std::thread thread_;
    bool tornRemoved_ = false; // set in Start only
    // The file's size after our last write (-1: unknown); a smaller file was cut
    // under us. Written by Start and then by the thread only.
    int64_t written_ = -1;
    std::atomic<uint64_t> lines_{0};
};

} // namespace tunavox
