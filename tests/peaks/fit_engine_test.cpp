#include "peaks/fit_engine.h"

#include <gtest/gtest.h>

#include <cmath>

#include "app/state.h"
#include "peaks/peak_fixture.h"
#include "peaks/peak_model.h"
#include "peaks/peak_region.h"
#include "peaks/peak_report_json.h"

namespace kestrim {
namespace {

using test::HandState;
using test::SimulatedState;

// Sets the region by hand: peaks at `positions` (also put in the list),
// sigma and tail fixed, bounds start..end, `terms` continuum terms.
void set_region(State& st, const std::vector<double>& positions, double sigma, int start, int end,
                int terms, bool step = false) {
  clear_peak_list(st);
  PeakList& list = st.peaks;
  Region& r = list.region;
  list.count = static_cast<int>(positions.size());
  for (int i = 0; i < list.count; ++i) {
    list.centre[i + 1] = static_cast<float>(positions[i]);
    list.centre_channel[i + 1] = static_cast<int>(std::lround(positions[i]));
    list.significance[i + 1] = 50;
    r.pos[i] = positions[i];
    r.sigma[i] = r.cache_sigma[i] = static_cast<float>(sigma);
    r.tail[i] = r.cache_tail[i] = static_cast<float>(1.75 * sigma);
    r.pos_lo[i] = positions[i] - 2 * sigma;
    r.pos_hi[i] = positions[i] + 2 * sigma;
  }
  r.first = 1;
  r.count = list.count;
  r.last = list.count;
  r.start = start;
  r.end = end;
  r.terms = terms;
  r.step = step;
  r.ref_sigma = static_cast<float>(sigma);
  r.ref_tail = static_cast<float>(1.75 * sigma);
  r.largest_significance = 50;
  r.first_live = 2;
}

double gauss(double x, double c, double s) { return std::exp(-(x - c) * (x - c) / (2 * s * s)); }

TEST(PeakModelTest, TailJoinsGaussianSmoothly) {
  const double p = 100, s = 4, t = 6;
  // Value and slope match at d = -t.
  double eps = 1e-6;
  EXPECT_NEAR(peak_shape(p - t - eps, p, s, t, 1e9), peak_shape(p - t + eps, p, s, t, 1e9), 1e-6);
  double left = (peak_shape(p - t - eps, p, s, t, 1e9) - peak_shape(p - t - 3 * eps, p, s, t, 1e9)) / (2 * eps);
  double right = (peak_shape(p - t + 3 * eps, p, s, t, 1e9) - peak_shape(p - t + eps, p, s, t, 1e9)) / (2 * eps);
  EXPECT_NEAR(left, right, 1e-4);
  // The tail falls more slowly than the Gaussian far out.
  EXPECT_GT(peak_shape(p - 20, p, s, t, 1e9), gauss(p - 20, p, s));
  EXPECT_EQ(peak_shape(p + 41, p, s, t, 40), kShapeFloor);
  EXPECT_EQ(peak_shape_for_area(p + 40, p, s, t), 0);
  EXPECT_GT(peak_shape_for_area(p + 39.9, p, s, t), 0);
}

TEST(LinearFitTest, NoiselessPeakOnLinearContinuumIsExact) {
  // 500 x shape + 30 + 0.2 (x - 100): the linear fit with the true shape
  // returns the true height and continuum and a zero chi-squared.
  std::vector<double> counts(256, 0);
  for (int x = 2; x < 256; ++x) counts[x] = 30 + 0.2 * (x - 100) + 500 * peak_shape(x, 100, 4, 7, 1e9);
  HandState h(counts, 4.0);
  set_region(*h.state, {100}, 4.0, 70, 130, 2);
  h.state->peaks.region.tail[0] = 7;
  ASSERT_EQ(fit_region_linear(*h.state, false), 1);
  const Region& r = h.state->peaks.region;
  // float counts: 1e-4 relative.
  EXPECT_NEAR(r.height[0], 500, 0.05);
  EXPECT_NEAR(r.coeff[0], 30, 0.01);  // x0 = (70 + 130) / 2 = 100
  EXPECT_NEAR(r.coeff[1], 0.2, 1e-4);
  EXPECT_NEAR(r.chi2, 0, 1e-4);
}

TEST(LinearFitTest, ZeroCountChannelsAreFittedAsOneTenth) {
  // All counts zero: every channel is taken as 0.1 with weight limited to 1,
  // so the constant continuum is 0.1 and the height 0.
  HandState h(std::vector<double>(256, 0), 4.0);
  set_region(*h.state, {100}, 4.0, 80, 120, 1);
  ASSERT_EQ(fit_region_linear(*h.state, false), 1);
  const Region& r = h.state->peaks.region;
  EXPECT_NEAR(r.coeff[0], 0.1, 1e-9);
  EXPECT_NEAR(r.height[0], 0, 1e-9);
  EXPECT_TRUE(std::isfinite(r.chi2));
}

TEST(LinearFitTest, StepContinuumIsFlatBeyondTwoAndAHalfSigma) {
  // A smoothed step from 50 to 150 around channel 100 and a peak there.
  std::vector<double> counts(256, 0);
  for (int x = 2; x < 256; ++x)
    counts[x] = 100 + 50 * std::erf((x - 100) / 6.0) + 1000 * peak_shape(x, 100, 4, 7, 1e9);
  HandState h(counts, 4.0);
  set_region(*h.state, {100}, 4.0, 60, 140, 2, true);
  ASSERT_EQ(fit_region_linear(*h.state, false), 1);
  State& st = *h.state;
  // 2.5 sigma1 = 10 channels from x0 = 100.
  EXPECT_DOUBLE_EQ(region_continuum(st, 110), region_continuum(st, 140));
  EXPECT_DOUBLE_EQ(region_continuum(st, 90), region_continuum(st, 60));
  EXPECT_LT(region_continuum(st, 90), region_continuum(st, 95));
  EXPECT_LT(region_continuum(st, 105), region_continuum(st, 110));
  EXPECT_NEAR(region_continuum(st, 130) - region_continuum(st, 70), 100, 5);
}

TEST(LinearFitTest, SingularSystemIsAFailedFitWithoutNaN) {
  // Two peaks at the same place make the normal matrix singular.
  SimOptions o;
  o.peaks = {{662, 10000, 0}};
  o.bg_constant = 50;
  SimulatedState s(o);
  State& st = *s.state;
  double c = s.sim.truth[0].centre, sg = s.sim.truth[0].sigma;
  set_region(st, {c, c}, sg, static_cast<int>(c - 25), static_cast<int>(c + 25), 2);
  EXPECT_EQ(fit_region_linear(st, false), 0);
  EXPECT_TRUE(st.peaks.region.failed);
  EXPECT_EQ(fit_region_completely(st), 0);
  for (int k = 1; k <= 2; ++k) {
    EXPECT_EQ(st.peaks.fitted_area[k], 0);
    EXPECT_EQ(st.peaks.fitted_area_pct[k], 0);
  }
  EXPECT_EQ(st.peaks.region.area[0], 0);
}

TEST(PositionIterationTest, NegativeHeightStopsTheIteration) {
  // A real peak at 100 and a dip at 118 fitted as a second peak: its height
  // is negative, so the first round is undone and the iteration ends.
  std::vector<double> counts(256, 0);
  for (int x = 2; x < 256; ++x) counts[x] = 200 + 2000 * gauss(x, 101, 4) - 120 * gauss(x, 118, 4);
  HandState h(counts, 4.0);
  State& st = *h.state;
  set_region(st, {100, 118}, 4.0, 80, 135, 2);
  ASSERT_EQ(fit_region_linear(st, false), 1);
  ASSERT_LT(st.peaks.region.height[1], 0);
  position_iteration(st);
  EXPECT_DOUBLE_EQ(st.peaks.region.pos[0], 100);
  EXPECT_DOUBLE_EQ(st.peaks.region.pos[1], 118);
  EXPECT_EQ(st.peaks.centre[1], 100);

  // Without the dip the iteration moves the first peak towards 101.
  for (int x = 2; x < 256; ++x) st.spectrum.counts[x] = static_cast<float>(200 + 2000 * gauss(x, 101, 4));
  set_region(st, {100}, 4.0, 80, 120, 2);
  ASSERT_EQ(fit_region_linear(st, false), 1);
  position_iteration(st);
  EXPECT_GT(st.peaks.centre[1], 100.3f);
}

TEST(FitRegionTest, NegativeHeightSplitsRegionAtLargestGap) {
  // The dip 5 sigma above the peak is grouped with it (PKSF 6) but fits a
  // negative height: the region is cut at the midpoint of the gap.
  std::vector<double> counts(512, 0);
  for (int x = 2; x < 512; ++x) counts[x] = 200 + 3000 * gauss(x, 200, 4) - 150 * gauss(x, 220, 4);
  HandState h(counts, 4.0);
  State& st = *h.state;
  clear_peak_list(st);
  insert_peak(st, 200);
  insert_peak(st, 220);
  st.peaks.region = Region{};
  st.peaks.region.first_live = 2;
  std::string message;
  ASSERT_EQ(form_region(st, message), 1);
  ASSERT_EQ(st.peaks.region.count, 2);
  ASSERT_EQ(choose_continuum_and_fit(st), 1);
  EXPECT_EQ(st.peaks.region.count, 1);
  EXPECT_LE(st.peaks.region.end, 215);
  EXPECT_GT(st.peaks.region.area[0], 0);
}

TEST(FitRegionTest, NoiselessSinglePeakGivesTruth) {
  SimOptions o;
  o.noise = false;
  o.peaks = {{662, 10000, 0}};
  o.bg_constant = 40;
  o.bg_slope = -0.02;
  SimulatedState s(o);
  ASSERT_EQ(search_and_fit_all(*s.state), 1);
  const PeakList& list = s.state->peaks;
  ASSERT_EQ(list.count, 1);
  // The area sums the shape over the region only; the tail beyond the
  // region start holds about 0.2 % of the peak.
  EXPECT_NEAR(list.net_area[1], 10000, 40);
  EXPECT_NEAR(list.centre[1], s.sim.truth[0].centre, 0.02);
  EXPECT_NEAR(list.fwhm_kev[1], s.sim.truth[0].fwhm_kev, 0.01 * s.sim.truth[0].fwhm_kev);
  EXPECT_LT(list.goodness[1], 0.01);
}

// Counts the position-iteration status lines of one complete doublet fit
// (shown for multiplets while a prompt option is on).
int iteration_statuses(const std::vector<double>& counts) {
  HandState h(counts, 4.0);
  State& st = *h.state;
  st.params.prompt_add_peaks = 1;
  clear_peak_list(st);
  insert_peak(st, 100);
  insert_peak(st, 116);
  st.peaks.region = Region{};
  st.peaks.region.first_live = 2;
  std::string message;
  EXPECT_EQ(form_region(st, message), 1);
  EXPECT_EQ(st.peaks.region.count, 2);
  h.ui.statuses.clear();
  EXPECT_EQ(fit_region_completely(st), 1);
  int n = 0;
  for (const std::string& s : h.ui.statuses)
    if (s.rfind("Iterative Fitting, ChiSquared is ", 0) == 0) ++n;
  return n;
}

TEST(FitRegionTest, ChiSquaredBelowOnePointTwoIsNotIteratedFurther) {
  // The same doublet drawn with the model's shape (chi-squared ~ 0) and as
  // two boxes the model cannot follow (chi-squared far above 1.2): only the
  // second goes through the extra chi-squared iterations.
  std::vector<double> good(256, 50), boxes(256, 50);
  for (int x = 2; x < 256; ++x) {
    good[x] += 800 * peak_shape(x, 100, 4, 7, 1e9) + 800 * peak_shape(x, 116, 4, 7, 1e9);
    if (std::abs(x - 100) <= 4 || std::abs(x - 116) <= 4) boxes[x] += 800;
  }
  // One iterate call runs the position iteration twice (before and after
  // the shape iteration); the well-fitted doublet needs no extension or
  // trimming, so it gets exactly that one call.
  int calm = iteration_statuses(good);
  int busy = iteration_statuses(boxes);
  EXPECT_EQ(calm, 2);
  EXPECT_GT(busy, calm);
}

struct Coverage {
  int found = 0, within3 = 0, nan = 0;
  double sum_area = 0, max_centre_error = 0, sum_fwhm = 0;
};

// Fits `seeds` spectra and collects how the peak nearest the truth fares.
Coverage fit_many(SimOptions o, int seeds, int peak_index_in_truth = 0) {
  Coverage c;
  for (int seed = 1; seed <= seeds; ++seed) {
    o.seed = static_cast<std::uint64_t>(seed);
    SimulatedState s(o);
    search_and_fit_all(*s.state);
    const PeakList& list = s.state->peaks;
    const SimPeakTruth& t = s.sim.truth[peak_index_in_truth];
    int best = 0;
    for (int k = 1; k <= list.count; ++k) {
      if (!std::isfinite(list.net_area[k]) || !std::isfinite(list.net_area_pct[k])) ++c.nan;
      if (std::fabs(list.centre[k] - t.centre) < t.sigma &&
          (best == 0 || std::fabs(list.centre[k] - t.centre) < std::fabs(list.centre[best] - t.centre)))
        best = k;
    }
    if (best == 0) continue;
    ++c.found;
    double area = list.net_area[best];
    double unc = list.net_area_pct[best] / 100 / s.state->params.peak_sigma * area;
    if (std::fabs(area - t.area) <= 3 * unc) ++c.within3;
    c.sum_area += area;
    c.sum_fwhm += list.fwhm_kev[best];
    c.max_centre_error = std::max(c.max_centre_error, std::fabs(list.centre[best] - t.centre));
  }
  return c;
}

SimOptions isolated(double area) {
  SimOptions o;
  o.peaks = {{662, area, 0}};
  o.bg_constant = 100;  // counts per channel, falling linearly
  o.bg_slope = -0.05;
  return o;
}

// 200 seeds: the fitted area lies within 3 reported uncertainties of the
// truth in at least 95 % of them and the mean within 2 %. The mean of 200
// fits of 1000 counts has a standard error of about 0.8 %.
TEST(FitAccuracyTest, ThousandCountPeakOnContinuum) {
  Coverage c = fit_many(isolated(1000), 200);
  EXPECT_EQ(c.nan, 0);
  ASSERT_GE(c.found, 190);
  EXPECT_GE(c.within3, 0.95 * c.found);
  EXPECT_NEAR(c.sum_area / c.found, 1000, 20);
}

TEST(FitAccuracyTest, TenThousandCountPeakOnContinuum) {
  Coverage c = fit_many(isolated(10000), 200);
  EXPECT_EQ(c.nan, 0);
  ASSERT_EQ(c.found, 200);
  EXPECT_GE(c.within3, 190);
  EXPECT_NEAR(c.sum_area / c.found, 10000, 200);
  // Centroid: statistical spread sigma / sqrt(N) = 0.07 channel.
  EXPECT_LT(c.max_centre_error, 0.3);
  // FWHM within 3 % on average (true 46.3 keV).
  EXPECT_NEAR(c.sum_fwhm / c.found, 0.07 * 662, 0.03 * 0.07 * 662);
}

TEST(FitAccuracyTest, DoubletOnePointFiveFwhmApartFittedAsTwo) {
  SimOptions o;
  const double e1 = 600, fwhm = 0.07 * 662 * std::sqrt(e1 / 662);
  o.peaks = {{e1, 8000, 0}, {e1 + 1.5 * fwhm, 8000, 0}};
  o.bg_constant = 60;
  double sum = 0;
  int fits = 0;
  for (int seed = 1; seed <= 20; ++seed) {
    o.seed = static_cast<std::uint64_t>(seed);
    SimulatedState s(o);
    search_and_fit_all(*s.state);
    const PeakList& list = s.state->peaks;
    ASSERT_EQ(list.count, 2) << "seed " << seed;
    EXPECT_NEAR(list.centre[1], s.sim.truth[0].centre, 1.0);
    EXPECT_NEAR(list.centre[2], s.sim.truth[1].centre, 1.0);
    EXPECT_EQ(list.fit_start[1], list.fit_start[2]);  // one region
    sum += list.net_area[1] + list.net_area[2];
    ++fits;
  }
  EXPECT_NEAR(sum / fits, 16000, 0.03 * 16000);
}

TEST(FitAccuracyTest, WeakPeaksNearDetectionLimitNeverGiveNaN) {
  SimOptions o = isolated(250);
  Coverage c = fit_many(o, 50);
  EXPECT_EQ(c.nan, 0);
  if (c.found > 0) {
    EXPECT_GE(c.within3, 0.9 * c.found);
  }
}

TEST(FitAccuracyTest, PeakOnSteepContinuum) {
  // 5000 counts at 662 keV where the continuum falls from about 2300 to
  // 1200 counts per channel across the region (7 % per sigma). A single
  // peak is fitted with a linear continuum, so the continuum is straight
  // here: a strongly curved one (an exponential falling by e every 100 keV)
  // biases a single-peak area low, which is the model's known limit.
  SimOptions o;
  o.peaks = {{662, 5000, 0}};
  o.bg_constant = 7000;
  o.bg_slope = -24;
  Coverage c = fit_many(o, 50);
  EXPECT_EQ(c.nan, 0);
  ASSERT_GE(c.found, 45);
  EXPECT_GE(c.within3, 0.9 * c.found);
  EXPECT_NEAR(c.sum_area / c.found, 5000, 0.05 * 5000);
}

TEST(PeaksJsonTest, FieldsAndUncertaintyAtPsig) {
  SimOptions o = isolated(10000);
  SimulatedState s(o);
  s.state->params.peak_sigma = 2;
  search_and_fit_all(*s.state);
  nlohmann::json j = peaks_json(*s.state);
  ASSERT_EQ(j["peaks"].size(), 1u);
  const nlohmann::json& p = j["peaks"][0];
  EXPECT_EQ(p["index"], 1);
  EXPECT_NEAR(p["energy"].get<double>(), 662, 1);
  double area = p["area"], abs = p["area_uncertainty"], pct = p["area_uncertainty_percent"];
  EXPECT_NEAR(pct, 2 * 100 * abs / area, 1e-3);
  EXPECT_GT(abs, std::sqrt(10000.0));  // at least the peak's own Poisson noise
  EXPECT_NEAR(p["gammas_per_second"].get<double>(), area / 1000, 1e-3);
  EXPECT_LT(p["region_start"].get<int>(), p["centre"].get<double>());
  EXPECT_GT(p["region_end"].get<int>(), p["centre"].get<double>());
  for (const char* key : {"fwhm", "significance", "chi_squared"}) EXPECT_TRUE(p.contains(key)) << key;
}

}  // namespace
}  // namespace kestrim
