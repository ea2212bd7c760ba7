#pragma once
// tunavox-sim and tunavox-cli as separate processes, as a user runs them.
#include <string>
#include <sys/types.h>
#include <vector>

#include "device/description.h"
#include "test_support.h"

namespace tunavox::test {

extern const std::string kBin;

// A sample description from the build's bin folder, loaded as the program loads it.
struct LoadedSample {
    TRegList Regs;
    TNameValueList Errors;
    TDescription Desc;
    explicit LoadedSample(const std::string& file);
};

// A running tunavox-sim; stopped with SIGTERM at destruction.
class SimProcess {
public:
    explicit SimProcess(const std::vector<std::string>& args);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;
    // SIGTERM, then waits up to ms for the process to end; false when it did not.
    bool Terminate(int ms);
    // Sends a signal (SIGUSR1: the device given by --swap takes its ID, or gives it back).
    void Signal(int sig) const;
    // The path it printed first (the pseudo-terminal), or empty.
    const std::string& FirstLine() const { return firstLine_; }
    // With --tcp: the address it serves the line on ("tcp://127.0.0.1:40123").
    const std::string& SecondLine() const { return secondLine_; }

private:
    pid_t pid_ = -1;
    std::string firstLine_;
    std::string secondLine_;
};

// tunavox-cli with these arguments (split by the shell), standard error folded in.
CommandResult Cli(const std::string& args);
// tunavox-cli started in the background, its standard output and error to files.
pid_t SpawnCli(const std::vector<std::string>& args, const std::string& outPath,
               const std::string& errPath = "/dev/null");
// Waits for a spawned process; its exit status, or -1 when it did not exit normally.
int WaitExit(pid_t pid);

size_t Lines(const std::string& text);

} // namespace tunavox::test
