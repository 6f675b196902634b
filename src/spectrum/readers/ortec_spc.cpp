// Ortec SPC spectra (type 4), integer and real.
//
// The file is made of 128-byte records; record N starts at byte
// (N - 1) * 128, and record numbers are 16-bit (0 = absent). Layout from the
// ORTEC Software File Structure Manual as restated by SpecUtils
// SpecFile_spc.cpp, becquerel spc.py and daquiri ImporterSPC.cpp.
// Record 1:
//   off size type   meaning
//     0   2  int16  1 (INFTYP)
//     2   2  int16  1 = counts int32, 5 = counts real32 (FILTYP)
//     8   2  int16  acquisition information record
//    10   2  int16  sample description record
//    12   2  int16  detector description record
//    16   2  int16  analysis parameter record 1 (not publicly described)
//    18   2  int16  analysis parameter record 2 (not publicly described)
//    34   2  int16  first calibration data record
//    60   2  int16  first data record
//    64   2  uint16 number of channels (cut to 4096)
//    82   2  chars  MCA number: one character below '0' is a number,
//                   otherwise two digits
//    90   4  real32 true time, s
//    94   4  real32 live time, s
// Acquisition record: 16 date "DD-MMM-YY" + century flag at 25 ('1' =
//   2000s), 28 start time "HH:MM:SS".
// Sample description record: 0 title (48), 48 16 bytes, 64 a 24-byte text.
// Detector description record: 0 detector text (64).
// Calibration record: 20/24/28 energy constant, linear, quadratic (real32);
//   32/36/40 FWHM coefficients (real32).
// Data: 1024-byte records of 256 counts from the first data record.
#include <algorithm>

#include "platform/binio.h"
#include "spectrum/readers/reader_support.h"
#include "spectrum/readers/readers.h"

