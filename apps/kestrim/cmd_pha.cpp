// kestrim pha: pulse-height analysis of a recording. The WAV file (16-bit
// PCM, mono or stereo, 44100, 96000 or 192000 Hz) goes through the same
// pipeline as the sound-card MCA's buffers, as fast as the machine allows,
// and the spectrum is written as a native file. The sound-card set-up of
// the Defaults in use applies (fields never set take the set-up dialog's
// defaults); options change it for this run. "PulseShape.csv" in the
// current folder gives the matched filter (the built-in shape without it).
#include <cstdio>
#include <string>
#include <vector>

#include "acquisition/acquisition_run.h"
#include "acquisition/pulse_height.h"
#include "acquisition/pulse_shape.h"
#include "acquisition/sound_card_mca.h"
#include "acquisition/wav_source.h"
#include "app/spectrum_file.h"
#include "app/startup.h"
#include "app/state.h"
#include "commands.h"
#include "platform/c_locale.h"
#include "platform/files.h"
#include "platform/headless_platform.h"

namespace kestrim::cli {

namespace {

const char* kUsage =
    "Usage: kestrim pha --wav FILE.wav -o SPECTRUM.dat [options]\n"
    "Options (default: the sound-card set-up of the Defaults in use):\n"
    "  --channels N       number of channels (64 to 4096)\n"
    "  --lld N --uld N    lower and upper level discriminators, channels\n"
    "  --threshold N      trigger threshold (2-20)     --divisor N   ADC range divisor\n"
    "  --readings N       matched-filter length (5-15) --max-readings N  longest pulse (5-50)\n"
    "  --baseline-points N (1-12)  --delay N (0-10)\n"
    "  --negative         negative-going pulses        --swap        swap left and right\n"
    "  --coincidence | --anti-coincidence   analyse the first of two channels only\n"
    "  --mcs DWELL_MS     multichannel scaling: pulses counted by time, DWELL_MS a channel\n"
    "  --diag             write the first buffer's pulse log to Diag.txt\n";

bool parse_int(const std::string& s, int& out, int low, int high) {
  char* end = nullptr;
  const double v = c_strtod(s.c_str(), &end);
  if (s.empty() || end == nullptr || *end != 0 || v != static_cast<double>(static_cast<long>(v)) || v < low ||
      v > high)
    return false;
  out = static_cast<int>(v);
  return true;
}

// The set-up dialog's values for fields a Defaults file never set.
void fill_unset(PulseHeightSettings& s) {
  if (s.baseline_points == 0) s.baseline_points = 1;
  if (s.lld == 0) s.lld = 1;
  if (s.uld == 0) s.uld = s.channels;
  if (s.trigger == 0) s.trigger = 4;
  if (s.max_readings == 0) s.max_readings = 30;
}

}  // namespace

int cmd_pha(const Args& args) {
  std::string wav, out;
  PulseHeightSettings o;
  bool set_channels = false, set_lld = false, set_uld = false, set_threshold = false, set_divisor = false,
       set_readings = false, set_max = false, set_points = false, set_delay = false;
  int mode = -1, mcs = 0;
  bool negative = false, swap = false, diag = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool v = i + 1 < args.size();
    auto number = [&](int& field, bool& flag, int low, int high) {
      flag = true;
      return parse_int(args[++i], field, low, high);
    };
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--wav" && v) {
      wav = args[++i];
    } else if ((a == "-o" || a == "--output") && v) {
      out = args[++i];
    } else if (a == "--channels" && v) {
      if (!number(o.channels, set_channels, 64, kAcquisitionChannels))
        return usage_error("pha: --channels takes a number from 64 to 4096", kUsage);
    } else if (a == "--lld" && v) {
      if (!number(o.lld, set_lld, 1, kAcquisitionChannels)) return usage_error("pha: --lld takes a channel", kUsage);
    } else if (a == "--uld" && v) {
      if (!number(o.uld, set_uld, 1, kAcquisitionChannels)) return usage_error("pha: --uld takes a channel", kUsage);
    } else if (a == "--threshold" && v) {
      if (!number(o.trigger, set_threshold, 0, 1000))
        return usage_error("pha: --threshold takes a number", kUsage);
    } else if (a == "--divisor" && v) {
      if (!number(o.adc_divisor, set_divisor, 1, 64)) return usage_error("pha: --divisor takes 1 to 64", kUsage);
    } else if (a == "--readings" && v) {
      if (!number(o.readings, set_readings, 0, 100)) return usage_error("pha: --readings takes a number", kUsage);
    } else if (a == "--max-readings" && v) {
      if (!number(o.max_readings, set_max, 0, 1000))
        return usage_error("pha: --max-readings takes a number", kUsage);
    } else if (a == "--baseline-points" && v) {
      if (!number(o.baseline_points, set_points, 0, 100))
        return usage_error("pha: --baseline-points takes a number", kUsage);
    } else if (a == "--delay" && v) {
      if (!number(o.baseline_delay, set_delay, 0, 100)) return usage_error("pha: --delay takes a number", kUsage);
    } else if (a == "--mcs" && v) {
      if (!parse_int(args[++i], mcs, 1, 86400000))
        return usage_error("pha: --mcs takes the dwell time in milliseconds", kUsage);
    } else if (a == "--negative") {
      negative = true;
    } else if (a == "--swap") {
      swap = true;
    } else if (a == "--coincidence") {
      mode = kInputCoincidence;
    } else if (a == "--anti-coincidence") {
      mode = kInputAntiCoincidence;
    } else if (a == "--diag") {
      diag = true;
    } else {
      return usage_error("pha: unexpected argument " + a, kUsage);
    }
  }
  if (wav.empty()) return usage_error("pha: no --wav FILE.wav was given", kUsage);
  if (out.empty()) return usage_error("pha: no -o SPECTRUM.dat was given", kUsage);
  if (to_lower(extension_of(out)) != "dat") return usage_error("pha: the output is a native spectrum FILE.dat", kUsage);

  HeadlessPlatform ui;
  ui.set_progress_enabled(false);
  State state(ui);
  state.paths = default_paths();
  if (!initialise(state)) return 1;
  state.app.batch_mode = true;
  AnalysisParameters& p = state.params;

  WavSource source;
  if (!source.open(wav)) {
    c_fprintf(stderr, "kestrim: %s\n", source.error().c_str());
    return 1;
  }
  PulseHeightSettings s = pulse_height_settings(p);
  if (set_channels) s.channels = o.channels;
  fill_unset(s);
  if (set_lld) s.lld = o.lld;
  if (set_uld) s.uld = o.uld;
  if (set_threshold) s.trigger = o.trigger;
  if (set_divisor) s.adc_divisor = o.adc_divisor;
  if (set_max) s.max_readings = o.max_readings;
  if (set_points) s.baseline_points = o.baseline_points;
  if (set_delay) s.baseline_delay = o.baseline_delay;
  if (negative) s.negative = true;
  if (swap) s.swap = true;
  if (mode >= 0) s.mode = mode;
  if (mcs > 0) {
    s.mcs = true;
    s.dwell_ms = mcs;
  }
  s.rate = source.rate();
  s.input_channels = source.channels();
  if (s.input_channels == 1) {
    s.swap = false;
    s.mode = kInputNormal;
  }
  PulseShape shape;
  read_pulse_shape(ui, state.paths.working_dir, shape, s.readings);
  if (set_readings) {
    s.readings = o.readings;
    make_coefficients(shape, s.readings);
  }
  const std::string problem = check_pulse_height_settings(s);
  if (!problem.empty()) return usage_error("pha: " + problem, kUsage);

  PulseHeightAnalyser analyser(s, shape);
  AcquisitionState acq;
  std::vector<std::int16_t> buffer(static_cast<std::size_t>(card_buffer_samples(s.rate, s.input_channels)));
  BufferResult total;
  long long frames = 0;
  for (bool first = true;; first = false) {
    const long n = source.read(buffer.data(), static_cast<long>(buffer.size()));
    if (n < 0) {
      c_fprintf(stderr, "kestrim: %s\n", source.error().c_str());
      return 1;
    }
    if (n == 0) break;
    frames += n / s.input_channels;
    DiagCapture capture;
    const BufferResult r = analyser.analyse(buffer.data(), n, acq, nullptr, diag && first ? &capture : nullptr);
    total.accepted += r.accepted;
    total.rejected += r.rejected;
    total.overflow += r.overflow;
    if (diag && first) {
      const std::string path = join_path(state.paths.working_dir, kDiagName);
      if (!write_text_atomic(path, capture.log)) {
        c_fprintf(stderr, "kestrim: Error Creating:- %s\n", path.c_str());
        return 1;
      }
    }
  }

  SpectrumRecord& rec = state.spectrum;
  SpectrumHeader& h = rec.header;
  h = SpectrumHeader{};
  h.sampled = h.collected = now_date_time();
  h.correction_factor = 1.0f;
  h.channels = static_cast<std::int16_t>(s.channels);
  h.detector_file = static_cast<std::int16_t>(p.default_detector_file);
  h.detector = static_cast<std::int16_t>(p.defaults_number);
  h.geometry = static_cast<std::int16_t>(p.default_geometry);
  std::fill(rec.counts.begin(), rec.counts.end(), 0.0f);
  for (int k = 2; k < s.channels; ++k) rec.counts[static_cast<std::size_t>(k)] = static_cast<float>(acq.counts[static_cast<std::size_t>(k)]);
  const double true_time = static_cast<double>(frames) / s.rate;
  const double live_time = static_cast<double>(acq.live_accumulator) / 100.0;
  h.live_time = static_cast<float>(live_time);
  h.true_time = static_cast<float>(true_time);
  rec.counts[0] = h.live_time;
  rec.counts[1] = h.true_time;
  state.app.spectrum_type = 0;
  bool retry = false;
  if (!write_native_file(state, out, retry, false)) return 1;
  c_printf("%s: live %.2f s, true %.2f s, %lld pulses accepted, %lld rejected (%lld overflow), %d channels\n",
           out.c_str(), live_time, true_time, total.accepted, total.rejected, total.overflow, s.channels);
  return 0;
}

}  // namespace kestrim::cli
