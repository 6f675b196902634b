// The state of one Kestrim session.
//
// The program is single-document: it holds one spectrum with its
// calibration, one set of analysis parameters, one peak list, one set of
// results, one background, one reference set and one acquisition state.
// They live together in State, created fresh for each run (and for each
// test) and passed to the operations that need them. Nothing else is
// mutable and shared.
#pragma once

#include <string>

#include "acquisition/acquisition_state.h"
#include "platform/paths.h"
#include "spectrum/background_record.h"
#include "settings/library.h"
#include "nuclides/results.h"
#include "peaks/driver_state.h"
#include "peaks/peak_list.h"
#include "reference/reference_set.h"
#include "settings/parameters.h"
#include "settings/session.h"
#include "calibration/calibration_session.h"
#include "nuclides/nuclide_session.h"
#include "reports/report_session.h"
#include "peaks/peak_session.h"
#include "app/services.h"
#include "spectrum/spectrum_record.h"

namespace kestrim {

class Platform;
struct State;


// Flags and names of the application shell; the flags the analysis layers
// share come from SessionFlags.
struct AppState : SessionFlags {
  AppState() { version = KESTRIM_VERSION; }

  // The spectrum folders of this session, whole (the parameters' fields
  // hold 223 characters); empty until a folder is chosen.
  std::string own_format_dir;
  std::string other_format_dir;

  bool print_main_report = false;
  bool print_peak_report = false;
  bool print_activity_report = false;
  bool analysis_in_progress = false;
  bool sum_mode = false;
  bool second_spectrum_mode = false;
  bool normalise_second = false;
  bool spectrum_loaded = false;
  bool background_block_present = false;

  // Command-line calibration requests.
  bool request_autocal = false;
  bool request_enecal = false;
  bool request_shape = false;
  bool request_effcal = false;

  // The serial MCA's device when the user named one (else the device of
  // the parameters' port number).
  std::string serial_device;

  // Status text shown when nothing else is.
  std::string status_text = "Ready";
};

// How the application answers what loading Defaults and detector files asks
// of the higher layers, and fills in report headers and sections that the
// analysis layers write (state_hooks.cpp).
class StateHooks final : public SessionHooks, public ReportHeaders, public UnidentifiedPeaksSection {
 public:
  explicit StateHooks(State& state) : state_(state) {}
  void set_window_title() override;
  std::string loaded_analysis_library() override;
  int load_analysis_library() override;
  int load_reference_spectrum(const std::string& path) override;
  void clear_reference_spectra() override;
  void set_reference_fit_check() override;
  int test_odbc_database() override;
  int load_background() override;
  int save_parameters() override;
  bool header(const std::string& template_name, std::string& text) override;
  void append_unidentified_peaks(ReportText& activity) override;
  void refresh_calibration_display() override;
  void use_full_screen_window() override;

 private:
  State& state_;
};

struct State {
  explicit State(Platform& ui) : ui(&ui) {}
  State(const State&) = delete;
  State& operator=(const State&) = delete;

  Platform* ui;
  Paths paths;
  AppState app;
  SpectrumRecord spectrum;
  SecondSpectrum second;
  AnalysisParameters params = make_initial_parameters();
  Passwords passwords;
  PeakList peaks;
  DriverState fitting;  // region fitting driver and peak fit report
  NuclideResults results;
  NuclideLibrary library;  // the loaded library (editor, listing, imports)
  std::string library_error;  // why the last library load failed
  BackgroundRecord background;
  ReferenceSet references;
  AcquisitionState acquisition;
  Services services;  // optional capabilities the front end supplies
  StateHooks hooks{*this};

  // The records each lower layer works on, taken from this session.
  operator SettingsSession() { return {ui, paths, params, passwords, spectrum, app, hooks}; }
  operator PeakSession() {
    return {ui, paths, params, spectrum, peaks, fitting, app, background, library, hooks};
  }
  operator CalibrationSession() {
    return {ui,      paths,         params,     passwords,   spectrum, peaks, fitting, results,
            library, library_error, background, acquisition, app,      hooks, hooks,   hooks};
  }
  operator ReportSession() {
    return {ui,      paths,         params,     spectrum, peaks, fitting, results,
            library, library_error, background, app,      hooks, hooks,   hooks,
            services.activity_database};
  }
  operator NuclideSession() {
    return {ui,      paths,         params,     spectrum, peaks, fitting, results,
            library, library_error, background, app,      hooks, hooks,   hooks};
  }
};

}  // namespace kestrim
