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

// The folder name (relative, ending in "/") beside the program, made when missing; or,
// when the program's folder cannot be written (unpacked under "Program Files", a
// read-only share), the same name under the user's data folder (made too).
std::string WritableProgramSubfolder(const std::string& name,
                                     const std::string& programFolder = ProgramFolder(),
                                     const std::string& userFolder = UserDataFolder());

// Where a path's last folder separator stands ("/", and "\\" too on Windows), or npos.
size_t LastSeparator(const std::string& path);

// A path as the system writes it, for messages: backslashes on Windows.
std::string NativePath(std::string path);

} // namespace tunavox
