// Feeds arbitrary bytes to the native spectrum reader: it must refuse or
// read them without reading outside its buffers.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "spectrum/native_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> bytes(data, data + size);
  kestrim::SpectrumRecord rec;
  kestrim::BackgroundRecord bkg;
  kestrim::NativeReadResult result;
  kestrim::NativeReadOptions options;
  options.read_background_block = size % 2 == 0;
  kestrim::read_native(bytes, rec, bkg, options, result);
  kestrim::probe_native(bytes);
  return 0;
}
