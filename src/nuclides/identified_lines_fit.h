// The fit of the identified nuclides' weak lines: after a first
// identification, a reported nuclide's lines that no peak explains but that
// lie beside a found peak are put into the peak list at their library
// energies, and the peaks are fitted again with those lines held there.
//
// At NaI resolution a nuclide's weaker lines often merge into the
// continuum around its strong ones (Ac-228's 209, 270 and 328 keV lines
// around Pb-212's 239 keV line): fitted without them, the continuum rises
// to take their counts and the strong line's area comes out low (Th-232 in
// equilibrium about 12 % low). Fitted as peaks of known position, their
// counts go to them.
#pragma once

#include <vector>

namespace kestrim {

struct NuclideSession;

// The library energies (keV, ascending) of the lines to put in: lines above
// 150 keV of the nuclides of the last analysis's results with no peak
// within their energy tolerance or three-quarters of a FWHM, but a found
// peak within 1.5 FWHM whose area they would change by 3 % and by that
// area's uncertainty or more (judged from the nuclide's principal peak).
std::vector<double> identified_lines_to_fit(const NuclideSession& state);

// Puts the lines in and refits every region: the found peaks kept as
// decided, a region that took a line formed afresh. Returns the number of
// lines put in (0: the peak list is unchanged); the caller analyses the new
// peak list again.
int fit_identified_lines(const NuclideSession& state, const std::vector<double>& energies);

}  // namespace kestrim
