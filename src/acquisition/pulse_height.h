// Pulse-height analysis of recorded sound-card buffers: a matched filter
// made from the measured pulse shape, a trigger threshold, tests of each
// pulse's length and shape, its height into a channel of the count array
// (or, in multichannel-scaling mode, its time into a time channel), and
// the live time from the quiet input. One pass over each buffer in
// integer arithmetic.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "acquisition/acquisition_state.h"
#include "acquisition/gain_correction.h"
#include "acquisition/pulse_shape.h"
#include "acquisition/sample_source.h"

namespace kestrim {

struct AnalysisParameters;

// "Normal", "Coincidence", "Anti Coinc": the last two split the two
// channels and analyse only the first.
inline constexpr int kInputNormal = 0;
inline constexpr int kInputCoincidence = 1;
inline constexpr int kInputAntiCoincidence = 2;

struct PulseHeightSettings {
  int rate = kRate44k;
  int input_channels = 1;  // "Mono": 1, else 2
  bool swap = false;       // "S&wap L/R"
  int mode = kInputNormal;
  bool negative = false;   // "&Negative Input"
  int channels = 1024;     // "Number of &Channels :-" (C)
  int adc_divisor = 1;     // "ADC Range Di&visor :-"
  int baseline_points = 1; // "&Baseline points :-"
  int baseline_delay = 0;  // "&Delay :-"
  int lld = 1;             // "ADC LLD:-"
  int uld = 1024;          // "ADC ULD:-"
  int trigger = 4;         // "&Trigger Threshold:-"
  int readings = 7;        // "Readings:-": filter length L and height divisor
  int max_readings = 30;   // "Max &Readings for Conversion:-"
  int leading_edge = 12;   // "Max Readings on leading edge :-" (checked only)
  bool mcs = false;        // "MCS Mode"
  int dwell_ms = 1000;     // MCS dwell time
};

// The set-up of the parameters' sound-card fields (rate from the MCA type:
// 44100 Hz for the SB16 type, else 96000 Hz; two channels with the type's
// bit 1).
PulseHeightSettings pulse_height_settings(const AnalysisParameters& p);

// The set-up checks in their order; "" when the set-up may be applied. A
// ULD above the number of channels is first set to it.
std::string check_pulse_height_settings(PulseHeightSettings& s);

// The trigger threshold in filter units.
int trigger_level(const PulseHeightSettings& s);

// What one buffer gave.
struct BufferResult {
  long long accepted = 0;
  long long rejected = 0;   // length, shape, underflow and overflow together
  long long overflow = 0;
  long long quiet = 0;      // quiet samples (all analysed samples in MCS mode)
  long long height_sum = 0; // of the accepted pulses (dose rate)
  long long time_units = 0; // live time added, 10 ms units
};

// The diagnostic capture of one buffer: the log of "Diag.txt", the filter
// output and the marks in the window, and the accepted pulses' positions.
struct DiagCapture {
  int window_start = 0;          // t
  std::string log;               // lines ending in CR LF
  std::vector<int> trace;        // filter output, window positions 1..8189
  std::vector<std::int16_t> marks = std::vector<std::int16_t>(8192, 0);
  std::vector<int> pulses;       // peak positions of accepted pulses (at most 500)
};

class PulseHeightAnalyser {
 public:
  PulseHeightAnalyser(const PulseHeightSettings& settings, const PulseShape& shape);
  const PulseHeightSettings& settings() const { return s_; }

  // Analyses one buffer of `n` interleaved samples into the count array
  // (channel 0: live time in seconds; the state's accumulator in 10 ms
  // units, in MCS mode the time analysed) with the correction (may be null) and, when
  // `diag` is given, captures it. Times carry over from buffer to buffer.
  BufferResult analyse(const std::int16_t* samples, long n, AcquisitionState& acq, CorrectionState* correction,
                       DiagCapture* diag = nullptr);

  // Clears the time carried between buffers (a fresh start).
  void reset() {
    quiet_carry_ = 0;
    mcs_ms_ = 0;
  }

  // When set, receives the height of every pulse that passed the length
  // and shape tests, before the discriminators (tests and calibration).
  std::vector<int>* heights = nullptr;

 private:
  void filter_block(long from, long to);
  void accumulate(int h, long position, AcquisitionState& acq, CorrectionState* c, long long ms_before);

  PulseHeightSettings s_;
  std::array<int, kMaxReadings> c_{};
  int L_ = 7;
  long long S_ = 0;
  bool narrow_ = true;  // products and sums fit 32 bits
  std::vector<std::int32_t> x_;
  std::vector<std::int32_t> second_;
  std::vector<std::int64_t> p_;
  std::vector<std::int32_t> p32_;
  long long quiet_carry_ = 0;
  long long mcs_ms_ = 0;  // MCS mode: milliseconds analysed before this buffer
};

}  // namespace kestrim
