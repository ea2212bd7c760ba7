#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace tunavox {

// Windows-1251 bytes to UTF-8. Every byte maps to a character (0x98 to U+0098).
std::string Cp1251ToUtf8(std::string_view bytes);

// UTF-8 to Windows-1251 bytes. A character with no Windows-1251 code, or an
// invalid UTF-8 sequence, becomes "?".
std::string Utf8ToCp1251(std::string_view utf8);

// Number of characters (code points) in a UTF-8 text; stray bytes count as one each.
size_t Utf8Length(std::string_view utf8);

// Compares two UTF-8 texts without regard to letter case (Latin and Cyrillic).
bool SameTextIgnoreCase(std::string_view a, std::string_view b);

// Upper-cases Latin and Cyrillic letters of a UTF-8 text.
std::string Utf8Upper(std::string_view utf8);

// Appends the UTF-8 bytes of a code point.
void AppendUtf8(std::string& out, uint32_t cp);
// Decodes the code point at pos and moves pos past it; an invalid sequence yields
// 0xFFFFFFFF and moves one byte.
uint32_t NextCodePoint(std::string_view s, size_t& pos);
// A Latin or Cyrillic letter in upper case; anything else as it is.
uint32_t UpperCodePoint(uint32_t cp);

} // namespace tunavox
