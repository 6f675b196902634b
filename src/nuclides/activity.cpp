#include "nuclides/activity.h"

#include <algorithm>
#include <cmath>

#include "nuclides/nuclide_session.h"
#include "nuclides/identify.h"
#include "nuclides/lod.h"
#include "nuclides/quant_common.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/c_format.h"
#include "settings/calibration_functions.h"

namespace kestrim {

namespace {

constexpr int kMaxSetNuclides = 80;   // reaching this is too big
constexpr int kMaxSetLines = 500;
constexpr int kMaxSetRows = 250;
constexpr int kMaxRecalibrationPeaks = 100;

// One cell of the set matrix: nuclide (column) on peak (row).
struct Cell {
  bool used = false;
  int line = -1;           // the first identified line of the nuclide on the peak
  double yield = 0;        // summed over its lines on the peak
  double uncertainty = 0;
};

struct InterferenceSet {
  std::vector<int> nuclides;                 // accepted numbers, order of entry
  std::vector<int> rows;                     // peak numbers, ascending
  std::vector<std::vector<Cell>> cell;       // [row][column]
  // Rows that a nuclide removed while forming the set also used: the
  // remaining nuclides there stay ambiguous.
  std::vector<char> removed_use;

  int columns() const { return static_cast<int>(nuclides.size()); }
  int row_count(int c) const {
    int n = 0;
    for (const auto& r : cell) n += r[c].used;
    return n;
  }
  int row_of_peak(int peak) const {
    for (std::size_t r = 0; r < rows.size(); ++r)
      if (rows[r] == peak) return static_cast<int>(r);
    return -1;
  }
  void erase_column(int c) {
    for (std::size_t r = 0; r < cell.size(); ++r)
      if (cell[r][c].used) removed_use[r] = 1;
    nuclides.erase(nuclides.begin() + c);
    for (auto& r : cell) r.erase(r.begin() + c);
  }
};

enum class FormResult { kNone, kFormed, kTooBig };

void remove_nuclide(NuclideResults& res, int accepted) {
  res.accepted[accepted].removed = true;
  for (IdentifiedLine& l : res.lines)
    if (l.nuclide == accepted) l.state = 0;
}

// Removes a nuclide in favour of others of its set, which may bring it back
// (see readmit_explained).
void give_way(NuclideResults& res, int accepted) {
  remove_nuclide(res, accepted);
  res.accepted[accepted].explained = true;
}

FormResult form_set(NuclideResults& res, InterferenceSet& set) {
  set = InterferenceSet{};
  int first = -1;
  for (std::size_t i = 0; i < res.lines.size(); ++i)
    if (res.lines[i].state == 1) {
      first = static_cast<int>(i);
      break;
    }
  if (first < 0) return FormResult::kNone;

  const std::size_t na = res.accepted.size();
  std::vector<char> taken(na, 0);
  std::vector<int> stack{res.lines[first].nuclide};
  taken[res.lines[first].nuclide] = 1;
  int set_lines = 0;
  while (!stack.empty()) {
    if (static_cast<int>(set.nuclides.size()) + 1 >= kMaxSetNuclides) return FormResult::kTooBig;
    const int j = stack.back();
    stack.pop_back();
    set.nuclides.push_back(j);
    for (const IdentifiedLine& l : res.lines) {
      if (l.state != 1 || l.nuclide != j) continue;
      if (++set_lines >= kMaxSetLines) return FormResult::kTooBig;
      for (const IdentifiedLine& o : res.lines)
        if (o.state == 1 && o.peak == l.peak && !taken[o.nuclide]) {
          taken[o.nuclide] = 1;
          stack.push_back(o.nuclide);
        }
    }
  }

  // Rows: the peaks the set's lines use, ascending.
  for (const IdentifiedLine& l : res.lines)
    if (l.state == 1 && taken[l.nuclide]) set.rows.push_back(l.peak);
  std::sort(set.rows.begin(), set.rows.end());
  set.rows.erase(std::unique(set.rows.begin(), set.rows.end()), set.rows.end());
  if (static_cast<int>(set.rows.size()) >= kMaxSetRows) return FormResult::kTooBig;

  set.cell.assign(set.rows.size(), std::vector<Cell>(set.nuclides.size()));
  set.removed_use.assign(set.rows.size(), 0);
  for (std::size_t i = 0; i < res.lines.size(); ++i) {
    const IdentifiedLine& l = res.lines[i];
    if (l.state != 1 || !taken[l.nuclide]) continue;
    const int r = set.row_of_peak(l.peak);
    const int c = static_cast<int>(std::find(set.nuclides.begin(), set.nuclides.end(), l.nuclide) -
                                   set.nuclides.begin());
    Cell& cell = set.cell[r][c];
    if (!cell.used) cell.line = static_cast<int>(i);
    cell.used = true;
    cell.yield += l.yield;
    cell.uncertainty += l.uncertainty;
  }

  // Fewer peaks than nuclides (or as many, from three nuclides on): the
  // set cannot be solved; drop the nuclide with the fewest rows and the
  // lowest confidence. Each pass starts its comparison afresh.
  while (set.columns() > static_cast<int>(set.rows.size()) ||
         (set.columns() == static_cast<int>(set.rows.size()) && set.columns() >= 3)) {
    int choice = -1;
    int best_rows = 500;
    double best_conf = 2;
    for (int c = 0; c < set.columns(); ++c) {
      res.accepted[set.nuclides[c]].marker = '?';
      const int rc = set.row_count(c);
      const double conf = res.accepted[set.nuclides[c]].confidence;
      if (rc < best_rows || (rc == best_rows && conf < best_conf)) {
        choice = c;
        best_rows = rc;
        best_conf = conf;
      }
    }
    if (choice < 0) choice = 0;
    remove_nuclide(res, set.nuclides[choice]);
    set.erase_column(choice);
  }

  // Two nuclides on exactly the same peaks cannot be told apart: keep the
  // one with the higher confidence (the larger share of its lines found;
  // on a tie the earlier one), marked ?.
  for (bool again = true; again && set.columns() >= 2;) {
    again = false;
    for (int a = 0; a < set.columns() && !again; ++a)
      for (int b = a + 1; b < set.columns() && !again; ++b) {
        bool same = true;
        int last_shared = -1;
        for (std::size_t r = 0; r < set.rows.size(); ++r) {
          if (set.cell[r][a].used != set.cell[r][b].used) same = false;
          if (set.cell[r][a].used && set.cell[r][b].used) last_shared = static_cast<int>(r);
        }
        if (!same || last_shared < 0) continue;
        for (int c = 0; c < set.columns(); ++c) {
          if (!set.cell[last_shared][c].used) continue;
          bool others_shared = true;
          for (std::size_t r = 0; r < set.rows.size(); ++r) {
            if (static_cast<int>(r) == last_shared || !set.cell[r][c].used) continue;
            int holders = 0;
            for (int o = 0; o < set.columns(); ++o) holders += set.cell[r][o].used;
            if (holders < 2) others_shared = false;
          }
          if (others_shared) res.accepted[set.nuclides[c]].marker = '?';
        }
        const int gone = res.accepted[set.nuclides[b]].confidence > res.accepted[set.nuclides[a]].confidence + 1e-9
                             ? a
                             : b;
        give_way(res, set.nuclides[gone]);
        set.erase_column(gone);
        again = true;
      }
  }
  return FormResult::kFormed;
}

struct Solution {
  std::vector<double> activity;
  std::vector<double> variance;  // diagonal of the inverse
  // The weighted chi-square of the peaks' rates about the solution per
  // degree of freedom, at least 1 (1 when there are no more peaks than
  // nuclides).
  double scatter = 1;
  // The activities' variances with the peaks' disagreement among themselves
  // and the continuum shared by peaks of one region (see
  // line_spread_variances and shared_covariance); the variances times the
  // scatter at least.
  std::vector<double> spread_variance;
  // Each activity as a sum of the peaks' rates: coeff[j][r].
  std::vector<std::vector<double>> coeff;
  bool ok = false;
};

double peak_sigma(const AnalysisParameters& p) { return p.peak_sigma > 0 ? p.peak_sigma : 1.0; }

// A peak's rate as the solution predicts it, and the rate's variance
// (counts and the yields of the lines it holds).
struct RowPrediction {
  double rate = 0, model = 0, variance = 0;
};

RowPrediction predict_row(const NuclideSession& state, const InterferenceSet& set,
                          const std::vector<double>& activity, std::size_t r) {
  const int p = set.rows[r];
  RowPrediction out;
  out.rate = state.peaks.gps[p];
  const double sr = state.peaks.gps_pct[p] * 0.01 * out.rate / peak_sigma(state.params);
  double rel2 = 0;
  for (int j = 0; j < set.columns(); ++j) {
    const Cell& cj = set.cell[r][j];
    if (!cj.used || !(cj.yield > 0)) continue;
    out.model += cj.yield * activity[j];
    rel2 += (cj.uncertainty * activity[j]) * (cj.uncertainty * activity[j]);
  }
  out.variance = std::max(sr * sr + rel2, 1e-30);
  return out;
}

// Peaks fitted in one region share its continuum: where the continuum
// lies too high, every one of them reads low. The part of each area's
// uncertainty that the continuum level carries is taken as fully
// correlated between the peaks of a region, and an activity that sums
// their rates with coefficients g gets twice g_r g_s times those parts for
// each such pair. Taken as independent, Co-60 at ten times its limit of
// detection (its two peaks in one region) was within two sigma in 83 % of
// 60 counts, its pull spread 1.36.
double shared_covariance(const NuclideSession& state, const InterferenceSet& set, const std::vector<double>& g) {
  const PeakList& list = state.peaks;
  double v = 0;
  const std::size_t rows = set.rows.size();
  for (std::size_t a = 0; a < rows; ++a)
    for (std::size_t b = a + 1; b < rows; ++b) {
      const int p = set.rows[a], q = set.rows[b];
      if (list.fitted_region_start[p] == 0 || list.fitted_region_start[p] != list.fitted_region_start[q]) continue;
      if (!(list.fitted_area[p] > 0) || !(list.fitted_area[q] > 0)) continue;
      const double sp = list.fitted_area_continuum_sd[p] / list.fitted_area[p] * list.gps[p];
      const double sq = list.fitted_area_continuum_sd[q] / list.fitted_area[q] * list.gps[q];
      v += 2 * g[a] * g[b] * sp * sq;
    }
  return v;
}

// An activity from several peaks whose rates stray from the solution
// further than their counts allow. Scaling the variance by the scatter
// alone keeps the weights' trust in the most precise peaks: a 2 kBq Ra-226
// source, resting on its 352 and 609 keV peaks, read 4 % low at 1 %, while
// its other lines strayed by 5 to 15 %. Here each peak is given a further
// uncertainty, the same fraction of its predicted rate for every peak: the
// mean squared excess of the peaks' relative deviations beyond their own
// uncertainties, each peak counting by its share in the activity. A
// deviation is taken relative to the larger of the measured and predicted
// rates, so that a peak the solution does not explain (another nuclide's
// line beside it) counts as far as 100 %, not as ten times its prediction.
// The activities stay as solved: the coefficients that make each activity
// a sum of the peaks' rates carry the variances.
std::vector<double> line_spread_variances(const NuclideSession& state, const InterferenceSet& set,
                                          const Solution& s) {
  const int n = set.columns();
  const std::size_t rows = set.rows.size();
  std::vector<double> rate(rows), var(rows), model(rows), excess(rows);
  for (std::size_t r = 0; r < rows; ++r) {
    const RowPrediction row = predict_row(state, set, s.activity, r);
    rate[r] = row.rate;
    model[r] = row.model;
    var[r] = row.variance;
    const double d = rate[r] - model[r];
    const double scale = std::max(std::fabs(model[r]), std::fabs(rate[r]));
    excess[r] = scale > 0 ? std::max(0.0, d * d - var[r]) / (scale * scale) : 0.0;
  }
  std::vector<double> out = s.variance;
  for (int j = 0; j < n; ++j) {
    const std::vector<double>& g = s.coeff[j];
    double total = 0;
    for (std::size_t r = 0; r < rows; ++r) total += std::fabs(g[r] * rate[r]);
    if (!(total > 0)) continue;
    double fraction2 = 0;
    for (std::size_t r = 0; r < rows; ++r) fraction2 += std::fabs(g[r] * rate[r]) / total * excess[r];
    if (!(s.scatter > 1)) fraction2 = 0;
    double v = s.variance[j];
    if (fraction2 > 0) {
      v = 0;
      for (std::size_t r = 0; r < rows; ++r) v += g[r] * g[r] * (var[r] + fraction2 * model[r] * model[r]);
    }
    v += shared_covariance(state, set, g);
    if (std::isfinite(v)) out[j] = v;
  }
  return out;
}

Solution solve_set(const NuclideSession& state, const InterferenceSet& set, bool pass_b) {
  const PeakList& list = state.peaks;
  const AnalysisParameters& par = state.params;
  const NuclideResults& res = state.results;
  const int n = set.columns();
  NormalEquations eq(n);
  std::vector<double> weight(set.rows.size() * n, 0.0);
  for (std::size_t r = 0; r < set.rows.size(); ++r) {
    const int p = set.rows[r];
    const double R = list.gps[p];
    const double sr = list.gps_pct[p] * 0.01 * R / peak_sigma(par);
    for (int j = 0; j < n; ++j) {
      const Cell& cj = set.cell[r][j];
      if (!cj.used || !(cj.yield > 0)) continue;
      const double rel = R * cj.uncertainty / cj.yield;
      const double v = std::max(sr * sr + rel * rel, 1e-30);
      double w;
      if (!pass_b && par.principal_peak_only != 0 && res.accepted[set.nuclides[j]].principal_peak == p)
        w = 1 / std::max(std::fabs(R) * 1e-6, 1e-30);
      else
        w = pass_b ? 1 / v : 1 / std::sqrt(v);
      weight[r * n + j] = w;
      eq.rhs(j) += cj.yield * R * w;
      for (int k = 0; k < n; ++k) {
        const Cell& ck = set.cell[r][k];
        if (ck.used) eq.normal(j, k) += cj.yield * ck.yield * w;
      }
    }
  }
  Solution s;
  s.activity.assign(n, 0);
  s.variance.assign(n, 0);
  s.ok = eq.solve();
  if (s.ok)
    for (int j = 0; j < n; ++j) {
      s.activity[j] = eq.solution(j);
      s.variance[j] = eq.inverse(j, j);
    }
  // How far the peaks disagree with the solution, against their own
  // uncertainties (count rate and line yields).
  const int dof = static_cast<int>(set.rows.size()) - n;
  if (s.ok && pass_b && dof > 0) {
    double chi2 = 0;
    for (std::size_t r = 0; r < set.rows.size(); ++r) {
      const RowPrediction row = predict_row(state, set, s.activity, r);
      chi2 += (row.rate - row.model) * (row.rate - row.model) / row.variance;
    }
    if (std::isfinite(chi2)) s.scatter = std::max(1.0, chi2 / dof);
  }
  s.coeff.assign(n, std::vector<double>(set.rows.size(), 0.0));
  if (s.ok)
    for (int j = 0; j < n; ++j)
      for (std::size_t r = 0; r < set.rows.size(); ++r)
        for (int k = 0; k < n; ++k)
          if (set.cell[r][k].used) s.coeff[j][r] += eq.inverse(j, k) * set.cell[r][k].yield * weight[r * n + k];
  s.spread_variance = s.variance;
  for (double& v : s.spread_variance) v *= s.scatter;
  if (s.ok && pass_b && set.rows.size() > 1) {
    const std::vector<double> spread = line_spread_variances(state, set, s);
    for (int j = 0; j < n; ++j) s.spread_variance[j] = std::max(s.spread_variance[j], spread[j]);
  }
  return s;
}

std::string name_of(const NuclideSession& state, int accepted) {
  return to_string(state.library.nuclides[state.results.accepted[accepted].library_index].name);
}

// The resolution (FWHM, keV) at an energy, from the width calibration.
double fwhm_kev_at(const NuclideSession& state, double energy_kev) {
  const CalibrationRecord& cal = state.spectrum.calibration;
  const double ch = energy_to_channel(cal, energy_kev);
  const double gain = std::fabs(channel_to_energy(cal, ch + 0.5) - channel_to_energy(cal, ch - 0.5));
  const double w = fwhm_at_channel(cal, ch, calibration_context(state.spectrum, state.flags)) * gain;
  return std::isfinite(w) ? w : 0.0;
}

// The summed yield of a library nuclide's lines that peak p holds: those
// within one FWHM of it whose nearest peak it is, matched or not.
double unresolved_yield(const NuclideSession& state, int library_index, int p) {
  const NuclideLibrary& lib = state.library;
  const double ep = peak_energy(state, p);
  const double fwhm = fwhm_kev_at(state, ep);
  const auto [first, end] = lib.lines_of(library_index);
  double y = 0;
  for (int i = first; i < end; ++i) {
    const double e = lib.line_energy[i];
    if (std::fabs(e - ep) < fwhm && nearest_peak(state, e) == p) y += lib.line_yield[i];
  }
  return y;
}

// Peaks below kFluorescenceRegion are no nuclide's own evidence and are not
// weighed where a nuclide has peaks above it: the K X-rays of lead and
// bismuth (75-90 keV) from the shield and the sample sit there in most
// spectra and belong to no library entry, so no nuclide explains them.
constexpr double kFluorescenceRegion = 100.0;

// Whether column c's nuclide takes part in the interference checks: its
// confidence reaches the Defaults' minimum and the peak-search library did
// not name it.
bool eligible(const NuclideSession& state, const InterferenceSet& set, int c) {
  const AcceptedNuclide& acc = state.results.accepted[set.nuclides[c]];
  return acc.confidence >= state.params.min_confidence && !acc.library_driven;
}

// A line weaker than this fraction of its nuclide's strongest line does not
// count towards the nuclide's confidence, and its peak is no evidence of
// the nuclide's own: a 0.6 % line of Ba-133 on a backscatter bump at
// 165 keV had kept Ba-133 beside Ra-226, whose lines explained the rest.
constexpr double kWeakLineFraction = 0.25;

double strongest_yield(const NuclideSession& state, int library_index) {
  const auto [first, end] = state.library.lines_of(library_index);
  double y = 0;
  for (int i = first; i < end; ++i) y = std::max(y, static_cast<double>(state.library.line_yield[i]));
  return y;
}

// The rows of column c above the fluorescence region, with a line that is
// not weak, that no other eligible nuclide of the set uses.
int own_row_count(const NuclideSession& state, const InterferenceSet& set, int c) {
  int own = 0;
  const double weak =
      kWeakLineFraction * strongest_yield(state, state.results.accepted[set.nuclides[c]].library_index);
  for (std::size_t r = 0; r < set.rows.size(); ++r) {
    if (!set.cell[r][c].used || peak_energy(state, set.rows[r]) < kFluorescenceRegion) continue;
    if (!(set.cell[r][c].yield > weak)) continue;
    bool alone = true;
    for (int k = 0; k < set.columns(); ++k)
      if (k != c && set.cell[r][k].used && eligible(state, set, k)) alone = false;
    own += alone;
  }
  return own;
}

// How many standard deviations of a nuclide's activity must remain in its
// peaks once other nuclides have explained what they can.
constexpr double kExplainedSigma = 3.0;

// The largest uncertainty (per cent) of an activity that rests on one peak.
constexpr double kSinglePeakMaxUncertainty = 100.0 / 3.0;
// ... and of a nuclide whose principal peak another nuclide shares.
constexpr double kSharedPrincipalMaxUncertainty = 50.0;

// A nuclide that gave way to others (they explained its peaks, it held
// the same peaks as a more confident one, or it went when the set's
// activities came out negative) is back when one of those others, sharing
// a peak with it, is itself removed as not credible: the explanation is
// gone. Ba-133 at ten times its limit of detection was missed in one count
// of ten: its 81 and 356 keV peaks taken by I-131's 80 and 364 keV lines,
// I-131 then read 130 to 170 % uncertain and went too.
// Only a nuclide with two of its main lines found (a quarter of its
// strongest or more) comes back, and it must then stand at three sigma:
// one main line, or a line among lead's X-rays, is too little to outlast
// the nuclides that explained it.
void readmit_explained(const NuclideSession& state, int removed, ReportText& diag) {
  NuclideResults& res = state.results;
  for (std::size_t j = 0; j < res.accepted.size(); ++j) {
    AcceptedNuclide& acc = res.accepted[j];
    if (!acc.removed || !acc.explained) continue;
    const double main = 0.25 * strongest_yield(state, acc.library_index);
    bool shares = false;
    int main_lines = 0;
    for (const IdentifiedLine& a : res.lines) {
      if (a.nuclide != static_cast<int>(j)) continue;
      if (a.yield > main) ++main_lines;
      for (const IdentifiedLine& b : res.lines)
        if (b.nuclide == removed && b.peak == a.peak) shares = true;
    }
    if (!shares || main_lines < 2) continue;
    acc.removed = false;
    acc.explained = false;
    acc.readmitted = true;
    for (IdentifiedLine& l : res.lines)
      if (l.nuclide == static_cast<int>(j)) l.state = 1;
    diag.line(c_format("%s is back: %s, which took its peaks, was removed", name_of(state, static_cast<int>(j)).c_str(),
                       name_of(state, removed).c_str()));
  }
}

// The column of a nuclide without a peak of its own whose peaks the other
// nuclides explain: with it left out, the activity its lines would take
// from what the others leave of its peaks is below kExplainedSigma of its
// uncertainty. -1 when there is none.
int unneeded_nuclide(const NuclideSession& state, const InterferenceSet& set) {
  const NuclideResults& res = state.results;
  const AnalysisParameters& par = state.params;
  const PeakList& list = state.peaks;
  const int n = set.columns();
  if (n < 2) return -1;
  std::vector<int> order;
  for (int c = 0; c < n; ++c)
    if (eligible(state, set, c) && own_row_count(state, set, c) == 0) order.push_back(c);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    const double ca = res.accepted[set.nuclides[a]].confidence;
    const double cb = res.accepted[set.nuclides[b]].confidence;
    if (std::fabs(ca - cb) > 1e-9) return ca < cb;
    return set.row_count(a) < set.row_count(b);
  });
  // The scatter of the peaks about the solution with every nuclide in it
  // (areas, yields, efficiencies): what the others' prediction is trusted to.
  const double full_scatter = order.empty() ? 1.0 : solve_set(state, set, true).scatter;
  for (const int c : order) {
    InterferenceSet rest = set;
    rest.erase_column(c);
    // Rows that only the tested nuclide used leave the others' system.
    if (rest.columns() > static_cast<int>(rest.rows.size())) continue;
    const Solution others = solve_set(state, rest, true);
    if (!others.ok) continue;
    bool positive = true;
    for (const double a : others.activity) positive = positive && a > 0;
    if (!positive) continue;
    // How far the others' own peaks (those the tested nuclide does not
    // use) scatter about their solution: where their lines disagree among
    // themselves by some per cent, a peak they share reading that much
    // above their prediction is no evidence for another nuclide.
    double chi2 = 0, excess = 0;
    int rows = 0;
    for (std::size_t r = 0; r < set.rows.size(); ++r) {
      if (set.cell[r][c].used) continue;
      const int p = set.rows[r];
      const double R = list.gps[p];
      const double sr = list.gps_pct[p] * 0.01 * R / peak_sigma(par);
      double model = 0, rel2 = 0;
      for (int k = 0; k < rest.columns(); ++k) {
        const Cell& ck = rest.cell[r][k];
        if (!ck.used || !(ck.yield > 0)) continue;
        model += ck.yield * others.activity[k];
        rel2 += (ck.uncertainty * others.activity[k]) * (ck.uncertainty * others.activity[k]);
      }
      chi2 += (R - model) * (R - model) / std::max(sr * sr + rel2, 1e-30);
      if (model > 0) excess += std::max(0.0, (R - model) * (R - model) - sr * sr - rel2) / (model * model);
      ++rows;
    }
    double scatter = full_scatter;
    if (rows > rest.columns() && std::isfinite(chi2))
      scatter = std::max(scatter, chi2 / (rows - rest.columns()));
    // A single peak strays from the others' prediction as far as each of
    // their own peaks does (the relative deviation beyond the counting
    // errors, squared and averaged): without an efficiency calibration their
    // lines at 200 keV and at 2 MeV read activities eight times apart, and a
    // shared peak reading 60 % above the prediction says nothing.
    const double spread = rows > rest.columns() && std::isfinite(excess) ? excess / rows : 0.0;
    // Weak lines are weighed only for a nuclide without a line that is not
    // weak, and the X-ray region only for one without peaks above it: the
    // peak of a 1 % line that reads as a hundred times the activity of the
    // nuclide's main line belongs to something else.
    const double weak = kWeakLineFraction * strongest_yield(state, res.accepted[set.nuclides[c]].library_index);
    bool weighed_above = false, weighed_strong = false;
    for (std::size_t r = 0; r < set.rows.size(); ++r)
      if (set.cell[r][c].used && set.cell[r][c].yield > 0) {
        if (peak_energy(state, set.rows[r]) >= kFluorescenceRegion) weighed_above = true;
        if (set.cell[r][c].yield > weak) weighed_strong = true;
      }
    double num = 0, den = 0;
    for (std::size_t r = 0; r < set.rows.size(); ++r) {
      const Cell& cc = set.cell[r][c];
      if (!cc.used || !(cc.yield > 0)) continue;
      const int p = set.rows[r];
      if (peak_energy(state, p) < kFluorescenceRegion && weighed_above) continue;
      if (!(cc.yield > weak) && weighed_strong) continue;
      const double R = list.gps[p];
      const double sr = list.gps_pct[p] * 0.01 * R / peak_sigma(par);
      double model = 0, var = sr * sr;
      for (int k = 0; k < rest.columns(); ++k) {
        const Cell& ck = rest.cell[r][k];
        if (!ck.used || !(ck.yield > 0)) continue;
        model += ck.yield * others.activity[k];
        var += ck.yield * ck.yield * std::fabs(others.variance[k]) * scatter;
      }
      var += model * model * spread;
      var = std::max(var, 1e-30);
      num += cc.yield * (R - model) / var;
      den += cc.yield * cc.yield / var;
    }
    if (!(den > 0)) continue;
    const double a = num / den, sa = 1 / std::sqrt(den);
    if (a < kExplainedSigma * sa) return c;
  }
  return -1;
}

