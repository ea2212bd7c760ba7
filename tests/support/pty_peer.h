#pragma once
// A pseudo-terminal pair whose master side plays the device in link tests.
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace tunavox::test {

class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    // The slave device path that the program opens (/dev/pts/N).
    const std::string& SlavePath() const { return slave_; }
    int Master() const { return master_; }

    // Reads from the master until count bytes came or ms passed.
    std::string ReadExactly(size_t count, int ms);
    // Reads whatever arrives until nothing more comes for quietMs.
    std::string ReadQuiet(int quietMs);
    void Write(const std::string& bytes);
    // Closes the master side: the line is dead for whoever holds the slave.
    void HangUp();

private:
    int master_ = -1;
    std::string slave_;
};

// One scripted answer: chunks written after a pause each.
struct Chunk {
    std::string bytes;
    int delayMs = 0;
};
using Answer = std::vector<Chunk>;

// Plays a device on the master side in its own thread: for every expected request
// it reads requestSize bytes, keeps them, and plays the next scripted answer.
class ScriptedPeer {
public:
    ScriptedPeer(PtyPair& pty, size_t requestSize, std::vector<Answer> answers);
    ~ScriptedPeer();
    // Waits for the script to end and returns the requests as received.
    std::vector<std::string> Requests();

private:
    PtyPair& pty_;
    std::vector<std::string> requests_;
    std::thread thread_;
};

} // namespace tunavox::test
