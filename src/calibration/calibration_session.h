// The records the calibration procedures read and change. A calibration
// searches and fits peaks, may identify nuclides, changes the spectrum's
// calibration record and writes the detector file, so it sees the records
// of each of those layers.
#pragma once

#include "acquisition/acquisition_state.h"
#include "nuclides/nuclide_session.h"
#include "settings/session.h"

namespace kestrim {

struct CalibrationSession {
  Platform* ui;
  const Paths& paths;
  AnalysisParameters& params;
  Passwords& passwords;
  SpectrumRecord& spectrum;
  PeakList& peaks;
  DriverState& fitting;
  NuclideResults& results;
  NuclideLibrary& library;
  std::string& library_error;
  BackgroundRecord& background;
  const AcquisitionState& acquisition;  // a running acquisition moves the reference peak
  SessionFlags& flags;
  SessionHooks& hooks;
  ReportHeaders& headers;
  UnidentifiedPeaksSection& unidentified;

  operator SettingsSession() const { return {ui, paths, params, passwords, spectrum, flags, hooks}; }
  operator PeakSession() const {
    return {ui, paths, params, spectrum, peaks, fitting, flags, background, library, headers};
  }
  operator NuclideSession() const {
    return {ui,      paths,         params,     spectrum, peaks, fitting, results,
            library, library_error, background, flags,    hooks, headers, unidentified};
  }
};

}  // namespace kestrim
