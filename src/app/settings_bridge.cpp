#include "app/settings_bridge.h"

#include "app/state.h"
#include "reports/text_export.h"

namespace kestrim {

int app_save_parameters(State&) { return 1; }
int app_load_defaults(State&, int, DefaultsMode) { return 1; }

}  // namespace kestrim

namespace kestrim {

int app_read_detector_calibration(State&, int, int) { return 1; }
int app_load_background(State&, const std::string&) { return 1; }
int app_load_analysis_library(State&) { return 1; }
void app_update_dose_rate(State& state) { update_dose_rate(state); }
void app_restore_peak_data(State&) {}

}  // namespace kestrim
