#include "settings/defaults_file.h"
#include "platform/c_locale.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "settings/detector_file.h"
#include "settings/session.h"
#include "platform/paths.h"
#include "spectrum/spectrum_record.h"
#include "platform/binio.h"
#include "platform/files.h"
#include "platform/platform.h"

namespace kestrim {

namespace {

// A Defaults file larger than this is not one; it is refused rather than
// read whole into memory.
constexpr std::size_t kMaxDefaultsFileBytes = 1u << 20;

// Checksum field of the record.
constexpr int kChecksumOffset = 2260;

// The sound-card leading-edge readings: values below 2 are replaced on load.
constexpr std::int32_t kMinLeadingEdgeReadings = 2;
constexpr std::int32_t kDefaultLeadingEdgeReadings = 12;
// A stored main window narrower than this is not used.
constexpr std::int32_t kMinWindowWidth = 500;

std::string format_number(const char* fmt, int n) {
  char buf[64];
  c_snprintf(buf, sizeof buf, fmt, n);
  return buf;
}

std::string format_text(const char* fmt, const std::string& s) {
  std::vector<char> buf(std::strlen(fmt) + s.size() + 1);
  c_snprintf(buf.data(), buf.size(), fmt, s.c_str());
  return buf.data();
}

std::string under_working_dir(const Paths& paths, const std::string& dir) {
  if (dir.empty() || dir.front() == '/' || paths.working_dir.empty()) return dir;
  return join_path(paths.working_dir, dir);
}

// The user's display and window preferences, which survive a switch to
// another detector's Defaults file.
struct KeptPreferences {
  std::int32_t pause_after_region, display_spectrum, low_resolution_display,
      always_display_fitting, fitting_delay_ms, plot_type, report_font_size,
      show_status_bar, move_cursor, prompt_add_peaks, prompt_remove_peaks,
      report_font_weight, window_width, window_height, window_left, window_top;
  FixedText<32> report_font_face;
  FixedText<16> application_name;

  explicit KeptPreferences(const AnalysisParameters& p)
      : pause_after_region(p.pause_after_region),
        display_spectrum(p.display_spectrum),
        low_resolution_display(p.low_resolution_display),
        always_display_fitting(p.always_display_fitting),
        fitting_delay_ms(p.fitting_delay_ms),
        plot_type(p.plot_type),
        report_font_size(p.report_font_size),
        show_status_bar(p.show_status_bar),
        move_cursor(p.move_cursor),
        prompt_add_peaks(p.prompt_add_peaks),
        prompt_remove_peaks(p.prompt_remove_peaks),
        report_font_weight(p.report_font_weight),
        window_width(p.window_width),
        window_height(p.window_height),
        window_left(p.window_left),
        window_top(p.window_top),
        report_font_face(p.report_font_face),
        application_name(p.application_name) {}

