// The spectrum record: the 256-byte sample header, the channel counts, the
// spectrum's calibration record and its efficiency points.
//
// Header layout (little-endian; also the first block of the native file):
//   off size type        field (report token)
//     0   48 text        title (TITL); with a description: 0-22 title padded
//                        with blanks, 23 NUL, 24-47 description
//    48   24 text        user identification (USER)
//    72    4 int32       sample number (SAMN)
//    76   10 5 x int16   saved date/time (DSAV, TSAV): day month year hour minute
//    86   10 5 x int16   collected date/time (DCOL, TCOL)
//    96   10 5 x int16   sampled date/time, decay reference (DSAM, TSAM)
//   106   10             reserved, zero
//   116    2 int16       detector number (DETN) = Defaults-file number
//   118    2 int16       MCA number (MCAN)
//   120    2 int16       ADC number (ADCN)
//   122    2 int16       geometry number (GEON)
//   124    2 int16       number of channels
//   126    4 real32      sample size (SAMS)
//   130    4 chars       sample size units (UNIT), unterminated when full
//   134    4 real32      correction factor (CFAC)
//   138    8             reserved, zero
//   146    2 int16       detector file number (DETF); 0 = own calibration
//   148    2 int16       data type: 2 = uint16 channels, 4 = real32 channels
//   150    4 real32      live time, s (LTIM)
//   154    4 real32      true time, s (TTIM)
//   158    8             reserved, zero
//   166   15 text        instrument text
//   181    1             reserved
//   182    4 real32      sampling uncertainty, % (SAMU)
//   186   32 text        sample location (SLOC)
//   218   16 text        sample ID (SIDE)
//   234   16 text        sample type (STYP)
//   250    6             reserved, zero
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/fixed_text.h"
#include "spectrum/calibration_record.h"
#include "spectrum/dates.h"

namespace kestrim {

inline constexpr int kHeaderSize = 256;
inline constexpr int kMaxChannelsStored = 8192;  // size of the count array
inline constexpr int kMaxChannels = 4096;        // channels in use after opening
inline constexpr int kMaxEfficiencyPoints = 40;
inline constexpr int kStoredEfficiencyPoints = 21;  // the native file keeps 21

namespace header_offset {
inline constexpr int kTitle = 0;
inline constexpr int kUser = 48;
inline constexpr int kSampleNumber = 72;
inline constexpr int kSaved = 76;
inline constexpr int kCollected = 86;
inline constexpr int kSampled = 96;
inline constexpr int kDetector = 116;
inline constexpr int kMca = 118;
inline constexpr int kAdc = 120;
inline constexpr int kGeometry = 122;
inline constexpr int kChannels = 124;
inline constexpr int kSampleSize = 126;
inline constexpr int kUnits = 130;
inline constexpr int kCorrectionFactor = 134;
inline constexpr int kDetectorFile = 146;
inline constexpr int kDataType = 148;
inline constexpr int kLiveTime = 150;
inline constexpr int kTrueTime = 154;
inline constexpr int kInstrument = 166;
inline constexpr int kSamplingUncertainty = 182;
inline constexpr int kLocation = 186;
inline constexpr int kSampleId = 218;
inline constexpr int kSampleType = 234;
}  // namespace header_offset

struct SpectrumHeader {
  FixedText<48> title{};
  FixedText<24> user{};
  std::int32_t sample_number = 0;
  DateTime saved;
  DateTime collected;
  DateTime sampled;
  std::int16_t detector = 0;
  std::int16_t mca = 0;
  std::int16_t adc = 0;
  std::int16_t geometry = 0;
  std::int16_t channels = 0;
  float sample_size = 0;
  FixedText<4> units{};
  float correction_factor = 0;
  std::int16_t detector_file = 0;
  std::int16_t data_type = 0;
  float live_time = 0;
  float true_time = 0;
  FixedText<15> instrument{};
  float sampling_uncertainty = 0;
  FixedText<32> location{};
  FixedText<16> sample_id{};
  FixedText<16> sample_type{};

  bool operator==(const SpectrumHeader&) const = default;
};

void decode_header(const std::uint8_t* bytes, SpectrumHeader& out);
void encode_header(const SpectrumHeader& h, std::uint8_t* bytes);

// Title and description: a header holds either a plain title of up to 47
// characters or a 23-character title and a description of up to 23.
std::string header_title(const SpectrumHeader& h);        // the title part, trailing blanks kept
std::string header_description(const SpectrumHeader& h);  // "" when none
void set_title(SpectrumHeader& h, const std::string& title, const std::string& description);

// Dead time in per cent, (true - live) x 100 / true; negative when true is 0.
double dead_time_percent(const SpectrumHeader& h);

struct EfficiencyPoints {
  std::int32_t count = 0;
  std::array<float, kMaxEfficiencyPoints> energy{};
  std::array<float, kMaxEfficiencyPoints> efficiency{};
  std::array<float, kMaxEfficiencyPoints> uncertainty{};
  bool operator==(const EfficiencyPoints&) const = default;
};

struct SpectrumRecord {
  SpectrumHeader header;
  // 8192 reals; channel 0 holds the live time and channel 1 the true time,
  // counts start at channel 2.
  std::vector<float> counts = std::vector<float>(kMaxChannelsStored, 0.0f);
  CalibrationRecord calibration;
  EfficiencyPoints efficiency;
  // Detector description (report token DETD) filled by some foreign readers.
  std::string detector_description;
  // Notes about oddities met while reading (shown, never fatal).
  std::vector<std::string> warnings;
  // Number of spectra of the file summed into this one (N42 files with
  // several detectors or time slices); 1 otherwise.
  int combined_spectra = 1;

  // Zeroes everything, as before each open.
  void clear();
  int channels() const { return header.channels; }
  // Sum of channels 2 .. channels-1.
  double total_counts() const;
};

// The second spectrum, loaded for overlay or background stripping: integer
// counts only, with its title.
struct SecondSpectrum {
  std::vector<std::int32_t> counts = std::vector<std::int32_t>(kMaxChannelsStored, 0);
  std::string title;
  bool loaded = false;
  bool shown = false;
};

// Sample size as shown: "%6.3e" below 0.1 or above 1e6, "%5.3f" from 1,
// else "%5.4f".
std::string format_sample_size(double size);

}  // namespace kestrim
