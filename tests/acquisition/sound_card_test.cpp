// The sound-card MCA: recordings read field by field, the pulse-height
// pipeline against generated pulses whose truth is known (through the real
// `kestrim pha` command), each test and limit of the pipeline against the
// fault it exists for, and the gain corrections (temperature through the
// simulated logger library, reference channel) over a drifting detector.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "acquisition/alsa_capture.h"
#include "acquisition/gain_correction.h"
#include "acquisition/pulse_generator.h"
#include "acquisition/pulse_height.h"
#include "acquisition/pulse_shape.h"
#include "acquisition/sound_card_mca.h"
#include "acquisition/wav_source.h"
#include "acquisition_fixture.h"
#include "app/gain_locator.h"
#include "platform/binio.h"
#include "platform/c_format.h"
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
  std::fputs(out.c_str(), stdout);
  const SpectrumRecord rec = test::read_spectrum(dir.file("pulses.dat"));
  std::vector<double> counts(1024), truth(1024);
  for (int k = 0; k < 1024; ++k) {
    counts[static_cast<std::size_t>(k)] = k < 2 ? 0 : rec.counts[static_cast<std::size_t>(k)];
    truth[static_cast<std::size_t>(k)] = static_cast<double>(gen.truth().per_channel[static_cast<std::size_t>(k)]);
  }
  for (const auto& [centre, sigma] : std::vector<std::pair<int, int>>{{200, 6}, {450, 10}, {700, 14}}) {
    const int lo = centre - 4 * sigma, hi = centre + 4 * sigma;
    const double area = window_sum(counts, lo, hi), true_area = window_sum(truth, lo, hi);
    std::fputs(c_format("peak %d: area %.0f truth %.0f, centroid %.2f truth %.2f\n", centre, area, true_area,
                window_centroid(counts, lo, hi), window_centroid(truth, lo, hi)).c_str(), stdout);
    EXPECT_NEAR(area, true_area, 0.01 * true_area) << centre;
    EXPECT_NEAR(window_centroid(counts, lo, hi), window_centroid(truth, lo, hi), 0.6) << centre;
  }
  const double true_time = 100.0;
  const double live_truth = true_time - static_cast<double>(gen.truth().pulses) * (7 + s.readings - 1) / kRate44k;
  std::fputs(c_format("live %.3f truth %.3f true %.3f pulses %lld\n", rec.header.live_time, live_truth, rec.header.true_time,
              gen.truth().pulses).c_str(), stdout);
  EXPECT_NEAR(rec.header.true_time, true_time, 1e-3);
  EXPECT_NEAR(rec.header.live_time, live_truth, 0.005 * live_truth);

  // The same recording played as the sound card through the acquisition
  // run logic gives the same spectrum and times.
  ASSERT_EQ(kestrim(dir, "acquire --wav pulses.wav --preset 1000 -o acquired.dat", &out), 0) << out;
  const SpectrumRecord acquired = test::read_spectrum(dir.file("acquired.dat"));
  for (int k = 10; k < 1024; ++k) ASSERT_EQ(acquired.counts[static_cast<std::size_t>(k)], rec.counts[static_cast<std::size_t>(k)]) << k;
  EXPECT_NEAR(acquired.header.live_time, rec.header.live_time, 0.011);
  EXPECT_NEAR(acquired.header.true_time, 100.0, 1e-3);
  EXPECT_FALSE(file_exists(dir.file("tempdata.$$$")));
}

TEST(SoundCardCapture, RealCardIsTriedWhereOneExists) {
  test::TempDir dir;
  std::string out;
  if (!alsa_capture_built() || alsa_capture_cards().empty()) {
    // No card: the command says so and writes nothing.
    EXPECT_EQ(kestrim(dir, "acquire --sound-card default --preset 1 -o card.dat", &out), 1) << out;
    EXPECT_NE(out.find(alsa_capture_built() ? "kestrim: No Sound card and/or driver installed"
                                            : "kestrim: Sound-card capture is not available in this build"),
              std::string::npos)
        << out;
    EXPECT_FALSE(file_exists(dir.file("card.dat")));
    GTEST_SKIP() << "no sound card on this machine";
  }
  AlsaCapture card;
  ASSERT_TRUE(card.open("default", kRate44k, 1)) << card.error();
  std::vector<std::int16_t> buffer(static_cast<std::size_t>(card_buffer_samples(kRate44k, 1)));
  EXPECT_EQ(card.read(buffer.data(), static_cast<long>(buffer.size())), static_cast<long>(buffer.size())) << card.error();
  ASSERT_EQ(kestrim(dir, "acquire --sound-card default --preset 2 -o card.dat", &out), 0) << out;
  EXPECT_GE(test::read_spectrum(dir.file("card.dat")).header.true_time, 2.0f);
}

// --- Recordings read field by field --------------------------------------

// A WAV header made by hand: RIFF, WAVE, then the given chunks.
struct Chunk {
  std::string tag;
  std::vector<std::uint8_t> body;
  std::uint32_t size_override = 0;  // a size field that lies
};
std::vector<std::uint8_t> fmt_body(int format, int channels, int rate, int bits, int align = -1) {
  std::vector<std::uint8_t> b(16);
  bin::put_u16(b.data(), static_cast<std::uint16_t>(format));
  bin::put_u16(b.data() + 2, static_cast<std::uint16_t>(channels));
  bin::put_u32(b.data() + 4, static_cast<std::uint32_t>(rate));
  bin::put_u32(b.data() + 8, static_cast<std::uint32_t>(rate * channels * bits / 8));
  bin::put_u16(b.data() + 12, static_cast<std::uint16_t>(align < 0 ? channels * bits / 8 : align));
  bin::put_u16(b.data() + 14, static_cast<std::uint16_t>(bits));
  return b;
}
std::vector<std::uint8_t> riff(const std::vector<Chunk>& chunks, const char* form = "WAVE") {
  std::vector<std::uint8_t> out;
  auto put = [&out](const void* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) out.push_back(static_cast<const std::uint8_t*>(p)[i]);
  };
  put("RIFF\0\0\0\0", 8);
  put(form, 4);
  for (const Chunk& c : chunks) {
    put(c.tag.data(), 4);
    std::uint8_t size[4];
    bin::put_u32(size, c.size_override ? c.size_override : static_cast<std::uint32_t>(c.body.size()));
    put(size, 4);
    put(c.body.data(), c.body.size());
    if (c.body.size() % 2 == 1) out.push_back(0);
  }
  bin::put_u32(out.data() + 4, static_cast<std::uint32_t>(out.size() - 8));
  return out;
}

