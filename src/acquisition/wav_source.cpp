#include "acquisition/wav_source.h"

#include <cerrno>
#include <cstring>

#include "platform/binio.h"
#include "platform/c_format.h"

namespace kestrim {

namespace {

constexpr std::size_t kHeadBytes = 1 << 20;  // the "data" chunk must start within this
constexpr int kFormatPcm = 1;
constexpr int kFormatExtensible = 0xFFFE;

bool tag_is(const std::uint8_t* p, const char* tag) { return std::memcmp(p, tag, 4) == 0; }

}  // namespace

bool parse_wav_header(const std::vector<std::uint8_t>& head, std::uint64_t file_size, WavFormat& out,
                      std::string& problem) {
  out = WavFormat{};
  const std::uint8_t* b = head.data();
  const std::uint64_t n = head.size();
  if (n < 12 || !tag_is(b, "RIFF") || !tag_is(b + 8, "WAVE")) {
    problem = "it is not a RIFF WAVE file";
    return false;
  }
  bool have_format = false;
  std::uint64_t at = 12;
  for (;;) {
    if (at + 8 > n) {
      problem = have_format ? "it has no \"data\" chunk" : "it has no \"fmt \" chunk";
      return false;
    }
    const std::uint8_t* chunk = b + at;
    const std::uint64_t size = bin::get_u32(chunk + 4);
    const std::uint64_t body = at + 8;
    if (tag_is(chunk, "fmt ")) {
      if (size < 16 || body + size > n) {
        problem = c_format("its \"fmt \" chunk is %s", size < 16 ? "too short" : "cut off");
        return false;
      }
      const std::uint8_t* f = b + body;
      out.format = bin::get_u16(f);
      out.channels = bin::get_u16(f + 2);
      out.rate = static_cast<int>(bin::get_u32(f + 4));
      out.block_align = bin::get_u16(f + 12);
      out.bits = bin::get_u16(f + 14);
      if (out.format == kFormatExtensible) {
        // The extension: size, valid bits, channel mask, then the sub-format
        // GUID whose first two bytes are the format code.
        if (size < 40 || bin::get_u16(f + 16) < 22) {
          problem = "its extensible \"fmt \" chunk is too short";
          return false;
        }
        out.format = bin::get_u16(f + 24);
      }
      have_format = true;
    } else if (tag_is(chunk, "data")) {
      if (!have_format) {
        problem = "its \"data\" chunk comes before the \"fmt \" chunk";
        return false;
      }
      break;
    }
    // Chunks are padded to an even length.
    at = body + size + (size & 1);
  }
  if (out.format != kFormatPcm) {
    problem = c_format("its samples are not PCM (format %d)", out.format);
    return false;
  }
  if (out.bits != 16) {
    problem = c_format("its samples have %d bits, the MCA takes 16", out.bits);
    return false;
  }
  if (out.channels != 1 && out.channels != 2) {
    problem = c_format("it has %d channels, the MCA takes 1 or 2", out.channels);
    return false;
  }
  if (!card_rate(out.rate)) {
    problem = c_format("its rate is %d Hz, the MCA takes 44100, 96000 or 192000 Hz", out.rate);
    return false;
  }
  if (out.block_align != out.channels * 2) {
    problem = c_format("its block alignment is %d bytes, expected %d", out.block_align, out.channels * 2);
    return false;
  }
  const std::uint64_t data_start = at + 8;
  std::uint64_t bytes = bin::get_u32(b + at + 4);
  // A recording cut short (or written while streaming, with the size left
  // at its maximum) keeps the samples the file holds.
  if (data_start + bytes > file_size) bytes = file_size > data_start ? file_size - data_start : 0;
  bytes -= bytes % static_cast<std::uint64_t>(out.block_align);
  out.data_offset = data_start;
  out.data_bytes = bytes;
  return true;
}

std::vector<std::uint8_t> encode_wav(const std::vector<std::int16_t>& samples, int rate, int channels) {
  const std::uint32_t data = static_cast<std::uint32_t>(samples.size() * 2);
  std::vector<std::uint8_t> out(44 + data);
  std::uint8_t* b = out.data();
  std::memcpy(b, "RIFF", 4);
  bin::put_u32(b + 4, 36 + data);
  std::memcpy(b + 8, "WAVE", 4);
  std::memcpy(b + 12, "fmt ", 4);
  bin::put_u32(b + 16, 16);
  bin::put_u16(b + 20, kFormatPcm);
  bin::put_u16(b + 22, static_cast<std::uint16_t>(channels));
  bin::put_u32(b + 24, static_cast<std::uint32_t>(rate));
  bin::put_u32(b + 28, static_cast<std::uint32_t>(rate * channels * 2));
  bin::put_u16(b + 32, static_cast<std::uint16_t>(channels * 2));
  bin::put_u16(b + 34, 16);
  std::memcpy(b + 36, "data", 4);
  bin::put_u32(b + 40, data);
  for (std::size_t k = 0; k < samples.size(); ++k) bin::put_i16(b + 44 + 2 * k, samples[k]);
  return out;
}

WavSource::~WavSource() {
  if (file_ != nullptr) std::fclose(file_);
}

bool WavSource::open(const std::string& path) {
  if (file_ != nullptr) std::fclose(file_);
  file_ = std::fopen(path.c_str(), "rb");
  if (file_ == nullptr) {
    error_ = "Cannot analyse WAV file " + path + ": " + std::strerror(errno);
    return false;
  }
  std::vector<std::uint8_t> head(kHeadBytes);
  const std::size_t got = std::fread(head.data(), 1, head.size(), file_);
  head.resize(got);
  std::uint64_t size = got;
  if (got == kHeadBytes && std::fseek(file_, 0, SEEK_END) == 0) {
    const long end = std::ftell(file_);
    if (end > 0) size = static_cast<std::uint64_t>(end);
  }
  std::string problem;
  if (!parse_wav_header(head, size, format_, problem) ||
      std::fseek(file_, static_cast<long>(format_.data_offset), SEEK_SET) != 0) {
    error_ = "Cannot analyse WAV file " + path + ": " + (problem.empty() ? "it cannot be read" : problem);
    std::fclose(file_);
    file_ = nullptr;
    return false;
  }
  left_ = format_.data_bytes;
  return true;
}

long WavSource::read(std::int16_t* out, long max_samples) {
  if (file_ == nullptr) return -1;
  std::uint64_t want = static_cast<std::uint64_t>(max_samples) * 2;
  if (want > left_) want = left_;
  if (want == 0) return 0;
  raw_.resize(want);
  const std::size_t got = std::fread(raw_.data(), 1, want, file_);
  left_ -= got;
  const long samples = static_cast<long>(got / 2);
  for (long k = 0; k < samples; ++k) out[k] = bin::get_i16(raw_.data() + 2 * k);
  if (got < want && samples == 0) {
    error_ = "The WAV file could not be read to its end";
    return -1;
  }
  return samples;
}

}  // namespace kestrim
