// Oxford Instruments (Nucleus PCA) ".spm" spectra (type 8), little-endian.
// Positions from the PCA file description as read by dirKernel/AlphaDecay
// get_spectrum.m (which agrees at 266, 284, 358, 388 and 512):
//   off size type       meaning
//    48  32  8 x 32-bit energy calibration: int32 order, then real32
//                       constant, linear, quadratic (rest unused)
//    80  32  8 x 32-bit FWHM calibration, same form (keV)
//   266   2  uint16     number of channels
//   284  48  chars      title
//   332  24  chars      identification text (sample ID)
//   358   4  uint32     elapsed time, s
//   388  13  chars      start time "hh:mm:ss"
//   401  13  chars      start date, three 4-character parts: day, month, year
//   422   4  chars      sample quantity units
//   426   4  real32     sample quantity
//   512  4n  int32      counts, 1024-byte records
// The published layout has one elapsed time at 358 (text follows at 362),
// so it is taken as both the live and the true time.
#include <cmath>

#include "platform/binio.h"
#include "spectrum/readers/reader_support.h"
#include "spectrum/readers/readers.h"

namespace kestrim::readers {

namespace {
namespace spm {
constexpr std::size_t kEnergy = 48;
constexpr std::size_t kFwhm = 80;
constexpr std::size_t kChannels = 266;
constexpr std::size_t kTitle = 284;
constexpr std::size_t kTitleSize = 48;
constexpr std::size_t kIdText = 332;
constexpr std::size_t kIdTextSize = 24;
constexpr std::size_t kElapsed = 358;
constexpr std::size_t kStartTime = 388;
constexpr std::size_t kStartDate = 401;
constexpr std::size_t kDatePart = 4;
constexpr std::size_t kUnits = 422;
constexpr std::size_t kQuantity = 426;
constexpr std::size_t kCounts = 512;
}  // namespace spm
}  // namespace

int probe_oxford(const Bytes& b) {
  if (!has(b, 0, spm::kCounts)) return 0;
  return bin::get_u16(b.data() + spm::kChannels);
}

int read_oxford(const Bytes& b, SpectrumRecord& rec, const ReaderOptions& options, Platform& ui) {
  if (!has(b, 0, spm::kCounts)) {
    warn(ui, "This is not a valid Spectrum File.");
    return -1;
  }
  const std::uint8_t* h = b.data();
  if (take_file_calibration(rec, options)) {
    int order = bin::get_i32(h + spm::kEnergy);
    double c0 = bin::get_f32(h + spm::kEnergy + 4), c1 = bin::get_f32(h + spm::kEnergy + 8),
           c2 = bin::get_f32(h + spm::kEnergy + 12);
    if (order >= 2 && order <= 3 && c1 != 0 && std::isfinite(c0 + c1 + c2))
      set_energy_calibration(rec, c0, c1, order == 3 ? c2 : 0.0, order, DateTime{});
    else
      rec.warnings.push_back("The file has no energy calibration");
    int worder = bin::get_i32(h + spm::kFwhm);
    double w0 = bin::get_f32(h + spm::kFwhm + 4), w1 = bin::get_f32(h + spm::kFwhm + 8),
           w2 = bin::get_f32(h + spm::kFwhm + 12);
    if (worder >= 1 && worder <= 3 && std::isfinite(w0 + w1 + w2)) set_width_from_fwhm(rec, w0, w1, w2, worder);
  }
  int channels = bin::get_u16(h + spm::kChannels);
  if (channels < 256 || channels > 16384) warn(ui, "Number of channels is " + std::to_string(channels));
  if (channels <= 0) return -1;
  if (!options.ignore_header) {
    set_title_text(rec, trim(bin::get_text(h + spm::kTitle, spm::kTitleSize)));
    assign(rec.header.sample_id, trim(bin::get_text(h + spm::kIdText, spm::kIdTextSize)));
    std::string units(trim(bin::get_text(h + spm::kUnits, 4)));
    float quantity = bin::get_f32(h + spm::kQuantity);
    if (!units.empty() && std::isfinite(quantity) && quantity >= 0) {
      assign(rec.header.units, units, false);
      rec.header.sample_size = quantity;
    }
  }
  double elapsed = bin::get_u32(h + spm::kElapsed);
  rec.header.live_time = static_cast<float>(elapsed);
  rec.header.true_time = static_cast<float>(elapsed);

  // Date "%s-%s-%s" of three 4-character parts, then the time.
  std::string date;
  for (int part = 0; part < 3; ++part) {
    if (part) date += '-';
    date += std::string(trim(bin::get_text(h + spm::kStartDate + part * spm::kDatePart, spm::kDatePart)));
  }
  int day = 0, month = 0, year = 0, hour = 0, minute = 0;
  if (check_date(date, day, month, year).empty()) {
    DateTime dt;
    dt.day = static_cast<std::int16_t>(day);
    dt.month = static_cast<std::int16_t>(month);
    dt.year = static_cast<std::int16_t>(full_year(year, 0));
    std::string time(trim(bin::get_text(h + spm::kStartTime, 13)));
    if (check_time(time.substr(0, 5), hour, minute).empty()) {
      dt.hour = static_cast<std::int16_t>(hour);
      dt.minute = static_cast<std::int16_t>(minute);
    }
    set_collected_and_sampled(rec, dt);
  } else {
    rec.warnings.push_back("Start date \"" + date + "\" not understood");
  }
  if (!read_count_records(b, spm::kCounts, channels, CountKind::kInt32, rec)) return -1;
  set_channel_count(rec, channels);
  return 1;
}

}  // namespace kestrim::readers
