#include "sim_process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tunavox::test {

const std::string kBin = TUNAVOX_BIN_DIR;

LoadedSample::LoadedSample(const std::string& file) {
    EXPECT_EQ(LoadDescription(kBin + "/" + file, Regs, Errors, Desc, kBin + "/"), "");
}

namespace {

// In the child: becomes the program of the build's bin folder with these arguments.
[[noreturn]] void Exec(const std::string& program, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    const std::string exe = kBin + "/" + program;
    argv.push_back(const_cast<char*>(exe.c_str()));
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(exe.c_str(), argv.data());
    _exit(127);
}

} // namespace

SimProcess::SimProcess(const std::vector<std::string>& args) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        Exec("tunavox-sim", args);
    }
    close(out[1]);
    FILE* f = fdopen(out[0], "r");
    char line[256] = {};
    if (f && fgets(line, sizeof line, f)) firstLine_ = line;
    if (!firstLine_.empty() && firstLine_.back() == '\n') firstLine_.pop_back();
    // With --tcp the network address follows.
    if (std::find(args.begin(), args.end(), "--tcp") != args.end() && f &&
        fgets(line, sizeof line, f))
        secondLine_ = line;
    if (!secondLine_.empty() && secondLine_.back() == '\n') secondLine_.pop_back();
    if (f) fclose(f);
}

SimProcess::~SimProcess() {
    if (pid_ > 0 && !Terminate(10000)) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

void SimProcess::Signal(int sig) const {
    if (pid_ > 0) kill(pid_, sig);
}

bool SimProcess::Terminate(int ms) {
    if (pid_ <= 0) return true;
    kill(pid_, SIGTERM);
    for (int waited = 0; waited <= ms; waited += 10) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return true;
        }
        usleep(10000);
    }
    return false;
}

CommandResult Cli(const std::string& args) {
    return RunCommand(kBin + "/tunavox-cli " + args);
}

pid_t SpawnCli(const std::vector<std::string>& args, const std::string& outPath,
               const std::string& errPath) {
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out >= 0) dup2(out, STDOUT_FILENO);
        if (err >= 0) dup2(err, STDERR_FILENO);
        Exec("tunavox-cli", args);
    }
    return pid;
}

int WaitExit(pid_t pid) {
    int status = -1;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

size_t Lines(const std::string& text) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

} // namespace tunavox::test
