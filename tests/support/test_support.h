#pragma once
// Helpers shared by the core tests: temporary folders and signed description files.
#include <cstdint>
#include <initializer_list>
#include <string>

#include "device/value.h"

namespace tunavox::test {

// A fresh folder under the system's temporary folder, removed with its content at
// destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    // Full path of a file in the folder.
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void WriteBytes(const std::string& path, const std::string& bytes);
std::string ReadBytes(const std::string& path);

// Writes a description given as UTF-8 text: converted to Windows-1251 when it
// declares that encoding, then signed. Returns the file's path.
std::string WriteSignedDescription(const TempDir& dir, const std::string& name,
                                   const std::string& utf8Xml);

// The single-precision bits of a real value, and a real value from such bits.
uint32_t FloatBitsOf(const TValue& value);
TValue FromFloatBits(uint32_t bits);

// Bytes from a list of values: Bytes({0x02, 0x00}).
std::string Bytes(std::initializer_list<int> values);

// Runs a shell command; its exit status (-1 when it did not exit) and output with
// standard error folded in.
struct CommandResult {
    int status = -1;
    std::string out;
};
CommandResult RunCommand(const std::string& command);

// A minimal description with the given REGISTERS content and root attributes.
std::string Description(const std::string& registers, const std::string& rootAttrs = {},
                        const std::string& more = {});

} // namespace tunavox::test
