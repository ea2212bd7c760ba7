#include "util/hex_text.h"

namespace tunavox {

std::string HexBytes(std::string_view bytes) {
    static const char* const kHex = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (unsigned char c : bytes) {
        if (!out.empty()) out += ' ';
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    return out;
}

} // namespace tunavox
