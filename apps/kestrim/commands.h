// Subcommands of the kestrim program. Each takes the arguments after its
// name and returns the process exit status (0 success).
#pragma once

#include <string>
#include <vector>

namespace kestrim::cli {

using Args = std::vector<std::string>;

struct Subcommand {
  const char* name;
  const char* summary;
  int (*run)(const Args& args);
};

// The table of subcommands, ending with a null name.
const Subcommand* subcommands();

// Runs the program's own command line (/batch /file=... or --batch --file=...).
int run_main_command_line(const Args& args);

}  // namespace kestrim::cli
