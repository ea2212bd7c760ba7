#pragma once
#include <cstdint>
#include <string>

namespace tunavox {

class TCanal;

// Opens the channel's port the way the device expects to be woken: in direct mode
// the byte 18 at 115200 8 mark 2, then A0 5A at space parity; through a gateway the
// 15-byte preamble at 4800 7 even 2. Sets the protocol version first (0: 1.0, else
// 2.0). Whatever happens, the port's line settings are the description's again
// afterwards. On failure the port is closed and its ErrorCode says why.
bool OpenPort(TCanal& canal, const std::string& name, uint8_t version, bool gateway);

// What an open port cannot do, said once (not an error): over raw TCP the converter keeps
// its own line settings, so neither the description's settings nor the opening
// preamble's parity switch reach the line. Empty for any other port.
std::string OpenPortNote(const TCanal& canal);

} // namespace tunavox
