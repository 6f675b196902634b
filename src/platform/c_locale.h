// Number formatting and parsing that never depend on the process locale.
//
// Files, reports and command lines always use a '.' decimal point,
// whatever LC_NUMERIC the process runs with (a desktop program takes the
// user's locale). These wrappers run the C library's printf and scanf
// families and strtod in the "C" locale, for the calling thread only.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>

namespace kestrim {

int c_snprintf(char* buffer, std::size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
int c_vsnprintf(char* buffer, std::size_t size, const char* format, std::va_list args)
    __attribute__((format(printf, 3, 0)));
int c_fprintf(std::FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));
int c_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
int c_sscanf(const char* text, const char* format, ...) __attribute__((format(scanf, 2, 3)));
double c_strtod(const char* text, char** end);
// strtod of the whole text; 0 for text that is not a number (as atof).
double c_atof(const char* text);

}  // namespace kestrim
