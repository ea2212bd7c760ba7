#include "trend/chart_palette.h"

namespace tunavox {

const std::array<uint32_t, 10>& ChartPalette() {
    // Blue, orange, green, red, indigo, yellow-green, wine, grey, salmon, black.
    static const std::array<uint32_t, 10> kColors = {0x0072B2, 0xF38400, 0x117733, 0xBE0032,
                                                     0x332288, 0x8DB600, 0xAA3377, 0x848482,
                                                     0xF99379, 0x000000};
    return kColors;
}

} // namespace tunavox
