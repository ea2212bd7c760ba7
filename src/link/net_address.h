#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "link/line_settings.h"

namespace tunavox {

// A serial line behind a serial-to-Ethernet converter, named as a port:
// "tcp://HOST:PORT" — raw TCP, the converter's own line settings apply;
// "rfc2217://HOST:PORT" — Telnet with the COM port control option (RFC 2217): line
// settings and purges go to the server. An IPv6 host is written in brackets.
struct TNetAddress {
    bool Rfc2217 = false;
    std::string Host;
    uint16_t Port = 0;
};

// Whether the name is a network port's ("tcp://…" or "rfc2217://…", any letter case).
bool IsNetworkPortName(std::string_view name);
// Parses a network port's name; false (and why in error) for a name that is not one or
// is malformed.
bool ParseNetAddress(std::string_view name, TNetAddress& out, std::string& error);

// How long connecting may take before the address is reported as not answering.
constexpr int kConnectTimeoutMs = 3000;
// How long an RFC 2217 server may take to answer the line settings (besides the round trip).
constexpr int kSettingsAnswerMs = 2000;

// The Telnet side of RFC 2217, independent of sockets.
namespace telnet {
constexpr unsigned char kIac = 255;
constexpr unsigned char kComPortOption = 44;
// Data as it goes to the server: every IAC byte doubled.
std::string Escape(std::string_view data);
// The client's opening: binary both ways, no go-ahead, and the COM port control option.
std::string Opening();
// Baud rate, data bits, parity (mark and space included), stop bits and no flow control,
// as the server is to set them on its port.
std::string LineCommands(const TLineSettings& line);

// Takes the bytes the server sends apart: data (IAC IAC is one 0xFF) and Telnet
// commands, which are answered (an option not asked for is refused) or, for the COM
// port option's notifications, read and dropped. Commands may be split anywhere.
class TReader {
public:
    // Appends the data in bytes to data and what is to be sent back to reply.
    void Feed(std::string_view bytes, std::string& data, std::string& reply);
    // The server's answer to a line setting (command 1 baud rate … 5 flow control): the
    // value it says is now in force; false while it has not answered since Forget.
    bool Answered(unsigned char command, std::string& value) const;
    void ForgetAnswers();

private:
    static constexpr size_t kSubLimit = 16;
    void TakeSub();
    enum class State { Data, Iac, Option, Sub, SubIac };
    State state_ = State::Data;
    unsigned char verb_ = 0;
    std::string sub_;         // the subnegotiation being read (bounded)
    std::string answers_[6];  // per setting command, the server's last answer
    unsigned answered_ = 0;   // bit per command answered since ForgetAnswers
    uint64_t refused_[4] = {}; // options already refused, so that a refusal is sent once
};
// What is wrong with the server's answers to LineCommands(line) in words ("чётность M
// вместо E"); empty when it set what was asked.
std::string LineAnswersDiffer(const TLineSettings& line, const TReader& reader);
} // namespace telnet

} // namespace tunavox
