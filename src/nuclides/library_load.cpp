#include "nuclides/library_load.h"

#include "app/state.h"
#include "platform/platform.h"

namespace kestrim {

int load_analysis_library_named(State& state) {
  const std::string title = to_string(state.params.analysis_library);
  std::string error;
  const int r = load_library(*state.ui, state.paths, title, state.library, &error);
  if (r == 1) return 1;
  // A cut-short file keeps the nuclides read before the damage.
  if (!error.empty()) state.ui->message_box(error);
  return r < 0 && state.library.nuclide_count > 0 ? 1 : 0;
}

}  // namespace kestrim
