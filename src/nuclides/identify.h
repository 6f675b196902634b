// Nuclide identification: matches the lines of each nuclide of the library
// buffer against the fitted peaks, computes a confidence value, accepts or
// rejects the nuclide and records the identified lines of the accepted
// ones. Every decision is written to the diagnostic report.
//
// Needs: the library buffer (State.library), the fitted peak list with the
// peaks' gammas per second, the analysis range and the decay interval in
// State.results (set by the activity driver), and the parameters ETOL,
// CONF, UNLP, PLIB, UPPK, LODC and the background-subtraction switch.
#pragma once

#include <string>
#include <vector>

namespace kestrim {

struct NuclideSession;
struct ReportText;

// The character that marks a sum-peak entry of the library: the name before
// it is the nuclide whose lines sum.
inline constexpr char kSumPeakMark = static_cast<char>(0xE4);

// Names of the nuclides of the peak search library (PLIB), read once with
// the streaming reader. Empty (after the reader's message) when the library
// cannot be opened.
std::vector<std::string> peak_search_library_names(const NuclideSession& state);

// Identification over the whole library buffer. Fills State.results
// (accepted nuclides, identified lines); diagnostic lines go to `diag`,
// the removal notes of the limit-of-detection check to `activity`.
// Returns the number of accepted nuclides. A user abort between nuclides
// ends it with what was accepted so far.
int identify_nuclides(const NuclideSession& state, ReportText& diag, ReportText& activity);

}  // namespace kestrim
