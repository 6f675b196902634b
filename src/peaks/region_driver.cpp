#include "peaks/region_driver.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "peaks/peak_session.h"
#include "peaks/fit_engine.h"
#include "peaks/peak_fit_report.h"
#include "peaks/peak_region.h"
#include "peaks/peak_search.h"
#include "platform/platform.h"
#include "platform/c_format.h"
#include "settings/calibration_functions.h"

namespace kestrim {

namespace {

constexpr int kPollMs = 250;
// Additions and removals re-form the region; after this many passes the
// region is finished as it stands (the refused-channel ring only remembers
// ten channels, so a pathological region could otherwise cycle).
constexpr int kMaxPasses = 100;

double count_at(const PeakSession& s, int x) {
  if (x < 0 || x >= s.spectrum.channels() || x >= kMaxChannelsStored) return 0;
  return s.spectrum.counts[x];
}

double energy_of(const PeakSession& s, double channel) { return channel_to_energy(s.spectrum.calibration, channel); }

int trunc_int(double v) {
  if (!std::isfinite(v)) return 0;
  return static_cast<int>(std::clamp(v, -1e9, 1e9));
}

int round_int(double v) { return trunc_int(std::floor(v + 0.5)); }

// Polls the user abort; remembers it for the rest of the operation.
bool aborted(const PeakSession& s) {
  if (!s.flags.abort_requested && s.ui->abort_requested()) s.flags.abort_requested = true;
  return s.flags.abort_requested;
}

// The region's current sigma: the fitted one, else the cached one.
double region_sigma(const PeakSession& s) {
  const Region& r = s.peaks.region;
  if (r.sigma[0] > 0) return r.sigma[0];
  if (r.cache_sigma[0] > 0) return r.cache_sigma[0];
  return 1.0;
}

bool energy_display(const PeakSession& s) { return term_count(s.spectrum.calibration.energy_terms) >= 2; }

// The Yes/No/Abort prompts. Returns the answer; Cancel (Abort) sets the
// abort flag.
int ask(const PeakSession& s, const std::string& question, const char* reason) {
  int answer = s.ui->message_box(question, reason, kMsgYesNoCancel);
  if (answer == kAnswerCancel) s.flags.abort_requested = true;
  return answer;
}

// Index of the region peak whose centre channel lies within one channel of
// `channel`, or 0.
int region_peak_at(const PeakSession& s, int channel) {
  const Region& r = s.peaks.region;
  for (int k = r.first; k < r.first + r.count && k <= s.peaks.count; ++k)
    if (std::abs(s.peaks.centre_channel[k] - channel) <= 1) return k;
  return 0;
}

// Positions, sigmas and tailings of the region's peaks from the peak list
// and the calibration; position limits centre -+ `limit` sigma.
void reset_region_shapes(const PeakSession& s, double limit) {
  Region& r = s.peaks.region;
  const CalibrationRecord& cal = s.spectrum.calibration;
  for (int i = 0; i < r.count; ++i) {
    double c = s.peaks.centre[r.first + i];
    r.pos[i] = c;
    r.sigma[i] = width_at_channel(cal, c);
    r.tail[i] = low_tail_at_channel(cal, c);
    r.pos_lo[i] = c - limit * r.sigma[i];
    r.pos_hi[i] = c + limit * r.sigma[i];
  }
}

// Removes peak k. Returns 1 to go on with the region, 0 when its fit ends.
int remove_region_peak(const PeakSession& s, int k) {
  PeakList& list = s.peaks;
  Region& r = list.region;
  DriverState& d = s.fitting;
  s.ui->set_status(c_format("Removing Peak at %3.1f keV", energy_of(s, list.centre[k])));
  remove_peak(s, list.centre_channel[k]);
  d.remove_confirmed = true;
  if (r.bounds_user && s.params.prompt_add_peaks == 0) {
    r.bounds_user = false;
    r.continuum_forced = false;
    r.step_requested = false;
  }
  if (r.first > list.count) {
    r.first = list.count;
    return 0;
  }
  return aborted(s) ? 0 : 1;
}

// A confirmed new peak at channel p joins the list and, well inside the
// region, the region's fit.
void add_candidate(const PeakSession& s, int p) {
  PeakList& list = s.peaks;
  Region& r = list.region;
  DriverState& d = s.fitting;
  const double sigma = region_sigma(s);
  s.ui->set_status(c_format(" Adding Peak at %3.1f keV", energy_of(s, p)));
  if (s.params.prompt_add_peaks != 0) d.last_added_channel = p;
  const double previous_largest = r.largest_significance;
  const int before_first = r.first;
  const int idx = insert_peak(s, p);
  if (idx == 0) return;
  d.added_channel = p;
  const int inside = trunc_int(1.5 * sigma);
  if (p > r.start + inside && p < r.end - inside && r.count < kMaxRegionPeaks) {
    // The new peak joins the region: a linear fit and position iteration
    // repeated while each lowers the reduced chi-squared by more than 10 %.
    if (idx < r.first) r.first = idx;
    ++r.count;
    r.last = r.first + r.count - 1;
    reset_region_shapes(s, 1.0);
    if (fit_region_linear(s, false)) {
      for (int round = 0; round < 20; ++round) {
        const double before = r.chi2;
        position_iteration(s);
        if (!fit_region_linear(s, false)) break;
        if (!(before > 0 && (before - r.chi2) / before > 0.1)) break;
      }
    }
    reset_region_shapes(s, 1.0);
  }
  list.significance[idx] = static_cast<float>(previous_largest > 0 ? previous_largest : 10);
  // A new first peak close to the peak below takes that peak's region with it.
  if (idx == before_first && idx > 1 && list.centre[idx] - list.centre[idx - 1] < 5 * sigma) {
    const int fs = list.fit_start[idx - 1];
    r.first = idx;
    while (r.first > 1 && list.fit_start[r.first - 1] == fs) --r.first;
    r.bounds_user = false;
  }
  list.region_choice[r.first] = 0;
  r.continuum_forced = false;
  r.step_requested = false;
}

// Pushes a refused channel into the ring of the last ten inserted or refused.
void refuse_channel(PeakList& list, int p) {
  list.ring[list.ring_next] = p;
  list.ring_next = (list.ring_next + 1) % kRefusedRing;
}

// Once every region is fitted, the backscatter bumps kept in their
// regions' fits leave the list; the other peaks keep their fits.
void drop_backscatter_peaks(PeakList& list) {
  int kept = 0;
  for (int k = 1; k <= list.count; ++k) {
    if (list.backscatter[k] != 0) continue;
    if (++kept != k) list.move_slot(k, kept);
  }
  for (int k = kept + 1; k <= list.count; ++k) list.clear_slot(k);
  if (kept != list.count) list.region.prev_count = 0;
  list.count = kept;
}

bool all_peaks_fitted(const PeakList& list) {
  for (int k = 1; k <= list.count; ++k)
    if (list.fitted_flag[k] == 0) return false;
  return true;
}

// A rough net area of peak p straight from the counts: the sum over its
// centre +-1.25 FWHM less a straight line through the mean counts of the
// half-FWHM strips on either side. Used only to compare strengths. A strip
// within a FWHM of another found peak is left out while the other strip is
// clear (two strong lines 2 FWHM apart would otherwise each read as little
// more than a third of itself); with both strips crowded the area stays
// low, so that a peak is taken for backscatter only beside clearly
// stronger lines.
double rough_area(const PeakSession& s, int p) {
  const PeakList& list = s.peaks;
  const CalibrationContext context = calibration_context(s.spectrum, s.flags);
  const double fwhm = fwhm_at_channel(s.spectrum.calibration, list.centre[p], context);
  const int channels = s.spectrum.channels();
  const int lo = trunc_int(list.centre[p] - 1.25 * fwhm), hi = trunc_int(list.centre[p] + 1.25 * fwhm);
  const int strip = std::max(1, trunc_int(0.5 * fwhm));
  if (lo - strip < 2 || hi + strip >= channels) return 0;
  double left = 0, right = 0, gross = 0;
  for (int x = lo - strip; x < lo; ++x) left += count_at(s, x);
  for (int x = hi + 1; x <= hi + strip; ++x) right += count_at(s, x);
  for (int x = lo; x <= hi; ++x) gross += count_at(s, x);
  bool left_crowded = false, right_crowded = false;
  for (int q = 1; q <= list.count; ++q) {
    if (q == p) continue;
    const double reach = fwhm_at_channel(s.spectrum.calibration, list.centre[q], context);
    if (list.centre[q] + reach > lo - strip && list.centre[q] - reach < lo) left_crowded = true;
    if (list.centre[q] + reach > hi && list.centre[q] - reach < hi + strip) right_crowded = true;
  }
  double side = 0.5 * (left + right);
  if (left_crowded && !right_crowded) side = right;
  if (right_crowded && !left_crowded) side = left;
  return gross - side / strip * (hi - lo + 1);
}

// Whether region peak k sits where the backscatter of stronger lines falls:
// a photon of energy E scattered back into the crystal from the shield
// deposits E / (1 + 2E / 511 keV) (at least half of E below 255 keV, so
// the lines looked at lie above twice the peak's energy; 149 keV for
// Ba-133's 356 keV, 184 keV for Cs-137), a broad bump that holds a few per
// cent of the line's counts.
// Such a peak is a backscatter bump when its area is below 15 % of the
// lines whose backscatter energy lies within 0.75 FWHM of it. True lines
// there (Ra-226 and U-235 at 186 keV, Ac-228 at 209 keV, Pb-212 at
// 239 keV) hold more than that beside the lines of their own chains.
bool backscatter_peak(const PeakSession& s, int k) {
  const PeakList& list = s.peaks;
  const CalibrationRecord& cal = s.spectrum.calibration;
  if (term_count(cal.energy_terms) < 2) return false;
  const double e = energy_of(s, list.centre[k]);
  if (!(e > 100 && e < 300)) return false;
  const double fwhm_kev = fwhm_at_channel(cal, list.centre[k], calibration_context(s.spectrum, s.flags)) *
                          std::fabs(energy_of(s, list.centre[k] + 0.5) - energy_of(s, list.centre[k] - 0.5));
  double parents = 0;
  for (int p = 1; p <= list.count; ++p) {
    const double ep = energy_of(s, list.centre[p]);
    if (!(ep > 2.0 * e)) continue;
    const double back = ep / (1 + 2 * ep / 511.0);
    if (std::fabs(back - e) < 0.75 * fwhm_kev) parents += std::max(0.0, rough_area(s, p));
  }
  return parents > 0 && list.fitted_area[k] < 0.15 * parents;
}

}  // namespace

double area_by_summation(const PeakSession& s, int k) {
  PeakList& list = s.peaks;
  Region& r = list.region;
  DriverState& d = s.fitting;
  if (k < 1 || k > list.count || r.end <= r.start + 2) return 0;
  const int lo = std::clamp(list.window_start[k], r.start + 1, r.end - 1);
  const int hi = std::clamp(list.window_end[k], lo, r.end - 1);
  double gross = 0;
  for (int x = lo; x <= hi; ++x) gross += count_at(s, x);
  // Straight line by least squares over the region outside the window,
  // x counted from 1 at the region start.
  double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (int x = r.start; x <= r.end; ++x) {
    if (x >= lo && x <= hi) continue;
    const double u = x - r.start + 1, y = count_at(s, x);
    n += 1;
    sx += u;
    sy += y;
    sxx += u * u;
    sxy += u * y;
  }
  double a = 0, b = 0;
  const double det = n * sxx - sx * sx;
  if (n > 0) {
    if (det != 0) {
      b = (n * sxy - sx * sy) / det;
      a = (sy - b * sx) / n;
    } else {
      a = sy / n;
    }
  }
  double background = 0;
  for (int x = lo; x <= hi; ++x) background += a + b * (x - r.start + 1);
  if (d.summation) {
    for (int x = r.start; x <= r.end && x - r.start < kMaxRegionChannels; ++x)
      list.work.residual[x - r.start] = static_cast<float>(a + b * (x - r.start + 1));
  }
  const double area = gross - background;
  const double window = hi - lo + 1;
  const double w = n > 0 ? window / n : 0;
  const double var = gross + background * w;
  double pct = 0;
  if (var > 0 && area != 0) pct = s.params.peak_sigma * 100 * std::sqrt(var) / std::fabs(area);
  list.fitted_area[k] = static_cast<float>(area);
  list.fitted_area_pct[k] = static_cast<float>(pct);
  const int i = k - r.first;
  if (i >= 0 && i < kMaxRegionPeaks) {
    r.area[i] = area;
    r.area_rel[i] = s.params.peak_sigma > 0 ? pct / (100 * s.params.peak_sigma) : 0;
  }
  r.chi2 = 0;
  return background * (w + 1);
}

int expand_estimate(const PeakSession& s, int k) {
  DriverState& d = s.fitting;
  Region& r = s.peaks.region;
  if (d.expand_end <= d.expand_start) {
    s.ui->message_box(kExpandNeeded, "", kMsgOk);
    return 0;
  }
  const double c = k >= 1 && k <= s.peaks.count ? s.peaks.centre[k] : 0;
  const int lo = std::max(d.expand_start, 0);
  const int hi = std::min(d.expand_end, s.spectrum.channels() - 1);
  if (c < lo || c > hi || hi <= lo) {
    s.ui->message_box(kExpandNotContaining, "", kMsgOk);
    return 0;
  }
  int top = lo;
  for (int x = lo; x <= hi; ++x)
    if (count_at(s, x) > count_at(s, top)) top = x;
  const double max = count_at(s, top);
  double min_lo = max, min_hi = max;
  for (int x = lo; x < top; ++x) min_lo = std::min(min_lo, count_at(s, x));
  for (int x = top + 1; x <= hi; ++x) min_hi = std::min(min_hi, count_at(s, x));
  double width = 1;
  const double limit_lo = min_lo + 0.7 * (max - min_lo);
  for (int x = top - 1; x >= lo && count_at(s, x) >= limit_lo; --x) width += 0.5;
  const double limit_hi = min_hi + 0.7 * (max - min_hi);
  for (int x = top + 1; x <= hi && count_at(s, x) >= limit_hi; ++x) width += 0.5;
  r.cache_sigma.fill(static_cast<float>(width));
  r.cache_tail.fill(static_cast<float>(2 * width));
  r.ref_sigma = static_cast<float>(width);
  r.ref_tail = static_cast<float>(2 * width);
  r.prev_count = -1;
  return 1;
}

double search_residuals(const PeakSession& s) {
  PeakList& list = s.peaks;
  Region& r = list.region;
  DriverState& d = s.fitting;
  const double ref = r.x0 > 0 ? r.x0 : 0.5 * (r.start + r.end);
  const double sig = width_at_channel(s.spectrum.calibration, ref);
  const int b = std::max(trunc_int(sig), 2);
  const double disc = s.params.new_peak_discriminator;
  double best = 0, best_c = 0;
  double sum = 0, wsum = 0;
  bool open = false;
  const int first = r.start + b, last = std::min(r.end - b, r.start + kMaxRegionChannels - 1);
  for (int x = first; x <= last; ++x) {
    const double res = list.work.residual[x - r.start];
    if (res >= 1) {
      sum += res;
      wsum += res * x;
      open = true;
    }
    if (!open || (res >= 1 && x != last)) continue;
    open = false;
    const double R = sum, W = wsum;
    sum = wsum = 0;
    if (!(R > disc)) continue;
    const double c = W / R;
    if (on_discriminator_edge(s, c)) continue;
    bool refused = false;
    for (int ch : list.ring)
      if (ch != 0 && ch >= c - sig && ch <= c + sig) refused = true;
    if (refused) continue;
    const double q = 2 * R / sig;
    if (!(q > 1.5 * best)) continue;
    double h = disc, v = 0;
    bool near = false;
    for (int i = 0; i < r.count; ++i) {
      const int k = r.first + i;
      const double dist = std::fabs(list.centre[k] - c);
      if (dist < sig) near = true;
      if (dist < 8 * sig) v = std::max(v, static_cast<double>(list.significance[k]));
    }
    if (near) continue;
    if (v > 100) h += v * h * 0.001;
    if (q > h) {
      best = q;
      best_c = c;
    }
  }
  compute_residuals(s);
  d.candidate_strength = best;
  return best_c;
}

int removal_candidate(const PeakSession& s, const char** reason) {
  const PeakList& list = s.peaks;
  const Region& r = list.region;
  DriverState& d = s.fitting;
  const int end = std::min(r.first + r.count, list.count + 1);
  // The tests in order; the first that names a peak decides.
  // The most negative area.
  int named = 0;
  for (int k = r.first; k < end; ++k)
    if (list.fitted_area[k] < 0 && (named == 0 || list.fitted_area[k] < list.fitted_area[named])) named = k;
  if (named) {
    *reason = kReasonNegative;
    return named;
  }
  // Too near: the smaller of a pair closer than half a FWHM (the last such
  // pair wins). The analysis library merges lines that close into one, so
  // two peaks there are one line's counts: Eu-152's 1086-1112 keV group,
  // one library line, fitted as two peaks 0.44 FWHM apart in a strong
  // source, left half its counts to a peak no line took, and Eu-152 read
  // 9 % low.
  if (r.count >= 2) {
    const double dmin = std::max(0.5 * 2.355 * region_sigma(s), 1.25);
    // A line put in from the library goes before a found peak.
    for (int k = r.first; k + 1 < end; ++k) {
      if (list.centre[k + 1] - list.centre[k] < dmin)
        named = list.library_line[k + 1] != list.library_line[k]
                    ? (list.library_line[k + 1] != 0 ? k + 1 : k)
                    : (list.fitted_area[k + 1] < list.fitted_area[k] ? k + 1 : k);
    }
    if (named) {
      *reason = kReasonTooNear;
      return named;
    }
    if (d.refit_with_library_lines) return 0;
    // A small peak squeezed between two lines each more than four times
    // its size, both within 1.25 FWHM of it: the search's widest filters
    // see the pair as one run whose centroid lies between them (two lines
    // 1.5 FWHM apart kept such a third peak in 61 of 100 spectra).
    for (int k = r.first + 1; k + 1 < end; ++k) {
      const float a = list.fitted_area[k];
      const double fwhm = fwhm_at_channel(s.spectrum.calibration, list.centre[k], calibration_context(s.spectrum, s.flags));
      if (list.library_line[k] == 0 && list.centre[k] - list.centre[k - 1] < 1.25 * fwhm &&
          list.centre[k + 1] - list.centre[k] < 1.25 * fwhm &&
          list.fitted_area[k - 1] > 4 * a && list.fitted_area[k + 1] > 4 * a &&
          (named == 0 || a < list.fitted_area[named]))
        named = k;
    }
    if (named) {
      *reason = kReasonBetween;
      return named;
    }
  }
  if (d.refit_with_library_lines) return 0;
  // The remaining tests judge whether a found peak is real; a line put in
  // from the library is known to be there, however weak.
  // The largest uncertainty above MAXP.
  for (int k = r.first; k < end; ++k) {
    if (list.library_line[k] == 0 && list.fitted_area_pct[k] > s.params.max_peak_uncertainty &&
        (named == 0 || list.fitted_area_pct[k] > list.fitted_area_pct[named]))
      named = k;
  }
  if (named) {
    *reason = kReasonUncertain;
    return named;
  }
  // Currie critical limit L = PSIG sqrt(background variance).
  const double psig = s.params.peak_sigma;
  for (int k = r.first; k < end; ++k) {
    if (list.library_line[k] != 0) continue;
    const double area = list.fitted_area[k];
    double x = d.summation_variance;
    if (!d.summation_used) {
      const double sd = psig > 0 ? area * list.fitted_area_pct[k] * 0.01 / psig : 0;
      x = sd * sd - area;
    }
    if (x > 0) {
      const double limit = std::sqrt(x) * psig;
      d.critical_limit = limit;
      if (area < limit) {
        *reason = kReasonCritical;
        return k;
      }
    }
  }
  for (int k = r.first; k < end; ++k)
    if (list.backscatter[k] == 0 && list.library_line[k] == 0 && backscatter_peak(s, k)) {
      *reason = kReasonBackscatter;
      return k;
    }
  return 0;
}

int fit_region(const PeakSession& s, bool automatic) {
  PeakList& list = s.peaks;
  Region& r = list.region;
  DriverState& d = s.fitting;
  const AnalysisParameters& p = s.params;
  Platform& ui = *s.ui;
  d.region_fitted = d.add_confirmed = d.remove_confirmed = false;
  if (r.first == 0) r.first = 1;
  if (r.first > list.count) return 0;

  if (!automatic && term_count(s.spectrum.calibration.width_terms) == 0 && !r.shape_calibration &&
      !(r.first == d.last_first && r.count == d.last_count && d.last_count > 0)) {
    if (!expand_estimate(s, r.first)) return 0;
  }
  if (!d.report_open) open_peak_fit_report(s);

  bool after_change = false;
  bool finished = false;
  int passes = 0;
  while (true) {
    r.bounds_fixed = false;
    d.candidate = 0;
    std::string message;
    if (!form_region(s, message)) {
      ui.message_box(message, "", kMsgOk);
      return 0;
    }
    if (r.count < 1) break;
    if (!after_change)
      ui.set_status(c_format("Fitting region from %3.1f to %3.1f keV", energy_of(s, r.start), energy_of(s, r.end)));
    after_change = false;
    const bool decide = ++passes < kMaxPasses;
    for (int i = 0; i < r.count; ++i) {
      const double c = list.centre[r.first + i];
      const double sg = r.cache_sigma[i] > 0 ? r.cache_sigma[i] : 1.0;
      r.pos_lo[i] = c - 2 * sg;
      r.pos_hi[i] = c + 2 * sg;
    }

    const bool summation = d.summation && r.count == 1 && !r.shape_calibration;
    d.summation_used = false;
    if (summation) {
      r.terms = 2;
    } else {
      choose_continuum_and_fit(s);
      compute_areas(s);
      if (s.flags.working_residual_search && !d.refit_with_library_lines && !aborted(s)) d.candidate = static_cast<float>(search_residuals(s));
    }
    if (summation || (p.area_by_summation != 0 && r.count == 1)) {
      d.summation_variance = area_by_summation(s, r.first);
      d.summation_used = true;
    }

    if (r.bounds_user && r.first == d.last_first) {
      for (int k = d.last_first; k <= d.last_first + d.last_count && k <= list.count; ++k) list.fitted_flag[k] = 0;
    }
    d.last_first = r.first;
    d.last_count = r.count;
    d.region_fitted = true;

    // A badly fitting multiplet is split at a gap wider than 8 sigma.
    if (!decide) d.candidate = 0;
    if (decide && !r.bounds_user && d.candidate == 0 && r.count > 1 && r.chi2 > 10) {
      const double sg = region_sigma(s);
      int below = 0;
      double gap = -1;
      for (int k = r.first; k + 1 < r.first + r.count && k + 1 <= list.count; ++k) {
        const double g = list.centre[k + 1] - list.centre[k];
        if (g > gap) {
          gap = g;
          below = k;
        }
      }
      if (below && gap > 8 * sg) {
        // The peaks above the gap form their own region next (as where the
        // engine splits a region).
        for (int k = below + 1; k < r.first + r.count && k <= list.count; ++k) list.region_choice[k] = 0;
        r.end = trunc_int(list.centre[below] + 4 * sg);
        r.bounds_user = true;
        continue;
      }
    }

    for (int k = r.first; k < r.first + r.count && k <= list.count; ++k)
      list.centre_channel[k] = round_int(list.centre[k]);

    // Keep the peak just added?
    if (decide && automatic && p.prompt_add_peaks != 0 && d.added_channel != 0) {
      const int k = region_peak_at(s, d.added_channel);
      d.added_channel = 0;
      if (k) {
        const int answer =
            ask(s, c_format("Keep the Peak at %3.1f keV ?", energy_of(s, list.centre[k])), kReasonAdded);
        if (answer == kAnswerNo && !aborted(s)) {
          if (!remove_region_peak(s, k)) break;
          after_change = true;
          continue;
        }
      }
    }
    d.added_channel = 0;

    // A new peak from the residuals.
    if (d.candidate > 0) {
      const int ch = round_int(d.candidate);
      d.cursor_channel = ch;
      bool confirmed = true;
      if (p.prompt_add_peaks != 0) {
        const std::string q = energy_display(s) ? c_format("Add a new Peak at %3.1f keV ?", energy_of(s, d.candidate))
                                                : c_format("Add a new Peak at Channel %d ?", ch);
        confirmed = ask(s, q, kReasonResidual) == kAnswerYes;
      }
      d.add_confirmed = confirmed;
      if (confirmed)
        add_candidate(s, ch);
      else
        refuse_channel(list, ch);
      if (aborted(s)) break;
      after_change = true;
      continue;
    }

    // Removal test.
    const char* reason = nullptr;
    const int named = decide ? removal_candidate(s, &reason) : 0;
    if (named) {
      d.cursor_channel = round_int(list.centre[named]);
      const double sg = region_sigma(s);
      bool confirmed = true;
      const bool near_added =
          d.last_added_channel != 0 && std::fabs(list.centre[named] - d.last_added_channel) < 2 * sg;
      const bool asked = p.prompt_remove_peaks != 0 || near_added;
      if (asked) {
        const int answer = ask(s, c_format("Remove the Peak at %3.1f keV ?", energy_of(s, list.centre[named])), reason);
        confirmed = answer == kAnswerYes;
      }
      if (confirmed && reason == kReasonBackscatter && !asked) {
        // Kept in the fit, with every other bump of the region (the other
        // removal tests have passed them all), and left out of the list
        // when all regions are fitted.
        const int end = std::min(r.first + r.count, list.count + 1);
        for (int k = r.first; k < end; ++k)
          if (k == named || (list.backscatter[k] == 0 && list.library_line[k] == 0 && backscatter_peak(s, k)))
            list.backscatter[k] = 1;
      } else if (confirmed) {
        // Nor may the residuals put it back.
        if (reason == kReasonBetween) refuse_channel(list, round_int(list.centre[named]));
        // A line put in from the library is there whatever its fitted area:
        // one that came out negative is taken as known at the area its
        // nuclide gives it, so that its counts still do not lift the
        // continuum under its neighbours.
        if (reason == kReasonNegative && list.library_line[named] != 0 && d.refit_with_library_lines)
          take_as_known(s, list.centre[named], list.library_line_area[named]);
        if (!remove_region_peak(s, named)) break;
        after_change = true;
        continue;
      }
      // Only a question can have been aborted here.
      if (asked && aborted(s)) break;
    }

    // Finish the region.
    if (r.count > 1 && !summation) {
      reset_region_shapes(s, 2.0);
      fit_region_completely(s);
      compute_areas(s);
    }
    const int choice = r.step ? 1 : r.terms;
    for (int k = r.first; k < r.first + r.count && k <= list.count; ++k) {
      list.centre_channel[k] = round_int(list.centre[k]);
      list.fit_start[k] = r.start;
      list.fit_end[k] = r.end;
      list.region_choice[k] = choice;
      list.fitted_flag[k] = 1;
    }
    // A later peak whose stored region reaches back over these peaks (it was
    // formed before this region grew) forms its region afresh: within the
    // stored bounds it would fit them, and report them, a second time.
    if (r.count > 0) {
      const float last_centre = list.centre[std::min(r.first + r.count - 1, list.count)];
      for (int k = r.first + r.count; k <= list.count; ++k)
        if (list.region_choice[k] != 0 && list.fitted_flag[k] == 0 && list.fit_start[k] < last_centre)
          list.region_choice[k] = 0;
    }
    r.fitted = true;
    write_region_report(s);
    finished = true;
    break;
  }

  list.fit_enabled = true;
  if (list.count > 0 && all_peaks_fitted(list)) {
    drop_backscatter_peaks(list);
    ui.set_status("All Peaks have been fitted");
    write_peak_database(s);
  } else if (!automatic && d.report_open) {
    flush_peak_fit_report(s);
  }
  return finished ? 1 : 0;
}

int fit_all_remaining_peaks(const PeakSession& s) {
  PeakList& list = s.peaks;
  Region& r = list.region;
  DriverState& d = s.fitting;
  Platform& ui = *s.ui;
  list.fitted = false;
  s.flags.abort_requested = false;
  if (s.flags.display_on) s.flags.window_title = "Fitting Peaks";
  int last_region = 0;
  while (!list.fitted) {
    int k = 1;
    while (k <= list.count && list.fitted_flag[k] != 0) ++k;
    if (k > list.count) {
      list.fitted = true;
      break;
    }
    const bool last_of_list = k == list.count;
    r.first = k;
    r.bounds_user = false;
    r.continuum_forced = false;
    r.step_requested = false;
    r.continuum_choice = 0;
    d.summation = false;
    fit_region(s, true);
    if (!aborted(s) && k <= list.count && list.fitted_flag[k] == 0) {
      // A region that cannot be formed (its message shown), or whose
      // stored bounds leave this peak out, is passed over so that the loop
      // goes on with the next peaks: asked again it would do the same.
      list.fitted_flag[k] = 1;
    }
    last_region = r.first;
    if (last_of_list) list.fitted = true;
    if (aborted(s)) break;
    if (s.params.pause_after_region != 0 && s.flags.display_on) {
      ui.set_status("Pausing, Press any key to continue...");
      int waited = 0;
      do {
        ui.wait_ms(kPollMs);
        waited += kPollMs;
      } while (waited < s.params.fitting_delay_ms && !aborted(s));
      if (aborted(s)) break;
    }
  }
  if (list.fitted && d.report_open) write_peak_database(s);
  if (d.report_open) flush_peak_fit_report(s);  // aborted: the regions fitted so far
  ui.set_status("");
  if (last_region >= 1 && last_region <= list.count) r.first = last_region;
  return s.flags.abort_requested ? 0 : 1;
}

namespace {

int refit_current(const PeakSession& s) { return fit_region(s, false); }

int force_terms(const PeakSession& s, int terms) {
  Region& r = s.peaks.region;
  if (r.continuum_forced && !r.step_requested && r.continuum_choice == terms) {
    r.continuum_forced = false;
    r.continuum_choice = 0;
  } else {
    r.continuum_forced = true;
    r.continuum_choice = terms;
  }
  r.step_requested = false;
  return refit_current(s);
}

}  // namespace

int use_linear_continuum(const PeakSession& s) { return force_terms(s, 2); }
int use_nonlinear_continuum(const PeakSession& s) { return force_terms(s, 3); }

int use_step_continuum(const PeakSession& s) {
  Region& r = s.peaks.region;
  if (r.continuum_forced && r.step_requested) {
    r.continuum_forced = false;
    r.step_requested = false;
    r.continuum_choice = 0;
  } else {
    r.continuum_forced = true;
    r.step_requested = true;
    r.continuum_choice = std::clamp(r.terms, 2, 3);
  }
  return refit_current(s);
}

int use_summation_for_area(const PeakSession& s) {
  s.fitting.summation = !s.fitting.summation;
  return refit_current(s);
}

}  // namespace kestrim
