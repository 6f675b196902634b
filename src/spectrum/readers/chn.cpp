// Ortec CHN spectra (type 3).
//
// Header, 32 bytes, little-endian (ORTEC CHN layout as published by the
// ORTEC file-structure manual and restated by SpecUtils SpecFile_chn.cpp,
// daquiri ImporterCHN.cpp):
//   off size type   meaning
//     0   2  int16  -1 marks a CHN file
//     2   2  int16  MCA number
//     4   2  int16  segment number (kept as the ADC number)
//     6   2  chars  start seconds "SS" (ignored)
//     8   4  int32  true time, units of 20 ms
//    12   4  int32  live time, units of 20 ms
//    16   8  chars  start date "DDMMMYY" + century flag ('1' = 2000s)
//    24   4  chars  start time "HHMM"
//    28   2  int16  channel offset (ignored)
//    30   2  int16  number of channels
//    32  4n  int32  counts, in 1024-byte records
// Trailer (only after a complete last record), 512 bytes:
//     0   2  int16  -102 quadratic calibrations, -101 linear
//     2   2         reserved
//     4  12  3 real32 energy: constant, linear, quadratic
//    16  12  3 real32 FWHM in channels: f0, f1, f2
//    28 228         reserved
//   256   1  uint8  detector description length (<= 63)
//   257  63  chars  detector description
//   320   1  uint8  sample description length (<= 63; 47 kept)
//   321  63  chars  sample description (the spectrum title)
#include <algorithm>

#include "platform/binio.h"
#include "spectrum/readers/reader_support.h"
#include "spectrum/readers/readers.h"

