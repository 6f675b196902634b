// Loading the Analysis Library named by the parameters (ALIB) into the
// library buffer.
#pragma once

namespace kestrim {

struct State;

// Loads the library named by ALIB into State.library. Returns 1, or 0 with
// the reason left in State.library_error ("Failed to Read Analysis Library"
// when no nuclide could be read; the reader shows its own messages).
int load_analysis_library_named(State& state);

}  // namespace kestrim
