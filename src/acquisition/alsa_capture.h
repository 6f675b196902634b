// Capture from a sound card through ALSA: the card's input at one of the
// MCA rates, mono or stereo, 16-bit samples. Overruns (input the program
// came too late for) are counted and reported, never passed over. A build
// without ALSA's headers (KESTRIM_HAVE_ALSA unset) has the class, whose
// open() says that capture is not available.
#pragma once

#include <string>
#include <vector>

#include "acquisition/sample_source.h"

namespace kestrim {

class Platform;

// Whether this build can capture from a sound card.
bool alsa_capture_built();

// The capture devices present ("hw:N" with the card's name), empty when
// there is no card or no ALSA in this build.
std::vector<std::string> alsa_capture_cards();

class AlsaCapture final : public SampleSource {
 public:
  AlsaCapture() = default;
  ~AlsaCapture() override;
  AlsaCapture(const AlsaCapture&) = delete;
  AlsaCapture& operator=(const AlsaCapture&) = delete;

  // Opens `device` ("default", "hw:0", ...) for capture at `rate` with
  // `channels`. false with the reason in error(): "No Sound card and/or
  // driver installed" when the machine has none.
  bool open(const std::string& device, int rate, int channels);
  // Sets the capture source whose name holds "line" (or "mic") and its
  // volume to `gain` steps of `steps` (the set-up dialog's sliders); a
  // gain of 0 leaves the volume as it is. false when the card has no such
  // control (error() says so).
  bool set_mixer(const std::string& card, bool microphone, int gain, int steps);
  void close();
  bool is_open() const { return pcm_ != nullptr; }

  int rate() const override { return rate_; }
  int channels() const override { return channels_; }
  // Blocks until `max_samples` were captured (or a failure). An overrun is
  // counted, the device recovered and the read goes on.
  long read(std::int16_t* out, long max_samples) override;
  std::string error() const override { return error_; }
  long long overruns() const override { return overruns_; }

 private:
  void* pcm_ = nullptr;
  int rate_ = 0;
  int channels_ = 0;
  long long overruns_ = 0;
  std::string error_;
};

}  // namespace kestrim
