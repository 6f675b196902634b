// Pulse-height analysis of sound-card buffers at 192000 Hz, stereo, 16-bit
// (Normal and Coincidence modes) and 44100 Hz mono: generated pulses of
// the built-in shape at 2000 per second with noise. The counter
// "x_realtime" is how many times faster than the card records.
#include <benchmark/benchmark.h>

#include <vector>

#include "acquisition/pulse_generator.h"
#include "acquisition/pulse_height.h"
#include "acquisition/pulse_shape.h"

namespace {

using namespace kestrim;

void run(benchmark::State& st, int rate, int channels, int mode) {
  PulseHeightSettings s;
  s.rate = rate;
  s.input_channels = channels;
  s.mode = mode;
  s.channels = 1024;
  s.lld = 10;
  s.uld = 1024;
  s.trigger = 4;
  s.max_readings = 30;
  PulseShape shape;
  shape.values = builtin_pulse_values();
  shape.count = kShapeValues;
  make_coefficients(shape, s.readings);
  std::vector<double> values;
  for (int v : builtin_pulse_values()) values.push_back(v);
  PulseGeneratorSettings g;
  g.rate = rate;
  g.channels = channels;
  g.spectrum.assign(1024, 0.0);
  for (int k = 50; k < 900; ++k) g.spectrum[static_cast<std::size_t>(k)] = 1.0 + (k > 600 && k < 640 ? 20.0 : 0.0);
  g.response = pulse_height_response(s, shape, values);
  g.shape = values;
  g.pulses_per_second = 2000;
  g.noise = 3;
  g.dead_samples = 32;
  const long n = card_buffer_samples(rate, channels);
  std::vector<std::int16_t> buffer(static_cast<std::size_t>(n));
  PulseGenerator gen(g);
  gen.read(buffer.data(), n);
  PulseHeightAnalyser analyser(s, shape);
  AcquisitionState acq;
  long long accepted = 0;
  for (auto _ : st) {
    const BufferResult r = analyser.analyse(buffer.data(), n, acq, nullptr);
    accepted += r.accepted;
    benchmark::DoNotOptimize(acq.counts.data());
  }
  const double seconds_of_signal = static_cast<double>(n) / channels / rate;
  st.counters["x_realtime"] =
      benchmark::Counter(seconds_of_signal * static_cast<double>(st.iterations()), benchmark::Counter::kIsRate);
  st.counters["accepted_per_buffer"] = static_cast<double>(accepted) / static_cast<double>(st.iterations());
  st.SetItemsProcessed(st.iterations() * n);
}

void BM_PulseHeight192kStereo(benchmark::State& st) { run(st, kRate192k, 2, kInputNormal); }
void BM_PulseHeight192kCoincidence(benchmark::State& st) { run(st, kRate192k, 2, kInputCoincidence); }
void BM_PulseHeight44kMono(benchmark::State& st) { run(st, kRate44k, 1, kInputNormal); }
BENCHMARK(BM_PulseHeight192kStereo);
BENCHMARK(BM_PulseHeight192kCoincidence);
BENCHMARK(BM_PulseHeight44kMono);

}  // namespace
