// Canberra Spectran spectra (type 1): a DOS-era file in which integers are
// stored as IEEE single-precision reals. No public description of the
// format exists; the positions below are those Kestrim has always used
// (the MCA number, identification, channel count and dates at the start,
// the title and texts at 124, the calibrations after them). The live and
// true times are read from the two reals that follow the collection date.
//   off size type      meaning
//     0   8            skipped
//     8   4  real32    MCA number
//    12   4  real32    second identification number (ADC)
//    16   4  real32    number of channels
//    20   4  real32    start date, day count (not used; the collection date below is)
//    24   4  real32    start time, seconds after midnight
//    28  12  3 real32  collection day, month, year
//    40   4  real32    live time, s
//    44   4  real32    true time, s
//    60   4  real32    identification number (sample number)
//   108   4  real32    identification number (geometry)
//   124  20  chars     title
//   144  20  chars     identification text (sample ID)
//   164  16  4 real32  energy calibration: number of terms, c0, c1, c2
//   180  16  4 real32  FWHM calibration: number of terms, f0, f1, f2 (keV)
//   196  40  chars     geometry text
//  1024  4n  real32    counts, 1024-byte records
#include <cmath>

#include "platform/binio.h"
#include "spectrum/readers/reader_support.h"
#include "spectrum/readers/readers.h"

namespace kestrim::readers {

namespace {
namespace spectran {
constexpr std::size_t kMca = 8;
constexpr std::size_t kAdc = 12;
constexpr std::size_t kChannels = 16;
constexpr std::size_t kStartSeconds = 24;
constexpr std::size_t kCollected = 28;  // day, month, year
constexpr std::size_t kLiveTime = 40;
constexpr std::size_t kTrueTime = 44;
constexpr std::size_t kSampleNumber = 60;
constexpr std::size_t kGeometry = 108;
constexpr std::size_t kTitle = 124;
constexpr std::size_t kTitleSize = 20;
constexpr std::size_t kIdText = 144;
constexpr std::size_t kIdTextSize = 20;
constexpr std::size_t kEnergy = 164;
constexpr std::size_t kFwhm = 180;
constexpr std::size_t kGeometryText = 196;
constexpr std::size_t kGeometryTextSize = 40;
constexpr std::size_t kCounts = 1024;
}  // namespace spectran

// A real holding a small integer; 0 when not finite or out of range.
int as_int(const std::uint8_t* p) {
  float f = bin::get_f32(p);
  if (!std::isfinite(f) || std::fabs(f) > 2e9f) return 0;
  return static_cast<int>(std::lround(f));
}
}  // namespace

int probe_spectran(const Bytes& b) {
  if (!has(b, 0, spectran::kCounts)) return 0;
  int n = as_int(b.data() + spectran::kChannels);
  return n > 0 ? n : 0;
}

int read_spectran(const Bytes& b, SpectrumRecord& rec, const ReaderOptions& options, Platform& ui) {
  if (!has(b, 0, spectran::kCounts)) {
    warn(ui, "This is not a valid Spectrum File.");
    return -1;
  }
  const std::uint8_t* h = b.data();
  int channels = as_int(h + spectran::kChannels);
  if (channels < 256 || channels > 16384) {
    warn(ui, "Number of channels is " + std::to_string(channels));
    return -1;
  }
  rec.header.mca = static_cast<std::int16_t>(as_int(h + spectran::kMca));
  rec.header.adc = static_cast<std::int16_t>(as_int(h + spectran::kAdc));
  DateTime dt;
  int day = as_int(h + spectran::kCollected), month = as_int(h + spectran::kCollected + 4),
      year = as_int(h + spectran::kCollected + 8);
  int seconds = as_int(h + spectran::kStartSeconds);
  if (day >= 1 && day <= 31 && month >= 1 && month <= 12 && year >= 0 && year < 10000) {
    dt.day = static_cast<std::int16_t>(day);
    dt.month = static_cast<std::int16_t>(month);
    dt.year = static_cast<std::int16_t>(full_year(year, 0));
    if (seconds >= 0 && seconds < 86400) {
      dt.hour = static_cast<std::int16_t>(seconds / 3600);
      dt.minute = static_cast<std::int16_t>(seconds / 60 % 60);
    }
    set_collected_and_sampled(rec, dt);
  }
  rec.header.live_time = bin::get_f32(h + spectran::kLiveTime);
  rec.header.true_time = bin::get_f32(h + spectran::kTrueTime);
  if (!options.ignore_header) {
    rec.header.sample_number = as_int(h + spectran::kSampleNumber);
    rec.header.geometry = static_cast<std::int16_t>(as_int(h + spectran::kGeometry));
    set_title_text(rec, trim(bin::get_text(h + spectran::kTitle, spectran::kTitleSize)));
    assign(rec.header.sample_id, trim(bin::get_text(h + spectran::kIdText, spectran::kIdTextSize)));
  }
  if (take_file_calibration(rec, options)) {
    int terms = as_int(h + spectran::kEnergy);
    double c0 = bin::get_f32(h + spectran::kEnergy + 4), c1 = bin::get_f32(h + spectran::kEnergy + 8),
           c2 = bin::get_f32(h + spectran::kEnergy + 12);
    if (terms >= 2 && terms <= 3 && c1 != 0)
      set_energy_calibration(rec, c0, c1, terms == 3 ? c2 : 0.0, terms, dt);
    else
      rec.warnings.push_back("The file has no energy calibration");
    int wterms = as_int(h + spectran::kFwhm);
    if (wterms >= 1 && wterms <= 3)
      set_width_from_fwhm(rec, bin::get_f32(h + spectran::kFwhm + 4),
                          bin::get_f32(h + spectran::kFwhm + 8),
                          bin::get_f32(h + spectran::kFwhm + 12), wterms);
    assign(rec.calibration.geometry_text,
           trim(bin::get_text(h + spectran::kGeometryText, spectran::kGeometryTextSize)));
  }
  if (!read_count_records(b, spectran::kCounts, channels, CountKind::kFloat32, rec)) return -1;
  set_channel_count(rec, channels);
  return 1;
}

}  // namespace kestrim::readers
