// The sound-card MCA for `kestrim acquire`: the card (ALSA) or a WAV
// recording played as if it came from the card, the pulse shape of the
// working folder, and the gain corrections the Defaults ask for (the
// temperature logger's library, "TempCorr.dat"; the reference channel).
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "acquisition/alsa_capture.h"
#include "acquisition/gain_correction.h"
#include "acquisition/sound_card_mca.h"
#include "acquisition/wav_source.h"
#include "app/gain_locator.h"
#include "commands.h"

namespace kestrim {
struct State;
}

namespace kestrim::cli {

struct SoundCardChoice {
  std::string device;          // --sound-card DEVICE (ALSA name: default, hw:0, ...)
  std::string wav;             // --wav FILE.wav
  std::string logger_library;  // --logger-library PATH
  int rate = kRate44k;         // --rate
  bool stereo = false;         // --stereo
  bool true_time = false;      // --true-time: the preset is true time
  double wav_speed = 0;        // --wav-speed F: play the recording F times real time (0: at once)
  std::string control;         // --control SOCKET: remote control
  bool wanted() const { return !device.empty() || !wav.empty(); }
};

// Takes the sound-card options at args[i] (moving i past a value).
// Returns 1 when taken, 0 when the argument is not one of them, -1 on a
// wrong value (`error` says which).
int parse_sound_card_option(const Args& args, std::size_t& i, SoundCardChoice& out, std::string& error);

// The usage lines of the sound-card options.
extern const char* kSoundCardUsage;

class RemoteControl;

// A recording played no faster than `speed` times real time.
class PacedSource final : public SampleSource {
 public:
  PacedSource(SampleSource& inner, double speed) : inner_(inner), speed_(speed) {}
  int rate() const override { return inner_.rate(); }
  int channels() const override { return inner_.channels(); }
  long read(std::int16_t* out, long max_samples) override;
  std::string error() const override { return inner_.error(); }

 private:
  SampleSource& inner_;
  double speed_;
  long long frames_ = 0;
  long long start_ms_ = -1;
};

class SoundCardFrontEnd {
 public:
  // Sets the MCA type and opens the source, the pulse shape and the gain
  // corrections. Messages as "kestrim: text"; 1 on success.
  int open(State& state, const SoundCardChoice& choice);
  SoundCardMca* unit() { return mca_.get(); }
  long long overruns() const;

 private:
  AlsaCapture card_;
  WavSource wav_;
  std::unique_ptr<PeakSearchLocator> locator_;
  TemperatureLogger logger_;
  TempCorrRecord temp_;
  PulseShape shape_;
  std::unique_ptr<SoundCardMca> mca_;
  SampleSource* source_ = nullptr;
  std::unique_ptr<PacedSource> paced_;
};

// The sound card's acquisition loop: one buffer after another until the
// run ends, Ctrl-C (`interrupted`), or, with a remote-control client
// registered, its request "4"; the requests are served between buffers.
void run_sound_card(AcquisitionSession& session, SoundCardFrontEnd& card, RemoteControl& control, bool tty,
                    const std::atomic<bool>& interrupted);

}  // namespace kestrim::cli