  void restore(AnalysisParameters& p) const {
    p.pause_after_region = pause_after_region;
    p.display_spectrum = display_spectrum;
    p.low_resolution_display = low_resolution_display;
    p.always_display_fitting = always_display_fitting;
    p.fitting_delay_ms = fitting_delay_ms;
    p.plot_type = plot_type;
    p.report_font_size = report_font_size;
    p.show_status_bar = show_status_bar;
    p.move_cursor = move_cursor;
    p.prompt_add_peaks = prompt_add_peaks;
    p.prompt_remove_peaks = prompt_remove_peaks;
    p.report_font_weight = report_font_weight;
    p.window_width = window_width;
    p.window_height = window_height;
    p.window_left = window_left;
    p.window_top = window_top;
    p.report_font_face = report_font_face;
    p.application_name = application_name;
  }
};

// Asks for the user password until it matches, the entry is left empty or
// cancelled, or the user chooses to go on without privilege. Entries are cut
// to 15 characters and compared ignoring case.
bool ask_user_password(Platform& ui, const std::string& stored) {
  for (;;) {
    std::string entry;
    if (!ui.ask_text("Enter the Password", "Password", true, entry)) return false;
    if (entry.size() > 15) entry.resize(15);
    entry = to_lower(entry);
    if (entry.empty()) return false;
    if (iequals(entry, stored)) return true;
    int answer = ui.message_box("Do you want to Continue without Privilege ?",
                                "Password did not match", kMsgYesNo, kAnswerNo);
    if (answer == kAnswerYes) return false;
  }
}

// Offers to create each missing directory of the parameters, in order,
// stopping at the first that is still missing afterwards. Empty fields mean
// the working directory and are skipped.
// A folder written the Windows way ("C:\\KESTRIM\\SPECTRA", any backslash)
// names nothing on this system; made here it would become one folder with
// backslashes in its name in the current folder.
bool windows_folder(const std::string& dir) {
  if (dir.find('\\') != std::string::npos) return true;
  return dir.size() >= 2 && dir[1] == ':' && std::isalpha(static_cast<unsigned char>(dir[0]));
}

void check_directories(const SettingsSession& state) {
  AnalysisParameters& p = state.params;
  auto check = [&](auto& field) {
    const std::string dir = to_string(field);
    if (dir.empty()) return true;
    if (windows_folder(dir)) {
      state.ui->message_box(
          format_text("The folder %s of the Defaults file is a Windows path: the working folder is "
                      "used instead",
                      dir),
          "", kMsgWarning);
      assign(field, "");
      return true;
    }
    std::string path = resolve_path(under_working_dir(state.paths, dir));
    if (directory_exists(path)) return true;
    int answer = state.ui->message_box(format_text("Create a new Directory:- %s ?", dir),
                                       "Could not access this Directory", kMsgYesNo,
                                       kAnswerYes);
    if (answer != kAnswerYes) return false;
    if (!make_directories(path)) {
      state.ui->message_box(format_text("Could not Create Directory:- %s", dir), "", kMsgError);
      return false;
    }
    return true;
  };
  check(p.other_format_dir) && check(p.own_format_dir) && check(p.calibration_dir) &&
      check(p.background_dir);
}

// A missing Defaults file for detector N > 0: offer to create it from the
// parameters in memory.
int offer_new_defaults_file(const SettingsSession& state, int number) {
  Platform& ui = *state.ui;
  std::string app = to_string(state.params.application_name);
  std::string caption = format_text("Could not open %s Defaults File for Detector ", app);
  caption += std::to_string(number);
  int answer = ui.message_box(format_text("Create a new %s Defaults File ?", app), caption,
                              kMsgYesNo, kAnswerYes);
  if (answer == kAnswerNo && !iequals(app, kStartupApplication)) {
    answer = ui.message_box("Create a new NORMAL Defaults File ?", caption, kMsgYesNo,
                            kAnswerYes);
    if (answer == kAnswerYes) assign(state.params.application_name, kStartupApplication);
  }
  if (answer != kAnswerYes) return 0;
  state.params.defaults_number = number;
  if (state.params.default_detector_file > 0) state.params.default_detector_file = number;
  return save_parameters(state);
}

bool write_defaults(const SettingsSession& state, const std::string& name, const std::vector<std::uint8_t>& bytes) {
  std::string dir = join_path(state.paths.user_dir, kDefaultFilesDir);
  std::string path = defaults_write_path(state.paths, name);
  std::string error;
  if (!make_directories(resolve_path(dir)) || !write_file_atomic(path, bytes, &error, state.paths.write_faults)) {
    std::string text = "Could not write Defaults File:- " + path;
    if (!error.empty()) text += " (" + error + ")";
    state.ui->message_box(text, "", kMsgError);
    return false;
  }
  return true;
}

bool parse_three_digits(const std::string& ext, int* number) {
  if (ext.size() != 3) return false;
  int n = 0;
  for (char c : ext) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    n = n * 10 + (c - '0');
  }
  *number = n;
  return true;
}

// Names of the files in both DefaultFiles folders, user folder first.
std::vector<std::string> defaults_folder_entries(const Paths& paths) {
  std::vector<std::string> out;
  for (const std::string* root : {&paths.user_dir, &paths.program_dir}) {
    if (root->empty()) continue;
    std::string dir = resolve_path(join_path(*root, kDefaultFilesDir));
    for (const std::string& name : list_directory(dir))
      if (file_exists(join_path(dir, name))) out.push_back(name);
  }
  return out;
}

}  // namespace

