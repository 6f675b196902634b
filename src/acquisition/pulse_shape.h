// The measured pulse shape and the matched-filter coefficients made from
// it: "PulseShape.csv" holds captured pulses, one a line (15 sample values
// around each pulse's maximum); their average, differentiated and with its
// mean removed over the filter length, gives the coefficients.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace kestrim {

class Platform;

inline constexpr const char* kPulseShapeName = "PulseShape.csv";
inline constexpr int kMaxReadings = 15;   // longest matched filter
inline constexpr int kShapeValues = 16;   // positions summed from the file

struct PulseShape {
  bool read = false;                      // coefficients have been made
  int count = 0;                          // shape values (the built-in shape counts 16)
  std::array<int, kShapeValues> values{};  // the averaged shape, before differentiation
  std::array<int, kMaxReadings> coefs{};   // filter coefficients, `readings` of them used
};

// The shape used when "PulseShape.csv" has never been read.
std::array<int, kShapeValues> builtin_pulse_values();

// Reads "PulseShape.csv" from `dir` and makes the coefficients for the
// filter length `readings` (5-15; changed to 7 with the built-in shape and
// to 5 when the file holds fewer values). A missing file keeps coefficients
// already made, else uses the built-in shape; a file with fewer than 8
// values a line is reported ("Only found %d coefs, expecting 15 in %d
// lines") and its sums are used unaveraged. 1 when the file was read.
int read_pulse_shape(Platform& ui, const std::string& dir, PulseShape& shape, int& readings);

// Makes the coefficients from shape.values and shape.count.
void make_coefficients(PulseShape& shape, int& readings);

// Appends the pulse nearest `cursor` in a captured trace (samples offset
// by 32768, as the diagnostic display holds them) to "PulseShape.csv" in
// `dir`: the maximum within 4 samples of the cursor must stand at least
// 250 above the baseline. 1 when a line was added.
int save_pulse_shape(Platform& ui, const std::string& dir, const std::vector<int>& trace, int cursor);

}  // namespace kestrim
