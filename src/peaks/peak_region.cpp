#include "peaks/peak_region.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "peaks/peak_session.h"
#include "peaks/peak_search.h"
#include "settings/calibration_functions.h"

namespace kestrim {

namespace {

double sigma_at(const PeakSession& s, double channel) { return width_at_channel(s.spectrum.calibration, channel, calibration_context(s.spectrum, s.flags)); }
double energy_of(const PeakSession& s, double channel) { return channel_to_energy(s.spectrum.calibration, channel); }
double channel_of(const PeakSession& s, double energy) { return energy_to_channel(s.spectrum.calibration, energy); }

float count_at(const PeakSession& s, int x) {
  if (x < 0 || x >= s.spectrum.channels() || x >= kMaxChannelsStored) return 0;
  return s.spectrum.counts[x];
}

// The channel of lowest count in lo..hi (first on ties); lo when empty.
int lowest_channel(const PeakSession& s, int lo, int hi) {
  int best = lo;
  for (int x = lo + 1; x <= hi; ++x)
    if (count_at(s, x) < count_at(s, best)) best = x;
  return best;
}

// Keeps the first `keep` peaks of the region.
void cut_region(Region& r, int keep) {
  r.count = keep;
  r.last = r.first + keep - 1;
}

}  // namespace

void group_region(const PeakSession& state) {
  Region& r = state.peaks.region;
  const PeakList& list = state.peaks;
  const AnalysisParameters& p = state.params;

  if (!r.bounds_fixed) {
    cut_region(r, 1);
    while (r.count < kMaxRegionPeaks) {
      const int last = r.last;
      const double e = energy_of(state, list.centre[last]);
      if (p.use_aux_peaks != 0) {
        if (const AuxPeakRow* row = find_aux_row(list, p, e)) {
          if (row->companion < 1) {
            int choice = std::abs(trunc_channel(row->companion));
            if (choice > 0) {
              r.continuum_choice = choice;
              r.aux_forced = true;
            }
          }
          if (row->region_start > 0 && row->region_end > 0) {
            double d = row->energy - e;
            double cf = list.centre[r.first];
            double start = channel_of(state, row->region_start - d);
            if (start >= cf) start = cf - 4 * sigma_at(state, cf);
            r.start = trunc_channel(start);
            r.end = trunc_channel(channel_of(state, row->region_end - d));
            r.bounds_fixed = true;
            break;
          }
        }
      }
      if (last >= list.count) break;
      const double s = sigma_at(state, list.centre[last]);
      double ratio = (list.significance[last] - 2.5) / std::max(list.significance[last + 1] - 2.5, 1.0);
      double D = p.peak_separation_factor * s * ((ratio > 40 || ratio < 0.025) ? 0.85 : 1.0);
      if (e < 85) D = p.peak_separation_factor * s * 1.2;
      if (e < 40) D = p.peak_separation_factor * s * 0.65;
      if (r.shape_calibration) D *= 0.75;
      D = std::max(D, 4 * s);
      if (list.centre[last + 1] - list.centre[last] < D)
        cut_region(r, r.count + 1);
      else
        break;
    }
  }

  if (r.bounds_fixed) {
    int first = 0, count = 0;
    for (int k = 1; k <= list.count; ++k) {
      if (list.centre[k] > r.start && list.centre[k] < r.end) {
        if (count == 0) first = k;
        if (count < kMaxRegionPeaks) ++count;
      }
    }
    if (count > 0) r.first = first;
    cut_region(r, count);
    return;
  }

  while (r.count > 1) {
    const int f = r.first, l = r.last;
    const double sf = sigma_at(state, list.centre[f]), sl = sigma_at(state, list.centre[l]);
    int span = trunc_channel(list.centre[l] + 4 * sl) - trunc_channel(list.centre[f] - 4 * sf) + 20;
    double gap = -1;
    int v = f + 1;
    for (int k = f + 1; k <= l; ++k) {
      double g = list.centre[k] - list.centre[k - 1];
      if (g > gap) {
        gap = g;
        v = k;
      }
    }
    float u = 0;
    for (int k = f; k < l; ++k) u = std::max(u, list.significance[k]);
    double L = r.count == 2 ? p.peak_separation_factor * sl
                            : ((p.peak_separation_factor - r.count) / 2 + 6) * sl;
    if (u < 20) L *= 1.2;
    double ef = energy_of(state, list.centre[f]);
    if (ef < 100) L *= 0.9;
    if (ef < 50) L *= 0.9;
    L = std::max(L, 5.0);
    if (span < kMaxRegionChannels && (r.count < 3 || (r.count < kMaxRegionPeaks && gap < L))) break;
    // Cut at the largest gap: the peaks from v on leave the region.
    cut_region(r, v - f);
  }
}

void set_region_bounds(const PeakSession& state) {
  Region& r = state.peaks.region;
  const PeakList& list = state.peaks;
  const AnalysisParameters& p = state.params;
  const int nch = std::max(state.spectrum.channels(), 1);
  const int last_channel = nch - 1;
  const int f = r.first, l = r.last;
  const double cf = list.centre[f], cl = list.centre[l];
  const double sf = sigma_at(state, cf), sl = sigma_at(state, cl);
  const double mf = 2.75 * sf, ml = 2.75 * sl;
  r.margin_first = static_cast<float>(mf);
  r.margin_last = static_cast<float>(ml);
  bool minimum = false;

  int start = trunc_channel(cf - mf);
  if (f == 1) {
    // Channels 0 and 1 hold the live and true times, not counts.
    int lo = std::max(trunc_channel(p.search_start - sf), 2);
    int hi = search_last_channel(p, nch);
    for (int x = lo; x < hi && x < nch; ++x) {
      if (count_at(state, x) > 0) {
        r.first_live = x;
        break;
      }
    }
    start = std::max(start, r.first_live);
  } else {
    const double cp = list.centre[f - 1];
    if (start < cp + 2.75 * sigma_at(state, cp)) {
      start = lowest_channel(state, trunc_channel(cp + 2 * sf), trunc_channel(cf - 2 * sf));
      minimum = true;
    }
  }

  int end = trunc_channel(cl + ml) + 1;
  if (l < list.count) {
    const double cn = list.centre[l + 1];
    if (end > cn - 2.75 * sigma_at(state, cn)) {
      end = lowest_channel(state, trunc_channel(cl + 2 * sl), trunc_channel(cn - 2 * sl));
      minimum = true;
    }
  } else if (end > last_channel + ml) {
    end = last_channel;
  }

  if (!minimum) {
    // ENDC channels of a 1024-channel spectrum at its last channel, in units
    // of that channel's width: the same extension in widths whatever the
    // number of channels (a 4096-channel spectrum's peaks are four times as
    // wide in channels).
    const double send = sigma_at(state, nch);
    const double widths = p.region_end_channels / send * std::max(nch / 1024.0, 1.0);
    start = trunc_channel(cf - mf - widths * sf);
    end = trunc_channel(cl + ml + widths * sl);
  }
  start = std::max(start, r.first_live);
  start = std::max(start, 0);
  end = std::min(end, last_channel);

  const int m1 = trunc_channel(cf - mf);
  const int m2 = trunc_channel(cl + ml) + 1;
  while (end - start + 1 >= kMaxRegionChannels) {
    if (m1 - start > end - m2)
      ++start;
    else
      --end;
  }
  r.start = start;
  r.end = end;
  r.start_f = static_cast<float>(start);
  r.end_f = static_cast<float>(end);
}

void update_width_cache(const PeakSession& state) {
  Region& r = state.peaks.region;
  const PeakList& list = state.peaks;
  const bool held = r.prev_count == -1;
  if (!held && (r.first != r.prev_first || r.count != r.prev_count)) {
    for (int i = 0; i < r.count; ++i) {
      double c = list.centre[r.first + i];
      double s = width_at_channel(state.spectrum.calibration, c, calibration_context(state.spectrum, state.flags));
      double t = low_tail_at_channel(state.spectrum.calibration, c, calibration_context(state.spectrum, state.flags));
      if (state.params.use_aux_peaks != 0) {
        if (const AuxPeakRow* row = find_aux_row(list, state.params, channel_to_energy(state.spectrum.calibration, c)))
          s *= row->width_factor;
      }
      r.cache_sigma[i] = static_cast<float>(s);
      r.cache_tail[i] = static_cast<float>(t);
    }
    r.ref_sigma = r.cache_sigma[0];
    r.ref_tail = r.cache_tail[0];
    r.prev_first = r.first;
    r.prev_count = r.count;
  }
  r.largest_significance = 0;
  for (int i = 0; i < r.count; ++i)
    r.largest_significance = std::max(r.largest_significance, list.significance[r.first + i]);
}

int form_region(const PeakSession& state, std::string& message) {
  Region& r = state.peaks.region;
  PeakList& list = state.peaks;
  message.clear();
  const int entry_first = r.first;
  if (r.first < 1 || r.first > list.count) {
    message = kNoPeaksInRegion;
    return 0;
  }
  r.aux_forced = false;
  r.fixed_curvature = 0;
  if (!r.continuum_forced) r.continuum_choice = 0;
  if (r.bounds_user) {
    r.bounds_fixed = true;
  } else if (list.region_choice[r.first] != 0) {
    r.start = list.fit_start[r.first];
    r.end = list.fit_end[r.first];
    r.bounds_fixed = true;
    if (!r.continuum_forced) r.continuum_choice = std::abs(list.region_choice[r.first]);
  } else {
    r.bounds_fixed = false;
  }

  if (r.bounds_fixed) {
    if (r.first == r.prev_first && r.prev_count > 0) {
      for (int k = r.prev_first; k < r.prev_first + r.prev_count && k <= list.count; ++k) list.region_choice[k] = 0;
    }
    group_region(state);
    if (r.count == 0) {
      message = kNoPeaksInRegion;
      r.bounds_user = false;
      r.bounds_fixed = false;
      r.first = entry_first;
      return 0;
    }
    if (r.end - r.start > kMaxRegionChannels - 1) {
      message = kRegionTooWide;
      return 0;
    }
  } else {
    group_region(state);
    if (!r.bounds_fixed) set_region_bounds(state);
  }
  update_width_cache(state);
  return 1;
}

}  // namespace kestrim