// ---- Bytes <-> record -------------------------------------------------------

int parse_defaults_file(const std::uint8_t* data, std::size_t size, DefaultsFileImage& out) {
  if (data == nullptr || size < static_cast<std::size_t>(kParametersSize)) return kDefaultsTooShort;
  DefaultsFileImage image;
  decode_parameters(data, image.params);
  if (size >= static_cast<std::size_t>(kManagerPasswordOffset)) {
    image.has_user_password_field = true;
    image.passwords.user = unscramble_password(data + kUserPasswordOffset);
  }
  if (size >= static_cast<std::size_t>(kDefaultsFileSize)) {
    image.has_manager_password_field = true;
    image.passwords.manager = unscramble_password(data + kManagerPasswordOffset);
    image.ignored_bytes = size - kDefaultsFileSize;
  }
  out = std::move(image);
  return kDefaultsParsedOk;
}

std::vector<std::uint8_t> build_defaults_file(const AnalysisParameters& p,
                                              const Passwords* passwords) {
  std::vector<std::uint8_t> bytes(passwords ? kDefaultsFileSize : kParametersSize, 0);
  encode_parameters(p, bytes.data());
  if (passwords) {
    scramble_password(passwords->user, bytes.data() + kUserPasswordOffset);
    scramble_password(passwords->manager, bytes.data() + kManagerPasswordOffset);
  }
  return bytes;
}

bool checksum_matches(const std::uint8_t* record_bytes) {
  std::int32_t stored = bin::get_i32(record_bytes + kChecksumOffset);
  return stored == 0 || stored == compute_checksum(record_bytes);
}

// ---- Names and paths --------------------------------------------------------

std::string defaults_file_name(const std::string& application, int number) {
  if (number == 0) return std::string(kStartupApplication) + ".000";
  return application + format_number(".%03d", number);
}

std::string find_defaults_file(const Paths& paths, const std::string& name) {
  for (const std::string* root : {&paths.user_dir, &paths.program_dir}) {
    if (root->empty()) continue;
    std::string path = resolve_path(join_path(join_path(*root, kDefaultFilesDir), name));
    if (file_exists(path)) return path;
  }
  return {};
}

std::string defaults_write_path(const Paths& paths, const std::string& name) {
  std::string dir = resolve_path(join_path(paths.user_dir, kDefaultFilesDir));
  return resolve_path(join_path(dir, name));
}

std::string reference_defaults_path(const Paths& paths, int number) {
  return resolve_path(join_path(paths.working_dir, format_number("ref_dflt.%03d", number)));
}

// ---- Load -------------------------------------------------------------------

