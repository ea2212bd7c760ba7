#include "link/net_address.h"

#include <algorithm>
#include <cctype>

namespace tunavox {
namespace {

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), s.begin(), [](char wanted, char c) {
               return std::tolower(static_cast<unsigned char>(c)) == wanted;
           });
}

} // namespace

bool IsNetworkPortName(std::string_view name) {
    return StartsWithNoCase(name, "tcp://") || StartsWithNoCase(name, "rfc2217://");
}

bool ParseNetAddress(std::string_view name, TNetAddress& out, std::string& error) {
    out = {};
    if (StartsWithNoCase(name, "tcp://")) {
        name.remove_prefix(6);
    } else if (StartsWithNoCase(name, "rfc2217://")) {
        out.Rfc2217 = true;
        name.remove_prefix(10);
    } else {
        error = "это не сетевой адрес (tcp://УЗЕЛ:ПОРТ или rfc2217://УЗЕЛ:ПОРТ)";
        return false;
    }
    if (!name.empty() && name.back() == '/') name.remove_suffix(1);
    size_t colon = std::string_view::npos;
    if (!name.empty() && name.front() == '[') {
        const size_t close = name.find(']');
        if (close == std::string_view::npos || close + 1 >= name.size() || name[close + 1] != ':') {
            error = "адрес IPv6 пишется в скобках с портом: [::1]:ПОРТ";
            return false;
        }
        out.Host = std::string(name.substr(1, close - 1));
        colon = close + 1;
    } else {
        colon = name.rfind(':');
        if (colon == std::string_view::npos) {
            error = "не указан порт: УЗЕЛ:ПОРТ";
            return false;
        }
        out.Host = std::string(name.substr(0, colon));
    }
    const std::string_view port = name.substr(colon + 1);
    unsigned long value = 0;
    const bool digits =
        !port.empty() && port.size() <= 5 &&
        std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (digits) value = std::stoul(std::string(port));
    if (!digits || value == 0 || value > 65535) {
        error = "порт — число от 1 до 65535";
        return false;
    }
    if (out.Host.empty() || out.Host.find_first_of(" /\\") != std::string::npos) {
        error = "не указан узел: УЗЕЛ:ПОРТ";
        return false;
    }
    // The longest name DNS can carry.
    if (out.Host.size() > 253) {
        error = "имя узла длиннее 253 символов";
        return false;
    }
    out.Port = static_cast<uint16_t>(value);
    return true;
}

namespace telnet {
namespace {

constexpr unsigned char kSb = 250, kSe = 240, kWill = 251, kWont = 252, kDo = 253, kDont = 254;
constexpr unsigned char kBinary = 0, kSga = 3;

std::string Command(unsigned char verb, unsigned char option) {
    return std::string{static_cast<char>(kIac), static_cast<char>(verb), static_cast<char>(option)};
}

// One COM port control subnegotiation with its value, escaped.
std::string Sub(unsigned char command, std::string_view value) {
    std::string out{static_cast<char>(kIac), static_cast<char>(kSb),
                    static_cast<char>(kComPortOption), static_cast<char>(command)};
    out += Escape(value);
    out += static_cast<char>(kIac);
    out += static_cast<char>(kSe);
    return out;
}

} // namespace

std::string Escape(std::string_view data) {
    std::string out;
    out.reserve(data.size());
    for (const char c : data) {
        out += c;
        if (static_cast<unsigned char>(c) == kIac) out += c;
    }
    return out;
}

std::string Opening() {
    return Command(kWill, kBinary) + Command(kDo, kBinary) + Command(kWill, kSga) +
           Command(kDo, kSga) + Command(kWill, kComPortOption);
}

std::string LineCommands(const TLineSettings& line) {
    const uint32_t baud = line.BaudRate;
    const std::string rate{static_cast<char>(baud >> 24), static_cast<char>(baud >> 16),
                           static_cast<char>(baud >> 8), static_cast<char>(baud)};
    // RFC 2217: parity 1 none, 2 odd, 3 even, 4 mark, 5 space; stop bits 1 one, 2 two,
    // 3 one and a half; control 1 no flow control.
    static constexpr unsigned char kParity[] = {1, 2, 3, 4, 5};
    const unsigned char parity = kParity[std::min<uint8_t>(line.Parity, 4)];
    const unsigned char stop = line.StopBits == sbTwo ? 2 : line.StopBits == sbOneHalf ? 3 : 1;
    return Sub(1, rate) + Sub(2, std::string(1, static_cast<char>(line.ByteSize))) +
           Sub(3, std::string(1, static_cast<char>(parity))) +
           Sub(4, std::string(1, static_cast<char>(stop))) + Sub(5, std::string(1, '\x01'));
}

void TReader::Feed(std::string_view bytes, std::string& data, std::string& reply) {
    const auto refuseOnce = [&](unsigned char verb, unsigned char option) {
        uint64_t& word = refused_[option / 64];
        const uint64_t bit = uint64_t{1} << (option % 64);
        if (word & bit) return;
        word |= bit;
        reply += Command(verb, option);
    };
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        switch (state_) {
        case State::Data:
            if (c == kIac)
                state_ = State::Iac;
            else
                data += ch;
            break;
        case State::Iac:
            if (c == kIac) {
                data += ch;
                state_ = State::Data;
            } else if (c == kWill || c == kWont || c == kDo || c == kDont) {
                verb_ = c;
                state_ = State::Option;
            } else if (c == kSb) {
                state_ = State::Sub;
            } else {
                state_ = State::Data; // NOP, GA and the like carry nothing
            }
            break;
        case State::Option: {
            const bool ours = c == kBinary || c == kSga || c == kComPortOption;
            if (verb_ == kDo && !ours) refuseOnce(kWont, c);
            if (verb_ == kWill && c != kBinary && c != kSga) refuseOnce(kDont, c);
            state_ = State::Data;
            break;
        }
        case State::Sub:
            // The server's notifications (line state, modem state, its settings) are
            // read to the end and dropped.
            if (c == kIac) state_ = State::SubIac;
            break;
        case State::SubIac:
            state_ = c == kSe ? State::Data : State::Sub;
            break;
        }
    }
}

} // namespace telnet

} // namespace tunavox
