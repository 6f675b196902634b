#include "spectrum/simulate.h"

#include <algorithm>
#include <cmath>

#include "spectrum/spectrum_record.h"

namespace kestrim {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kElectronMass = 511.0;  // keV

double unit_shape(double d, double s, double t) {
  if (d < -t) return std::exp(t * (t + 2 * d) / (2 * s * s));
  return std::exp(-d * d / (2 * s * s));
}

// log(k!) from a table below 16 and the Stirling series above (error far
// below 1e-12 there), avoiding lgamma's global sign variable.
double log_factorial(std::int64_t k) {
  static const double table[16] = {0.0,
                                   0.0,
                                   0.69314718055994531,
                                   1.79175946922805500,
                                   3.17805383034794562,
                                   4.78749174278204599,
                                   6.57925121201010100,
                                   8.52516136106541430,
                                   10.60460290274525023,
                                   12.80182748008146961,
                                   15.10441257307551530,
                                   17.50230784587388584,
                                   19.98721449566188615,
                                   22.55216385312342289,
                                   25.19122118273868150,
                                   27.89927138384089157};
  if (k < 16) return table[k];
  double n = static_cast<double>(k) + 1.0;  // log Gamma(n)
  double inv = 1.0 / n, inv2 = inv * inv;
  return (n - 0.5) * std::log(n) - n + 0.91893853320467274 +
         inv * (1.0 / 12 - inv2 * (1.0 / 360 - inv2 * (1.0 / 1260 - inv2 / 1680)));
}

// The rising Compton shelf of edge `edge` smeared by sigma `s_edge` (keV),
// relative to its level at the edge.
double compton_shelf(double e, double edge, double s_edge) {
  double m = std::min(e / edge, 1.0);
  return (0.7 + 0.3 * m * m) * 0.5 * std::erfc((e - edge) / (s_edge * std::sqrt(2.0)));
}

// Integral of compton_shelf over E >= 0 (Simpson's rule; the shelf is
// smooth and ends within a few sigmas of the edge).
double compton_shelf_integral(double edge, double s_edge) {
  const int n = 4000;  // even
  const double hi = edge + 10 * s_edge, h = hi / n;
  double sum = compton_shelf(0, edge, s_edge) + compton_shelf(hi, edge, s_edge);
  for (int i = 1; i < n; ++i) sum += (i % 2 ? 4.0 : 2.0) * compton_shelf(i * h, edge, s_edge);
  return sum * h / 3;
}

// Width in keV of channel x: dE/dx of the calibration.
double channel_width_kev(const SimOptions& o, double x) {
  return std::fabs(o.gain_kev + 2 * o.quadratic * x);
}

}  // namespace

double compton_edge_kev(double e) { return e * (1 - 1 / (1 + 2 * e / kElectronMass)); }

double uniform_01(std::mt19937_64& rng) {
  return static_cast<double>(rng() >> 11) * (1.0 / 9007199254740992.0);
}

std::int64_t poisson_deviate(std::mt19937_64& rng, double mean) {
  if (!(mean > 0)) return 0;
  if (mean < 10) {
    // Multiplication method: count uniforms until their product falls
    // below exp(-mean).
    double limit = std::exp(-mean), prod = uniform_01(rng);
    std::int64_t k = 0;
    while (prod > limit) {
      ++k;
      prod *= uniform_01(rng);
    }
    return k;
  }
  // PTRS, W. Hoermann, "The transformed rejection method for generating
  // Poisson random variables", Insurance: Mathematics and Economics 12 (1993).
  double slam = std::sqrt(mean), loglam = std::log(mean);
  double b = 0.931 + 2.53 * slam;
  double a = -0.059 + 0.02483 * b;
  double inv_alpha = 1.1239 + 1.1328 / (b - 3.4);
  double vr = 0.9277 - 3.6224 / (b - 2);
  for (;;) {
    double u = uniform_01(rng) - 0.5;
    double v = uniform_01(rng);
    double us = 0.5 - std::fabs(u);
    double kf = std::floor((2 * a / us + b) * u + mean + 0.43);
    if (us >= 0.07 && v <= vr) return static_cast<std::int64_t>(kf);
    if (kf < 0 || (us < 0.013 && v > us)) continue;
    auto k = static_cast<std::int64_t>(kf);
    if (std::log(v) + std::log(inv_alpha) - std::log(a / (us * us) + b) <=
        -mean + kf * loglam - log_factorial(k))
      return k;
  }
}

