// The kestrim command: the program's own command line (/batch /file=... and
// the GNU forms) for batch analysis, plus subcommands for headless use.
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

#include "commands.h"
#include "platform/c_locale.h"

namespace kestrim::cli {

static void print_usage() {
  c_printf(
      "Usage: kestrim [/batch] [/file=PATH] [/keyword[=value] ...]\n"
      "       kestrim [--batch] [--file=PATH] [--keyword[=value] ...]\n"
      "       kestrim COMMAND [ARGS]\n\n"
      "Keywords: batch display print autocal enecal shape effcal save update\n"
      "          det=N geo=N app=NAME file=PATH src=NAME pkslib=LIB lodlib=LIB\n"
      "          lib=LIB dbase=PATH\n\nCommands:\n");
  for (const Subcommand* c = subcommands(); c->name; ++c)
    c_printf("  %-14s %s\n", c->name, c->summary);
  c_printf("\nExit status is 0 when the run succeeded.\n");
}

}  // namespace kestrim::cli

int main(int argc, char** argv) {
  // Messages may follow the user's locale; numbers in files, reports and
  // command lines never do (platform/c_locale.h).
  std::setlocale(LC_ALL, "");
  using namespace kestrim::cli;
  Args args(argv + 1, argv + argc);
  if (!args.empty()) {
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
      print_usage();
      return 0;
    }
    if (args[0] == "--version") {
      kestrim::c_printf("kestrim %s\n", KESTRIM_VERSION);
      return 0;
    }
    for (const Subcommand* c = subcommands(); c->name; ++c) {
      if (args[0] == c->name) return c->run(Args(args.begin() + 1, args.end()));
    }
  }
  return run_main_command_line(args);
}
