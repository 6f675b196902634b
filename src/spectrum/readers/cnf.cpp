// Canberra Genie_PC / Genie 2000 CNF ("CAM") spectra (type 6).
//
// Layout as published by SpecUtils CAMIO.cpp, becquerel cnf.py (after xylib
// canberra_cnf.cpp) and messlinger/cnfconv cnf_file_format.txt; all
// integers little-endian, reals DEC "F" floats (see dec_float).
// Block directory: 48-byte entries from byte 112 while an entry's bytes 1
// and 2 are 32 and 1 (its id is kind | 0x00012000):
//   entry off size type  meaning
//           0    1  u8   block kind: 0 acquisition, 1 sample, 2 efficiency,
//                        5 channel data (the first entry of a kind is used)
//          10    4  u32  file offset B of the block
// Every block starts with a 48-byte header (a copy of its entry):
//          16    2  u16  header length (the sample block's data follow it)
//          34    2  u16  record offset R (acquisition, efficiency blocks)
//          36    2  u16  record-table offset T (acquisition block)
//          40    2  u16  entry offset (efficiency block: first point)
//          42    2  u16  entry size (efficiency block: bytes per point)
// Acquisition block:
//   B+176         4  chars "PHA " (pulse-height analysis)
//   B+185         4  u32   number of channels (its byte B+186 = channels / 256)
//   B+48+T+1      8  u64   start, 100 ns ticks since 17 November 1858
//   B+48+T+9      8  u64   true time, bit-inverted 100 ns ticks
//   B+48+T+17     8  u64   live time, bit-inverted 100 ns ticks
//   B+48+R+68    12  3 dec energy coefficients: constant, linear, quadratic
//   B+48+R+220    8  2 dec FWHM(E) = a + b sqrt(E), keV
//   B+48+R+354    8  2 dec low-energy tailing (126 bytes after the FWHM pair)
//   B+48+R+264   16  chars detector name
// Sample block (D = B + header length):
//   D+0    48 chars title; D+64 16 chars sample id; D+128 16 chars sample
//   type; D+144 dec quantity; D+148 16 chars units; D+180 u64 sample date.
// Efficiency block:
//   B+90   32 chars geometry description; B+R+222 4 chars model name
//   ("DUAL", "EMPI", "SPLI"); points at B+48+R+entry offset, each entry
//   (entry size bytes): u8 tag, dec energy, dec efficiency, dec uncertainty.
// Channel block: counts (u32) from B+512.
//
// Where the published layouts and older descriptions of these files differ,
// the published positions are read: the detector name lies at B+48+R+264
// (B+264 itself is empty in real files), and the sample description and
// geometry texts are taken where the published layouts put them.
#include <algorithm>
#include <cmath>

#include "platform/binio.h"
#include "spectrum/readers/reader_support.h"
#include "spectrum/readers/readers.h"

