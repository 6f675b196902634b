// How the session answers what the Defaults and detector-file operations
// ask of the higher layers, and the message of a missing capability.
#include <string>

#include "app/services.h"
#include "app/state.h"
#include "nuclides/background_file.h"
#include "nuclides/library_load.h"
#include "platform/platform.h"
#include "reference/reference_fitting.h"
#include "reports/capabilities.h"
#include "reports/main_report.h"
#include "reports/template_engine.h"
#include "reports/template_reports.h"
#include "settings/defaults_file.h"

namespace kestrim {

int capability_missing(Platform& ui, const std::string& what) {
  ui.message_box(what + " is not available in this build", {}, kMsgWarning);
  return 0;
}

void StateHooks::set_window_title() {
  const std::string name = to_string(state_.params.application_name);
  state_.ui->set_window_title(name.empty() ? "Kestrim" : "Kestrim - " + name);
}

std::string StateHooks::loaded_analysis_library() { return state_.library.title; }

// A Defaults file naming a library that is not there loads quietly; the
// analysis reports the missing library when it needs it.
int StateHooks::load_analysis_library() { return load_analysis_library_named(state_, true); }

int StateHooks::load_reference_spectrum(const std::string& path) {
  if (state_.services.reference_fitting == nullptr)
    return capability_missing(*state_.ui, "Reference spectrum fitting");
  return state_.services.reference_fitting->load_reference_spectrum(path, state_.references,
                                                                    *state_.ui);
}

void StateHooks::clear_reference_spectra() { state_.references = ReferenceSet{}; }

void StateHooks::set_reference_fit_check() {
  state_.ui->set_command_checked("Reference Fitting", state_.params.reference_fitting != 0);
}

int StateHooks::test_odbc_database() {
  if (state_.services.activity_database == nullptr)
    return capability_missing(*state_.ui, "The ODBC activity database");
  return state_.services.activity_database->test(state_);
}

int StateHooks::load_background() { return kestrim::load_background(state_); }

int StateHooks::save_parameters() { return kestrim::save_parameters(state_); }

bool StateHooks::header(const std::string& template_name, std::string& text) {
  std::string tpl;
  if (!read_template(state_, template_name, tpl)) return false;
  text = substitute_template(TokenContext(state_), tpl, template_name, state_.ui);
  return true;
}

void StateHooks::append_unidentified_peaks(ReportText& activity) {
  kestrim::append_unidentified_peaks(state_, activity);
}

void StateHooks::refresh_calibration_display() { state_.ui->calibration_changed(); }

void StateHooks::use_full_screen_window() { state_.ui->use_full_screen(); }

}  // namespace kestrim
