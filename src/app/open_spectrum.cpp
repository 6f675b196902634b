#include "app/open_spectrum.h"
#include "platform/c_locale.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/settings_bridge.h"
#include "app/state.h"
#include "platform/binio.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "spectrum/formats.h"
#include "settings/calibration_functions.h"
#include "spectrum/readers/readers.h"
#include "app/spectrum_file.h"

namespace kestrim {

namespace {

// Fewer channels than this cannot hold a peak with its continuum.
constexpr int kMinAnalysedChannels = 16;

std::string defaults_file_name(const State& state, int number) {
  char ext[16];
  c_snprintf(ext, sizeof ext, ".%03d", number);
  return to_string(state.params.application_name) + ext;
}

bool defaults_file_exists(const State& state, int number) {
  const std::string name = defaults_file_name(state, number);
  for (const std::string& root : {state.paths.user_dir, state.paths.program_dir}) {
    if (root.empty()) continue;
    if (file_exists(resolve_path(join_path(join_path(root, "DefaultFiles"), name)))) return true;
  }
  return false;
}

void terminate_text_fields(SpectrumRecord& rec) {
  rec.header.title[47] = 0;
  rec.header.user[23] = 0;
  rec.header.location[31] = 0;
  rec.header.sample_id[15] = 0;
  rec.header.sample_type[15] = 0;
  rec.calibration.background_name[11] = 0;
}

void clear_peak_results(State& state) {
  state.peaks = PeakList{};
  state.results = NuclideResults{};
}

std::string parameter_file_name(const std::string& name) {
  return name.size() >= 32 ? name.substr(0, 31) : name;
}

// The end of every open: working copies, the foreign-header completion, the
// channel limit and the dead-time check.
void finish_open(State& state) {
  Platform& ui = *state.ui;
  AppState& app = state.app;
  AnalysisParameters& p = state.params;
  SpectrumHeader& h = state.spectrum.header;

  app.working_max_width_change = p.max_width_change;
  app.working_residual_search = p.residual_peak_search != 0;
  app.measured_resolution_ratio = 0;
  app.high_dead_time = false;
  if (app.spectrum_type > 0 && h.detector_file > 0 && !app.batch_analysis) {
    const int before = p.defaults_number;
    h.detector = static_cast<std::int16_t>(p.defaults_number);
    h.sample_number = p.auto_save_number;
    if (h.geometry == 0) h.geometry = static_cast<std::int16_t>(p.default_geometry);
    // The header edit dialog belongs to the desktop program.
    if (p.defaults_number != before) app_save_parameters(state);
  }
  if (h.channels > kMaxChannels) h.channels = kMaxChannels;

  if (h.true_time == 0) {
    h.true_time = h.live_time;
    state.spectrum.counts[1] = h.true_time;
  } else {
    const int dead = dead_time_percent_truncated(h.live_time, h.true_time);
    if (p.max_dead_time > 0 && dead >= p.max_dead_time) {
      char caption[96];
      c_snprintf(caption, sizeof caption, "This Spectrum has a Dead Time of %d %%", dead);
      int answer = kAnswerYes;
      if (!app.batch_analysis)
        answer = ui.message_box("Adjust the appropriate Analysis Parameters ?", caption,
                                kMsgYesNo, kAnswerYes);
      if (answer == kAnswerYes) {
        app.working_max_width_change = 2.0f * p.max_width_change;
        app.working_residual_search = false;
        app.high_dead_time = true;
      }
    }
  }
  ui.set_status("Spectral data read");
}

// What an analysis needs of a spectrum and its calibration: channels,
// positive finite times and numbers everywhere. A file that fails is
// reported and not analysed (its results would be nonsense, or "nan").
bool analysable(State& state) {
  const SpectrumRecord& rec = state.spectrum;
  const SpectrumHeader& h = rec.header;
  const CalibrationRecord& cal = rec.calibration;
  auto refuse = [&](const std::string& why) {
    state.ui->message_box(why + ":- " + state.app.current_file, {}, kMsgError);
    return false;
  };
  if (h.channels < kMinAnalysedChannels) return refuse("The spectrum holds no channel counts to analyse");
  if (!std::isfinite(h.live_time) || h.live_time <= 0)
    return refuse("The Live Count Time of the spectrum is not a positive number");
  if (!std::isfinite(h.true_time) || h.true_time < 0)
    return refuse("The True Count Time of the spectrum is not a valid number");
  if (!std::isfinite(h.sample_size) || !std::isfinite(h.correction_factor))
    return refuse("The sample size of the spectrum is not a valid number");
  bool finite = std::isfinite(cal.energy_terms) && std::isfinite(cal.width_terms);
  for (float v : cal.energy) finite = finite && std::isfinite(v);
  for (float v : cal.width) finite = finite && std::isfinite(v);
  if (!finite) return refuse("The energy or width calibration of the spectrum is not a valid number");
  for (int ch = 2; ch < h.channels; ++ch)
    if (!std::isfinite(rec.counts[ch])) return refuse("The spectrum holds counts that are not numbers");
  return true;
}

}  // namespace

int dead_time_percent_truncated(double live, double true_time) {
  if (true_time == 0) return 0;
  return static_cast<int>((true_time - live) * 100.0 / true_time);
}

int spectrum_type_from_extension(const std::string& name) {
  const std::string ext = extension_of(name);
  if (ext.empty()) return -1;
  for (int t : kSpectrumFileTypes)
    if (iequals(ext, spectrum_format(t)->extension)) return t;
  return -1;
}

int spectrum_type_from_content(int type, const std::vector<std::uint8_t>& bytes) {
  if (type == 1 && bytes.size() >= 4) {
    const int w0 = bin::get_i16(bytes.data());
    const int w1 = bin::get_i16(bytes.data() + 2);
    if (w0 == 1 && (w1 == 1 || w1 == 5)) type = 4;
  }
  // Several formats share an extension (.dat, .spc, .spe) and files are
  // often renamed: a content that plainly belongs to another format wins.
  return readers::detect_spectrum_type(bytes, type);
}

int check_extension(State& state, const std::string& path) {
  int type = spectrum_type_from_extension(path);
  if (type < 0) {
    state.ui->message_box("Unknown Spectrum Data file Extension:- " + extension_of(path), {}, kMsgWarning);
    return 0;
  }
  std::vector<std::uint8_t> bytes;
  if (read_file(resolve_path(path), bytes, 1u << 26)) type = spectrum_type_from_content(type, bytes);
  state.app.spectrum_type = type;
  return 1;
}

int open_spectrum(State& state, bool redraw) {
  (void)redraw;  // the headless program has no plot to redraw
  Platform& ui = *state.ui;
  AppState& app = state.app;
  AnalysisParameters& p = state.params;
  SpectrumRecord& rec = state.spectrum;

  ui.set_status("Reading Spectral data file");
  const std::string path = join_path(directory_for_type(state, app.spectrum_type), app.current_file);

  int calibration_source = 0;
  for (int pass = 0; pass < 8; ++pass) {
    calibration_source = app.spectrum_type == 0 ? 0 : p.default_detector_file;
    rec.calibration = CalibrationRecord{};
    rec.efficiency.count = 0;
    app.background_block_present = false;
    state.peaks = PeakList{};

    if (app.spectrum_type == kSpectrumTypeAcquired) {
      app.channels_in_file = 0;
      app.spectrum_path.clear();
      if (p.auto_save_number > 0) {
        char buf[32];
        c_snprintf(buf, sizeof buf, "SP%04d.dat", p.auto_save_number);
        app.current_file = buf;
      } else {
        app.current_file = "From_MCA.";
      }
    } else {
      rec.header = SpectrumHeader{};
      rec.header.detector_file = static_cast<std::int16_t>(calibration_source);
      rec.header.correction_factor = 1.0f;
      rec.detector_description.clear();
      if (!read_spectrum_file(state, path)) {
        app.spectrum_loaded = false;
        return 0;
      }
      rec.header.detector_file = static_cast<std::int16_t>(calibration_source);
    }

    clear_peak_results(state);
    if (app.spectrum_type == kSpectrumTypeAcquired) {
      rec.header.detector = static_cast<std::int16_t>(p.defaults_number);
      rec.header.mca = static_cast<std::int16_t>(p.mca_number);
      rec.header.adc = p.adc_number;
    }
    if (rec.header.live_time == 0)
      ui.message_box("Set the Live Time using the Spectrum Edit command",
                     "Warning, the Live Count Time was zero", kMsgWarning);
    terminate_text_fields(rec);

    if (rec.header.detector == 0) rec.header.detector = static_cast<std::int16_t>(p.defaults_number);
    const int detector = rec.header.detector;
    if (detector == p.defaults_number || detector >= 1000 || app.batch_analysis) break;

    bool do_switch = false;
    if (p.defaults_from_detector != 0) {
      do_switch = true;
    } else if (rec.header.detector_file > 0 && app.spectrum_type > 1) {
      rec.header.detector = static_cast<std::int16_t>(p.defaults_number);
      break;
    } else if (defaults_file_exists(state, detector)) {
      std::string caption = "This Spectrum is from Detector " + std::to_string(detector);
      std::string text = "Open Default Parameter file number " + std::to_string(detector);
      do_switch = ui.message_box(text, caption, kMsgYesNo, kAnswerYes) == kAnswerYes;
    }
    if (!do_switch) break;
    const int type = app.spectrum_type;
    if (!app_load_defaults(state, detector, DefaultsMode::kSwitching)) break;
    if (type == 0) break;
    app.spectrum_type = type;
    rec.header.detector_file = static_cast<std::int16_t>(p.default_detector_file);
    const bool before_from_detector = calibration_source > 0;
    const bool now_from_detector = p.default_detector_file > 0;
    if (before_from_detector == now_from_detector) break;
    // The calibration source changed between file and detector: read again.
  }

  assign(p.current_spectrum, parameter_file_name(app.current_file));

  // Calibration source.
  if (rec.header.detector_file > 0) {
    app_read_detector_calibration(state, rec.header.detector_file, p.default_geometry);
  } else {
    if (p.background_cps_subtraction != 0 &&
        (!app.background_block_present || app.spectrum_type != 0)) {
      std::string kept = app.background_name;
      std::string name = to_string(rec.calibration.background_name);
      if (name.empty()) name = to_string(p.background_file);
      app.background_name = name;
      if (!name.empty() && !app_load_background(state, name)) {
        // The failed load left no background peaks: subtraction is off
        // rather than reported as done.
        app.background_name = kept;
        p.background_cps_subtraction = 0;
      }
    }
    if (rec.calibration.low_eff_terms == 0) rec.calibration.crossover = 0;
    // Efficiency points read with the spectrum are used as those of a
    // detector file would be.
    app.use_efficiency_points =
        use_efficiency_points_rule(rec.calibration, rec.efficiency, p.interpolated_efficiency != 0);
  }
  if (p.background_stripping != 0) {
    app.background_name = to_string(p.background_file);
    std::string cal_name = to_string(rec.calibration.background_name);
    if (!cal_name.empty() &&
        file_exists(resolve_path(join_path(own_format_directory(state), cal_name))))
      app.background_name = cal_name;
  }

  app_save_parameters(state);
  app.abort_requested = false;
  app.spectrum_loaded = true;

  if (p.dose_detector_weight != 0) app_update_dose_rate(state);
  if (!app.batch_mode) app_restore_peak_data(state);
  if (!app.sum_mode) finish_open(state);
  if (app.batch_analysis && !app.sum_mode && !analysable(state)) {
    app.spectrum_loaded = false;
    return 0;
  }
  return 1;
}

int merge_spectra(State& state, const std::vector<std::string>& paths, const std::vector<int>* types) {
  if (paths.empty()) return 0;
  AppState& app = state.app;
  const std::string dir = directory_for_type(state, app.spectrum_type);
  auto full = [&](const std::string& p) { return p.find('/') == std::string::npos ? join_path(dir, p) : p; };

  // The first file is opened as any other.
  const std::string first = full(paths.front());
  app.current_file = base_name(first);
  std::string first_dir = dir_name(first);
  if (!first_dir.empty()) {
    set_spectrum_directory(state, app.spectrum_type, first_dir);
  }
  app.sum_mode = false;
  if (!open_spectrum(state, true)) return 0;
  const int first_type = app.spectrum_type;
  for (std::size_t i = 1; i < paths.size(); ++i) {
    app.sum_mode = true;
    app.current_file = base_name(paths[i]);
    if (types && i < types->size()) app.spectrum_type = (*types)[i];
    int ok = read_spectrum_file(state, full(paths[i]));
    app.sum_mode = false;
    app.spectrum_type = first_type;
    if (!ok) return 0;
  }
  app.current_file = "Sum_Spec.dat";
  assign(state.params.current_spectrum, app.current_file);
  finish_open(state);
  return 1;
}

int choose_and_open_spectra(State& state, bool sum_mode) {
  Platform& ui = *state.ui;
  AppState& app = state.app;
  if (!offer_to_save_changes(state)) return 0;

  FileDialog d;
  for (int t = 0; t < kSpectrumTypeCount; ++t) {
    const SpectrumFormat* f = spectrum_format(t);
    std::string pattern = std::string("*.") + f->extension;
    char name[128];
    c_snprintf(name, sizeof name, "%s Files (%s)", f->name, pattern.c_str());
    d.filters.push_back({name, pattern});
  }
  d.filter_index = std::clamp(app.spectrum_type, 0, kSpectrumTypeCount - 1);
  std::string initial = app.current_file;
  if (app.spectrum_type == 6 && state.params.ignore_header_data != 0) {
    initial = "UNTITLE*.";
  } else if (!initial.empty()) {
    auto dot = initial.find_last_of('.');
    if (dot != std::string::npos) initial = initial.substr(0, dot);
    initial += std::string(".") + spectrum_format(d.filter_index)->extension;
  }
  d.initial_name = initial;
  d.initial_directory = directory_for_type(state, d.filter_index);
  d.title = sum_mode ? "Merge Spectral data files" : "Open Spectrum Data File";
  d.multiple = sum_mode;
  d.offer_analyse = !sum_mode;
  if (!ui.open_file_dialog(d)) return 0;

  app.spectrum_type = std::clamp(d.filter_index, 0, kSpectrumTypeCount - 1);
  std::string dir = d.directory.empty() && !d.paths.empty() ? dir_name(d.paths.front()) : d.directory;
  set_spectrum_directory(state, app.spectrum_type, dir);

  if (sum_mode) return merge_spectra(state, d.paths);
  if (d.analyse) {
    char text[400];
    c_snprintf(text, sizeof text, "Analyse all the Spectra in the directory %s ?", dir.c_str());
    if (ui.message_box(text, " ", kMsgYesNo, kAnswerYes) != kAnswerYes) return 0;
    const AnalysisParameters& p = state.params;
    if (p.update_database == 0 && p.numbered_reports == 0 && p.named_reports == 0) {
      if (ui.message_box("Do you want to Continue ?", "Analysis Results are not being saved",
                         kMsgYesNo, kAnswerYes) != kAnswerYes)
        return 0;
    }
    app.batch_analysis = true;
    return 1;  // the caller lists the directory and runs the batch
  }
  if (!d.paths.empty()) app.current_file = base_name(d.paths.front());
  return 1;
}

}  // namespace kestrim