TEST(SoundCardWav, HeadersAreReadFieldByFieldAndDamagedOnesRefused) {
  const std::vector<std::uint8_t> four_samples = {1, 0, 2, 0, 3, 0, 4, 0};
  const Chunk good_fmt{"fmt ", fmt_body(1, 2, 96000, 16)};
  // A good stereo header after an odd-sized chunk (padded), data clipped to
  // the file.
  {
    const auto bytes = riff({{"LIST", {1, 2, 3}}, good_fmt, {"data", four_samples, 1000}});
    WavFormat f;
    std::string problem;
    ASSERT_TRUE(parse_wav_header(bytes, bytes.size(), f, problem)) << problem;
    EXPECT_EQ(f.channels, 2);
    EXPECT_EQ(f.rate, 96000);
    EXPECT_EQ(f.data_bytes, 8u);
    EXPECT_EQ(f.data_offset, bytes.size() - 8);
  }
  // The extensible header with the PCM sub-format.
  {
    std::vector<std::uint8_t> ext = fmt_body(0xFFFE, 1, 44100, 16);
    ext.resize(40, 0);
    bin::put_u16(ext.data() + 16, 22);
    bin::put_u16(ext.data() + 24, 1);
    const auto bytes = riff({{"fmt ", ext}, {"data", four_samples}});
    WavFormat f;
    std::string problem;
    EXPECT_TRUE(parse_wav_header(bytes, bytes.size(), f, problem)) << problem;
  }
  struct Bad {
    std::vector<std::uint8_t> bytes;
    std::string problem;
  };
  std::vector<Bad> bad = {
      {{'R', 'I', 'F', 'X', 0, 0, 0, 0, 'W', 'A', 'V', 'E'}, "it is not a RIFF WAVE file"},
      {riff({good_fmt, {"data", four_samples}}, "AVI "), "it is not a RIFF WAVE file"},
      {riff({{"data", four_samples}}), "its \"data\" chunk comes before the \"fmt \" chunk"},
      {riff({good_fmt}), "it has no \"data\" chunk"},
      {riff({{"LIST", {1, 2}}}), "it has no \"fmt \" chunk"},
      {riff({{"fmt ", std::vector<std::uint8_t>(12, 0)}, {"data", four_samples}}), "its \"fmt \" chunk is too short"},
      {riff({{"fmt ", fmt_body(1, 1, 44100, 16), 400}}), "its \"fmt \" chunk is cut off"},
      {riff({{"fmt ", fmt_body(3, 1, 44100, 32)}, {"data", four_samples}}), "its samples are not PCM (format 3)"},
      {riff({{"fmt ", fmt_body(1, 1, 44100, 24)}, {"data", four_samples}}),
       "its samples have 24 bits, the MCA takes 16"},
      {riff({{"fmt ", fmt_body(1, 3, 44100, 16)}, {"data", four_samples}}),
       "it has 3 channels, the MCA takes 1 or 2"},
      {riff({{"fmt ", fmt_body(1, 1, 48000, 16)}, {"data", four_samples}}),
       "its rate is 48000 Hz, the MCA takes 44100, 96000 or 192000 Hz"},
      {riff({{"fmt ", fmt_body(1, 2, 44100, 16, 2)}, {"data", four_samples}}),
       "its block alignment is 2 bytes, expected 4"},
  };
  for (std::size_t i = 0; i < bad.size(); ++i) {
    WavFormat f;
    std::string problem;
    EXPECT_FALSE(parse_wav_header(bad[i].bytes, bad[i].bytes.size(), f, problem)) << i;
    EXPECT_EQ(problem, bad[i].problem) << i;
  }
  // Through the command: the message and the exit status of a refused
  // recording, and of a wrong command line.
  test::TempDir dir;
  test::write_bytes(dir.file("48k.wav"), bad[10].bytes);
  std::string out;
  EXPECT_EQ(kestrim(dir, "pha --wav 48k.wav -o a.dat", &out), 1);
  EXPECT_NE(out.find("kestrim: Cannot analyse WAV file 48k.wav: its rate is 48000 Hz, the MCA takes 44100, "
                     "96000 or 192000 Hz"),
            std::string::npos)
      << out;
  EXPECT_EQ(kestrim(dir, "pha --wav missing.wav -o a.dat", &out), 1);
  EXPECT_NE(out.find("kestrim: Cannot analyse WAV file missing.wav: "), std::string::npos) << out;
  EXPECT_EQ(kestrim(dir, "pha --wav 48k.wav", &out), 2);
  EXPECT_NE(out.find("kestrim: pha: no -o SPECTRUM.dat was given"), std::string::npos) << out;
  test::write_bytes(dir.file("ok.wav"), encode_wav(std::vector<std::int16_t>(44100, 0), kRate44k, 1));
  EXPECT_EQ(kestrim(dir, "pha --wav ok.wav -o a.dat --threshold 30", &out), 2);
  EXPECT_NE(out.find("kestrim: pha: The 'ADC Trigger Threshold' should be between 2 and 20"), std::string::npos)
      << out;
  EXPECT_FALSE(file_exists(dir.file("a.dat")));
}

