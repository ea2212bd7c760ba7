#pragma once
#include <string>

namespace tunavox {

// Reads a whole file into bytes. Returns false (and a message) when it cannot.
bool ReadFileBytes(const std::string& path, std::string& bytes, std::string& error);

// Replaces a file's content: writes a temporary file beside it, then renames it over
// the original, so a failure never leaves a half-written file.
bool ReplaceFileBytes(const std::string& path, const std::string& bytes, std::string& error);

} // namespace tunavox
