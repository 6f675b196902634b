// The sound-card MCA: recordings read field by field, the pulse-height
// pipeline against generated pulses whose truth is known (through the real
// `kestrim pha` command), each test and limit of the pipeline against the
// fault it exists for, and the gain corrections (temperature through the
// simulated logger library, reference channel) over a drifting detector.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "acquisition/alsa_capture.h"
#include "acquisition/gain_correction.h"
#include "acquisition/pulse_generator.h"
#include "acquisition/pulse_height.h"
#include "acquisition/pulse_shape.h"
#include "acquisition/sound_card_mca.h"
#include "acquisition/wav_source.h"
#include "acquisition_fixture.h"
#include "platform/binio.h"
#include "platform/scripted_platform.h"

namespace kestrim {
namespace {

std::vector<double> builtin_shape() {
  std::vector<double> v;
  for (int x : builtin_pulse_values()) v.push_back(x);
  return v;
}

PulseShape builtin_coefficients(int& readings) {
  PulseShape shape;
  shape.values = builtin_pulse_values();
  shape.count = kShapeValues;
  readings = 7;
  make_coefficients(shape, readings);
  return shape;
}

// Gaussian peaks (centre, sigma, weight) on a falling continuum.
std::vector<double> peaks_spectrum(int channels, const std::vector<std::array<double, 3>>& peaks, double continuum) {
  std::vector<double> w(static_cast<std::size_t>(channels), 0.0);
  for (int k = 20; k < channels - 20; ++k) {
    double v = continuum * std::exp(-k / 300.0);
    for (const auto& p : peaks) v += p[2] * std::exp(-0.5 * std::pow((k + 0.5 - p[0]) / p[1], 2));
    w[static_cast<std::size_t>(k)] = v;
  }
  return w;
}

// Runs kestrim in `dir` with the shipped Defaults.
int kestrim(const test::TempDir& dir, const std::string& args, std::string* out) {
  return test::run_command("cd '" + dir.path() + "' && XDG_DATA_HOME='" + dir.file("user") + "' '" +
                               test::kestrim_binary() + "' " + args,
                           out, true);
}

double window_sum(const std::vector<double>& v, int lo, int hi) {
  double sum = 0;
  for (int k = lo; k <= hi; ++k) sum += v[static_cast<std::size_t>(k)];
  return sum;
}
double window_centroid(const std::vector<double>& v, int lo, int hi) {
  double sum = 0, moment = 0;
  for (int k = lo; k <= hi; ++k) {
    sum += v[static_cast<std::size_t>(k)];
    moment += k * v[static_cast<std::size_t>(k)];
  }
  return moment / sum;
}

TEST(SoundCardPulses, GeneratedRecordingGivesTrueAreasPositionsAndLiveTime) {
  test::TempDir dir;
  PulseHeightSettings s;
  s.rate = kRate44k;
  s.channels = 1024;
  s.lld = 10;
  s.uld = 1024;
  s.trigger = 4;
  s.max_readings = 30;
  PulseShape coefs = builtin_coefficients(s.readings);
  const std::vector<double> response = pulse_height_response(s, coefs, builtin_shape());
  ASSERT_GT(response.size(), 1000u);

  PulseGeneratorSettings g;
  g.rate = kRate44k;
  g.spectrum = peaks_spectrum(1024, {{{200, 6, 40}, {450, 10, 30}, {700, 14, 25}}}, 3);
  g.response = response;
  g.shape = builtin_shape();
  g.pulses_per_second = 40;
  g.noise = 2;
  g.dead_samples = 64;
  g.seed = 19;
  g.frames = 100LL * kRate44k;
  PulseGenerator gen(g);
  std::vector<std::int16_t> samples(static_cast<std::size_t>(g.frames));
  ASSERT_EQ(gen.read(samples.data(), static_cast<long>(samples.size())), g.frames);
  test::write_bytes(dir.file("pulses.wav"), encode_wav(samples, kRate44k, 1));

  std::string out;
  ASSERT_EQ(kestrim(dir, "pha --wav pulses.wav -o pulses.dat --channels 1024 --lld 10 --uld 1024 --threshold 4 "
                         "--max-readings 30",
                    &out),
            0)
      << out;
  std::printf("%s", out.c_str());
  const SpectrumRecord rec = test::read_spectrum(dir.file("pulses.dat"));
  std::vector<double> counts(1024), truth(1024);
  for (int k = 0; k < 1024; ++k) {
    counts[static_cast<std::size_t>(k)] = k < 2 ? 0 : rec.counts[static_cast<std::size_t>(k)];
    truth[static_cast<std::size_t>(k)] = static_cast<double>(gen.truth().per_channel[static_cast<std::size_t>(k)]);
  }
  for (const auto& [centre, sigma] : std::vector<std::pair<int, int>>{{200, 6}, {450, 10}, {700, 14}}) {
    const int lo = centre - 4 * sigma, hi = centre + 4 * sigma;
    const double area = window_sum(counts, lo, hi), true_area = window_sum(truth, lo, hi);
    std::printf("peak %d: area %.0f truth %.0f, centroid %.2f truth %.2f\n", centre, area, true_area,
                window_centroid(counts, lo, hi), window_centroid(truth, lo, hi));
    EXPECT_NEAR(area, true_area, 0.01 * true_area) << centre;
    EXPECT_NEAR(window_centroid(counts, lo, hi), window_centroid(truth, lo, hi), 0.6) << centre;
  }
  const double true_time = 100.0;
  const double live_truth = true_time - static_cast<double>(gen.truth().pulses) * (7 + s.readings - 1) / kRate44k;
  std::printf("live %.3f truth %.3f true %.3f pulses %lld\n", rec.header.live_time, live_truth, rec.header.true_time,
              gen.truth().pulses);
  EXPECT_NEAR(rec.header.true_time, true_time, 1e-3);
  EXPECT_NEAR(rec.header.live_time, live_truth, 0.005 * live_truth);
}

}  // namespace
}  // namespace kestrim
