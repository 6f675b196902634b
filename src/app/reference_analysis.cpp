#include "app/reference_analysis.h"

#include <cmath>
#include <vector>

#include "app/state.h"
#include "platform/c_format.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "reference/reference_file.h"
#include "reference/reference_fitting.h"
#include "reference/total_fit.h"
#include "reports/main_report.h"
#include "reports/template_reports.h"
#include "spectrum/dates.h"

namespace kestrim {

ReferenceReport reference_report(const State& state) {
  ReferenceReport report;
  const ReferenceSet& set = state.references;
  if (!set.fitted) return report;
  report.chi_squared = set.chi_squared;
  for (const ReferenceSpectrum& ref : set.spectra) {
    const ReferenceResult r = reference_result(ref, set.sample_live_time, state.params.activity_sigma);
    ReferenceReportRow row;
    row.name = ref.name;
    row.title = ref.title;
    row.factor = r.factor;
    row.factor_uncertainty_pct = r.factor_uncertainty_pct;
    row.shift = r.shift;
    row.activity_bq = r.activity_bq;
    row.uncertainty_pct = r.uncertainty_pct;
    report.rows.push_back(row);
  }
  return report;
}

int reference_analysis(State& state) {
  if (state.services.reference_fitting == nullptr)
    return capability_missing(*state.ui, "Reference spectrum fitting");
  if (!state.services.reference_fitting->fit_spectrum(state.spectrum, state.params, state.paths,
                                                       state.references, *state.ui))
    return 0;
  const ReferenceReport report = reference_report(state);
  for (const ReferenceReportRow& r : report.rows) {
    // Never a report with numbers that are not numbers.
    if (!std::isfinite(r.factor) || !std::isfinite(r.activity_bq) || !std::isfinite(r.uncertainty_pct) ||
        !std::isfinite(r.factor_uncertainty_pct) || !std::isfinite(r.shift)) {
      state.references.clear_results();
      state.ui->message_box("The Reference Spectra could not be told apart: the fit is singular", {},
                            kMsgError);
      return 0;
    }
  }
  ReportSession session = state;
  session.reference_fit = &report;
  seed_shipped_templates(session);
  state.ui->set_status("Producing Reports...");
  return write_main_report(session);
}

int save_reference_spectrum(State& state, const std::string& path, const std::string& title,
                            double activity_bq, double uncertainty_pct, bool replace) {
  Platform& ui = *state.ui;
  if (title.size() > static_cast<std::size_t>(kMaxReferenceTitle)) {
    ui.message_box("Spectrum Title should be less than 16 chars.", {}, kMsgError);
    return 0;
  }
  if (!(activity_bq > 0) || !std::isfinite(activity_bq)) {
    ui.message_box("The activity of a Reference Spectrum must be above 0 Bq", {}, kMsgError);
    return 0;
  }
  if (!(uncertainty_pct >= 0) || !std::isfinite(uncertainty_pct)) {
    ui.message_box("The activity uncertainty of a Reference Spectrum must be 0 % or more", {}, kMsgError);
    return 0;
  }
  if (!(state.spectrum.header.live_time > 0)) {
    ui.message_box("The spectrum has no live time: it cannot be a Reference Spectrum", {}, kMsgError);
    return 0;
  }
  std::string target = path;
  if (base_name(target).find('.') == std::string::npos) target += ".rsd";
  if (!replace && file_exists(resolve_path(target)) &&
      ui.message_box(c_format("Update the existing file:- %s ?", target.c_str()),
                     "The Reference data file already exists", kMsgYesNo, kAnswerNo) != kAnswerYes)
    return 0;
  const std::vector<std::uint8_t> bytes =
      encode_reference(state.spectrum, title, activity_bq, uncertainty_pct, now_date_time());
  std::string error;
  if (!write_file_atomic(target, bytes, &error, state.paths.write_faults)) {
    ui.message_box("Error Creating:- " + target + " (" + error + ")", {}, kMsgError);
    return 0;
  }
  ui.set_status("Reference Spectral data saved");
  return 1;
}

}  // namespace kestrim
