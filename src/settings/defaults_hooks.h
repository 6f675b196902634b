// The calls that loading a Defaults file makes into other subsystems.
//
// Loading the analysis parameters also sets the window title, reloads the
// analysis library, reads the detector calibration, loads reference spectra
// and tests the ODBC database. Those subsystems are reached only through the
// functions below, so that the Defaults code does not depend on them; each
// one does nothing until its subsystem is wired in here.
#pragma once

#include <string>

namespace kestrim {

struct State;

namespace defaults_hooks {

// Sets the main window title from the application name and variant.
void set_window_title(State& state);

// Name of the analysis library currently held in memory ("" when none).
std::string loaded_analysis_library(const State& state);

// Loads the analysis library named in the parameters. 1 success, 0 failure
// already reported.
int load_analysis_library(State& state);

// Loads one reference spectrum file (full path of the ".rsd"). 1 success,
// 0 failure already reported.
int load_reference_spectrum(State& state, const std::string& path);

// Sets the check mark of the reference-fitting command from the parameters.
void set_reference_fit_check(State& state);

// Closes any open ODBC connection, opens and tests the activity database,
// closes it again. 1 success, 0 failure already reported.
int test_odbc_database(State& state);

// Reads the detector calibration of `detector` for `geometry` into the
// spectrum's calibration record. 1 success, 0 failure already reported.
int read_detector_calibration(State& state, int detector, int geometry);

// Redraws whatever shows the calibration (status line, plot axes).
void refresh_calibration_display(State& state);

// The stored main window placement is too small to use (width below 500):
// the desktop window opens full screen instead.
void use_full_screen_window(State& state);

}  // namespace defaults_hooks
}  // namespace kestrim
