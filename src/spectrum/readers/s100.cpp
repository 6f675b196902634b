// Canberra S100 MCA spectra (type 2), sequential little-endian fields
// (field for field as read by daquiri ImporterMCA.cpp):
//   off size type    meaning
//     0   2  int16   2 (read type)
//     2   2  int16   MCA number
//     4   6          skipped
//    10  24  chars   title
//    34   4          skipped
//    38   4  int32   acquisition start, seconds since 1 January 1970
//    42   2          skipped (milliseconds)
//    44   2  int16   time-zone offset, minutes
//    46   2  int16   daylight-saving flag (> 0 with offset > 0: offset - 60)
//    48   4  int32   live time, 1/100 s
//    52   4  int32   true time, 1/100 s
//    56  12          skipped
//    68  12  3 real32 energy calibration: quadratic, linear, constant
//    80   7          skipped (unit name, unit type, format)
//    87   1  uint8   calibration order minus one (some writers: an ASCII
//                    digit giving the number of coefficients)
//    88  38          skipped
//   126   2  int16   number of channels
//   128  4n  int32   counts, 1024-byte records
#include "platform/binio.h"
#include "spectrum/readers/reader_support.h"
#include "spectrum/readers/readers.h"

namespace kestrim::readers {

namespace {
namespace s100 {
constexpr std::size_t kMarker = 0;
constexpr std::size_t kMca = 2;
constexpr std::size_t kTitle = 10;
constexpr std::size_t kTitleSize = 24;
constexpr std::size_t kStart = 38;
constexpr std::size_t kZone = 44;
constexpr std::size_t kDaylight = 46;
constexpr std::size_t kLiveTime = 48;
constexpr std::size_t kTrueTime = 52;
constexpr std::size_t kEnergy = 68;  // quadratic, linear, constant
constexpr std::size_t kOrder = 87;
constexpr std::size_t kChannels = 126;
constexpr std::size_t kCounts = 128;
constexpr int kMarkerValue = 2;
}  // namespace s100
}  // namespace

int probe_s100(const Bytes& b) {
  if (!has(b, 0, s100::kCounts)) return 0;
  return bin::get_i16(b.data() + s100::kChannels);
}

int read_s100(const Bytes& b, SpectrumRecord& rec, const ReaderOptions& options, Platform& ui) {
  if (!has(b, 0, s100::kCounts) || bin::get_i16(b.data() + s100::kMarker) != s100::kMarkerValue) {
    warn(ui, "This is not a valid Spectrum File.");
    return -1;
  }
  const std::uint8_t* h = b.data();
  rec.header.mca = bin::get_i16(h + s100::kMca);
  if (!options.ignore_header) set_title_text(rec, trim(bin::get_text(h + s100::kTitle, s100::kTitleSize)));

  // Start time less the zone offset, in whole minutes.
  long long start = bin::get_i32(h + s100::kStart);
  int zone = bin::get_i16(h + s100::kZone);
  if (bin::get_i16(h + s100::kDaylight) > 0 && zone > 0) zone -= 60;
  long long minutes = start / 60 - zone;
  set_collected_and_sampled(rec, date_from_unix_seconds(minutes * 60));

  rec.header.live_time = static_cast<float>(bin::get_i32(h + s100::kLiveTime) / 100.0);
  rec.header.true_time = static_cast<float>(bin::get_i32(h + s100::kTrueTime) / 100.0);

  if (take_file_calibration(rec, options)) {
    double c2 = bin::get_f32(h + s100::kEnergy), c1 = bin::get_f32(h + s100::kEnergy + 4),
           c0 = bin::get_f32(h + s100::kEnergy + 8);
    int order = h[s100::kOrder];
    int terms = (order >= '0' && order <= '9') ? order - '0' : order + 1;
    if (terms < 1 || terms > 3) terms = 3;
    if (terms < 3) c2 = 0;
    if (c1 != 0) set_energy_calibration(rec, c0, c1, c2, terms < 2 ? 2 : terms, rec.header.collected);
    else rec.warnings.push_back("The file has no energy calibration");
  }

  int channels = bin::get_i16(h + s100::kChannels);
  if (channels <= 0) {
    warn(ui, "This is not a valid Spectrum File.");
    return -1;
  }
  if (!read_count_records(b, s100::kCounts, channels, CountKind::kInt32, rec)) return -1;
  set_channel_count(rec, channels);
  return 1;
}

}  // namespace kestrim::readers
