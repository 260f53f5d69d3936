// ValueText: the text forms of integer and register values, and their parsers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qorcam::viewer {

/// Every place of the viewer that shows or stores an integer or a register
/// value writes it with these functions and reads it back with their parsers,
/// so a text written anywhere reads back to the same value. Pure functions.
///
/// FormatIntValue: decimal up to 2147483646 (signed: from -2147483647), else
/// "0x" (or "-0x") and lower-case 16-bit groups: "0x 7fff ffff",
/// "0x 0001 0000 0000", "-0x 8000 0000". Callers pass isSigned exactly when
/// the node's minimum is below its maximum.
std::string FormatIntValue(int64_t value, bool isSigned);

/// Reads every output of FormatIntValue back: "0x" anywhere makes the text
/// hexadecimal, spaces are dropped, conversion stops at the first character
/// that is not part of the number. Not signed: the u64 result as i64.
int64_t ParseDecimalValue(std::string_view text, bool isSigned);

/// "[HEX] 0001 0002 0003 0004": the first 16 characters after dropping the
/// tag and the spaces; hexadecimal digits are shifted in, others skipped.
uint64_t ParseHexValue(std::string_view text);

/// "[IPv4] 192.168.0.1": at most four dotted decimal parts, most significant
/// first; a part above 255 is added unchanged.
int64_t ParseIPv4Value(std::string_view text);

/// A float as the grid and the editor show it ("%f": six decimals).
std::string FormatFloatValue(double value);

/// The tagged forms that the grid and the editor show.
std::string FormatIPv4Value(int64_t value);
std::string FormatHexValue(int64_t value);

/// Printable bytes other than space and backslash as themselves, every other
/// byte as a backslash and two upper-case hexadecimal digits.
std::string FormatRegisterBytes(const uint8_t* bytes, size_t length);

/// The reverse of FormatRegisterBytes. Writes at most capacity bytes and
/// returns how many; stops at the end of the text or at an escape that lacks
/// its two digits.
size_t ParseRegisterBytes(uint8_t* bytes, size_t capacity, std::string_view text);

} // namespace qorcam::viewer
