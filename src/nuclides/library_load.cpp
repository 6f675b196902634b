#include "nuclides/library_load.h"

#include "nuclides/nuclide_session.h"
#include "platform/files.h"
#include "platform/platform.h"

namespace kestrim {

int load_analysis_library_named(const NuclideSession& state, bool quiet_when_missing) {
  const std::string title = to_string(state.params.analysis_library);
  if (quiet_when_missing && (title.empty() || !file_exists(library_read_path(state.paths, title)))) {
    state.library_error = kLibraryReadFailed;
    return 0;
  }
  std::string error;
  const int r = load_library(*state.ui, state.paths, title, state.library, &error);
  if (r == 1) {
    state.library_error.clear();
    return 1;
  }
  // A damaged file (cut short, or an entry that cannot be read) or one that
  // holds no nuclide is refused whole: analysing with the nuclides read
  // before the damage would report the others as absent.
  state.library_error = error.empty() ? std::string(kLibraryReadFailed) : error;
  state.library.clear();
  if (r < 0)
    state.ui->message_box("The Analysis Library is damaged:- " + error);
  else if (!title.empty())
    state.ui->message_box(std::string(kLibraryReadFailed) + ":- " + title);
  return 0;
}

}  // namespace kestrim