double sim_energy(const SimOptions& o, double x) {
  return o.offset_kev + o.gain_kev * x + o.quadratic * x * x;
}

double sim_channel(const SimOptions& o, double e) {
  if (o.quadratic == 0) return (e - o.offset_kev) / o.gain_kev;
  double disc = o.gain_kev * o.gain_kev - 4 * o.quadratic * (o.offset_kev - e);
  if (disc < 0) disc = 0;
  return (-o.gain_kev + std::sqrt(disc)) / (2 * o.quadratic);
}

double sim_fwhm_kev(const SimOptions& o, double e) {
  if (e <= 0) return 0;
  if (o.fwhm_sqrt_kev > 0) return o.fwhm_sqrt_kev * std::sqrt(e);
  return o.fwhm_662 * std::sqrt(e / 662.0);
}

double peak_shape_integral(double s, double t) {
  double gauss = s * std::sqrt(kPi / 2) * (1 + std::erf(t / (s * std::sqrt(2.0))));
  double tail = t > 0 ? s * s / t * std::exp(-t * t / (2 * s * s)) : 0;
  return gauss + tail;
}

SimSpectrum simulate_spectrum(const SimOptions& o) {
  SimSpectrum out;
  const int n = std::max(o.channels, 3);
  out.expected.assign(n, 0.0);
  const double gain = std::fabs(o.gain_kev);

  for (int x = 2; x < n; ++x) {
    double e = sim_energy(o, x);
    double v = o.bg_constant + o.bg_slope * x;
    if (o.bg_amplitude > 0 && o.bg_decay_kev > 0) v += o.bg_amplitude * std::exp(-e / o.bg_decay_kev);
    if (e >= 0)
      for (const SimContinuumTerm& term : o.continuum)
        v += term.per_kev * (term.efold_kev > 0 ? std::exp(-e / term.efold_kev) : 1.0) * channel_width_kev(o, x);
    out.expected[x] = std::max(v, 0.0);
  }

  for (const SimPeak& p : o.peaks) {
    double c = sim_channel(o, p.energy);
    if (!(c >= 2 && c <= n - 1)) continue;
    SimPeakTruth t;
    t.energy = p.energy;
    t.centre = c;
    t.fwhm_kev = sim_fwhm_kev(o, p.energy);
    t.fwhm_channels = t.fwhm_kev / gain;
    t.sigma = t.fwhm_channels / 2.355;
    t.tail = o.tail_sigmas * t.sigma;
    t.height = p.area / peak_shape_integral(t.sigma, t.tail);
    t.area = p.area;
    for (int x = 2; x < n; ++x) out.expected[x] += t.height * unit_shape(x - c, t.sigma, t.tail);

    if (p.compton_to_peak > 0) {
      // Counts per keV: the shelf and the bump share compton_to_peak x area.
      const double edge = compton_edge_kev(p.energy);
      const double back = p.energy - edge;
      const double s_edge = std::max(sim_fwhm_kev(o, edge) / 2.355, 1e-6);
      const double s_back = std::max(sim_fwhm_kev(o, back) / 2.355, 1e-6);
      const double total = p.compton_to_peak * p.area;
      const double bs = std::clamp(o.backscatter_fraction, 0.0, 1.0);
      const double shelf_scale = total * (1 - bs) / compton_shelf_integral(edge, s_edge);
      const double bump_scale = total * bs / (s_back * std::sqrt(2 * kPi));
      for (int x = 2; x < n; ++x) {
        double e = sim_energy(o, x);
        if (e < 0) continue;
        double density = shelf_scale * compton_shelf(e, edge, s_edge) +
                         bump_scale * std::exp(-(e - back) * (e - back) / (2 * s_back * s_back));
        out.expected[x] += density * channel_width_kev(o, x);
      }
    } else if (p.peak_to_compton > 0) {
      double edge = compton_edge_kev(p.energy);
      double back = p.energy - edge;
      double level = t.height / p.peak_to_compton;
      double s_edge = std::max(sim_fwhm_kev(o, edge) / 2.355, 1e-6);
      double s_back = std::max(sim_fwhm_kev(o, back) / 2.355, 1e-6);
      for (int x = 2; x < n; ++x) {
        double e = sim_energy(o, x);
        if (e <= 0) continue;
        double rise = 0.7 + 0.3 * std::min(e / edge, 1.0) * std::min(e / edge, 1.0);
        double cut = 0.5 * std::erfc((e - edge) / (s_edge * std::sqrt(2.0)));
        double bump = 0.5 * std::exp(-(e - back) * (e - back) / (2 * s_back * s_back));
        out.expected[x] += level * (rise * cut + bump);
      }
    }
    out.truth.push_back(t);
  }

  if (!o.noise) {
    out.counts = out.expected;
    return out;
  }
  std::mt19937_64 rng(o.seed);
  out.counts.assign(n, 0.0);
  for (int x = 2; x < n; ++x) out.counts[x] = static_cast<double>(poisson_deviate(rng, out.expected[x]));
  return out;
}

