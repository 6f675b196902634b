// Calls from the application shell into the Defaults-file operations.
#pragma once

#include <string>

namespace kestrim {

struct State;

enum class DefaultsMode { kStartup, kSwitching };

// Saves the parameters (file 0 and the current detector's file); 1 or 0.
int app_save_parameters(State& state);
// Loads Defaults file `number` of the current application; 1 or 0.
int app_load_defaults(State& state, int number, DefaultsMode mode);

}  // namespace kestrim

namespace kestrim {

// Reads the calibration of detector file `detector` for `geometry` into the
// spectrum's calibration record; 1 or 0.
int app_read_detector_calibration(State& state, int detector, int geometry);
// Loads the background file named for the spectrum (peak-CPS subtraction).
int app_load_background(State& state, const std::string& name);
// Loads the analysis library named in the parameters.
int app_load_analysis_library(State& state);
// Computes the dose-rate line of the opened spectrum.
void app_update_dose_rate(State& state);
// Restores "Peak data.bin" for the opened spectrum when it names it.
void app_restore_peak_data(State& state);

}  // namespace kestrim
