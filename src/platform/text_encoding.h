// Text from files written on Windows is 8-bit (Windows-1252); what the
// program shows and exports (JSON, reports, lists, CSV) is UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace kestrim {

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates).
bool is_valid_utf8(std::string_view text);

// `text` unchanged when it is valid UTF-8; otherwise each byte that does not
// start a well-formed UTF-8 sequence is read as Windows-1252 (the five bytes
// that code page leaves undefined as Latin-1 control characters) and
// written as UTF-8.
std::string text_as_utf8(std::string_view text);

// The UTF-8 form of one Windows-1252 byte.
std::string windows1252_to_utf8(unsigned char byte);

// Replaces each UTF-8 character of `text` that Windows-1252 can hold by its
// single byte, leaving every other byte as it is: files written either way
// read back alike.
std::string utf8_to_windows1252(std::string_view text);

}  // namespace kestrim
