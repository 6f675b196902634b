#include "acquire_sound.h"

#include <cstdio>

#include "app/state.h"
#include "platform/c_locale.h"

namespace kestrim::cli {

const char* kSoundCardUsage =
    "Sound card: --sound-card DEVICE (ALSA: default, hw:0, ...) or --wav FILE.wav (a recording\n"
    "         played as the card), --rate 44100|96000|192000, --stereo, --true-time (preset on\n"
    "         true time), --logger-library PATH (temperature logger, with TempCorr.dat)\n";

int parse_sound_card_option(const Args& args, std::size_t& i, SoundCardChoice& out, std::string& error) {
  const std::string& a = args[i];
  const bool value = i + 1 < args.size();
  if (a == "--sound-card" && value) {
    out.device = args[++i];
  } else if (a == "--wav" && value) {
    out.wav = args[++i];
  } else if (a == "--logger-library" && value) {
    out.logger_library = args[++i];
  } else if (a == "--rate" && value) {
    const std::string& v = args[++i];
    out.rate = v == "44100" ? kRate44k : v == "96000" ? kRate96k : v == "192000" ? kRate192k : 0;
    if (out.rate == 0) {
      error = "acquire: --rate takes 44100, 96000 or 192000";
      return -1;
    }
  } else if (a == "--stereo") {
    out.stereo = true;
  } else if (a == "--true-time") {
    out.true_time = true;
  } else {
    return 0;
  }
  return 1;
}

int SoundCardFrontEnd::open(State& state, const SoundCardChoice& choice) {
  AnalysisParameters& p = state.params;
  int rate = choice.rate;
  int channels = choice.stereo ? 2 : 1;
  if (!choice.wav.empty()) {
    if (!wav_.open(choice.wav)) {
      c_fprintf(stderr, "kestrim: %s\n", wav_.error().c_str());
      return 0;
    }
    rate = wav_.rate();
    channels = wav_.channels();
    source_ = &wav_;
  } else {
    if (!alsa_capture_built()) {
      c_fprintf(stderr, "kestrim: Sound-card capture is not available in this build\n");
      return 0;
    }
    if (!card_.open(choice.device, rate, channels)) {
      c_fprintf(stderr, "kestrim: %s\n", card_.error().c_str());
      return 0;
    }
    source_ = &card_;
  }
  p.mca_type = (rate == kRate44k ? kMcaTypeSoundBlaster : kMcaTypeSoundCard) | (channels == 2 ? 1 : 0);
  SoundCardOptions o;
  o.settings = pulse_height_settings(p);
  o.settings.rate = rate;
  o.settings.input_channels = channels;
  PulseHeightSettings& s = o.settings;
  if (s.baseline_points == 0) s.baseline_points = 1;
  if (s.lld == 0) s.lld = 1;
  if (s.uld == 0) s.uld = s.channels;
  if (s.trigger == 0) s.trigger = 4;
  if (s.max_readings == 0) s.max_readings = 30;
  read_pulse_shape(*state.ui, state.paths.working_dir, shape_, s.readings);
  const std::string problem = check_pulse_height_settings(s);
  if (!problem.empty()) {
    c_fprintf(stderr, "kestrim: %s\n", problem.c_str());
    return 0;
  }
  p.sc_channels = s.channels;
  o.preset_true_time = choice.true_time;
  o.clock_from_samples = !choice.wav.empty();
  mca_ = std::make_unique<SoundCardMca>(*source_, o, shape_);
  if (p.gain_correction != 0) {
    locator_ = std::make_unique<PeakSearchLocator>(state);
    mca_->set_locator(locator_.get());
  }
  if (p.temperature_correction != 0 || !choice.logger_library.empty()) {
    // A missing library, file or unit leaves the correction off.
    p.temperature_correction = 0;
    const std::string library = choice.logger_library.empty() ? "libth0332.so" : choice.logger_library;
    if (read_temp_corr(*state.ui, state.paths.working_dir, temp_) && logger_.open(*state.ui, library, temp_)) {
      p.temperature_correction = 1;
      mca_->set_temperature(&logger_, &temp_);
    }
  }
  return 1;
}

long long SoundCardFrontEnd::overruns() const { return source_ != nullptr ? source_->overruns() : 0; }

}  // namespace kestrim::cli
