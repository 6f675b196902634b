#include "peaks/region_driver.h"
#include "platform/c_locale.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "app/state.h"
#include "peaks/fit_engine.h"
#include "peaks/peak_fixture.h"
#include "peaks/peak_region.h"
#include "peaks/peak_search.h"
#include "settings/calibration_functions.h"
#include "support/test_support.h"

namespace kestrim {
namespace {

using test::HandState;
using test::SimulatedState;

// One noiseless NaI peak (3 keV per channel) on a flat continuum.
SimOptions one_peak(double energy, double area, double continuum = 200) {
  SimOptions o;
  o.channels = 1024;
  o.noise = false;
  o.bg_constant = continuum;
  o.peaks.push_back({energy, area, 0});
  return o;
}

// Prepares a simulated state for the driver: reports in `dir`, no database
// (batch), the new-peak search as chosen.
void prepare(State& st, const test::TempDir& dir, bool residual_search) {
  st.paths.working_dir = dir.path();
  st.app.batch_mode = true;
  st.app.working_residual_search = residual_search;
  st.params.max_peak_uncertainty = 1000;
}

int count_texts(const ScriptedPlatform& ui, const std::string& prefix) {
  int n = 0;
  for (const auto& m : ui.messages)
    if (m.text.rfind(prefix, 0) == 0) ++n;
  return n;
}

// The single peak at `energy` put in the list by hand, then every region fitted.
void fit_single(State& st, double energy) {
  clear_peak_list(st);
  insert_peak(st, static_cast<int>(std::lround(energy_to_channel(st.spectrum.calibration, energy))));
  st.peaks.ring = {};
  st.peaks.ring_next = 0;
  fit_all_remaining_peaks(st);
}

TEST(RegionDriver, CriticalLimitRemovesAWeakPeakAndKeepsOneJustAbove) {
  test::TempDir dir;
  // The limit sqrt(x) PSIG depends on the continuum under the peak, hardly on
  // the peak: learn it from a clear peak, then place areas on either side.
  double limit = 0;
  {
    SimulatedState s(one_peak(662, 3000));
    prepare(*s.state, dir, false);
    fit_single(*s.state, 662);
    ASSERT_EQ(s.state->peaks.count, 1);
    limit = s.state->fitting.critical_limit;
    ASSERT_GT(limit, 50);
  }
  {
    SimulatedState s(one_peak(662, 0.75 * limit));
    prepare(*s.state, dir, false);
    fit_single(*s.state, 662);
    EXPECT_EQ(s.state->peaks.count, 0) << "area below the critical limit is removed";
    EXPECT_TRUE(s.ui.messages.empty()) << "no prompt without the option";
    EXPECT_TRUE(s.state->peaks.fitted);
  }
  {
    SimulatedState s(one_peak(662, 1.3 * limit));
    prepare(*s.state, dir, false);
    fit_single(*s.state, 662);
    ASSERT_EQ(s.state->peaks.count, 1) << "area above the critical limit stays";
    EXPECT_GT(s.state->peaks.fitted_area[1], s.state->fitting.critical_limit);
    EXPECT_EQ(s.state->peaks.fitted_flag[1], 1);
  }
}

TEST(RegionDriver, RemovalPromptNamesTheReasonAndNoKeepsThePeak) {
  test::TempDir dir;
  SimulatedState s(one_peak(662, 60));
  prepare(*s.state, dir, false);
  s.state->params.prompt_remove_peaks = 1;
  s.ui.answers = {kAnswerNo};
  fit_single(*s.state, 662);
  ASSERT_EQ(s.ui.messages.size(), 1u);
  const double e = channel_to_energy(s.state->spectrum.calibration, s.state->peaks.centre[1]);
  char text[64];
  kestrim::c_snprintf(text, sizeof text, "Remove the Peak at %3.1f keV ?", e);
  EXPECT_EQ(s.ui.messages[0].text, text);
  EXPECT_EQ(s.ui.messages[0].caption, kReasonCritical);
  EXPECT_EQ(s.state->peaks.count, 1);
  EXPECT_EQ(s.state->peaks.fitted_flag[1], 1);
}

// Two listed peaks fitted together, with a weaker one between them (3
// sigma from each) that the list does not hold: the residuals reveal it.
SimOptions hidden_between() {
  SimOptions o = one_peak(560, 20000, 100);
  o.peaks.push_back({620, 10000, 0});
  o.peaks.push_back({680, 20000, 0});
  return o;
}

void fit_outer_pair(State& st, const SimSpectrum& sim) {
  st.params.peak_separation_factor = 10;  // the outer pair forms one region
  clear_peak_list(st);
  insert_peak(st, static_cast<int>(std::lround(sim.truth[0].centre)));
  insert_peak(st, static_cast<int>(std::lround(sim.truth[2].centre)));
  st.peaks.ring = {};
  st.peaks.ring_next = 0;
  fit_all_remaining_peaks(st);
}

TEST(RegionDriver, PeakHiddenInTheResidualsIsAdded) {
  test::TempDir dir;
  SimulatedState s(hidden_between());
  prepare(*s.state, dir, true);
  fit_outer_pair(*s.state, s.sim);
  ASSERT_EQ(s.state->peaks.count, 3);
  EXPECT_NEAR(s.state->peaks.centre[2], s.sim.truth[1].centre, 1.5);
  EXPECT_NEAR(s.state->peaks.fitted_area[2], 10000, 1000);
  for (int k = 1; k <= 3; ++k) EXPECT_EQ(s.state->peaks.fitted_flag[k], 1);
  EXPECT_EQ(s.state->peaks.fit_start[1], s.state->peaks.fit_start[3]) << "one region";
}

TEST(RegionDriver, RefusedChannelIsNotProposedAgainUntilTenOthersPassedTheRing) {
  test::TempDir dir;
  SimulatedState s(hidden_between());
  State& st = *s.state;
  prepare(st, dir, true);
  st.params.prompt_add_peaks = 1;
  s.ui.answers = {kAnswerNo, kAnswerNo, kAnswerNo};
  fit_outer_pair(st, s.sim);
  ASSERT_EQ(count_texts(s.ui, "Add a new Peak at "), 1);
  ASSERT_EQ(st.peaks.count, 2);
  EXPECT_EQ(s.ui.messages[0].caption, kReasonResidual);

  // Refit: the refused channel is still in the ring.
  st.peaks.fitted_flag[1] = st.peaks.fitted_flag[2] = 0;
  fit_all_remaining_peaks(st);
  EXPECT_EQ(count_texts(s.ui, "Add a new Peak at "), 1);

  // Nine more channels leave it in the ring; the tenth pushes it out.
  for (int i = 0; i < 9; ++i) {
    insert_peak(st, 900 + 5 * i);
    remove_peak(st, 900 + 5 * i);
  }
  st.peaks.fitted_flag[1] = st.peaks.fitted_flag[2] = 0;
  fit_all_remaining_peaks(st);
  EXPECT_EQ(count_texts(s.ui, "Add a new Peak at "), 1);
  insert_peak(st, 990);
  remove_peak(st, 990);
  st.peaks.fitted_flag[1] = st.peaks.fitted_flag[2] = 0;
  fit_all_remaining_peaks(st);
  EXPECT_EQ(count_texts(s.ui, "Add a new Peak at "), 2);
}

// Two Gaussians of sigma 5 where the calibration says 3 (the width may only
// change by 20 %), so the doublet fits badly, `gap` channels apart.
std::vector<double> bad_doublet(double gap) {
  std::vector<double> c(256, 50.0);
  for (int x = 0; x < 256; ++x)
    for (double p : {60.0, 60.0 + gap}) c[x] += 6000 * std::exp(-(x - p) * (x - p) / 50.0);
  return c;
}

TEST(RegionDriver, BadDoubletIsSplitOnlyAtAGapWiderThanEightSigma) {
  for (double gap : {33.0, 20.0}) {
    test::TempDir dir;
    HandState h(bad_doublet(gap), 3.0);
    State& st = *h.state;
    prepare(st, dir, false);
    st.params.peak_separation_factor = 15;  // group them whatever the gap
    clear_peak_list(st);
    insert_peak(st, 60);
    insert_peak(st, static_cast<int>(60 + gap));
    fit_all_remaining_peaks(st);
    ASSERT_EQ(st.peaks.count, 2) << gap;
    if (gap > 30) {
      EXPECT_LT(st.peaks.fit_end[1], st.peaks.centre[2]) << "split between the peaks";
      EXPECT_NE(st.peaks.fit_start[1], st.peaks.fit_start[2]);
    } else {
      EXPECT_EQ(st.peaks.fit_start[1], st.peaks.fit_start[2]) << "fitted together";
      EXPECT_GT(st.peaks.goodness[1], 10);
    }
  }
}

// Sets a region of peaks by hand for the removal test.
struct RemovalCase {
  HandState h{std::vector<double>(256, 100.0), 3.0};
  State& st = *h.state;
  RemovalCase(const std::vector<double>& centres, const std::vector<double>& areas, const std::vector<double>& pct) {
    clear_peak_list(st);
    PeakList& list = st.peaks;
    list.count = static_cast<int>(centres.size());
    for (int i = 0; i < list.count; ++i) {
      list.centre[i + 1] = static_cast<float>(centres[i]);
      list.fitted_area[i + 1] = static_cast<float>(areas[i]);
      list.fitted_area_pct[i + 1] = static_cast<float>(pct[i]);
    }
    list.region.first = 1;
    list.region.count = list.count;
    list.region.sigma[0] = 3;
    st.params.max_peak_uncertainty = 50;
    st.params.peak_sigma = 2;
  }
  int named(const char** reason) { return removal_candidate(st, reason); }
};

TEST(RegionDriver, RemovalRulesComeInOrder) {
  const char* reason = nullptr;
  {
    // Negative area wins over a too-near pair and a high uncertainty.
    RemovalCase c({50, 51, 80}, {1000, -20, -50}, {10, 90, 10});
    EXPECT_EQ(c.named(&reason), 3);
    EXPECT_STREQ(reason, kReasonNegative);
  }
  {
    // Too near: d = max(half of 2.355 x 3, 1.25) = 3.53; the smaller area
    // of the pair, the lower index on equal areas, the last pair winning.
    RemovalCase c({50, 52, 80, 83.5}, {500, 400, 300, 300}, {60, 10, 10, 10});
    EXPECT_EQ(c.named(&reason), 3);
    EXPECT_STREQ(reason, kReasonTooNear);
    RemovalCase apart({50, 53.54}, {500, 400}, {10, 10});
    EXPECT_EQ(apart.named(&reason), 0) << "a gap of d is not too near";
  }
  {
    // High uncertainty: the largest above MAXP, the first on ties.
    RemovalCase c({50, 80, 110}, {500, 400, 300}, {60, 70, 70});
    EXPECT_EQ(c.named(&reason), 2);
    EXPECT_STREQ(reason, kReasonUncertain);
    RemovalCase at_limit({50}, {500}, {50});
    EXPECT_EQ(at_limit.named(&reason), 0) << "MAXP itself is allowed";
  }
  {
    // Critical limit: sigma = area x pct / 100 / PSIG; x = sigma^2 - area;
    // L = sqrt(x) PSIG. Area 100 at 40 % (PSIG 2): sigma 20, x 300,
    // L = 34.6: kept. Area 30 at 40 %: sigma 6, x 6, L = 4.9: kept.
    // Area 30 at 100 % ... above MAXP 50, so MAXP is raised first.
    RemovalCase c({50, 80}, {100, 30}, {40, 48});
    EXPECT_EQ(c.named(&reason), 0);
    c.st.params.max_peak_uncertainty = 500;
    c.st.peaks.fitted_area_pct[2] = 400;  // sigma 60, x 3570, L 119.5 > 30
    EXPECT_EQ(c.named(&reason), 2);
    EXPECT_STREQ(reason, kReasonCritical);
    EXPECT_NEAR(c.st.fitting.critical_limit, std::sqrt(3570.0) * 2, 1e-3);
  }
}

TEST(RegionDriver, AreaBySummationOnAStraightContinuum) {
  // Continuum 100 + 2x counts; a block of 1000 counts inside the window.
  std::vector<double> c(256);
  for (int x = 0; x < 256; ++x) c[x] = 100 + 2 * x;
  for (int x = 100; x <= 104; ++x) c[x] += 200;
  HandState h(c, 3.0);
  State& st = *h.state;
  clear_peak_list(st);
  PeakList& list = st.peaks;
  list.count = 1;
  list.centre[1] = 102;
  list.window_start[1] = 98;
  list.window_end[1] = 106;
  list.region.first = 1;
  list.region.count = 1;
  list.region.start = 80;
  list.region.end = 124;
  st.params.peak_sigma = 1;
  const double var = area_by_summation(st, 1);
  // Window 98..106 (9 channels), background 36 channels.
  double b = 0, g = 0;
  for (int x = 98; x <= 106; ++x) {
    b += 100 + 2 * x;
    g += c[x];
  }
  EXPECT_NEAR(list.fitted_area[1], 1000, 1e-3);
  EXPECT_NEAR(var, b * (9.0 / 36 + 1), 1e-3);
  EXPECT_NEAR(list.fitted_area_pct[1], 100 * std::sqrt(g + b * 9.0 / 36) / 1000, 1e-4);
  EXPECT_EQ(list.region.chi2, 0);
}

TEST(RegionDriver, SummationOnATwoPeakRegionIsIgnored) {
  test::TempDir dir;
  SimOptions o = one_peak(600, 20000, 100);
  o.peaks.push_back({700, 20000, 0});
  SimulatedState s(o);
  State& st = *s.state;
  prepare(st, dir, false);
  clear_peak_list(st);
  insert_peak(st, 200);
  insert_peak(st, static_cast<int>(std::lround(s.sim.truth[1].centre)));
  st.peaks.region.first = 1;
  st.fitting.summation = true;
  ASSERT_EQ(fit_region(st, true), 1);
  ASSERT_EQ(st.peaks.region.count, 2);
  EXPECT_FALSE(st.fitting.summation_used);
  EXPECT_NEAR(st.peaks.fitted_area[1], 20000, 600);
  EXPECT_GT(st.peaks.region.chi2, 0) << "fitted, not summed";
}

TEST(RegionDriver, ContinuumCommandsForceAndReleaseTheChoice) {
  test::TempDir dir;
  SimulatedState s(one_peak(662, 20000));
  State& st = *s.state;
  prepare(st, dir, false);
  fit_single(st, 662);
  Region& r = st.peaks.region;
  r.first = 1;
  use_linear_continuum(st);
  EXPECT_TRUE(r.continuum_forced);
  EXPECT_EQ(r.terms, 2);
  EXPECT_EQ(st.peaks.region_choice[1], 2);
  use_step_continuum(st);
  EXPECT_TRUE(r.step);
  EXPECT_EQ(st.peaks.region_choice[1], 1);
  use_step_continuum(st);  // chosen again: released
  EXPECT_FALSE(r.continuum_forced);
  EXPECT_FALSE(r.step_requested);
  use_nonlinear_continuum(st);
  EXPECT_EQ(r.terms, 3);
  use_nonlinear_continuum(st);
  EXPECT_FALSE(r.continuum_forced);
}

TEST(RegionDriver, InteractiveFitWithoutShapeCalibrationNeedsTheExpandRange) {
  test::TempDir dir;
  SimulatedState s(one_peak(662, 20000));
  State& st = *s.state;
  prepare(st, dir, false);
  st.spectrum.calibration.width_terms = 0;
  clear_peak_list(st);
  insert_peak(st, 221);
  st.peaks.region.first = 1;
  EXPECT_EQ(fit_region(st, false), 0);
  EXPECT_TRUE(s.ui.said(kExpandNeeded));
  st.fitting.expand_start = 300;
  st.fitting.expand_end = 400;
  EXPECT_EQ(fit_region(st, false), 0);
  EXPECT_TRUE(s.ui.said(kExpandNotContaining));
  // A range around the peak: width from the 70 % points of each side.
  st.fitting.expand_start = 190;
  st.fitting.expand_end = 250;
  ASSERT_EQ(expand_estimate(st, 1), 1);
  const double sigma = s.sim.truth[0].sigma;
  EXPECT_NEAR(st.peaks.region.cache_sigma[0], sigma * 0.85, 0.3 * sigma);
  EXPECT_FLOAT_EQ(st.peaks.region.cache_tail[0], 2 * st.peaks.region.cache_sigma[0]);
  EXPECT_EQ(st.peaks.region.prev_count, -1);
  EXPECT_EQ(fit_region(st, false), 1);
}

TEST(RegionDriver, AbortEndsTheLoopAndKeepsFittedRegions) {
  test::TempDir dir;
  SimulatedState s(example_nai_options(1024, 3));
  State& st = *s.state;
  prepare(st, dir, false);
  run_peak_search(st);
  ASSERT_GT(st.peaks.count, 6);
  s.ui.abort_after_polls = 0;
  EXPECT_EQ(fit_all_remaining_peaks(st), 0);
  EXPECT_FALSE(st.peaks.fitted);
  EXPECT_EQ(st.peaks.fitted_flag[1], 1) << "the first region finished";
  EXPECT_EQ(st.peaks.fitted_flag[st.peaks.count], 0);
}

TEST(RegionDriver, PauseWaitsInQuarterSecondsUntilTheDelay) {
  test::TempDir dir;
  SimulatedState s(one_peak(662, 20000));
  State& st = *s.state;
  prepare(st, dir, false);
  st.app.display_on = true;
  st.params.pause_after_region = 1;
  st.params.fitting_delay_ms = 600;
  fit_single(st, 662);
  EXPECT_EQ(s.ui.waits, (std::vector<int>{250, 250, 250}));
  EXPECT_NE(std::find(s.ui.statuses.begin(), s.ui.statuses.end(), "Pausing, Press any key to continue..."),
            s.ui.statuses.end());
}

}  // namespace
}  // namespace kestrim
