// kestrim reference make SPECTRUM --activity BQ --uncertainty PCT -o NAME.rsd
// [--title TEXT] [--replace]: saves a spectrum as a reference spectrum
// (".rsd") of a source of known activity, as "Save Reference Spectrum"
// does. kestrim reference list [DIR]: the reference spectra of a folder
// with their titles and activities.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/reference_analysis.h"
#include "app/startup.h"
#include "app/state.h"
#include "commands.h"
#include "front_end_services.h"
#include "platform/c_locale.h"
#include "platform/files.h"
#include "platform/headless_platform.h"
#include "platform/text_encoding.h"
#include "reference/reference_file.h"

namespace kestrim::cli {

namespace {

const char* kUsage =
    "Usage: kestrim reference make SPECTRUM --activity BQ --uncertainty PCT -o NAME.rsd\n"
    "                              [--title TEXT] [--replace]\n"
    "       kestrim reference list [DIR]\n"
    "  --activity BQ     activity of the reference source, Bq\n"
    "  --uncertainty PCT its uncertainty, per cent\n"
    "  --title TEXT      the reference's title, at most 15 characters (default: NAME)\n"
    "  --replace         replace an existing NAME.rsd\n";

bool parse_number(const std::string& text, double& out) {
  char* end = nullptr;
  out = c_strtod(text.c_str(), &end);
  return !text.empty() && end && *end == 0;
}

int make(const Args& args) {
  std::string file, output, title;
  bool have_title = false, replace = false, options_ended = false;
  bool have_activity = false, have_uncertainty = false;
  double activity = 0, uncertainty = 0;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool has_value = i + 1 < args.size();
    if (!options_ended && a == "--") {
      options_ended = true;
    } else if (!options_ended && (a == "--help" || a == "-h")) {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (!options_ended && a == "-o" && has_value) {
      output = args[++i];
    } else if (!options_ended && a == "--title" && has_value) {
      title = args[++i];
      have_title = true;
    } else if (!options_ended && a == "--replace") {
      replace = true;
    } else if (!options_ended && a == "--activity" && has_value) {
      if (!parse_number(args[++i], activity))
        return usage_error("reference make: --activity takes a number of Bq", kUsage);
      have_activity = true;
    } else if (!options_ended && a == "--uncertainty" && has_value) {
      if (!parse_number(args[++i], uncertainty))
        return usage_error("reference make: --uncertainty takes a number of per cent", kUsage);
      have_uncertainty = true;
    } else if (file.empty() && (options_ended || a.empty() || a[0] != '-')) {
      file = a;
    } else {
      return usage_error("reference make: unexpected argument " + a, kUsage);
    }
  }
  if (file.empty() || output.empty() || !have_activity || !have_uncertainty)
    return usage_error(
        "reference make: a SPECTRUM, --activity BQ, --uncertainty PCT and -o NAME.rsd are needed", kUsage);
  if (!have_title) {
    title = base_name(output);
    const auto dot = title.rfind('.');
    if (dot != std::string::npos && dot > 0) title.resize(dot);
  }
  HeadlessPlatform ui;
  State state(ui);
  FrontEndServices services;
  services.supply(state);
  state.paths = default_paths();
  if (!initialise(state)) return 1;
  state.app.batch_mode = true;
  if (!parse_command_line(state, std::vector<std::string>{"file=" + file}).ok) return 1;
  std::string target = output;
  if (base_name(target).find('.') == std::string::npos) target += ".rsd";
  if (!save_reference_spectrum(state, target, title, activity, uncertainty, replace)) return 1;
  c_printf("%s: reference \"%s\", %.6g Bq +/- %.3g %%, %d channels, live time %.6g s\n", target.c_str(),
           title.c_str(), activity, uncertainty, state.spectrum.channels(),
           static_cast<double>(state.spectrum.header.live_time));
  return 0;
}

int list(const Args& args) {
  if (args.size() > 1) return usage_error("reference list: unexpected argument " + args[1], kUsage);
  const std::string dir = args.empty() ? "." : args[0];
  std::vector<std::string> names;
  for (const std::string& name : list_directory(dir))
    if (wildcard_match("*.rsd", name)) names.push_back(name);
  std::sort(names.begin(), names.end());
  HeadlessPlatform ui;
  int status = 0;
  c_printf("%-24s %-15s %12s %7s %10s %8s\n", "file", "title", "activity_bq", "unc_pct", "live_s",
           "channels");
  for (const std::string& name : names) {
    ReferenceSpectrum ref;
    if (!read_reference_file(join_path(dir, name), ref, ui)) {
      status = 1;
      continue;
    }
    c_printf("%-24s %-15s %12.5g %7.2f %10.6g %8d\n", name.c_str(), text_as_utf8(ref.title).c_str(), ref.activity_bq,
             ref.activity_uncertainty_pct, ref.live_time, ref.channels);
  }
  return status;
}

}  // namespace

int cmd_reference(const Args& args) {
  if (args.empty()) return usage_error("reference: make or list is needed", kUsage);
  if (args[0] == "--help" || args[0] == "-h") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  const Args rest(args.begin() + 1, args.end());
  if (args[0] == "make") return make(rest);
  if (args[0] == "list") return list(rest);
  return usage_error("reference: unknown action " + args[0], kUsage);
}

}  // namespace kestrim::cli
