#pragma once
#include <string>

#include "device/name_value_list.h"
#include "device/reg.h"

namespace tunavox {

// Texts of the register table's cells, shared by the window, the command-line tool
// and the exports.

// "0x" + the address in upper-case hex with at least two digits ("0x05", "0x1F4");
// empty for a heading row.
std::string CodeText(const TReg& reg);
// Name, with " [" + units + "]" when there are units.
std::string NameText(const TReg& reg);
// The register's error code 1 or 4 in words; otherwise its display text.
std::string ValueText(const TReg& reg, const TNameValueList* errorTexts);
// True when the last error is the device's code 1 or 4 (shown in the value cell).
bool ShowsDeviceError(const TReg& reg);

// A field of delimited text: quoted, inner quotes doubled, when it holds the
// separator, a double quote, CR or LF (RFC 4180); other control characters are shown as
// \xHH.
std::string DelimitedField(const std::string& text, char separator = ';');

} // namespace tunavox
