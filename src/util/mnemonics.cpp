#include "util/mnemonics.h"

#include "util/cp1251.h"

namespace tunavox {
namespace {

std::u32string Decode(const std::string& s) {
    std::u32string out;
    for (size_t pos = 0; pos < s.size();)
        out += static_cast<char32_t>(NextCodePoint(s, pos));
    return out;
}

// Latin and Cyrillic letters in one case, digits as they are; 0 for anything that
// cannot be a mnemonic.
char32_t Key(char32_t c) {
    const bool letter =
        (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z') || (c >= 0x400 && c <= 0x45F);
    if (c >= U'0' && c <= U'9') return c;
    return letter ? static_cast<char32_t>(UpperCodePoint(c)) : 0;
}

} // namespace

std::vector<std::string> WithMnemonics(const std::vector<std::string>& texts,
                                       std::u32string taken) {
    for (char32_t& c : taken)
        c = Key(c);
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
            AppendUtf8(marked, s[i]);
        }
        out.push_back(marked);
    }
    return out;
}

} // namespace tunavox
