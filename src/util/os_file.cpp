#include "util/os_file.h"

namespace tunavox {

int64_t EndOfLastLine(const TOsFile& file, int64_t size, int& code) {
    char buf[4096];
    int64_t end = size;
    char after = 0; // the byte after buf's last, once read
    while (end > 0) {
        const int64_t start = end > static_cast<int64_t>(sizeof buf) ? end - sizeof buf : 0;
        const auto n = static_cast<size_t>(end - start);
        if (file.ReadAt(buf, n, start, code) != static_cast<long long>(n)) return -1;
        for (size_t i = n; i-- > 0;) {
            const char next = i + 1 < n ? buf[i + 1] : after;
            if (buf[i] == '\r' && next == '\n' && start + static_cast<int64_t>(i) + 2 <= size)
                return start + static_cast<int64_t>(i) + 2;
        }
        after = buf[0];
        end = start;
    }
    return 0;
}

} // namespace tunavox
