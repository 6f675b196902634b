// kestrim info FILE [--json]: the header, times, calibration and counts of
// any spectrum file Kestrim reads.
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "app/open_spectrum.h"
#include "app/state.h"
#include "commands.h"
#include "platform/files.h"
#include "platform/headless_platform.h"
#include "spectrum/dates.h"
#include "spectrum/formats.h"
#include "spectrum/spectrum_file.h"
#include "spectrum/spectrum_info.h"

namespace kestrim::cli {

int cmd_info(const Args& args) {
  std::string file;
  bool json = false;
  for (const std::string& a : args) {
    if (a == "--json")
      json = true;
    else if (a == "--help" || a == "-h") {
      std::printf("Usage: kestrim info FILE [--json]\n");
      return 0;
    } else if (file.empty())
      file = a;
    else {
      std::fprintf(stderr, "kestrim info: unexpected argument %s\n", a.c_str());
      return 2;
    }
  }
  if (file.empty()) {
    std::fprintf(stderr, "Usage: kestrim info FILE [--json]\n");
    return 2;
  }
  HeadlessPlatform ui;
  State state(ui);
  state.paths.working_dir = ".";
  if (!check_extension(state, file)) return 1;
  state.app.current_file = base_name(file);
  if (!read_spectrum_file(state, file)) return 1;
  for (const std::string& w : state.spectrum.warnings)
    std::fprintf(stderr, "kestrim: %s: %s\n", file.c_str(), w.c_str());
  if (json) {
    std::printf("%s\n", spectrum_info_json(state.spectrum, file, state.app.spectrum_type).dump(1).c_str());
  } else {
    std::fputs(spectrum_info_text(state.spectrum, file, state.app.spectrum_type).c_str(), stdout);
  }
  return 0;
}

}  // namespace kestrim::cli
