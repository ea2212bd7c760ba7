#pragma once
// tunavox-cli poll.
#include <functional>
#include <string>
#include <vector>

namespace tunavox {
class TPollRecorder;
class TWideRecording;
} // namespace tunavox

namespace tunavox::cli {

// Ends a poll: the wide recording's pass begun goes out as far as it got, and the
// recording is flushed and closed. The exit status: 2 when the recording failed (said
// on stderr), 1 when a read failed, else 0.
int FinishPoll(TWideRecording* wide, TPollRecorder& recorder,
               const std::function<void(const std::string&)>& emit, const std::string& output,
               bool failed);

int Poll(const std::vector<std::string>& args);

} // namespace tunavox::cli
