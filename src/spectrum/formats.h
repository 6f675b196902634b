// The spectrum formats Kestrim reads: one row per format with its name,
// extension, directory-listing pattern, reader and channel-count probe.
//
//  type  name                    ext   type  name                    ext
//     0  Kestrim format          dat      8  Oxford Instruments      spm
//     1  Canberra Spectran       spc      9  Rainbow                 spc
//     2  Canberra S100 MCA       mca     10  PGT Quantum             ans
//     3  Ortec CHN               chn     11  Laboratory Iquipment    dat
//     4  Ortec SPC               spc     12  Fieldspec               spc
//     5  Text File               txt     13  Exploranium             spe
//     6  Canberra Genie_PC       cnf     14  MiniMCA                 spe
//     7  Aptec                   s0      15  ANSI N42                n42
//    16  acquired from an MCA, not from a file
//    17  TKA                     tka
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "spectrum/spectrum_record.h"

namespace kestrim {

class Platform;

inline constexpr int kSpectrumTypeCount = 16;  // 0-15 are file formats
inline constexpr int kSpectrumTypeAcquired = 16;
// Formats added after the acquired type: numbered from 17 on.
inline constexpr int kSpectrumTypeTka = 17;
// Every type read from a file, in the order extensions are matched.
inline constexpr int kSpectrumFileTypes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15,
                                             kSpectrumTypeTka};

// What a reader needs from the analysis parameters.
struct ReaderOptions {
  bool ignore_header = false;               // keep the header fields, take counts only
  bool use_file_energy_calibration = false; // take the file's energy calibration
  int text_channels_per_line = 0;           // text spectra
  int text_header_lines = 0;
};

// A foreign reader fills `rec` from the file's bytes: the channel count, live
// and true times, counts from channel 0 (as reals), whatever header fields
// the format has, and optionally the energy calibration of rec.calibration.
// It returns >= 0 on success and a negative number when the file is short or
// malformed (it may first show its own message through `ui`).
using SpectrumReader = int (*)(const std::vector<std::uint8_t>& bytes, SpectrumRecord& rec,
                               const ReaderOptions& options, Platform& ui);

// Channel-count probe used when listing a directory for batch analysis:
// the number of channels, or 0 when the file is not of this format.
using SpectrumProbe = int (*)(const std::vector<std::uint8_t>& bytes);

struct SpectrumFormat {
  int type;
  const char* name;       // "Ortec CHN"
  const char* extension;  // "chn"
  const char* pattern;    // listing pattern ("*.chn"), nullptr when none
  SpectrumReader read;    // nullptr for the native format (read by the native reader)
  SpectrumProbe probe;    // nullptr when the format cannot be listed
};

// The row of a file type (0-15, 17), or nullptr.
const SpectrumFormat* spectrum_format(int type);
// Name for messages and `info`: the table's name, "MCA" for type 16.
std::string spectrum_type_name(int type);

}  // namespace kestrim