int load_defaults_file(const SettingsSession& state, int number, LoadMode mode) {
  Platform& ui = *state.ui;
  const std::string app = to_string(state.params.application_name);
  const std::string name = defaults_file_name(app, number);

  const KeptPreferences kept(state.params);
  const std::int32_t old_detector_file = state.params.default_detector_file;
  const std::string old_database_name = to_string(state.params.database_name);

  // A file that cannot be opened (missing or unreadable) is offered for
  // creation; one far too large to be a Defaults file is refused as unreadable.
  std::string path = find_defaults_file(state.paths, name);
  std::vector<std::uint8_t> bytes;
  const bool too_large =
      !path.empty() && file_size(path) > static_cast<long long>(kMaxDefaultsFileBytes);
  if (!too_large && (path.empty() || !read_file(path, bytes, kMaxDefaultsFileBytes))) {
    if (number > 0) return offer_new_defaults_file(state, number);
    if (path.empty()) path = defaults_write_path(state.paths, name);
    ui.message_box("Could not open Defaults File:- " + path, kSupportCaption, kMsgError);
    return 0;
  }

  DefaultsFileImage image;
  if (too_large || parse_defaults_file(bytes.data(), bytes.size(), image) != kDefaultsParsedOk) {
    ui.message_box("Error reading Defaults File:- " + path, kSupportCaption, kMsgError);
    return 0;
  }

  if (mode == LoadMode::Startup) {
    state.passwords = image.passwords;
    state.flags.privileged =
        image.passwords.user.empty() || ask_user_password(ui, image.passwords.user);
  }

  const bool has_checksum = image.params.checksum != 0;
  if (!checksum_matches(bytes.data())) {
    ui.message_box("The Defaults file has been corrupted", kSupportCaption, kMsgError);
    return 0;
  }

  state.params = image.params;
  if (!has_checksum && !save_parameters(state)) return 0;

  state.hooks.set_window_title();

  if (mode == LoadMode::Switching) {
    kept.restore(state.params);
    state.params.defaults_number = number;
  }

  check_directories(state);

  AnalysisParameters& p = state.params;
  state.flags.working_max_width_change = p.max_width_change;
  state.flags.working_residual_search = p.residual_peak_search != 0;
  state.flags.working_background_from_file = p.background_from_spectrum_file != 0;

  if (mode == LoadMode::Startup ||
      to_string(p.analysis_library) != state.hooks.loaded_analysis_library())
    state.hooks.load_analysis_library();

  // The references are those these Defaults name, never added to the
  // ones of the Defaults loaded before.
  state.hooks.clear_reference_spectra();
  if (p.mca_variant != 0 && p.reference_count > 0) {
    int count = std::min<std::int32_t>(p.reference_count, 10);
    for (int k = 0; k < count; ++k) {
      std::string file = join_path(to_string(p.calibration_dir), p.reference_name(k) + ".rsd");
      file = resolve_path(under_working_dir(state.paths, file));
      if (!state.hooks.load_reference_spectrum(file)) {
        p.reference_count = 0;
        p.reference_fitting = 0;
        save_parameters(state);
        break;
      }
    }
  }
  state.hooks.set_reference_fit_check();

  if (p.update_database != 0 && p.database_odbc != 0 &&
      (mode == LoadMode::Startup || to_string(p.database_name) != old_database_name))
    state.hooks.test_odbc_database();

  if (p.default_detector_file > 0 && p.default_detector_file != old_detector_file)
    read_detector_calibration(state, p.default_detector_file, p.default_geometry, true);

  // Values the program fills in itself on every load.
  if (p.sc_leading_edge_readings < kMinLeadingEdgeReadings)
    p.sc_leading_edge_readings = kDefaultLeadingEdgeReadings;
  if (p.low_resolution_display != 1) p.low_resolution_display = 0;
  if (p.window_width < kMinWindowWidth) state.hooks.use_full_screen_window();
  state.hooks.refresh_calibration_display();
  return 1;
}

// ---- Save -------------------------------------------------------------------

int save_parameters(const SettingsSession& state) {
  AnalysisParameters& p = state.params;
  p.checksum = compute_checksum(p);
  if (!write_defaults(state, defaults_file_name(kStartupApplication, 0),
                      build_defaults_file(p, &state.passwords)))
    return 0;
  // The passwords belong to the start-up file only.
  if (p.defaults_number != 0 &&
      !write_defaults(state, defaults_file_name(to_string(p.application_name), p.defaults_number),
                      build_defaults_file(p, nullptr)))
    return 0;
  return 1;
}

// ---- Reference analysis defaults -------------------------------------------