// --- Each test and limit of the pipeline against its fault ---------------
//
// A filter of one tap (-1 at the middle of five) makes the filter output
// exactly twice the input, so that pulses of any length, tail and height
// are written sample by sample. Threshold: 2 x 32768/1024 = 64, i.e. input
// 32; height = 2 x sum of |input| / 5.

struct PipelineCase {
  const char* name;
  std::function<void(PulseHeightSettings&)> setup;
  std::vector<std::int16_t> samples;
  long long accepted, rejected, overflow;
  int channel;  // the channel that must hold the accepted count (-1: none)
};

// `pieces` of (value, how many) from sample 200 on, in a buffer of 4096 zeros.
std::vector<std::int16_t> signal(const std::vector<std::pair<int, int>>& pieces, long at = 200) {
  std::vector<std::int16_t> x(4096, 0);
  for (const auto& [value, count] : pieces)
    for (int k = 0; k < count; ++k) x[static_cast<std::size_t>(at++)] = static_cast<std::int16_t>(value);
  return x;
}
std::vector<std::int16_t> stereo(const std::vector<std::int16_t>& left, const std::vector<std::int16_t>& right) {
  std::vector<std::int16_t> x;
  for (std::size_t k = 0; k < left.size(); ++k) {
    x.push_back(left[k]);
    x.push_back(right[k]);
  }
  return x;
}
std::vector<std::int16_t> negated(std::vector<std::int16_t> x) {
  for (auto& v : x) v = static_cast<std::int16_t>(-v);
  return x;
}

void PrintTo(const PipelineCase& c, std::ostream* os) { *os << c.name; }

class Pipeline : public ::testing::TestWithParam<PipelineCase> {};

TEST_P(Pipeline, CatchesItsFault) {
  const PipelineCase& c = GetParam();
  PulseHeightSettings s;
  s.rate = kRate44k;
  s.channels = 1024;
  s.lld = 10;
  s.uld = 1000;
  s.trigger = 2;
  s.readings = 5;
  s.max_readings = 10;
  if (c.setup) c.setup(s);
  PulseShape shape;
  shape.coefs = {0, 0, -1, 0, 0};
  PulseHeightAnalyser a(s, shape);
  AcquisitionState acq;
  const BufferResult r = a.analyse(c.samples.data(), static_cast<long>(c.samples.size()), acq, nullptr);
  EXPECT_EQ(r.accepted, c.accepted);
  EXPECT_EQ(r.rejected, c.rejected);
  EXPECT_EQ(r.overflow, c.overflow);
  long long total = 0;
  for (int k = 2; k < 1024; ++k) total += acq.counts[static_cast<std::size_t>(k)];
  EXPECT_EQ(total, c.accepted);
  if (c.channel >= 0) {
    EXPECT_EQ(acq.counts[static_cast<std::size_t>(c.channel)], 1);
  }
}

const auto kNone = [](PulseHeightSettings&) {};

INSTANTIATE_TEST_SUITE_P(
    SoundCard, Pipeline,
    ::testing::Values(
        // Length: 4 samples are judged, 3 are not; at most max_readings.
        PipelineCase{"ThreeSamplesAreIgnored", kNone, signal({{-100, 1}, {100, 2}}), 0, 0, 0, -1},
        PipelineCase{"FourSamplesAreJudged", kNone, signal({{-100, 2}, {100, 2}}), 1, 0, 0, 160},
        PipelineCase{"NoTailIsIgnored", kNone, signal({{100, 6}}), 0, 0, 0, -1},
        PipelineCase{"MaxReadingsLongIsAccepted", kNone, signal({{-50, 4}, {50, 6}}), 1, 0, 0, 200},
        PipelineCase{"OneLongerIsRejected", kNone, signal({{-50, 4}, {50, 7}}), 0, 1, 0, -1},
        // Shape: tail from m/3 to 4m/5.
        PipelineCase{"TailOfAThirdPasses", kNone, signal({{-50, 3}, {50, 6}}), 1, 0, 0, 180},
        PipelineCase{"TailBelowAThirdFails", kNone, signal({{-50, 2}, {50, 7}}), 0, 1, 0, -1},
        PipelineCase{"TailOfFourFifthsPasses", kNone, signal({{-50, 8}, {50, 2}}), 1, 0, 0, 200},
        PipelineCase{"TailAboveFourFifthsFails", kNone, signal({{-50, 9}, {50, 1}}), 0, 1, 0, -1},
        // Discriminators: LLD accepted, ULD overflows.
        PipelineCase{"HeightAtLldIsAccepted", [](PulseHeightSettings& s) { s.lld = 200; },
                     signal({{-100, 2}, {100, 3}}), 1, 0, 0, 200},
        PipelineCase{"HeightBelowLldIsRejected", [](PulseHeightSettings& s) { s.lld = 201; },
                     signal({{-100, 2}, {100, 3}}), 0, 1, 0, -1},
        PipelineCase{"HeightAtUldOverflows", [](PulseHeightSettings& s) { s.uld = 200; },
                     signal({{-100, 2}, {100, 3}}), 0, 1, 1, -1},
        // Threshold: input 32 triggers, 31 does not.
        PipelineCase{"BelowThresholdIsQuiet", kNone, signal({{-31, 2}, {31, 3}}), 0, 0, 0, -1},
        PipelineCase{"AtThresholdTriggers", kNone, signal({{-32, 2}, {32, 3}}), 1, 0, 0, 64},
        // One quiet sample inside a pulse does not end it; the second does.
        PipelineCase{"OneGapKeepsThePulse", kNone, signal({{-100, 2}, {100, 2}, {0, 1}, {100, 2}}), 1, 0, 0, 240},
        PipelineCase{"SecondGapEndsIt", kNone,
                     signal({{-100, 2}, {100, 2}, {0, 1}, {100, 2}, {0, 1}, {-100, 2}, {100, 2}}), 2, 0, 0, 160},
        // A saturated sample abandons the pulse in progress.
        PipelineCase{"SaturationAbandons", kNone, signal({{-100, 2}, {100, 2}, {32701, 1}, {100, 3}}), 0, 0, 0, -1},
        // Polarity: a negative-going pulse with "Negative Input".
        PipelineCase{"NegativeInput", [](PulseHeightSettings& s) { s.negative = true; },
                     negated(signal({{-50, 8}, {50, 2}})), 1, 0, 0, 200},
        PipelineCase{"NegativePulseWithoutNegativeInput", kNone, negated(signal({{-50, 8}, {50, 2}})), 0, 1, 0, -1},
        // Coincidence: only the first channel is analysed; swap exchanges them.
        PipelineCase{"CoincidenceTakesTheLeft",
                     [](PulseHeightSettings& s) {
                       s.input_channels = 2;
                       s.mode = kInputCoincidence;
                     },
                     stereo(signal({{-100, 2}, {100, 3}}), signal({})), 1, 0, 0, 200},
        PipelineCase{"CoincidenceIgnoresTheRight",
                     [](PulseHeightSettings& s) {
                       s.input_channels = 2;
                       s.mode = kInputAntiCoincidence;
                     },
                     stereo(signal({}), signal({{-100, 2}, {100, 3}})), 0, 0, 0, -1},
        PipelineCase{"SwapBringsTheRight",
                     [](PulseHeightSettings& s) {
                       s.input_channels = 2;
                       s.mode = kInputCoincidence;
                       s.swap = true;
                     },
                     stereo(signal({}), signal({{-100, 2}, {100, 3}})), 1, 0, 0, 200},
        // MCS: a pulse 50 ms into the buffer counts in time channel 50/10 + 2.
        PipelineCase{"McsCountsByTime",
                     [](PulseHeightSettings& s) {
                       s.mcs = true;
                       s.dwell_ms = 10;
                     },
                     [] {
                       std::vector<std::int16_t> x(4410, 0);
                       for (int k = 0; k < 5; ++k) x[static_cast<std::size_t>(2205 + k)] = k < 2 ? -100 : 100;
                       return x;
                     }(),
                     1, 0, 0, 7}),
    [](const ::testing::TestParamInfo<PipelineCase>& info) { return std::string(info.param.name); });

