#pragma once
#include <functional>
#include <string>
#include <string_view>

namespace tunavox {

// Gathers the bytes of a protocol 2.0 answer as they arrive. After every chunk it
// re-synchronises on the last STX (dropping what stands before it) and tries to
// unstuff a frame whose CRC is right. The buffer is never shortened by a failed
// try, so later bytes extend it.
class TFrameCollector {
public:
    // Called with bytes dropped in front of an STX (or a whole buffer without one).
    using Dropped = std::function<void(std::string_view)>;

    explicit TFrameCollector(Dropped onDropped = {}) : onDropped_(std::move(onDropped)) {}

    // Appends a chunk; true once the buffer holds a whole frame with a valid CRC.
    bool Append(std::string_view chunk);

    const std::string& Buffer() const { return buffer_; }
    // The answer payload (header and CRC removed) once Append returned true.
    const std::string& Answer() const { return answer_; }
    // Some bytes were dropped for want of an STX.
    bool Junk() const { return junk_; }

private:
    void Resync();
    bool TryExtract();

    std::string buffer_;
    std::string answer_;
    bool junk_ = false;
    Dropped onDropped_;
};

} // namespace tunavox
