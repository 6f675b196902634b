// Simulated NaI(Tl) spectra of radioactive sources of known activity, for
// the tests and the benchmark of the total-spectrum fit.
//
// A 3"x3" crystal (FWHM 1.79 sqrt(E) keV) over 0 to 3072 keV: each gamma
// line of a source gives a photopeak of activity x yield x efficiency x
// live time counts, with its realistic Compton continuum (spectrum/
// simulate.h). The full-energy efficiency is 0.05 (662 / E)^0.9, flat below
// 150 keV; the continuum holds from 0.3 (at 120 keV) to 4 times the
// photopeak's counts. No environmental background.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "spectrum/simulate.h"

namespace kestrim {

struct SourceLine {
  double energy_kev;
  double yield;  // gammas per decay
};

// The gamma lines of the simulated sources: "Cs-137", "Co-60", "K-40",
// "Ra-226" (with its short-lived daughters Pb-214 and Bi-214),
// "Th-232" (with the Ac-228, Pb-212, Bi-212 and Tl-208 of its chain in
// equilibrium), "Am-241", "Ba-133", "Cs-134", "Mn-54", "Na-22"; empty for
// any other name.
std::vector<SourceLine> source_lines(const std::string& nuclide);

// The names above, in that order.
std::vector<std::string> simulated_sources();

double simulated_efficiency(double energy_kev);

struct SourceActivity {
  std::string nuclide;
  double activity_bq;
};

// Options for a spectrum of the given sources counted for `live_time`
// seconds over `channels` channels, with the energy gain multiplied by
// `gain_factor` (1.01: every line 1 % lower in channels).
SimOptions source_spectrum_options(const std::vector<SourceActivity>& sources, int channels,
                                   double live_time, double gain_factor, std::uint64_t seed);

}  // namespace kestrim
