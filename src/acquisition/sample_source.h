// Where the sound-card MCA's samples come from: the card itself (ALSA
// capture), a WAV recording, or the pulse generator of the tests. Every
// source delivers interleaved 16-bit signed samples at one of the card
// rates, one or two channels.
#pragma once

#include <cstdint>
#include <string>

namespace kestrim {

inline constexpr int kRate44k = 44100;
inline constexpr int kRate96k = 96000;
inline constexpr int kRate192k = 192000;

// The rates the sound-card MCA works at.
inline bool card_rate(int rate) { return rate == kRate44k || rate == kRate96k || rate == kRate192k; }

// Samples of one recording buffer: 0x10000 bytes at 44100 Hz, 0x20000 at
// 96000 Hz, 0x40000 at 192000 Hz, times the number of channels, in 16-bit
// samples. 0 for any other rate.
inline long card_buffer_samples(int rate, int channels) {
  long bytes = 0;
  if (rate == kRate44k) bytes = 0x10000;
  if (rate == kRate96k) bytes = 0x20000;
  if (rate == kRate192k) bytes = 0x40000;
  return bytes / 2 * channels;
}

class SampleSource {
 public:
  virtual ~SampleSource() = default;
  virtual int rate() const = 0;
  virtual int channels() const = 0;
  // Reads up to `max_samples` interleaved samples (a whole number of
  // frames is asked for). Returns how many were read, 0 at the end of the
  // input, -1 on a failure that error() describes.
  virtual long read(std::int16_t* out, long max_samples) = 0;
  virtual std::string error() const = 0;
  // Input lost because the reader came too late (capture overruns).
  virtual long long overruns() const { return 0; }
};

}  // namespace kestrim
