#pragma once
#include <string>

namespace tunavox {

// Folder of the running executable, with a trailing "/". Falls back to the
// current folder ("./") when the executable's path cannot be read.
std::string ProgramFolder();

// The user's own folder for the program's data, with a trailing "/": %APPDATA%/Tunavox/
// on Windows, $XDG_DATA_HOME/tunavox/ (else ~/.local/share/tunavox/) elsewhere; "./"
// when neither is known. Not created here.
std::string UserDataFolder();

} // namespace tunavox
