#include "commands.h"

namespace kestrim::cli {

// Implemented in cmd_*.cpp beside this file.
int cmd_info(const Args& args);
int cmd_defaults(const Args& args);
int cmd_export_text(const Args& args);

const Subcommand* subcommands() {
  static const Subcommand table[] = {
      {"info", "show the header, calibration and counts of a spectrum file", cmd_info},
      {"defaults", "dump or make Defaults files (defaults dump FILE | make TEXT -o FILE)",
       cmd_defaults},
      {"export-text", "write a spectrum as a text file of channel counts", cmd_export_text},
      {nullptr, nullptr, nullptr},
  };
  return table;
}

}  // namespace kestrim::cli
