// Limits of detection: the five formulas, the background estimate and the
// LOD section with its diagnostic file.
#include <gtest/gtest.h>

#include <cmath>

#include "nuclides/lod.h"
#include "nuclides/quant_common.h"
#include "nuclides/results.h"
#include "platform/c_format.h"
#include "quant_fixture.h"

namespace kestrim {
namespace {

TEST(LimitCounts, CriticalLimitOfTheExample) {
  // 1.645 x sqrt(100) = 16.45 counts.
  EXPECT_NEAR(limit_counts(kLodCritical, 100, 0, 1.645, 10), 16.45, 1e-12);
}

TEST(LimitCounts, MinimumDetectable) {
  EXPECT_NEAR(limit_counts(kLodMinimumDetectable, 100, 0, 1.645, 10), 1.645 * 1.645 + 32.9, 1e-12);
}

TEST(LimitCounts, UpperLimitUsesThePeakOnlyWhenPositive) {
  EXPECT_NEAR(limit_counts(kLodUpperLimit, 100, 50, 2, 10), 50 + 2 * std::sqrt(150.0), 1e-12);
  EXPECT_NEAR(limit_counts(kLodUpperLimit, 100, -5, 2, 10), 20, 1e-12);
}

TEST(LimitCounts, DeterminationWithoutBackgroundIsG) {
  // g = (k / e)^2 with e = MAXP / 100: the counts at which the relative
  // uncertainty k / sqrt(N) reaches 10 %.
  const double g = (1.645 / 0.1) * (1.645 / 0.1);
  EXPECT_NEAR(limit_counts(kLodDetermination, 0, 0, 1.645, 10), g, 1e-9);
  EXPECT_NEAR(limit_counts(kLodMaximumSample, 0, 0, 1.645, 10), g * 1.1, 1e-9);
  // With background: N = g/2 (1 + sqrt(1 + 4B/g)) solves N^2 = g (N + B).
  const double n = limit_counts(kLodDetermination, 400, 0, 1.645, 10);
  EXPECT_NEAR(n * n, g * (n + 400), 1e-6 * n * n);
}

TEST(LimitCounts, OtherTypesAndNoMaximumGiveZero) {
  EXPECT_EQ(limit_counts(0, 100, 0, 1.645, 10), 0);
  EXPECT_EQ(limit_counts(6, 100, 0, 1.645, 10), 0);
  EXPECT_EQ(limit_counts(kLodDetermination, 100, 0, 1.645, 0), 0);
  EXPECT_STREQ(lod_type_name(4), "Limit of Determination");
  EXPECT_STREQ(lod_type_name(0), "");
}

TEST(BackgroundCounts, FlatSpectrumWithoutPeaks) {
  test::QuantState q(10);
  // sigma 3: A = 18.015, H = 10.5, G = 2/3 of ENDC 10 = 6 (integer).
  // Region trunc(1000 - 16.5) .. trunc(1000 + 16.5) = 983 .. 1016, n = 34.
  ReportText diag;
  BackgroundCounts b = background_counts(*q.state, 1000, false, false, &diag);
  EXPECT_EQ(b.region_start, 983);
  EXPECT_EQ(b.region_end, 1016);
  EXPECT_EQ(b.channels, 34);
  const double A = 6.005 * 3;
  EXPECT_NEAR(b.counts, 10 * A * (1 + A / (34 - 10.5)), 1e-9);
  EXPECT_TRUE(test::has_line(diag.text, std::string(36, ' ') +
                                            " 983.0    1016.0     318  ( n=18, 2m=24 )"));
}

TEST(BackgroundCounts, BackgroundFilePeakInsideTheToleranceAddsItsCounts) {
  test::QuantState q(10);
  const double plain = background_counts(*q.state, 1000, false, false, nullptr).counts;
  q.state->params.background_cps_subtraction = 1;
  BackgroundRecord& bg = q.state->background;
  bg.count = 3;
  // Outside the open window, then two inside: the first inside counts.
  const double t = nuclide_tolerance(q.state->params, 1000, NuclideResults{});
  bg.energy = {static_cast<float>(1000 - t), static_cast<float>(1000 + 0.5 * t), 1000};
  bg.rate = {5, 0.25f, 9};
  ReportText diag;
  const BackgroundCounts b = background_counts(*q.state, 1000, false, false, &diag);
  const double live = q.state->spectrum.header.live_time;
  EXPECT_NEAR(b.counts, plain + 0.25 * live, 1e-6 * plain);
  EXPECT_TRUE(test::has_line(diag.text, c_format(" Bkg. Peak found at:- %6.1f, Bkg. LOD Counts:-  %ld",
                                                 static_cast<double>(bg.energy[1]),
                                                 static_cast<long>(0.25 * live))));
  // With subtraction off the background file is not used.
  q.state->params.background_cps_subtraction = 0;
  EXPECT_NEAR(background_counts(*q.state, 1000, false, false, nullptr).counts, plain, 1e-9);
}

TEST(BackgroundCounts, NeighbourWithinTheSpanNarrowsTheRegion) {
  test::QuantState q(10);
  q.add_peak(1010, 500);
  BackgroundCounts b = background_counts(*q.state, 1000, false, false, nullptr);
  EXPECT_EQ(b.region_start, 989);  // 1000 -+ 10.5
  EXPECT_EQ(b.region_end, 1010);
  const double A = 6.005 * 3;
  EXPECT_NEAR(b.counts, 10 * A * (1 + A / (22 - 10.5)), 1e-9);
}

TEST(BackgroundCounts, FoundPeakIsTakenOffTheSum) {
  test::QuantState q(10);
  const int k = q.add_peak(1000, 200);
  BackgroundCounts with = background_counts(*q.state, 1000, true, false, nullptr);
  BackgroundCounts without = background_counts(*q.state, 1000, false, false, nullptr);
  EXPECT_EQ(with.nearest_peak, k);
  EXPECT_NEAR(with.peak_area, 200, 1e-9);
  const double A = 6.005 * 3;
  EXPECT_NEAR(without.counts - with.counts, 200 / with.channels * A * (1 + A / (with.channels - 10.5)),
              1e-6);
}

TEST(BackgroundCounts, RegionClippedAtTheSpectrumEndStaysFinite) {
  test::QuantState q(10);
  // At the last channel the region has fewer channels than H: the
  // uncertainty correction must not divide by zero or turn negative.
  BackgroundCounts b = background_counts(*q.state, 2047, false, false, nullptr);
  EXPECT_LE(b.region_end, 2047);
  EXPECT_TRUE(std::isfinite(b.counts));
  EXPECT_GT(b.counts, 0);
}

TEST(BackgroundCounts, FitsAPeakWhenNoneIsListed) {
  test::QuantState q(10);
  // A Gaussian of 900 counts at channel 700 that the list does not hold.
  for (int x = 680; x <= 720; ++x)
    q.state->spectrum.counts[x] += static_cast<float>(
        900 / (3 * std::sqrt(2 * M_PI)) * std::exp(-(x - 700.0) * (x - 700.0) / 18));
  ReportText diag;
  BackgroundCounts b = background_counts(*q.state, 700, false, true, &diag);
  EXPECT_NEAR(b.peak_area, 900, 60);
  EXPECT_NE(diag.text.find(" Peak at  700.0 keV. has an area of  "), std::string::npos);
}

TEST(LimitAtEnergy, DividesByLiveTimeAndEfficiency) {
  test::QuantState q(10);
  q.state->params.lod_type = kLodCritical;
  const double B = background_counts(*q.state, 1000, false, false, nullptr).counts;
  // A flat efficiency of 1; live time 100 s. LSIG is
  // held in single precision.
  const double k = 1.645f;
  EXPECT_NEAR(limit_at_energy(*q.state, 1000, false, kLodCritical, nullptr), k * std::sqrt(B) / 100,
              1e-12);
  q.state->spectrum.header.live_time = 0;
  EXPECT_NEAR(limit_at_energy(*q.state, 1000, false, kLodCritical, nullptr), k * std::sqrt(B), 1e-10);
}

TEST(RoundTwoFigures, HalfUp) {
  EXPECT_DOUBLE_EQ(round_two_figures(1234), 1200);
  EXPECT_NEAR(round_two_figures(0.01250001), 0.013, 1e-12);
  EXPECT_DOUBLE_EQ(round_two_figures(0), 0);
}

TEST(LodSection, SilentModeAddsLimitEntriesAndWritesTheDiagnostic) {
  test::QuantState q(10);
  NuclideLibrary lod;
  test::add_nuclide(lod, "Cs-137", 1.5779e7, {{661.657, 0.85, 0}});
  test::add_nuclide(lod, "I-131", 11549, {{364.49, 0.815, 0}});
  ASSERT_EQ(save_library_file(q.ui, lod, q.library_file("LOD.lib")), 1);
  assign(q.state->params.lod_library, "LOD.lib");
  q.state->params.lod_type = kLodCritical;
  q.state->app.current_file = "x.dat";
  q.state->results.decay_interval = 30 * 11549.0;  // I-131 is 30 half-lives old
  std::vector<LodRow> rows;
  ASSERT_EQ(lod_section(*q.state, false, rows), 1);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_FALSE(rows[0].too_old);
  EXPECT_TRUE(rows[1].too_old);
  const double L = limit_at_energy(*q.state, 661.657, false, kLodCritical, nullptr) / 0.85f;
  const double decayed = L * std::exp(30 * 11549.0 * 0.6931471 / 1.5779e7);
  EXPECT_NEAR(rows[0].specific, L, 1e-9 * L);
  EXPECT_NEAR(rows[0].decay_corrected, decayed, 1e-6 * decayed);
  ASSERT_EQ(q.state->results.results.size(), 2u);
  EXPECT_EQ(q.state->results.results[0].uncertainty, 0);
  EXPECT_NEAR(q.state->results.results[0].activity, L, 1e-9 * L);
  const std::string text = test::read_text(q.dir.file("LOD Diagnostic.txt"));
  EXPECT_EQ(text.rfind("Diagnostic LOD Report for Spectrum File :- x.dat \r\n\r\n", 0), 0u);
  EXPECT_TRUE(test::has_line(text, "     The Sample age is > 20 times the Halflife of I-131"));
  EXPECT_NE(text.find(" Cs-137     661.7    "), std::string::npos);
}

}  // namespace
}  // namespace kestrim
