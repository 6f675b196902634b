// peak_accuracy: how well the search and the fitting engine recover known
// peaks from simulated NaI spectra (spectrum/simulate.h), with the standard
// peak settings (use_standard_peak_parameters).
//
// Usage: peak_accuracy [seeds]   (default 100 seeds per case)
//
// Output (stable; one header line, then one line per case, blank-separated
// columns):
//   case        single / doublet
//   area        true net area of each peak, counts
//   sep_fwhm    doublet separation in FWHM (0 for single peaks)
//   continuum   flat: 100 counts/channel falling 0.05 per channel;
//               curved: 300 exp(-E / 300 keV) + 10 counts/channel
//   seeds       spectra fitted
//   found       spectra in which a fitted peak lies within one sigma of the
//               truth (for a doublet: both peaks)
//   bias_pct    100 x (mean fitted area - truth) / truth (doublet: the sum)
//   z_mean      mean of (fitted - true) / uncertainty (1 sigma, as reported)
//   z_sd        spread of the same; 1 means the uncertainties are right,
//               below 1 that they are conservative
//   in3_pct     per cent of found peaks whose area is within 3 uncertainties
// A case with nothing found prints "-" in the last four columns.
// All figures are for the peak at 662 keV (doublet: its lower member for z).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "app/state.h"
#include "peaks/peak_report_json.h"
#include "peaks/peak_search.h"
#include "platform/headless_platform.h"
#include "spectrum/simulate.h"

namespace {

using namespace kestrim;

struct Case {
  const char* name;
  double area;
  double sep_fwhm;
  bool curved;
};

int nearest(const PeakList& list, const SimPeakTruth& t) {
  int best = 0;
  for (int k = 1; k <= list.count; ++k)
    if (std::fabs(list.centre[k] - t.centre) < t.sigma &&
        (best == 0 || std::fabs(list.centre[k] - t.centre) < std::fabs(list.centre[best] - t.centre)))
      best = k;
  return best;
}

void run_case(const Case& c, int seeds) {
  SimOptions o;
  o.peaks = {{662, c.area, 0}};
  if (c.sep_fwhm > 0) o.peaks.push_back({662 + c.sep_fwhm * o.fwhm_662, c.area, 0});
  if (c.curved) {
    o.bg_amplitude = 300;
    o.bg_decay_kev = 300;
    o.bg_constant = 10;
  } else {
    o.bg_constant = 100;
    o.bg_slope = -0.05;
  }
  int found = 0, in3 = 0;
  double sum_area = 0, sz = 0, sz2 = 0;
  const double truth = c.area * static_cast<double>(o.peaks.size());
  for (int seed = 1; seed <= seeds; ++seed) {
    o.seed = static_cast<std::uint64_t>(seed);
    HeadlessPlatform ui;
    auto state = std::make_unique<State>(ui);
    SimSpectrum sim = simulate_spectrum(o);
    store_simulated(sim, o, state->spectrum);
    use_standard_peak_parameters(state->params, o.channels);
    search_and_fit_all(*state);
    const PeakList& list = state->peaks;
    int k1 = nearest(list, sim.truth[0]);
    int k2 = sim.truth.size() > 1 ? nearest(list, sim.truth[1]) : -1;
    if (k1 == 0 || k2 == 0 || k1 == k2) continue;
    ++found;
    double area = list.net_area[k1];
    double unc = list.net_area_pct[k1] / 100 / state->params.peak_sigma * area;
    sum_area += area + (k2 > 0 ? list.net_area[k2] : 0.0);
    double z = unc > 0 ? (area - c.area) / unc : 0;
    sz += z;
    sz2 += z * z;
    if (std::fabs(z) <= 3 && unc > 0) ++in3;
  }
  if (found == 0) {
    std::printf("%-8s %7.0f %8.2f %-9s %5d %5d %8s %6s %5s %7s\n", c.name, c.area, c.sep_fwhm,
                c.curved ? "curved" : "flat", seeds, found, "-", "-", "-", "-");
    return;
  }
  double n = found;
  double zm = sz / n;
  std::printf("%-8s %7.0f %8.2f %-9s %5d %5d %8.2f %6.2f %5.2f %7.1f\n", c.name, c.area, c.sep_fwhm,
              c.curved ? "curved" : "flat", seeds, found, 100 * (sum_area / n - truth) / truth, zm,
              std::sqrt(std::max(sz2 / n - zm * zm, 0.0)), 100.0 * in3 / n);
}

}  // namespace

int main(int argc, char** argv) {
  int seeds = argc > 1 ? std::atoi(argv[1]) : 100;
  if (seeds < 1) seeds = 100;
  const Case cases[] = {
      {"single", 300, 0, false},    {"single", 1000, 0, false},  {"single", 10000, 0, false},
      {"single", 100000, 0, false}, {"single", 1000, 0, true},   {"single", 10000, 0, true},
      {"doublet", 8000, 1.0, false}, {"doublet", 8000, 1.5, false}, {"doublet", 8000, 2.0, false},
  };
  std::printf("%-8s %7s %8s %-9s %5s %5s %8s %6s %5s %7s\n", "case", "area", "sep_fwhm", "continuum", "seeds",
              "found", "bias_pct", "z_mean", "z_sd", "in3_pct");
  for (const Case& c : cases) run_case(c, seeds);
  return 0;
}
