// The total-spectrum road of an analysis: the fit of the spectrum with the
// reference spectra of the session, its reports, and saving the spectrum as
// a reference.
#pragma once

#include <string>

#include "reports/reference_report.h"

namespace kestrim {

struct State;

// The report rows of the last fit of the session's reference set (empty
// when it did not end in a fit).
ReferenceReport reference_report(const State& state);

// Fits the spectrum with the reference spectra (the front end's capability;
// a build without it says so) and writes "fit_diag.txt" and the main report
// (with its CSV database line when that is on). 1, or 0 after a reported
// failure; a failed fit writes no report.
int reference_analysis(State& state);

// Saves the spectrum in memory as a reference spectrum file: the title
// must be shorter than 16 characters, the activity above 0 and the
// uncertainty at least 0; ".rsd" is appended to a name without extension.
// An existing file is replaced when `replace` is set, else the user is
// asked. 1 or 0 (reported).
int save_reference_spectrum(State& state, const std::string& path, const std::string& title,
                            double activity_bq, double uncertainty_pct, bool replace);

}  // namespace kestrim
