#include "reference/total_fit.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/c_format.h"
#include "platform/linear_solver.h"
#include "platform/platform.h"

namespace kestrim {

namespace {

constexpr double kMaxShift = 0.05;
constexpr int kSearchRounds = 7;
constexpr double kStopChange = 0.001;
// A reference whose amplitude variance is this many times what it would
// be alone is a combination of the others: the fit cannot tell them apart.
constexpr double kMaxVarianceInflation = 1e10;
constexpr double kFailedChi = std::numeric_limits<double>::max();

class Fitter {
 public:
  Fitter(const std::vector<float>& sample, int channels, int first, int last, ReferenceSet& set)
      : set_(set), first_(first), n_(last - first + 1), k_(set.count()), channels_(channels) {
    y_.resize(static_cast<std::size_t>(n_));
    raw_.resize(static_cast<std::size_t>(n_));
    for (int i = 0; i < n_; ++i) {
      const double v = sample[static_cast<std::size_t>(first + i)];
      y_[static_cast<std::size_t>(i)] = v == 0 ? 0.1 : v;
      raw_[static_cast<std::size_t>(i)] = v;
      if (v != 0) ysq_ += v * v;
    }
    cols_.assign(static_cast<std::size_t>(k_), std::vector<double>(static_cast<std::size_t>(n_)));
    a_.assign(static_cast<std::size_t>(k_ * k_), 0.0);
    b_.assign(static_cast<std::size_t>(k_), 0.0);
    for (int k = 0; k < k_; ++k) build_column(k);
    for (int k = 0; k < k_; ++k) update_products(k);
  }

  int references() const { return k_; }
  int degrees_of_freedom() const { return n_ - 1 - k_; }
  double chi() const { return chi_; }
  double gain(int k) const { return spectrum(k).gain; }
  double amplitude(int k) const { return amplitudes_[static_cast<std::size_t>(k)]; }

  // Any reference whose counts equal the sample's (truncated) over the range.
  bool identical_reference(const std::vector<float>& sample) const {
    for (int k = 0; k < k_; ++k) {
      bool same = true;
      for (int i = 0; i < n_ && same; ++i)
        same = cols_[static_cast<std::size_t>(k)][static_cast<std::size_t>(i)] ==
               std::trunc(static_cast<double>(sample[static_cast<std::size_t>(first_ + i)]));
      if (same) return true;
    }
    return false;
  }

  // Moves the gain of reference k and rebuilds what depends on it.
  void move(int k, double delta) {
    spectrum(k).gain += delta;
    build_column(k);
    update_products(k);
  }

  // One unweighted fit with the current gains; false when singular (the
  // chi-square is then the largest number, so that a search moves away).
  bool fit() {
    NormalEquations& ne = equations_;
    ne.reset(k_);
    for (int i = 0; i < k_; ++i) {
      ne.rhs(i) = b_[static_cast<std::size_t>(i)];
      for (int j = 0; j < k_; ++j) ne.normal(i, j) = a_[static_cast<std::size_t>(i * k_ + j)];
    }
    amplitudes_.assign(static_cast<std::size_t>(k_), 0.0);
    if (!ne.solve() || !separable(ne, a_)) {
      chi_ = kFailedChi;
      return false;
    }
    double explained = 0;
    for (int k = 0; k < k_; ++k) {
      amplitudes_[static_cast<std::size_t>(k)] = ne.solution(k);
      explained += ne.solution(k) * b_[static_cast<std::size_t>(k)];
    }
    chi_ = std::fabs(ysq_ - explained) / degrees_of_freedom();
    if (!std::isfinite(chi_)) {
      chi_ = kFailedChi;
      return false;
    }
    return true;
  }

