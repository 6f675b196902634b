// The acquisition as the application drives it: the MCA at start-up (and
// the interrupted run kept in "tempdata.$$$"), the commands that start,
// continue and stop a collection, the one-second timer, the close request,
// and the automatic analysis of each auto-cycle spectrum.
//
// The MCA itself is the front end's capability (`Services::devices`); a
// front end without one is told "Acquisition is not available in this
// build".
#pragma once

#include <string>

#include "acquisition/acquisition_run.h"

namespace kestrim {

struct State;

// The application's answers to the run logic: when the activity database
// is updated, each auto-cycle spectrum is opened and analysed by the full
// analysis sequence with the prompts off; the parameters are saved to the
// user's Defaults file and reloaded.
class AppAcquisitionHooks : public AcquisitionHooks {
 public:
  explicit AppAcquisitionHooks(State& state) : state_(state) {}
  int analyse_cycle_spectrum(const std::string& path) override;
  // Opens the spectrum saved at `path` and runs the full analysis sequence.
  int analyse_saved_spectrum(const std::string& path);
  int save_parameters() override;
  int reload_parameters() override;

 protected:
  State& state_;
};

// The run logic's view of the session, with the front end's MCA unit.
AcquisitionSession acquisition_session(State& state, AcquisitionHooks& hooks);

// The device of the serial MCA: the path the user named
// (AppState::serial_device), else the one of the parameters' port number.
std::string serial_mca_device(const State& state);

// Initialises the MCA of the parameters' type: "No MCA type is selected"
// without one. 1 on success.
int initialise_mca(State& state);

// What start-up does for acquisition: when an MCA type is set and the
// start-up MCA switch is on, initialise the MCA and take over an
// interrupted run from "tempdata.$$$" (counts, times, start stamp, and the
// calibration of the parameters' detector and geometry). Returns 1 when a
// run was taken over.
int start_up_acquisition(State& state, AcquisitionHooks& hooks);
// Only the take-over of "tempdata.$$$" (1 when a run was taken over).
int recover_interrupted_acquisition(State& state, AcquisitionHooks& hooks);

// The commands: start a new acquisition (after the spectrum's changes are
// settled), continue it, stop it. Each does nothing without an MCA type.
int command_start_acquisition(State& state, AcquisitionHooks& hooks);
int command_continue_acquisition(State& state, AcquisitionHooks& hooks);
int command_stop_acquisition(State& state, AcquisitionHooks& hooks);

// The one-second timer of the main window (the serial MCA's poll).
int acquisition_timer_tick(State& state, AcquisitionHooks& hooks);

// The close request: while collecting (and no controller is registered)
// asks "Do you want to stop the MCA Collecting data?"; anything but Yes
// keeps the program running (0). Yes stops and saves the run (1).
int acquisition_close_request(State& state, AcquisitionHooks& hooks, bool controller_registered);

}  // namespace kestrim
