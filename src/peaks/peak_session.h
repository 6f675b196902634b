// The records the peak search, the fitting engine, the region driver and
// the peak fit report read and change.
#pragma once

#include <string>

#include "peaks/driver_state.h"
#include "peaks/peak_list.h"
#include "platform/paths.h"
#include "settings/library.h"
#include "settings/parameters.h"
#include "settings/session.h"
#include "spectrum/background_record.h"
#include "spectrum/spectrum_record.h"

namespace kestrim {

class Platform;

// The headers of reports made from the templates of the working folder;
// the reports layer fills in their tokens.
class ReportHeaders {
 public:
  virtual ~ReportHeaders() = default;
  // The template `template_name` with its tokens filled in for the session;
  // false (and `text` untouched) when the template is missing.
  virtual bool header(const std::string& template_name, std::string& text) = 0;
};

struct PeakSession {
  Platform* ui;
  const Paths& paths;
  const AnalysisParameters& params;
  const SpectrumRecord& spectrum;
  PeakList& peaks;
  DriverState& fitting;
  SessionFlags& flags;
  const BackgroundRecord& background;  // background peaks to subtract
  const NuclideLibrary& library;       // possible nuclides of the detailed report
  ReportHeaders& headers;
};

}  // namespace kestrim
