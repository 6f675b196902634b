// The records the reports read: a report can name anything the session
// holds (its tokens reach the spectrum, the parameters, the peaks, the
// results, the library and the background).
#pragma once

#include "nuclides/nuclide_session.h"

namespace kestrim {

class ActivityDatabaseLink;
struct ReferenceReport;

struct ReportSession {
  Platform* ui;
  const Paths& paths;
  AnalysisParameters& params;
  SpectrumRecord& spectrum;
  PeakList& peaks;
  DriverState& fitting;
  NuclideResults& results;
  NuclideLibrary& library;
  std::string& library_error;
  BackgroundRecord& background;
  SessionFlags& flags;
  SessionHooks& hooks;
  ReportHeaders& headers;
  UnidentifiedPeaksSection& unidentified;
  // The ODBC activity database, when the front end supplies it.
  ActivityDatabaseLink* activity_database = nullptr;
  // The last total-spectrum fit, when the analysis took that road.
  const ReferenceReport* reference_fit = nullptr;

  operator NuclideSession() const {
    return {ui,      paths,         params,     spectrum, peaks, fitting, results,
            library, library_error, background, flags,    hooks, headers, unidentified};
  }
};

}  // namespace kestrim
