// Aptec spectra (type 7), fixed offsets, little-endian. No public layout
// exists; these are the positions Kestrim has always read. The channel
// count at 790 is also what the directory listing probes.
//   off size type         meaning
//     0  42  chars        title
//    42  42  chars        sample text (sample identification)
//   618   2  int16        energy calibration order
//   620  80  10 x real64  energy coefficients (constant, linear, quadratic used)
//   700   2  int16        FWHM calibration order
//   702  80  10 x real64  FWHM coefficients, keV (three used)
//   782   8               reserved
//   790   2  int16        number of channels
//   792   4  real32       true time, s
//   796   4  real32       live time, s
//  1024  4n  int32        counts, 1024-byte records
// The efficiency model and efficiency points of the format have no known
// position and are not read.
#include <cmath>

#include "platform/binio.h"
#include "spectrum/readers/reader_support.h"
#include "spectrum/readers/readers.h"

namespace kestrim::readers {

namespace {
namespace aptec {
constexpr std::size_t kTitle = 0;
constexpr std::size_t kTitleSize = 42;
constexpr std::size_t kSampleText = 42;
constexpr std::size_t kSampleTextSize = 42;
constexpr std::size_t kEnergyOrder = 618;
constexpr std::size_t kEnergyCoeffs = 620;
constexpr std::size_t kFwhmOrder = 700;
constexpr std::size_t kFwhmCoeffs = 702;
constexpr std::size_t kChannels = 790;
constexpr std::size_t kTrueTime = 792;
constexpr std::size_t kLiveTime = 796;
constexpr std::size_t kCounts = 1024;
}  // namespace aptec

double finite_or_zero(double v) { return std::isfinite(v) ? v : 0.0; }
}  // namespace

int probe_aptec(const Bytes& b) {
  if (!has(b, 0, aptec::kCounts)) return 0;
  int n = bin::get_i16(b.data() + aptec::kChannels);
  return n > 0 ? n : 0;
}

int read_aptec(const Bytes& b, SpectrumRecord& rec, const ReaderOptions& options, Platform& ui) {
  if (!has(b, 0, aptec::kCounts)) {
    warn(ui, "This is not a valid Spectrum File.");
    return -1;
  }
  const std::uint8_t* h = b.data();
  if (!options.ignore_header) {
    set_title_text(rec, trim(bin::get_text(h + aptec::kTitle, aptec::kTitleSize)));
    assign(rec.header.sample_id, trim(bin::get_text(h + aptec::kSampleText, aptec::kSampleTextSize)));
  }
  if (take_file_calibration(rec, options)) {
    int order = bin::get_i16(h + aptec::kEnergyOrder);
    double c[3];
    for (int i = 0; i < 3; ++i) c[i] = finite_or_zero(bin::get_f64(h + aptec::kEnergyCoeffs + 8 * i));
    if (order >= 1 && c[1] != 0)
      set_energy_calibration(rec, c[0], c[1], order >= 2 ? c[2] : 0.0, order >= 2 ? 3 : 2, DateTime{});
    else
      rec.warnings.push_back("The file has no energy calibration");
    int worder = bin::get_i16(h + aptec::kFwhmOrder);
    double w[3];
    for (int i = 0; i < 3; ++i) w[i] = finite_or_zero(bin::get_f64(h + aptec::kFwhmCoeffs + 8 * i));
    if (worder >= 0 && worder <= 2 && (w[0] != 0 || w[1] != 0 || w[2] != 0))
      set_width_from_fwhm(rec, w[0], w[1], w[2], worder + 1);
  }
  int channels = bin::get_i16(h + aptec::kChannels);
  if (channels < 256 || channels > 16384) warn(ui, "Number of channels is " + std::to_string(channels));
  if (channels <= 0) return -1;
  rec.header.true_time = bin::get_f32(h + aptec::kTrueTime);
  rec.header.live_time = bin::get_f32(h + aptec::kLiveTime);
  if (!read_count_records(b, aptec::kCounts, channels, CountKind::kInt32, rec)) return -1;
  set_channel_count(rec, channels);
  return 1;
}

}  // namespace kestrim::readers