SimOptions example_nai_options(int channels, std::uint64_t seed) {
  SimOptions o;
  o.channels = channels;
  o.gain_kev = 3072.0 / channels;
  o.seed = seed;
  o.bg_amplitude = 400.0 * 1024 / channels;
  o.bg_decay_kev = 250;
  o.bg_constant = 3.0 * 1024 / channels;
  const double lines[][2] = {{186, 3000},  {239, 9000},  {295, 5000},  {352, 8000},  {511, 2500},
                             {583, 4000},  {609, 7000},  {662, 20000}, {911, 4000},  {969, 2500},
                             {1120, 2500}, {1173, 6000}, {1332, 5500}, {1461, 6000}, {2614, 3000}};
  for (const auto& l : lines) o.peaks.push_back({l[0], l[1], 6});
  return o;
}

SimOptions nai_3x3_options(int channels, std::uint64_t seed) {
  SimOptions o;
  o.channels = channels;
  o.gain_kev = 3072.0 / channels;
  o.fwhm_sqrt_kev = 1.79;
  o.seed = seed;
  o.live_time = 3600;
  o.true_time = 3600 * 1.004;
  // Low-energy scatter, the shielded room's continuum, and the high-energy
  // tail up to and beyond 2614 keV.
  o.continuum = {{150, 120}, {30, 500}, {2, 2000}};
  return o;
}

void store_simulated(const SimSpectrum& s, const SimOptions& o, SpectrumRecord& rec) {
  rec.clear();
  int n = std::min<int>(static_cast<int>(s.counts.size()), kMaxChannels);
  rec.header.channels = static_cast<std::int16_t>(n);
  rec.header.live_time = static_cast<float>(o.live_time);
  rec.header.true_time = static_cast<float>(o.true_time);
  rec.counts[0] = static_cast<float>(o.live_time);
  rec.counts[1] = static_cast<float>(o.true_time);
  for (int x = 2; x < n; ++x) rec.counts[x] = static_cast<float>(s.counts[x]);

  CalibrationRecord& cal = rec.calibration;
  cal.energy_terms = o.quadratic != 0 ? 3.0f : 2.0f;
  cal.energy = {static_cast<float>(o.offset_kev), static_cast<float>(o.gain_kev),
                static_cast<float>(o.quadratic)};
  // Resolution form: FWHM(E) = w0 + w1 sqrt(E) keV.
  cal.width_terms = -2;
  const double w1 = o.fwhm_sqrt_kev > 0 ? o.fwhm_sqrt_kev : o.fwhm_662 / std::sqrt(662.0);
  cal.width = {0.0f, static_cast<float>(w1), 0.0f};
  cal.low_tail_terms = 0;
  cal.high_tail_terms = 0;
}

}  // namespace kestrim