namespace kestrim::readers {

namespace {
namespace spc {
constexpr std::size_t kRecordSize = 128;
constexpr std::size_t kInfoType = 0;
constexpr std::size_t kFileType = 2;
constexpr std::size_t kAcquisitionRecord = 8;
constexpr std::size_t kSampleRecord = 10;
constexpr std::size_t kDetectorRecord = 12;
constexpr std::size_t kCalibrationRecord = 34;
constexpr std::size_t kDataRecord = 60;
constexpr std::size_t kChannels = 64;
constexpr std::size_t kMcaNumber = 82;
constexpr std::size_t kTrueTime = 90;
constexpr std::size_t kLiveTime = 94;
constexpr int kIntegerCounts = 1;
constexpr int kRealCounts = 5;
constexpr int kMaxChannelsRead = 4096;

constexpr std::size_t kAcqDate = 16;
constexpr std::size_t kAcqCentury = 25;
constexpr std::size_t kAcqTime = 28;
constexpr std::size_t kSampleTitle = 0;
constexpr std::size_t kSampleTitleSize = 48;
constexpr std::size_t kSampleText = 64;
constexpr std::size_t kSampleTextSize = 24;
constexpr std::size_t kDetectorTextSize = 64;
constexpr std::size_t kCalEnergy = 20;
constexpr std::size_t kCalFwhm = 32;
}  // namespace spc

const char kNotSpectrum[] = "This is not a valid Spectrum File.";

// Byte offset of a record (numbers from 1); false when absent or outside the file.
bool record_at(const Bytes& b, int number, std::size_t size, std::size_t& offset) {
  if (number <= 0) return false;
  offset = static_cast<std::size_t>(number - 1) * spc::kRecordSize;
  return has(b, offset, size);
}

// "DD-MMM-YY" with a century flag, and "HH:MM".
bool parse_spc_date(const std::uint8_t* date, char flag, const std::uint8_t* time, DateTime& out) {
  std::string d = bin::get_text(date, 9);
  long day = 0, year = 0;
  if (d.size() < 9 || !scan_long(d.substr(0, 2), day) || !scan_long(d.substr(7, 2), year))
    return false;
  int month = month_from_name(d.substr(3, 3));
  if (day <= 0 || day > 31 || month == 0) return false;
  out.day = static_cast<std::int16_t>(day);
  out.month = static_cast<std::int16_t>(month);
  out.year = static_cast<std::int16_t>(full_year(static_cast<int>(year), flag));
  std::string t = bin::get_text(time, 8);
  long hour = 0, minute = 0;
  if (t.size() >= 5 && scan_long(t.substr(0, 2), hour) && scan_long(t.substr(3, 2), minute)) {
    out.hour = static_cast<std::int16_t>(hour);
    out.minute = static_cast<std::int16_t>(minute);
  }
  return true;
}
}  // namespace

int probe_ortec_spc(const Bytes& b) {
  if (!has(b, 0, 4)) return 0;
  int type = bin::get_i16(b.data() + spc::kFileType);
  if (bin::get_i16(b.data() + spc::kInfoType) != 1 ||
      (type != spc::kIntegerCounts && type != spc::kRealCounts))
    return 0;
  return spc::kMaxChannelsRead;
}

int read_ortec_spc(const Bytes& b, SpectrumRecord& rec, const ReaderOptions& options, Platform& ui) {
  if (probe_ortec_spc(b) == 0 || !has(b, 0, spc::kRecordSize)) {
    warn(ui, kNotSpectrum);
    return -1;
  }
  const std::uint8_t* h = b.data();
  CountKind kind = bin::get_i16(h + spc::kFileType) == spc::kRealCounts ? CountKind::kFloat32
                                                                       : CountKind::kInt32;
  int channels = bin::get_u16(h + spc::kChannels);
  if (channels > spc::kMaxChannelsRead) {
    rec.warnings.push_back("The file holds " + std::to_string(channels) +
                           " channels; the first 4096 are read");
    channels = spc::kMaxChannelsRead;
  }
  if (channels <= 0) {
    warn(ui, kNotSpectrum);
    return -1;
  }

  // MCA number: one character below '0' is a binary number.
  if (h[spc::kMcaNumber] < '0') {
    rec.header.mca = bin::get_i16(h + spc::kMcaNumber);
  } else {
    long mca = 0;
    if (scan_long(bin::get_text(h + spc::kMcaNumber, 2), mca)) rec.header.mca = static_cast<std::int16_t>(mca);
  }
  rec.header.true_time = bin::get_f32(h + spc::kTrueTime);
  rec.header.live_time = bin::get_f32(h + spc::kLiveTime);

  std::size_t at = 0;
  if (record_at(b, bin::get_i16(h + spc::kAcquisitionRecord), spc::kRecordSize, at)) {
    DateTime start;
    if (parse_spc_date(b.data() + at + spc::kAcqDate, static_cast<char>(b[at + spc::kAcqCentury]),
                       b.data() + at + spc::kAcqTime, start))
      set_collected_and_sampled(rec, start);
    else
      rec.warnings.push_back("Acquisition date not understood");
  }
  if (!options.ignore_header &&
      record_at(b, bin::get_i16(h + spc::kSampleRecord), spc::kRecordSize, at)) {
    std::string title(trim(bin::get_text(b.data() + at + spc::kSampleTitle, spc::kSampleTitleSize)));
    set_title_text(rec, title);
    std::string text(trim(bin::get_text(b.data() + at + spc::kSampleText, spc::kSampleTextSize)));
    assign(rec.header.sample_id, text.substr(0, 15));
  }
  if (record_at(b, bin::get_i16(h + spc::kDetectorRecord), spc::kRecordSize, at)) {
    rec.detector_description = std::string(trim(bin::get_text(b.data() + at, spc::kDetectorTextSize)));
    detector_from_name(rec, rec.detector_description);
  }
  if (take_file_calibration(rec, options) &&
      record_at(b, bin::get_i16(h + spc::kCalibrationRecord), spc::kRecordSize, at)) {
    const std::uint8_t* c = b.data() + at;
    double c0 = bin::get_f32(c + spc::kCalEnergy), c1 = bin::get_f32(c + spc::kCalEnergy + 4),
           c2 = bin::get_f32(c + spc::kCalEnergy + 8);
    if (c1 != 0) set_energy_calibration(rec, c0, c1, c2, 3, rec.header.collected);
    else rec.warnings.push_back("The file has no energy calibration");
    double f0 = bin::get_f32(c + spc::kCalFwhm), f1 = bin::get_f32(c + spc::kCalFwhm + 4),
           f2 = bin::get_f32(c + spc::kCalFwhm + 8);
    if (f0 != 0 || f1 != 0 || f2 != 0) set_width_from_fwhm(rec, f0, f1, f2, 3);
  }

  int first = bin::get_i16(h + spc::kDataRecord);
  if (first <= 0) {
    warn(ui, kNotSpectrum);
    return -1;
  }
  std::size_t data = static_cast<std::size_t>(first - 1) * spc::kRecordSize;
  if (!read_count_records(b, data, channels, kind, rec)) return -1;
  set_channel_count(rec, channels);
  return 1;
}

}  // namespace kestrim::readers