// The column of a nuclide alone in its set, all of whose peaks lie below
// the fluorescence region, that the nuclides already reported explain:
// their lines that NaI does not resolve from those peaks (within one FWHM,
// and nearest to them) leave less than kExplainedSigma of the nuclide's
// activity. Th-228's 84.4 and Ac-228's 99.5 keV make one peak at 92 keV,
// where U-238's Th-234 line lies, though neither is within the matching
// tolerance. -1 when none.
int explained_by_reported(const NuclideSession& state, const InterferenceSet& set) {
  const NuclideResults& res = state.results;
  const PeakList& list = state.peaks;
  const AnalysisParameters& par = state.params;
  // A nuclide alone in its set: with others, the test above decides.
  if (res.results.empty() || set.columns() != 1 || res.accepted[set.nuclides[0]].library_driven) return -1;
  for (std::size_t r = 0; r < set.rows.size(); ++r)
    if (set.cell[r][0].used && peak_energy(state, set.rows[r]) >= kFluorescenceRegion) return -1;
  double num = 0, den = 0;
  bool explained_somewhere = false;
  for (std::size_t r = 0; r < set.rows.size(); ++r) {
    const Cell& cc = set.cell[r][0];
    if (!cc.used || !(cc.yield > 0)) continue;
    const int p = set.rows[r];
    const double R = list.gps[p];
    const double sr = list.gps_pct[p] * 0.01 * R / peak_sigma(par);
    double model = 0, var = sr * sr;
    for (const NuclideResult& other : res.results) {
      if (other.library_index < 0 || !(other.activity > 0)) continue;
      const double y = unresolved_yield(state, other.library_index, p);
      if (!(y > 0)) continue;
      const double sa = other.activity * other.uncertainty * 0.01;
      model += y * other.activity;
      var += y * y * sa * sa;
      explained_somewhere = true;
    }
    num += cc.yield * (R - model) / var;
    den += cc.yield * cc.yield / var;
  }
  if (!explained_somewhere || !(den > 0)) return -1;
  return num / den < kExplainedSigma / std::sqrt(den) ? 0 : -1;
}

