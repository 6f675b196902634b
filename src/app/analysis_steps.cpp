#include "app/analysis_steps.h"

#include <string>
#include <vector>

#include "app/settings_bridge.h"
#include "app/state.h"
#include "reports/template_reports.h"
#include "nuclides/activity.h"
#include "calibration/auto_calibration.h"
#include "calibration/efficiency_calibration.h"
#include "calibration/energy_calibration.h"
#include "calibration/shape_calibration.h"
#include "peaks/peak_report_json.h"
#include "peaks/region_driver.h"
#include "peaks/peak_search.h"
#include "platform/platform.h"

namespace kestrim {

namespace {
int not_available(State& state, const char* what) {
  state.ui->message_box(std::string(what) + " is not available in this version of Kestrim",
                        {}, kMsgWarning);
  return 0;
}
}  // namespace

int step_peak_search(State& state) {
  // A fresh peak list starts a fresh peak fit report.
  state.fitting.report_open = false;
  if (state.params.drift_correction) return drift_correction_with_search(state);
  state.ui->set_status("Searching for peaks");
  run_peak_search(state);
  return 1;
}

int step_fit_all_regions(State& state) { return fit_all_remaining_peaks(state); }
namespace {
int run_quantitative(State& state, bool auto_calibration) {
  seed_shipped_templates(state);
  // Without a library the analysis still runs and reports no nuclides.
  if (state.library.nuclide_count == 0) app_load_analysis_library(state);
  state.results.auto_calibration = auto_calibration;
  return quantitative_analysis(state);
}
}  // namespace

int step_quantitative_analysis(State& state) {
  return run_quantitative(state, state.app.request_autocal);
}

int quantitative_analysis_with_auto_calibration(State& state) {
  if (!run_quantitative(state, true)) return 0;
  std::vector<CalPoint> points;
  for (const RecalibrationPeak& r : state.results.recalibration) {
    CalPoint p;
    p.energy = r.energy;
    p.channel = r.channel;
    p.weight = r.uncertainty;
    p.name = r.nuclide;
    points.push_back(p);
  }
  if (points.size() < 2 || !quantitative_auto_calibration(state, points)) return 1;
  // The energy calibration changed: identify again with it. The fitted
  // areas do not depend on the energies, so the peaks are kept.
  return run_quantitative(state, false);
}
int step_reference_fit(State& state) { return not_available(state, "Reference spectrum fitting"); }
int step_open_background_spectrum(State&) { return 1; }

int step_auto_recalibration(State& state) { return batch_auto_calibration(state); }
int step_energy_calibration(State& state) { return batch_energy_calibration(state); }
int step_shape_calibration(State& state) { return batch_shape_calibration(state); }
int step_efficiency_calibration(State& state) { return batch_efficiency_calibration(state); }

void step_print_report(State&, const char*) {}

}  // namespace kestrim