namespace kestrim::readers {

namespace {
namespace cnf {
constexpr std::size_t kDirectory = 112;
constexpr std::size_t kEntrySize = 48;
constexpr std::size_t kEntryOffset = 10;
constexpr std::size_t kDirectoryEnd = 0x800;
constexpr int kAcquisition = 0;
constexpr int kSample = 1;
constexpr int kEfficiency = 2;
constexpr int kChannelData = 5;

constexpr std::size_t kHeaderLength = 16;
constexpr std::size_t kRecordOffset = 34;
constexpr std::size_t kTableOffset = 36;
constexpr std::size_t kPointOffset = 40;
constexpr std::size_t kPointSize = 42;
constexpr std::size_t kBlockHeader = 48;

constexpr std::size_t kMode = 176;
constexpr std::size_t kChannelCount = 185;
constexpr std::size_t kChannelGroups = 186;  // what the directory listing reads
constexpr std::size_t kStart = 1;       // from B+48+T
constexpr std::size_t kTrueTime = 9;    // from B+48+T
constexpr std::size_t kLiveTime = 17;   // from B+48+T
constexpr std::size_t kEnergy = 68;     // from B+48+R
constexpr std::size_t kFwhm = 220;      // from B+48+R
constexpr std::size_t kLowTail = 354;   // from B+48+R: 126 bytes after the FWHM pair
constexpr std::size_t kDetectorName = 264;  // from B+48+R
constexpr std::size_t kDetectorNameSize = 16;
constexpr std::size_t kAcquisitionNeeded = 512;  // bytes of B+48+R read

constexpr std::size_t kTitle = 0;
constexpr std::size_t kTitleSize = 48;
constexpr std::size_t kSampleId = 64;
constexpr std::size_t kSampleType = 128;
constexpr std::size_t kQuantity = 144;
constexpr std::size_t kUnits = 148;
constexpr std::size_t kSampleDate = 180;
constexpr std::size_t kSampleNeeded = 188;

constexpr std::size_t kGeometryText = 90;
constexpr std::size_t kGeometryTextSize = 32;
constexpr std::size_t kModel = 222;  // from B+R
constexpr std::size_t kPointEnergy = 1;
constexpr std::size_t kPointEfficiency = 5;
constexpr std::size_t kPointUncertainty = 9;

constexpr std::size_t kCounts = 512;
// Seconds from 17 November 1858 to 1 January 1970.
constexpr long long kEpochShift = 3506716800LL;
}  // namespace cnf

std::uint64_t get_u64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(bin::get_u32(p)) | (static_cast<std::uint64_t>(bin::get_u32(p + 4)) << 32);
}

// Durations are stored bit-inverted in 100 ns units.
double duration(const std::uint8_t* p) {
  std::uint64_t v = ~get_u64(p);
  return static_cast<double>(v) * 1e-7;
}

bool cam_date(const std::uint8_t* p, DateTime& out) {
  std::uint64_t ticks = get_u64(p);
  if (ticks == 0) return false;
  long long seconds = static_cast<long long>(ticks / 10000000ULL) - cnf::kEpochShift;
  out = date_from_unix_seconds(seconds);
  return out.year != 0;
}

// File offsets of the first block of each kind (0 = absent).
struct Directory {
  std::size_t block[256] = {};
};

Directory read_directory(const Bytes& b) {
  Directory dir;
  for (std::size_t e = cnf::kDirectory; e + cnf::kEntrySize <= std::min(b.size(), cnf::kDirectoryEnd);
       e += cnf::kEntrySize) {
    if (b[e + 1] != 32 || b[e + 2] != 1) break;
    int kind = b[e];
    if (dir.block[kind] == 0) dir.block[kind] = bin::get_u32(b.data() + e + cnf::kEntryOffset);
  }
  return dir;
}

std::string blank_trimmed(const std::uint8_t* p, std::size_t n) {
  return std::string(trim(bin::get_text(p, n)));
}

void read_efficiency(const Bytes& b, std::size_t block, SpectrumRecord& rec) {
  const std::uint8_t* h = b.data() + block;
  std::size_t r = bin::get_u16(h + cnf::kRecordOffset);
  std::size_t first = bin::get_u16(h + cnf::kPointOffset);
  std::size_t size = bin::get_u16(h + cnf::kPointSize);
  if (has(b, block + cnf::kGeometryText, cnf::kGeometryTextSize))
    assign(rec.calibration.geometry_text, blank_trimmed(h + cnf::kGeometryText, cnf::kGeometryTextSize));
  if (has(b, block + r + cnf::kModel, 4)) {
    std::string model = bin::get_text(h + r + cnf::kModel, 4);
    if (model == "DUAL")
      rec.warnings.push_back("Dual efficiency curve not read (its coefficients have no known position)");
  }
  if (size < cnf::kPointUncertainty + 4) return;
  std::size_t at = block + cnf::kBlockHeader + r + first;
  int count = 0;
  int tag = -1;
  while (count < kMaxEfficiencyPoints && has(b, at, cnf::kPointUncertainty + 4)) {
    const std::uint8_t* p = b.data() + at;
    if (tag < 0) tag = p[0];
    if (p[0] != tag) break;
    double energy = dec_float(p + cnf::kPointEnergy);
    double eff = dec_float(p + cnf::kPointEfficiency);
    double unc = dec_float(p + cnf::kPointUncertainty);
    if (!(eff > 0)) break;
    rec.efficiency.energy[count] = static_cast<float>(energy);
    rec.efficiency.efficiency[count] = static_cast<float>(eff);
    rec.efficiency.uncertainty[count] = static_cast<float>(unc / eff);
    ++count;
    at += size;
  }
  rec.efficiency.count = count;
}
}  // namespace

int probe_cnf(const Bytes& b) {
  // The listing walks the directory's descriptors up to the first whose
  // kind byte is zero (the acquisition block) and reads its channel groups.
  std::size_t offset = 0;
  bool found = false;
  for (std::size_t e = cnf::kDirectory; has(b, e, cnf::kEntrySize); e += cnf::kEntrySize) {
    offset = bin::get_u32(b.data() + e + cnf::kEntryOffset);
    found = true;
    if (b[e] == 0) break;
  }
  if (!found || !has(b, offset, cnf::kChannelGroups + 2)) return 0;
  if (b[offset + 1] != 32 || b[offset + 2] != 1) return 0;
  return bin::get_u16(b.data() + offset + cnf::kChannelGroups) * 256;
}

