#include "app/spectrum_file.h"
#include "platform/c_locale.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>

#include "app/settings_bridge.h"
#include "app/state.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "spectrum/formats.h"
#include "spectrum/native_file.h"

namespace kestrim {

namespace {

std::string dir_or_working(const State& state, const std::string& dir) {
  return dir.empty() ? state.paths.working_dir : dir;
}

DateTime file_time(const std::string& path) {
  DateTime dt;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return dt;
  std::tm tm{};
  std::time_t t = st.st_mtime;
  localtime_r(&t, &tm);
  dt.day = static_cast<std::int16_t>(tm.tm_mday);
  dt.month = static_cast<std::int16_t>(tm.tm_mon + 1);
  dt.year = static_cast<std::int16_t>(tm.tm_year + 1900);
  dt.hour = static_cast<std::int16_t>(tm.tm_hour);
  dt.minute = static_cast<std::int16_t>(tm.tm_min);
  return dt;
}

ReaderOptions reader_options(const AnalysisParameters& p) {
  ReaderOptions o;
  o.ignore_header = p.ignore_header_data != 0;
  o.use_file_energy_calibration = p.use_file_energy_calibration != 0;
  o.text_channels_per_line = p.text_channels_per_line;
  o.text_header_lines = p.text_header_lines;
  return o;
}

// Truncation of a count to the integer kept while summing.
std::int32_t kept_integer(float v) {
  if (!(v > -2.0e9f && v < 2.0e9f)) return 0;
  return static_cast<std::int32_t>(v);
}

}  // namespace

std::string own_format_directory(const State& state) {
  if (!state.app.own_format_dir.empty()) return state.app.own_format_dir;
  return dir_or_working(state, to_string(state.params.own_format_dir));
}

std::string other_format_directory(const State& state) {
  if (!state.app.other_format_dir.empty()) return state.app.other_format_dir;
  return dir_or_working(state, to_string(state.params.other_format_dir));
}

void set_spectrum_directory(State& state, int type, const std::string& dir) {
  AnalysisParameters& p = state.params;
  auto& field = type == 0 ? p.own_format_dir : p.other_format_dir;
  (type == 0 ? state.app.own_format_dir : state.app.other_format_dir) = dir;
  if (dir.size() < field.size()) assign(field, dir);
}

std::string directory_for_type(const State& state, int type) {
  return type == 0 ? own_format_directory(state) : other_format_directory(state);
}

int read_spectrum_file(State& state, const std::string& path_in) {
  Platform& ui = *state.ui;
  const std::string path = resolve_path(path_in);
  std::vector<std::uint8_t> bytes;
  if (!read_file(path, bytes)) {
    ui.message_box("Could not open:- " + path_in, {}, kMsgWarning);
    return 0;
  }

  AppState& app = state.app;
  const bool second = app.second_spectrum_mode;
  const bool sum = app.sum_mode;

  // The reader works on a copy, so that a failed read leaves the spectrum in
  // memory as it was.
  SpectrumRecord loaded = state.spectrum;
  loaded.warnings.clear();
  // Channels a reader does not fill hold nothing, not the previous spectrum.
  std::fill(loaded.counts.begin(), loaded.counts.end(), 0.0f);
  if (!second) loaded.header.saved = file_time(path);

  int status = -1;
  std::string problem;
  bool background_present = false;
  BackgroundRecord background = state.background;
  if (app.spectrum_type == 0) {
    NativeReadOptions opt;
    opt.second_spectrum_mode = second;
    opt.read_background_block = state.params.background_cps_subtraction != 0 &&
                                state.params.background_from_spectrum_file != 0;
    NativeReadResult result;
    status = read_native(bytes, loaded, background, opt, result);
    background_present = result.background_present;
    problem = result.problem;
  } else {
    const SpectrumFormat* format = spectrum_format(app.spectrum_type);
    if (format && format->read) {
      status = format->read(bytes, loaded, reader_options(state.params), ui);
    } else {
      problem = "no reader for the " + spectrum_type_name(app.spectrum_type) + " format";
    }
  }
  if (status < 0) {
    std::string text = "Error reading " + app.current_file;
    ui.message_box(text, {}, kMsgWarning);
    ui.set_status(text);
    if (!problem.empty()) state.spectrum.warnings.push_back(problem);
    return 0;
  }
  loaded.header.channels =
      static_cast<std::int16_t>(std::clamp<int>(loaded.header.channels, 0, kMaxChannelsStored));
  const int n = loaded.header.channels;

  if (second) {
    double ratio = 1.0;
    if (app.normalise_second && loaded.header.live_time > 0)
      ratio = state.spectrum.header.live_time / static_cast<double>(loaded.header.live_time);
    for (int i = 0; i < n; ++i) {
      double v = loaded.counts[i] * ratio;
      state.second.counts[i] = (v > -2.0e9 && v < 2.0e9) ? static_cast<std::int32_t>(v) : 0;
      // The current counts become their truncated integers, as kept.
      state.spectrum.counts[i] = static_cast<float>(kept_integer(state.spectrum.counts[i]));
    }
    state.second.title = to_string(loaded.header.title).substr(0, 47);
    state.second.loaded = true;
  } else if (sum) {
    SpectrumRecord& cur = state.spectrum;
    for (int i = 0; i < n; ++i)
      loaded.counts[i] = static_cast<float>(kept_integer(cur.counts[i])) + loaded.counts[i];
    loaded.header.live_time += cur.header.live_time;
    loaded.header.true_time += cur.header.true_time;
    state.spectrum = std::move(loaded);
  } else {
    state.spectrum = std::move(loaded);
    app.channels_in_file = n;
    app.spectrum_path = path;
    if (app.spectrum_type == 0) {
      app.background_block_present = background_present;
      if (state.params.background_cps_subtraction != 0 &&
          state.params.background_from_spectrum_file != 0)
        state.background = background;
    }
  }

  SpectrumRecord& rec = state.spectrum;
  rec.counts[0] = rec.header.live_time;
  rec.counts[1] = rec.header.true_time;
  if (rec.header.sampling_uncertainty == 0)
    rec.header.sampling_uncertainty = state.params.default_sampling_uncertainty;
  if (!second) app.spectrum_changed = false;
  return 1;
}

int write_native_file(State& state, const std::string& path, bool& retry_with_dialog,
                      bool write_background_block) {
  Platform& ui = *state.ui;
  const BackgroundRecord* bkg =
      (write_background_block && state.params.background_cps_subtraction != 0)
          ? &state.background
          : nullptr;
  // A file of more channels than the analysis uses is written back whole.
  SpectrumHeader& h = state.spectrum.header;
  const std::int16_t in_use = h.channels;
  if (state.app.channels_in_file > in_use)
    h.channels = static_cast<std::int16_t>(state.app.channels_in_file);
  std::vector<std::uint8_t> bytes = encode_native(state.spectrum, now_date_time(), bkg);
  h.channels = in_use;
  const std::string dir = dir_name(path).empty() ? "." : dir_name(path);
  if (!directory_exists(dir) || ::access(dir.c_str(), W_OK) != 0) {
    char buf[600];
    c_snprintf(buf, sizeof buf, "Error Creating:- %s", path.c_str());
    ui.message_box(buf, {}, kMsgError);
    retry_with_dialog = true;
    return 0;
  }
  std::string error;
  if (!write_file_atomic(path, bytes, &error, state.paths.write_faults)) {
    ui.message_box("Error writing Spectrum file", {}, kMsgError);
    retry_with_dialog = true;
    return 0;
  }
  if (state.params.auto_save_analyse_print == 0) ui.set_status("Spectral data saved");
  return 1;
}

namespace {

std::string cut_at_first_dot(const std::string& name) {
  auto pos = name.find('.');
  return pos == std::string::npos ? name : name.substr(0, pos);
}

// The name kept in the parameters (32-byte field): names of 32 characters or
// more are cut to fit, there being no short-name form on this system.
std::string parameter_file_name(const std::string& name) {
  return name.size() >= 32 ? name.substr(0, 31) : name;
}

}  // namespace

int save_spectrum(State& state, bool show_dialog, bool write_background_block,
                  bool update_without_asking) {
  Platform& ui = *state.ui;
  AnalysisParameters& p = state.params;
  std::string name;
  if (p.auto_save_number >= 1) {
    char buf[32];
    c_snprintf(buf, sizeof buf, "Sp%04d.", p.auto_save_number);
    name = buf;
    state.app.current_file = name;
    assign(p.current_spectrum, parameter_file_name(name));
  } else {
    name = state.app.current_file;
  }
  name = cut_at_first_dot(name) + ".dat";

  bool retry = show_dialog;
  // Each pass either writes or asks again; a cancelled dialog ends the loop.
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string path;
    if (retry) {
      FileDialog d;
      d.title = "Save Spectral Data File";
      d.filters = {{"Spectrum File (*.dat)", "*.dat"}};
      d.initial_directory = own_format_directory(state);
      d.initial_name = name;
      if (!ui.save_file_dialog(d) || d.paths.empty()) return 0;
      path = d.paths.front();
      std::string dir = d.directory.empty() ? dir_name(path) : d.directory;
      set_spectrum_directory(state, 0, dir);
      std::string chosen = base_name(path);
      if (chosen.find('.') == std::string::npos) chosen += ".dat";
      path = join_path(dir, chosen);
      name = chosen;
      state.app.current_file = chosen;
      assign(p.current_spectrum, parameter_file_name(chosen));
      app_save_parameters(state);
    } else {
      path = join_path(own_format_directory(state), name);
    }
    retry = false;

    // The extension test ignores case (the file itself keeps its name).
    if (to_lower(path).find(".dat") == std::string::npos) {
      ui.message_box("The filename extension:- DAT should be used", {}, kMsgWarning);
      retry = true;
      continue;
    }
    if (!update_without_asking && file_exists(resolve_path(path))) {
      char buf[600];
      c_snprintf(buf, sizeof buf, "Update the existing file:- %s ?", path.c_str());
      int answer =
          ui.message_box(buf, "The Spectrum data file already exists", kMsgYesNo, kAnswerNo);
      if (answer != kAnswerYes) {
        retry = true;
        continue;
      }
      path = resolve_path(path);
    }
    if (!write_native_file(state, path, retry, write_background_block)) {
      // A failed write offers the dialog so that the user can choose another
      // place or leave; a batch run has no dialog and stops here.
      retry = true;
      continue;
    }
    if (p.auto_save_number > 0) ++p.auto_save_number;
    state.app.spectrum_changed = false;
    app_save_parameters(state);
    remove_file(join_path(state.paths.working_dir, "tempdata.$$$"));
    return 1;
  }
  return 0;
}

int offer_to_save_changes(State& state) {
  if (!state.app.spectrum_changed || state.app.current_file.empty()) return 1;
  std::string text;
  if (state.app.current_file == "MCA_Data.dat") {
    text = "Save changes to current Spectrum";
  } else {
    char buf[600];
    c_snprintf(buf, sizeof buf, "Save changes to Spectrum data file:- %s ?",
                  state.app.current_file.c_str());
    text = buf;
  }
  int answer = state.ui->message_box(text, "Press F1 for Help", kMsgYesNoCancel, kAnswerYes);
  if (answer == kAnswerYes) return save_spectrum(state, true, true, false) ? 1 : 0;
  if (answer == kAnswerNo) {
    state.app.spectrum_changed = false;
    return 1;
  }
  return 0;
}

}  // namespace kestrim
