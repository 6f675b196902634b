#include "app/startup.h"
#include "platform/c_locale.h"

#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "app/analysis.h"
#include "app/command_line.h"
#include "app/settings_bridge.h"
#include "app/state.h"
#include "platform/files.h"
#include "platform/platform.h"

namespace kestrim {

namespace {

constexpr const char* kSupportCaption = "Kestrim support: see README.md";

std::string executable_dir() {
  char buf[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  buf[n] = 0;
  return dir_name(buf);
}

std::string current_dir() {
  char buf[PATH_MAX];
  if (!::getcwd(buf, sizeof buf)) return ".";
  return buf;
}

}  // namespace

Paths default_paths() {
  Paths paths;
  if (const char* home = std::getenv("KESTRIM_HOME"); home && *home) {
    paths.program_dir = home;
  } else {
    std::string exe = executable_dir();
    std::string beside = join_path(exe, "share/kestrim");
    std::string installed = join_path(dir_name(exe), "share/kestrim");
    if (!exe.empty() && directory_exists(beside))
      paths.program_dir = beside;
    else if (!exe.empty() && directory_exists(installed))
      paths.program_dir = installed;
    else if (directory_exists(KESTRIM_BUILD_DATA_DIR))
      paths.program_dir = KESTRIM_BUILD_DATA_DIR;
    else
      paths.program_dir = KESTRIM_INSTALL_DATA_DIR;
  }
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
    paths.user_dir = join_path(xdg, "kestrim");
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    paths.user_dir = join_path(home, ".local/share/kestrim");
  }
  paths.working_dir = current_dir();
  return paths;
}

int initialise(State& state) {
  Platform& ui = *state.ui;
  state.app.status_text = "Ready";

  if (is_network_filesystem(state.paths.working_dir))
    ui.message_box("It is recommended that the Working Directory is on a Disk Drive on this machine",
                   "The current Working Directory is on a Network Drive", kMsgWarning);

  // Prove that the working directory is writable.
  const std::string probe = join_path(state.paths.working_dir, "templib.$$$");
  int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    ui.message_box("Could not create temporary file", "The working Directory must have write access",
                   kMsgError);
    return 0;
  }
  ::close(fd);
  ::unlink(probe.c_str());

  const std::string shipped = join_path(state.paths.program_dir, "Libraries");
  const std::string own = state.paths.user_dir.empty() ? std::string()
                                                       : join_path(state.paths.user_dir, "Libraries");
  if (!directory_exists(resolve_path(shipped)) && (own.empty() || !directory_exists(own))) {
    char buf[600];
    c_snprintf(buf, sizeof buf, "Could not find Library Directory:- %s", shipped.c_str());
    ui.message_box(buf, kSupportCaption, kMsgError);
    return 0;
  }

  if (!app_load_defaults(state, 0, DefaultsMode::kStartup)) return 0;
  return 1;
}

namespace {
RunOutcome run_parsed(State& state, const CommandLineResult& parsed) {
  if (!parsed.ok) return RunOutcome::kFailed;
  // A batch does not run with a keyword that could not be carried out (a
  // missing library would leave the previous one in use).
  if (state.app.batch_mode && parsed.refused) return RunOutcome::kFailed;
  if (!state.app.batch_mode) return RunOutcome::kInteractive;
  int result = run_command_line_batch(state, parsed.save_requested, parsed.update_without_asking);
  // The exit clean-up saves the parameters; a run whose settings could not
  // be kept did not do all that was asked. A run that failed keeps nothing:
  // the keywords it was given (a detector, a geometry, a library) must not
  // carry over into the next run as if they had worked.
  if (result == 1 && !app_save_parameters(state)) result = 0;
  return result == 1 ? RunOutcome::kSucceeded : RunOutcome::kFailed;
}
}  // namespace

RunOutcome run_program(State& state, const std::string& command_line) {
  if (!initialise(state)) return RunOutcome::kFailed;
  return run_parsed(state, parse_command_line(state, command_line));
}

RunOutcome run_program(State& state, const std::vector<std::string>& tokens) {
  if (!initialise(state)) return RunOutcome::kFailed;
  return run_parsed(state, parse_command_line(state, tokens));
}

}  // namespace kestrim
