// WAV recordings as a sample source: RIFF "WAVE" files of 16-bit PCM,
// mono or stereo, at 44100, 96000 or 192000 Hz. Anything else is refused
// with a message naming what does not fit.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "acquisition/sample_source.h"

namespace kestrim {

struct WavFormat {
  int format = 0;              // 1 = PCM (also the sub-format of an extensible header)
  int channels = 0;
  int rate = 0;
  int bits = 0;
  int block_align = 0;
  std::uint64_t data_offset = 0;  // of the first sample
  std::uint64_t data_bytes = 0;   // whole frames only, clipped to the file
};

// Decodes the header from the first bytes of a file of `file_size` bytes
// (`head` must reach the start of the "data" chunk). On failure returns
// false with the reason in `problem`.
bool parse_wav_header(const std::vector<std::uint8_t>& head, std::uint64_t file_size, WavFormat& out,
                      std::string& problem);

// Encodes a 16-bit PCM WAV file (used to make recordings for tests).
std::vector<std::uint8_t> encode_wav(const std::vector<std::int16_t>& samples, int rate, int channels);

class WavSource final : public SampleSource {
 public:
  WavSource() = default;
  ~WavSource() override;
  WavSource(const WavSource&) = delete;
  WavSource& operator=(const WavSource&) = delete;
  // Opens `path`: false with "Cannot analyse WAV file <path>: <reason>" in
  // error() when it cannot be read or is not a recording the MCA takes.
  bool open(const std::string& path);
  const WavFormat& format() const { return format_; }
  int rate() const override { return format_.rate; }
  int channels() const override { return format_.channels; }
  long read(std::int16_t* out, long max_samples) override;
  std::string error() const override { return error_; }

 private:
  std::FILE* file_ = nullptr;
  WavFormat format_;
  std::uint64_t left_ = 0;  // bytes of samples not yet read
  std::string error_;
  std::vector<std::uint8_t> raw_;
};

}  // namespace kestrim
