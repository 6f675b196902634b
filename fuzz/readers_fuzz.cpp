// libFuzzer target for the foreign spectrum readers. The first byte picks
// the spectrum type (modulo 16; type 0, the native format, maps to the text
// reader's neighbour so that every byte value reaches a reader), the rest
// is the file. Besides the sanitizers' checks, every read must leave the
// count array its fixed size, declare no more channels than it holds, and
// keep both times finite.
//
//   cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DKESTRIM_FUZZ=ON \
//         -DKESTRIM_TESTS=OFF -DKESTRIM_BENCH=OFF
//   cmake --build build-fuzz --target readers_fuzz
//   build-fuzz/fuzz/readers_fuzz -max_total_time=600 -max_len=70000 \
//         fuzz/corpus/readers
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/silent_platform.h"
#include "spectrum/formats.h"
#include "spectrum/readers/readers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kestrim;
  if (size < 1) return 0;
  int type = data[0] % kSpectrumTypeCount;
  if (type == 0) type = 5;
  const SpectrumFormat* format = spectrum_format(type);
  std::vector<std::uint8_t> bytes(data + 1, data + size);

  SpectrumRecord rec;
  ReaderOptions options;
  options.text_channels_per_line = 1 + data[0] / 16 % 8;
  options.text_header_lines = data[0] / 128;
  SilentPlatform ui;
  int result = format->read(bytes, rec, options, ui);
  if (rec.counts.size() != static_cast<std::size_t>(kMaxChannelsStored)) __builtin_trap();
  if (result >= 0) {
    if (rec.header.channels < 0 || rec.header.channels > kMaxChannelsStored) __builtin_trap();
  }
  if (readers::detect_spectrum_type(bytes, type) < 0) __builtin_trap();
  if (format->probe) {
    int channels = format->probe(bytes);
    (void)channels;
  }
  return 0;
}
