#include "app/file_lists.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include "app/analysis.h"
#include "app/open_spectrum.h"
#include "app/settings_bridge.h"
#include "app/spectrum_file.h"
#include "app/state.h"
#include "platform/binio.h"
#include "platform/c_format.h"
#include "platform/c_locale.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/silent_platform.h"
#include "platform/text_encoding.h"
#include "settings/defaults_file.h"
#include "spectrum/formats.h"
#include "spectrum/native_file.h"
#include "spectrum/readers/readers.h"

namespace kestrim {

namespace {

// Fewer channels than this cannot hold a peak with its continuum.
constexpr int kMinListedChannels = 16;
// Larger files are no spectra of any format.
constexpr std::size_t kMaxListedBytes = 64u << 20;

bool parse_number(const std::string& ext, int& number) {
  if (ext.size() != 3) return false;
  number = 0;
  for (char c : ext) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    number = number * 10 + (c - '0');
  }
  return true;
}

std::string defaults_folder(const std::string& root) {
  return root.empty() ? std::string() : join_path(root, kDefaultFilesDir);
}

}  // namespace

std::vector<ListedSpectrum> list_spectrum_folder(const State& state, const std::string& directory) {
  std::vector<ListedSpectrum> out;
  // Readers may complain about a file; while listing nobody is told.
  SilentPlatform quiet;
  ReaderOptions options;
  options.ignore_header = state.params.ignore_header_data != 0;
  options.use_file_energy_calibration = state.params.use_file_energy_calibration != 0;
  options.text_channels_per_line = state.params.text_channels_per_line;
  options.text_header_lines = state.params.text_header_lines;
  for (const std::string& name : list_directory(directory)) {
    const std::string path = join_path(directory, name);
    if (!file_exists(path)) continue;
    std::vector<std::uint8_t> bytes;
    if (!read_file(path, bytes, kMaxListedBytes)) continue;
    int type = spectrum_type_from_extension(name);
    if (type < 0) continue;
    type = spectrum_type_from_content(type, bytes);
    auto rec = std::make_unique<SpectrumRecord>();
    int status = -1;
    if (type == 0) {
      BackgroundRecord background;
      NativeReadResult result;
      status = read_native(bytes, *rec, background, NativeReadOptions{}, result);
    } else if (const SpectrumFormat* f = spectrum_format(type); f && f->read) {
      status = f->read(bytes, *rec, options, quiet);
    }
    if (status < 0 || rec->header.channels < kMinListedChannels) continue;
    ListedSpectrum s;
    s.name = name;
    s.type = type;
    s.title = text_as_utf8(to_string(rec->header.title));
    s.channels = rec->header.channels;
    s.live_time = rec->header.live_time;
    out.push_back(std::move(s));
  }
  std::sort(out.begin(), out.end(), [](const ListedSpectrum& a, const ListedSpectrum& b) { return a.name < b.name; });
  return out;
}

int merge_listed_spectra(State& state, const std::string& directory, const std::vector<ListedSpectrum>& spectra) {
  if (spectra.empty()) return 0;
  std::vector<std::string> paths;
  std::vector<int> types;
  for (const ListedSpectrum& s : spectra) {
    paths.push_back(join_path(directory, s.name));
    types.push_back(s.type);
  }
  state.app.spectrum_type = spectra.front().type;
  return merge_spectra(state, paths, &types);
}

int confirm_unsaved_batch_results(State& state) {
  const AnalysisParameters& p = state.params;
  if (p.update_database != 0 || p.numbered_reports != 0 || p.named_reports != 0) return 1;
  return state.ui->message_box("Do you want to Continue ?", "Analysis Results are not being saved", kMsgYesNo,
                               kAnswerYes) == kAnswerYes
             ? 1
             : 0;
}

