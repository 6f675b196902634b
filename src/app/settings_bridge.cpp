#include "app/settings_bridge.h"

#include "app/peak_data_file.h"
#include "nuclides/library_load.h"
#include "app/state.h"
#include "reports/capabilities.h"
#include "nuclides/background_file.h"
#include "reports/text_export.h"
#include "settings/defaults_file.h"
#include "settings/detector_file.h"

namespace kestrim {

int app_save_parameters(State& state) { return save_parameters(state); }

int app_load_defaults(State& state, int number, DefaultsMode mode) {
  // Another Defaults file may name another database: the connection ends.
  if (mode != DefaultsMode::kStartup && state.services.activity_database != nullptr)
    state.services.activity_database->close();
  return load_defaults_file(state, number,
                            mode == DefaultsMode::kStartup ? LoadMode::Startup : LoadMode::Switching);
}

int app_read_detector_calibration(State& state, int detector, int geometry) {
  return read_detector_calibration(state, detector, geometry, true);
}

int app_load_background(State& state, const std::string& name) {
  state.app.background_name = name;
  return load_background(state);
}
int app_load_analysis_library(State& state) { return load_analysis_library_named(state); }
void app_update_dose_rate(State& state) { update_dose_rate(state); }
void app_restore_peak_data(State& state) { restore_peak_data(state); }

}  // namespace kestrim
