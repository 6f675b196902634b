// kestrim peaks FILE [--json]: searches and fits every region of a spectrum
// with the current parameters and prints the peak list.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <charconv>
#include <csignal>
#include <cerrno>
#include <vector>
#include <nlohmann/json.hpp>
#include <string>

#include "app/analysis_steps.h"
#include "platform/c_locale.h"
#include "app/command_line.h"
#include "app/startup.h"
#include "app/state.h"
#include "commands.h"
#include "front_end_services.h"
#include "peaks/peak_report_json.h"
#include "platform/c_format.h"
#include "platform/files.h"
#include "platform/headless_platform.h"

namespace kestrim::cli {

namespace {

// Removes the scratch folders of `peaks` runs that were killed before they
// could clean up: "kestrim-peaks-<pid>-XXXXXX" whose process is gone.
void remove_abandoned_scratch_folders() {
  const std::string tmp = "/tmp";
  const std::string prefix = "kestrim-peaks-";
  for (const std::string& entry : list_directory(tmp)) {
    if (entry.compare(0, prefix.size(), prefix) != 0) continue;
    long pid = 0;
    const char* first = entry.data() + prefix.size();
    const char* last = entry.data() + entry.size();
    auto r = std::from_chars(first, last, pid);
    if (r.ec != std::errc() || r.ptr == first || r.ptr == last || *r.ptr != '-' || pid <= 0) continue;
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    const std::string dir = join_path(tmp, entry);
    for (const std::string& name : list_directory(dir)) remove_file(join_path(dir, name));
    ::rmdir(dir.c_str());
  }
}

}  // namespace

int cmd_peaks(const Args& args) {
  FileArgs parsed;
  const int status = parse_file_args(args, "peaks", "Usage: kestrim peaks FILE [--json]\n", parsed);
  if (status >= 0) return status;
  const std::string& file = parsed.file;
  const bool json = parsed.json;
  HeadlessPlatform ui;
  ui.set_progress_enabled(!json);
  State state(ui);
  FrontEndServices services;
  services.supply(state);
  state.paths = default_paths();
  if (!initialise(state)) return 1;
  // An inspection leaves no reports behind: the fit's report files go to a
  // private folder removed at the end.
  remove_abandoned_scratch_folders();
  std::string scratch_name = c_format("/tmp/kestrim-peaks-%ld-XXXXXX", static_cast<long>(::getpid()));
  std::vector<char> scratch(scratch_name.begin(), scratch_name.end());
  scratch.push_back('\0');
  if (!::mkdtemp(scratch.data())) {
    c_fprintf(stderr, "kestrim peaks: cannot create a temporary folder\n");
    return 1;
  }
  const std::string spectrum_path =
      file.empty() || file.front() == '/' ? file : join_path(state.paths.working_dir, file);
  // Detector files are still the user's, in the folder the command runs in.
  state.paths.user_working_dir = state.paths.working_dir;
  state.paths.working_dir = scratch.data();
  struct Cleanup {
    std::string dir;
    ~Cleanup() {
      for (const std::string& name : list_directory(dir)) remove_file(join_path(dir, name));
      ::rmdir(dir.c_str());
    }
  } cleanup{scratch.data()};
  // Opened as in a batch run: no questions, no stored peaks taken over.
  state.app.batch_mode = true;
  state.app.batch_analysis = true;
  if (!parse_command_line(state, std::vector<std::string>{"file=" + spectrum_path}).ok) return 1;
  // The same search and region driver as a full analysis.
  if (!step_peak_search(state) || !step_fit_all_regions(state)) {
    c_fprintf(stderr, "kestrim peaks: the peaks of %s could not be fitted\n", file.c_str());
    return 1;
  }
  nlohmann::json j = peaks_json(state);
  if (json) {
    c_printf("%s\n", j.dump(1).c_str());
    return 0;
  }
  c_printf("%5s %10s %9s %8s %12s %10s %9s %11s %8s\n", "Peak", "Energy", "Centre", "FWHM",
              "Area", "+/- %", "Signif.", "Gammas/s", "Chi2");
  for (const auto& p : j["peaks"]) {
    c_printf("%5d %10.2f %9.2f %8.2f %12.1f %10.2f %9.1f %11.4g %8.2f\n", p["index"].get<int>(),
                p["energy"].get<double>(), p["centre"].get<double>(), p["fwhm"].get<double>(),
                p["area"].get<double>(), p["area_uncertainty_percent"].get<double>(),
                p["significance"].get<double>(), p["gammas_per_second"].get<double>(),
                p["chi_squared"].get<double>());
  }
  return 0;
}

}  // namespace kestrim::cli
