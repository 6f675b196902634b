// The sound-card MCA for `kestrim acquire`: the card (ALSA) or a WAV
// recording played as if it came from the card, the pulse shape of the
// working folder, and the gain corrections the Defaults ask for (the
// temperature logger's library, "TempCorr.dat"; the reference channel).
#pragma once

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
  bool wanted() const { return !device.empty() || !wav.empty(); }
};

// Takes the sound-card options at args[i] (moving i past a value).
// Returns 1 when taken, 0 when the argument is not one of them, -1 on a
// wrong value (`error` says which).
int parse_sound_card_option(const Args& args, std::size_t& i, SoundCardChoice& out, std::string& error);

// The usage lines of the sound-card options.
extern const char* kSoundCardUsage;

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
};

}  // namespace kestrim::cli
