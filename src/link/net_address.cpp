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

namespace {

// RFC 2217: parity 1 none, 2 odd, 3 even, 4 mark, 5 space; stop bits 1 one, 2 two,
// 3 one and a half; control 1 no flow control.
unsigned char ParityCode(const TLineSettings& line) {
    return static_cast<unsigned char>(std::min<uint8_t>(line.Parity, 4) + 1);
}
unsigned char StopCode(const TLineSettings& line) {
    return line.StopBits == sbTwo ? 2 : line.StopBits == sbOneHalf ? 3 : 1;
}
std::string RateBytes(uint32_t baud) {
    return {static_cast<char>(baud >> 24), static_cast<char>(baud >> 16),
            static_cast<char>(baud >> 8), static_cast<char>(baud)};
}

} // namespace

std::string LineCommands(const TLineSettings& line) {
    return Sub(1, RateBytes(line.BaudRate)) +
           Sub(2, std::string(1, static_cast<char>(line.ByteSize))) +
           Sub(3, std::string(1, static_cast<char>(ParityCode(line)))) +
           Sub(4, std::string(1, static_cast<char>(StopCode(line)))) +
           Sub(5, std::string(1, '\x01'));
}

std::string LineAnswersDiffer(const TLineSettings& line, const TReader& reader) {
    static constexpr const char* kParity = "?NOEMS";
    static constexpr const char* kStop[] = {"?", "1", "2", "1,5"};
    const auto code = [&](unsigned char command) {
        std::string value;
        reader.Answered(command, value);
        return value.size() == 1 ? static_cast<unsigned char>(value[0]) : 0;
    };
    std::string rate, out;
    reader.Answered(1, rate);
    const auto add = [&out](const std::string& what) { out += (out.empty() ? "" : ", ") + what; };
    if (rate != RateBytes(line.BaudRate)) {
        uint32_t baud = 0;
        for (const char c : rate) baud = baud << 8 | static_cast<unsigned char>(c);
        add("скорость " + std::to_string(baud) + " вместо " + std::to_string(line.BaudRate));
    }
    if (code(2) != line.ByteSize)
        add("биты данных " + std::to_string(code(2)) + " вместо " + std::to_string(line.ByteSize));
    if (const unsigned char p = code(3); p != ParityCode(line))
        add(std::string("чётность ") + (p <= 5 ? kParity[p] : '?') + " вместо " +
            kParity[ParityCode(line)]);
    if (const unsigned char s = code(4); s != StopCode(line))
        add(std::string("стоповые биты ") + kStop[s <= 3 ? s : 0] + " вместо " +
            kStop[StopCode(line)]);
    if (code(5) != 1) add("включено управление потоком");
    return out;
}

bool TReader::Answered(unsigned char command, std::string& value) const {
    if (command < 1 || command > 5 || !(answered_ & (1u << command))) return false;
    value = answers_[command];
    return true;
}

void TReader::ForgetAnswers() {
    answered_ = 0;
}

void TReader::TakeSub() {
    // The server answers a setting with its command plus 100 and the value in force.
    if (sub_.size() < 2 || static_cast<unsigned char>(sub_[0]) != kComPortOption) return;
    const int command = static_cast<unsigned char>(sub_[1]) - 100;
    if (command < 1 || command > 5) return;
    answers_[command] = sub_.substr(2);
    answered_ |= 1u << command;
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
                sub_.clear();
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
            // The server's notifications (line state, modem state) are read to the end
            // and dropped; its answers to our settings are kept.
            if (c == kIac)
                state_ = State::SubIac;
            else if (sub_.size() < kSubLimit)
                sub_ += ch;
            break;
        case State::SubIac:
            if (c == kIac && sub_.size() < kSubLimit) sub_ += ch;
            if (c == kSe) TakeSub();
            state_ = c == kSe ? State::Data : State::Sub;
            break;
        }
    }
}

} // namespace telnet

} // namespace tunavox
