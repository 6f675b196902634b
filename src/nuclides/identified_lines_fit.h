// The fit of the identified nuclides' lines: after a first identification,
// every line of a reported nuclide that no peak explains is put into the
// peak list at its library energy and the peaks are fitted again, with the
// put-in lines held at their energies.
//
// At NaI resolution a nuclide's weaker lines often merge into the
// continuum around its strong ones (Ac-228's 209, 270 and 328 keV lines
// around Pb-212's 239 keV line): fitted without them, the continuum rises
// to take their counts and the strong line's area comes out low (Th-232 in
// equilibrium about 12 % low). Fitted as peaks of known position, their
// counts go to them.
#pragma once

namespace kestrim {

struct NuclideSession;

// Puts in the lines (above 150 keV) of the nuclides of the last analysis's
// results that have no peak within their energy tolerance or three-quarters
// of a FWHM but a found peak within 1.5 FWHM whose area they would change
// by 5 % and by its uncertainty or more, and refits every region (the found peaks kept as
// decided; a region that took a line formed afresh). Returns the number of
// lines put in (0: the peak list is unchanged); the caller analyses the new
// peak list again.
int fit_identified_lines(const NuclideSession& state);

}  // namespace kestrim
