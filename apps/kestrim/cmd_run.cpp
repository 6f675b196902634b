// The program's own command line: start-up, then the command-line batch.
#include <cstdio>

#include "app/command_line.h"
#include "platform/c_locale.h"
#include "app/startup.h"
#include "app/state.h"
#include "commands.h"
#include "front_end_services.h"
#include "platform/headless_platform.h"

namespace kestrim::cli {

int run_main_command_line(const Args& args) {
  std::vector<std::string> tokens;
  std::string error;
  if (!command_line_tokens(args, tokens, error)) return usage_error(error);
  for (const std::string& t : tokens) {
    const std::string k = keyword_of(t);
    // This program has no window to show the spectrum in.
    if (k == "display") {
      c_fprintf(stderr,
                "kestrim: showing the spectrum (/display) is not available in this build; "
                "nothing was done\n");
      return 1;
    }
  }
  HeadlessPlatform ui;
  State state(ui);
  FrontEndServices services;
  services.supply(state, true);
  state.paths = default_paths();
  RunOutcome outcome = run_program(state, tokens);
  switch (outcome) {
    case RunOutcome::kSucceeded:
      return 0;
    case RunOutcome::kInteractive:
      // Without a window nothing else can be done: the run did not do what
      // its keywords asked.
      c_fprintf(stderr,
                "kestrim: no batch run was asked for (use /batch /file=SPECTRUM, or "
                "kestrim --help)\n");
      return 1;
    case RunOutcome::kFailed:
    default:
      return 1;
  }
}

}  // namespace kestrim::cli
