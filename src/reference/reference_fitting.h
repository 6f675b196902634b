// Reference spectra and total-spectrum fitting: an optional capability that
// the front end supplies. A build without it says so and fails.
#pragma once

#include <string>

namespace kestrim {

class Platform;
struct AnalysisParameters;
struct Paths;
struct ReferenceSet;
struct SpectrumRecord;

class ReferenceFitting {
 public:
  virtual ~ReferenceFitting() = default;
  // Loads one reference spectrum (full path of the ".rsd") into the set;
  // 1 on success, 0 on a failure already reported.
  virtual int load_reference_spectrum(const std::string& path, ReferenceSet& references,
                                      Platform& ui) = 0;
  // Fits the loaded reference spectra to the spectrum and writes the fit
  // log "fit_diag.txt" into the working folder; 1 or 0.
  virtual int fit_spectrum(const SpectrumRecord& spectrum, const AnalysisParameters& params,
                           const Paths& paths, ReferenceSet& references, Platform& ui) = 0;
};

}  // namespace kestrim
