// The program's own command line: start-up, then the command-line batch.
#include <cstdio>

#include "app/command_line.h"
#include "platform/c_locale.h"
#include "app/startup.h"
#include "app/state.h"
#include "commands.h"
#include "platform/headless_platform.h"

namespace kestrim::cli {

int run_main_command_line(const Args& args) {
  HeadlessPlatform ui;
  State state(ui);
  state.paths = default_paths();
  RunOutcome outcome = run_program(state, command_line_from_args(args));
  switch (outcome) {
    case RunOutcome::kSucceeded:
      return 0;
    case RunOutcome::kInteractive:
      c_fprintf(stderr,
                   "kestrim: no batch run was asked for (use /batch /file=SPECTRUM, or "
                   "kestrim --help)\n");
      return 0;
    case RunOutcome::kFailed:
    default:
      return 1;
  }
}

}  // namespace kestrim::cli
