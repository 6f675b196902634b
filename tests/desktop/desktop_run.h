// Runs the desktop program offscreen on a script, as the desktop tests do:
// the working directory is `dir`/work, the user's data `dir`/user, and the
// script and transcript files lie in `dir`.
#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace kestrim::test {

struct DesktopRun {
  int status = 0;                  // the program's exit status
  std::string output;              // what it printed
  std::vector<std::string> lines;  // the transcript, line by line
};

inline DesktopRun run_desktop_script(const TempDir& dir, const std::string& script) {
  write_text(dir.file("script.txt"), script);
  DesktopRun run;
  run.status = run_command("cd '" + dir.file("work") + "' && QT_QPA_PLATFORM=offscreen XDG_DATA_HOME='" +
                               dir.file("user") + "' '" KESTRIM_DESKTOP_BINARY "' --script '" +
                               dir.file("script.txt") + "' --transcript '" + dir.file("transcript.txt") + "'",
                           &run.output, true);
  std::istringstream in(read_text(dir.file("transcript.txt")));
  for (std::string line; std::getline(in, line);) run.lines.push_back(line);
  return run;
}

}  // namespace kestrim::test
