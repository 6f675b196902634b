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
// counts go to them. Lines too weak to be fitted beside a strong one, and
// lines a little farther off whose flank a region's end cuts, are taken as
// known instead (Eu-152's 1299 keV line beside 1408 keV lifted the
// continuum under it by 8 %).
#pragma once

#include <vector>

namespace kestrim {

struct NuclideSession;

// A line of a nuclide found, missing from the peak list.
struct LineToFit {
  double energy = 0;      // library energy, keV
  double known_area = 0;  // counts when the line is taken as known; 0: fitted as a peak
  // A fitted line's counts at its nuclide's activity: it is taken as known
  // at that area should its fitted area come out negative.
  double activity_area = 0;
  // Not 0: no line is put in; the found peak of this number is held at
  // `energy` instead, the library energy of the line it was named after.
  int held_peak = 0;
};

// The lines (ascending) of the nuclides of the last analysis's results,
// above 150 keV, with no peak within their energy tolerance or
// three-quarters of a FWHM:
// - fitted as peaks: a found peak lies within 1.5 FWHM whose area they
//   would change by 3 % and by that area's uncertainty or more;
// - taken as known: the others within 2 FWHM of a peak their own nuclide
//   explains most of, with the area the nuclide's activity gives them when
//   that is under 40 % of the peak's;
// - blends split: where a line's nearest peak lies within three-quarters
//   of a FWHM but was named after another reported nuclide's line on its
//   far side, 0.6 to 1.5 FWHM from this one, the line is fitted as a
//   peak, under the same test of its share, and the found peak is held at
//   the other line's energy.
// Expected areas are the nuclide's activity times the line's yield and
// efficiency, scaled as the principal peak's area is to its emission rate.
std::vector<LineToFit> identified_lines_to_fit(const NuclideSession& state);

// Puts the fitted lines in, makes the known lines part of the continuum
// for this fit only (and a fitted line whose area comes out negative
// becomes one), and refits every region: the found peaks kept as
// decided, a region that took a line formed afresh. Returns the number of
// lines used (0: nothing was refitted); the caller analyses the new peak
// list again.
int fit_identified_lines(const NuclideSession& state, const std::vector<LineToFit>& lines);

}  // namespace kestrim
