// The text form of a Defaults file, for reading and reviewing parameters and
// for building the shipped Defaults files from commented sources.
//
// One line per field of the record, in table order (parameter_fields.h):
//   NAME = VALUE  # description
// Names are the table's text names (report tokens where a field has its
// own). Values:
//   integers   decimal;
//   reals      "%.9g", which reads back to the same 32-bit pattern; values
//              that are not normal numbers or zero (subnormals, infinities,
//              NaNs) as their bit pattern "0x7fc00000";
//   text       in double quotes, the field's bytes up to its last non-zero
//              byte; '"' and '\' are escaped with '\', other bytes outside
//              printable ASCII (including a NUL before later bytes) as \xHH.
// Byte ranges of the record that no field covers are printed, when not all
// zero, as "reserved.OFFSET = 0a 00 ff ..." (the whole range, in hex), at
// their place in offset order. Passwords, when set, follow as
// user_password = "..." and manager_password = "..." in plain text.
//
// Reading the text: '#' starts a comment outside quotes; blank lines are
// skipped; names ignore case; each name may appear once; fields not given
// are zero (the application name "Normal"). Unknown names, malformed values,
// values out of the field's range and text too long for its field are
// errors naming the line. The checksum line is optional and its value is not
// used: the checksum is always computed from the record built.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrim {

// The text of a Defaults file given as its bytes; "" when the bytes are fewer
// than the 2304-byte record.
std::string defaults_to_text(const std::vector<std::uint8_t>& bytes);

// Builds the bytes of a Defaults file (record and both password fields,
// 2336 bytes) from its text. On error returns false, leaves `bytes` empty
// and sets `error` to "line N: problem".
bool defaults_from_text(std::string_view text, std::vector<std::uint8_t>& bytes,
                        std::string& error);

}  // namespace kestrim
