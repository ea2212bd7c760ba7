#include "link/frame_collector.h"

#include "link/frame.h"

namespace tunavox {

bool TFrameCollector::Append(std::string_view chunk) {
    buffer_.append(chunk);
    Resync();
    return TryExtract();
}

void TFrameCollector::Resync() {
    const size_t stx = buffer_.rfind(kStx);
    if (stx == 0) return;
    const size_t cut = stx == std::string::npos ? buffer_.size() : stx;
    if (onDropped_) onDropped_(std::string_view(buffer_).substr(0, cut));
    buffer_.erase(0, cut);
    junk_ = true;
}

bool TFrameCollector::TryExtract() {
    if (buffer_.size() < 5) return false;
    const std::string frame = UnstuffFrame(buffer_);
    // Unstuffing can shorten five bytes to four; such a run is no frame (header + CRC).
    if (frame.size() < 5 || !CheckCRC(frame, 4)) return false;
    answer_ = frame.substr(3, frame.size() - 5);
    return true;
}

} // namespace tunavox
