// A synthetic detector for the tests and benchmarks of the sound-card MCA:
// pulses of the measured shape whose heights are drawn from a given
// spectrum, arriving at random (Poisson) times with an optional known dead
// time after each pulse (without one, pulses pile up), on a baseline with
// Gaussian noise. The same seed gives the same samples; what was generated
// is kept as the truth to compare the analysis with.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "acquisition/pulse_height.h"
#include "acquisition/sample_source.h"

namespace kestrim {

struct PulseGeneratorSettings {
  int rate = kRate96k;
  int channels = 1;                   // stereo: the same pulses on both, independent noise
  std::vector<double> spectrum;       // relative frequency of each pulse height, by channel
  // The amplitude (sample units at the shape's maximum) at which the
  // analyser's height reaches each channel (pulse_height_response); a
  // height between two channels is interpolated.
  std::vector<double> response;
  std::vector<double> shape;          // the pulse shape (its maximum is scaled to the amplitude)
  double pulses_per_second = 100;
  double noise = 0;                   // rms, sample units
  int dead_samples = 0;               // no pulse starts within this many samples after one
  bool negative = false;              // pulses go negative
  int baseline = 0;
  std::uint64_t seed = 1;
  long long frames = 0;               // length of the recording (0: endless)
};

struct PulseTruth {
  long long pulses = 0;
  long long frames = 0;                 // frames delivered
  std::vector<long long> per_channel;   // pulses by drawn height channel
  long long pulse_samples = 0;          // frames covered by pulses (the shape's length each)
};

class PulseGenerator final : public SampleSource {
 public:
  explicit PulseGenerator(const PulseGeneratorSettings& s);
  int rate() const override { return s_.rate; }
  int channels() const override { return s_.channels; }
  long read(std::int16_t* out, long max_samples) override;
  std::string error() const override { return {}; }
  const PulseTruth& truth() const { return truth_; }
  // The detector's gain changes (drift): amplitudes scale by `factor`.
  void set_gain_factor(double factor) { gain_factor_ = factor; }

 private:
  double uniform();
  double gaussian();
  void schedule_next();

  PulseGeneratorSettings s_;
  std::vector<double> cumulative_;
  std::vector<double> carry_;
  std::vector<double> work_;
  PulseTruth truth_;
  std::uint64_t state_;
  long long next_ = 0;       // frame of the next pulse
  double gain_factor_ = 1;
  double shape_max_ = 1;
  bool spare_ready_ = false;
  double spare_ = 0;
};

// The analyser's response to noise-free pulses of the shape: for each
// channel h, the smallest amplitude (sample units at the shape's maximum)
// whose height is h or more, as far as amplitudes below saturation reach.
std::vector<double> pulse_height_response(const PulseHeightSettings& settings, const PulseShape& coefs,
                                          const std::vector<double>& shape);

}  // namespace kestrim
