// PGT Quantum spectra (type 10), fixed offsets, little-endian. No public
// layout exists beyond the one Kestrim has always read:
//   off size type    meaning
//     2  48  chars   title (last byte forced to NUL)
//    80   8  real64  sample date, days since 1 January 1900 (fraction = time)
//    88   8  real64  collection date, same form
//    96   8  real64  true time, s
//   104   8  real64  live time, s
//   254   2  int16   number of channels
//  1536  4n  int32   counts, 1024-byte records
// The dates are counted from 1 January 1900 as day 0, as the format's own
// software did (if a writer used OLE dates, counted from 30 December 1899,
// they come out two days late).
#include <cmath>

#include "platform/binio.h"
#include "spectrum/readers/reader_support.h"
#include "spectrum/readers/readers.h"

namespace kestrim::readers {

namespace {
namespace pgt {
constexpr std::size_t kTitle = 2;
constexpr std::size_t kTitleSize = 48;
constexpr std::size_t kSampleDate = 80;
constexpr std::size_t kCollectionDate = 88;
constexpr std::size_t kTrueTime = 96;
constexpr std::size_t kLiveTime = 104;
constexpr std::size_t kChannels = 254;
constexpr std::size_t kCounts = 1536;
}  // namespace pgt

// Days since 1900 to a date and time, through whole minutes.
bool date_from_days(double days, DateTime& out) {
  if (!std::isfinite(days) || days <= 0 || days > 3.0e6) return false;
  long minutes = std::lround(days * 1440.0);
  int d, m, y;
  date_from_day_number(minutes / 1440, d, m, y);
  out.day = static_cast<std::int16_t>(d);
  out.month = static_cast<std::int16_t>(m);
  out.year = static_cast<std::int16_t>(y);
  out.hour = static_cast<std::int16_t>(minutes % 1440 / 60);
  out.minute = static_cast<std::int16_t>(minutes % 60);
  return true;
}
}  // namespace

int probe_pgt(const Bytes& b) {
  if (!has(b, 0, pgt::kCounts)) return 0;
  int n = bin::get_i16(b.data() + pgt::kChannels);
  return n > 0 ? n : 0;
}

int read_pgt(const Bytes& b, SpectrumRecord& rec, const ReaderOptions& options, Platform& ui) {
  if (!has(b, 0, pgt::kCounts)) {
    warn(ui, "This is not a valid Spectrum File.");
    return -1;
  }
  const std::uint8_t* h = b.data();
  if (!options.ignore_header)
    set_title_text(rec, trim(bin::get_text(h + pgt::kTitle, pgt::kTitleSize - 1)));
  DateTime dt;
  if (date_from_days(bin::get_f64(h + pgt::kSampleDate), dt)) rec.header.sampled = dt;
  if (date_from_days(bin::get_f64(h + pgt::kCollectionDate), dt)) rec.header.collected = dt;
  double true_time = bin::get_f64(h + pgt::kTrueTime), live_time = bin::get_f64(h + pgt::kLiveTime);
  rec.header.true_time = std::isfinite(true_time) ? static_cast<float>(true_time) : 0.0f;
  rec.header.live_time = std::isfinite(live_time) ? static_cast<float>(live_time) : 0.0f;
  int channels = bin::get_i16(h + pgt::kChannels);
  if (channels < 256 || channels > 16384) warn(ui, "Number of channels is " + std::to_string(channels));
  if (channels <= 0) return -1;
  if (!read_count_records(b, pgt::kCounts, channels, CountKind::kInt32, rec)) return -1;
  set_channel_count(rec, channels);
  return rec.header.channels;
}

}  // namespace kestrim::readers
