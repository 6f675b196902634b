#include "app/acquisition_control.h"

#include "acquisition/mca_device.h"
#include "acquisition/serial_mca.h"
#include "app/analysis.h"
#include "app/open_spectrum.h"
#include "app/settings_bridge.h"
#include "app/spectrum_file.h"
#include "app/state.h"
#include "platform/files.h"
#include "platform/platform.h"

namespace kestrim {

int AppAcquisitionHooks::analyse_cycle_spectrum(const std::string& path) {
  // The automatic analysis is configured by updating the activity database.
  if (state_.params.update_database == 0) return 1;
  return analyse_saved_spectrum(path);
}

int AppAcquisitionHooks::analyse_saved_spectrum(const std::string& path) {
  State& state = state_;
  AppState& app = state.app;
  AnalysisParameters& p = state.params;
  // The spectrum is opened from its file like any other, so that the
  // analysis sees what was saved.
  app.spectrum_type = 0;
  app.current_file = base_name(path);
  app.own_format_dir = dir_name(path);
  if (!open_spectrum(state, false)) return 0;
  p.prompt_add_peaks = 0;
  p.prompt_remove_peaks = 0;
  p.pause_after_region = 0;
  p.always_display_fitting = 0;
  return analyse_current_spectrum(state);
}

int AppAcquisitionHooks::save_parameters() { return app_save_parameters(state_); }

int AppAcquisitionHooks::reload_parameters() {
  return app_load_defaults(state_, state_.params.defaults_number, DefaultsMode::kSwitching);
}

AcquisitionSession acquisition_session(State& state, AcquisitionHooks& hooks) {
  McaUnit* unit = state.services.devices != nullptr ? state.services.devices->unit() : nullptr;
  return {state.ui,          state.paths, state.params, state.spectrum,
          state.app,         state.acquisition,         hooks,
          unit,              own_format_directory(state)};
}

std::string serial_mca_device(const State& state) {
  if (!state.app.serial_device.empty()) return state.app.serial_device;
  return serial_device_for_port(state.params.serial_port);
}

int initialise_mca(State& state) {
  const AnalysisParameters& p = state.params;
  if (p.mca_type == 0) {
    state.ui->message_box("No MCA type is selected", {}, kMsgWarning);
    return 0;
  }
  if (state.services.devices == nullptr) return capability_missing(*state.ui, "Acquisition");
  if ((p.mca_type & kMcaTypeSerial) == 0) return capability_missing(*state.ui, "The sound-card MCA");
  return state.services.devices->initialise_serial(*state.ui, serial_mca_device(state), p.mca_number);
}

int recover_interrupted_acquisition(State& state, AcquisitionHooks& hooks) {
  AcquisitionSession s = acquisition_session(state, hooks);
  if (!recover_running_copy(s)) return 0;
  const AnalysisParameters& p = state.params;
  if (p.default_detector_file > 0)
    app_read_detector_calibration(state, p.default_detector_file, p.default_geometry);
  state.app.spectrum_loaded = true;
  return 1;
}

int start_up_acquisition(State& state, AcquisitionHooks& hooks) {
  const AnalysisParameters& p = state.params;
  if (p.mca_type == 0 || p.init_mca_at_startup == 0) return 0;
  initialise_mca(state);
  return recover_interrupted_acquisition(state, hooks);
}

int command_start_acquisition(State& state, AcquisitionHooks& hooks) {
  if (state.params.mca_type == 0) return 0;
  if (!offer_to_save_changes(state)) return 0;
  AcquisitionSession s = acquisition_session(state, hooks);
  if (!confirm_cycle_file(s)) return 0;
  return start_collection(s, true);
}

int command_continue_acquisition(State& state, AcquisitionHooks& hooks) {
  if (state.params.mca_type == 0) return 0;
  AcquisitionSession s = acquisition_session(state, hooks);
  return start_collection(s, false);
}

int command_stop_acquisition(State& state, AcquisitionHooks& hooks) {
  if (state.params.mca_type == 0) return 0;
  AcquisitionSession s = acquisition_session(state, hooks);
  return stop_collection(s);
}

int acquisition_timer_tick(State& state, AcquisitionHooks& hooks) {
  AcquisitionSession s = acquisition_session(state, hooks);
  return timer_tick(s);
}

int acquisition_close_request(State& state, AcquisitionHooks& hooks, bool controller_registered) {
  if (!state.acquisition.collecting) return 1;
  if (!controller_registered) {
    const int answer = state.ui->message_box("Do you want to stop the MCA Collecting data?",
                                             "Cannot Exit while Collecting MCA data", kMsgYesNo,
                                             kAnswerNo);
    if (answer != kAnswerYes) return 0;
  }
  AcquisitionSession s = acquisition_session(state, hooks);
  return stop_collection(s) ? 1 : 0;
}

}  // namespace kestrim
