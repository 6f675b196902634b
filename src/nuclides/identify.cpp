#include "nuclides/identify.h"

#include <algorithm>
#include <cmath>

#include "nuclides/nuclide_session.h"
#include "nuclides/lod.h"
#include "nuclides/quant_common.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/c_format.h"
#include "settings/calibration_functions.h"

namespace kestrim {

namespace {

// A library name without the trailing blanks imports pad it with.
std::string trimmed(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

struct PeakView {
  std::vector<double> energy;  // index = peak number
  std::vector<double> rate;
  std::vector<char> usable;    // net area above 0
  std::vector<char> inserted;  // inserted by the library peak search
};

PeakView view_peaks(const NuclideSession& state) {
  const PeakList& list = state.peaks;
  PeakView v;
  const int n = list.count;
  v.energy.assign(n + 1, 0);
  v.rate.assign(n + 1, 0);
  v.usable.assign(n + 1, 0);
  v.inserted.assign(n + 1, 0);
  for (int k = 1; k <= n; ++k) {
    v.energy[k] = peak_energy(state, k);
    v.rate[k] = list.gps[k];
    v.usable[k] = list.net_area[k] > 0;
    v.inserted[k] = list.unconditional[k] != 0;
  }
  return v;
}

}  // namespace

std::vector<std::string> peak_search_library_names(const NuclideSession& state) {
  std::vector<std::string> names;
  LibraryReader reader;
  if (!reader.open_title(*state.ui, state.paths, to_string(state.params.peak_search_library)))
    return names;
  CurrentNuclide cur;
  while (reader.next(cur) == 1) names.push_back(to_lower(trimmed(to_string(cur.nuclide.name))));
  return names;
}

// Below it X-rays, backscatter and the falling efficiency make a line's
// peak no measure of another's.
constexpr double kLowestComparableLine = 150.0;  // keV

// The K X-rays of lead and bismuth (K-alpha2 of lead at 72.8 keV to
// K-beta2 of bismuth at 90.1 keV), with a margin, and the low-energy part
// of a spectrum where they stand among the other peaks.
constexpr double kLeadXrayLow = 70.0, kLeadXrayHigh = 95.0;  // keV
constexpr double kLowEnergyRegion = 200.0;                   // keV

// A low-energy peak that is no line of its own: below 150 keV the
// continuum of a NaI count holds scatter humps and iodine-escape and X-ray
// features that a peak of NaI width on a straight continuum does not
// describe, and the fit puts peaks on them. A peak that stands lower than
// half the continuum under it is part of a hump; a peak of under a fifth of
// the largest in its region, when that region's fit is plainly wrong
// (chi-square above 20), is a piece of another peak's shape. Empty when the
// peak is evidence, else why not.
constexpr double kLeastHeightOverContinuum = 0.5;
constexpr double kWrongRegionChiSquare = 20.0;
constexpr double kLeastShareOfRegion = 0.2;

std::string low_energy_peak_doubt(const NuclideSession& state, int p) {
  const PeakList& list = state.peaks;
  const SpectrumRecord& sp = state.spectrum;
  const auto sigma_channels = [&](int k) {
    const double c = list.centre[k];
    const double slope = channel_to_energy(sp.calibration, c + 0.5) - channel_to_energy(sp.calibration, c - 0.5);
    return slope > 0 ? list.fwhm_kev[k] / slope / 2.3548 : 0.0;
  };
  const auto height_at = [&](int k, double x) {
    const double s = sigma_channels(k);
    if (!(s > 0) || !(list.net_area[k] > 0)) return 0.0;
    const double z = (x - list.centre[k]) / s;
    return list.net_area[k] / (s * 2.5066283) * std::exp(-0.5 * z * z);
  };
  const int c = static_cast<int>(std::lround(list.centre[p]));
  if (sigma_channels(p) > 0 && c > 2 && c + 1 < sp.channels() && c + 1 < static_cast<int>(sp.counts.size())) {
    double model = 0;
    for (int k = 1; k <= list.count; ++k) model += height_at(k, c);
    const double measured = (sp.counts[c - 1] + sp.counts[c] + sp.counts[c + 1]) / 3.0;
    const double continuum = measured - model;
    const double height = height_at(p, c);
    if (continuum > 0 && height < kLeastHeightOverContinuum * continuum)
      return c_format("Peak at %6.1f keV stands at %3.0f %% of the continuum under it: a hump, not a line",
                      peak_energy(state, p), 100 * height / continuum);
  }
  if (list.goodness[p] > kWrongRegionChiSquare) {
    double largest = 0;
    for (int k = 1; k <= list.count; ++k)
      if (list.fit_start[k] == list.fit_start[p] && list.fit_end[k] == list.fit_end[p])
        largest = std::max(largest, static_cast<double>(list.net_area[k]));
    if (list.net_area[p] < kLeastShareOfRegion * largest)
      return c_format("Peak at %6.1f keV is a small part of a region fitted at chi-square %.0f",
                      peak_energy(state, p), static_cast<double>(list.goodness[p]));
  }
  return {};
}

// The yield of the nuclide's line at the principal energy (the strongest
// within a keV of it).
double principal_yield(const NuclideLibrary& lib, int index, double energy) {
  const std::pair<int, int> range = lib.lines_of(index);
  double y = 0;
  for (int i = range.first; i < range.second; ++i)
    if (std::fabs(lib.line_energy[i] - energy) < 1.0) y = std::max(y, static_cast<double>(lib.line_yield[i]));
  return y;
}

int identify_nuclides(const NuclideSession& state, ReportText& diag, ReportText& activity) {
  const AnalysisParameters& par = state.params;
  const NuclideLibrary& lib = state.library;
  NuclideResults& res = state.results;
  const double lower = res.lower, upper = res.upper;
  const double decay = res.decay_interval;
  const PeakView pv = view_peaks(state);
  const int npeaks = state.peaks.count;

  std::vector<std::string> driven_names;
  if (par.unconditional_library_peaks != 0) driven_names = peak_search_library_names(state);

  std::vector<char> free_peak(npeaks + 1);
  std::vector<int> match;

  for (int index = 0; index < lib.nuclide_count; ++index) {
    if (index > 0 && state.ui->abort_requested()) {
      state.flags.abort_requested = true;
      break;
    }
    const Nuclide& nuc = lib.nuclides[index];
    const std::string name = to_string(nuc.name);
    const std::pair<int, int> range = lib.lines_of(index);
    const int first = range.first;
    const int n = std::min(range.second - range.first, kNuclideLineSlots);
    auto E = [&](int k) { return static_cast<double>(lib.line_energy[first + k]); };
    auto Y = [&](int k) { return static_cast<double>(lib.line_yield[first + k]); };
    auto U = [&](int k) { return static_cast<double>(lib.line_uncertainty[first + k]); };

    // Largest yield strictly inside the analysis range.
    double ymax = 0;
    int ymax_line = -1;
    for (int k = 0; k < n; ++k)
      if (E(k) > lower && E(k) < upper && Y(k) > ymax) {
        ymax = Y(k);
        ymax_line = k;
      }

    // Half-life.
    const double hl = nuc.half_life;
    if (std::fabs(decay) > 20 * hl) {
      diag.line(c_format("Rejected %s, Halflife was too short.", name.c_str()));
      continue;
    }

    // Sum-peak entries need their main isotope.
    const std::size_t mark = name.find(kSumPeakMark);
    if (mark != std::string::npos) {
      const std::string main_isotope = name.substr(0, mark);
      bool found = false;
      for (const AcceptedNuclide& a : res.accepted)
        if (!a.removed && to_string(lib.nuclides[a.library_index].name).find(main_isotope) !=
                              std::string::npos)
          found = true;
      if (!found) {
        diag.line(c_format("Rejected %s, Main Isotope was not found.", name.c_str()));
        continue;
      }
    }

    // Considered from here on. `driven`: the nuclide is named in the peak
    // search library, whose peaks are reported unconditionally.
    diag.line(c_format("Considering %s", name.c_str()));
    const std::string lname = to_lower(trimmed(name));
    const bool driven =
        std::find(driven_names.begin(), driven_names.end(), lname) != driven_names.end();

    // Line matching.
    std::fill(free_peak.begin(), free_peak.end(), 1);
    match.assign(n, 0);
    double total = 0, found = 0, smallest = 1e18;
    for (int k = 0; k < n; ++k) {
      const double e = E(k), y = Y(k);
      if (!(e > lower && e < upper)) continue;
      const double t = line_tolerance(par, e, res);
      const bool counts = y > 0.25 * ymax;
      if (counts) total += y;
      int last_taken = 0;
      double last_diff = 1000;
      for (int p = 1; p <= npeaks; ++p) {
        const bool ins = pv.inserted[p] && driven;
        if (!(pv.usable[p] || ins)) continue;
        const double widen = ins ? 1.0 : 0.0;
        const double ep = pv.energy[p];
        if (ep < e - t - widen || ep > e + t + widen) continue;
        diag.line(c_format("Matched %6.1f with %6.1f, Yld:- %6.4f", e, ep, y));
        const double d = std::fabs(e - ep);
        bool take = false;
        if (last_taken == 0 && free_peak[p]) {
          match[k] = p;
          take = true;
        } else {
          const bool prev_clear = k == 0 || E(k - 1) + t < ep;
          const bool next_clear = k == n - 1 || E(k + 1) - t > ep;
          if (prev_clear && next_clear) {
            if (last_taken != 0) {
              match[k] = last_diff >= d ? p : last_taken;
              take = true;
            }
          } else {
            const bool alone_below = p == 1 || pv.energy[p - 1] < e - t;
            const bool alone_above = p == npeaks || pv.energy[p + 1] > e + t;
            if (alone_below && alone_above) {
              match[k] = p;
              take = true;
            }
          }
        }
        if (take) {
          free_peak[p] = 0;
          last_taken = p;
          last_diff = d;
        }
      }
      if (counts) {
        if (match[k] == 0) {
          diag.line(c_format("No Peak at %6.1f, Yld:- %6.4f", e, y));
        } else {
          found += y;
          const double a = pv.rate[match[k]] / y;
          if (a > 0 && a < smallest) smallest = a;
        }
      }
    }

    // Confidence.
    double conf = total > 0 ? found / total : 0;
    diag.line(c_format("Yields found/Total Yield : %6.4f", conf));
    if (decay > 0 && hl > 0) conf *= std::exp(-0.025 * decay / hl);
    diag.line(c_format("Conf, Value : %6.4f", conf));

    // Principal peak.
    double pe = nuc.principal_energy;
    if (!(pe > 0) && par.principal_peak_only != 0 && ymax_line >= 0) pe = E(ymax_line);
    int principal = 0;
    if (pe > 0) {
      double best = 1000;
      int nearest = 0;
      for (int p = 1; p <= npeaks; ++p) {
        if (!(pv.usable[p] || pv.inserted[p])) continue;
        const double d = std::fabs(pe - pv.energy[p]);
        if (d < best) {
          best = d;
          nearest = p;
        }
      }
      if (nearest != 0 && best < nuclide_tolerance(par, pe, res) + (driven ? 1.0 : 0.0))
        principal = nearest;
    }
    const bool principal_found = nuc.principal_energy > 0 && principal != 0;

    // Acceptance.
    if (conf < par.min_confidence && !principal_found) {
      diag.line(c_format("Rejected  %s", name.c_str()));
      diag.line("Principal Peak not found");
      if (par.background_cps_subtraction != 0) {
        bool all_near = true;
        for (int k = 0; k < n; ++k) {
          if (!(Y(k) > 0.5 * ymax)) continue;
          const double t = nuclide_tolerance(par, E(k), res);
          bool near = false;
          for (int p = 1; p <= npeaks && !near; ++p)
            near = pv.energy[p] > E(k) - t && pv.energy[p] < E(k) + t;
          if (!near) all_near = false;
        }
        if (all_near)
          diag.line(c_format(" %s may have been eliminated by Background Subtraction.", name.c_str()));
      }
      continue;
    }
    // A line as intense as the principal one at a lower energy (where a NaI
    // detector is at least as efficient, above its X-rays and backscatter)
    // must show beside it: without it the principal peak belongs to
    // something else (a Cs-137 count named Co-60 after a weak peak near
    // 1332 keV with nothing at 1173 keV).
    if (principal_found && !driven) {
      const double as_strong = 0.9 * principal_yield(lib, index, pe);
      int missing = -1;
      for (int k = 0; k < n && missing < 0; ++k) {
        const double e = E(k);
        if (match[k] == 0 && e > kLowestComparableLine && e < pe - 1 && e > lower && e < upper && Y(k) >= as_strong)
          missing = k;
      }
      if (missing >= 0) {
        diag.line(c_format("Rejected  %s", name.c_str()));
        diag.line(c_format("No Peak at %6.1f keV, as strong a line as the principal one", E(missing)));
        continue;
      }
    }
    // True when the nuclide has a line in the analysis range and all of
    // them lie within lo..hi keV.
    auto all_lines_within = [&](double lo, double hi) {
      int in = 0, out = 0;
      for (int k = 0; k < n; ++k)
        if (E(k) > lower && E(k) < upper) ++(E(k) >= lo && E(k) <= hi ? in : out);
      return in > 0 && out == 0;
    };
    // A nuclide whose every line lies among the K X-rays of lead and
    // bismuth (Cd-109's 88.0 keV), which shielded and environmental counts
    // show, needs its principal peak to be the largest found below 200 keV:
    // the X-rays of a shield or a sample come with larger peaks beside them
    // (lead's K-alpha near 75 keV, Th-234's 92.6 keV, a source's own line).
    if (principal_found && !driven && all_lines_within(kLeadXrayLow, kLeadXrayHigh)) {
      int largest = 0;
      for (int p = 1; p <= npeaks; ++p)
        if (pv.usable[p] && pv.energy[p] < kLowEnergyRegion && (largest == 0 || pv.rate[p] > pv.rate[largest]))
          largest = p;
      if (largest != principal) {
        diag.line(c_format("Rejected  %s", name.c_str()));
        diag.line(c_format("Peak at %6.1f keV is not the largest below %3.0f keV: lead or bismuth X-rays",
                           pv.energy[principal], kLowEnergyRegion));
        continue;
      }
    }
    // A nuclide whose every line lies below 150 keV (Am-241, Pb-210,
    // Cd-109) rests on low-energy peaks alone; its principal peak must be a
    // line.
    if (principal_found && !driven && all_lines_within(0, kLowestComparableLine)) {
      const std::string doubt = low_energy_peak_doubt(state, principal);
      if (!doubt.empty()) {
        diag.line(c_format("Rejected  %s", name.c_str()));
        diag.line(doubt);
        continue;
      }
    }
    if (static_cast<int>(res.accepted.size()) >= kMaxAcceptedNuclides) {
      res.library_not_wholly_considered = true;
      break;
    }
    AcceptedNuclide acc;
    acc.library_index = index;
    acc.confidence = conf;
    acc.principal_peak = principal;
    acc.principal_found = principal_found;
    acc.library_driven = driven;
    res.accepted.push_back(acc);
    const int number = static_cast<int>(res.accepted.size()) - 1;
    diag.line(c_format("Entered  %s", name.c_str()));

    // Lines that should have been seen.
    const int lodc = par.lod_check_threshold;
    if (!principal_found && !driven && lodc >= 1 && lodc <= 50) {
      bool removed = false;
      for (int k = 0; k < n && !removed; ++k) {
        const double e = E(k), y = Y(k);
        if (match[k] != 0 || !(y > 0.05 * ymax) || !(e > 50) || !(e > lower && e < upper)) continue;
        const double l = limit_at_energy(state, e, false, kLodDetermination, nullptr);
        const double r = (l / y) * 100 / smallest;
        if (lodc > r) {
          activity.line(c_format("Removed %s, No Peak at %6.1f keV.", name.c_str(), e));
          activity.line(c_format("Limit of Determination was only %2.0f%% of Nuclide Activity.", r));
          activity.empty();
          removed = true;
        }
      }
      if (removed) {
        res.accepted.pop_back();
        continue;
      }
    }

    // Lines that would explain almost nothing of their peak.
    double unused_yield = 0;
    bool principal_unused = false;
    for (int k = 0; k < n; ++k) {
      const int p = match[k];
      if (p == 0 || (driven && pv.inserted[p])) continue;
      const double rate = pv.rate[p];
      if (!(rate > 0)) continue;
      const double s = smallest * 100 / (rate / Y(k));
      if (s < 2) {
        diag.line(c_format("Only %3.2f %%  of %6.1f keV Peak was used.", s, E(k)));
        match[k] = 0;
        if (Y(k) > 0.25 * ymax) unused_yield += Y(k);
        if (p == principal && std::fabs(E(k) - pe) < 1.0) principal_unused = true;
      }
    }
    // A principal line that would explain almost nothing of its peak was not
    // found: the peak belongs to something else. Without it the nuclide must
    // have the evidence of a nuclide whose principal peak is missing (a
    // Cs-137 count named Eu-152 after a 121 keV peak, of which Eu-152's
    // activity from two weak high-energy peaks explained 0.7 %).
    if (principal_unused && !driven) {
      double c2 = total > 0 ? (found - unused_yield) / total : 0;
      if (decay > 0 && hl > 0) c2 *= std::exp(-0.025 * decay / hl);
      if (c2 < par.min_confidence) {
        diag.line(c_format("Rejected  %s", name.c_str()));
        diag.line("Principal Peak not found");
        res.accepted.pop_back();
        continue;
      }
    }

    // Recording, combining consecutive lines on one peak.
    int previous_line = -1;  // identified line of line k - 1
    for (int k = 0; k < n; ++k) {
      const int p = match[k];
      if (p == 0) {
        previous_line = -1;
        continue;
      }
      if (k > 0 && previous_line >= 0 && match[k - 1] == p) {
        diag.line(c_format("Combined %3.1f keV line with %3.1f keV line", E(k - 1), E(k)));
        IdentifiedLine& il = res.lines[previous_line];
        const double yp = Y(k - 1), y = Y(k);
        il.energy = yp + y > 0 ? E(k) - yp / (yp + y) * (E(k) - E(k - 1)) : E(k);
        il.yield = yp + y;
        il.uncertainty = U(k - 1) + U(k);
        continue;
      }
      if (static_cast<int>(res.lines.size()) >= kMaxIdentifiedLines) {
        res.library_not_wholly_considered = true;
        previous_line = -1;
        continue;
      }
      IdentifiedLine il;
      il.nuclide = number;
      il.peak = p;
      il.state = 1;
      il.yield = Y(k);
      il.uncertainty = U(k);
      il.energy = E(k);
      res.lines.push_back(il);
      previous_line = static_cast<int>(res.lines.size()) - 1;
    }
    if (res.accepted.back().principal_peak != 0) res.any_principal = true;
  }
  return static_cast<int>(res.accepted.size());
}

}  // namespace kestrim
