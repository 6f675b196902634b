// printf-style formatting for report lines.
//
// Report lines are built with printf formats, and every line then passes
// through the exponent tidy-up (tidy_exponents), which removes the '0' two
// places after each 'e'. That rule assumes numbers in exponent form carry a
// three-digit exponent ("1.2345e+003"); the C library here writes two digits.
// c_format therefore writes every %e, %E, %g and %G conversion with a
// three-digit exponent (padding counted on the longer text), so that the
// tidy-up gives the two-digit form and lines keep the widths the formats
// describe.
#pragma once

#include <cstdarg>
#include <string>
#include <string_view>

namespace kestrim {

// Formats like snprintf, with three-digit exponents. Supports the flags
// "-+ #0", width and precision (digits or '*'), the length modifiers h, hh,
// l, ll, z and the conversions d i u o x X c s f F e E g G %. An unknown
// conversion is copied as it stands.
std::string c_format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string c_vformat(const char* fmt, std::va_list args);

// The exponent tidy-up of report lines: in each number written with a
// three-digit exponent ("1.2345e+003", the 'e' after a digit or point,
// nothing of a word after the exponent) the exponent's leading '0' is
// removed. Other text, such as file names, is left as it is.
std::string tidy_exponents(std::string_view line);

// Number of conversions of a row format, counted as the report writers
// count them: the '%' signs not followed by another '%'. The second '%' of
// "%%" is followed by something else and so is counted.
int count_conversions(std::string_view format);

}  // namespace kestrim
