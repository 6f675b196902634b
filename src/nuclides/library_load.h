// Loading the Analysis Library named by the parameters (ALIB) into the
// library buffer.
#pragma once

namespace kestrim {

struct State;

// Loads the library named by ALIB into State.library. Returns 1, or 0 after
// showing why it failed ("Failed to Read Analysis Library" when no nuclide
// could be read).
int load_analysis_library_named(State& state);

}  // namespace kestrim
