#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace tunavox {

constexpr char kStx = 0x02;
constexpr char kEscape = static_cast<char>(0xE5);

// CRC-16/CCITT-FALSE of count bytes from a 1-based start. A count of 0 or less, or
// one that runs past the end, means up to the end; an empty range gives 0xFFFF.
uint16_t CalcCRC(std::string_view bytes, int start = 1, int count = 0);

// High byte, then low byte of the CRC of the whole string.
std::string CRCBytes(std::string_view bytes);

// False for 2 bytes or fewer; otherwise the CRC of the bytes from the 1-based start
// up to the third-last byte is compared with the last two bytes, high byte first.
bool CheckCRC(std::string_view bytes, int start);

// Replaces every occurrence of from, left to right, without overlaps.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);

// Protocol 2.0 byte stuffing: E5 -> E5 E5, and 02 -> E5 1A everywhere but a leading STX.
std::string StuffFrame(std::string_view frame);

// Reverses StuffFrame; an E5 before any other byte, or as the last byte, is copied.
std::string UnstuffFrame(std::string_view wire);

// Longest payload a frame can carry: bit 15 of the length field is the ID flag.
constexpr size_t kMaxPayload = 0x7FFF;

// STX, length (bit 15 set when the payload starts with a device ID), payload, CRC.
// The payload must not be longer than kMaxPayload.
std::string BuildFrame(std::string_view payload, bool withId);

} // namespace tunavox
