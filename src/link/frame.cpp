#include "link/frame.h"

#include <array>

namespace tunavox {
namespace {

constexpr std::array<uint16_t, 256> MakeTable() {
    std::array<uint16_t, 256> t{};
    for (int i = 0; i < 256; ++i) {
        uint16_t crc = static_cast<uint16_t>(i << 8);
        for (int b = 0; b < 8; ++b)
            crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
        t[static_cast<size_t>(i)] = crc;
    }
    return t;
}

constexpr std::array<uint16_t, 256> kTable = MakeTable();

} // namespace

uint16_t CalcCRC(std::string_view bytes, int start, int count) {
    uint16_t crc = 0xFFFF;
    if (start < 1) start = 1;
    const size_t from = static_cast<size_t>(start - 1);
    if (from >= bytes.size()) return crc;
    size_t n = bytes.size() - from;
    if (count > 0 && static_cast<size_t>(count) < n) n = static_cast<size_t>(count);
    for (size_t i = from; i < from + n; ++i)
        crc = static_cast<uint16_t>(
            kTable[((crc >> 8) ^ static_cast<unsigned char>(bytes[i])) & 0xFF] ^ (crc << 8));
    return crc;
}

std::string CRCBytes(std::string_view bytes) {
    const uint16_t crc = CalcCRC(bytes);
    return {static_cast<char>(crc >> 8), static_cast<char>(crc & 0xFF)};
}

bool CheckCRC(std::string_view bytes, int start) {
    if (bytes.size() <= 2) return false;
    const int last = static_cast<int>(bytes.size()) - 2; // 1-based position of the last data byte
    const uint16_t crc = start > last ? 0xFFFF : CalcCRC(bytes, start, last - start + 1);
    const auto hi = static_cast<unsigned char>(bytes[bytes.size() - 2]);
    const auto lo = static_cast<unsigned char>(bytes[bytes.size() - 1]);
    return crc == ((hi << 8) | lo);
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
    if (from.empty()) return std::string(text);
    std::string out;
    out.reserve(text.size());
    size_t pos = 0;
    for (;;) {
        const size_t at = text.find(from, pos);
        if (at == std::string_view::npos) break;
        out.append(text.substr(pos, at - pos));
        out.append(to);
        pos = at + from.size();
    }
    out.append(text.substr(pos));
    return out;
}

std::string StuffFrame(std::string_view frame) {
    if (frame.empty()) return {};
    const std::string escaped = ReplaceAll(frame, "\xE5", "\xE5\xE5");
    if (escaped[0] == kStx)
        return std::string(1, kStx) +
               ReplaceAll(std::string_view(escaped).substr(1), "\x02", "\xE5\x1A");
    return ReplaceAll(escaped, "\x02", "\xE5\x1A");
}

std::string UnstuffFrame(std::string_view wire) {
    std::string out;
    out.reserve(wire.size());
    for (size_t i = 0; i < wire.size(); ++i) {
        if (wire[i] == kEscape && i + 1 < wire.size()) {
            if (wire[i + 1] == kEscape) {
                out += kEscape;
                ++i;
                continue;
            }
            if (wire[i + 1] == 0x1A) {
                out += kStx;
                ++i;
                continue;
            }
        }
        out += wire[i];
    }
    return out;
}

std::string BuildFrame(std::string_view payload, bool withId) {
    uint16_t length = static_cast<uint16_t>(payload.size());
    if (withId) length |= 0x8000;
    std::string frame;
    frame.reserve(payload.size() + 5);
    frame += kStx;
    frame += static_cast<char>(length >> 8);
    frame += static_cast<char>(length & 0xFF);
    frame.append(payload);
    frame += CRCBytes(payload);
    return frame;
}

} // namespace tunavox
