// "Peak data.bin" in the working directory: the fitted peaks of one
// spectrum, written after its peaks were fitted interactively and taken
// over when that spectrum is opened interactively again.
//
//   offset        size  content
//        0           4  int32 marker -1
//        4          32  spectrum file name, NUL-terminated
//       36           4  int32 peak count (0-500)
//       40  16 x 2000   sixteen arrays of 500 four-byte entries; entry i
//                       holds peak i+1 of the peak list:
//                        0 centre (real32)           8 net area (real32)
//                        1 centre channel (int32)    9 net area unc. % (real32)
//                        2 fit start (int32)        10 gammas/s (real32)
//                        3 fit end (int32)          11 its unc. % (real32)
//                        4 window start (int32)     12 FWHM keV (real32)
//                        5 window end (int32)       13 goodness of fit (real32)
//                        6 region choice (int32)    14 library confirmed (int32)
//                        7 significance (real32)    15 unconditional (int32)
// The fitted areas and the fitted flags are not stored.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrim {

struct State;
struct PeakList;

inline constexpr const char* kPeakDataFile = "Peak data.bin";
inline constexpr int kPeakDataArrays = 16;
inline constexpr int kPeakDataEntries = 500;
inline constexpr int kPeakDataHeader = 40;
inline constexpr int kPeakDataSize = kPeakDataHeader + kPeakDataArrays * kPeakDataEntries * 4;

std::vector<std::uint8_t> encode_peak_data(const PeakList& peaks, const std::string& file_name);

// Takes the stored peaks when the bytes name `file_name` (case ignored).
// Returns 1 when the peaks were taken over (all arrays complete), 0 when the
// file is for another spectrum or is damaged (the peak count is then 0).
int decode_peak_data(const std::vector<std::uint8_t>& bytes, const std::string& file_name,
                     PeakList& peaks);

// Writes the session's peaks for the current spectrum; 1 or 0.
int write_peak_data(State& state);
// The open sequence's restore (interactive opens only).
void restore_peak_data(State& state);

}  // namespace kestrim
