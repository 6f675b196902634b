#include "app/analysis_steps.h"

#include <string>

#include "app/state.h"
#include "calibration/auto_calibration.h"
#include "calibration/efficiency_calibration.h"
#include "calibration/energy_calibration.h"
#include "calibration/shape_calibration.h"
#include "peaks/peak_report_json.h"
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
  if (state.params.drift_correction) return drift_correction_with_search(state);
  state.ui->set_status("Searching for peaks");
  run_peak_search(state);
  return 1;
}

// Until the region driver takes over, every region is fitted in turn (the
// search is repeated so that the regions start from a fresh list).
int step_fit_all_regions(State& state) { return search_and_fit_all(state); }
int step_quantitative_analysis(State&) { return 1; }
int step_reference_fit(State& state) { return not_available(state, "Reference spectrum fitting"); }
int step_open_background_spectrum(State&) { return 1; }

int step_auto_recalibration(State& state) { return batch_auto_calibration(state); }
int step_energy_calibration(State& state) { return batch_energy_calibration(state); }
int step_shape_calibration(State& state) { return batch_shape_calibration(state); }
int step_efficiency_calibration(State& state) { return batch_efficiency_calibration(state); }

void step_print_report(State&, const char*) {}

}  // namespace kestrim
