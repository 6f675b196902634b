#include <cstdio>

#include "commands.h"

namespace kestrim::cli {

int cmd_info(const Args&) {
  std::fprintf(stderr, "kestrim info: not built yet\n");
  return 2;
}
int run_main_command_line(const Args&) { return 0; }

}  // namespace kestrim::cli