TEST(SoundCardPulses, LiveTimeCountsQuietSamplesAcrossBuffers) {
  // 100 buffers of 44100 Hz silence: each gives 32768 - 37 - 2 quiet samples,
  // not a whole number of 10 ms units; the remainder carries over.
  PulseHeightSettings s;
  s.channels = 1024;
  s.lld = 10;
  PulseShape shape;
  shape.coefs = {0, 0, -1, 0, 0};
  s.readings = 5;
  PulseHeightAnalyser a(s, shape);
  AcquisitionState acq;
  std::vector<std::int16_t> silence(32768, 0);
  long long quiet = 0;
  for (int b = 0; b < 100; ++b) quiet += a.analyse(silence.data(), 32768, acq, nullptr).quiet;
  EXPECT_EQ(quiet, 100LL * (32768 - 35 - 2));
  EXPECT_EQ(acq.live_accumulator, quiet / 441);
  EXPECT_EQ(acq.counts[0], quiet / 441 / 100);
}

TEST(SoundCardPulses, DiagnosticCaptureLogsEachRejectionInItsWindow) {
  // LLD above 1: the window starts at sample 8192.
  PulseHeightSettings s;
  s.channels = 1024;
  s.lld = 100;
  s.uld = 1000;
  s.trigger = 2;
  s.readings = 5;
  s.max_readings = 10;
  PulseShape shape;
  shape.coefs = {0, 0, -1, 0, 0};
  std::vector<std::int16_t> x(20000, 0);
  auto put = [&](long at, const std::vector<std::pair<int, int>>& pieces) {
    for (const auto& [value, count] : pieces)
      for (int k = 0; k < count; ++k) x[static_cast<std::size_t>(at++)] = static_cast<std::int16_t>(value);
  };
  put(1000, {{-50, 4}, {50, 7}});           // before the window: not logged
  put(8192 + 200, {{-50, 4}, {50, 7}});     // too long: the second quiet sample (212) ends it
  put(8192 + 1000, {{-50, 2}, {50, 7}});    // bad shape
  put(8192 + 3000, {{-32, 2}, {32, 2}});    // height 51: underflow
  put(8192 + 5000, {{-100, 2}, {100, 3}});  // accepted, peak at 5002
  PulseHeightAnalyser a(s, shape);
  AcquisitionState acq;
  DiagCapture diag;
  const BufferResult r = a.analyse(x.data(), static_cast<long>(x.size()), acq, nullptr, &diag);
  EXPECT_EQ(r.accepted, 1);
  EXPECT_EQ(r.rejected, 4);
  EXPECT_EQ(diag.log,
            "Pulse at 212 length of 11 exceeded maximum of 10\r\n"
            "Bad Pulse shape at 1010 - Tail=2, Total=9\r\n"
            "UnderFlow - Pulse Peak=3002\r\n");
  EXPECT_EQ(diag.pulses, std::vector<int>{5002});
  EXPECT_EQ(diag.marks[5002], 1);
  EXPECT_EQ(diag.marks[5000], -1);
  EXPECT_EQ(diag.marks[3001], -1);
  EXPECT_EQ(diag.marks[1001], 0);  // a bad shape is not marked
}