int load_reference_defaults(const SettingsSession& state) {
  Platform& ui = *state.ui;
  const int number = state.params.defaults_number;
  const std::string path = reference_defaults_path(state.paths, number);
  if (!file_exists(path)) {
    ui.message_box(format_number("There were no Reference Analysis Defaults for Detector %d", number),
                   "Press F1 for Help", kMsgWarning);
    return 0;
  }
  int answer = ui.message_box(
      format_number("Load the Reference Analysis Defaults for Detector %d ?", number),
      "Press F1 for Help", kMsgYesNo, kAnswerYes);
  if (answer != kAnswerYes) return 0;
  std::vector<std::uint8_t> bytes;
  if (!read_file(path, bytes, kMaxDefaultsFileBytes) ||
      bytes.size() < static_cast<std::size_t>(kParametersSize)) {
    ui.message_box("Error reading Defaults File:- " + path, "", kMsgError);
    return 0;
  }
  decode_parameters(bytes.data(), state.params);
  return 1;
}

int save_reference_defaults(const SettingsSession& state) {
  Platform& ui = *state.ui;
  const int number = state.params.defaults_number;
  const std::string path = reference_defaults_path(state.paths, number);
  if (file_exists(path)) {
    int answer = ui.message_box(
        format_number("Update the Reference Analysis Defaults for Detector %d ?", number),
        "Press F1 for Help", kMsgYesNo, kAnswerYes);
    if (answer != kAnswerYes) return 0;
  }
  std::vector<std::uint8_t> bytes = build_defaults_file(state.params, nullptr);
  std::string error;
  if (!write_file_atomic(path, bytes, &error)) {
    ui.message_box("Could not write Defaults File:- " + path + " (" + error + ")", "", kMsgError);
    return 0;
  }
  return 1;
}

// ---- Set-up dialog checks ---------------------------------------------------

int set_application_name(AnalysisParameters& p, Platform& ui, const std::string& text) {
  if (text.empty()) return 1;
  if (text.size() >= 16) {
    ui.message_box("The Application name should be less than 16 characters", "", kMsgError);
    return 0;
  }
  if (text.find(' ') != std::string::npos) {
    ui.message_box("The Application name should not contain spaces", "", kMsgError);
    return 0;
  }
  assign(p.application_name, text);
  if (p.numbered_database_files == 0) {
    assign(p.database_name, text);
    p.database_name_chosen = 1;
    p.database_state = -1;
  }
  return 1;
}

int set_file_number(const SettingsSession& state, int number) {
  if (number < 1 || number > 99) {
    state.ui->message_box("The file number should be between 1 and 99", "", kMsgError);
    return 0;
  }
  AnalysisParameters& p = state.params;
  p.defaults_number = number;
  if (p.default_detector_file > 0) {
    p.default_detector_file = number;
    state.spectrum.header.detector = static_cast<std::int16_t>(number);
    read_detector_calibration(state, number, p.default_geometry, true);
  }
  return 1;
}

// ---- Lists ------------------------------------------------------------------

std::vector<int> list_detector_numbers(const Paths& paths, const std::string& application) {
  std::vector<int> out;
  for (const std::string& name : defaults_folder_entries(paths)) {
    std::string ext = extension_of(name);
    int number = 0;
    if (!parse_three_digits(ext, &number)) continue;
    if (!iequals(name.substr(0, name.size() - 4), application)) continue;
    out.push_back(number);
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

std::vector<std::string> list_detector_entries(const Paths& paths,
                                               const std::string& application) {
  std::vector<std::string> out;
  for (int n : list_detector_numbers(paths, application))
    out.push_back(n > 0 ? format_number("Detector %d", n) : defaults_file_name(application, 0));
  return out;
}

std::vector<std::string> list_applications(const Paths& paths, int number) {
  std::vector<std::string> out;
  for (const std::string& name : defaults_folder_entries(paths)) {
    int n = 0;
    if (!parse_three_digits(extension_of(name), &n) || n != number) continue;
    std::string app = name.substr(0, name.size() - 4);
    if (app.empty()) continue;
    bool seen = false;
    for (const std::string& a : out) seen = seen || iequals(a, app);
    if (!seen) out.push_back(app);
  }
  std::sort(out.begin(), out.end(),
            [](const std::string& a, const std::string& b) { return to_lower(a) < to_lower(b); });
  return out;
}

}  // namespace kestrim
