// The reference spectrum file ".rsd": a native spectrum file (written by the
// native writer) in which three header fields take on the reference's role.
//
//   offset  size  type     field
//      124     2  int16    number of channels
//      134     4  real32   activity of the reference source, Bq
//                          (the correction factor of a plain spectrum)
//      148     2  int16    data type: 2 = counts as uint16, else real32
//      150     4  real32   live time, s
//      182     4  real32   activity uncertainty, % (the sampling uncertainty)
//      234    16  text     reference title, fewer than 16 characters
//                          (the sample type)
//      256   512           calibration record, as in a spectrum file
//     1024                 counts from channel 0, channels / 256 records of
//                          256 channels (512 bytes of uint16 or 1024 bytes of
//                          real32; reals are truncated to whole counts)
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "reference/reference_set.h"
#include "spectrum/dates.h"

namespace kestrim {

class Platform;
struct SpectrumRecord;

namespace rsd_offset {
inline constexpr int kChannels = 124;
inline constexpr int kActivity = 134;
inline constexpr int kDataType = 148;
inline constexpr int kLiveTime = 150;
inline constexpr int kUncertainty = 182;
inline constexpr int kTitle = 234;
inline constexpr int kTitleSize = 16;
inline constexpr int kCalibration = 256;
inline constexpr int kCounts = 1024;
}  // namespace rsd_offset

inline constexpr int kMaxReferenceTitle = 15;  // characters

// Decodes the bytes of a ".rsd" file into `out` (title, activity,
// uncertainty, live time, channels, calibration, counts). Returns 1, or 0
// when the header is impossible or the last record is short; `problem`
// then says what is wrong.
int decode_reference(const std::vector<std::uint8_t>& bytes, ReferenceSpectrum& out,
                     std::string& problem);

// The bytes of a ".rsd" file for `spectrum` with its role fields set. The
// spectrum is copied; the native writer's rules (data type, channels 0 and
// 1) apply to the copy. `saved` becomes the saved date.
std::vector<std::uint8_t> encode_reference(const SpectrumRecord& spectrum, const std::string& title,
                                           double activity_bq, double uncertainty_pct,
                                           const DateTime& saved);

// Reads one reference file: "Error Opening file:- NAME" when it cannot be
// opened, "Error Reading Reference data file NAME" when it is short or
// malformed (error icon). `name` is the reference's name in the set (the
// file name without extension). Returns 1 or 0.
int read_reference_file(const std::string& path, ReferenceSpectrum& out, Platform& ui);

// The checks of a reference before it joins a set: a live time and an
// activity above 0, at most 10 references. Reports and returns 0 on
// failure.
int check_reference(const ReferenceSpectrum& ref, int already_in_set, Platform& ui);

}  // namespace kestrim