TEST(SoundCardPulses, PulseShapeFileIsAveragedOrReplacedByTheBuiltInShape) {
  test::TempDir dir;
  ScriptedPlatform ui;
  PulseShape shape;
  int readings = 12;
  EXPECT_EQ(read_pulse_shape(ui, dir.path(), shape, readings), 0);
  EXPECT_EQ(readings, 7);
  EXPECT_EQ(std::vector<int>(shape.coefs.begin(), shape.coefs.begin() + 7),
            (std::vector<int>{132, 402, -248, -148, -98, -48, 2}));
  // Two captured pulses are averaged (integer division) position by position.
  test::write_text(dir.file(kPulseShapeName),
                   "0,0,0,-20,20,150,550,300,150,50,0,0,0,0,0\r\n0,0,0,-20,20,152,552,302,150,50,0,0,0,0,1\r\n");
  readings = 7;
  EXPECT_EQ(read_pulse_shape(ui, dir.path(), shape, readings), 1);
  EXPECT_EQ(ui.statuses.back(), "Pulse Shape Coefficients have been read from file 'PulseShape.csv'");
  EXPECT_EQ(shape.count, 15);
  EXPECT_EQ(shape.values[5], 151);
  EXPECT_EQ(shape.values[14], 0);
  // Too few values a line: reported, the sums used as they are.
  test::write_text(dir.file(kPulseShapeName), "1,2,3,4,5\r\n");
  EXPECT_EQ(read_pulse_shape(ui, dir.path(), shape, readings), 1);
  EXPECT_TRUE(ui.said("Only found 5 coefs, expecting 15 in 1 lines"));
  // Saving a pulse from a captured trace appends its 15 values.
  std::vector<int> trace(100, 32768);
  trace[50] = 32768 + 300;
  trace[49] = 32768 + 100;
  EXPECT_EQ(save_pulse_shape(ui, dir.path(), trace, 48), 1);
  EXPECT_EQ(test::read_text(dir.file(kPulseShapeName)), "1,2,3,4,5\r\n0,0,0,0,0,0,100,300,0,0,0,0,0,0,0\r\n");
  trace[50] = 32768 + 200;
  EXPECT_EQ(save_pulse_shape(ui, dir.path(), trace, 50), 0);
  EXPECT_EQ(ui.texts().back(), "The Pulse height was only 200, expecting at least 250");
}

class FixedLocator final : public ReferencePeakLocator {
 public:
  explicit FixedLocator(int peak) : peak_(peak) {}
  int locate(const std::int32_t*, int, int, int) override {
    ++calls;
    return peak_;
  }
  int calls = 0;

 private:
  int peak_;
};

TEST(SoundCardGain, CorrectionLimitsAndEdges) {
  // channel(T) = 1023 + T: reference at 1 degree is channel 1024.
  TempCorrRecord r;
  r.coefficients = {1023, 1, 0};
  r.reference_temperature = 1;
  r.enabled = 1;
  CorrectionState c;
  for (const auto& [t, expected] : std::vector<std::pair<float, int>>{{51, -50}, {52, 0}, {1, 0}}) {
    c.correction = 7;
    r.current_temperature = t;
    update_temperature_correction(r, 1024, c);
    EXPECT_EQ(c.correction, expected) << t;
  }
  r.coefficients = {1025, -1, 0};
  for (const auto& [t, expected] : std::vector<std::pair<float, int>>{{51, 50}, {52, 0}}) {
    r.current_temperature = t;
    update_temperature_correction(r, 1024, c);
    EXPECT_EQ(c.correction, expected) << t;
  }
  // No temperature (the logger closed) changes nothing.
  c.correction = 9;
  r.current_temperature = 0;
  update_temperature_correction(r, 1024, c);
  EXPECT_EQ(c.correction, 9);

  // Reference channel: 19 counts a channel on average are too few.
  std::vector<std::int32_t> counts(kAcquisitionChannels, 0);
  c = CorrectionState{};
  c.channel = true;
  c.first_correction = true;
  c.uncorrected.assign(kAcquisitionChannels, 0);
  for (int k = 460; k <= 540; ++k) c.uncorrected[static_cast<std::size_t>(k)] = 19;
  FixedLocator at_centre(500);
  EXPECT_EQ(channel_correction(c, counts, 1024, 500, 80, at_centre), 0);
  EXPECT_EQ(at_centre.calls, 0);
  // 20: searched; a peak at the centre gives correction 0 and divisor C.
  for (int k = 460; k <= 540; ++k) c.uncorrected[static_cast<std::size_t>(k)] = 20;
  EXPECT_EQ(channel_correction(c, counts, 1024, 500, 80, at_centre), 1);
  EXPECT_EQ(c.correction, 0);
  EXPECT_EQ(c.divisor, 1024);
  EXPECT_EQ(c.uncorrected[500], 0);  // cleared after the search
  // The first non-zero correction re-bins what was acquired: a peak found
  // at 480 stretches channel 480 to 499 (divisor 25).
  c.first_correction = true;
  counts.assign(kAcquisitionChannels, 0);
  counts[480] = 1000;
  for (int k = 460; k <= 540; ++k) c.uncorrected[static_cast<std::size_t>(k)] = 20;
  FixedLocator low(480);
  EXPECT_EQ(channel_correction(c, counts, 1024, 500, 80, low), 1);
  EXPECT_EQ(c.correction, 20);
  EXPECT_EQ(c.divisor, 25);
  EXPECT_FALSE(c.first_correction);
  EXPECT_EQ(counts[480 + 480 / 25], 1000);
  EXPECT_EQ(counts[480], 0);
}

// --- Gain correction over a drifting detector ----------------------------
//
// A detector whose gain falls by 0.2 % a degree while the temperature
// climbs 20 degrees (20 to 40): a peak generated at channel 500 at 20
// degrees would end at 480. The sound-card MCA runs on the pulse generator
// through the shared run logic with the shipped Defaults.

constexpr double kGainPerDegree = -0.002;
double gain_at(double temperature) { return 1.0 + kGainPerDegree * (temperature - 20.0); }

