// What the layers below the application see of a session.
//
// The application's State composes every record of a session. The layers
// below it never see State: each operation takes the records it reads and
// changes. The operations that load and save Defaults and detector files
// read and change several records at once; SettingsSession names exactly
// those, and SessionFlags holds the few session flags that the analysis
// layers share with the application shell.
#pragma once

#include <string>

namespace kestrim {

class Platform;
struct Paths;
struct AnalysisParameters;
struct Passwords;
struct SpectrumRecord;

// Flags and names of the session that the analysis layers read or set.
struct SessionFlags {
  std::string current_file;  // bare name of the spectrum in memory (<= 64 chars)
  int spectrum_type = 0;     // 0 native, 1-15 foreign, 16 acquired
  // Channels of the spectrum as read, before the cut to the channels the
  // analysis uses; a save writes them all back.
  int channels_in_file = 0;
  // The file the spectrum in memory was read from ("" when acquired).
  std::string spectrum_path;

  bool batch_mode = false;
  bool batch_analysis = false;  // analysing a list of spectra
  bool abort_requested = false;
  bool spectrum_changed = false;
  bool display_on = false;
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

  // Source named for an efficiency calibration (/src=).
  std::string efficiency_source;

  // Working copies taken from the parameters when a spectrum is opened.
  float working_max_width_change = 0;
  bool working_residual_search = false;
  bool working_background_from_file = false;
  // The FWHM of the spectrum in memory relative to NaI's, measured because
  // it came without a width calibration; 0 when it was not measured.
  float measured_resolution_ratio = 0;

  // Title shown by the desktop window.
  std::string window_title;

  // Program version printed in reports (the application sets the
  // project's version, the one `--version` prints).
  std::string version;
  // The activity database named by dbase= (path without extension); the
  // parameters keep it too when it fits their field.
  std::string database_path;
  // Dose-rate line of the opened spectrum ("" when not computed).
  std::string dose_rate_line;

  // Background file name in use (peak-CPS subtraction or stripping).
  std::string background_name;
};

// What loading Defaults and detector files asks of the rest of the program:
// the library, reference spectra, the activity database, background files
// and the display live in higher layers or in optional capabilities, and the
// application answers for them.
class SessionHooks {
 public:
  virtual ~SessionHooks() = default;
  // Sets the main window title from the application name and variant.
  virtual void set_window_title() = 0;
  // Name of the analysis library currently held in memory ("" when none).
  virtual std::string loaded_analysis_library() = 0;
  // Loads the analysis library named in the parameters; 1 or 0 (reported).
  virtual int load_analysis_library() = 0;
  // Loads one reference spectrum file (full path of the ".rsd"); 1 or 0.
  virtual int load_reference_spectrum(const std::string& path) = 0;
  // Empties the reference set before a Defaults file names its own.
  virtual void clear_reference_spectra() {}
  // Sets the check mark of the reference-fitting command from the parameters.
  virtual void set_reference_fit_check() = 0;
  // Opens and tests the activity database, closes it again; 1 or 0.
  virtual int test_odbc_database() = 0;
  // Loads the background file named by SessionFlags::background_name for
  // background subtraction by peak CPS; 1 when loaded, 0 when not (reported).
  virtual int load_background() = 0;
  // Saves the analysis parameters in force (start-up file and the current
  // Defaults file); 1 or 0.
  virtual int save_parameters() = 0;
  // Redraws whatever shows the calibration (status line, plot axes).
  virtual void refresh_calibration_display() = 0;
  // The stored main window placement is too small to use: open full screen.
  virtual void use_full_screen_window() = 0;
};

// The records that the Defaults-file and detector-file operations read and
// change.
struct SettingsSession {
  Platform* ui;
  const Paths& paths;
  AnalysisParameters& params;
  Passwords& passwords;
  SpectrumRecord& spectrum;
  SessionFlags& flags;
  SessionHooks& hooks;
};

}  // namespace kestrim
