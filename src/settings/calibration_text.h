// A text form of detector files, so that shipped and test calibrations can
// be reviewed and written by hand:
//
//   # comment
//   [geometry 1]
//   energy_terms = 2
//   energy = 0 3 0
//   geometry_text = "1 kg soil, Marinelli beaker"
//   ...
//
// One [geometry N] block per section; every field of the 512-byte record
// has a name (calibration_text.cpp lists them with their offsets). Fields
// left out are zero. Reals are written so that they read back bit for bit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrim {

// The sections of a detector file as text; `geometry` > 0 prints only that
// section, 0 prints every section that is not all zero.
std::string detector_file_to_text(const std::vector<std::uint8_t>& file, int geometry);

// Builds a detector file from text: at least 50 sections, more when a
// higher geometry is given. On failure returns false with the line and the
// problem in `error`.
bool detector_file_from_text(const std::string& text, std::vector<std::uint8_t>& file,
                             std::string& error);

}  // namespace kestrim
