// The background record: the peaks of an environmental background
// measurement with their count rates. Held once in memory, stored in ".bkg"
// files (after a 16-bit marker 255) and after the channel data of native
// spectrum files.
//
// Layout (2480 bytes, little-endian):
//   off   size  field
//     0      2  number of peaks N, 0-200 (int16)
//     2     10  collection date and time of the background spectrum
//               (day, month, year, hour, minute as int16)
//    12     16  file name of the background spectrum, NUL-terminated
//               (byte 27 is always 0)
//    28     48  title of the background spectrum, NUL-terminated
//    76      4  live time of the background spectrum, s (real32)
//    80    800  200 peak energies, keV (real32)
//   880    800  200 count rates, counts per second of live time (real32)
//  1680    800  200 absolute 1-sigma rate uncertainties, counts/s (real32)
// Entries beyond N carry no meaning but are kept as read.
#pragma once

#include <array>
#include <cstdint>

#include "platform/fixed_text.h"
#include "spectrum/dates.h"

namespace kestrim {

inline constexpr int kBackgroundBlockSize = 2480;
inline constexpr int kMaxBackgroundPeaks = 200;

namespace bkg_offset {
inline constexpr int kCount = 0;
inline constexpr int kCollected = 2;
inline constexpr int kFileName = 12;
inline constexpr int kFileNameSize = 16;
inline constexpr int kTitle = 28;
inline constexpr int kTitleSize = 48;
inline constexpr int kLiveTime = 76;
inline constexpr int kEnergy = 80;
inline constexpr int kRate = 880;
inline constexpr int kRateSigma = 1680;
}  // namespace bkg_offset

struct BackgroundRecord {
  std::int16_t count = 0;  // as stored; peaks() gives the usable number
  DateTime collected;
  FixedText<bkg_offset::kFileNameSize> file_name{};
  FixedText<bkg_offset::kTitleSize> title{};
  float live_time = 0;
  std::array<float, kMaxBackgroundPeaks> energy{};
  std::array<float, kMaxBackgroundPeaks> rate{};
  std::array<float, kMaxBackgroundPeaks> rate_sigma{};

  // The stored count limited to 0..200 (a damaged file cannot make the
  // subtraction read beyond the arrays).
  int peaks() const {
    return count < 0 ? 0 : (count > kMaxBackgroundPeaks ? kMaxBackgroundPeaks : count);
  }
};

// `bytes` holds kBackgroundBlockSize bytes.
void decode_background_record(const std::uint8_t* bytes, BackgroundRecord& out);
void encode_background_record(const BackgroundRecord& rec, std::uint8_t* bytes);

}  // namespace kestrim