int read_cnf(const Bytes& b, SpectrumRecord& rec, const ReaderOptions& options, Platform& ui) {
  Directory dir = read_directory(b);

  // Acquisition parameters.
  std::size_t acq = dir.block[cnf::kAcquisition];
  if (acq == 0 || !has(b, acq, cnf::kChannelCount + 4)) {
    warn(ui, "Error finding Acquisition data");
    return -1;
  }
  const std::uint8_t* a = b.data() + acq;
  std::size_t r = bin::get_u16(a + cnf::kRecordOffset);
  std::size_t t = bin::get_u16(a + cnf::kTableOffset);
  std::size_t table = acq + cnf::kBlockHeader + t;
  std::size_t record = acq + cnf::kBlockHeader + r;
  if (!has(b, table, cnf::kLiveTime + 8) || !has(b, record, cnf::kAcquisitionNeeded)) {
    warn(ui, "Error finding Acquisition data");
    return -1;
  }
  if (bin::get_text(a + cnf::kMode, 3) != "PHA") warn(ui, "Warning, Did not find PHA keyword");
  std::uint32_t declared = bin::get_u32(a + cnf::kChannelCount);
  int channels = declared > 0x7fffffffu ? -1 : static_cast<int>(declared);
  if (channels < 256 || channels > 16384) {
    warn(ui, "Number of channels is " + std::to_string(channels));
    return -1;
  }
  DateTime start;
  if (cam_date(b.data() + table + cnf::kStart, start)) set_collected_and_sampled(rec, start);
  double true_time = duration(b.data() + table + cnf::kTrueTime);
  double live_time = duration(b.data() + table + cnf::kLiveTime);
  if (live_time > true_time) true_time = live_time;
  rec.header.true_time = static_cast<float>(true_time);
  rec.header.live_time = static_cast<float>(live_time);

  const std::uint8_t* c = b.data() + record;
  rec.detector_description = blank_trimmed(c + cnf::kDetectorName, cnf::kDetectorNameSize);
  detector_from_name(rec, rec.detector_description);

  if (take_file_calibration(rec, options)) {
    double c0 = dec_float(c + cnf::kEnergy), c1 = dec_float(c + cnf::kEnergy + 4),
           c2 = dec_float(c + cnf::kEnergy + 8);
    if (c1 != 0) {
      set_energy_calibration(rec, c0 + c1 + c2, c1, c2, 3, start);
    } else {
      warn(ui, "Warning, Energy Calibration not found");
    }
    double fa = dec_float(c + cnf::kFwhm), fb = dec_float(c + cnf::kFwhm + 4);
    // FWHM(E) = a + b sqrt(E) keV is the resolution form itself (order -2),
    // whose coefficients are FWHMs: stored as they are, not divided by 2.355.
    rec.calibration.width_terms = -2;
    rec.calibration.width = {static_cast<float>(fa), static_cast<float>(fb), 0.0f};
    double t0 = dec_float(c + cnf::kLowTail), t1 = dec_float(c + cnf::kLowTail + 4);
    if (c1 > 0) {
      t0 /= c1;
      t1 /= c1;
    }
    if (t0 > 0 && t1 != 0) {
      rec.calibration.low_tail_terms = 2;
      rec.calibration.low_tail = {static_cast<float>(t0), static_cast<float>(t1), 0.0f};
    }
  }

  if (!options.ignore_header) {
    std::size_t samp = dir.block[cnf::kSample];
    if (samp == 0 || !has(b, samp, cnf::kBlockHeader)) {
      warn(ui, "Error finding Sample data");
      return -1;
    }
    std::size_t d = samp + bin::get_u16(b.data() + samp + cnf::kHeaderLength);
    if (!has(b, d, cnf::kSampleNeeded)) {
      warn(ui, "Error finding Sample data");
      return -1;
    }
    const std::uint8_t* s = b.data() + d;
    set_title_text(rec, blank_trimmed(s + cnf::kTitle, cnf::kTitleSize));
    assign(rec.header.sample_id, blank_trimmed(s + cnf::kSampleId, 16));
    assign(rec.header.sample_type, blank_trimmed(s + cnf::kSampleType, 16));
    double quantity = dec_float(s + cnf::kQuantity);
    if (std::isfinite(quantity)) rec.header.sample_size = static_cast<float>(quantity);
    assign(rec.header.units, blank_trimmed(s + cnf::kUnits, 16).substr(0, 4), false);
    DateTime sampled;
    if (cam_date(s + cnf::kSampleDate, sampled)) rec.header.sampled = sampled;
  }

  if (take_file_calibration(rec, options)) {
    std::size_t eff = dir.block[cnf::kEfficiency];
    if (eff == 0 || !has(b, eff, cnf::kBlockHeader))
      warn(ui, "Error finding Efficiency data");
    else
      read_efficiency(b, eff, rec);
  }

  std::size_t spec = dir.block[cnf::kChannelData];
  if (spec == 0 || !read_count_records(b, spec + cnf::kCounts, channels, CountKind::kInt32, rec)) {
    warn(ui, "Error finding Channel data");
    return -1;
  }
  set_channel_count(rec, channels);
  return 1;
}

}  // namespace kestrim::readers