class DriftingDetector {
 public:
  explicit DriftingDetector(int runs = 1) : state(ui), hooks(state, runs) {
    state.paths = default_paths();
    state.paths.user_dir = dir.file("user");
    state.paths.working_dir = dir.file("work");
    make_directories(state.paths.working_dir);
    EXPECT_EQ(initialise(state), 1);
    state.app.batch_mode = true;
    AnalysisParameters& p = state.params;
    p.mca_type = kMcaTypeSoundBlaster;
    p.sc_channels = 1024;
    p.preset_time = 0;
    settings.rate = kRate44k;
    settings.channels = 1024;
    settings.lld = 10;
    settings.uld = 1024;
    settings.trigger = 4;
    settings.max_readings = 30;
    coefs = builtin_coefficients(settings.readings);
    response = pulse_height_response(settings, coefs, builtin_shape());
    generator.rate = kRate44k;
    generator.spectrum = peaks_spectrum(1024, {{{500, 8, 60}}}, 2);
    generator.response = response;
    generator.shape = builtin_shape();
    generator.pulses_per_second = 300;
    generator.noise = 2;
    generator.dead_samples = 64;
    generator.seed = 7;
  }

  // The channel a pulse of the 500-channel peak reaches at `temperature`.
  double channel_at_temperature(double temperature) const {
    const double a = response[500] * gain_at(temperature);
    std::size_t k = 0;
    while (k + 1 < response.size() && response[k + 1] <= a) ++k;
    return static_cast<double>(k) + (a - response[k]) / (response[k + 1] - response[k]);
  }

  // Runs `seconds` of acquisition; `before_buffer(t_start, t_end)` sets the
  // temperature for the buffer about to be recorded.
  void run(double seconds, const std::function<void(PulseGenerator&, double, double)>& before_buffer,
           TemperatureLogger* logger = nullptr, TempCorrRecord* record = nullptr) {
    generator.frames = static_cast<long long>(seconds * kRate44k);
    PulseGenerator gen(generator);
    SoundCardOptions o;
    o.settings = settings;
    SoundCardMca mca(gen, o, coefs);
    PeakSearchLocator locator(state);
    mca.set_locator(&locator);
    if (logger != nullptr) mca.set_temperature(logger, record);
    AcquisitionSession s = acquisition_session(state, hooks);
    s.mca = &mca;
    ASSERT_EQ(start_collection(s, true), 1);
    const double buffer_s = static_cast<double>(card_buffer_samples(kRate44k, 1)) / kRate44k;
    while (state.acquisition.collecting) {
      const double t = static_cast<double>(gen.truth().frames) / kRate44k;
      before_buffer(gen, t, t + buffer_s);
      mca.cycle(s);
    }
    corrections = mca.correction().correction;
  }

  double centroid(int lo, int hi) const {
    std::vector<double> c(1024);
    for (int k = 2; k < 1024; ++k) c[static_cast<std::size_t>(k)] = state.acquisition.counts[static_cast<std::size_t>(k)];
    return window_centroid(c, lo, hi);
  }

  test::TempDir dir;
  ScriptedPlatform ui;
  State state;
  test::CountedHooks hooks;
  PulseHeightSettings settings;
  PulseShape coefs;
  std::vector<double> response;
  PulseGeneratorSettings generator;
  int corrections = 0;
};

// Where the peak lies when nothing drifts.
double steady_centroid() {
  DriftingDetector steady;
  steady.run(700, [](PulseGenerator&, double, double) {});
  return steady.centroid(470, 530);
}

TEST(SoundCardGain, TemperatureRampKeepsThePeakThroughTheLoggerLibrary) {
  DriftingDetector d;
  // The calibration: the peak's channel measured at 10 to 45 degrees,
  // "Temp_cal.csv" as a spreadsheet writes it, fitted and kept in
  // "TempCorr.dat" with logger unit 3 and the reference at 20 degrees.
  std::string csv = "\"Temperature\",\"Channel\"\r\n";
  for (int t = 10; t <= 45; t += 5) csv += c_format("%d,%.3f\r\n", t, d.channel_at_temperature(t));
  const std::string work = d.state.paths.working_dir;
  test::write_text(join_path(work, kTempCalName), csv);
  TempCorrRecord rec;
  ASSERT_EQ(read_temp_cal(d.ui, join_path(work, kTempCalName), rec), 1);
  ASSERT_EQ(rec.points, 8);
  ASSERT_EQ(fit_temp_calibration(rec, true), 1);
  EXPECT_EQ(rec.coefficient_count, 3);
  rec.reference_temperature = 20;
  rec.unit = 3;
  rec.enabled = 1;
  // `kestrim temp-cal` makes the same file.
  std::string out;
  ASSERT_EQ(test::run_command("cd '" + work + "' && '" + test::kestrim_binary() +
                                  "' temp-cal --csv Temp_cal.csv --reference 20 --unit 3 --second-order --enable",
                              &out, true),
            0)
      << out;
  EXPECT_EQ(test::read_bytes(join_path(work, kTempCorrName)), encode_temp_corr(rec));
  TempCorrRecord back;
  ASSERT_EQ(read_temp_corr(d.ui, work, back), 1);
  EXPECT_EQ(encode_temp_corr(back), encode_temp_corr(rec));
  EXPECT_EQ(test::read_bytes(join_path(work, kTempCorrName)).size(), 444u);

  // A missing library is a clear message and leaves the correction off.
  TemperatureLogger logger;
  EXPECT_EQ(logger.open(d.ui, join_path(work, "no-such-logger.so"), back), 0);
  EXPECT_EQ(d.ui.texts().back(), "Failed to Load Library '" + join_path(work, "no-such-logger.so") + "'");
  EXPECT_EQ(back.logger_open, 0);
  EXPECT_EQ(logger.read(back), 0.0);

  // The simulated logger: the temperature climbs 4 degrees at each of the
  // five readings, 120 s apart, from 20 to 40 degrees.
  const std::string temperature_file = join_path(work, "logger.txt");
  ::setenv("KESTRIM_SIM_LOGGER_FILE", temperature_file.c_str(), 1);
  test::write_text(temperature_file, "2000");
  ASSERT_EQ(logger.open(d.ui, KESTRIM_SIM_LOGGER, back), 1);
  EXPECT_EQ(back.logger_open, 1);
  d.state.params.temperature_correction = 1;
  double temperature = 20;
  d.run(700,
        [&](PulseGenerator& gen, double t0, double t1) {
          gen.set_gain_factor(gain_at(temperature));
          const int reading_after = static_cast<int>(t1) / kTemperatureEverySeconds;
          if (reading_after != static_cast<int>(t0) / kTemperatureEverySeconds && temperature < 40) {
            temperature += 4;
            test::write_text(temperature_file, c_format("%d", static_cast<int>(temperature * 100)));
          }
        },
        &logger, &back);
  ::unsetenv("KESTRIM_SIM_LOGGER_FILE");
  EXPECT_EQ(temperature, 40);
  EXPECT_NEAR(back.current_temperature, 40.0, 1e-4);
  EXPECT_GT(d.corrections, 15);  // the peak had moved 20 channels
  const double centre = d.centroid(470, 530);
  const double steady = steady_centroid();
  std::fputs(c_format("temperature-corrected centroid %.3f, steady %.3f (correction %d)\n", centre, steady, d.corrections).c_str(), stdout);
  EXPECT_NEAR(centre, steady, 0.5);
  // Without the correction the same run moves the peak down.
  DriftingDetector plain;
  temperature = 20;
  plain.run(700, [&](PulseGenerator& gen, double t0, double t1) {
    gen.set_gain_factor(gain_at(temperature));
    if (static_cast<int>(t1) / 120 != static_cast<int>(t0) / 120 && temperature < 40) temperature += 4;
  });
  std::fputs(c_format("uncorrected centroid %.3f\n", plain.centroid(450, 530)).c_str(), stdout);
  EXPECT_LT(plain.centroid(450, 530), steady - 5);
}

