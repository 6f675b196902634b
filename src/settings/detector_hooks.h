// Operations of other subsystems that reading and writing detector files
// hand over to. Until those subsystems provide them they do nothing and
// report success, so that a detector calibration can be read and written on
// its own.
#pragma once

namespace kestrim {

struct State;

// Loads the background file named by state.app.background_name for
// background subtraction by peak CPS. Returns 1 when loaded, 0 when not
// (a message already shown).
int load_background_for_calibration(State& state);

// Saves the analysis parameters in force (the current Defaults file) after
// the calibration was written to the detector file. Returns 1 or 0.
int save_parameters_for_calibration(State& state);

}  // namespace kestrim
