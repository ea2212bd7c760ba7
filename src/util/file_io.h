#pragma once
#include <cstddef>
#include <string>

namespace tunavox {

// Largest file the program reads whole (descriptions, parameter sets).
constexpr size_t kMaxReadBytes = size_t{64} << 20;

// Reads a whole regular file of at most maxBytes into bytes, without waiting on it.
// Returns false (and a message) for anything else: a FIFO, a device, a larger file.
bool ReadFileBytes(const std::string& path, std::string& bytes, std::string& error,
                   size_t maxBytes = kMaxReadBytes);

// Replaces a file's content: writes a temporary file beside it, then renames it over
// the original, so a failure never leaves a half-written file.
bool ReplaceFileBytes(const std::string& path, const std::string& bytes, std::string& error);

} // namespace tunavox
