#include "reference/total_spectrum_fitting.h"

#include <cmath>
#include <string>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/platform.h"
#include "reference/reference_file.h"
#include "reference/reference_set.h"
#include "reference/total_fit.h"
#include "settings/calibration_functions.h"
#include "settings/parameters.h"
#include "spectrum/spectrum_record.h"

namespace kestrim {

namespace {
constexpr double kCalibrationTolerance = 0.05;

bool calibrated(const CalibrationRecord& c) { return c.energy_terms > 0; }
}  // namespace

bool calibrations_agree(const CalibrationRecord& a, const CalibrationRecord& b, int channels) {
  if (!calibrated(a) || !calibrated(b)) return true;
  for (double at : {channels * 0.25, channels * 0.75}) {
    const double ea = channel_to_energy(a, at);
    const double eb = channel_to_energy(b, at);
    if (!std::isfinite(ea) || !std::isfinite(eb)) return false;
    const double scale = std::max(std::fabs(ea), std::fabs(eb));
    if (scale > 0 && std::fabs(ea - eb) > kCalibrationTolerance * scale) return false;
  }
  return true;
}

int TotalSpectrumFitting::load_reference_spectrum(const std::string& path, ReferenceSet& references,
                                                  Platform& ui) {
  if (references.count() >= kMaxReferences) {
    ui.message_box("Can only use 10 Reference Spectra", {}, kMsgError);
    return 0;
  }
  ReferenceSpectrum ref;
  if (!read_reference_file(path, ref, ui)) return 0;
  if (!check_reference(ref, references.count(), ui)) return 0;
  references.spectra.push_back(std::move(ref));
  references.clear_results();
  return 1;
}

int TotalSpectrumFitting::fit_spectrum(const SpectrumRecord& spectrum, const AnalysisParameters& params,
                                       const Paths& paths, ReferenceSet& references, Platform& ui) {
  references.clear_results();
  const double live = spectrum.header.live_time;
  if (!(live > 0)) {
    ui.message_box("The spectrum has no live time: the Reference Spectra cannot be scaled to it", {},
                   kMsgError);
    return 0;
  }
  const int channels = spectrum.channels();
  const CalibrationRecord* standard = calibrated(spectrum.calibration) ? &spectrum.calibration : nullptr;
  std::string standard_name;
  for (const ReferenceSpectrum& ref : references.spectra) {
    if (!check_reference(ref, 0, ui)) return 0;
    if (ref.channels != channels) {
      ui.message_box("Number of channels in Reference data file did not match", ref.path, kMsgError);
      return 0;
    }
    if (standard != nullptr && !calibrations_agree(*standard, ref.calibration, channels)) {
      ui.message_box("The energy calibration of Reference data file:- " + ref.path +
                         (standard_name.empty() ? std::string(" does not match the spectrum's")
                                                : " does not match that of " + standard_name),
                     {}, kMsgError);
      return 0;
    }
    if (standard == nullptr && calibrated(ref.calibration)) {
      standard = &ref.calibration;
      standard_name = ref.path;
    }
  }
  TotalFitOptions options;
  options.start_channel = params.reference_start;
  options.end_channel = params.reference_end;
  options.gain_search = params.reference_iterate_position != 0;
  ui.set_status("Fitting the Reference Spectra");
  std::string log;
  const int fitted = fit_total_spectrum(spectrum.counts, channels, options, references, log, ui);
  if (!log.empty()) {
    std::string error;
    const std::string path = join_path(paths.working_dir, kFitDiagnostics);
    if (!write_text_atomic(path, log, &error, paths.write_faults)) {
      ui.message_box("Error Creating:- " + path + " (" + error + ")", {}, kMsgError);
      references.clear_results();
      return 0;
    }
  }
  if (!fitted) return 0;
  references.sample_live_time = live;
  return 1;
}

}  // namespace kestrim
