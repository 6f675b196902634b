#include "nuclides/quant_common.h"

#include <algorithm>
#include <cmath>

#include "nuclides/nuclide_session.h"
#include "peaks/peak_search.h"
#include "peaks/resolution_estimate.h"
#include "platform/c_format.h"
#include "settings/calibration_functions.h"

namespace kestrim {

double nuclide_tolerance(const AnalysisParameters& p, double energy_kev, const NuclideResults& res) {
  const double k = res.auto_calibration ? 0.0015 : 0.00075;
  return (0.25 * p.energy_tolerance + k * p.energy_tolerance * energy_kev) * res.tolerance_scale;
}

double line_tolerance(const AnalysisParameters& p, double energy_kev, const NuclideResults& res) {
  const double t = identification_tolerance(p, energy_kev, res.auto_calibration);
  return energy_kev > 510 && energy_kev < 512 ? t : t * res.tolerance_scale;
}

double tolerance_scale(double measured_ratio) {
  constexpr double kLowestScale = 0.35;
  if (!std::isfinite(measured_ratio) || measured_ratio <= 0) return 1.0;
  return std::clamp(measured_ratio / kTypicalResolutionLow, kLowestScale, 1.0);
}

double peak_energy(const NuclideSession& state, int k) {
  return channel_to_energy(state.spectrum.calibration, state.peaks.centre[k]);
}

int nearest_peak(const NuclideSession& state, double energy_kev) {
  int best = 0;
  double best_d = 0;
  for (int k = 1; k <= state.peaks.count; ++k) {
    const double d = std::fabs(peak_energy(state, k) - energy_kev);
    if (best == 0 || d < best_d) {
      best = k;
      best_d = d;
    }
  }
  return best;
}

int peak_matching_energy(const NuclideSession& state, double energy_kev) {
  const double tol = nuclide_tolerance(state.params, energy_kev, state.results);
  const int k = nearest_peak(state, energy_kev);
  return k != 0 && std::fabs(peak_energy(state, k) - energy_kev) <= tol ? k : 0;
}

double efficiency_at_energy(const NuclideSession& state, double energy_kev) {
  return efficiency_at(state.spectrum.calibration, energy_kev, calibration_context(state.spectrum, state.flags));
}

void refresh_peak_emission_rates(const NuclideSession& state) {
  PeakList& list = state.peaks;
  const double live = state.spectrum.header.live_time;
  for (int k = 1; k <= list.count; ++k) {
    double rate = list.net_area[k];
    if (live > 0) rate /= live;
    const double eff = efficiency_at_energy(state, peak_energy(state, k));
    if (eff > 0) rate /= eff;
    list.gps[k] = static_cast<float>(rate);
    list.gps_pct[k] = list.net_area_pct[k];
  }
}

void ReportText::line(std::string_view s) {
  if (!enabled) return;
  text += tidy_exponents(s);
  text += "\r\n";
}

}  // namespace kestrim
