#include "settings/calibration_functions.h"

#include <algorithm>
#include <cmath>

#include "settings/session.h"
#include "spectrum/spectrum_record.h"
#include "platform/linear_solver.h"

namespace kestrim {

namespace {

// A type-4 spectrum (Ortec SPC, spectrum/formats.h) that carries its own
// calibration uses channels, not energies, in its width function and may
// take its efficiency from the points alone.
constexpr int kOwnCalibrationType = 4;
constexpr double kFwhmPerSigma = 2.355;
constexpr double kQuadraticThreshold = 1e-8;
constexpr double kLogIterationTolerance = 0.1;  // keV
constexpr int kLogIterations = 5;

bool is_log_form(const CalibrationRecord& cal) { return cal.energy_form != 0; }

double polynomial3(const std::array<float, 3>& c, int n, double u) {
  double v = c[0] + c[1] * u;
  if (n > 2) v += c[2] * u * u;
  return v;
}

double clamp_log_efficiency(double l) {
  if (!(l <= kMaxLogEfficiency)) l = std::isnan(l) ? kMinLogEfficiency : kMaxLogEfficiency;
  if (l < kMinLogEfficiency) l = kMinLogEfficiency;
  return l;
}

bool own_calibration(const CalibrationContext& ctx) {
  return ctx.spectrum_type == kOwnCalibrationType && ctx.detector_file < 1;
}

bool has_points(const CalibrationContext& ctx) {
  return ctx.points != nullptr && ctx.points->count > 0;
}

int point_count(const EfficiencyPoints& p) {
  return std::clamp<int>(p.count, 0, kMaxEfficiencyPoints);
}

// The curve that serves energy E: the low-energy curve up to and including
// the crossover, the high-energy curve above it.
struct Curve {
  int terms = 0;
  const float* coeffs = nullptr;
  int variance_start = 0;
  bool inverse = false;
};

Curve curve_for(const CalibrationRecord& cal, double e) {
  Curve c;
  if (e > cal.crossover) {
    c.terms = std::min(term_count(cal.high_eff_terms), static_cast<int>(cal.high_eff.size()));
    c.coeffs = cal.high_eff.data();
    c.variance_start = 9;
  } else {
    c.terms = std::min(term_count(cal.low_eff_terms), static_cast<int>(cal.low_eff.size()));
    c.coeffs = cal.low_eff.data();
    c.variance_start = 0;
  }
  c.inverse = c.terms > 0 && c.terms == cal.inverse_form;
  return c;
}

double segment(double x0, double y0, double x1, double y1, double x) {
  if (x1 == x0) return y0;
  return y0 + (y1 - y0) * (x - x0) / (x1 - x0);
}

}  // namespace

int term_count(float stored_terms) {
  if (!std::isfinite(stored_terms) || stored_terms > 100.0f || stored_terms < -100.0f) return 0;
  return static_cast<int>(stored_terms);
}

CalibrationContext calibration_context(const SpectrumRecord& spectrum, const SessionFlags& flags) {
  CalibrationContext ctx;
  ctx.spectrum_type = flags.spectrum_type;
  ctx.detector_file = spectrum.header.detector_file;
  ctx.channels = spectrum.header.channels;
  ctx.points = &spectrum.efficiency;
  ctx.use_points = flags.use_efficiency_points;
  return ctx;
}

bool efficiency_calibrated(const SpectrumRecord& spectrum) {
  const CalibrationRecord& cal = spectrum.calibration;
  return term_count(cal.low_eff_terms) > 0 || term_count(cal.high_eff_terms) > 0 ||
         spectrum.efficiency.count > 0;
}

// ---------------------------------------------------------------- energy

double channel_to_energy(const CalibrationRecord& cal, double x) {
  const int n = term_count(cal.energy_terms);
  if (n <= 0) return x;
  double e = cal.energy[0];
  if (n > 1) e += cal.energy[1] * x;
  if (n > 2) {
    if (!is_log_form(cal)) {
      e += cal.energy[2] * x * x;
    } else if (x > 0) {
      e += cal.energy[2] * std::log(x);
    }
  }
  return e;
}

double energy_to_channel(const CalibrationRecord& cal, double e) {
  const int n = term_count(cal.energy_terms);
  const double c0 = cal.energy[0], c1 = cal.energy[1], c2 = cal.energy[2];
  if (n < 2 || c1 == 0.0) return e;
  if (!is_log_form(cal)) {
    if (n >= 3 && std::fabs(c2) >= kQuadraticThreshold) {
      // Root of c2 x^2 + c1 x + (c0 - E) = 0 that continues the linear one.
      // An energy beyond the parabola's turning point has no channel; the
      // linear inverse stands in for it rather than a NaN.
      const double disc = c1 * c1 - 4.0 * c2 * (c0 - e);
      if (disc >= 0) return (std::sqrt(disc) - c1) / (2.0 * c2);
    }
    return (e - c0) / c1;
  }
  // Logarithmic form: a fixed-point iteration on the linear inverse, the
  // target energy shifted by the residual of the previous step.
  double x = (e - c0) / c1;
  double working = e;
  double residual = kLogIterationTolerance + 1.0;
  for (int i = 0; i < kLogIterations && std::fabs(residual) > kLogIterationTolerance; ++i) {
    residual = e - channel_to_energy(cal, x);
    working += residual;
    x = (working - c0) / c1;
  }
  return x;
}

bool uses_own_calibration(const CalibrationContext& ctx) { return own_calibration(ctx); }

// ------------------------------------------------------------ peak shape

double width_at_channel(const CalibrationRecord& cal, double x) {
  return width_at_channel(cal, x, CalibrationContext{});
}

double width_at_channel(const CalibrationRecord& cal, double x, const CalibrationContext& ctx) {
  const int n = term_count(cal.width_terms);
  const double u = own_calibration(ctx) ? x : channel_to_energy(cal, x);
  double w;
  if (n > 0) {
    w = polynomial3(cal.width, n, u);
  } else if (n == -2) {
    // A zero gain would divide by zero; an uncalibrated energy axis has
    // one keV per channel.
    const double gain = cal.energy[1] != 0.0f ? cal.energy[1] : 1.0;
    w = (cal.width[0] + cal.width[1] * std::sqrt(u >= 0 ? u : 0.0)) / (gain * kFwhmPerSigma);
  } else if (const double fwhm = nai_typical_fwhm_channels(cal, x); fwhm > 0) {
    w = fwhm / kFwhmPerSigma;
  } else {
    w = static_cast<double>(ctx.channels / 256) + 0.01 * x;
  }
  if (!(w >= 1.0)) w = 1.0;  // also catches NaN
  return w;
}

double fwhm_at_channel(const CalibrationRecord& cal, double x, const CalibrationContext& ctx) {
  return kFwhmPerSigma * width_at_channel(cal, x, ctx);
}

double nai_typical_fwhm_channels(const CalibrationRecord& cal, double x) {
  const int n = term_count(cal.energy_terms);
  if (n < 2 || cal.energy[1] == 0.0f) return 0.0;
  const double e = channel_to_energy(cal, x);
  // keV per channel where the peak sits (a quadratic or logarithmic axis
  // changes its gain along the spectrum).
  const double gain = channel_to_energy(cal, x + 0.5) - channel_to_energy(cal, x - 0.5);
  if (!(e > 0) || !(gain > 0)) return 0.0;
  const double fwhm_kev = kNaiResolutionAt662 * kNaiReferenceEnergy * std::sqrt(e / kNaiReferenceEnergy);
  return fwhm_kev / gain;
}

double low_tail_at_channel(const CalibrationRecord& cal, double x) {
  return low_tail_at_channel(cal, x, CalibrationContext{});
}

double low_tail_at_channel(const CalibrationRecord& cal, double x, const CalibrationContext& ctx) {
  const int n = term_count(cal.low_tail_terms);
  const double w = width_at_channel(cal, x, ctx);
  const double t = n > 0 ? polynomial3(cal.low_tail, n, channel_to_energy(cal, x)) : 1.75 * w;
  return t >= 0.5 * w ? t : 0.5 * w;
}

double high_tail_at_channel(const CalibrationRecord& cal, double x) {
  return high_tail_at_channel(cal, x, CalibrationContext{});
}

double high_tail_at_channel(const CalibrationRecord& cal, double x,
                            const CalibrationContext& ctx) {
  const int n = term_count(cal.high_tail_terms);
  const double w = width_at_channel(cal, x, ctx);
  const double t = n > 0 ? polynomial3(cal.high_tail, n, channel_to_energy(cal, x)) : 10.0 * w;
  return t >= w ? t : w;
}

// ------------------------------------------------------------ efficiency

double efficiency_at(const CalibrationRecord& cal, double e) {
  return efficiency_at(cal, e, CalibrationContext{});
}

double efficiency_at(const CalibrationRecord& cal, double e, const CalibrationContext& ctx) {
  if (ctx.use_points && has_points(ctx)) return interpolate_efficiency_loglog(*ctx.points, e);
  const Curve c = curve_for(cal, e);
  if (c.terms == 1 && own_calibration(ctx) && ctx.points != nullptr)
    return interpolate_efficiency_linear(*ctx.points, e);
  if (e <= 0 || c.terms <= 0) return 1.0;
  double l = 0;
  if (c.inverse) {
    // L = a1 e + a2 + a3/e + a4/e^2 + ..., e in MeV.
    const double mev = e / 1000.0;
    l = c.coeffs[0] * mev;
    double p = 1.0;
    for (int k = 1; k < c.terms; ++k) {
      l += c.coeffs[k] * p;
      p /= mev;
    }
  } else {
    // L = a1 + a2 ln E + a3 ln^2 E + ..., E in keV (Horner).
    const double le = std::log(e);
    for (int k = c.terms - 1; k >= 0; --k) l = l * le + c.coeffs[k];
  }
  return std::exp(clamp_log_efficiency(l));
}

EfficiencyWithUncertainty efficiency_with_uncertainty(const CalibrationRecord& cal, double e,
                                                      const CalibrationContext& ctx) {
  EfficiencyWithUncertainty r;
  r.efficiency = efficiency_at(cal, e, ctx);
  static const EfficiencyPoints kNoPoints;
  const EfficiencyPoints& pts = ctx.points != nullptr ? *ctx.points : kNoPoints;
  double s = 0;
  if ((ctx.use_points && has_points(ctx)) || (ctx.spectrum_type > 1 && ctx.detector_file < 1)) {
    s = interpolate_uncertainty(pts, e);
  } else if (e > 0) {
    const Curve c = curve_for(cal, e);
    if (c.terms > 0 && cal.variance[c.variance_start] != 0.0) {
      if (c.inverse && cal.variance_stored == 0) {
        s = interpolate_uncertainty(pts, e);
      } else {
        // V = sum v_k z^k, k = 0 .. 2n-2, z = 1000/E (inverse form) or ln E.
        const double z = c.inverse ? 1000.0 / e : std::log(e);
        double v = 0;
        for (int k = 2 * c.terms - 2; k >= 0; --k) v = v * z + cal.variance[c.variance_start + k];
        s = v > 0 ? std::sqrt(v) : 0.0;
      }
    }
  }
  r.relative_variance = s * s;
  return r;
}

bool use_efficiency_points_rule(const CalibrationRecord& cal, const EfficiencyPoints& points,
                                bool interpolated_option) {
  return points.count > 0 && (interpolated_option || term_count(cal.high_eff_terms) == 0);
}

// ------------------------------------------------- interpolation in points

double interpolate_efficiency_linear(const EfficiencyPoints& p, double e) {
  const int m = point_count(p);
  if (e <= 0) return 0.0;
  if (m < 2) return p.efficiency[0];
  int i = 0;
  while (i < m && !(e < p.energy[i])) ++i;
  if (i == m) i = m - 1;  // above the last point: the last segment
  if (i == 0) i = 1;      // below the first point: the first segment
  return segment(p.energy[i - 1], p.efficiency[i - 1], p.energy[i], p.efficiency[i], e);
}

double interpolate_uncertainty(const EfficiencyPoints& p, double e) {
  const int m = point_count(p);
  if (m < 2) return 0.0;
  if (e <= p.energy[0]) {
    if (e <= 0) return 1.0;
    return segment(0.0, 1.0, p.energy[0], p.uncertainty[0], e);
  }
  int d = m - 1;
  if (e < p.energy[m - 1]) {
    d = 1;
    while (d < m - 1 && e > p.energy[d]) ++d;
  }
  return segment(p.energy[d - 1], p.uncertainty[d - 1], p.energy[d], p.uncertainty[d], e);
}

double interpolate_efficiency_loglog(const EfficiencyPoints& p, double e) {
  const int m = point_count(p);
  if (e <= 0) return 1.0;
  if (m < 2) return p.efficiency[0];

  int r = 2;
  if (m > 2 && e > p.energy[1]) {
    r = m - 1;
    for (int k = 2; k < m; ++k) {
      if (e < p.energy[k]) {
        r = k;
        break;
      }
    }
  }
  // With two points the three-point window would reach past the table:
  // fit the two with a straight line.
  const int first = m < 3 ? 0 : r - 2;
  const int last = m < 3 ? 1 : r;
  const int unknowns = m < 3 ? 2 : 3;

  auto linear_between = [&](int a, int b) {
    return segment(p.energy[a], p.efficiency[a], p.energy[b], p.efficiency[b], e);
  };
  for (int k = first; k <= last; ++k) {
    // A logarithm of a non-positive value has no meaning: the plain
    // interpolation is the only answer left.
    if (!(p.energy[k] > 0) || !(p.efficiency[k] > 0)) return interpolate_efficiency_linear(p, e);
  }

  NormalEquations ne(unknowns);
  for (int k = first; k <= last; ++k) {
    const double x = std::log(p.energy[k]);
    const double y = std::log(p.efficiency[k]);
    double pw[3] = {1.0, x, x * x};
    for (int i = 0; i < unknowns; ++i) {
      ne.rhs(i) += y * pw[i];
      for (int j = 0; j < unknowns; ++j) ne.normal(i, j) += pw[i] * pw[j];
    }
  }
  if (!ne.solve()) return interpolate_efficiency_linear(p, e);
  auto fitted = [&](double energy) {
    const double x = std::log(energy);
    double l = ne.solution(0) + ne.solution(1) * x;
    if (unknowns == 3) l += ne.solution(2) * x * x;
    return std::exp(clamp_log_efficiency(l));
  };
  const double value = fitted(e);
  if (m < 3) return value;

  if (p.energy[1] <= e) {
    const double mid = fitted(0.5 * (p.energy[r - 1] + p.energy[r]));
    const double a = p.efficiency[r - 1], b = p.efficiency[r];
    if ((mid > a && mid > b) || (mid < a && mid < b)) return linear_between(r - 1, r);
  } else if (p.energy[0] <= e) {
    if (value > p.efficiency[1]) return linear_between(0, 1);
  } else if (value > p.efficiency[0]) {
    return p.efficiency[0] * e / p.energy[0];
  }
  return value;
}

double efficiency_plot_maximum(const CalibrationRecord& cal, const CalibrationContext& ctx) {
  double best = efficiency_at(cal, 30.0, ctx);
  for (int e = 31; e < 1000; ++e) {
    const double v = efficiency_at(cal, e, ctx);
    if (!(v > best)) break;
    best = v;
  }
  return best;
}

}  // namespace kestrim