TEST(SoundCardGain, ReferenceChannelKeepsThePeakWithoutALogger) {
  DriftingDetector d;
  AnalysisParameters& p = d.state.params;
  p.gain_correction = 1;
  p.gain_reference_centre = 500;
  p.gain_reference_window = 80;
  // The same 20-degree climb, smoothly over 600 s, no logger.
  d.run(700, [&](PulseGenerator& gen, double t0, double) {
    gen.set_gain_factor(gain_at(20 + 20 * std::min(t0, 600.0) / 600.0));
  });
  EXPECT_GT(d.corrections, 15);
  const double centre = d.centroid(470, 530);
  const double steady = steady_centroid();
  std::fputs(c_format("channel-corrected centroid %.3f, steady %.3f (correction %d)\n", centre, steady, d.corrections).c_str(), stdout);
  EXPECT_NEAR(centre, steady, 0.5);
}

TEST(SoundCardRun, KeepsTheRunningCopyEvery1200SecondsAndCyclesAtThePreset) {
  // A quiet detector (2 pulses a second) for 1250 s: "tempdata.$$$" appears
  // once the true time passes 1200 s, not before.
  DriftingDetector d;
  d.generator.pulses_per_second = 2;
  const std::string copy = join_path(d.state.paths.working_dir, kRunningCopyName);
  bool before = false, after = false;
  d.run(1250, [&](PulseGenerator&, double t0, double) {
    if (t0 < 1199) before = before || file_exists(copy);
    if (t0 > 1201) after = after || file_exists(copy);
  });
  EXPECT_FALSE(before);
  EXPECT_TRUE(after);
  EXPECT_EQ(d.state.acquisition.counts[1], 1250);

  // Auto cycle: two runs of 30 s live time saved as SP0001.DAT and SP0002.DAT.
  DriftingDetector c(2);
  AnalysisParameters& p = c.state.params;
  p.preset_time = 30;
  p.auto_acquisition_cycle = 1;
  p.auto_save_number = 1;
  c.state.app.own_format_dir = c.state.paths.working_dir;
  c.run(200, [](PulseGenerator&, double, double) {});
  ASSERT_EQ(c.hooks.saved.size(), 2u);
  for (const char* name : {"SP0001.DAT", "SP0002.DAT"}) {
    const SpectrumRecord rec = test::read_spectrum(join_path(c.state.paths.working_dir, name));
    EXPECT_GE(rec.header.live_time, 30.0f) << name;
    EXPECT_LT(rec.header.live_time, 31.0f) << name;
    EXPECT_GT(rec.counts[500], 0.0f) << name;
  }
  EXPECT_EQ(p.auto_save_number, 3);
}

// A card that overruns now and then: input lost before it was read.
class OverrunningCard final : public SampleSource {
 public:
  explicit OverrunningCard(SampleSource& inner) : inner_(inner) {}
  int rate() const override { return inner_.rate(); }
  int channels() const override { return inner_.channels(); }
  long read(std::int16_t* out, long max) override {
    ++reads_;
    if (reads_ == 3 || reads_ == 5) overruns_ += reads_ == 3 ? 2 : 1;
    return inner_.read(out, max);
  }
  std::string error() const override { return inner_.error(); }
  long long overruns() const override { return overruns_; }

 private:
  SampleSource& inner_;
  int reads_ = 0;
  long long overruns_ = 0;
};

TEST(SoundCardRun, OverrunsAreReportedAsTheyHappen) {
  DriftingDetector d;
  d.generator.frames = 10LL * kRate44k;
  PulseGenerator gen(d.generator);
  OverrunningCard card(gen);
  SoundCardOptions o;
  o.settings = d.settings;
  SoundCardMca mca(card, o, d.coefs);
  AcquisitionSession s = acquisition_session(d.state, d.hooks);
  s.mca = &mca;
  ASSERT_EQ(start_collection(s, true), 1);
  while (d.state.acquisition.collecting) mca.cycle(s);
  EXPECT_TRUE(d.ui.said("The sound card overran 2 time(s): recorded samples were lost"));
  EXPECT_TRUE(d.ui.said("The sound card overran 1 time(s): recorded samples were lost"));
  EXPECT_EQ(mca.overruns_reported(), 3);
  EXPECT_EQ(d.state.acquisition.counts[1], 10);
}

