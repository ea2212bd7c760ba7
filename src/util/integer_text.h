#pragma once
#include <cstdint>
#include <string_view>

namespace tunavox {

// Integer text: optional leading blanks, an optional sign, then decimal digits,
// or hexadecimal digits after "$", "x", "X", "0x" or "0X". Nothing may follow the
// digits. Fails when the magnitude does not fit a signed 64-bit number.
bool ParseIntegerText(std::string_view text, int64_t& out);

// The same for a 32-bit number. A decimal text must lie in the signed range; a
// hexadecimal one may use all 32 bits ("$FFFFFFFF" is -1), as device tables write masks.
bool ParseInt32Text(std::string_view text, int32_t& out);

} // namespace tunavox
