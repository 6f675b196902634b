// Loading the Analysis Library named by the parameters (ALIB) into the
// library buffer.
#pragma once

namespace kestrim {

struct NuclideSession;

// Loads the library named by ALIB into State.library. Returns 1, or 0 with
// the reason left in State.library_error ("Failed to Read Analysis Library"
// when no nuclide could be read) and an empty library: a damaged or empty
// file is reported and never used in part.
// `quiet_when_missing`: a library file that does not exist (or no name) is
// passed over without a message (loading a Defaults file); the analysis
// itself reports it.
int load_analysis_library_named(const NuclideSession& state, bool quiet_when_missing = false);

}  // namespace kestrim
