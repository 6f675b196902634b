#include "nuclides/lod.h"
#include "platform/text_encoding.h"

#include <algorithm>
#include <cmath>

#include "nuclides/nuclide_session.h"
#include "nuclides/quant_common.h"
#include "peaks/fit_engine.h"
#include "peaks/peak_model.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/c_format.h"
#include "settings/calibration_functions.h"

namespace kestrim {

namespace {

constexpr const char* kLodDiagnostic = "LOD Diagnostic.txt";

int last_count_channel(const NuclideSession& state) {
  return std::min(state.spectrum.channels(), kMaxChannels) - 1;
}

// A count printed with %ld; values beyond the range of long print as 0.
long as_long(double v) { return std::fabs(v) < 1e18 ? static_cast<long>(v) : 0; }

double sum_counts(const NuclideSession& state, int lo, int hi) {
  double s = 0;
  for (int x = lo; x <= hi; ++x) s += state.spectrum.counts[x];
  return s;
}

// Fits one peak at channel p (sigma w) over [lo, hi] with a linear
// continuum and returns the sum of the fitted peak's counts over those
// channels; 0 when the fit fails. The current region is left as it was.
double fit_single_peak_area(const NuclideSession& state, double p, double w, int lo, int hi) {
  Region& r = state.peaks.region;
  const Region kept = r;
  r.count = 1;
  r.start = lo;
  r.end = hi;
  r.pos[0] = p;
  r.sigma[0] = w;
  r.tail[0] = low_tail_at_channel(state.spectrum.calibration, p, calibration_context(state.spectrum, state.flags));
  r.terms = 2;
  r.step = false;
  double area = 0;
  if (hi > lo && fit_region_linear(state, false) == 1) {
    const double h = r.height[0];
    for (int x = lo; x <= hi; ++x) area += h * peak_shape(x, p, w, r.tail[0], 10 * w);
  }
  r = kept;
  return area;
}

// The first peak of the background record strictly inside E - T .. E + T:
// its energy and count rate.
bool find_background_peak(const NuclideSession& state, double energy_kev, double tolerance,
                          double& found_energy, double& found_rate) {
  const BackgroundRecord& bg = state.background;
  for (int i = 0; i < bg.peaks(); ++i) {
    const double eb = bg.energy[i];
    if (eb > energy_kev - tolerance && eb < energy_kev + tolerance) {
      found_energy = eb;
      found_rate = bg.rate[i];
      return true;
    }
  }
  return false;
}

}  // namespace

const char* lod_type_name(int type) {
  switch (type) {
    case kLodCritical: return "Critical Limit or LLD";
    case kLodMinimumDetectable: return "Minimum Detectable Activity";
    case kLodUpperLimit: return "Upper Limit";
    case kLodDetermination: return "Limit of Determination";
    case kLodMaximumSample: return "LOD - maximum sample activity";
    default: return "";
  }
}

double limit_counts(int type, double background, double peak_area, double k, int maxp) {
  const double b = std::max(background, 0.0);
  switch (type) {
    case kLodCritical: return k * std::sqrt(b);
    case kLodMinimumDetectable: return k * k + 2 * k * std::sqrt(b);
    case kLodUpperLimit:
      if (peak_area > 0) return peak_area + k * std::sqrt(b + peak_area);
      return k * std::sqrt(b);
    case kLodDetermination:
    case kLodMaximumSample: {
      const double e = maxp / 100.0;
      if (!(e > 0)) return 0;
      const double g = (k / e) * (k / e);
      const double l4 = g / 2 * (1 + std::sqrt(1 + 4 * b / g));
      return type == kLodDetermination ? l4 : l4 * (1 + e);
    }
    default: return 0;
  }
}

BackgroundCounts background_counts(const NuclideSession& state, double energy_kev, bool subtract_found,
                                   bool need_area, ReportText* diag) {
  BackgroundCounts out;
  const PeakList& list = state.peaks;
  const AnalysisParameters& par = state.params;
  const CalibrationRecord& cal = state.spectrum.calibration;
  const CalibrationContext ctx = calibration_context(state.spectrum, state.flags);
  const int last = last_count_channel(state);
  if (last < 3) return out;

  // Position: the channel of E, or the nearest fitted peak within tol(E).
  const double t = line_tolerance(par, energy_kev, state.results);
  double p = energy_to_channel(cal, energy_kev);
  const int nearest = nearest_peak(state, energy_kev);
  const double best = nearest != 0 ? std::fabs(peak_energy(state, nearest) - energy_kev) : 0;
  if (nearest != 0 && best < 100 && best <= t) {
    p = list.centre[nearest];
    out.nearest_peak = nearest;
  }

  // Width at the position and the spans derived from it.
  const double w = width_at_channel(cal, p, ctx);
  if (!std::isfinite(p) || !std::isfinite(w)) return out;
  const double A = 6.005 * w;
  const double H = 3.5 * w;
  const double G = (2 * par.region_end_channels) / 3;

  // Region: clear of the other fitted peaks.
  bool crowded = false;
  double below = -1, above = -1;
  for (int k = 1; k <= list.count; ++k) {
    if (k == out.nearest_peak) continue;
    const double c = list.centre[k];
    if (c > p - A && c < p + A) crowded = true;
    if (c > p - A - G && c <= p) below = c;  // the last such peak
    if (c >= p && c < p + A + G && above < 0) above = c;
  }
  double lo_f, hi_f;
  if (crowded) {
    lo_f = p - H;
    hi_f = p + H;
  } else {
    lo_f = below >= 0 ? below + H : p - H - G;
    hi_f = above >= 0 ? above - H : p + H + G;
  }
  // Whole channels, kept inside the counted channels.
  int lo = static_cast<int>(std::clamp(lo_f, 2.0, static_cast<double>(last)));
  int hi = static_cast<int>(std::clamp(hi_f, 2.0, static_cast<double>(last)));
  if (hi < lo) std::swap(lo, hi);
  out.region_start = lo;
  out.region_end = hi;

  // Sum and channel count.
  double S = sum_counts(state, lo, hi);
  const double n = hi - lo + 1;
  out.channels = n;
  out.span = A;

  // Peak area.
  double N = 0;
  if ((subtract_found && out.nearest_peak != 0) || need_area) {
    int fitted = 0;
    for (int k = 1; k <= list.count; ++k) {
      const double ep = peak_energy(state, k);
      if (ep > energy_kev - t && ep < energy_kev + t) {
        fitted = k;
        break;
      }
    }
    if (fitted != 0) {
      N = list.net_area[fitted];
    } else {
      const int flo = static_cast<int>(std::clamp(p - H, 2.0, static_cast<double>(last)));
      const int fhi = static_cast<int>(std::clamp(p + H, 2.0, static_cast<double>(last)));
      N = fit_single_peak_area(state, p, w, flo, fhi);
    }
    if (diag)
      diag->line(c_format(" Peak at %6.1f keV. has an area of  %ld  Counts.", energy_kev, as_long(N)));
  }
  out.peak_area = N;

  // A found peak is not background.
  if (subtract_found && out.nearest_peak != 0) S -= N;

  // Background under the peak's span, with the uncertainty of the
  // estimate. The correction is only defined when the region has more
  // channels than H; a narrower region takes it with one channel.
  double B = S / n * A;
  B *= 1 + A / std::max(n - H, 1.0);
  out.counts = B;

  // Diagnostic line.
  if (diag)
    diag->line(std::string(36, ' ') +
               c_format("%6.1f    %6.1f     %ld  ( n=%1.0f, 2m=%1.0f )", channel_to_energy(cal, lo),
                        channel_to_energy(cal, hi), as_long(B), A, n - H));

  // Background-file peak at the energy.
  double bkg_energy = 0, bkg_rate = 0;
  if (par.background_cps_subtraction != 0 &&
      find_background_peak(state, energy_kev, t, bkg_energy, bkg_rate)) {
    const double c = bkg_rate * state.spectrum.header.live_time;
    out.counts += c;
    out.peak_area -= c;
    if (diag)
      diag->line(c_format(" Bkg. Peak found at:- %6.1f, Bkg. LOD Counts:-  %ld", bkg_energy,
                          as_long(c)));
  }
  return out;
}

double limit_at_energy(const NuclideSession& state, double energy_kev, bool subtract_found, int type,
                       ReportText* diag) {
  const BackgroundCounts b =
      background_counts(state, energy_kev, subtract_found, type == kLodUpperLimit, diag);
  double l = limit_counts(type, b.counts, b.peak_area, state.params.lod_sigma,
                          state.params.max_peak_uncertainty);
  const double eff = efficiency_at_energy(state, energy_kev);
  if (eff > 0) l /= eff;
  const double live = state.spectrum.header.live_time;
  if (live > 0) l /= live;
  return l;
}

double round_two_figures(double value) {
  if (!(value > 0)) return value;
  const double scale = std::pow(10.0, std::floor(std::log10(value)) - 1);
  return std::floor(value / scale + 0.5) * scale;
}

namespace {

std::string trimmed_name7(std::string_view name) {
  std::string s(name.substr(0, std::min<std::size_t>(7, name.size())));
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

}  // namespace

int lod_section(const NuclideSession& state, bool template_mode, std::vector<LodRow>& rows) {
  rows.clear();
  // Without an energy calibration there is no energy to work a limit at.
  if (!state.results.energy_calibrated) return 1;
  const AnalysisParameters& par = state.params;
  const CalibrationRecord& cal = state.spectrum.calibration;
  NuclideResults& res = state.results;
  ReportText diag;
  diag.line(c_format("Diagnostic LOD Report for Spectrum File :- %s ", state.flags.current_file.c_str()));
  diag.empty();
  diag.line("  Isotope     Peak     Limit  of       ------- Region -------");
  diag.line("   name      Energy    Detection     Start      Stop     Counts");

  const int nch = state.spectrum.channels();
  const double lower = channel_to_energy(cal, par.search_start);
  const double upper = channel_to_energy(cal, std::min<double>(par.search_stop > 0 ? par.search_stop : nch, nch));
  const double decay = res.decay_interval;

  LibraryReader reader;
  int ok = reader.open_title(*state.ui, state.paths, to_string(par.lod_library));
  CurrentNuclide cur;
  while (ok && reader.next(cur) == 1) {
    const std::string name = to_string(cur.nuclide.name);
    bool subtract = false;
    bool reported = false;
    for (const NuclideResult& r : res.results)
      if (r.uncertainty != 0 && trimmed_name7(r.name) == trimmed_name7(name)) reported = true;
    if (reported) {
      if (!(par.lod_for_found != 0 && template_mode)) continue;
      subtract = true;
    }
    diag.empty();
    const double hl = cur.nuclide.half_life;
    if (std::fabs(decay) > 20 * hl) {
      diag.line(c_format("     The Sample age is > 20 times the Halflife of %s", name.c_str()));
      LodRow row;
      row.name = name;
      row.too_old = true;
      rows.push_back(row);
      if (!template_mode && static_cast<int>(res.results.size()) < kMaxNuclideResults) {
        NuclideResult e;
        e.name = name;
        res.results.push_back(e);
      }
      continue;
    }
    const bool smallest = par.lod_type == kLodCritical || par.lod_type == kLodUpperLimit;
    double limit = 0;
    bool any = false;
    for (int i = 0; i < cur.line_count; ++i) {
      const double e = cur.energy[i];
      const double y = cur.yield[i];
      if (!(e > lower && e < upper) || !(y > 0)) continue;
      const double l = limit_at_energy(state, e, subtract, par.lod_type, &diag) / y;
      diag.line(c_format(" %s    %6.1f    %10.3e", name.c_str(), e, l));
      if (!any || (smallest ? l < limit : l > limit)) limit = l;
      any = true;
    }
    if (!any) continue;  // no line of the nuclide lies in the spectrum
    double specific = limit;
    if (state.spectrum.header.sample_size > 0) specific /= state.spectrum.header.sample_size;
    if (state.spectrum.header.correction_factor > 0) specific *= state.spectrum.header.correction_factor;
    if (par.activity_factor > 0 && state.results.efficiency_calibrated)
      specific *= par.activity_factor;
    double corrected = specific;
    if (hl > 0) {
      const double b = std::fabs(decay) * 0.6931471 / hl;
      corrected = decay > 0 ? specific * std::exp(b) : specific / std::exp(b);
    }
    if (par.round_activities != 0 && specific > 0) {
      specific = round_two_figures(specific);
      corrected = round_two_figures(corrected);
    }
    LodRow row;
    row.name = name;
    row.specific = specific;
    row.decay_corrected = corrected;
    rows.push_back(row);
    if (!template_mode) {
      if (static_cast<int>(res.results.size()) >= kMaxNuclideResults) {
        res.results_full = true;
        continue;
      }
      NuclideResult e;
      e.name = name;
      e.activity = specific;
      e.decay_corrected = corrected;
      res.results.push_back(e);
    }
  }
  std::string error;
  if (!write_text_atomic(join_path(state.paths.working_dir, kLodDiagnostic), text_as_utf8(diag.text), &error,
                         state.paths.write_faults)) {
    state.ui->message_box("Could not write " + std::string(kLodDiagnostic) + ":- " + error);
    return 0;
  }
  return ok;
}

}  // namespace kestrim
