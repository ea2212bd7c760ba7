#include "trend/chart_palette.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace tunavox {

const std::array<uint32_t, 10>& ChartPalette() {
    // Blue, orange, green, red, indigo, yellow-green, wine, grey, salmon, black.
    static const std::array<uint32_t, 10> kColors = {0x0072B2, 0xF38400, 0x117733, 0xBE0032,
                                                     0x332288, 0x8DB600, 0xAA3377, 0x848482,
                                                     0xF99379, 0x000000};
    return kColors;
}

uint32_t ChartColour(size_t n) {
    if (n < ChartPalette().size()) return ChartPalette()[n];
    // HSV with a value low enough for every hue to stay below L* 72 on white.
    const double h = std::fmod(static_cast<double>(n) * 0.618033988749895, 1.0) * 6;
    const double v = n % 2 ? 0.5 : 0.62, s = 0.85;
    const double c = v * s, x = c * (1 - std::fabs(std::fmod(h, 2.0) - 1)), m = v - c;
    double r = 0, g = 0, b = 0;
    switch (static_cast<int>(h)) {
    case 0: r = c, g = x; break;
    case 1: r = x, g = c; break;
    case 2: g = c, b = x; break;
    case 3: g = x, b = c; break;
    case 4: r = x, b = c; break;
    default: r = c, b = x; break;
    }
    const auto byte = [m](double part) {
        return static_cast<uint32_t>(std::lround((part + m) * 255));
    };
    return byte(r) << 16 | byte(g) << 8 | byte(b);
}

uint32_t TLineColours::For(int row) {
    if (const auto it = given_.find(row); it != given_.end()) return ChartColour(it->second);
    std::set<size_t> taken;
    for (const auto& [r, n] : given_)
        taken.insert(n);
    size_t n = 0;
    while (taken.count(n))
        ++n;
    given_[row] = n;
    return ChartColour(n);
}

void TLineColours::Keep(const std::vector<int>& rows) {
    for (auto it = given_.begin(); it != given_.end();)
        it = std::find(rows.begin(), rows.end(), it->first) == rows.end() ? given_.erase(it)
                                                                           : std::next(it);
}

} // namespace tunavox
