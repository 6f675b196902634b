// Start-up of the program: the fixed order of checks (working directory,
// temporary-file test, Libraries folder, start-up Defaults file), then the
// command line, then either the command-line batch or the interactive
// program.
#pragma once

#include <string>
#include <vector>

namespace kestrim {

struct State;
struct Paths;

// Where the program's folders are, from the environment:
//  program directory: KESTRIM_HOME, else the build tree's share/kestrim
//    beside the executable, else <prefix>/share/kestrim;
//  user directory: $XDG_DATA_HOME/kestrim, else ~/.local/share/kestrim;
//  working directory: the current directory.
Paths default_paths();

// The start-up checks; each failure shows its message and returns 0.
int initialise(State& state);

enum class RunOutcome {
  kFailed,       // a start-up check, the command line or the batch failed
  kSucceeded,    // the batch ran and succeeded
  kInteractive,  // no batch was asked for: the desktop program takes over
};

// Start-up, command line and (with /batch) the command-line batch.
RunOutcome run_program(State& state, const std::string& command_line);
RunOutcome run_program(State& state, const std::vector<std::string>& tokens);

}  // namespace kestrim
