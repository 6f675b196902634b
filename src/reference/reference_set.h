// The reference spectra of a total-spectrum fit (at most 10) and what the
// last fit found for each of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "spectrum/calibration_record.h"

namespace kestrim {

inline constexpr int kMaxReferences = 10;

struct ReferenceSpectrum {
  std::string name;   // file name without its extension, as the set lists it
  std::string path;   // where it was read
  std::string title;  // fewer than 16 characters
  double activity_bq = 0;
  double activity_uncertainty_pct = 0;
  double live_time = 0;  // s
  int channels = 0;
  CalibrationRecord calibration;
  // Counts by channel (index = channel, `channels` entries); channels 0 and
  // 1, which hold times in a spectrum, are 0.
  std::vector<std::int32_t> counts;

  // Fit results.
  double gain = 1;       // the reference is read at channel ch x gain
  double amplitude = 0;  // scale of the reference in the sample (unweighted fit)
  double variance = 0;   // of the amplitude (weighted fit, with the gain's share)
  double gain_variance = 0;  // of a searched gain (0 when not searched)
};

struct ReferenceSet {
  std::vector<ReferenceSpectrum> spectra;
  // The last fit: true once it ended with finite results for every reference.
  bool fitted = false;
  double chi_squared = 0;  // reduced chi-square of the last fit
  double sample_live_time = 0;

  int count() const { return static_cast<int>(spectra.size()); }
  void clear_results() {
    fitted = false;
    chi_squared = 0;
    sample_live_time = 0;
  }
};

}  // namespace kestrim
