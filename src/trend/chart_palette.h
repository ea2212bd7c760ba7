#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace tunavox {

// The chart's first ten line colours (0xRRGGBB), chosen to be told apart (also by
// most colour-blind eyes) and to read on white: far apart from each other in the
// CIELAB space, none lighter than L* 72.
const std::array<uint32_t, 10>& ChartPalette();

// The n-th colour lines are given: the palette first, then darker hues a golden angle
// apart (still readable on white, no longer all far apart).
uint32_t ChartColour(size_t n);

// Colours handed to the chart's lines, by table row. A line keeps its colour while it
// is on the chart; a new line takes the first colour no current line has, so up to ten
// lines at once always have ten palette colours, whichever rows they belong to.
class TLineColours {
public:
    // The colour of the row's line; handed out on the first call.
    uint32_t For(int row);
    // The lines now on the chart: the others give their colours back.
    void Keep(const std::vector<int>& rows);

private:
    std::map<int, size_t> given_; // row -> colour number
};

} // namespace tunavox
