#pragma once
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace tunavox {

// Largest file the program reads whole (descriptions, parameter sets).
constexpr size_t kMaxReadBytes = size_t{64} << 20;

// Reads a whole regular file of at most maxBytes into bytes, without waiting on it.
// Returns false (and a message) for anything else: a FIFO, a device, a larger file.
bool ReadFileBytes(const std::string& path, std::string& bytes, std::string& error,
                   size_t maxBytes = kMaxReadBytes);

// Replaces a file's content: writes a temporary file with a unique name beside it,
// flushes it, renames it over the original and flushes the folder, so a failure never
// leaves a half-written file and a finished one survives a power cut. A link is
// followed to the file it names. The file gets mode, or (when mode is negative) the
// mode the file had, 0644 for a new one. With placed, tells whether the new content
// took the file's place (true also when only making the rename durable failed after it).
// beforePlace runs when the new content is on the disk, just before it takes the file's
// place; returning false (with its reason in error) leaves the file as it is.
bool ReplaceFileBytes(const std::string& path, const std::string& bytes, std::string& error,
                      int mode = -1, bool* placed = nullptr,
                      const std::function<bool(std::string&)>& beforePlace = {});

// Whether ReplaceFileBytes could write path now: not a folder or a device, and a new
// file can be created in its folder. The error is the reason in words.
bool CheckReplaceable(const std::string& path, std::string& error);

// Creates or empties a file and writes bytes into it (exports: no temporary file).
bool WriteFileBytes(const std::string& path, const std::string& bytes, std::string& error);

// What a path names, links followed.
enum class TPathKind { Missing, File, Folder, Other };
TPathKind PathKind(const std::string& path);

// Whether two paths name the same file (both must exist).
bool SameFile(const std::string& a, const std::string& b);

// The names in a folder ("." and ".." left out); empty when it cannot be read.
std::vector<std::string> FolderNames(const std::string& folder);

} // namespace tunavox
