// Network port names and the Telnet side of RFC 2217, apart from sockets.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "link/com_port.h"
#include "link/net_address.h"
#include "loopback.h"

using namespace tunavox;
using namespace std::string_literals;
using tunavox::test::LoopbackListener;

TEST(NetAddress, NamesAreParsedOrRefusedWithTheReason) {
    struct Case {
        const char* name;
        bool ok;
        bool rfc2217;
        const char* host;
        uint16_t port;
        const char* error;
    };
    const Case cases[] = {
        {"tcp://127.0.0.1:4001", true, false, "127.0.0.1", 4001, ""},
        {"TCP://converter.local:23/", true, false, "converter.local", 23, ""},
        {"rfc2217://127.0.0.1:2217", true, true, "127.0.0.1", 2217, ""},
        {"rfc2217://[::1]:7000", true, true, "::1", 7000, ""},
        {"tcp://127.0.0.1", false, false, "", 0, "не указан порт: УЗЕЛ:ПОРТ"},
        {"tcp://127.0.0.1:0", false, false, "", 0, "порт — число от 1 до 65535"},
        {"tcp://127.0.0.1:65536", false, false, "", 0, "порт — число от 1 до 65535"},
        {"tcp://127.0.0.1:12a", false, false, "", 0, "порт — число от 1 до 65535"},
        {"tcp://:4001", false, false, "", 0, "не указан узел: УЗЕЛ:ПОРТ"},
        {"rfc2217://[::1]7000", false, true, "", 0,
         "адрес IPv6 пишется в скобках с портом: [::1]:ПОРТ"},
        {"/dev/ttyUSB0", false, false, "", 0,
         "это не сетевой адрес (tcp://УЗЕЛ:ПОРТ или rfc2217://УЗЕЛ:ПОРТ)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TNetAddress a;
        std::string error;
        EXPECT_EQ(IsNetworkPortName(c.name),
                  std::string_view(c.name).find("://") != std::string_view::npos);
        ASSERT_EQ(ParseNetAddress(c.name, a, error), c.ok);
        if (!c.ok) {
            EXPECT_EQ(error, c.error);
            continue;
        }
        EXPECT_EQ(a.Rfc2217, c.rfc2217);
        EXPECT_EQ(a.Host, c.host);
        EXPECT_EQ(a.Port, c.port);
    }
}

TEST(Telnet, DataIsEscapedAndLineSettingsSpelledAsTheServerReadsThem) {
    EXPECT_EQ(telnet::Escape(std::string("\x02\xFF\x03", 3)), std::string("\x02\xFF\xFF\x03", 4));
    // 115200 8 mark 2: the baud rate's bytes, then size, parity 4 (mark), stop 2, no flow.
    const std::string sub = "\xFF\xFA\x2C";
    const std::string end = "\xFF\xF0";
    EXPECT_EQ(telnet::LineCommands({115200, 8, parMark, sbTwo}),
              sub + std::string("\x01\x00\x01\xC2\x00", 5) + end + sub + "\x02\x08" + end + sub +
                  "\x03\x04" + end + sub + "\x04\x02" + end + sub + "\x05\x01" + end);
    // A baud rate with an IAC byte in it is escaped inside the subnegotiation.
    const std::string odd = telnet::LineCommands({0x0001FF00, 7, parSpace, sbOne});
    EXPECT_EQ(odd.substr(0, 10), sub + std::string("\x01\x00\x01\xFF\xFF\x00", 6) + "\xFF");
    EXPECT_NE(odd.find(sub + "\x03\x05" + end), std::string::npos) << "space parity is 5";
}

TEST(Telnet, TheServersBytesComeApartIntoDataAndAnswers) {
    // What ser2net sends on connection, then an answer frame holding 0xFF, split anywhere.
    const std::string greeting =
        "\xFF\xFB\x03\xFF\xFD\x03\xFF\xFB\x01\xFF\xFE\x01\xFF\xFD\x00\xFF\xFB\x00\xFF\xFD\x2C"
        "\xFF\xFA\x2C\x6B\x00\xFF\xF0"s;
    const std::string frame = std::string("\x02\x00\x03\xFF\xFF\x10\x55", 7);
    // The answers to a baud rate holding 0xFF and to even parity.
    const std::string answers = "\xFF\xFA\x2C\x65\x00\x01\xFF\xFF\x00\xFF\xF0"
                                "\xFF\xFA\x2C\x67\x03\xFF\xF0"s;
    const std::string wire = greeting + frame + answers + greeting.substr(6, 6);
    for (size_t step : {size_t{1}, size_t{2}, size_t{5}, wire.size()}) {
        SCOPED_TRACE(step);
        telnet::TReader r;
        std::string data, reply, value;
        for (size_t at = 0; at < wire.size(); at += step)
            r.Feed(std::string_view(wire).substr(at, step), data, reply);
        EXPECT_EQ(data, std::string("\x02\x00\x03\xFF\x10\x55", 6));
        // ECHO is refused once, though offered twice; what we asked for is not answered.
        EXPECT_EQ(reply, "\xFF\xFE\x01");
        ASSERT_TRUE(r.Answered(1, value));
        EXPECT_EQ(value, std::string("\x00\x01\xFF\x00", 4));
        ASSERT_TRUE(r.Answered(3, value));
        EXPECT_EQ(value, "\x03");
        EXPECT_FALSE(r.Answered(2, value)) << "the server's notification 107 is no answer";
        r.ForgetAnswers();
        EXPECT_FALSE(r.Answered(1, value));
    }
}

TEST(Telnet, WhatTheServerSetIsComparedWithWhatWasAsked) {
    const TLineSettings asked{19200, 8, parEven, sbOne};
    // The server's answers, each the value it says is in force.
    const auto answered = [](uint32_t baud, char size, char parity, char stop, char control) {
        const std::string sub = "\xFF\xFA\x2C", end = "\xFF\xF0";
        const std::string rate{static_cast<char>(baud >> 24), static_cast<char>(baud >> 16),
                               static_cast<char>(baud >> 8), static_cast<char>(baud)};
        telnet::TReader r;
        std::string data, reply;
        r.Feed(sub + "\x65" + telnet::Escape(rate) + end + sub + "\x66" + size + end + sub +
                   "\x67" + parity + end + sub + "\x68" + stop + end + sub + "\x69" + control +
                   end,
               data, reply);
        return r;
    };
    const struct {
        telnet::TReader reader;
        std::string said;
    } cases[] = {
        {answered(19200, 8, 3, 1, 1), ""},
        // ser2net after mark or space keeps the flag: even comes out as space.
        {answered(19200, 8, 5, 1, 1), "чётность S вместо E"},
        {answered(9600, 7, 3, 2, 2),
         "скорость 9600 вместо 19200, биты данных 7 вместо 8, стоповые биты 2 вместо 1, "
         "включено управление потоком"},
        {telnet::TReader{}, "скорость 0 вместо 19200, биты данных 0 вместо 8, чётность ? вместо "
                            "E, стоповые биты ? вместо 1, включено управление потоком"},
    };
    for (const auto& c : cases) EXPECT_EQ(telnet::LineAnswersDiffer(asked, c.reader), c.said);
}

// A listening socket on a free loopback port, and the server side of its first client.
struct Server {
    LoopbackListener listener;
    int client = -1;
    uint16_t port = listener.Port();
    ~Server() {
        if (client >= 0) close(client);
    }
    void Accept() { client = accept(listener.Fd(), nullptr, nullptr); }
    // What the client sent within ms.
    std::string Take(int ms) {
        std::string got;
        char buf[512];
        pollfd p{client, POLLIN, 0};
        while (poll(&p, 1, ms) > 0) {
            const ssize_t n = read(client, buf, sizeof buf);
            if (n <= 0) break;
            got.append(buf, static_cast<size_t>(n));
        }
        return got;
    }
};

TEST(NetPort, ClosingEndsAReadAtOnceAndTheServersGoingIsALostPort) {
    Server server;
    TMyComPort port;
    ASSERT_TRUE(port.Open("tcp://127.0.0.1:" + std::to_string(server.port), true))
        << port.ErrorText();
    server.Accept();
    EXPECT_TRUE(port.IsNetwork());
    EXPECT_GE(port.RoundTripMs(), 0);
    // A read waiting for a silent server ends as soon as another thread closes the port.
    ASSERT_TRUE(port.SetWaitingTimeouts(1, 1000, 5000, true));
    std::atomic<int> got{1};
    const auto start = std::chrono::steady_clock::now();
    std::thread reader([&] {
        char b[8];
        got = port.ReadBuffer(b, sizeof b);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    port.Close();
    reader.join();
    EXPECT_EQ(got, -1);
    EXPECT_EQ(port.ErrorCode(), kPortClosedError);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));

    // Opened again; the server goes: the read fails as a lost port, not as silence.
    ASSERT_TRUE(port.Open("tcp://127.0.0.1:" + std::to_string(server.port), true));
    close(server.client);
    server.client = -1;
    server.Accept();
    close(server.client);
    server.client = -1;
    char b[8];
    EXPECT_EQ(port.ReadBuffer(b, sizeof b), -1);
    EXPECT_TRUE(IsPortLostError(port.ErrorCode())) << port.ErrorCode();
    EXPECT_EQ(port.ErrorText(), "соединение с сетевым портом разорвано");
    port.Close();
}

// The RFC 2217 server's side of an opening: takes the client's opening and settings and
// answers each setting with the value asked, its parity replaced by parity (0: as asked),
// or not at all (silent). What the client sent is returned.
std::string AnswerSettings(Server& server, char parity, bool silent) {
    server.Accept();
    std::string got = server.Take(200);
    const std::string sub = "\xFF\xFA\x2C"s;
    std::string reply;
    for (size_t at = got.find(sub); at != std::string::npos; at = got.find(sub, at + 1)) {
        const size_t end = got.find("\xFF\xF0", at);
        std::string value = got.substr(at + 4, end - at - 4);
        if (got[at + 3] == 3 && parity != 0) value = std::string(1, parity);
        reply += sub + static_cast<char>(got[at + 3] + 100) + value + "\xFF\xF0";
    }
    if (!silent) {
        EXPECT_EQ(write(server.client, reply.data(), reply.size()), ssize_t(reply.size()));
    }
    return got;
}

TEST(NetPort, Rfc2217SetsTheLineOnlyWhenTheServerSaysSoAndEscapesTheData) {
    const struct {
        char parity;
        bool silent;
        std::string error;
    } cases[] = {
        {0, false, ""},
        {5, false, "сервер установил на порту не те настройки линии: чётность S вместо E "
                   "(19200-8-E-1)"},
        {0, true, "сервер не подтвердил настройки линии за 2 с (отвечает ли на этом порту "
                  "сервер RFC 2217?)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        Server server;
        TMyComPort port;
        port.SetLine(19200, 8, parEven, sbOne, false);
        std::string sent;
        std::thread serverSide([&] { sent = AnswerSettings(server, c.parity, c.silent); });
        const auto start = std::chrono::steady_clock::now();
        const bool opened = port.Open("rfc2217://127.0.0.1:" + std::to_string(server.port), true);
        serverSide.join();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_EQ(sent, telnet::Opening() + telnet::LineCommands({19200, 8, parEven, sbOne}));
        EXPECT_EQ(opened, c.error.empty());
        if (!opened) {
            EXPECT_EQ(port.ErrorText(), c.error);
            continue;
        }
        // Data with an IAC byte goes doubled; an answer with a doubled IAC comes back single,
        // the server's option questions taken out of it and answered.
        ASSERT_EQ(port.WriteString(std::string("\x02\xFF\x03", 3), false), 3);
        EXPECT_EQ(server.Take(200), std::string("\x02\xFF\xFF\x03", 4));
        const std::string answer = "\x02\xFF\xFF\x10\xFF\xFB\x01\x20"s;
        ASSERT_EQ(write(server.client, answer.data(), answer.size()),
                  static_cast<ssize_t>(answer.size()));
        ASSERT_TRUE(port.SetWaitingTimeouts(1, 1000, 1000, true));
        char b[4] = {};
        ASSERT_EQ(port.ReadBuffer(b, 4), 4);
        EXPECT_EQ(std::string(b, 4), std::string("\x02\xFF\x10\x20", 4));
        EXPECT_EQ(server.Take(200), "\xFF\xFE\x01"s) << "an option not asked for is refused";
        port.Close();
    }
}
