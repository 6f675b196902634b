// The kestrim command: the program's own command line (/batch /file=... and
// the GNU forms) for batch analysis, plus subcommands for headless use.
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

#include "commands.h"
#include "platform/c_locale.h"

namespace kestrim::cli {

static void print_usage(std::FILE* to) {
  c_fprintf(to,
      "Usage: kestrim [/batch] [/file=PATH] [/keyword[=value] ...]\n"
      "       kestrim [--batch] [--file PATH] [--keyword[=value] ...] [-- PATH]\n"
      "       kestrim COMMAND [ARGS]\n\n"
      "Keywords: batch display print autocal enecal shape effcal save update\n"
      "          det=N geo=N app=NAME file=PATH src=NAME pkslib=LIB lodlib=LIB\n"
      "          lib=LIB dbase=PATH\n\nCommands:\n");
  for (const Subcommand* c = subcommands(); c->name; ++c)
    c_fprintf(to, "  %-14s %s\n", c->name, c->summary);
  c_fprintf(to,
            "\nExit status: 0 the run did what was asked, 1 it failed, 2 the command line was "
            "wrong.\n");
}

int usage_error(const std::string& text) {
  c_fprintf(stderr, "kestrim: %s\n", text.c_str());
  print_usage(stderr);
  return 2;
}

int usage_error(const std::string& text, const char* usage) {
  c_fprintf(stderr, "kestrim: %s\n", text.c_str());
  std::fputs(usage, stderr);
  return 2;
}

int parse_file_args(const Args& args, const char* name, const char* usage, FileArgs& out) {
  bool options_ended = false;
  for (const std::string& a : args) {
    if (!options_ended && a == "--") {
      options_ended = true;
    } else if (!options_ended && a == "--json") {
      out.json = true;
    } else if (!options_ended && (a == "--help" || a == "-h")) {
      std::fputs(usage, stdout);
      return 0;
    } else if (out.file.empty() && (options_ended || a.empty() || a[0] != '-')) {
      out.file = a;
    } else {
      return usage_error(std::string(name) + ": unexpected argument " + a, usage);
    }
  }
  if (out.file.empty()) return usage_error(std::string(name) + ": no FILE was given", usage);
  return -1;
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
      print_usage(stdout);
      return 0;
    }
    if (args[0] == "--version") {
      kestrim::c_printf("kestrim %s\n", KESTRIM_VERSION);
      return 0;
    }
    for (const Subcommand* c = subcommands(); c->name; ++c) {
      if (args[0] == c->name) return c->run(Args(args.begin() + 1, args.end()));
    }
    // Anything else is the program's own command line, which starts with a
    // keyword.
    const std::string& first = args[0];
    if (first != "--" && first.rfind("--", 0) != 0 && first.rfind('/', 0) != 0)
      return usage_error("unknown command " + first);
  } else {
    return usage_error("no command or keyword was given");
  }
  return run_main_command_line(args);
}
