#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "device/value.h"

namespace tunavox {

// The channel's exchange: payload and ID flag in; answer payload or error text out.
using TExchange = std::function<bool(std::string_view payload, bool withId, std::string& answer,
                                     std::string& error)>;

constexpr uint8_t kCmdRead = 0x00;
constexpr uint8_t kCmdWrite = 0x80;

// Longest DATA field a write request carries with or without a device ID: a frame's
// payload holds at most 0x7FFF bytes, of which ID, command and address take 7.
constexpr size_t kMaxWriteData = 0x7FFF - 7;

// [device ID, 4 bytes, when not 0] command, address (big-endian), data.
std::string BuildRequest(uint32_t deviceId, uint8_t command, uint16_t address,
                         std::string_view data);

// Reads one register. The value is null on any failure; the error text is empty on
// success, one character for a device error code, or a message.
void ReadRegister(uint32_t deviceId, uint16_t address, uint8_t regType, const TExchange& exchange,
                  TValue& value, std::string& error);

// Writes one register; the value is checked before anything is sent.
void WriteRegister(uint32_t deviceId, uint16_t address, uint8_t regType, const TValue& value,
                   const TExchange& exchange, std::string& error);

} // namespace tunavox
