#include "app/analysis_steps.h"

#include <algorithm>
#include <array>
#include <cmath>
#include "platform/text_encoding.h"

#include <string>
#include <vector>

#include "app/settings_bridge.h"
#include "app/state.h"
#include "reports/main_report.h"
#include "reports/template_reports.h"
#include "nuclides/activity.h"
#include "nuclides/identified_lines_fit.h"
#include "calibration/auto_calibration.h"
#include "calibration/efficiency_calibration.h"
#include "calibration/energy_calibration.h"
#include "calibration/shape_calibration.h"
#include "peaks/peak_fit_report.h"
#include "peaks/peak_report_json.h"
#include "peaks/region_driver.h"
#include "peaks/peak_search.h"
#include "peaks/resolution_estimate.h"
#include "settings/calibration_functions.h"
#include "platform/c_format.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "app/reference_analysis.h"
#include "reports/capabilities.h"

namespace kestrim {

namespace {
bool write_report_file(State& state, const char* name, const std::string& text) {
  std::string error;
  if (write_text_atomic(join_path(state.paths.working_dir, name), text_as_utf8(text), &error,
                        state.paths.write_faults))
    return true;
  state.ui->message_box(std::string("Could not write ") + name + ":- " + error);
  return false;
}
}  // namespace

namespace {

std::vector<std::string> reported_names(const NuclideResults& res) {
  std::vector<std::string> names;
  for (const NuclideResult& r : res.results)
    if (r.library_index >= 0 && r.activity > 0) names.push_back(r.name);
  std::sort(names.begin(), names.end());
  return names;
}

// The weak lines of the nuclides found, fitted as peaks where none was
// found, take their counts out of the continuum under the strong ones. The
// refit measures; it does not name: when the nuclides it leads to are not
// those of the first analysis, or it kept none of the lines, the first
// analysis stands, with its peaks and its peak fit report. Returns 0 only
// when the second analysis failed or was aborted.
int refit_with_identified_lines(State& state) {
  const std::vector<LineToFit> lines = identified_lines_to_fit(state);
  if (lines.empty()) return 1;
  const std::string report_path = join_path(state.paths.working_dir, kPeakFitReportName);
  std::vector<std::uint8_t> report;
  const bool had_report = read_file(report_path, report);
  PeakList peaks = state.peaks;
  NuclideResults results = state.results;
  const std::vector<std::string> names = reported_names(state.results);
  if (fit_identified_lines(state, lines) == 0) return 1;
  if (state.app.abort_requested || state.ui->abort_requested() || !state.peaks.fitted) return 0;
  int kept = 0;
  for (int k = 1; k <= state.peaks.count; ++k) kept += state.peaks.library_line[k] != 0;
  for (const LineToFit& l : lines) kept += l.known_area > 0;
  if (kept > 0) {
    if (!run_nuclide_analysis(state)) return 0;
    if (reported_names(state.results) == names) return 1;
  }
  state.peaks = std::move(peaks);
  state.results = std::move(results);
  std::string error;
  if (had_report && !write_file_atomic(report_path, report, &error, state.paths.write_faults)) {
    state.ui->message_box(std::string("Could not write ") + kPeakFitReportName + ":- " + error);
    return 0;
  }
  return 1;
}

}  // namespace

int quantitative_analysis(State& state) {
  if (!run_nuclide_analysis(state)) return 0;
  if (state.params.fit_switch_228 != 0 && !refit_with_identified_lines(state)) return 0;
  NuclideResults& res = state.results;
  // Every report must be written for the analysis to count as done.
  bool written = write_report_file(state, kDiagnosticReport, res.diagnostic_report);
  written = write_report_file(state, kActivityReport, res.activity_report) && written;
  state.ui->set_status("Producing Reports...");
  if (!res.error && !write_main_report(state)) written = false;
  state.ui->set_status("Finished Quantitative Analysis");
  return res.error || !written ? 0 : 1;
}

namespace {

// A spectrum without a width calibration is searched and fitted with the
// NaI-typical resolution. When its strongest clear peak is plainly narrower
// or wider than that (a LaBr3 or CsI detector, or a NaI crystal far from the
// usual 7.5 % at 662 keV), the measured resolution is used instead, scaled
// with the square root of the energy like the typical one.
void use_measured_resolution(State& state) {
  CalibrationRecord& cal = state.spectrum.calibration;
  if (term_count(cal.width_terms) != 0 || term_count(cal.energy_terms) < 2 || cal.energy[1] == 0.0f)
    return;
  if (uses_own_calibration(calibration_context(state.spectrum, state.app))) return;
  const ResolutionEstimate r =
      measure_resolution(state.spectrum, static_cast<int>(state.params.search_start));
  if (!r.measured || (r.ratio >= kTypicalResolutionLow && r.ratio <= kTypicalResolutionHigh)) return;
  cal.width_terms = -2;
  state.app.measured_resolution_ratio = static_cast<float>(r.ratio);
  cal.width = {0.0f,
               static_cast<float>(r.ratio * kNaiResolutionAt662 * std::sqrt(kNaiReferenceEnergy)),
               0.0f};
  state.ui->message_box(
      c_format("The width of this spectrum is not calibrated: its peaks are %.1f keV wide (FWHM) at "
               "%.0f keV, not NaI's %.1f keV, and are searched and fitted at that resolution",
               r.fwhm_kev, r.energy_kev, r.fwhm_kev / r.ratio),
      "Warning", kMsgWarning);
}

}  // namespace

int step_peak_search(State& state) {
  use_measured_resolution(state);
  // A fresh peak list starts a fresh peak fit report.
  state.fitting.report_open = false;
  state.fitting.report_write_failed = false;
  if (state.params.drift_correction) {
    const std::array<float, 3> before = state.spectrum.calibration.energy;
    if (state.params.drift_correction == 2) natural_line_gain_check(state);
    else drift_correction_with_search(state);
    // An Abort in the check's search ends the analysis here, as it would
    // in the search itself.
    if (state.peaks.search.aborted) {
      state.app.abort_requested = true;
      return 1;
    }
    if (state.spectrum.calibration.energy == before) return 1;
    // The peaks were fitted, and their report begun, under the old gain:
    // search again so that the fit and its report use the corrected one.
    state.fitting.report_open = false;
    state.fitting.report_write_failed = false;
  }
  state.ui->set_status("Searching for peaks");
  run_peak_search(state);
  return 1;
}

int step_fit_all_regions(State& state) {
  if (!fit_all_remaining_peaks(state)) return 0;
  // The fit is not done when its report could not be written.
  return state.fitting.report_write_failed ? 0 : 1;
}
namespace {
int run_quantitative(State& state, bool auto_calibration) {
  seed_shipped_templates(state);
  // A library that is named but cannot be read (missing, damaged or empty)
  // fails the analysis: its results would look complete without it.
  if (state.library.nuclide_count == 0 && !app_load_analysis_library(state) &&
      !to_string(state.params.analysis_library).empty())
    return 0;
  state.results.auto_calibration = auto_calibration;
  return quantitative_analysis(state);
}
}  // namespace

int step_quantitative_analysis(State& state) {
  return run_quantitative(state, state.app.request_autocal);
}

int quantitative_analysis_for_recalibration(State& state, std::vector<CalPoint>& points) {
  points.clear();
  if (!run_quantitative(state, true)) return 0;
  for (const RecalibrationPeak& r : state.results.recalibration) {
    CalPoint p;
    p.energy = r.energy;
    p.channel = r.channel;
    p.weight = r.uncertainty;
    p.name = r.nuclide;
    points.push_back(p);
  }
  return 1;
}

int quantitative_analysis_after_recalibration(State& state) {
  // The fitted areas do not depend on the energies, so the peaks are kept.
  return run_quantitative(state, false);
}

int quantitative_analysis_with_auto_calibration(State& state) {
  std::vector<CalPoint> points;
  if (!quantitative_analysis_for_recalibration(state, points)) return 0;
  if (points.size() < 2 || !quantitative_auto_calibration(state, points)) return 1;
  // The energy calibration changed: identify again with it.
  return quantitative_analysis_after_recalibration(state);
}
int step_reference_fit(State& state) { return reference_analysis(state); }
int step_open_background_spectrum(State& state) {
  // Stripping a background spectrum from the counts is not built yet: say
  // so rather than analyse as if it had been done.
  return capability_missing(*state.ui, "Background stripping");
}

int step_auto_recalibration(State& state) { return batch_auto_calibration(state); }
int step_energy_calibration(State& state) { return batch_energy_calibration(state); }
int step_shape_calibration(State& state) { return batch_shape_calibration(state); }
int step_efficiency_calibration(State& state) { return batch_efficiency_calibration(state); }

int step_print_report(State& state, const char* report_name) {
  if (state.services.printer == nullptr) return capability_missing(*state.ui, "Printing");
  return state.services.printer->print_text_file(join_path(state.paths.working_dir, report_name),
                                                 *state.ui);
}

}  // namespace kestrim
