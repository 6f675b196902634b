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
#include "nuclides/background_record.h"
#include "nuclides/library.h"
#include "nuclides/results.h"
#include "peaks/driver_state.h"
#include "peaks/peak_list.h"
#include "reference/reference_set.h"
#include "settings/parameters.h"
#include "spectrum/spectrum_record.h"

namespace kestrim {

class Platform;

inline constexpr const char* kVersionText = "3.71 11th April 2016";

// Where things live. Paths end without a trailing '/'.
struct Paths {
  std::string program_dir;  // shipped Libraries/, DefaultFiles/, Templates/ (read only)
  std::string user_dir;     // the user's Defaults files and libraries (read-write)
  std::string working_dir;  // reports, lists, temporary files
};

// Flags and names of the application shell.
struct AppState {
  std::string version = kVersionText;
  std::string current_file;  // bare name of the spectrum in memory (<= 64 chars)
  int spectrum_type = 0;     // 0 native, 1-15 foreign, 16 acquired

  bool batch_mode = false;
  bool batch_analysis = false;
  bool print_main_report = false;
  bool print_peak_report = false;
  bool print_activity_report = false;
  bool abort_requested = false;
  bool analysis_in_progress = false;
  bool sum_mode = false;
  bool second_spectrum_mode = false;
  bool normalise_second = false;
  bool spectrum_changed = false;
  bool spectrum_loaded = false;
  bool display_on = false;
  bool background_block_present = false;
  bool high_dead_time = false;
  bool privileged = false;
  bool calibration_modified = false;
  // Efficiencies come from the efficiency points (set by the rule of the
  // calibration functions whenever points are loaded).
  bool use_efficiency_points = false;
  // What the calibration procedures changed since the detector file was
  // last written: the energy calibration, the peak shape, and an
  // efficiency calibration waiting to be stored for the geometry.
  bool energy_calibration_changed = false;
  bool shape_calibration_changed = false;
  bool efficiency_update_pending = false;
  // A detector calibration was read; the display redraws its scales.
  bool calibration_loaded = false;
  bool display_refresh = false;

  // Command-line calibration requests.
  bool request_autocal = false;
  bool request_enecal = false;
  bool request_shape = false;
  bool request_effcal = false;
  std::string efficiency_source;

  // Working copies taken from the parameters when a spectrum is opened.
  float working_max_width_change = 0;
  bool working_residual_search = false;
  bool working_background_from_file = false;

  // The activity database named by dbase= (path without extension); the
  // parameters keep it too when it fits their field.
  std::string database_path;
  // Background file name in use (peak-CPS subtraction or stripping).
  std::string background_name;
  // Dose-rate line of the opened spectrum ("" when not computed).
  std::string dose_rate_line;
  // Title shown by the desktop window.
  std::string window_title;
  // Status text shown when nothing else is.
  std::string status_text = "Ready";
};

struct State {
  explicit State(Platform& ui) : ui(&ui) {}

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
};

}  // namespace kestrim
