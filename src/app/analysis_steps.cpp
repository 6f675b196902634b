#include "app/analysis_steps.h"

#include <string>

#include "app/state.h"
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
  state.ui->set_status("Searching for peaks");
  run_peak_search(state);
  // A fresh peak list starts a fresh peak fit report.
  state.fitting.report_open = false;
  return 1;
}

int step_fit_all_regions(State& state) { return fit_all_remaining_peaks(state); }
int step_quantitative_analysis(State&) { return 1; }
int step_reference_fit(State& state) { return not_available(state, "Reference spectrum fitting"); }
int step_open_background_spectrum(State&) { return 1; }

int step_auto_recalibration(State& state) {
  return not_available(state, "Automatic energy re-calibration");
}
int step_energy_calibration(State& state) { return not_available(state, "Energy calibration"); }
int step_shape_calibration(State& state) {
  return not_available(state, "Peak shape calibration");
}
int step_efficiency_calibration(State& state) {
  return not_available(state, "Efficiency calibration");
}

void step_print_report(State&, const char*) {}

}  // namespace kestrim