// How far (in FWHM) from a peak of the nuclide's own one of its lines is
// not missing.
constexpr double kOwnFlankReach = 2.0;

// A line of a found nuclide without a peak: its energy and its limit of
// determination in per cent of the nuclide's activity.
struct MissingLine {
  double energy = 0;
  double percent = 0;
};

// The lines of a found nuclide (at least 5 % of its strongest, inside the
// analysis range) that have no peak within the tolerance.
std::vector<MissingLine> missing_lines(const NuclideSession& state, int accepted, double activity) {
  std::vector<MissingLine> out;
  const AnalysisParameters& par = state.params;
  const NuclideResults& res = state.results;
  const AcceptedNuclide& acc = res.accepted[accepted];
  const NuclideLibrary& lib = state.library;
  const auto [first, end] = lib.lines_of(acc.library_index);
  double ymax = 0;
  for (int i = first; i < end; ++i) ymax = std::max<double>(ymax, lib.line_yield[i]);
  for (int i = first; i < end; ++i) {
    const double e = lib.line_energy[i], y = lib.line_yield[i];
    if (!(y > 0.05 * ymax) || !(e > res.lower && e < res.upper)) continue;
    const double t = line_tolerance(par, e, res);
    bool seen = false;
    for (int p = 1; p <= state.peaks.count && !seen; ++p) {
      const double ep = peak_energy(state, p);
      seen = ep > e - t && ep < e + t;
    }
    // A line within one FWHM of a peak that another line of the nuclide
    // took is inside that peak (Ac-228's 969 keV in the 911 keV peak), not
    // missing; one within two FWHM is on its flank, where the search does
    // not part it from the peak: Eu-152's 1299 keV line beside its 1408 keV
    // peak, or Th-232's 788 keV beside its 727 keV, removed a strong source
    // of either whose limits of determination are a few per cent of its
    // activity.
    const double fwhm = fwhm_kev_at(state, e);
    for (const IdentifiedLine& l : res.lines) {
      if (seen) break;
      if (l.nuclide == accepted && l.peak >= 1 && l.peak <= state.peaks.count)
        seen = std::fabs(peak_energy(state, l.peak) - e) < kOwnFlankReach * fwhm;
    }
    // A line within one FWHM of another nuclide's peak, nearest to it, is
    // not resolved from it when that peak could hold the line's counts
    // (Tl-208's 583 keV inside Bi-214's 609 keV peak): it is not missing.
    const int near = nearest_peak(state, e);
    if (!seen && near != 0 && std::fabs(peak_energy(state, near) - e) < fwhm) {
      const double rate = state.peaks.gps[near];
      const double sd = std::fabs(rate) * state.peaks.gps_pct[near] * 0.01 / peak_sigma(par);
      seen = rate + 2 * sd >= activity * y;
    }
    if (seen) continue;
    const double L = limit_at_energy(state, e, false, kLodDetermination, nullptr) / y;
    if (activity == 0) continue;
    out.push_back({e, L * 100 / activity});
  }
  return out;
}

