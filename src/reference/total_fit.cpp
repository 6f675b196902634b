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
constexpr double kMinStep = 0.001;
// The rounds of one-by-one searches end early once a round moved no gain
// by more than this.
constexpr double kSettled = 0.0005;
// A reference whose amplitude variance is this many times what it would
// be alone is a combination of the others: the fit cannot tell them apart.
constexpr double kMaxVarianceInflation = 1e10;
constexpr double kFailedChi = std::numeric_limits<double>::max();
// A reference's gain is searched only when its amplitude is at least this
// many standard deviations above zero: the gain of a source the sample
// does not show cannot be measured, and searching it lets the reference
// follow the noise (an absent source then comes out too high).
constexpr double kGainSignificance = 3.0;

// Sum of a[i] b[i]: four partial sums, so that the additions do not wait
// on each other.
double dot(const std::vector<double>& a, const std::vector<double>& b, int n) {
  double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
  int i = 0;
  for (; i + 3 < n; i += 4) {
    s0 += a[static_cast<std::size_t>(i)] * b[static_cast<std::size_t>(i)];
    s1 += a[static_cast<std::size_t>(i + 1)] * b[static_cast<std::size_t>(i + 1)];
    s2 += a[static_cast<std::size_t>(i + 2)] * b[static_cast<std::size_t>(i + 2)];
    s3 += a[static_cast<std::size_t>(i + 3)] * b[static_cast<std::size_t>(i + 3)];
  }
  for (; i < n; ++i) s0 += a[static_cast<std::size_t>(i)] * b[static_cast<std::size_t>(i)];
  return (s0 + s1) + (s2 + s3);
}

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
  // Decides which references the sample shows: those whose amplitude in a
  // fit weighted by the expected counts of the last fit stands
  // kGainSignificance standard deviations above zero. False when that fit
  // is singular.
  bool decide_significance() {
    significant_.assign(static_cast<std::size_t>(k_), false);
    std::vector<double> a(static_cast<std::size_t>(k_));
    for (int k = 0; k < k_; ++k) a[static_cast<std::size_t>(k)] = amplitude(k);
    std::vector<double> w(static_cast<std::size_t>(n_));
    weights_of(a, w);
    if (!weighted_solve(w, a)) return false;
    const double scale = std::max(1.0, weighted_chi2(w, a) / degrees_of_freedom());
    for (int k = 0; k < k_; ++k) {
      const double sd = std::sqrt(std::fabs(equations_.inverse(k, k)) * scale);
      significant_[static_cast<std::size_t>(k)] = a[static_cast<std::size_t>(k)] > kGainSignificance * sd;
    }
    return true;
  }
  bool significant(int k) const {
    return static_cast<std::size_t>(k) < significant_.size() && significant_[static_cast<std::size_t>(k)];
  }
  // Sets the gain of reference k and rebuilds what depends on it.
  void set_gain(int k, double g) { move(k, g - spectrum(k).gain); }

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

  // What the references `moved` and the products hold now, to come back to
  // without rebuilding them.
  struct Snapshot {
    std::vector<int> moved;
    std::vector<double> gains;
    std::vector<std::vector<double>> cols;
    std::vector<double> a, b;
  };
  Snapshot snapshot(const std::vector<int>& moved) const {
    Snapshot s{moved, {}, {}, a_, b_};
    for (int m : moved) {
      s.gains.push_back(spectrum(m).gain);
      s.cols.push_back(cols_[static_cast<std::size_t>(m)]);
    }
    return s;
  }
  void restore(const Snapshot& s) {
    for (std::size_t i = 0; i < s.moved.size(); ++i) {
      spectrum(s.moved[i]).gain = s.gains[i];
      cols_[static_cast<std::size_t>(s.moved[i])] = s.cols[i];
    }
    a_ = s.a;
    b_ = s.b;
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
  // `known`: gain variances to use instead of those of the curvature (for
  // the references where they are above 0).
  bool final_fit(const std::vector<bool>& searched, const std::vector<double>& known = {}) {
    std::vector<double> a(static_cast<std::size_t>(k_));
    for (int k = 0; k < k_; ++k) a[static_cast<std::size_t>(k)] = amplitude(k);
    std::vector<double> w(static_cast<std::size_t>(n_));
    for (int pass = 0; pass < 3; ++pass) {
      weights_of(a, w);
      if (!weighted_solve(w, a)) return false;
    }
    // Weighted chi-square of the last solution, with its own weights.
    weights_of(a, w);
    const double chi2 = weighted_chi2(w, a);
    const double scale = std::max(1.0, chi2 / degrees_of_freedom());
    weighted_chi_ = chi2 / degrees_of_freedom();
    std::vector<double> variance(static_cast<std::size_t>(k_));
    {
      std::vector<double> copy = a;
      if (!weighted_solve(w, copy)) return false;
      for (int k = 0; k < k_; ++k)
        variance[static_cast<std::size_t>(k)] = std::fabs(equations_.inverse(k, k)) * scale;
    }
    // A searched gain is known only to within its own uncertainty, and the
    // amplitudes move with it: the gain's variance from the curvature of
    // the chi-square (amplitudes refitted, weights held) and each
    // amplitude's slope in that gain add to the amplitudes' variances. The
    // reference is read between its channels, so the chi-square bends at
    // each channel crossing: the curvature is taken over +-0.3 % (several
    // crossings), or +-1 % where it is not convex over that.
    for (int k = 0; k < k_; ++k) {
      spectrum(k).gain_variance = 0;
      if (!searched[static_cast<std::size_t>(k)]) continue;
      const Snapshot centre = snapshot({k});
      for (const double h : {0.003, 0.01}) {
        std::vector<double> up = a, down = a;
        move(k, h);
        const bool ok_up = weighted_solve(w, up);
        const double chi_up = weighted_chi2(w, up);
        restore(centre);
        move(k, -h);
        const bool ok_down = weighted_solve(w, down);
        const double chi_down = weighted_chi2(w, down);
        restore(centre);
        if (!ok_up || !ok_down) break;
        const double curvature = (chi_up + chi_down - 2 * chi2) / (h * h);
        if (!(curvature > 0) || !std::isfinite(curvature)) continue;
        double gain_variance = 2 / curvature * scale;
        if (static_cast<std::size_t>(k) < known.size() && known[static_cast<std::size_t>(k)] > 0)
          gain_variance = known[static_cast<std::size_t>(k)];
        spectrum(k).gain_variance = gain_variance;
        for (int j = 0; j < k_; ++j) {
          const double slope = (up[static_cast<std::size_t>(j)] - down[static_cast<std::size_t>(j)]) / (2 * h);
          variance[static_cast<std::size_t>(j)] += slope * slope * gain_variance;
        }
        break;
      }
    }
    for (int k = 0; k < k_; ++k) {
      ReferenceSpectrum& ref = spectrum(k);
      double ak = a[static_cast<std::size_t>(k)];
      if (std::fabs(ak) < 1e-20) ak = ak < 0 ? -1e-20 : 1e-20;
      ref.amplitude = ak;
      ref.variance = variance[static_cast<std::size_t>(k)];
      if (!std::isfinite(ref.amplitude) || !std::isfinite(ref.variance)) return false;
    }
    return true;
  }

  double weighted_chi() const { return weighted_chi_; }

 private:
  ReferenceSpectrum& spectrum(int k) const { return set_.spectra[static_cast<std::size_t>(k)]; }
  double x(int k, int i) const { return cols_[static_cast<std::size_t>(k)][static_cast<std::size_t>(i)]; }

  // Each channel's weight: the inverse of its expected counts under the
  // amplitudes `a`, at least 1 count.
  void weights_of(const std::vector<double>& a, std::vector<double>& w) const {
    for (int i = 0; i < n_; ++i) {
      double model = 0;
      for (int k = 0; k < k_; ++k) model += a[static_cast<std::size_t>(k)] * x(k, i);
      w[static_cast<std::size_t>(i)] = 1 / std::max(model, 1.0);
    }
  }

  double weighted_chi2(const std::vector<double>& w, const std::vector<double>& a) const {
    double chi2 = 0;
    for (int i = 0; i < n_; ++i) {
      double model = 0;
      for (int k = 0; k < k_; ++k) model += a[static_cast<std::size_t>(k)] * x(k, i);
      const double r = raw_[static_cast<std::size_t>(i)] - model;
      chi2 += r * r * w[static_cast<std::size_t>(i)];
    }
    return chi2;
  }

  // The amplitudes of the fit weighted by `w`, into `a`; the normal
  // equations keep their inverse. False when singular.
  bool weighted_solve(const std::vector<double>& w, std::vector<double>& a) {
    std::vector<double> aw(static_cast<std::size_t>(k_ * k_), 0.0), bw(static_cast<std::size_t>(k_), 0.0);
    for (int i = 0; i < n_; ++i) {
      const double wi = w[static_cast<std::size_t>(i)];
      const double y = raw_[static_cast<std::size_t>(i)];
      for (int k = 0; k < k_; ++k) {
        const double wx = wi * x(k, i);
        if (wx == 0) continue;
        bw[static_cast<std::size_t>(k)] += wx * y;
        for (int m = 0; m <= k; ++m) aw[static_cast<std::size_t>(k * k_ + m)] += wx * x(m, i);
      }
    }
    for (int k = 0; k < k_; ++k)
      for (int m = 0; m < k; ++m) aw[static_cast<std::size_t>(m * k_ + k)] = aw[static_cast<std::size_t>(k * k_ + m)];
    NormalEquations& ne = equations_;
    ne.reset(k_);
    for (int i = 0; i < k_; ++i) {
      ne.rhs(i) = bw[static_cast<std::size_t>(i)];
      for (int j = 0; j < k_; ++j) ne.normal(i, j) = aw[static_cast<std::size_t>(i * k_ + j)];
    }
    if (!ne.solve() || !separable(ne, aw)) return false;
    for (int k = 0; k < k_; ++k) a[static_cast<std::size_t>(k)] = ne.solution(k);
    return true;
  }

  void build_column(int k) {
    const ReferenceSpectrum& ref = spectrum(k);
    const int size = std::min(channels_, static_cast<int>(ref.counts.size()));
    std::vector<double>& col = cols_[static_cast<std::size_t>(k)];
    // Sample channel ch covers the reference's channels from (ch - 1/2) g
    // to (ch + 1/2) g: the reference is read between its channels, at
    // ch x g, by linear interpolation, and its counts per channel are
    // scaled by g (a whole channel at g = 1 reads exactly that channel).
    const double g = ref.gain;
    const std::int32_t* c = ref.counts.data();
    double* out = col.data();
    int i = 0;
    if (g > 0) {
      for (; i < n_; ++i) {
        const double at = (first_ + i) * g;
        if (!(at < size)) break;             // and so for every later channel
        const int b = static_cast<int>(at);  // at >= 0: truncation is the floor
        const double frac = at - b;
        const double lo = c[b];
        const double hi = b + 1 < size ? c[b + 1] : 0.0;
        out[i] = (lo + frac * (hi - lo)) * g;
      }
    }
    for (; i < n_; ++i) out[i] = 0;
  }

  // Row and column k of the normal matrix and b[k].
  void update_products(int k) {
    const std::vector<double>& ck = cols_[static_cast<std::size_t>(k)];
    for (int m = 0; m < k_; ++m) {
      const double s = dot(ck, cols_[static_cast<std::size_t>(m)], n_);
      a_[static_cast<std::size_t>(k * k_ + m)] = s;
      a_[static_cast<std::size_t>(m * k_ + k)] = s;
    }
    b_[static_cast<std::size_t>(k)] = dot(y_, ck, n_);
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
  std::vector<bool> significant_;
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
        if (f.significant(m)) moved.push_back(m);
    if (moved.empty()) return;
    // Each trial starts from the gains the round started with.
    const Fitter::Snapshot centre = f.snapshot(moved);
    auto move = [&](double d) {
      f.restore(centre);
      if (d != 0)
        for (int m : moved) f.move(m, d);
    };
    const double chi0 = f.chi();
    move(step);
    f.fit();
    const double plus = f.chi();
    move(-step);
    f.fit();
    const double minus = f.chi();
    move(0);
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
      const double dplus = chi0 - plus;
      const double dminus = chi0 - minus;
      if (dplus > 0 && dplus > dminus) move(step);
      else if (dminus > 0) move(-step);
      else move(0);
      f.fit();
      change = chi0 > 0 ? (chi0 - f.chi()) / chi0 : 0;
    }
    // A bracketed minimum is searched again with half the step, down to a
    // step of 0.1 %; otherwise the search ends when a round changes the
    // chi-square by less than 0.1 %.
    const bool bracketed = plus > chi0 && chi0 < minus;
    if (bracketed) step /= 2;
    if (bracketed ? step < kMinStep : std::fabs(change) < kStopChange) break;
  }
}

