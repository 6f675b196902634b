// kestrim background SPECTRUM -o NAME.bkg: analyses a background spectrum
// (peak search and the fit of every region, no background subtraction) and
// saves its fitted peaks as a background file, as "Analyse and Save as Bkg"
// does. The name follows the background-file rules (at most 12 characters,
// ".bkg" appended when there is no extension, lower case); an existing file
// is replaced.
#include <cstdio>
#include <string>

#include "app/command_line.h"
#include "platform/c_locale.h"
#include "app/startup.h"
#include "app/state.h"
#include "commands.h"
#include "front_end_services.h"
#include "nuclides/background_file.h"
#include "platform/files.h"
#include "platform/headless_platform.h"

namespace kestrim::cli {

int cmd_background(const Args& args) {
  const char* usage = "Usage: kestrim background SPECTRUM -o NAME.bkg\n";
  std::string file, output;
  bool options_ended = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (!options_ended && a == "--") {
      options_ended = true;
    } else if (!options_ended && (a == "--help" || a == "-h")) {
      std::fputs(usage, stdout);
      return 0;
    } else if (!options_ended && a == "-o" && i + 1 < args.size()) {
      output = args[++i];
    } else if (file.empty() && (options_ended || a.empty() || a[0] != '-')) {
      file = a;
    } else {
      return usage_error("background: unexpected argument " + a, usage);
    }
  }
  if (file.empty() || output.empty())
    return usage_error("background: a SPECTRUM and -o NAME.bkg are needed", usage);
  HeadlessPlatform ui;
  State state(ui);
  FrontEndServices services;
  services.supply(state);
  state.paths = default_paths();
  if (!initialise(state)) return 1;
  state.app.batch_mode = true;
  state.app.batch_analysis = true;
  state.params.prompt_add_peaks = 0;
  state.params.prompt_remove_peaks = 0;
  // The spectrum is analysed as it stands: no background is loaded for it.
  state.params.background_cps_subtraction = 0;
  if (!parse_command_line(state, std::vector<std::string>{"file=" + file}).ok) return 1;
  state.params.prompt_add_peaks = 0;
  state.params.prompt_remove_peaks = 0;

  std::string dir = dir_name(output);
  if (dir.empty()) dir = ".";
  std::string name;
  if (!accept_background_name(state, base_name(output), dir, true, name)) return 1;
  if (!analyse_and_save_background(state, name, false)) return 1;
  c_printf("%s: %d background peaks\n", join_path(dir, name).c_str(), state.background.peaks());
  return 0;
}

}  // namespace kestrim::cli
