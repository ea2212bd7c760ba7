// The line over the network: tunavox-cli through Debian's ser2net (raw TCP and RFC 2217)
// in front of the simulator's pseudo-terminal, and through tunavox-sim --tcp. Every
// address is on the loopback.
#include <gtest/gtest.h>

#include <cstdio>

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <fstream>
#include <sstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "loopback.h"
#include "sim_process.h"
#include "test_support.h"
#include "util/cp1251.h"
#include "util/time_text.h"

using namespace tunavox::test;

namespace {

// Read at run time: the folder is known only once the tests run.
std::string Chp() {
    return kBin + "/NastrChP7.xml";
}

int Connect(uint16_t port) {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(s);
        return -1;
    }
    return s;
}

// Whether a socket of this thread's network listens on the loopback port (read from the
// system's table, so that no client takes the line to find out).
bool Listening(uint16_t port) {
    std::ifstream table("/proc/thread-self/net/tcp");
    char local[16];
    std::snprintf(local, sizeof local, "0100007F:%04X", static_cast<unsigned>(port));
    for (std::string line; std::getline(table, line);) {
        std::istringstream fields(line);
        std::string slot, address, remote, state;
        fields >> slot >> address >> remote >> state;
        if (address == local && state == "0A") return true;
    }
    return false;
}

