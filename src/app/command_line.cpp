#include "app/command_line.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "app/open_spectrum.h"
#include "app/settings_bridge.h"
#include "app/state.h"
#include "reports/capabilities.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "app/spectrum_file.h"

namespace kestrim {

namespace {

std::string rtrim(std::string s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
  return s;
}

std::string trim(std::string s) {
  s = rtrim(std::move(s));
  std::size_t i = 0;
  while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
  return s.substr(i);
}

bool parse_int(const std::string& text, int& value) {
  std::string t = trim(text);
  if (t.empty()) return false;
  char* end = nullptr;
  long v = std::strtol(t.c_str(), &end, 10);
  if (*end != 0 || v < INT_MIN || v > INT_MAX) return false;
  value = static_cast<int>(v);
  return true;
}

// A library named on the command line must exist in a Libraries folder.
bool library_exists(const State& state, const std::string& name) {
  for (const std::string& root : {state.paths.user_dir, state.paths.program_dir}) {
    if (root.empty()) continue;
    if (file_exists(resolve_path(join_path(join_path(root, "Libraries"), name)))) return true;
  }
  return false;
}

constexpr const char* kPlainKeywords[] = {"batch", "display", "print", "autocal", "enecal",
                                          "shape", "effcal",  "save",  "update"};
constexpr const char* kValuedKeywords[] = {"det=",    "geo=",    "app=", "file=", "src=",
                                           "pkslib=", "lodlib=", "lib=", "dbase="};

std::string absolute_dir(const State& state, const std::string& dir) {
  if (dir.empty()) return state.paths.working_dir;
  if (dir.front() == '/') return dir;
  return join_path(state.paths.working_dir, dir);
}

}  // namespace

std::string keyword_of(const std::string& token) {
  const std::string lower = to_lower(token);
  for (const char* k : kPlainKeywords)
    if (lower == k) return k;
  // "pkslib=" and "lodlib=" are tested before "lib=", "file=" before "src=";
  // a keyword starts its token, so a path holding, say, "/file=" is no keyword.
  for (const char* k : kValuedKeywords)
    if (lower.rfind(k, 0) == 0) return k;
  return {};
}

bool command_line_tokens(const std::vector<std::string>& args, std::vector<std::string>& tokens,
                         std::string& error) {
  tokens.clear();
  bool options_ended = false;
  bool file_given = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string token;
    if (options_ended) {
      token = "file=" + a;
    } else if (a == "--") {
      options_ended = true;
      continue;
    } else if (a.size() > 2 && a[0] == '-' && a[1] == '-') {
      token = a.substr(2);
      // "--keyword VALUE" for the keywords that take a value.
      if (token.find('=') == std::string::npos) {
        const std::string with = to_lower(token) + "=";
        if (keyword_of(with) == with) {
          if (i + 1 >= args.size()) {
            error = "option " + a + " needs a value";
            return false;
          }
          token += "=" + args[++i];
        }
      }
    } else if (a.size() > 1 && a[0] == '/') {
      token = a.substr(1);
    } else {
      error = "unexpected argument " + a + " (keywords start with / or --)";
      return false;
    }
    const std::string key = keyword_of(token);
    if (key.empty()) {
      error = "Unknown parameter:- " + a;
      return false;
    }
    if (key == "file=") {
      if (file_given) {
        error = "more than one spectrum was named";
        return false;
      }
      file_given = true;
    }
    if (key.back() == '=' && trim(token.substr(key.size())).empty()) {
      error = "no value was given for " + a;
      return false;
    }
    tokens.push_back(token);
  }
  return true;
}

std::vector<std::string> split_command_line(const std::string& text) {
  std::vector<std::string> tokens;
  std::string current;
  bool have = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    const bool at_word = i == 0 || std::isspace(static_cast<unsigned char>(text[i - 1]));
    const bool gnu = at_word && c == '-' && i + 2 < text.size() && text[i + 1] == '-' &&
                     std::isalpha(static_cast<unsigned char>(text[i + 2]));
    if ((c == '/' && at_word) || gnu) {
      if (have || !trim(current).empty()) tokens.push_back(rtrim(current));
      current.clear();
      have = true;
      if (gnu) ++i;  // skip the second '-'
      continue;
    }
    current += c;
  }
  if (have || !trim(current).empty()) tokens.push_back(rtrim(current));
  // Leading blanks of a token are not part of it.
  // Leading blanks are not part of a token, and a token of nothing but
  // slashes holds no keyword.
  for (auto& t : tokens) {
    t = trim(t);
    if (t.find_first_not_of("/ \t") == std::string::npos) t.clear();
  }
  return tokens;
}

CommandLineResult parse_command_line(State& state, const std::string& text) {
  CommandLineResult r;
  if (trim(text).empty()) {
    r.ok = true;
    return r;
  }
  std::vector<std::string> tokens = split_command_line(text);
  bool any = false;
  for (const auto& t : tokens)
    if (!t.empty()) any = true;
  if (!any) {
    state.ui->message_box("All Command line parameters should be preceded by the character:- /");
    return r;
  }
  return parse_command_line(state, tokens);
}

