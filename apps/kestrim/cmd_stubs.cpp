#include <cstdio>

#include "commands.h"

namespace kestrim::cli {

int cmd_defaults(const Args&) {
  std::fprintf(stderr, "kestrim defaults: not built yet\n");
  return 2;
}

}  // namespace kestrim::cli
