#include "peaks/peak_region.h"

#include <gtest/gtest.h>

#include <cmath>

#include "app/state.h"
#include "peaks/fit_engine.h"
#include "peaks/peak_fixture.h"
#include "support/test_support.h"

namespace kestrim {
namespace {

using test::HandState;
using test::SimulatedState;

// Puts peaks at the given channels (significance 10, as inserted).
void put_peaks(State& st, const std::vector<int>& channels) {
  clear_peak_list(st);
  for (int c : channels) insert_peak(st, c);
  st.peaks.region = Region{};
  st.peaks.region.first_live = 2;
}

// Forms every region from peak 1 on and returns their peak counts.
std::vector<int> region_sizes(State& st) {
  std::vector<int> sizes;
  Region& r = st.peaks.region;
  r.first = 1;
  std::string message;
  while (r.first <= st.peaks.count) {
    EXPECT_EQ(form_region(st, message), 1) << message;
    EXPECT_GE(r.count, 1);
    EXPECT_LE(r.count, kMaxRegionPeaks);
    EXPECT_LT(r.end - r.start, kMaxRegionChannels);
    sizes.push_back(r.count);
    r.first += std::max(r.count, 1);
  }
  return sizes;
}

TEST(RegionGroupingTest, TwelveClosePeaksSplitAtTheirLargestGap) {
  // sigma 3, PKSF 6: neighbours closer than 18 channels join. Gaps of 8
  // channels with one of 12 after the sixth peak: the ten-peak group is cut
  // there, the rest forms the second region.
  HandState h(std::vector<double>(1024, 50), 3.0);
  std::vector<int> channels;
  for (int k = 0; k < 12; ++k) channels.push_back(200 + 8 * k + (k >= 6 ? 4 : 0));
  put_peaks(*h.state, channels);
  EXPECT_EQ(region_sizes(*h.state), (std::vector<int>{6, 6}));
}

TEST(RegionGroupingTest, GroupSpanningSevenHundredThirtyChannelsIsSplit) {
  // sigma 20, PKSF 8 (neighbours closer than 160 join; the gap limit for
  // six peaks is ((8 - 6) / 2 + 6) x 20 x 1.2 = 168): the +-4 sigma span
  // from 20 to 750 is 730 channels, + 20 = 750, not below 750, so the group
  // is cut at its largest gap (320 -> 445).
  HandState h(std::vector<double>(1024, 50), 20.0);
  h.state->params.peak_separation_factor = 8;
  put_peaks(*h.state, {100, 210, 320, 445, 555, 670});
  EXPECT_EQ(region_sizes(*h.state), (std::vector<int>{3, 3}));
  // One channel less and the group stays whole.
  put_peaks(*h.state, {100, 210, 320, 445, 555, 669});
  EXPECT_EQ(region_sizes(*h.state), (std::vector<int>{6}));
}

TEST(RegionBoundsTest, AutomaticBoundsNeverReachSevenHundredFiftyChannels) {
  HandState h(std::vector<double>(2048, 50), 150.0);
  put_peaks(*h.state, {1000});
  std::string message;
  ASSERT_EQ(form_region(*h.state, message), 1);
  const Region& r = h.state->peaks.region;
  EXPECT_EQ(r.end - r.start + 1, kMaxRegionChannels - 1);
  EXPECT_LT(r.start, 1000);
  EXPECT_GT(r.end, 1000);
}

TEST(RegionBoundsTest, StartAtLowestChannelBetweenNeighbouringRegions) {
  // sigma 4, PKSF 4: peaks 20 channels apart do not group (distance at
  // least 4 sigma = 16). The second region's start 120 - 11 falls below
  // 100 + 11, so it is the lowest count between 100 + 8 and 120 - 8, the
  // first of two equal minima.
  std::vector<double> counts(512, 50);
  counts[110] = 20;
  counts[111] = 20;
  HandState h(counts, 4.0);
  h.state->params.peak_separation_factor = 4;
  put_peaks(*h.state, {100, 120});
  h.state->peaks.region.first = 2;
  std::string message;
  ASSERT_EQ(form_region(*h.state, message), 1);
  EXPECT_EQ(h.state->peaks.region.start, 110);
  EXPECT_EQ(h.state->peaks.region.count, 1);
}

TEST(FormRegionTest, UserBoundsWithoutPeaksAreRefused) {
  HandState h(std::vector<double>(1024, 50), 4.0);
  put_peaks(*h.state, {100, 300});
  Region& r = h.state->peaks.region;
  r.first = 2;
  r.bounds_user = true;
  r.start = 150;
  r.end = 250;
  std::string message;
  EXPECT_EQ(form_region(*h.state, message), 0);
  EXPECT_EQ(message, "There are no Peaks in the new Region");
  EXPECT_FALSE(r.bounds_user);
  EXPECT_EQ(r.first, 2);
  EXPECT_TRUE(h.ui.messages.empty());
}

TEST(FormRegionTest, UserBoundsOverSevenHundredFiftyChannelsAreRefused) {
  HandState h(std::vector<double>(2048, 50), 4.0);
  put_peaks(*h.state, {500});
  Region& r = h.state->peaks.region;
  r.bounds_user = true;
  r.start = 100;
  r.end = 850;  // end - start = 750 > 749
  std::string message;
  EXPECT_EQ(form_region(*h.state, message), 0);
  EXPECT_EQ(message, "Can only have 750 channels in a Region");
  r.end = 849;
  EXPECT_EQ(form_region(*h.state, message), 1);
  EXPECT_EQ(r.count, 1);
  EXPECT_EQ(r.start, 100);
}

TEST(FormRegionTest, WidthCacheTakesCalibrationAndAuxWidthFactor) {
  SimOptions o;
  o.peaks = {{662, 10000, 0}};
  o.bg_constant = 20;
  SimulatedState s(o);
  test::TempDir dir;
  s.state->paths.working_dir = dir.path();
  s.state->params.use_aux_peaks = 1;
  assign(s.state->params.aux_peaks_file, "aux.txt");
  test::write_text(dir.file("aux.txt"), "662 1.5 -1 0 0\n");
  run_peak_search(*s.state);
  std::string message;
  s.state->peaks.region.first = 1;
  ASSERT_EQ(form_region(*s.state, message), 1);
  const Region& r = s.state->peaks.region;
  EXPECT_NEAR(r.cache_sigma[0], 1.5 * s.sim.truth[0].sigma, 0.02);
  EXPECT_NEAR(r.cache_tail[0], s.sim.truth[0].tail, 0.02);
  EXPECT_FLOAT_EQ(r.ref_sigma, r.cache_sigma[0]);
  EXPECT_EQ(r.largest_significance, s.state->peaks.significance[1]);
}

TEST(FormRegionTest, AuxStepLineGivesTheStepContinuum) {
  SimOptions o;
  o.peaks = {{609, 10000, 0}};
  o.bg_constant = 20;
  for (bool with_step : {false, true}) {
    SCOPED_TRACE(with_step);
    SimulatedState s(o);
    test::TempDir dir;
    s.state->paths.working_dir = dir.path();
    s.state->params.use_aux_peaks = 1;
    assign(s.state->params.aux_peaks_file, "aux.txt");
    test::write_text(dir.file("aux.txt"), with_step ? "609 step\n" : "1000 step\n");
    run_peak_search(*s.state);
    ASSERT_EQ(s.state->peaks.count, 1);
    std::string message;
    ASSERT_EQ(form_region(*s.state, message), 1);
    ASSERT_EQ(choose_continuum_and_fit(*s.state), 1);
    EXPECT_EQ(s.state->peaks.region.step, with_step);
  }
}

}  // namespace
}  // namespace kestrim
