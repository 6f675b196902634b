// The total-spectrum fitting capability: reads ".rsd" reference files and
// fits a spectrum with them (total_fit.h), after checking that every
// reference suits the spectrum.
#pragma once

#include "reference/reference_fitting.h"

namespace kestrim {

struct CalibrationRecord;

inline constexpr const char* kFitDiagnostics = "fit_diag.txt";

class TotalSpectrumFitting final : public ReferenceFitting {
 public:
  int load_reference_spectrum(const std::string& path, ReferenceSet& references,
                              Platform& ui) override;
  int fit_spectrum(const SpectrumRecord& spectrum, const AnalysisParameters& params,
                   const Paths& paths, ReferenceSet& references, Platform& ui) override;
};

// True when two energy calibrations agree within 5 % at a quarter and at
// three quarters of `channels`, or when either has no energy calibration.
bool calibrations_agree(const CalibrationRecord& a, const CalibrationRecord& b, int channels);

}  // namespace kestrim
