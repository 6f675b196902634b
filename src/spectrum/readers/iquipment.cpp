// Laboratory Iquipment spectra (type 11), fixed offsets, little-endian. No
// public layout exists beyond the one Kestrim has always read:
//   off size type      meaning
//     0  24  chars     title
//    24   8            skipped
//    32   9  chars     date "dd-mmm-yy" (collection and sample date)
//    41   5  chars     time "hh:mm"
//    46   8            skipped
//    54   2  int16     number of channels: 512, 1024, 2048, 4096, 8192 or 16384
//    64  12  3 real32  energy calibration: quadratic, linear, constant
//   148   2  int16     (native Kestrim files hold their data type, 2 or 4, here)
//  1024  4n  int32     counts, 1024-byte records; channels 0 and 1 hold the
//                      live and true time
#include "platform/binio.h"
#include "spectrum/readers/reader_support.h"
#include "spectrum/readers/readers.h"

namespace kestrim::readers {

namespace {
namespace iq {
constexpr std::size_t kTitle = 0;
constexpr std::size_t kTitleSize = 24;
constexpr std::size_t kDate = 32;
constexpr std::size_t kDateSize = 9;
constexpr std::size_t kTime = 41;
constexpr std::size_t kTimeSize = 5;
constexpr std::size_t kChannels = 54;
constexpr std::size_t kEnergy = 64;  // quadratic, linear, constant
constexpr std::size_t kNativeDataType = 148;
constexpr std::size_t kCounts = 1024;
}  // namespace iq

bool allowed_channels(int n) {
  return n == 512 || n == 1024 || n == 2048 || n == 4096 || n == 8192 || n == 16384;
}
}  // namespace

int probe_iquipment(const Bytes& b) {
  if (!has(b, 0, iq::kCounts)) return 0;
  int n = bin::get_i16(b.data() + iq::kChannels);
  return allowed_channels(n) ? n : 0;
}

int read_iquipment(const Bytes& b, SpectrumRecord& rec, const ReaderOptions& options, Platform& ui) {
  if (!has(b, 0, iq::kCounts)) {
    warn(ui, "This is not a valid Spectrum File.");
    return -1;
  }
  const std::uint8_t* h = b.data();
  if (!options.ignore_header) set_title_text(rec, trim(bin::get_text(h + iq::kTitle, iq::kTitleSize)));
  DateTime dt;
  int day = 0, month = 0, year = 0, hour = 0, minute = 0;
  if (check_date(trim(bin::get_text(h + iq::kDate, iq::kDateSize)), day, month, year).empty()) {
    dt.day = static_cast<std::int16_t>(day);
    dt.month = static_cast<std::int16_t>(month);
    dt.year = static_cast<std::int16_t>(full_year(year, 0));
    if (check_time(trim(bin::get_text(h + iq::kTime, iq::kTimeSize)), hour, minute).empty()) {
      dt.hour = static_cast<std::int16_t>(hour);
      dt.minute = static_cast<std::int16_t>(minute);
    }
    set_collected_and_sampled(rec, dt);
  } else {
    rec.warnings.push_back("Date \"" + bin::get_text(h + iq::kDate, iq::kDateSize) + "\" not understood");
  }
  int channels = bin::get_i16(h + iq::kChannels);
  if (!allowed_channels(channels)) {
    int data_type = bin::get_i16(h + iq::kNativeDataType);
    if (data_type == 2 || data_type == 4)
      warn(ui, "This could be a Kestrim file");
    else
      warn(ui, "Number of channels is " + std::to_string(channels));
  }
  if (channels <= 0) return -1;
  if (take_file_calibration(rec, options)) {
    double c2 = bin::get_f32(h + iq::kEnergy), c1 = bin::get_f32(h + iq::kEnergy + 4),
           c0 = bin::get_f32(h + iq::kEnergy + 8);
    if (c1 != 0) set_energy_calibration(rec, c0, c1, c2, 3, rec.header.collected);
    else rec.warnings.push_back("The file has no energy calibration");
  }
  if (!read_count_records(b, iq::kCounts, channels, CountKind::kInt32, rec)) return -1;
  set_channel_count(rec, channels);
  rec.header.live_time = rec.counts[0];
  rec.header.true_time = rec.counts[1];
  return 1;
}

}  // namespace kestrim::readers
