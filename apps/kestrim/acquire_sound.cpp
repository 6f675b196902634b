#include "acquire_sound.h"

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "app/state.h"
#include "platform/c_format.h"
#include "platform/c_locale.h"
#include "platform/platform.h"
#include "remote_control.h"

namespace kestrim::cli {

const char* kSoundCardUsage =
    "Sound card: --sound-card DEVICE (ALSA: default, hw:0, ...) or --wav FILE.wav (a recording\n"
    "         played as the card), --rate 44100|96000|192000, --stereo, --true-time (preset on\n"
    "         true time), --logger-library PATH (temperature logger, with TempCorr.dat),\n"
    "         --wav-speed F (play the recording F times real time), --control SOCKET (remote\n"
    "         control by another program: see README)\n";

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
  } else if (a == "--control" && value) {
    out.control = args[++i];
  } else if (a == "--wav-speed" && value) {
    char* end = nullptr;
    out.wav_speed = c_strtod(args[++i].c_str(), &end);
    if (end == nullptr || *end != 0 || !(out.wav_speed > 0)) {
      error = "acquire: --wav-speed takes a factor above 0";
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
    if (choice.wav_speed > 0) {
      paced_ = std::make_unique<PacedSource>(wav_, choice.wav_speed);
      source_ = paced_.get();
    }
  } else {
    if (!alsa_capture_built()) {
      c_fprintf(stderr, "kestrim: Sound-card capture is not available in this build\n");
      return 0;
    }
    if (!card_.open(choice.device, rate, channels)) {
      c_fprintf(stderr, "kestrim: %s\n", card_.error().c_str());
      return 0;
    }
    // The input and its volume of the set-up (gain 2, in steps of a
    // hundredth of the control's range); a card without them records as
    // it is set.
    const std::string mixer = choice.device.rfind("hw:", 0) == 0 ? choice.device : "default";
    if (!card_.set_mixer(mixer, p.sc_microphone != 0, p.sc_gain_2, 100))
      c_fprintf(stderr, "kestrim: %s: the card's mixer is left as it is\n", card_.error().c_str());
    // The first buffer after the card was opened is discarded (the input
    // settles).
    state.ui->set_status("Initialising the MCA");
    std::vector<std::int16_t> first(static_cast<std::size_t>(card_buffer_samples(rate, channels)));
    if (card_.read(first.data(), static_cast<long>(first.size())) < 0) {
      c_fprintf(stderr, "kestrim: %s\n", card_.error().c_str());
      return 0;
    }
    state.ui->set_status("");
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

namespace {

long long now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

long PacedSource::read(std::int16_t* out, long max_samples) {
  if (start_ms_ < 0) start_ms_ = now_ms();
  const long n = inner_.read(out, max_samples);
  if (n <= 0) return n;
  frames_ += n / inner_.channels();
  const long long due = start_ms_ + static_cast<long long>(frames_ * 1000.0 / inner_.rate() / speed_);
  const long long wait = due - now_ms();
  if (wait > 0) std::this_thread::sleep_for(std::chrono::milliseconds(wait));
  return n;
}

void run_sound_card(AcquisitionSession& session, SoundCardFrontEnd& card, RemoteControl& control, bool tty,
                    const std::atomic<bool>& interrupted) {
  AcquisitionState& acq = session.acq;
  SoundCardMca& mca = *card.unit();
  for (;;) {
    bool quit = false;
    for (int request; (request = control.poll()) != 0;) {
      if (request == 1) {
        control.set_registered();
        control.send("1 1");
      } else if (request == 2) {
        if (acq.collecting) stop_collection(session);
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        control.send(c_format("2 %d", start_collection(session, true)));
      } else if (request == 3) {
        if (acq.collecting) stop_collection(session);
        control.send("3 1");
      } else {
        quit = true;
      }
    }
    if (quit || interrupted) {
      if (acq.collecting) {
        if (interrupted) c_fprintf(stderr, "\nkestrim acquire: stopping: the counts so far are kept\n");
        stop_collection(session);
      }
      return;
    }
    if (!acq.collecting) {
      if (!control.registered()) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      continue;
    }
    const std::int32_t before = acq.counts[1];
    mca.cycle(session);
    const BufferResult& r = mca.last();
    if (control.registered() && r.time_units > 0) control.send(c_format("0 %lld", r.accepted * 100 / r.time_units));
    if (acq.collecting && acq.counts[1] != before && (tty || acq.counts[1] % 10 == 0)) {
      double total = 0;
      for (int k = 2; k < acquisition_channels(session.params); ++k) total += acq.counts[static_cast<std::size_t>(k)];
      c_fprintf(stderr, "%skestrim acquire: %d s (live %d s), %.0f counts%s", tty ? "\r" : "", acq.counts[1],
                acq.counts[0], total, tty ? "  " : "\n");
    }
  }
}

long long SoundCardFrontEnd::overruns() const { return source_ != nullptr ? source_->overruns() : 0; }

}  // namespace kestrim::cli