  // The weighted fit that gives the amplitudes and their variances: each
  // channel weighted by the inverse of its expected counts (the model of
  // the previous solution, at least 1 count), solved three times starting
  // from the unweighted amplitudes. Weights from the model rather than
  // from the counts themselves keep low channels from pulling the
  // amplitudes down. When the model fits worse than the counting
  // statistics allow (weighted reduced chi-square above 1), the variances
  // grow by that ratio. False when singular.
  bool final_fit() {
    std::vector<double> a(static_cast<std::size_t>(k_));
    for (int k = 0; k < k_; ++k) a[static_cast<std::size_t>(k)] = amplitude(k);
    std::vector<double> aw(static_cast<std::size_t>(k_ * k_)), bw(static_cast<std::size_t>(k_));
    NormalEquations& ne = equations_;
    for (int pass = 0; pass < 3; ++pass) {
      std::fill(aw.begin(), aw.end(), 0.0);
      std::fill(bw.begin(), bw.end(), 0.0);
      for (int i = 0; i < n_; ++i) {
        const double y = raw_[static_cast<std::size_t>(i)];
        double model = 0;
        for (int k = 0; k < k_; ++k) model += a[static_cast<std::size_t>(k)] * x(k, i);
        const double w = 1 / std::max(model, 1.0);
        for (int k = 0; k < k_; ++k) {
          const double wx = w * x(k, i);
          if (wx == 0) continue;
          bw[static_cast<std::size_t>(k)] += wx * y;
          for (int m = 0; m <= k; ++m) aw[static_cast<std::size_t>(k * k_ + m)] += wx * x(m, i);
        }
      }
      for (int k = 0; k < k_; ++k)
        for (int m = 0; m < k; ++m) aw[static_cast<std::size_t>(m * k_ + k)] = aw[static_cast<std::size_t>(k * k_ + m)];
      ne.reset(k_);
      for (int i = 0; i < k_; ++i) {
        ne.rhs(i) = bw[static_cast<std::size_t>(i)];
        for (int j = 0; j < k_; ++j) ne.normal(i, j) = aw[static_cast<std::size_t>(i * k_ + j)];
      }
      if (!ne.solve() || !separable(ne, aw)) return false;
      for (int k = 0; k < k_; ++k) a[static_cast<std::size_t>(k)] = ne.solution(k);
    }
    // Weighted chi-square of the last solution, with its own weights.
    double chi2 = 0;
    for (int i = 0; i < n_; ++i) {
      double model = 0;
      for (int k = 0; k < k_; ++k) model += a[static_cast<std::size_t>(k)] * x(k, i);
      const double r = raw_[static_cast<std::size_t>(i)] - model;
      chi2 += r * r / std::max(model, 1.0);
    }
    const double scale = std::max(1.0, chi2 / degrees_of_freedom());
    weighted_chi_ = chi2 / degrees_of_freedom();
    for (int k = 0; k < k_; ++k) {
      ReferenceSpectrum& ref = spectrum(k);
      double ak = a[static_cast<std::size_t>(k)];
      if (std::fabs(ak) < 1e-20) ak = ak < 0 ? -1e-20 : 1e-20;
      ref.amplitude = ak;
      ref.variance = std::fabs(ne.inverse(k, k)) * scale;
      if (!std::isfinite(ref.amplitude) || !std::isfinite(ref.variance)) return false;
    }
    return true;
  }

  double weighted_chi() const { return weighted_chi_; }

 private:
  ReferenceSpectrum& spectrum(int k) const { return set_.spectra[static_cast<std::size_t>(k)]; }
  double x(int k, int i) const { return cols_[static_cast<std::size_t>(k)][static_cast<std::size_t>(i)]; }

  void build_column(int k) {
    const ReferenceSpectrum& ref = spectrum(k);
    const int size = std::min(channels_, static_cast<int>(ref.counts.size()));
    std::vector<double>& col = cols_[static_cast<std::size_t>(k)];
    // Sample channel ch covers the reference's channels from (ch - 1/2) g
    // to (ch + 1/2) g: the reference is read between its channels, at
    // ch x g, by linear interpolation, and its counts per channel are
    // scaled by g (a whole channel at g = 1 reads exactly that channel).
    const double g = ref.gain;
    for (int i = 0; i < n_; ++i) {
      const double at = (first_ + i) * g;
      const double base = std::floor(at);
      const double frac = at - base;
      double v = 0;
      if (base >= 0 && base < size) {
        const std::size_t b = static_cast<std::size_t>(base);
        v = ref.counts[b];
        if (frac > 0) v = (1 - frac) * v + frac * (b + 1 < static_cast<std::size_t>(size) ? ref.counts[b + 1] : 0.0);
      }
      col[static_cast<std::size_t>(i)] = v * g;
    }
  }