// ser2net with a configuration of its own: a raw and an RFC 2217 accepter on free loopback
// ports in front of one device path (its controller's port tells when it is up).
class Ser2net {
public:
    // kickOldUser: a new client takes the port from the one before (else it is refused).
    // trace: a file where strace writes the server's terminal settings and writes.
    Ser2net(const TempDir& dir, const std::string& device, bool kickOldUser = true,
            const std::string& trace = {})
        : raw_(FreeLoopbackPort()), rfc_(FreeLoopbackPort()), control_(FreeLoopbackPort()),
          config_(dir.File("ser2net.yaml")), log_(dir.File("ser2net.log")), trace_(trace) {
        const std::string kick = kickOldUser ? "true" : "false";
        std::ofstream(config_) << "connection: &raw\n  accepter: tcp,127.0.0.1," << raw_
                               << "\n  connector: serialdev," << device
                               << ",9600n81,local\n  options:\n    kickolduser: " << kick << "\n"
                               << "connection: &rfc\n  accepter: telnet(rfc2217),tcp,127.0.0.1,"
                               << rfc_ << "\n  connector: serialdev," << device
                               << ",9600n81,local\n  options:\n    kickolduser: " << kick << "\n";
        Start();
    }
    ~Ser2net() { Kill(); }
    // Started and listening, or false (with why on the test's output).
    bool Start() {
        pid_ = fork();
        if (pid_ == 0) {
            setpgid(0, 0); // strace and its ser2net go together
            const int out = open(log_.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            dup2(out, STDOUT_FILENO);
            dup2(out, STDERR_FILENO);
            const std::string control = "127.0.0.1," + std::to_string(control_);
            if (!trace_.empty())
                execlp("strace", "strace", "-f", "-xx", "-e", "trace=ioctl,write,writev", "-o",
                       trace_.c_str(), "ser2net", "-n", "-u", "-c", config_.c_str(), "-p",
                       control.c_str(), static_cast<char*>(nullptr));
            execlp("ser2net", "ser2net", "-n", "-u", "-c", config_.c_str(), "-p", control.c_str(),
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 500; ++i) {
            // Under strace the accepters may open a moment after the control port: all
            // of them listen before a client is let in.
            if (const int s = Connect(control_); s >= 0) {
                close(s);
                if (Listening(raw_) && Listening(rfc_)) return true;
            }
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                ADD_FAILURE() << "ser2net did not start (scripts/setup installs it): "
                              << ReadBytes(log_);
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    // Killed at once, as a converter that loses power.
    void Kill() {
        if (pid_ <= 0) return;
        kill(-pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    std::string Raw() const { return "tcp://127.0.0.1:" + std::to_string(raw_); }
    std::string Rfc2217() const { return "rfc2217://127.0.0.1:" + std::to_string(rfc_); }

private:
    uint16_t raw_, rfc_, control_;
    std::string config_, log_, trace_;
    pid_t pid_ = -1;
};

// ser2net gives a line to one accepter at a time and lets it go a moment after its client
// has left: waits until the address serves a read.
bool Served(const std::string& address) {
    for (int i = 0; i < 20; ++i) {
        if (Cli("read --device " + Chp() + ":17 --port " + address + " 0x200").status == 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    return false;
}

} // namespace

TEST(Network, ReadWriteBackupAndRestoreThroughEachKindOfServer) {
    TempDir dir;
    SimProcess sim({"--link", dir.File("line"), "--device", Chp() + ":17", "--tcp", "127.0.0.1:0"});
    ASSERT_EQ(sim.SecondLine().rfind("tcp://127.0.0.1:", 0), 0u) << sim.SecondLine();
    Ser2net server(dir, dir.File("line"));
    const std::string note = "настройки линии задаёт преобразователь";
    const struct {
        std::string address;
        bool raw;
        const char* value;
    } targets[] = {{server.Raw(), true, "45.50"},
                   {server.Rfc2217(), false, "12.34"},
                   {sim.SecondLine(), true, "33.30"}};
    for (const auto& t : targets) {
        SCOPED_TRACE(t.address);
        ASSERT_TRUE(Served(t.address));
        const std::string device = " --device " + Chp() + ":17 --port " + t.address + " ";
        CommandResult r = Cli("write" + device + "0x302=" + t.value);
        ASSERT_EQ(r.status, 0) << r.out;
        // Over raw TCP the converter's settings stand, and that is said (not as an error).
        EXPECT_EQ(r.out.find(note) != std::string::npos, t.raw) << r.out;
        r = Cli("read" + device + "0x302");
        EXPECT_EQ(r.status, 0);
        EXPECT_NE(r.out.find(std::string("0x302;Заданная частота [Гц];") + t.value + ";\n"),
                  std::string::npos)
            << r.out;
        const std::string set = dir.File("set.params");
        ASSERT_EQ(Cli("backup" + device + "--output " + set).status, 0);
        ASSERT_EQ(Cli("write" + device + "0x302=1").status, 0);
        r = Cli("restore" + device + set);
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_NE(Cli("read" + device + "0x302").out.find(t.value), std::string::npos);
        std::remove(set.c_str());
    }
}

TEST(Network, Rfc2217SetsTheServersPortAndRawTcpLeavesIt) {
    TempDir dir;
    SimProcess sim({"--link", dir.File("line"), "--device", Chp() + ":17"});
    Ser2net server(dir, dir.File("line"));
    // The port as the server set it: the terminal's own settings.
    const auto serverPort = [&] { return RunCommand("stty -a -F " + dir.File("line")).out; };
    // Over raw TCP the server keeps its configured 9600 8N1 while the program polls.
    pid_t poll = SpawnCli(
        {"poll", "--device", Chp() + ":17", "--port", server.Raw(), "--seconds", "2", "0x200"},
        dir.File("raw.csv"));
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    std::string shown = serverPort();
    EXPECT_NE(shown.find("speed 9600 baud"), std::string::npos) << shown;
    EXPECT_EQ(WaitExit(poll), 0);
    // Through RFC 2217 it takes the description's 19200-8-E-1.
    ASSERT_TRUE(Served(server.Rfc2217()));
    poll = SpawnCli(
        {"poll", "--device", Chp() + ":17", "--port", server.Rfc2217(), "--seconds", "2", "0x200"},
        dir.File("rfc.csv"), dir.File("rfc.err"));
    for (int i = 0; i < 40 && shown.find("speed 19200 baud") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        shown = serverPort();
    }
    // (A pseudo-terminal keeps no parity bit of its own: the speed and stop bits show.)
    EXPECT_NE(shown.find("speed 19200 baud"), std::string::npos) << shown;
    EXPECT_NE(shown.find("-cstopb"), std::string::npos) << "one stop bit after the preamble's two";
    EXPECT_EQ(WaitExit(poll), 0) << ReadBytes(dir.File("rfc.err"));
    EXPECT_NE(ReadBytes(dir.File("rfc.csv")).find("49.95"), std::string::npos);
}

// One write of the server to its serial device, with the terminal settings then in force.
struct TracedWrite {
    std::string bytes;
    std::string flags; // c_cflag as strace spells it: "B19200|CS8|CREAD|PARENB|…"
    bool Has(const std::string& flag) const {
        return ("|" + flags + "|").find("|" + flag + "|") != std::string::npos;
    }
    // The bit the port puts after a byte's data, as its flags make it.
    int ParityBit(unsigned char byte) const {
        if (Has("CMSPAR")) return Has("PARODD") ? 1 : 0;
        const bool oddOnes = __builtin_popcount(byte) % 2 != 0;
        return Has("PARODD") ? !oddOnes : oddOnes;
    }
};

// The writes to the device in an strace -xx log of ioctl and writev calls.
std::vector<TracedWrite> TracedWrites(const std::string& trace) {
    std::vector<TracedWrite> out;
    std::istringstream lines(trace);
    std::string flags, device; // the device's descriptor: "(9, " in its calls
    for (std::string line; std::getline(lines, line);) {
        const size_t call = line.find('(');
        if (call == std::string::npos) continue;
        const std::string fd = line.substr(call, line.find(',', call) - call + 1);
        if (const size_t at = line.find("TCSETS"); at != std::string::npos) {
            const size_t from = line.find("c_cflag=", at);
            if (from != std::string::npos)
                flags = line.substr(from + 8, line.find(',', from) - from - 8);
            device = fd;
            continue;
        }
        const size_t at = line.find("iov_base=\"");
        if (at == std::string::npos || flags.empty() || fd != device) continue;
        TracedWrite w{{}, flags};
        for (size_t i = at + 10; i + 3 < line.size() && line.compare(i, 2, "\\x") == 0; i += 4)
            w.bytes += static_cast<char>(std::stoi(line.substr(i + 2, 2), nullptr, 16));
        out.push_back(w);
    }
    return out;
}

TEST(Network, Rfc2217OpeningLeavesEachByteAtItsParityAndTheLineAtTheDescriptions) {
    TempDir dir;
    SimProcess sim({"--link", dir.File("line"), "--device", Chp() + ":17"});
    const std::string trace = dir.File("ser2net.trace");
    Ser2net server(dir, dir.File("line"), true, trace);
    const CommandResult r =
        Cli("read --device " + Chp() + ":17 --port " + server.Rfc2217() + " 0x200");
    EXPECT_EQ(r.status, 0) << r.out;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    server.Kill();
    const std::vector<TracedWrite> writes = TracedWrites(ReadBytes(trace));
    ASSERT_GE(writes.size(), 3u) << ReadBytes(trace);
    // 0x18 with the bit after it set (mark) and two stop bits, then A0 5A with it clear
    // (space), whatever parity the server was asked for to get those bits.
    EXPECT_EQ(writes[0].bytes, "\x18");
    EXPECT_TRUE(writes[0].Has("B115200") && writes[0].Has("CSTOPB") && writes[0].Has("PARENB"))
        << writes[0].flags;
    EXPECT_EQ(writes[0].ParityBit(0x18), 1) << writes[0].flags;
    EXPECT_EQ(writes[1].bytes, "\xA0\x5A");
    EXPECT_TRUE(writes[1].Has("PARENB")) << writes[1].flags;
    EXPECT_EQ(writes[1].ParityBit(0xA0), 0) << writes[1].flags;
    EXPECT_EQ(writes[1].ParityBit(0x5A), 0) << writes[1].flags;
    // The first request goes at the description's 19200-8-E-1.
    EXPECT_EQ(writes[2].bytes.substr(0, 1), "\x02");
    const TracedWrite& request = writes[2];
    EXPECT_TRUE(request.Has("B19200") && request.Has("PARENB") && !request.Has("PARODD") &&
                !request.Has("CMSPAR") && !request.Has("CSTOPB"))
        << request.flags;
}

// Whether a poll's output holds 0x200's value within two seconds after back.
::testing::AssertionResult ValueWithinTwoSeconds(const std::string& csv,
                                                 std::chrono::system_clock::time_point back) {
    const std::string from = tunavox::LocalTimeText(back, true).substr(0, 23);
    const std::string until =
        tunavox::LocalTimeText(back + std::chrono::seconds(2), true).substr(0, 23);
    const std::string text = tunavox::Cp1251ToUtf8(csv);
    for (size_t at = text.find("\r\n") + 2; at > 1 && at < text.size();) {
        const size_t end = text.find("\r\n", at);
        const std::string line = text.substr(at, end - at);
        at = end == std::string::npos ? end : end + 2;
        const std::string time = line.substr(0, 23);
        if (time >= from && time <= until &&
            line.find(";0x200;Выходная частота [Гц];49.95;") != std::string::npos)
            return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "no value from " << from << " to " << until << "\n"
                                         << text;
}

// A network of the test's own: the calling thread, and every process it starts, is in a
// new network namespace until the end of the scope, its loopback up and its firewall
// empty. Nothing of it outlives the test.
class OwnNetwork {
public:
    OwnNetwork() {
        home_ = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        if (home_ < 0 || unshare(CLONE_NEWNET) != 0) {
            why_ = std::string("unshare(CLONE_NEWNET): ") + std::strerror(errno);
            return;
        }
        entered_ = true;
        // A second loopback address: getaddrinfo (AI_ADDRCONFIG, as ser2net asks) gives
        // IPv4 addresses only where some address other than 127.0.0.1 is configured.
        const std::string up = "ip link set lo up && ip addr add 127.0.0.2/8 dev lo";
        if (const CommandResult r = RunCommand(up); r.status != 0) why_ = up + ": " + r.out;
    }
    ~OwnNetwork() {
        if (entered_) setns(home_, CLONE_NEWNET);
        if (home_ >= 0) close(home_);
    }
    const std::string& Why() const { return why_; }
    // Every packet to or from the port dropped (no reset, no answer), or let through again.
    bool Drop(uint16_t port, bool drop) {
        const std::string verb = drop ? "-A" : "-D", p = std::to_string(port);
        return RunCommand("iptables " + verb + " INPUT -p tcp --dport " + p + " -j DROP").status ==
                   0 &&
               RunCommand("iptables " + verb + " INPUT -p tcp --sport " + p + " -j DROP").status ==
                   0;
    }

private:
    int home_ = -1;
    bool entered_ = false;
    std::string why_;
};

TEST(Network, APulledCableIsALostLineSaidWithinFiveSecondsAndValuesReturnWithinTwo) {
    OwnNetwork network;
    ASSERT_EQ(network.Why(), "") << "the test runs as root (scripts/setup installs iproute2)";
    TempDir dir;
    SimProcess sim({"--link", dir.File("line"), "--device", Chp() + ":17"});
    Ser2net server(dir, dir.File("line"));
    ASSERT_TRUE(Served(server.Raw())) << ReadBytes(dir.File("ser2net.log"));
    const uint16_t port = static_cast<uint16_t>(std::stoi(server.Raw().substr(16)));
    const std::string out = dir.File("poll.csv"), err = dir.File("poll.err");
    const pid_t poll = SpawnCli({"poll", "--device", Chp() + ":17", "--port", server.Raw(),
                                 "--seconds", "12", "--output", out, "0x200"},
                                dir.File("poll.out"), err);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    // The cable is pulled: every packet dropped, neither side told.
    ASSERT_TRUE(network.Drop(port, true));
    const auto pulled = std::chrono::steady_clock::now();
    const std::string said = "Связь с преобразователем " + server.Raw() + " потеряна";
    while (ReadBytes(err).find(said) == std::string::npos &&
           std::chrono::steady_clock::now() - pulled < std::chrono::seconds(10))
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto saidAfter = std::chrono::steady_clock::now() - pulled;
    EXPECT_LT(saidAfter, std::chrono::seconds(5)) << ReadBytes(err);
    EXPECT_NE(ReadBytes(err).find("сеть до него прервана"), std::string::npos) << ReadBytes(err);
    std::this_thread::sleep_for(std::chrono::seconds(6) - saidAfter);
    ASSERT_TRUE(network.Drop(port, false));
    const auto back = std::chrono::system_clock::now();
    EXPECT_EQ(WaitExit(poll), 1) << ReadBytes(err); // reads failed meanwhile
    EXPECT_NE(ReadBytes(err).find("Связь восстановлена"), std::string::npos) << ReadBytes(err);
    EXPECT_TRUE(ValueWithinTwoSeconds(ReadBytes(out), back));
}

TEST(Network, PollingResumesWithinTwoSecondsOfTheServersReturn) {
    TempDir dir;
    SimProcess sim({"--link", dir.File("line"), "--device", Chp() + ":17"});
    Ser2net server(dir, dir.File("line"));
    const std::string out = dir.File("poll.csv"), err = dir.File("poll.err");
    const pid_t poll = SpawnCli({"poll", "--device", Chp() + ":17", "--port", server.Raw(),
                                 "--seconds", "6", "--output", out, "0x200"},
                                dir.File("poll.out"), err);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    server.Kill();
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    ASSERT_TRUE(server.Start());
    const auto back = std::chrono::system_clock::now();
    EXPECT_EQ(WaitExit(poll), 1) << ReadBytes(err); // reads failed during the outage
    EXPECT_NE(ReadBytes(err).find("Связь восстановлена"), std::string::npos) << ReadBytes(err);
    EXPECT_TRUE(ValueWithinTwoSeconds(ReadBytes(out), back));
}

TEST(Network, AddressesThatDoNotAnswerAreNamedInBoundedTime) {
    const SilentAddress silent;
    const std::string port = silent.Address();
    const auto start = std::chrono::steady_clock::now();
    CommandResult r = Cli("read --desc " + Chp() + " --port " + port + " 0x302");
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, port + ": узел не ответил за 3 с\n");
    EXPECT_LT(took, std::chrono::seconds(10)) << "bounded by the connect time-out";
    // Refused at once, and a name that is not an address.
    const std::string closed = "tcp://127.0.0.1:" + std::to_string(FreeLoopbackPort());
    r = Cli("read --desc " + Chp() + " --port " + closed + " 0x302");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, closed + ": соединение отклонено (на этом порту узла нет сервера)\n");
    r = Cli("read --desc " + Chp() + " --port rfc2217://127.0.0.1:0 0x302");
    EXPECT_EQ(r.out, "rfc2217://127.0.0.1:0: порт — число от 1 до 65535\n");
}

TEST(Network, ASecondClientIsToldTheConvertersPortIsBusy) {
    TempDir dir;
    SimProcess sim({"--link", dir.File("line"), "--device", Chp() + ":17"});
    Ser2net server(dir, dir.File("line"), false);
    ASSERT_TRUE(Served(server.Raw()));
    const uint16_t port = static_cast<uint16_t>(std::stoi(server.Raw().substr(16)));
    const int other = Connect(port); // another program holds the converter's port
    ASSERT_GE(other, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const CommandResult r = Cli("read --device " + Chp() + ":17 --port " + server.Raw() + " 0x200");
    close(other);
    EXPECT_NE(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("порт преобразователя занят: к нему подключена другая программа"),
              std::string::npos)
        << r.out;
}