int analyse_listed_spectra(State& state, const std::string& directory, const std::vector<ListedSpectrum>& spectra,
                           const std::function<void(int, int, const std::string&)>& progress) {
  AppState& app = state.app;
  AnalysisParameters& p = state.params;
  const int kept_add = p.prompt_add_peaks, kept_remove = p.prompt_remove_peaks,
            kept_auto = p.auto_save_analyse_print;
  p.prompt_add_peaks = p.prompt_remove_peaks = p.auto_save_analyse_print = 0;
  app.batch_analysis = true;
  app.print_main_report = p.batch_print_main != 0;
  app.print_peak_report = p.batch_print_peaks != 0;
  app.print_activity_report = p.batch_print_activity != 0;
  app.abort_requested = false;
  const int total = static_cast<int>(spectra.size());
  int analysed = 0;
  for (int i = 0; i < total; ++i) {
    const ListedSpectrum& s = spectra[static_cast<size_t>(i)];
    if (progress) progress(i, total, s.name);
    app.spectrum_type = s.type;
    set_spectrum_directory(state, s.type, directory);
    app.current_file = s.name;
    if (open_spectrum(state, true)) {
      app.window_title = c_format("Analysing Spectral data file:- %s ", s.name.c_str());
      if (analyse_current_spectrum(state)) ++analysed;
    }
    if (app.abort_requested || state.ui->abort_requested()) break;
  }
  if (progress) progress(total, total, "");
  close_activity_database(state);
  p.prompt_add_peaks = kept_add;
  p.prompt_remove_peaks = kept_remove;
  p.auto_save_analyse_print = kept_auto;
  app.print_main_report = app.print_peak_report = app.print_activity_report = false;
  app.batch_analysis = false;
  return analysed;
}

std::vector<ListedDefaults> list_defaults_files(const State& state) {
  std::vector<ListedDefaults> out;
  bool user = true;
  for (const std::string& root : {state.paths.user_dir, state.paths.program_dir}) {
    const std::string dir = defaults_folder(root);
    if (!dir.empty() && directory_exists(dir)) {
      for (const std::string& name : list_directory(dir)) {
        int number = 0;
        if (!parse_number(extension_of(name), number) || name.size() <= 4) continue;
        const std::string app = name.substr(0, name.size() - 4);
        const bool seen = std::any_of(out.begin(), out.end(), [&](const ListedDefaults& d) {
          return d.number == number && iequals(d.application, app);
        });
        if (!seen) out.push_back({app, number, user});
      }
    }
    user = false;
  }
  std::sort(out.begin(), out.end(), [](const ListedDefaults& a, const ListedDefaults& b) {
    const std::string la = to_lower(a.application), lb = to_lower(b.application);
    return la != lb ? la < lb : a.number < b.number;
  });
  return out;
}

int switch_defaults_file(State& state, const std::string& application, int number) {
  // A refused or failed switch leaves the parameters in force as they were
  // (the application name and what it changed among them).
  const AnalysisParameters before = state.params;
  if (!iequals(application, to_string(before.application_name)) &&
      !set_application_name(state.params, *state.ui, application))
    return 0;
  if (!app_load_defaults(state, number, DefaultsMode::kSwitching)) {
    state.params = before;
    return 0;
  }
  state.hooks.set_window_title();
  return 1;
}

int create_defaults_file(State& state, const std::string& application, int number) {
  Platform& ui = *state.ui;
  if (number < 1 || number > 99) {
    ui.message_box("The file number should be between 1 and 99", "", kMsgWarning);
    return 0;
  }
  const std::string name = defaults_file_name(application, number);
  if (!find_defaults_file(state.paths, name).empty()) {
    ui.message_box("The Defaults File:- " + name + " already exists", "", kMsgWarning);
    return 0;
  }
  return switch_defaults_file(state, application, number);
}

int delete_defaults_file(State& state, const std::string& application, int number) {
  Platform& ui = *state.ui;
  const std::string name = defaults_file_name(application, number);
  if (number == 0) {
    ui.message_box("The start-up Defaults File cannot be deleted", "", kMsgWarning);
    return 0;
  }
  if (number == state.params.defaults_number && iequals(application, to_string(state.params.application_name))) {
    ui.message_box("The Defaults File in use cannot be deleted:- " + name, "", kMsgWarning);
    return 0;
  }
  const std::string user_copy = resolve_path(join_path(defaults_folder(state.paths.user_dir), name));
  if (state.paths.user_dir.empty() || !file_exists(user_copy)) {
    ui.message_box("The Defaults File:- " + name + " is part of the installation and cannot be deleted", "",
                   kMsgWarning);
    return 0;
  }
  if (ui.message_box("Delete the Defaults File:- " + name + " ?", "Press F1 for Help", kMsgYesNo, kAnswerNo) !=
      kAnswerYes)
    return 0;
  if (!remove_file(user_copy)) {
    ui.message_box("Could not delete:- " + user_copy, "", kMsgError);
    return 0;
  }
  return 1;
}

}  // namespace kestrim
