// The records that identification, activities, limits of detection,
// library loading and background files read and change.
#pragma once

#include <string>

#include "nuclides/results.h"
#include "peaks/peak_session.h"

namespace kestrim {

struct ReportText;

// The section of the activity report that lists the peaks no nuclide
// explains; the reports layer writes it.
class UnidentifiedPeaksSection {
 public:
  virtual ~UnidentifiedPeaksSection() = default;
  virtual void append_unidentified_peaks(ReportText& activity) = 0;
};

struct NuclideSession {
  Platform* ui;
  const Paths& paths;
  AnalysisParameters& params;
  const SpectrumRecord& spectrum;
  PeakList& peaks;
  DriverState& fitting;
  NuclideResults& results;
  NuclideLibrary& library;
  std::string& library_error;  // why the last library load failed
  BackgroundRecord& background;
  SessionFlags& flags;
  SessionHooks& hooks;  // saving the parameters
  ReportHeaders& headers;
  UnidentifiedPeaksSection& unidentified;

  // The peak search and fit of the same session.
  operator PeakSession() const {
    return {ui, paths, params, spectrum, peaks, fitting, flags, background, library, headers};
  }
};

}  // namespace kestrim