// The limit-of-detection check of a found nuclide: lines that should have
// given a peak. Updates the marker.
void check_found_nuclide(const NuclideSession& state, int accepted, double activity, ReportText& act) {
  const AnalysisParameters& par = state.params;
  NuclideResults& res = state.results;
  const int lodc = par.lod_check_threshold;
  if (lodc < 1 || lodc > 50) return;
  AcceptedNuclide& acc = res.accepted[accepted];
  for (const MissingLine& m : missing_lines(state, accepted, activity)) {
    const double e = m.energy, l = m.percent;
    if (l < 50) {
      act.line(c_format(" * No Peak at %6.1f keV, Limit of Determination only %2.0f%% of found Activity.",
                        e, l));
      act.empty();
      if (acc.marker == '?')
        acc.marker = '#';
      else if (acc.marker != '#')
        acc.marker = '*';
    }
  }
}

// Writes the peak tables and results of a solved set.
void report_set(const NuclideSession& state, const InterferenceSet& set, const std::vector<double>& activity,
                const std::vector<double>& total_unc, ReportText& act) {
  const PeakList& list = state.peaks;
  const AnalysisParameters& par = state.params;
  NuclideResults& res = state.results;
  const NuclideLibrary& lib = state.library;
  const SpectrumHeader& h = state.spectrum.header;
  const int n = set.columns();
  const double psig = peak_sigma(par);

  for (int c = 0; c < n; ++c) {
    const int j = set.nuclides[c];
    AcceptedNuclide& acc = res.accepted[j];
    const Nuclide& nuc = lib.nuclides[acc.library_index];
    const std::string name = to_string(nuc.name);
    for (IdentifiedLine& l : res.lines)
      if (l.nuclide == j) l.state = 0;

    act.empty();
    act.line(c_format(" %s - The following Peak/s were found:-", name.c_str()));
    act.line(" ");
    act.line(std::string(" Peak   Peak   Library           P") + static_cast<char>(0xE7) +
             "     % of Peak      Peak  Uncertainty");
    act.line("Number Energy  Energy    Diff.   (%)  Activity used  Activity    (%)");
    act.line(" ");

    const auto [lfirst, lend] = lib.lines_of(acc.library_index);
    bool combined = false;
    int rows_held = 0, rows_marked = 0;
    const double A = activity[c];
    for (std::size_t r = 0; r < set.rows.size(); ++r) {
      const Cell& cell = set.cell[r][c];
      if (!cell.used) continue;
      ++rows_held;
      const int p = set.rows[r];
      const IdentifiedLine& il = res.lines[cell.line];
      const double ep = peak_energy(state, p);
      const double R = list.gps[p];
      const double u = list.gps_pct[p];
      const double Y = cell.yield;

      bool exact = false;
      for (int i = lfirst; i < lend; ++i)
        if (lib.line_energy[i] == static_cast<float>(il.energy)) exact = true;
      char line_marker = ' ';
      if (!exact) {
        line_marker = '&';
        combined = true;
      }
      if (p == acc.principal_peak) line_marker = 'P';

      const double f = R != 0 ? A * Y / R : 0;
      const double from_peak = Y > 0 ? R / Y : 0;
      const double a = (u / psig) * par.activity_sigma;
      double explained = 0;
      std::string other;
      for (int k = 0; k < n; ++k) {
        if (!set.cell[r][k].used) continue;
        if (R != 0) explained += activity[k] * set.cell[r][k].yield / R;
        if (k != c) other = name_of(state, set.nuclides[k]).substr(0, 7);
      }
      const double misfit = std::fabs(1 - explained) * 100;
      char peak_marker = ' ';
      if (misfit > std::max(3 * u / psig, 1.0)) peak_marker = '!';
      if (std::trunc(a * 10) / 10 == 99.9) peak_marker = '*';
      if (peak_marker != ' ') ++rows_marked;

      act.line(c_format("%4d %8.2f %8.2f %6.2f %7.2f %c %7.1f %c %12.4e %6.1f  %s", p, ep,
                        il.energy, ep - il.energy, Y * 100, line_marker, f * 100, peak_marker,
                        from_peak, a, other.c_str()));

      if (f > res.peak_fraction[p]) {
        res.peak_fraction[p] = f;
        res.peak_owner[p] = acc.library_index;
      }
      res.peak_sum[p] += f;
      res.peak_free[p] = 0;

      if (set.rows.size() > 1) {
        int holders = 0;
        for (int k = 0; k < n; ++k) holders += set.cell[r][k].used;
        if (holders == 1 && !set.removed_use[r] && acc.marker == '?') acc.marker = ' ';
      }
      if (res.auto_calibration && f > 0.5 && a < 20 && acc.marker != '?' &&
          static_cast<int>(res.recalibration.size()) < kMaxRecalibrationPeaks)
        res.recalibration.push_back({il.energy, list.centre[p], u, name});
    }

    const double T = total_unc[c];
    const double S =
        specific_activity(A, h.sample_size, h.correction_factor,
                          res.efficiency_calibrated ? par.activity_factor : 0.0);
    const double D = decay_correct(S, res.decay_interval, nuc.half_life, h.true_time);
    act.line(" ");
    act.line(c_format("Confidence Value:- %5.2f    Sample Mean Activity:- %12.4e %s +/- %4.1f %%",
                      acc.confidence, A, res.efficiency_calibrated ? "Bq" : kUncalibratedUnit, T));
    act.line(c_format("Specific Activity:- %11.3e +/- %4.1f%%, Decay corrected:- %11.3e %s/%s", S, T,
                      D, res.activity_unit.c_str(), res.quantity_unit.c_str()));
    act.empty();
    if (combined) {
      act.line(" & represents:- Two Library Lines were combined.");
      act.empty();
    }
    if (rows_held > 0 && rows_marked == rows_held) acc.marker = '!';
    if (par.unconditional_library_peaks == 0) check_found_nuclide(state, j, A, act);

    if (static_cast<int>(res.results.size()) >= kMaxNuclideResults) {
      res.results_full = true;
      continue;
    }
    NuclideResult out;
    out.name = name;
    out.marker = acc.marker;
    out.library_index = acc.library_index;
    out.confidence = acc.confidence;
    out.activity = A;
    out.uncertainty = T;
    out.decay_corrected = D;
    out.absolute_uncertainty = std::fabs(D) * T * 0.01;
    res.results.push_back(out);
  }
}

