#pragma once
#include <string>
#include <vector>

namespace tunavox {

// The command line as UTF-8 texts (on Windows from the wide-character command line,
// so that Cyrillic file names arrive whole), the program's name left out.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Standard output and error carry the program's UTF-8 bytes unchanged: on Windows the
// console shows UTF-8 and no CR is put before LF.
void PrepareConsole();

// Calls onStop (from another thread, once per request) on Ctrl+C, Ctrl+Break or the
// console's closing on Windows; on SIGINT and SIGTERM on POSIX (from the handler:
// onStop must only set a flag).
void CatchStopRequests(void (*onStop)());
// A file-size limit (ulimit -f) makes a write fail with "файл слишком велик" instead of
// ending the program with SIGXFSZ and a torn line. Nothing to do on Windows.
void IgnoreFileSizeLimitSignal();

} // namespace tunavox