TEST(SoundCardRun, SetUpIsCheckedInTheDialogsOrder) {
  PulseHeightSettings s;
  s.channels = 1024;
  s.baseline_points = 0;
  s.baseline_delay = 11;
  s.lld = 0;
  EXPECT_EQ(check_pulse_height_settings(s), "The 'Baseline points' should be between 1 and 12");
  s.baseline_points = 12;
  EXPECT_EQ(check_pulse_height_settings(s), "The 'Baseline Delay' should be between 0 and 10");
  s.baseline_delay = 10;
  EXPECT_EQ(check_pulse_height_settings(s), "The 'ADC LLD' should be between 1 and the number of channels");
  s.lld = 1025;
  EXPECT_EQ(check_pulse_height_settings(s), "The 'ADC LLD' should be between 1 and the number of channels");
  s.lld = 1024;
  s.uld = 5000;  // capped to the channels first, then not above the LLD
  EXPECT_EQ(check_pulse_height_settings(s), "The 'ADC ULD' should be greater than the LLD value");
  EXPECT_EQ(s.uld, 1024);
  s.lld = 10;
  s.readings = 16;
  EXPECT_EQ(check_pulse_height_settings(s), "The 'Readings' value should be between 5 and 15");
  s.readings = 5;
  s.max_readings = 51;
  EXPECT_EQ(check_pulse_height_settings(s), "The 'Max Readings for Conversion' value should be between 5 and 50");
  s.max_readings = 50;
  s.leading_edge = 0;
  EXPECT_EQ(check_pulse_height_settings(s), "The 'Leading Edge Readings ' value should be between 1 and 20");
  s.leading_edge = 20;
  s.trigger = 1;
  EXPECT_EQ(check_pulse_height_settings(s), "The 'ADC Trigger Threshold' should be between 2 and 20");
  s.trigger = 20;
  EXPECT_EQ(check_pulse_height_settings(s), "");
  // The threshold: trigger x 32768 / C / divisor, or the trigger when that is 0.
  s.adc_divisor = 4;
  EXPECT_EQ(trigger_level(s), 20 * 8);
  s.channels = 4096;
  s.adc_divisor = 64;
  EXPECT_EQ(trigger_level(s), 20);
}

// A client of the remote-control socket: one line at a time.
class ControlClient {
 public:
  explicit ControlClient(const std::string& path) {
    for (int attempt = 0; attempt < 500 && fd_ < 0; ++attempt) {
      const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
      sockaddr_un addr{};
      addr.sun_family = AF_UNIX;
      std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
      if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        fd_ = fd;
      } else {
        ::close(fd);
        ::usleep(10000);
      }
    }
  }
  ~ControlClient() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool connected() const { return fd_ >= 0; }
  void send(const std::string& line) {
    const std::string text = line + "\n";
    ASSERT_EQ(::write(fd_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  std::string line() {
    std::string out;
    char c = 0;
    while (::read(fd_, &c, 1) == 1 && c != '\n') out += c;
    return out;
  }
  // The next line that is not a rate report.
  std::string reply() {
    std::string l = line();
    while (l.rfind("0 ", 0) == 0) l = line();
    return l;
  }

 private:
  int fd_ = -1;
};

TEST(SoundCardRun, AnotherProgramControlsTheAcquisitionThroughTheSocket) {
  test::TempDir dir;
  PulseHeightSettings s;
  s.channels = 1024;
  s.lld = 1;
  s.uld = 1024;
  s.trigger = 4;
  s.max_readings = 30;
  PulseShape coefs = builtin_coefficients(s.readings);
  PulseGeneratorSettings g;
  g.rate = kRate44k;
  g.spectrum = peaks_spectrum(1024, {{{300, 8, 10}}}, 0);
  g.response = pulse_height_response(s, coefs, builtin_shape());
  g.shape = builtin_shape();
  g.pulses_per_second = 50;
  g.dead_samples = 64;
  g.frames = 60LL * kRate44k;
  PulseGenerator gen(g);
  std::vector<std::int16_t> samples(static_cast<std::size_t>(g.frames));
  gen.read(samples.data(), static_cast<long>(samples.size()));
  test::write_bytes(dir.file("pulses.wav"), encode_wav(samples, kRate44k, 1));

  // The recording is played at 5 times real time while a client drives it.
  int status = -1;
  std::string out;
  std::thread command([&] {
    status = kestrim(dir, "acquire --wav pulses.wav --wav-speed 5 --preset 1000 -o run.dat --control ctl.sock", &out);
  });
  ControlClient client(dir.file("ctl.sock"));
  ASSERT_TRUE(client.connected());
  client.send("1");
  EXPECT_EQ(client.line(), "1 1");
  const std::string rate = client.line();
  ASSERT_EQ(rate.rfind("0 ", 0), 0u) << rate;
  const int cps = std::atoi(rate.c_str() + 2);
  EXPECT_GT(cps, 25);  // 50 pulses a second, a buffer (0.74 s) at a time
  EXPECT_LT(cps, 90);
  client.send("5");
  EXPECT_EQ(client.reply(), "? unknown request");
  client.send("3");
  EXPECT_EQ(client.reply(), "3 1");
  client.send("2");
  EXPECT_EQ(client.reply(), "2 1");
  EXPECT_EQ(client.line().rfind("0 ", 0), 0u);
  client.send("4");
  command.join();
  EXPECT_EQ(status, 0) << out;
  const SpectrumRecord rec = test::read_spectrum(dir.file("run.dat"));
  EXPECT_GT(rec.header.true_time, 0.0f);
  EXPECT_FALSE(file_exists(dir.file("ctl.sock")));
}

}  // namespace
}  // namespace kestrim
