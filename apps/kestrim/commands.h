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

// Prints "kestrim: TEXT" and the usage on stderr; returns 2, the exit
// status of a wrong command line.
int usage_error(const std::string& text);
// The same for a subcommand: "kestrim: TEXT" and its own usage line.
int usage_error(const std::string& text, const char* usage);

// The arguments "FILE [--json]" of a subcommand ("--" ends the options).
struct FileArgs {
  std::string file;
  bool json = false;
};
// Reads them into `out`. Returns -1 when the command should go on, else the
// exit status to return: 0 after --help (the usage on stdout), 2 on a wrong
// argument or a missing FILE ("kestrim: NAME: ..." and the usage on stderr).
int parse_file_args(const Args& args, const char* name, const char* usage, FileArgs& out);

// Runs the program's own command line (/batch /file=... or --batch --file=...).
int run_main_command_line(const Args& args);

}  // namespace kestrim::cli
