#include "nuclides/library_load.h"

#include "nuclides/nuclide_session.h"
#include "platform/files.h"

namespace kestrim {

int load_analysis_library_named(const NuclideSession& state, bool quiet_when_missing) {
  const std::string title = to_string(state.params.analysis_library);
  if (quiet_when_missing && (title.empty() || !file_exists(library_read_path(state.paths, title)))) {
    state.library_error = kLibraryReadFailed;
    return 0;
  }
  std::string error;
  const int r = load_library(*state.ui, state.paths, title, state.library, &error);
  if (r == 1) return 1;
  // The reason stays as the last error text (the reader has shown its own
  // messages); a cut-short file keeps the nuclides read before the damage.
  state.library_error = error;
  return r < 0 && state.library.nuclide_count > 0 ? 1 : 0;
}

}  // namespace kestrim
