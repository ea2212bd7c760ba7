#pragma once
#include <string>

namespace tunavox {

// Folder of the running executable, with a trailing "/". Falls back to the
// current folder ("./") when the executable's path cannot be read.
std::string ProgramFolder();

} // namespace tunavox
