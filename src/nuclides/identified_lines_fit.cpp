#include "nuclides/identified_lines_fit.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "nuclides/identify.h"
#include "nuclides/nuclide_session.h"
#include "nuclides/quant_common.h"
#include "peaks/fit_engine.h"
#include "peaks/peak_search.h"
#include "peaks/region_driver.h"
#include "settings/calibration_functions.h"
#include "settings/library.h"

namespace kestrim {

namespace {
// Below it X-rays and backscatter bumps crowd the continuum, and a line put
// in there as a peak takes their counts: a line below it is only taken as
// known. Its FWHM is narrow against the region it lies in (a region begins
// some four widths below its first peak), so it is taken up to
// kLowKnownReach of its FWHM from its nuclide's peak: Ba-133's 53.2 keV
// line, 2.2 FWHM below the 81 keV peak, lay unfitted on the region's start
// and lifted its continuum by 20 to 40 counts per channel under that peak,
// which read 7.5 % low in an 18.6 Bq count.
constexpr double kLowestFittedLine = 150.0;  // keV
constexpr double kLowKnownReach = 2.5;
// Nor below this, where the efficiency curve is seldom measured.
constexpr double kLowestLine = 40.0;  // keV
// A missing line within this many FWHM of a found peak, with this share of
// its area or more, is fitted as a peak; one farther off, up to
// kKnownReach, or weaker, is taken as known, unless it would hold more than
// kKnownShareMax of the peak's area: a line that strong would have been
// found, and the spectrum may not hold it (a simulated chain with some of
// its lines left out).
constexpr double kFittedReach = 1.5;
constexpr double kFittedShare = 0.03;
constexpr double kKnownReach = 2.0;
constexpr double kKnownShareMax = 0.4;
// Two lines of different nuclides this many FWHM apart or more, one peak
// found between them: the search saw a blend, which one peak of the
// region's width measures short (Th-232's 583 keV and Ra-226's 609 keV
// lines, 0.6 FWHM apart in a soil count, were fitted as one peak 23 % short
// of their sum, all of it Ra-226's: Ra-226 read 6 % high over 200 counts).
// Closer lines stay one peak: the region driver keeps only the larger of
// two peaks under half a FWHM apart, and a region's width may grow by a
// tenth (at 0.53 FWHM, on a detector of 8 % resolution, the split read
// Ra-226 13 % low). Lines farther apart the search resolves. Two lines of
// one nuclide on one peak are combined into one line by identification.
constexpr double kBlendLeast = 0.6;
constexpr double kBlendMost = 1.5;

bool reported(const NuclideResults& res, int accepted) {
  if (accepted < 0 || accepted >= static_cast<int>(res.accepted.size()) || res.accepted[accepted].removed)
    return false;
  const int index = res.accepted[accepted].library_index;
  for (const NuclideResult& r : res.results)
    if (r.library_index == index && r.activity > 0) return true;
  return false;
}

// The energy of the line of another reported nuclide than library_index
// that peak k was named after, on the far side of the peak from a line at
// e keV (FWHM w there), kBlendLeast to kBlendMost FWHM from it; the nearest
// to the peak of those, 0 when none.
double blend_partner(const NuclideSession& state, int k, double e, double w, int library_index) {
  const NuclideResults& res = state.results;
  const double ek = peak_energy(state, k);
  double partner = 0;
  for (const IdentifiedLine& il : res.lines) {
    if (il.peak != k || !reported(res, il.nuclide)) continue;
    if (res.accepted[il.nuclide].library_index == library_index) continue;
    const double d = std::fabs(il.energy - e);
    if ((il.energy - ek) * (e - ek) >= 0 || d < kBlendLeast * w || d > kBlendMost * w) continue;
    if (partner == 0 || std::fabs(il.energy - ek) < std::fabs(partner - ek)) partner = il.energy;
  }
  return partner;
}
}  // namespace

std::vector<LineToFit> identified_lines_to_fit(const NuclideSession& state) {
  const NuclideResults& res = state.results;
  const NuclideLibrary& lib = state.library;
  const PeakList& list = state.peaks;
  const CalibrationRecord& cal = state.spectrum.calibration;
  const CalibrationContext ctx = calibration_context(state.spectrum, state.flags);
  std::vector<LineToFit> lines;
  if (res.error || !res.energy_calibrated || list.count == 0 || !list.fitted) return lines;

  // A missing line matters only beside a found peak, whose continuum its
  // counts would lift. One within 1.5 FWHM of it whose area it could change
  // by 3 % and by that area's uncertainty or more is fitted as a peak.
  // Others within 2 FWHM of a peak their own nuclide explains most of, and
  // under 40 % of its area, are taken as known: their area, worked out from
  // the nuclide's activity, is part of the continuum of every region they
  // reach.
  const int nch = state.spectrum.channels();
  auto fwhm_kev = [&](double x) {
    const double half = fwhm_at_channel(cal, x, ctx) / 2;
    return channel_to_energy(cal, x + half) - channel_to_energy(cal, x - half);
  };
  std::vector<int> split;  // found peaks a blend's split holds at a line
  for (const NuclideResult& r : res.results) {
    if (r.library_index < 0 || r.library_index >= lib.nuclide_count || !(r.activity > 0)) continue;
    if (to_string(lib.nuclides[r.library_index].name).find(kSumPeakMark) != std::string::npos) continue;
    int principal = 0;
    for (const AcceptedNuclide& a : res.accepted)
      if (!a.removed && a.library_index == r.library_index) principal = a.principal_peak;
    if (principal < 1 || principal > list.count) continue;
    const std::pair<int, int> range = lib.lines_of(r.library_index);
    // Counts per unit of yield and efficiency: as the principal peak has
    // them (to decide which lines to fit), and at the nuclide's activity,
    // scaled as that peak's area is to its emission rate (a known line's
    // area; the principal peak may hold other nuclides' lines).
    const double ep = peak_energy(state, principal);
    double yp = 0, dp = 1e9;
    for (int i = range.first; i < range.second; ++i)
      if (std::fabs(lib.line_energy[i] - ep) < dp) {
        dp = std::fabs(lib.line_energy[i] - ep);
        yp = lib.line_yield[i];
      }
    if (!(yp > 0)) continue;
    const double eff_p = efficiency_at_energy(state, ep) > 0 ? efficiency_at_energy(state, ep) : 1.0;
    const double per_yield = list.net_area[principal] / (yp * eff_p);
    const double per_yield_known =
        list.gps[principal] > 0 ? r.activity * list.net_area[principal] / (list.gps[principal] * eff_p) : 0.0;
    for (int i = range.first; i < range.second; ++i) {
      const double e = lib.line_energy[i];
      const bool low = e < kLowestFittedLine;
      if (!(lib.line_yield[i] > 0) || !(e > res.lower && e < res.upper) || e < kLowestLine) continue;
      const double x = energy_to_channel(cal, e);
      if (!std::isfinite(x) || x < 2 || x >= nch - 2) continue;
      const double w = fwhm_kev(x);
      const double clear = std::max(line_tolerance(state.params, e, res), 0.75 * w);
      const int k = nearest_peak(state, e);
      if (k == 0) continue;
      // Within reach of a found peak the line is either that peak's (it was
      // named after it, or lies too close for the fit to part them) or one
      // half of a blend.
      double held = 0;
      if (std::fabs(peak_energy(state, k) - e) <= clear) {
        if (low || std::find(split.begin(), split.end(), k) != split.end()) continue;
        held = blend_partner(state, k, e, w, r.library_index);
        if (held == 0) continue;
      }
      const double eff = efficiency_at_energy(state, e);
      const double expected = per_yield * lib.line_yield[i] * (eff > 0 ? eff : 1.0);
      const double known = per_yield_known * lib.line_yield[i] * (eff > 0 ? eff : 1.0);
      double beside = 0, beside_sd = 0;
      for (int j = 1; j <= list.count; ++j)
        if (std::fabs(peak_energy(state, j) - e) <= kFittedReach * w && list.net_area[j] > beside) {
          beside = list.net_area[j];
          beside_sd = beside * list.net_area_pct[j] / 100;
        }
      if (held != 0) {
        // The blend's two lines, both at their library energies: the found
        // peak moves to the line it was named after, and this one is put in.
        const double area = list.net_area[k], sd = area * list.net_area_pct[k] / 100;
        if (expected >= kFittedShare * area && expected >= sd) {
          lines.push_back({e, 0.0, known});
          lines.push_back({held, 0.0, 0.0, k});
          split.push_back(k);
        }
        continue;
      }
      const double reach = low ? kLowKnownReach : kKnownReach;
      if (!low && beside > 0 && expected >= kFittedShare * beside && expected >= beside_sd)
        lines.push_back({e, 0.0, known});
      else if (known > 0 && std::fabs(peak_energy(state, k) - e) <= reach * w &&
               res.peak_owner[k] == r.library_index && known <= kKnownShareMax * list.net_area[k])
        lines.push_back({e, known, 0.0});
    }
  }
  // A line both held and fitted at one energy is held.
  std::sort(lines.begin(), lines.end(), [](const LineToFit& a, const LineToFit& b) {
    return a.energy != b.energy ? a.energy < b.energy : a.held_peak > b.held_peak;
  });
  lines.erase(std::unique(lines.begin(), lines.end(),
                          [](const LineToFit& a, const LineToFit& b) { return a.energy == b.energy; }),
              lines.end());
  return lines;
}

int fit_identified_lines(const NuclideSession& state, const std::vector<LineToFit>& lines) {
  PeakList& list = state.peaks;
  const CalibrationRecord& cal = state.spectrum.calibration;
  int added = 0;
  list.known_count = 0;
  // Found peaks held at their lines first, while the peak numbers are
  // those of the found list; one that would pass a neighbour stays free.
  for (const LineToFit& line : lines) {
    const int k = line.held_peak;
    if (k < 1 || k > list.count) continue;
    const double x = energy_to_channel(cal, line.energy);
    if ((k > 1 && list.centre[k - 1] >= x) || (k < list.count && list.centre[k + 1] <= x)) continue;
    const int shift = static_cast<int>(std::lround(x)) - list.centre_channel[k];
    list.centre[k] = static_cast<float>(x);
    list.centre_channel[k] += shift;
    list.window_start[k] += shift;
    list.window_end[k] += shift;
    list.library_line[k] = 1;
    list.library_line_area[k] = 0;
    ++added;
  }
  for (const LineToFit& line : lines) {
    if (line.held_peak != 0) continue;
    const double e = line.energy;
    const double x = energy_to_channel(cal, e);
    if (line.known_area > 0) {
      if (take_as_known(state, x, line.known_area)) ++added;
      continue;
    }
    if (list.count >= kMaxPeaks) break;
    const int at = insert_peak(state, static_cast<int>(std::lround(x)));
    if (at == 0) break;
    list.centre[at] = static_cast<float>(x);
    list.library_line[at] = 1;
    list.library_line_area[at] = static_cast<float>(line.activity_area);
    ++added;
  }
  if (added == 0) return 0;

  // Every region is fitted again, and its report written afresh, with the
  // peaks found as they were decided: nothing is asked a second time.
  AnalysisParameters& p = state.params;
  const int kept_add = p.prompt_add_peaks, kept_remove = p.prompt_remove_peaks;
  p.prompt_add_peaks = p.prompt_remove_peaks = 0;
  // A region that took a line is formed afresh (the line may join or link
  // regions); the others keep their bounds and continuum.
  for (int k = 1; k <= list.count; ++k) list.fitted_flag[k] = 0;
  for (int k = 1; k <= list.count; ++k) {
    if (list.library_line[k] == 0) continue;
    const double c = list.centre[k];
    for (int j = 1; j <= list.count; ++j)
      if (list.region_choice[j] != 0 && c >= list.fit_start[j] && c <= list.fit_end[j]) list.region_choice[j] = 0;
  }
  list.fitted = false;
  state.fitting.report_open = false;
  state.fitting.report_write_failed = false;
  state.fitting.refit_with_library_lines = true;
  fit_all_remaining_peaks(state);
  list.known_count = 0;
  list.region.known_column = false;
  list.region.known_scale = 0;
  state.fitting.refit_with_library_lines = false;
  p.prompt_add_peaks = kept_add;
  p.prompt_remove_peaks = kept_remove;
  return added;
}

}  // namespace kestrim
