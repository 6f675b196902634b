#include "app/analysis.h"
#include "platform/c_locale.h"

#include <cstdio>
#include <string>
#include <vector>

#include "app/analysis_steps.h"
#include "app/open_spectrum.h"
#include "app/peak_data_file.h"
#include "app/state.h"
#include "reports/capabilities.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "spectrum/formats.h"
#include "spectrum/native_file.h"
#include "app/spectrum_file.h"

namespace kestrim {

namespace {
constexpr const char* kBatchList = "batchspc.$$$";

// An activity needs an efficiency: a curve or measured points. Without them
// the analysis runs with an efficiency of 1.0 and its results are count
// rates per emission (the results carry the unit, the parameters keep
// theirs); without an energy calibration nothing is identified at all. An
// unattended run says which once on the command line; the main report says
// it too.
void tell_missing_calibration(State& state) {
  if (!state.app.batch_mode) return;
  if (!state.results.energy_calibrated)
    state.ui->message_box(kUncalibratedEnergyNotice, "Warning", kMsgWarning);
  else if (!state.results.efficiency_calibrated)
    state.ui->message_box(kUncalibratedEfficiencyNotice, "Warning", kMsgWarning);
}
}  // namespace

int analyse_current_spectrum(State& state) {
  AppState& app = state.app;
  AnalysisParameters& p = state.params;
  app.abort_requested = false;
  app.analysis_in_progress = true;

  if (p.auto_save_analyse_print != 0 && app.spectrum_type > 1) {
    if (!save_spectrum(state, false, p.background_cps_subtraction != 0, true)) {
      app.analysis_in_progress = false;
      return 0;
    }
  }

  if (p.reference_fitting != 0) {
    if (!step_reference_fit(state)) {
      app.analysis_in_progress = false;
      return 0;
    }
  } else {
    if (p.background_stripping != 0) {
      app.second_spectrum_mode = true;
      app.normalise_second = true;
      const int opened = step_open_background_spectrum(state);
      app.second_spectrum_mode = false;
      app.normalise_second = false;
      if (!opened) {
        app.analysis_in_progress = false;
        return 0;
      }
    }
    int searched = step_peak_search(state);
    if (app.abort_requested || state.ui->abort_requested()) {
      app.analysis_in_progress = false;
      return searched;
    }
    if (!searched) {
      app.analysis_in_progress = false;
      return 0;
    }
    int fitted = step_fit_all_regions(state);
    if (app.abort_requested || state.ui->abort_requested() || !fitted) {
      app.analysis_in_progress = false;
      return 0;
    }
    const int quantified = step_quantitative_analysis(state);
    // Interactive analyses keep their peaks (with the lines the analysis
    // fitted) for the next open of the file.
    if (!app.batch_mode) write_peak_data(state);
    tell_missing_calibration(state);
    if (!quantified) {
      app.analysis_in_progress = false;
      return 0;
    }
  }

  // A report that was asked for and not printed fails the run.
  bool printed = true;
  if (p.auto_save_analyse_print != 0 || (app.batch_analysis && app.print_main_report))
    printed = step_print_report(state, "Main Report.txt") && printed;
  if (app.print_peak_report) printed = step_print_report(state, "Peak Fit Report.txt") && printed;
  if (app.print_activity_report)
    printed = step_print_report(state, "Activity Report.txt") && printed;

  app.analysis_in_progress = false;
  state.ui->set_status(app.status_text);
  return printed ? 1 : 0;
}

void close_activity_database(State& state) {
  if (state.services.activity_database != nullptr) state.services.activity_database->close();
}

int run_command_line_batch(State& state, bool save_requested, bool update_without_asking) {
  AppState& app = state.app;
  int result = 1;
  if (app.request_autocal) result = step_auto_recalibration(state);
  if (app.request_enecal) result = step_energy_calibration(state);
  if (app.request_shape && result == 1) result = step_shape_calibration(state);
  if (app.request_effcal && result == 1) result = step_efficiency_calibration(state);
  if (result == 1 && save_requested)
    result = save_spectrum(state, false, false, update_without_asking);
  if (app.batch_analysis) {
    state.params.prompt_add_peaks = 0;
    state.params.prompt_remove_peaks = 0;
    state.params.auto_save_analyse_print = 0;
    // A failed analysis fails the run.
    if (!analyse_current_spectrum(state)) result = 0;
    close_activity_database(state);
  }
  return result;
}

int run_batch(State& state) {
  AppState& app = state.app;
  AnalysisParameters& p = state.params;
  const int kept_add = p.prompt_add_peaks;
  const int kept_remove = p.prompt_remove_peaks;
  const int kept_auto = p.auto_save_analyse_print;
  p.prompt_add_peaks = 0;
  p.prompt_remove_peaks = 0;
  p.auto_save_analyse_print = 0;

  const std::string list_path = join_path(state.paths.working_dir, kBatchList);
  std::vector<std::uint8_t> bytes;
  int analysed = 0;
  if (read_file(list_path, bytes)) {
    remove_file(list_path);  // the list is used once
    std::string text(bytes.begin(), bytes.end());
    std::size_t pos = 0;
    while (pos < text.size()) {
      std::size_t end = text.find('\n', pos);
      if (end == std::string::npos) end = text.size();
      std::string name = text.substr(pos, end - pos);
      pos = end + 1;
      while (!name.empty() && (name.back() == '\r' || name.back() == ' ')) name.pop_back();
      if (name.empty()) continue;
      app.current_file = name;
      if (open_spectrum(state, true)) {
        char title[400];
        c_snprintf(title, sizeof title, "Analysing Spectral data file:- %s ", name.c_str());
        app.window_title = title;
        if (analyse_current_spectrum(state)) ++analysed;
      }
      if (app.abort_requested || state.ui->abort_requested()) break;
    }
  }
  close_activity_database(state);
  p.prompt_add_peaks = kept_add;
  p.prompt_remove_peaks = kept_remove;
  p.auto_save_analyse_print = kept_auto;
  app.batch_analysis = false;
  return analysed;
}

int list_directory_for_batch(State& state, const std::string& directory) {
  Platform& ui = *state.ui;
  ui.set_status("Finding Spectral data files");
  const int type = state.app.spectrum_type;
  const SpectrumFormat* format = spectrum_format(type);
  std::string listing;
  int listed = 0;
  if (format && format->pattern) {
    for (const std::string& name : list_directory(directory)) {
      if (!wildcard_match(format->pattern, name)) continue;
      const std::string path = join_path(directory, name);
      if (file_size(path) <= 1024) continue;
      std::vector<std::uint8_t> bytes;
      if (!read_file(path, bytes)) continue;
      int channels = 0;
      if (type == 0)
        channels = probe_native(bytes);
      else if (format->probe)
        channels = format->probe(bytes);
      if (channels > 0) {
        listing += name + "\r\n";
        ++listed;
      }
    }
  }
  std::string error;
  const std::string list_path = join_path(state.paths.working_dir, kBatchList);
  if (!write_text_atomic(list_path, listing, &error, state.paths.write_faults)) {
    state.ui->message_box("Error Creating:- " + list_path + " (" + error + ")", {}, kMsgError);
    return 0;
  }
  return listed;
}

}  // namespace kestrim
