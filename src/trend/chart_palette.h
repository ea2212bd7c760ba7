#pragma once
#include <array>
#include <cstdint>

namespace tunavox {

// The chart's first ten line colours (0xRRGGBB), chosen to be told apart (also by
// most colour-blind eyes) and to read on white: far apart from each other in the
// CIELAB space, none lighter than L* 72.
const std::array<uint32_t, 10>& ChartPalette();

} // namespace tunavox
