#include "nuclides/library_load.h"

#include "app/state.h"

namespace kestrim {

int load_analysis_library_named(State& state) {
  const std::string title = to_string(state.params.analysis_library);
  std::string error;
  const int r = load_library(*state.ui, state.paths, title, state.library, &error);
  if (r == 1) return 1;
  // The reason stays as the last error text (the reader has shown its own
  // messages); a cut-short file keeps the nuclides read before the damage.
  state.library_error = error;
  return r < 0 && state.library.nuclide_count > 0 ? 1 : 0;
}

}  // namespace kestrim
