// Feeds arbitrary byte streams, cut into chunks, to the protocol 2.0 frame collector,
// and checks that stuffing and unstuffing are exact inverses.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "link/frame.h"
#include "link/frame_collector.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    const size_t step = 1 + data[0] % 17;

    size_t droppedBytes = 0;
    tunavox::TFrameCollector collector([&](std::string_view d) { droppedBytes += d.size(); });
    for (size_t pos = 0; pos < bytes.size(); pos += step) {
        if (collector.Append(std::string_view(bytes).substr(pos, step))) {
            // An accepted answer always re-frames to what was collected.
            const std::string frame = tunavox::UnstuffFrame(collector.Buffer());
            if (!tunavox::CheckCRC(frame, 4) || frame.size() != collector.Answer().size() + 5)
                abort();
            break;
        }
    }
    if (droppedBytes > bytes.size()) abort();

    if (tunavox::UnstuffFrame(tunavox::StuffFrame(bytes)) != bytes) abort();
    (void)tunavox::UnstuffFrame(bytes);
    return 0;
}