CommandLineResult parse_command_line(State& state, const std::vector<std::string>& given) {
  CommandLineResult r;
  Platform& ui = *state.ui;
  AppState& app = state.app;
  AnalysisParameters& p = state.params;

  // The keywords that choose the Defaults file come first, so that the
  // order of the keywords does not matter: "/file=X /app=Lab2" opens X with
  // the settings of Lab2 as "/app=Lab2 /file=X" does.
  std::vector<std::string> tokens;
  for (const char* first : {"app=", "det="})
    for (const std::string& t : given)
      if (keyword_of(t) == first) tokens.push_back(t);
  for (const std::string& t : given) {
    const std::string k = keyword_of(t);
    if (k != "app=" && k != "det=") tokens.push_back(t);
  }

  bool file_named = false;
  for (const std::string& token : tokens) {
    if (token.empty()) continue;
    const std::string lower = to_lower(token);
    const std::string key = keyword_of(token);
    auto value_after = [&](const std::string& k) -> std::string {
      return trim(token.substr(k.size()));
    };
    auto unknown = [&] {
      ui.message_box("Unknown parameter:- " + token, "All parameters should be preceded by:- /");
      r.refused = true;
    };
    auto has = [&](const char* k) { return key == k; };

    if (lower == "batch") {
      app.batch_mode = true;
      app.batch_analysis = true;
      app.display_on = false;
    } else if (lower == "display") {
      app.display_on = true;
    } else if (lower == "print") {
      app.print_main_report = true;
    } else if (lower == "autocal") {
      app.request_autocal = true;
      app.batch_analysis = false;
    } else if (lower == "enecal") {
      app.request_enecal = true;
      app.batch_analysis = false;
    } else if (lower == "shape") {
      app.request_shape = true;
      app.batch_analysis = false;
    } else if (lower == "effcal") {
      app.request_effcal = true;
      app.batch_analysis = false;
    } else if (lower == "save") {
      r.save_requested = true;
    } else if (lower == "update") {
      r.save_requested = true;
      r.update_without_asking = true;
    } else if (has("det=")) {
      int n = 0;
      if (parse_int(value_after("det="), n)) {
        if (!app_load_defaults(state, n, DefaultsMode::kSwitching)) r.refused = true;
      } else {
        unknown();
      }
    } else if (has("geo=")) {
      int n = 0;
      if (parse_int(value_after("geo="), n) && n >= 1) {
        p.default_geometry = n;
      } else {
        unknown();
      }
    } else if (has("app=")) {
      std::string name = value_after("app=");
      assign(p.application_name, name);
      if (!app_load_defaults(state, p.defaults_number, DefaultsMode::kSwitching)) r.refused = true;
    } else if (has("file=")) {
      std::string path = value_after("file=");
      std::string dir, name;
      auto slash = path.find_last_of('/');
      // A relative path, a bare name too, names a file of the current folder.
      if (slash != std::string::npos) {
        dir = absolute_dir(state, slash == 0 ? "/" : path.substr(0, slash));
        name = path.substr(slash + 1);
      } else {
        dir = state.paths.working_dir;
        name = path;
      }
      if (!check_extension(state, join_path(dir, name))) return r;
      app.current_file = name;
      set_spectrum_directory(state, app.spectrum_type, dir);
      file_named = true;
    } else if (has("src=")) {
      app.efficiency_source = value_after("src=");
    } else if (has("pkslib=")) {
      std::string name = value_after("pkslib=");
      if (library_exists(state, name)) {
        assign(p.peak_search_library, name);
        p.library_peak_search = 1;
      } else {
        ui.message_box("Error opening Library: " + name);
        r.refused = true;
      }
    } else if (has("lodlib=")) {
      std::string name = value_after("lodlib=");
      if (library_exists(state, name)) {
        assign(p.lod_library, name);
        p.calculate_lod = 1;
      } else {
        ui.message_box("Error opening Library: " + name);
        r.refused = true;
      }
    } else if (has("lib=")) {
      std::string name = value_after("lib=");
      if (library_exists(state, name)) {
        assign(p.analysis_library, name);
        app_load_analysis_library(state);
      } else {
        ui.message_box("Error opening Library: " + name);
        r.refused = true;
      }
    } else if (has("dbase=")) {
      std::string path = value_after("dbase=");
      // The name is the path without the extension of its file name.
      auto database_name = [&path] {
        const std::string base = base_name(path);
        const auto dot = base.find('.');
        return dot == std::string::npos ? path : path.substr(0, path.size() - base.size() + dot);
      };
      if (p.database_odbc == 0) {
        if (!file_exists(resolve_path(path.front() == '/' ? path
                                                          : join_path(state.paths.working_dir, path)))) {
          ui.message_box("Could not find Database template file: " + path);
          r.refused = true;
        } else {
          const std::string stem = database_name();
          app.database_path = stem;
          assign(p.database_name, stem);
          p.update_database = 1;
        }
      } else {
        // The database is opened at once; one that cannot be opened fails
        // the run.
        const std::string stem = database_name();
        app.database_path = stem;
        assign(p.database_name, stem);
        p.update_database = 1;
        if (state.services.activity_database == nullptr) {
          capability_missing(ui, "The ODBC activity database");
          return r;
        }
        if (!state.services.activity_database->open(state)) return r;
      }
    } else {
      unknown();
    }
  }

  if (app.batch_mode && !file_named) {
    ui.message_box("No filename was specified (use the '/file=' keyword)");
    return r;
  }
  r.file_named = file_named;
  if (file_named) {
    r.ok = open_spectrum(state, false) == 1;
    return r;
  }
  r.ok = true;
  return r;
}

}  // namespace kestrim
