// The kestrim command: the program's own command line (/batch /file=... and
// the GNU forms) for batch analysis, plus subcommands for headless use.
#include <cstdio>
#include <cstring>
#include <string>

#include "commands.h"

namespace kestrim::cli {

static void print_usage() {
  std::printf(
      "Usage: kestrim [/batch] [/file=PATH] [/keyword[=value] ...]\n"
      "       kestrim [--batch] [--file=PATH] [--keyword[=value] ...]\n"
      "       kestrim COMMAND [ARGS]\n\n"
      "Keywords: batch display print autocal enecal shape effcal save update\n"
      "          det=N geo=N app=NAME file=PATH src=NAME pkslib=LIB lodlib=LIB\n"
      "          lib=LIB dbase=PATH\n\nCommands:\n");
  for (const Subcommand* c = subcommands(); c->name; ++c)
    std::printf("  %-14s %s\n", c->name, c->summary);
  std::printf("\nExit status is 0 when the run succeeded.\n");
}

}  // namespace kestrim::cli

int main(int argc, char** argv) {
  using namespace kestrim::cli;
  Args args(argv + 1, argv + argc);
  if (!args.empty()) {
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
      print_usage();
      return 0;
    }
    if (args[0] == "--version") {
      std::printf("kestrim %s\n", KESTRIM_VERSION);
      return 0;
    }
    for (const Subcommand* c = subcommands(); c->name; ++c) {
      if (args[0] == c->name) return c->run(Args(args.begin() + 1, args.end()));
    }
  }
  return run_main_command_line(args);
}
