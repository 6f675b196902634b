// Libraries as CSV text, the form the shipped libraries are kept in and the
// way libraries are exchanged with spreadsheets.
//
// Comma-separated, one record a row, fields quoted with '"' when they hold a
// comma, a quote (doubled), a line break or leading or trailing blanks.
// Rows that start with '#' and empty rows are comments. Two kinds of row:
//
//   nuclide,NAME,HALF_LIFE,UNIT,PRINCIPAL_KEV,DESCRIPTION,DATA_SOURCE
//   line,ENERGY_KEV,YIELD,YIELD_UNCERTAINTY
//
// A nuclide row starts a nuclide; the line rows after it are its gamma lines.
// NAME at most 8 characters, DESCRIPTION at most 48, DATA_SOURCE at most 30,
// kept exactly as written (blanks included). HALF_LIFE is a number in UNIT:
// S, M, H, D or Y (365.25 days); PRINCIPAL_KEV 0 or empty when not set.
// YIELD and YIELD_UNCERTAINTY are fractions per decay (0.851 for 85.1 %), the
// uncertainty 0 or empty when not given. Numbers use '.' as the decimal
// point whatever the locale.
//
// Written CSV gives half-lives in minutes (unit M) and every number in the
// shortest form that reads back to the same single-precision value, so that
// binary -> CSV -> binary reproduces the file byte for byte.
#pragma once

#include <string>
#include <string_view>

#include "settings/library.h"

namespace kestrim {

// The CSV text of the library (lines end in CR LF).
std::string library_to_csv(const NuclideLibrary& lib);

// Fills `lib` (cleared first) from CSV text. A library must load whole from
// the binary file it makes: at most 398 nuclides, 200 lines a nuclide, and
// the load's line-total rules. Returns 1, or 0 with `error` naming the row
// ("row 12: ...").
int library_from_csv(std::string_view text, NuclideLibrary& lib, std::string* error);

}  // namespace kestrim