  // Row and column k of the normal matrix and b[k].
  void update_products(int k) {
    const std::vector<double>& ck = cols_[static_cast<std::size_t>(k)];
    for (int m = 0; m < k_; ++m) {
      const std::vector<double>& cm = cols_[static_cast<std::size_t>(m)];
      double s = 0;
      for (int i = 0; i < n_; ++i) s += ck[static_cast<std::size_t>(i)] * cm[static_cast<std::size_t>(i)];
      a_[static_cast<std::size_t>(k * k_ + m)] = s;
      a_[static_cast<std::size_t>(m * k_ + k)] = s;
    }
    double s = 0;
    for (int i = 0; i < n_; ++i) s += y_[static_cast<std::size_t>(i)] * ck[static_cast<std::size_t>(i)];
    b_[static_cast<std::size_t>(k)] = s;
  }

  bool separable(const NormalEquations& ne, const std::vector<double>& normal) const {
    for (int k = 0; k < k_; ++k) {
      const double d = normal[static_cast<std::size_t>(k * k_ + k)];
      const double inflation = ne.inverse(k, k) * d;
      if (!(d > 0) || !std::isfinite(inflation) || std::fabs(inflation) > kMaxVarianceInflation)
        return false;
    }
    return true;
  }

  ReferenceSet& set_;
  int first_, n_, k_, channels_;
  std::vector<double> y_, raw_;
  double weighted_chi_ = 0;
  double ysq_ = 0;
  std::vector<std::vector<double>> cols_;
  std::vector<double> a_, b_;
  std::vector<double> amplitudes_;
  double chi_ = 0;
  NormalEquations equations_;
};

// The gain search of reference k, or of every reference with a positive
// amplitude when k is -1.
void search_gain(Fitter& f, int k, std::string& log) {
  double step = k < 0 ? 0.025 : 0.01;
  const int logged = k < 0 ? 0 : k;
  for (int round = 1; round <= kSearchRounds; ++round) {
    // The references this round moves.
    std::vector<int> moved;
    if (k >= 0) moved.push_back(k);
    else
      for (int m = 0; m < f.references(); ++m)
        if (f.amplitude(m) > 0) moved.push_back(m);
    if (moved.empty()) return;
    auto move = [&](double d) {
      for (int m : moved) f.move(m, d);
    };
    const double chi0 = f.chi();
    move(step);
    f.fit();
    const double plus = f.chi();
    move(-2 * step);
    f.fit();
    const double minus = f.chi();
    move(step);
    log += c_format("%d - fChiSqRef:- %6.4f, fChiSqPlus:- %6.4f, fChiSqMinus:- %6.4f, Gain:- %6.4f\r\n",
                    k, chi0, plus, minus, f.gain(logged));
    const double d = std::fabs(minus + plus - 2 * chi0);
    double shift;
    if (d > 1e-10 && std::isfinite(d))
      shift = (minus - plus) * step * 0.5 / d;
    else
      shift = plus >= chi0 ? -kMaxShift : kMaxShift;
    shift = std::clamp(shift, -kMaxShift, kMaxShift);
    move(shift);
    f.fit();
    double change = chi0 > 0 ? (chi0 - f.chi()) / chi0 : 0;
    log += c_format("%d - Gain:- %6.4f, Change:- %6.4f, fChiSq:- %6.4f, Shift:- %6.4f\r\n", k,
                    f.gain(logged), change, f.chi(), shift);
    if (change < 0 || f.chi() > plus || f.chi() > minus) {
      move(-shift);
      const double dplus = chi0 - plus;
      const double dminus = chi0 - minus;
      if (dplus > 0 && dplus > dminus) move(step);
      else if (dminus > 0) move(-step);
      f.fit();
      change = chi0 > 0 ? (chi0 - f.chi()) / chi0 : 0;
    }
    // A bracketed minimum is searched again with half the step; the search
    // ends when a round changes the chi-square by less than 0.1 % without
    // having bracketed it.
    const bool bracketed = plus > chi0 && chi0 < minus;
    if (bracketed) step /= 2;
    if (std::fabs(change) < kStopChange && !bracketed) break;
  }
}

int fail(ReferenceSet& set, Platform& ui, const std::string& text) {
  set.clear_results();
  ui.message_box(text, {}, kMsgError);
  return 0;
}

}  // namespace

int fit_total_spectrum(const std::vector<float>& sample, int channels, const TotalFitOptions& options,
                       ReferenceSet& set, std::string& diagnostics, Platform& ui) {
  diagnostics.clear();
  if (set.count() == 0) return fail(set, ui, "No Reference Spectra were chosen");
  const int size = std::min(channels, static_cast<int>(sample.size()));
  const int first = std::max(2, options.start_channel);
  const int last = std::min(size - 1, options.end_channel);
  if (last - first < 4) return fail(set, ui, "There must be at least 4 channels for fitting");
  if (last - first - set.count() < 1)
    return fail(set, ui, "There must be more channels than Reference Spectra for fitting");

  for (ReferenceSpectrum& ref : set.spectra) {
    ref.gain = 1;
    ref.amplitude = 0;
    ref.variance = 0;
  }
  Fitter f(sample, size, first, last, set);
  if (f.identical_reference(sample))
    return fail(set, ui, "The reference spectrum was identical to the sample");
  const char* singular = "The Reference Spectra could not be told apart: the fit is singular";
  if (!f.fit()) return fail(set, ui, singular);

  diagnostics += c_format("Fit of %d Reference Spectra, channels %d to %d\r\n", f.references(), first, last);
  if (options.gain_search) {
    search_gain(f, -1, diagnostics);
    const int k = f.references();
    for (int round = 0; k > 1 && round < k; ++round) {
      std::vector<bool> searched(static_cast<std::size_t>(k), false);
      for (;;) {
        if (ui.abort_requested()) return fail(set, ui, "The Reference Spectrum fit was aborted");
        int next = -1;
        for (int m = 0; m < k; ++m)
          if (!searched[static_cast<std::size_t>(m)] && f.amplitude(m) > 0 &&
              (next < 0 || f.amplitude(m) > f.amplitude(next)))
            next = m;
        if (next < 0) break;
        searched[static_cast<std::size_t>(next)] = true;
        search_gain(f, next, diagnostics);
      }
    }
    // The search ends on the best gains it found; fit them once more.
    if (!f.fit()) return fail(set, ui, singular);
  }
  if (!f.final_fit()) return fail(set, ui, singular);
  set.chi_squared = f.chi();
  set.fitted = true;
  for (int k = 0; k < f.references(); ++k) {
    const ReferenceSpectrum& ref = set.spectra[static_cast<std::size_t>(k)];
    diagnostics += c_format("%d - %s: Amplitude:- %.6e +/- %.3e, Gain:- %6.4f\r\n", k, ref.name.c_str(),
                            ref.amplitude, std::sqrt(ref.variance), ref.gain);
  }
  diagnostics += c_format("fChiSq:- %6.4f, weighted reduced chi-square:- %6.4f\r\n", set.chi_squared,
                          f.weighted_chi());
  return 1;
}

ReferenceResult reference_result(const ReferenceSpectrum& ref, double sample_live_time,
                                 double activity_sigma) {
  ReferenceResult r;
  const double a = ref.amplitude;
  const double sd = std::sqrt(std::max(ref.variance, 0.0));
  if (sample_live_time > 0) r.factor = a * ref.live_time / sample_live_time;
  const double fit_rel = a != 0 ? sd / std::fabs(a) : 0;
  r.factor_uncertainty_pct = 100 * fit_rel;
  r.shift = 1 - ref.gain;
  r.activity_bq = r.factor * ref.activity_bq;
  const double ref_rel = ref.activity_uncertainty_pct * 0.01;
  r.uncertainty_pct = 100 * std::sqrt(fit_rel * fit_rel + ref_rel * ref_rel) * activity_sigma;
  return r;
}

}  // namespace kestrim
