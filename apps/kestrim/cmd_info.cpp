// kestrim info FILE [--json]: the header, times, calibration and counts of
// any spectrum file Kestrim reads.
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "app/open_spectrum.h"
#include "app/settings_bridge.h"
#include "app/startup.h"
#include "platform/c_locale.h"
#include "app/state.h"
#include "commands.h"
#include "front_end_services.h"
#include "nuclides/background_file.h"
#include "platform/files.h"
#include "platform/headless_platform.h"
#include "spectrum/dates.h"
#include "spectrum/formats.h"
#include "app/spectrum_file.h"
#include "settings/spectrum_info.h"

namespace kestrim::cli {

namespace {

// A background file: its record and the table of its peaks.
int info_background(const std::string& file, bool json) {
  std::vector<std::uint8_t> bytes;
  BackgroundRecord rec;
  if (!read_file(file, bytes, 1u << 20)) {
    c_fprintf(stderr, "kestrim info: cannot read %s\n", file.c_str());
    return 1;
  }
  if (decode_background_file(bytes, rec) != 1) {
    c_fprintf(stderr, "kestrim info: %s is not a valid Background File.\n", file.c_str());
    return 1;
  }
  const DateTime& d = rec.collected;
  if (json) {
    nlohmann::json peaks = nlohmann::json::array();
    for (int i = 0; i < rec.peaks(); ++i)
      peaks.push_back({{"energy", rec.energy[i]}, {"rate", rec.rate[i]}, {"rate_uncertainty", rec.rate_sigma[i]}});
    nlohmann::json j{{"file", file},
                     {"spectrum_file", to_string(rec.file_name)},
                     {"title", to_string(rec.title)},
                     {"collected", format_date(d.day, d.month, d.year) + " " + format_time(d.hour, d.minute)},
                     {"live_time", rec.live_time},
                     {"peaks", peaks}};
    json_text_as_utf8(j);
    c_printf("%s\n", j.dump(1).c_str());
    return 0;
  }
  c_printf("Background file:  %s\n", file.c_str());
  c_printf("Spectrum file:    %s\n", to_string(rec.file_name).c_str());
  c_printf("Title:            %s\n", to_string(rec.title).c_str());
  c_printf("Collected:        %s %s\n", format_date(d.day, d.month, d.year).c_str(),
              format_time(d.hour, d.minute).c_str());
  c_printf("Live time:        %.0f s\n", static_cast<double>(rec.live_time));
  c_printf("Peaks:            %d\n\n", rec.peaks());
  c_printf("%5s %10s %14s %14s\n", "Peak", "Energy", "Rate (cps)", "+/- (cps)");
  for (int i = 0; i < rec.peaks(); ++i)
    c_printf("%5d %10.2f %14.5g %14.5g\n", i + 1, static_cast<double>(rec.energy[i]),
                static_cast<double>(rec.rate[i]), static_cast<double>(rec.rate_sigma[i]));
  return 0;
}

}  // namespace

int cmd_info(const Args& args) {
  std::string file;
  bool json = false, options_ended = false;
  for (const std::string& a : args) {
    if (!options_ended && a == "--")
      options_ended = true;
    else if (!options_ended && a == "--json")
      json = true;
    else if (!options_ended && (a == "--help" || a == "-h")) {
      c_printf("Usage: kestrim info FILE [--json]\n");
      return 0;
    } else if (file.empty() && (options_ended || a.empty() || a[0] != '-'))
      file = a;
    else {
      return usage_error("info: unexpected argument " + a, "Usage: kestrim info FILE [--json]\n");
    }
  }
  if (file.empty()) return usage_error("info: no FILE was given", "Usage: kestrim info FILE [--json]\n");
  if (iequals(extension_of(file), "bkg")) return info_background(file, json);
  HeadlessPlatform ui;
  State state(ui);
  FrontEndServices services;
  services.supply(state);
  // The Defaults say how text spectra are laid out, as for every other command.
  state.paths = default_paths();
  app_load_defaults(state, 0, DefaultsMode::kStartup);
  if (!check_extension(state, file)) return 1;
  state.app.current_file = base_name(file);
  if (!read_spectrum_file(state, file)) return 1;
  for (const std::string& w : state.spectrum.warnings)
    c_fprintf(stderr, "kestrim: %s: %s\n", file.c_str(), w.c_str());
  if (json) {
    c_printf("%s\n", spectrum_info_json(state.spectrum, file, state.app.spectrum_type).dump(1).c_str());
  } else {
    std::fputs(spectrum_info_text(state.spectrum, file, state.app.spectrum_type).c_str(), stdout);
  }
  return 0;
}

}  // namespace kestrim::cli