constexpr double kAmbiguousLowest = 150.0;  // keV: below, X-rays and backscatter crowd
constexpr double kAmbiguousReach = 0.75;    // of the peak's FWHM: the refit's reach for a line in a peak

// Per row of the set: the variance (rate squared) of the set's nuclides'
// lines that the peak may or may not hold: beyond their tolerance of it, so
// not counted in it, but within three-quarters of its FWHM and nearest to
// it, where NaI does not resolve them (Tl-208's 583 keV line, 14 keV from a
// soil's 583/609 keV blend, whose fitted place moves across the tolerance's
// edge from count to count: the soils' Ra-226 lay within twice its stated
// uncertainty in 78 and 84 % of 200 counts). Each is in or out with even
// odds: a quarter of its rate at the nuclide's activity, squared.
std::vector<double> ambiguous_line_variances(const NuclideSession& state, const InterferenceSet& set,
                                             const std::vector<double>& activity) {
  const NuclideResults& res = state.results;
  const NuclideLibrary& lib = state.library;
  std::vector<double> out(set.rows.size(), 0.0);
  for (int c = 0; c < set.columns(); ++c) {
    if (!(activity[c] > 0)) continue;
    const std::pair<int, int> range = lib.lines_of(res.accepted[set.nuclides[c]].library_index);
    for (int i = range.first; i < range.second; ++i) {
      const double e = lib.line_energy[i], y = lib.line_yield[i];
      if (!(e > res.lower && e < res.upper) || e < kAmbiguousLowest || !(y > 0)) continue;
      const int p = nearest_peak(state, e);
      const int r = set.row_of_peak(p);
      if (p < 1 || r < 0 || set.cell[r][c].used) continue;
      const double d = std::fabs(peak_energy(state, p) - e);
      if (d <= line_tolerance(state.params, e, res) || !(d <= kAmbiguousReach * fwhm_kev_at(state, peak_energy(state, p))))
        continue;
      const double rate = activity[c] * y;
      out[r] += 0.25 * rate * rate;
    }
  }
  return out;
}

