// Row formats written by users in report templates.
//
// A template row is a printf format the user typed, so its conversions
// cannot be trusted to match the values handed to it. format_row walks the
// format itself and converts each value to what its conversion asks for
// (text for %s, a whole number for %d and its kin, a real number for
// %e %f %g), so a mismatched template prints odd values, never garbage.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrim {

struct RowValue {
  enum class Kind { kText, kNumber };
  Kind kind = Kind::kNumber;
  std::string text;
  double number = 0;
  RowValue(double v) : number(v) {}  // NOLINT: rows are built from plain values
  RowValue(int v) : number(v) {}     // NOLINT
  RowValue(std::string s) : kind(Kind::kText), text(std::move(s)) {}  // NOLINT
  RowValue(const char* s) : kind(Kind::kText), text(s) {}             // NOLINT
};

// Formats `format` with `values` in order; conversions past the last value
// print as an empty text or 0. "%%" prints '%'. Exponents have three
// digits (the report lines' tidy-up gives two).
std::string format_row(std::string_view format, const std::vector<RowValue>& values);

// Rounding of reported values: half up at 10^(k-1) with k = floor(log10(u))
// for an uncertainty u > 0, and upwards at its own second figure.
double round_half_up_at(double value, double step);
double round_up_at(double value, double step);

}  // namespace kestrim