namespace kestrim::readers {

namespace {
namespace chn {
constexpr std::size_t kMarker = 0;
constexpr std::size_t kMca = 2;
constexpr std::size_t kSegment = 4;
constexpr std::size_t kTrueTime = 8;
constexpr std::size_t kLiveTime = 12;
constexpr std::size_t kDate = 16;
constexpr std::size_t kCenturyFlag = 23;
constexpr std::size_t kTime = 24;
constexpr std::size_t kChannels = 30;
constexpr std::size_t kHeaderSize = 32;
constexpr double kTicksPerSecond = 50.0;  // 20 ms ticks

constexpr std::size_t kTrailerType = 0;
constexpr std::size_t kTrailerEnergy = 4;
constexpr std::size_t kTrailerFwhm = 16;
constexpr std::size_t kTrailerDetectorLength = 256;
constexpr std::size_t kTrailerSampleLength = 320;
constexpr std::size_t kTrailerTextMax = 63;
constexpr std::size_t kTitleMax = 47;
constexpr int kQuadratic = -102;
constexpr int kLinear = -101;
}  // namespace chn

const char kNotSpectrum[] = "This is not a valid Spectrum File.";

int two_digits(const std::uint8_t* p, int& out) {
  long v = 0;
  std::string s(reinterpret_cast<const char*>(p), 2);
  if (!scan_long(s, v)) return 0;
  out = static_cast<int>(v);
  return 1;
}

// Trailer text: a length byte and up to 63 characters.
std::string trailer_text(const std::uint8_t* p, std::size_t max) {
  std::size_t len = std::min<std::size_t>(p[0], chn::kTrailerTextMax);
  len = std::min(len, max);
  return std::string(trim(bin::get_text(p + 1, len)));
}
}  // namespace

int probe_chn(const Bytes& b) {
  if (!has(b, 0, chn::kHeaderSize)) return 0;
  if (bin::get_i16(b.data() + chn::kMarker) != -1) return 0;
  return bin::get_i16(b.data() + chn::kChannels);
}

int read_chn(const Bytes& b, SpectrumRecord& rec, const ReaderOptions& options, Platform& ui) {
  if (!has(b, 0, chn::kHeaderSize) || bin::get_i16(b.data() + chn::kMarker) != -1) {
    warn(ui, kNotSpectrum);
    return -1;
  }
  const std::uint8_t* h = b.data();
  rec.header.mca = bin::get_i16(h + chn::kMca);
  rec.header.adc = bin::get_i16(h + chn::kSegment);
  rec.header.true_time = static_cast<float>(bin::get_i32(h + chn::kTrueTime) / chn::kTicksPerSecond);
  rec.header.live_time = static_cast<float>(bin::get_i32(h + chn::kLiveTime) / chn::kTicksPerSecond);

  // "%2d%3s%2d": day, month name, year.
  DateTime start;
  int day = 0, year = 0, hour = 0, minute = 0;
  std::string month_name(reinterpret_cast<const char*>(h + chn::kDate + 2), 3);
  if (two_digits(h + chn::kDate, day) && day > 0 && two_digits(h + chn::kDate + 5, year)) {
    int month = month_from_name(month_name);
    if (month > 0) {
      start.day = static_cast<std::int16_t>(day);
      start.month = static_cast<std::int16_t>(month);
      start.year = static_cast<std::int16_t>(full_year(year, static_cast<char>(h[chn::kCenturyFlag])));
      if (two_digits(h + chn::kTime, hour) && two_digits(h + chn::kTime + 2, minute)) {
        start.hour = static_cast<std::int16_t>(hour);
        start.minute = static_cast<std::int16_t>(minute);
      }
      set_collected_and_sampled(rec, start);
    } else {
      rec.warnings.push_back("Start date \"" + bin::get_text(h + chn::kDate, 8) + "\" not understood");
    }
  }

  int channels = bin::get_i16(h + chn::kChannels);
  if (channels <= 0) {
    warn(ui, kNotSpectrum);
    return -1;
  }
  if (!read_count_records(b, chn::kHeaderSize, channels, CountKind::kInt32, rec)) return -1;
  set_channel_count(rec, channels);

  // The trailer follows the last complete record.
  std::size_t trailer = chn::kHeaderSize + (static_cast<std::size_t>(channels) + 255) / 256 * 1024;
  if (!has(b, trailer, 2)) {
    rec.warnings.push_back("No calibration trailer");
    return 1;
  }
  int kind = bin::get_i16(b.data() + trailer + chn::kTrailerType);
  if (kind != chn::kQuadratic && kind != chn::kLinear) return -1;
  if (!has(b, trailer, chn::kTrailerSampleLength + 1 + chn::kTrailerTextMax)) return -1;
  const std::uint8_t* t = b.data() + trailer;
  int terms = kind == chn::kQuadratic ? 3 : 2;
  if (take_file_calibration(rec, options)) {
    double c0 = bin::get_f32(t + chn::kTrailerEnergy);
    double c1 = bin::get_f32(t + chn::kTrailerEnergy + 4);
    double c2 = kind == chn::kQuadratic ? bin::get_f32(t + chn::kTrailerEnergy + 8) : 0.0;
    set_energy_calibration(rec, c0, c1, c2, terms, rec.header.collected);
    // FWHM in channels as a function of channel; converted to energy with
    // the linear energy coefficient.
    double f0 = bin::get_f32(t + chn::kTrailerFwhm);
    double f1 = bin::get_f32(t + chn::kTrailerFwhm + 4);
    double f2 = kind == chn::kQuadratic ? bin::get_f32(t + chn::kTrailerFwhm + 8) : 0.0;
    if (c1 > 0) {
      f1 /= c1;
      f2 /= c1 * c1;
    }
    if (f0 == 0 && f1 == 0 && f2 == 0) {
      rec.warnings.push_back("The file has no FWHM calibration");
    } else if (f1 == 0 && f2 == 0) {
      // One width at every energy is no detector's: it is what acquisition
      // programs store before a width has been calibrated (real files carry
      // 2.65 channels over 1024 channels of a 3"x3" NaI, a tenth of its
      // width at 662 keV). The width is then taken as uncalibrated.
      rec.warnings.push_back("The file's FWHM calibration is one width at every energy: it is not used");
    } else if (f0 != 1.0) {
      set_width_from_fwhm(rec, f0, f1, f2, terms);
    }
  }
  if (!options.ignore_header) {
    rec.detector_description = trailer_text(t + chn::kTrailerDetectorLength, chn::kTrailerTextMax);
    detector_from_name(rec, rec.detector_description);
    set_title_text(rec, trailer_text(t + chn::kTrailerSampleLength, chn::kTitleMax));
  }
  return 1;
}

}  // namespace kestrim::readers