// Pass A, the negative check, pass B and the credibility pass of a formed
// set. Returns true when the set was reported, false when a nuclide was
// removed and the set must be formed again.
bool solve_and_report(const NuclideSession& state, const InterferenceSet& set, ReportText& diag, ReportText& act) {
  const PeakList& list = state.peaks;
  const AnalysisParameters& par = state.params;
  NuclideResults& res = state.results;
  const SpectrumHeader& h = state.spectrum.header;
  const int n = set.columns();

  // A nuclide none of whose peaks is its own (every one is shared with
  // another nuclide of the set) is kept only while the others leave a
  // significant part of those peaks unexplained. Without this test a
  // nuclide that merely has a line near another's peak (Cs-134's 605 keV by
  // Bi-214's 609 keV, Ba-133's 356 keV by Pb-214's 352 keV at NaI
  // resolution) takes a share of it and is reported, and the nuclide whose
  // peaks it took reads low. The weakest evidence is tested first. A
  // nuclide alone in the X-ray region is held to the nuclides reported
  // before it.
  int gone = unneeded_nuclide(state, set);
  if (gone < 0) gone = explained_by_reported(state, set);
  if (gone >= 0) {
    diag.line(c_format("%s was removed: the other nuclides explain its peaks",
                       name_of(state, set.nuclides[gone]).c_str()));
    give_way(res, set.nuclides[gone]);
    for (int c = 0; c < n; ++c) res.accepted[set.nuclides[c]].marker = ' ';
    return false;
  }

  // Pass A and the negative check. A negative activity says that the
  // nuclides sharing its peaks cannot all be there; the one with the weakest
  // evidence goes (the fewest peaks; then the lowest confidence, i.e. the
  // smallest share of its lines found), which need not be the negative one:
  // a chain with many peaks must not give way to a nuclide whose single
  // line (confidence 1) lies near one of them.
  const Solution sa = solve_set(state, set, false);
  std::vector<bool> involved(n, false);
  bool any_negative = false;
  int negative = -1;
  for (int c = 0; c < n; ++c) {
    if (sa.activity[c] > 0 || !eligible(state, set, c)) continue;
    any_negative = true;
    if (negative < 0) negative = c;
    involved[c] = true;
    for (std::size_t r = 0; r < set.rows.size(); ++r) {
      if (!set.cell[r][c].used) continue;
      for (int k = 0; k < n; ++k)
        if (set.cell[r][k].used && eligible(state, set, k)) involved[k] = true;
    }
  }
  int choice = -1;
  int best_rows = 1000;
  double best_conf = 2;
  for (int c = 0; c < n && any_negative; ++c) {
    if (!involved[c]) continue;
    const double conf = res.accepted[set.nuclides[c]].confidence;
    const int rc = set.row_count(c);
    if (rc < best_rows || (rc == best_rows && conf < best_conf - 1e-9)) {
      choice = c;
      best_rows = rc;
      best_conf = conf;
    }
  }
  if (choice >= 0) {
    if (sa.activity[choice] > 0)
      diag.line(c_format("%s was removed: it shares peaks with %s, which had a negative activity",
                         name_of(state, set.nuclides[choice]).c_str(),
                         name_of(state, set.nuclides[negative]).c_str()));
    else
      diag.line(c_format("%s had a negative activity", name_of(state, set.nuclides[choice]).c_str()));
    give_way(res, set.nuclides[choice]);
    for (int c = 0; c < n; ++c) res.accepted[set.nuclides[c]].marker = ' ';
    return false;
  }

  // Pass B and the credibility pass.
  const Solution sb = solve_set(state, set, true);
  const double psig = peak_sigma(par);
  std::vector<double> activity(n), total(n);
  int worst = -1;
  double worst_t = 0;
  int lowest = -1;
  double lowest_a = 1;
  for (int c = 0; c < n; ++c) {
    const AcceptedNuclide& acc = res.accepted[set.nuclides[c]];
    double A = sb.activity[c];
    const bool uppk = par.principal_peak_only != 0;
    const int pr = acc.principal_peak != 0 ? set.row_of_peak(acc.principal_peak) : -1;
    const Cell* pc = pr >= 0 && set.cell[pr][c].used ? &set.cell[pr][c] : nullptr;
    if (uppk && pc) {
      bool shared_with_single = false;
      for (int k = 0; k < n; ++k)
        if (k != c && set.cell[pr][k].used && set.row_count(k) == 1) shared_with_single = true;
      if (shared_with_single) A = list.gps[acc.principal_peak] / pc->yield;
    }
    double r;
    if (uppk && pc) {
      const double R = list.gps[acc.principal_peak];
      const double a = (list.gps_pct[acc.principal_peak] / psig) * par.activity_sigma;
      const double f = R != 0 ? A * pc->yield / R : 0;
      const double yu = par.activity_sigma * pc->uncertainty / pc->yield;
      r = f > 0.01 ? std::sqrt(a * a * 0.0001 + yu * yu) / f : 1.0;
    } else {
      // When the activities come from several peaks and these scatter about
      // the solution more than their uncertainties allow (areas of
      // overlapping or weak lines, yields, or a nuclide named after peaks
      // that are not its own), the uncertainty grows with that scatter, in
      // the report and in the credibility check below.
      r = A != 0 ? par.activity_sigma * std::sqrt(std::fabs(sb.spread_variance[c])) / A : 1e6;
    }
    const double samu = h.sampling_uncertainty / 100.0;
    const double calu = par.include_calibration_uncertainty != 0
                            ? state.spectrum.calibration.uncertainty / 100.0
                            : 0.0;
    const double T = 100 * std::sqrt(samu * samu + calu * calu + r * r);
    activity[c] = A;
    total[c] = T;
    // One peak is all the evidence of a nuclide named after a single peak:
    // it must stand at three sigma, where a nuclide with several peaks has
    // the pattern of their energies besides.
    // A nuclide whose principal peak another nuclide shares must stand at
    // two sigma: below that it is a remainder of the other's peaks (Th-232
    // beside Eu-152, named after Eu-152's 244 keV line and a backscatter
    // bump).
    bool principal_shared = false;
    if (pr >= 0)
      for (int k = 0; k < n; ++k)
        if (k != c && set.cell[pr][k].used) principal_shared = true;
    double limit = par.max_activity_uncertainty;
    if (set.row_count(c) == 1) limit = std::min(limit, kSinglePeakMaxUncertainty);
    if (principal_shared) limit = std::min(limit, kSharedPrincipalMaxUncertainty);
    if (acc.readmitted) limit = std::min(limit, kSinglePeakMaxUncertainty);
    if (T > limit && (worst < 0 || T > worst_t) && !acc.library_driven) {
      worst = c;
      worst_t = T;
    }
    if (A < lowest_a) {
      lowest = c;
      lowest_a = A;
    }
  }
  if (worst >= 0) {
    act.line(c_format("Removed %s, Activity Uncertainty was:- %3.1f %%",
                      name_of(state, set.nuclides[worst]).c_str(), worst_t));
    act.empty();
    remove_nuclide(res, set.nuclides[worst]);
    readmit_explained(state, set.nuclides[worst], diag);
    return false;
  }
  if (lowest >= 0 && !(lowest_a > 0) && par.unconditional_library_peaks == 0) {
    if (n > 1)
      give_way(res, set.nuclides[lowest]);
    else
      remove_nuclide(res, set.nuclides[lowest]);
    return false;
  }
  // A nuclide whose principal peak is taken but which lacks a line that
  // should have shown well above its limit of determination (the check the
  // identification makes when the principal peak is missing) was named
  // after another nuclide's peak: remove it and solve again.
  const int lodc = par.lod_check_threshold;
  if (lodc >= 1 && lodc <= 50 && par.unconditional_library_peaks == 0) {
    int drop = -1;
    MissingLine worst_line;
    for (int c = 0; c < n; ++c) {
      const AcceptedNuclide& acc = res.accepted[set.nuclides[c]];
      if (acc.library_driven || !(activity[c] > 0)) continue;
      for (const MissingLine& m : missing_lines(state, set.nuclides[c], activity[c]))
        if (m.percent < lodc && (drop < 0 || m.percent < worst_line.percent)) {
          drop = c;
          worst_line = m;
        }
    }
    if (drop >= 0) {
      const std::string name = name_of(state, set.nuclides[drop]);
      act.line(c_format("Removed %s, No Peak at %6.1f keV.", name.c_str(), worst_line.energy));
      act.line(c_format("Limit of Determination was only %2.0f%% of Nuclide Activity.", worst_line.percent));
      act.empty();
      remove_nuclide(res, set.nuclides[drop]);
      return false;
    }
  }
  // The reported uncertainties carry the lines the peaks may or may not
  // hold; the credibility checks above weigh the counts' evidence alone,
  // so that what is named does not move with them.
  const std::vector<double> ambiguous = ambiguous_line_variances(state, set, activity);
  for (int c = 0; c < n; ++c) {
    double v = 0;
    for (std::size_t r = 0; r < set.rows.size(); ++r) v += sb.coeff[c][r] * sb.coeff[c][r] * ambiguous[r];
    const double f = activity[c] != 0 ? 100 * par.activity_sigma * std::sqrt(v) / std::fabs(activity[c]) : 0.0;
    if (std::isfinite(f) && f > 0) total[c] = std::sqrt(total[c] * total[c] + f * f);
  }
  report_set(state, set, activity, total, act);
  return true;
}


