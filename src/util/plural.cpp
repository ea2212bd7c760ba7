#include "util/plural.h"

namespace tunavox {

const char* RussianPlural(long long n, const char* one, const char* few, const char* many) {
    const long long m100 = (n < 0 ? -n : n) % 100, m10 = m100 % 10;
    if (m100 >= 11 && m100 <= 14) return many;
    if (m10 == 1) return one;
    if (m10 >= 2 && m10 <= 4) return few;
    return many;
}

std::string CountText(long long n, const char* one, const char* few, const char* many) {
    return std::to_string(n) + " " + RussianPlural(n, one, few, many);
}

std::string ParametersText(long long n) {
    return CountText(n, "параметр", "параметра", "параметров");
}

} // namespace tunavox
