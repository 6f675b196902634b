#include "peaks/library_search.h"

#include <algorithm>
#include <cmath>

#include "peaks/peak_session.h"
#include "settings/library.h"
#include "peaks/fit_engine.h"
#include "peaks/peak_search.h"
#include "settings/calibration_functions.h"

namespace kestrim {

namespace {

// Fits the peak at channel x (sigma s) alone over [lo, hi] with a linear
// continuum, no iterations. True when its height is positive and known to
// better than 100 %.
bool single_fit_keeps(const PeakSession& state, double x, double s, int lo, int hi) {
  Region& r = state.peaks.region;
  const Region kept = r;
  r.count = 1;
  r.start = lo;
  r.end = hi;
  r.pos[0] = x;
  r.sigma[0] = s;
  r.tail[0] = low_tail_at_channel(state.spectrum.calibration, x, calibration_context(state.spectrum, state.flags));
  r.terms = 2;
  r.step = false;
  r.edges = 0;
  r.fixed_curvature = 0;
  bool keep = false;
  if (fit_region_linear(state, false) == 1) {
    const double height = r.height[0];
    const double var = state.peaks.work.eq.inverse(continuum_columns(r), continuum_columns(r));
    double rel = 100;
    if (var > 0 && height > 0) rel = 100 * std::sqrt(var) / height;
    keep = height >= 0 && rel < 100;
  }
  r = kept;
  return keep;
}

}  // namespace

int test_library_line(const PeakSession& state, double energy_kev) {
  PeakList& list = state.peaks;
  const CalibrationRecord& cal = state.spectrum.calibration;
  const CalibrationContext ctx = calibration_context(state.spectrum, state.flags);
  const bool unconditional = state.params.unconditional_library_peaks != 0;

  // A peak within the energy tolerance already explains the line.
  const double t = energy_tolerance(state.params, energy_kev);
  int nearest = 0;
  double best = 0;
  for (int k = 1; k <= list.count; ++k) {
    const double d = std::fabs(channel_to_energy(cal, list.centre[k]) - energy_kev);
    if (d <= t && (nearest == 0 || d < best)) {
      nearest = k;
      best = d;
    }
  }
  if (nearest != 0) {
    if (unconditional) list.library_confirmed[nearest] = 1;
    return nearest;
  }

  const double x = energy_to_channel(cal, energy_kev);
  const int nch = state.spectrum.channels();
  if (!std::isfinite(x) || x < 2 || x >= nch - 1) return 0;
  const int cx = static_cast<int>(std::lround(x));
  if (cx < 2 || cx >= nch - 1) return 0;
  const double s = width_at_channel(cal, x, ctx);
  if (!std::isfinite(s)) return 0;
  const int k = insert_peak(state, cx);
  if (k == 0) return 0;
  if (unconditional) {
    list.library_confirmed[k] = 1;
    list.unconditional[k] = 1;
    return k;
  }
  bool near_lower = false, near_upper = false;
  for (int o = 1; o <= list.count; ++o) {
    if (o == k) continue;
    const double c = list.centre[o];
    if (c > x - 5 * s && c < x + 5 * s) return k;  // fitted with its neighbours
    if (c > x - 8 * s && c < x) near_lower = true;
    if (c > x && c < x + 8 * s) near_upper = true;
  }
  // Keep the single-peak region clear of a neighbour within 8 sigma.
  const double lo_f = near_lower ? x - 3 * s : x - 5 * s;
  const double hi_f = near_upper ? x + 3 * s : x + 5 * s;
  const int lo = static_cast<int>(std::max(lo_f, 2.0));
  const int hi = static_cast<int>(std::min(hi_f, nch - 1.0));
  if (!single_fit_keeps(state, x, s, lo, hi)) {
    remove_peak(state, cx);
    return 0;
  }
  return k;
}

int library_peak_search(const PeakSession& state) {
  const int nch = state.spectrum.channels();
  if (nch < 3) return 0;
  const CalibrationRecord& cal = state.spectrum.calibration;
  const AnalysisParameters& p = state.params;
  const double lower = channel_to_energy(cal, p.search_start);
  const double upper = channel_to_energy(cal, std::min<double>(p.search_stop > 0 ? p.search_stop : nch, nch));
  LibraryReader reader;
  if (!reader.open_title(*state.ui, state.paths, to_string(p.peak_search_library))) return 0;
  CurrentNuclide cur;
  while (reader.next(cur) == 1) {
    int strongest = -1;
    for (int i = 0; i < cur.line_count; ++i) {
      const double e = cur.energy[i];
      if (e > lower && e < upper && cur.yield[i] > 0 &&
          (strongest < 0 || cur.yield[i] > cur.yield[strongest]))
        strongest = i;
    }
    if (strongest < 0) continue;
    test_library_line(state, cur.energy[strongest]);
    for (int i = 0; i < cur.line_count; ++i) {
      const double e = cur.energy[i];
      if (i != strongest && e > lower && e < upper) test_library_line(state, e);
    }
  }
  return 1;
}

}  // namespace kestrim