std::string four_chars(std::string s) {
  while (!s.empty() && (s.back() == '\0' || s.back() == ' ')) s.pop_back();
  return s.substr(0, 4);
}

}  // namespace

double decay_interval_minutes(const DateTime& sampled, const DateTime& collected) {
  const double days = static_cast<double>(day_number(collected.day, collected.month, collected.year) -
                                          day_number(sampled.day, sampled.month, sampled.year));
  return days * 1440 + (collected.hour * 60 + collected.minute) - (sampled.hour * 60 + sampled.minute);
}

double specific_activity(double activity, double sample_size, double correction_factor,
                         double activity_factor) {
  double s = activity;
  if (sample_size > 0) s /= sample_size;
  if (correction_factor > 0) s *= correction_factor;
  if (activity_factor > 0) s *= activity_factor;
  return s;
}

double decay_correct(double specific, double decay_interval, double half_life, double true_time) {
  if (!(half_life > 0)) return specific;
  double d = specific;
  const double b = decay_interval * 0.6931471 / half_life;
  if (b > 1e-20)
    d = specific * std::exp(b);
  else if (b < -1e-20)
    d = specific / std::exp(std::fabs(b));
  const double c = true_time * 0.6931471 / (half_life * 60);
  if (c > 1e-6) d = d * c / (1 - std::exp(-c));
  return d;
}

