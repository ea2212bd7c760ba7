#include "util/mnemonics.h"

namespace tunavox {
namespace {

std::u32string Decode(const std::string& s) {
    std::u32string out;
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const int n = c < 0x80         ? 1
                      : (c >> 5) == 6  ? 2
                      : (c >> 4) == 14 ? 3
                      : (c >> 3) == 30 ? 4
                                       : 1;
        char32_t cp = n == 1 ? c : c & (0x7F >> n);
        for (int k = 1; k < n && i + k < s.size(); ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
        out += cp;
        i += static_cast<size_t>(n);
    }
    return out;
}

void Encode(char32_t c, std::string& out) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Latin and Cyrillic letters folded to lower case, digits as they are; 0 for
// anything that cannot be a mnemonic.
char32_t Key(char32_t c) {
    if ((c >= U'a' && c <= U'z') || (c >= U'0' && c <= U'9')) return c;
    if (c >= U'A' && c <= U'Z') return c + 0x20;
    if (c >= 0x430 && c <= 0x44F) return c;
    if (c >= 0x410 && c <= 0x42F) return c + 0x20;
    if (c == 0x451 || c == 0x401) return 0x451; // ё
    return 0;
}

} // namespace

std::vector<std::string> WithMnemonics(const std::vector<std::string>& texts,
                                       std::u32string taken) {
    std::vector<std::string> out;
    for (const std::string& text : texts) {
        const std::u32string s = Decode(text);
        const auto free = [&](size_t i) {
            const char32_t k = Key(s[i]);
            return k != 0 && taken.find(k) == std::u32string::npos;
        };
        size_t pick = s.size();
        // Initials first (in order), then any letter or digit.
        for (size_t i = 0; i < s.size() && pick == s.size(); ++i)
            if ((i == 0 || Key(s[i - 1]) == 0) && free(i)) pick = i;
        for (size_t i = 0; i < s.size() && pick == s.size(); ++i)
            if (free(i)) pick = i;
        std::string marked;
        for (size_t i = 0; i < s.size(); ++i) {
            if (i == pick) {
                marked += '&';
                taken += Key(s[i]);
            }
            if (s[i] == U'&') marked += '&';
            Encode(s[i], marked);
        }
        out.push_back(marked);
    }
    return out;
}

} // namespace tunavox
