#include "settings/defaults_hooks.h"

#include "app/state.h"
#include "nuclides/library_load.h"
#include "settings/detector_file.h"

namespace kestrim::defaults_hooks {

void set_window_title(State&) {}

std::string loaded_analysis_library(const State& state) { return state.library.title; }

// A Defaults file naming a library that is not there loads quietly; the
// analysis reports the missing library when it needs it.
int load_analysis_library(State& state) { return load_analysis_library_named(state, true); }

int load_reference_spectrum(State&, const std::string&) { return 1; }

void set_reference_fit_check(State&) {}

int test_odbc_database(State&) { return 1; }

int read_detector_calibration(State& state, int detector, int geometry) {
  return kestrim::read_detector_calibration(state, detector, geometry, true);
}

void refresh_calibration_display(State&) {}

void use_full_screen_window(State&) {}

}  // namespace kestrim::defaults_hooks
