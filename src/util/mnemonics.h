#pragma once
#include <string>
#include <vector>

namespace tunavox {

// Gives each of a menu's texts (UTF-8, "&" meaning itself) the letter that opens it
// with the keyboard, marked Qt's way: "&" before the letter, a literal "&" doubled.
// The letter is the first word's initial when free, else another word's initial,
// else any letter or digit not taken yet (case does not matter); a text whose letters
// are all taken gets none. taken holds letters already in use.
std::vector<std::string> WithMnemonics(const std::vector<std::string>& texts,
                                       std::u32string taken = {});

} // namespace tunavox
