// kestrim library: nuclide library files from and to CSV, and their listing.
//
//   kestrim library import-csv CSV -o NAME.lib
//   kestrim library export-csv NAME.lib [-o CSV]
//   kestrim library list NAME.lib
//
// NAME.lib is a path; when no such file exists and the name has no folder,
// it is looked up in the Libraries folder of the program directory
// ($KESTRIM_HOME, else the build tree's share/kestrim).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/state.h"
#include "platform/c_locale.h"
#include "commands.h"
#include "settings/library.h"
#include "nuclides/library_csv.h"
#include "nuclides/library_listing.h"
#include "platform/files.h"
#include "platform/headless_platform.h"

namespace kestrim::cli {

namespace {

int usage() {
  c_fprintf(stderr,
               "usage: kestrim library import-csv CSV -o NAME.lib\n"
               "       kestrim library export-csv NAME.lib [-o CSV]\n"
               "       kestrim library list NAME.lib\n");
  return 2;
}

std::string program_dir() {
  const char* home = std::getenv("KESTRIM_HOME");
  if (home && *home) return home;
  return KESTRIM_BUILD_DATA_DIR;
}

std::string find_library(const std::string& name) {
  std::string path = resolve_path(name);
  if (file_exists(path) || name.find('/') != std::string::npos) return path;
  Paths paths;
  paths.program_dir = program_dir();
  std::string shipped = library_read_path(paths, name);
  return file_exists(shipped) ? shipped : path;
}

// Splits "FILE [-o OUT]" arguments; false on anything else.
bool file_and_output(const Args& args, std::string& file, std::string& output) {
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "-o" && i + 1 < args.size()) {
      output = args[++i];
    } else if (file.empty() && !args[i].empty() && args[i][0] != '-') {
      file = args[i];
    } else {
      return false;
    }
  }
  return !file.empty();
}

int load(HeadlessPlatform& ui, const std::string& name, NuclideLibrary& lib) {
  std::string error;
  if (load_library_file(ui, find_library(name), lib, &error) > 0) return 1;
  c_fprintf(stderr, "kestrim library: %s: %s\n", name.c_str(), error.c_str());
  return 0;
}

int import_csv(const std::string& csv, const std::string& output) {
  HeadlessPlatform ui;
  ui.set_progress_enabled(false);
  std::vector<std::uint8_t> bytes;
  if (!read_file(resolve_path(csv), bytes, 64u << 20)) {
    c_fprintf(stderr, "kestrim library: cannot read %s\n", csv.c_str());
    return 1;
  }
  NuclideLibrary lib;
  std::string error;
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (!library_from_csv(text, lib, &error)) {
    c_fprintf(stderr, "kestrim library: %s: %s\n", csv.c_str(), error.c_str());
    return 1;
  }
  lib.title = base_name(output);
  return save_library_file(ui, lib, output) ? 0 : 1;
}

int export_csv(const std::string& name, const std::string& output) {
  HeadlessPlatform ui;
  ui.set_progress_enabled(false);
  NuclideLibrary lib;
  if (!load(ui, name, lib)) return 1;
  std::string csv = library_to_csv(lib);
  if (output.empty()) {
    std::fwrite(csv.data(), 1, csv.size(), stdout);
    return 0;
  }
  std::string error;
  if (!write_text_atomic(output, csv, &error)) {
    c_fprintf(stderr, "kestrim library: cannot write %s: %s\n", output.c_str(), error.c_str());
    return 1;
  }
  return 0;
}

int list(const std::string& name) {
  HeadlessPlatform ui;
  ui.set_progress_enabled(false);
  NuclideLibrary lib;
  if (!load(ui, name, lib)) return 1;
  std::string text = library_listing(lib, now_date_time());
  std::fwrite(text.data(), 1, text.size(), stdout);
  return 0;
}

}  // namespace

int cmd_library(const Args& args) {
  if (args.empty()) return usage();
  std::string file, output;
  if (!file_and_output(args, file, output)) return usage();
  if (args[0] == "import-csv") {
    if (output.empty()) return usage();
    return import_csv(file, output);
  }
  if (args[0] == "export-csv") return export_csv(file, output);
  if (args[0] == "list" && output.empty()) return list(file);
  return usage();
}

}  // namespace kestrim::cli