void report_title_line(ReportText& report, const std::string& heading) {
  report.empty();
  const int pad = (78 - static_cast<int>(heading.size())) / 2;
  report.line(std::string(std::max(pad, 0), ' ') + heading);
}

int run_nuclide_analysis(const NuclideSession& state) {
  Platform& ui = *state.ui;
  PeakList& list = state.peaks;
  const AnalysisParameters& par = state.params;
  const SpectrumHeader& h = state.spectrum.header;
  const CalibrationRecord& cal = state.spectrum.calibration;

  // Only a fully fitted peak list is analysed; the results start afresh.
  if (!list.fitted) {
    ui.message_box("Not all of the Peaks have been fitted yet");
    return 0;
  }
  ui.set_status("Calculating Activites...");
  const bool autocal = state.results.auto_calibration;
  state.results = NuclideResults{};
  NuclideResults& res = state.results;
  res.auto_calibration = autocal;
  res.tolerance_scale = tolerance_scale(state.flags.measured_resolution_ratio);

  // Decay interval, analysis range, units.
  res.decay_interval = decay_interval_minutes(h.sampled, h.collected);
  res.lower = channel_to_energy(cal, list.region.first_live);
  if (list.count > 0) res.lower = std::min(res.lower, peak_energy(state, 1));
  const int nch = state.spectrum.channels();
  res.upper = channel_to_energy(cal, par.search_stop > 0 ? std::min(static_cast<int>(par.search_stop), nch) : nch);
  res.activity_unit = par.activity_factor > 0 ? four_chars(to_string(par.activity_unit))
                                              : four_chars(to_string(h.units));
  res.quantity_unit = four_chars(to_string(h.units));
  // The spectrum carries no activity unit of its own: Bq per quantity.
  if (par.activity_factor <= 0) res.activity_unit = "Bq";
  // Without an efficiency the activities are count rates per emission: no
  // conversion factor applies and nothing claims becquerels.
  res.efficiency_calibrated = efficiency_calibrated(state.spectrum);
  if (!res.efficiency_calibrated) res.activity_unit = kUncalibratedUnit;
  refresh_peak_emission_rates(state);

  // Report headings.
  ReportText diag, act;
  diag.line(c_format("Diagnostic Report for Spectrum File:- %s ", state.flags.current_file.c_str()));
  diag.empty();
  report_title_line(act, kReportHeading);
  std::string header;
  if (state.headers.header("Activity Report.tpl", header)) {
    act.text += header;
  } else {
    act.line(c_format("\t           Activity Report for Spectrum File:- %s",
                      state.flags.current_file.c_str()));
    act.empty();
  }

  bool any_area = false;
  for (int k = 1; k <= list.count; ++k) any_area = any_area || list.net_area[k] > 0;
  // Library energies matched against channel numbers name nuclides at
  // random: without an energy calibration nothing is identified.
  res.energy_calibrated = term_count(cal.energy_terms) >= 2 && cal.energy[1] != 0;
  if (!res.energy_calibrated) {
    act.line(std::string(" ") + kUncalibratedEnergyNotice + ".");
    act.empty();
  } else if (list.count == 0) {
    act.line(std::string(20, ' ') + "No Significant Peaks were found.");
    act.empty();
  } else if (!any_area) {
    act.line("\t\t\t  All Peaks were removed by Background Subtraction.");
    act.empty();
  } else {
    // Identification.
    ui.set_status("Searching Library...");
    identify_nuclides(state, diag, act);

    // Every peak free again.
    for (int k = 1; k <= list.count; ++k) {
      res.peak_free[k] = 1;
      res.peak_sum[k] = 0;
    }

    // Interference sets, formed and solved one at a time.
    InterferenceSet set;
    for (int w = 1;; ++w) {
      ui.set_status(c_format("Forming Interference Set %d...", w));
      const FormResult f = form_set(res, set);
      if (f == FormResult::kTooBig) {
        ui.message_box("Reduce the Energy Tolerance and/or Confidence Value",
                       "The Interference Matrix is too Big", kMsgError);
        res.error = true;
        break;
      }
      if (f == FormResult::kNone) break;
      solve_and_report(state, set, diag, act);
      if (ui.abort_requested()) {
        state.flags.abort_requested = true;
        break;
      }
    }

    // Legends and notes, then the peaks no nuclide explains.
    if (res.any_principal) act.line(" P represents:- This is the Principal Peak.");
    if (res.library_not_wholly_considered) {
      act.line(" The Library was not wholly considered: too many Nuclides or Lines were identified.");
      act.empty();
    }
    if (res.results_full) {
      act.line(" Only the first 200 Nuclides are reported.");
      act.empty();
    }
    if (!res.error) state.unidentified.append_unidentified_peaks(act);
  }

  res.diagnostic_report = diag.text;
  res.activity_report = act.text;
  // Markers live in the results only; nothing to clear in the library.
  return 1;
}


}  // namespace kestrim
