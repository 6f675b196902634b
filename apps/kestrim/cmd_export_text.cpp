// kestrim export-text FILE [-o OUT] [--per-line N] [--header] [--weight KG]:
// the spectrum as a text file of channel counts, optionally with the header
// made from "spctxt.tpl" of the current folder, and the dose-rate line.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/open_spectrum.h"
#include "app/settings_bridge.h"
#include "app/startup.h"
#include "platform/c_locale.h"
#include "app/state.h"
#include "commands.h"
#include "front_end_services.h"
#include "platform/files.h"
#include "platform/headless_platform.h"
#include "reports/text_export.h"
#include "app/spectrum_file.h"

namespace kestrim::cli {

namespace {

const char* kUsage =
    "Usage: kestrim export-text FILE [-o OUT] [--per-line N] [--header] [--weight KG]\n"
    "  -o OUT        output file (default: FILE with the extension .txt)\n"
    "  --per-line N  channels per line, 1-16 (default: as the Defaults read text spectra)\n"
    "  --header      start with the header made from spctxt.tpl of the current folder\n"
    "  --weight KG   detector weight: also print the dose-rate estimate\n";

bool parse_number(const std::string& text, double& out) {
  char* end = nullptr;
  out = c_strtod(text.c_str(), &end);
  return !text.empty() && end && *end == 0;
}

}  // namespace

int cmd_export_text(const Args& args) {
  std::string file, out;
  double per_line = 0, weight = 0;
  bool header = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    bool has_value = i + 1 < args.size();
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "-o" && has_value) {
      out = args[++i];
    } else if (a == "--per-line" && has_value) {
      if (!parse_number(args[++i], per_line) || per_line < 1 || per_line > 16) {
        c_fprintf(stderr, "kestrim export-text: --per-line takes a number from 1 to 16\n");
        return 2;
      }
    } else if (a == "--weight" && has_value) {
      if (!parse_number(args[++i], weight) || weight <= 0) {
        c_fprintf(stderr, "kestrim export-text: --weight takes a positive number of kg\n");
        return 2;
      }
    } else if (a == "--header") {
      header = true;
    } else if (file.empty() && !a.empty() && a[0] != '-') {
      file = a;
    } else {
      c_fprintf(stderr, "kestrim export-text: unexpected argument %s\n%s", a.c_str(), kUsage);
      return 2;
    }
  }
  if (file.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  if (out.empty()) {
    std::string ext = extension_of(file);
    out = ext.empty() ? file : file.substr(0, file.size() - ext.size() - 1);
    out += ".txt";
  }
  if (out == file) {
    c_fprintf(stderr, "kestrim export-text: the output would replace the spectrum file %s\n", file.c_str());
    return 2;
  }

  HeadlessPlatform ui;
  State state(ui);
  FrontEndServices services;
  services.supply(state);
  // The Defaults give the layout of text spectra: the output reads back
  // under them unless --per-line says otherwise.
  state.paths = default_paths();
  app_load_defaults(state, 0, DefaultsMode::kStartup);
  if (per_line == 0) per_line = text_channels_per_line(state.params.text_channels_per_line);
  if (!check_extension(state, file)) return 1;
  state.app.current_file = base_name(file);
  if (!read_spectrum_file(state, file)) return 1;
  for (const std::string& w : state.spectrum.warnings)
    c_fprintf(stderr, "kestrim: %s: %s\n", file.c_str(), w.c_str());
  state.params.text_channels_per_line = static_cast<int>(per_line);
  state.params.text_header_lines = header ? 2 : 0;
  state.params.dose_detector_weight = static_cast<float>(weight);
  if (!export_text_spectrum(state, out)) return 1;
  c_printf("Wrote %s\n", out.c_str());
  if (weight > 0) {
    update_dose_rate(state);
    c_printf("%s\n", state.app.dose_rate_line.c_str());
  }
  return 0;
}

}  // namespace kestrim::cli
