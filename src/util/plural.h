#pragma once
#include <string>

namespace tunavox {

// The form of a Russian noun that goes with n: one for 1, 21, 101 ("параметр"), few for
// 2-4, 22-24 ("параметра"), many for the rest and for 11-14 ("параметров").
const char* RussianPlural(long long n, const char* one, const char* few, const char* many);
// n and its noun: "1 параметр", "2 параметра", "11 параметров".
std::string CountText(long long n, const char* one, const char* few, const char* many);
// The same for "параметр", the program's most counted word.
std::string ParametersText(long long n);

} // namespace tunavox
