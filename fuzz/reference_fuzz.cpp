// Feeds arbitrary bytes to the reference spectrum reader and, when they
// read, fits a spectrum made from them with the gain search: nothing may be
// read outside its buffers, and a fit that succeeds has finite results.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/scripted_platform.h"
#include "reference/reference_file.h"
#include "reference/total_fit.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> bytes(data, data + size);
  kestrim::ReferenceSpectrum ref;
  std::string problem;
  if (!kestrim::decode_reference(bytes, ref, problem)) return 0;
  kestrim::ReferenceSet set;
  set.spectra.push_back(ref);
  std::vector<float> sample(8192, 0.0f);
  for (int ch = 2; ch < ref.channels; ++ch)
    sample[static_cast<std::size_t>(ch)] = 0.5f * static_cast<float>(ref.counts[static_cast<std::size_t>(ch)]) +
                                           static_cast<float>(ch % 7);
  kestrim::ScriptedPlatform ui;
  std::string log;
  if (kestrim::fit_total_spectrum(sample, ref.channels, {static_cast<int>(size % 50), ref.channels, size % 3 != 0},
                                  set, log, ui)) {
    const kestrim::ReferenceSpectrum& r = set.spectra[0];
    if (!std::isfinite(r.amplitude) || !std::isfinite(r.variance) || !std::isfinite(set.chi_squared)) std::abort();
  }
  return 0;
}
