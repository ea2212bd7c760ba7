#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "device/name_value_list.h"
#include "device/value.h"

namespace tunavox {

// The decimal separator used when reading and showing reals. Process-wide; the GUI
// sets it from the system locale. Conversions never consult the C library's locale.
void SetDecimalSeparator(char separator);
char DecimalSeparator();

// User or description text to a value of the register type. On failure the value is
// left empty.
bool TextToValue(std::string_view text, uint8_t regType, TValue& value);
// Why TextToValue refuses text, in words for the user: the type's range or the form a
// number takes ("допустимо от -32768 до 32767", "нужно число, например 12,5"); empty
// when it takes it.
std::string TextProblem(std::string_view text, uint8_t regType);

// Display text of a value: a real is rounded to single precision and shown in fixed
// notation with prec digits (prec is clamped to 0..18); any other value as its text.
std::string FloatText(int prec, const TValue& value);

// The single-precision bits of a real (any number is rounded to single precision)
// and a real from such bits. NaN payloads, signalling ones included, survive both
// ways unchanged; a plain cast would quiet them.
uint32_t FloatBits(const TValue& value);
TValue FloatFromBits(uint32_t bits);

// A real with as many digits as it takes to tell it from every other single-precision
// value ("150.4", "1e-45"); a NaN as its bits ("NaN 0x7FA00000").
std::string ExactFloatText(const TValue& value);

// Plain text of a value: null and empty give "", integers decimal, strings as they
// are, reals with up to 15 significant digits.
std::string VariantText(const TValue& value);

// Bytes of a value of the type in a DATA field; -1 for a text (any length).
int FixedSize(uint8_t regType);

// DATA field of an answer to a value; Str bytes are Windows-1251. On failure the value
// is null.
bool BytesToValue(std::string_view bytes, uint8_t regType, TValue& value);

// Value to the DATA field of a write request, big-endian; Str as Windows-1251 bytes.
// A null or empty value of a numeric type is refused.
bool ValueToBytes(const TValue& value, uint8_t regType, std::string& bytes);

// "Str", "Byte", ... "Header"; empty for an unknown code.
std::string TypeName(uint8_t regType);

// True for success (low 7 bits zero). Otherwise the error text is one character
// whose code is the device error code.
bool StatusToError(uint8_t status, std::string& errorText);

// Device error code in words: the first entry of texts keyed "0x" + two or more
// upper-case hex digits (any case matches), else the built-in text.
std::string DeviceErrorText(int code, const TNameValueList* texts = nullptr);

// The key of a device error code in the description's error table: "0x05", "0xAB".
std::string DeviceErrorKey(int64_t code);

// An error text as the user should read it: a one-character text is a device error code.
std::string ErrorTextInWords(const std::string& errorText, const TNameValueList* texts);

// destination[i] := source[n - 1 - i]
void ReverseBytes(const void* source, void* destination, size_t n);

} // namespace tunavox