// The searched gains agree with one common gain when their weighted
// scatter about it is at most this many times their variances.
constexpr double kAlikeGains = 6.0;

// When the searched gains agree (the detector's gain moved alike for every
// reference, as when all were counted on it under one calibration), each
// reference's own gain is combined with the mean of the others' by their
// variances: a strongly shown source keeps its own, a weakly shown one
// (whose peaks fix its gain only to a few tenths of a per cent) leans on
// the others. The amplitudes are then fitted again at those gains. Gains
// that disagree are kept as they are. False when the refit is singular.
bool combine_gains(Fitter& f, const ReferenceSet& set, const std::vector<bool>& searched) {
  const int k = f.references();
  std::vector<int> used;
  double sw = 0, swg = 0;
  for (int m = 0; m < k; ++m) {
    const double v = set.spectra[static_cast<std::size_t>(m)].gain_variance;
    if (!searched[static_cast<std::size_t>(m)] || !(v > 0)) continue;
    used.push_back(m);
    sw += 1 / v;
    swg += f.gain(m) / v;
  }
  if (used.size() < 2) return true;
  const double mean = swg / sw;
  double chi = 0;
  for (int m : used) {
    const double d = f.gain(m) - mean;
    chi += d * d / set.spectra[static_cast<std::size_t>(m)].gain_variance;
  }
  if (chi / static_cast<double>(used.size() - 1) > kAlikeGains) return true;
  std::vector<double> gains(static_cast<std::size_t>(k)), known(static_cast<std::size_t>(k), 0.0);
  for (int m = 0; m < k; ++m) gains[static_cast<std::size_t>(m)] = f.gain(m);
  for (int m : used) {
    const double v = set.spectra[static_cast<std::size_t>(m)].gain_variance;
    const double w_others = sw - 1 / v;
    const double others = (swg - f.gain(m) / v) / w_others;
    gains[static_cast<std::size_t>(m)] = (f.gain(m) / v + others * w_others) / sw;
    known[static_cast<std::size_t>(m)] = 1 / sw;
  }
  for (int m : used) f.set_gain(m, gains[static_cast<std::size_t>(m)]);
  // The references the sample does not show follow the common gain.
  for (int m = 0; m < k; ++m)
    if (!searched[static_cast<std::size_t>(m)]) f.set_gain(m, mean);
  return f.fit() && f.final_fit(searched, known);
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
    if (!f.decide_significance()) return fail(set, ui, singular);
    search_gain(f, -1, diagnostics);
    const int k = f.references();
    for (int round = 0; k > 1 && round < k; ++round) {
      std::vector<bool> searched(static_cast<std::size_t>(k), false);
      std::vector<double> before(static_cast<std::size_t>(k));
      for (int m = 0; m < k; ++m) before[static_cast<std::size_t>(m)] = f.gain(m);
      for (;;) {
        if (ui.abort_requested()) return fail(set, ui, "The Reference Spectrum fit was aborted");
        int next = -1;
        for (int m = 0; m < k; ++m)
          if (!searched[static_cast<std::size_t>(m)] && f.significant(m) &&
              (next < 0 || f.amplitude(m) > f.amplitude(next)))
            next = m;
        if (next < 0) break;
        searched[static_cast<std::size_t>(next)] = true;
        search_gain(f, next, diagnostics);
      }
      double moved = 0;
      for (int m = 0; m < k; ++m) moved = std::max(moved, std::fabs(f.gain(m) - before[static_cast<std::size_t>(m)]));
      if (moved <= kSettled) break;
    }
    // The search ends on the best gains it found. A reference whose source
    // the sample does not show once the others' gains are found (its gain
    // not searched, or searched while a misfit made it look significant)
    // takes the mean gain of those it shows: the detector's gain moved for
    // all of them alike, and a wrong gain leaves a misfit that the
    // reference's amplitude would take up.
    if (!f.fit() || !f.decide_significance()) return fail(set, ui, singular);
    double sum = 0;
    int searched = 0;
    std::vector<int> followers;
    for (int m = 0; m < k; ++m) {
      if (f.significant(m)) {
        sum += f.gain(m);
        ++searched;
      } else {
        followers.push_back(m);
      }
    }
    if (searched > 0 && !followers.empty()) {
      for (int m : followers) f.set_gain(m, sum / searched);
      if (!f.fit()) return fail(set, ui, singular);
    }
  }
  std::vector<bool> searched(static_cast<std::size_t>(f.references()), false);
  if (options.gain_search)
    for (int m = 0; m < f.references(); ++m) searched[static_cast<std::size_t>(m)] = f.significant(m);
  if (!f.final_fit(searched)) return fail(set, ui, singular);
  if (options.gain_search && !combine_gains(f, set, searched)) return fail(set, ui, singular);
  set.chi_squared = f.chi();
  set.fitted = true;
  for (int k = 0; k < f.references(); ++k) {
    const ReferenceSpectrum& ref = set.spectra[static_cast<std::size_t>(k)];
    diagnostics += c_format("%d - %s: Amplitude:- %.6e +/- %.3e, Gain:- %6.4f +/- %6.4f\r\n", k,
                            ref.name.c_str(), ref.amplitude, std::sqrt(ref.variance), ref.gain,
                            std::sqrt(ref.gain_variance));
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
