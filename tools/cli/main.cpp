// tunavox-cli: description files and device exchange from the command line.
#include <cstdio>
#include <string>
#include <vector>

#include "device/description.h"
#include "device/signature.h"
#include "exchange.h"
#include "paramset_commands.h"
#include "poll_command.h"
#include "util/program_folder.h"

namespace {

const char* const kUsage =
    "Usage:\n"
    "  tunavox-cli sign FILE...     write the signature into each description file\n"
    "  tunavox-cli verify FILE...   load each description and print OK or the error\n"
    "  tunavox-cli ports            list the system's serial ports\n"
    "  tunavox-cli read  --desc FILE --port NAME [options] [ADDR...]\n"
    "                               read every readable register (or the listed ones)\n"
    "  tunavox-cli write --desc FILE --port NAME [options] ADDR=VALUE...\n"
    "  tunavox-cli backup  --desc FILE --port NAME [options] --output SET\n"
    "                               save every readable setting to a parameter set\n"
    "  tunavox-cli compare --desc FILE --port NAME [options] SET\n"
    "                               code;name [units];value in file;value in device;state\n"
    "  tunavox-cli restore --desc FILE --port NAME [options] SET [--all] [ADDR...]\n"
    "                               write the differing RW rows (all, or the listed ones),\n"
    "                               each read back and checked\n"
    "  tunavox-cli poll --desc FILE --port NAME [options] [--seconds S | --count N]\n"
    "                   [--output FILE] [ADDR...]\n"
    "                               read the registers in turn (all readable ones when none\n"
    "                               are listed): time;code;name [units];value;error per read,\n"
    "                               appended to FILE as the window records polling\n"
    "Options: --version 1|2 (default 2), --id N, --gateway, --log\n"
    "         read also: --format csv|html|rtf --output FILE (the table as the window exports it)\n"
    "Output of read and write: code;name [units];value;error, one line per register.\n"
    "Exit status: 0 all exchanges succeeded (compare: every row the same), 1 some failed\n"
    "(or differ), 2 bad usage, description, port or file.\n";

int Usage(const char* message = nullptr) {
    if (message) std::fprintf(stderr, "tunavox-cli: %s\n", message);
    std::fputs(kUsage, stderr);
    return 2;
}

int Sign(const std::vector<std::string>& files) {
    int status = 0;
    for (const std::string& file : files) {
        const std::string error = tunavox::SignDescriptionFile(file);
        std::printf("%s: %s\n", file.c_str(), error.empty() ? "OK" : error.c_str());
        if (!error.empty()) status = 1;
    }
    return status;
}

int Verify(const std::vector<std::string>& files) {
    int status = 0;
    const std::string folder = tunavox::ProgramFolder();
    for (const std::string& file : files) {
        tunavox::TRegList regs;
        tunavox::TNameValueList errorTexts;
        tunavox::TDescription desc;
        const std::string error = tunavox::LoadDescription(file, regs, errorTexts, desc, folder);
        std::printf("%s: %s\n", file.c_str(), error.empty() ? "OK" : error.c_str());
        if (!error.empty()) status = 1;
    }
    return status;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const std::string command = argv[1];
    std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "-h" || command == "--help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command == "sign" || command == "verify") {
        if (args.empty()) return Usage("no files given");
        return command == "sign" ? Sign(args) : Verify(args);
    }
    if (command == "ports") return tunavox::cli::Ports();
    if (command == "read") return tunavox::cli::Read(args);
    if (command == "write") return tunavox::cli::Write(args);
    if (command == "backup") return tunavox::cli::Backup(args);
    if (command == "compare") return tunavox::cli::Compare(args);
    if (command == "restore") return tunavox::cli::Restore(args);
    if (command == "poll") return tunavox::cli::Poll(args);
    return Usage(("unknown command: " + command).c_str());
}
