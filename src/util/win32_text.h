#pragma once
// Windows only: the program keeps its texts and paths in UTF-8 and meets the system
// through its wide-character calls.
#include <string>

namespace tunavox {

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& wide);
// A path for the wide-character file calls: slashes become backslashes.
std::wstring WidePath(const std::string& utf8);

} // namespace tunavox
