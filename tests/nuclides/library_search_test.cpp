// The library-driven peak search: lines of the peak search library that
// the automatic search missed are inserted, kept or removed.
#include <gtest/gtest.h>

#include <cmath>

#include "peaks/library_search.h"
#include "quant_fixture.h"

namespace kestrim {
namespace {

// Adds a Gaussian peak of `area` counts and sigma 3 at channel c.
void add_gaussian(SpectrumRecord& s, double c, double area) {
  for (int x = static_cast<int>(c) - 20; x <= static_cast<int>(c) + 20; ++x)
    s.counts[x] += static_cast<float>(area / (3 * std::sqrt(2 * M_PI)) *
                                      std::exp(-(x - c) * (x - c) / 18));
}

TEST(LibraryLine, ExistingPeakWithinToleranceIsOnlyConfirmed) {
  test::QuantState q(10);
  q.add_peak(1001, 500);
  q.state->params.unconditional_library_peaks = 1;
  EXPECT_EQ(test_library_line(*q.state, 1000), 1);
  EXPECT_EQ(q.state->peaks.count, 1);
  EXPECT_EQ(q.state->peaks.library_confirmed[1], 1);
  EXPECT_EQ(q.state->peaks.unconditional[1], 0);
}

TEST(LibraryLine, UnconditionalPeakIsKeptAndFlagged) {
  test::QuantState q(10);
  q.state->params.unconditional_library_peaks = 1;
  const int k = test_library_line(*q.state, 800);
  ASSERT_EQ(k, 1);
  EXPECT_EQ(q.state->peaks.centre_channel[1], 800);
  EXPECT_EQ(q.state->peaks.library_confirmed[1], 1);
  EXPECT_EQ(q.state->peaks.unconditional[1], 1);
}

TEST(LibraryLine, PeakWithANeighbourIsKeptForTheRegionFit) {
  test::QuantState q(10);
  q.add_peak(810, 500);  // within 5 sigma = 15 channels
  EXPECT_EQ(test_library_line(*q.state, 800), 1);
  EXPECT_EQ(q.state->peaks.count, 2);
}

TEST(LibraryLine, LonePeakIsKeptOnlyWhenItsFitShowsOne) {
  test::QuantState q(10);
  add_gaussian(q.state->spectrum, 600, 3000);
  EXPECT_EQ(test_library_line(*q.state, 600), 1);
  EXPECT_EQ(q.state->peaks.count, 1);
  // On the flat continuum alone the fitted height is not significant.
  EXPECT_EQ(test_library_line(*q.state, 1500), 0);
  EXPECT_EQ(q.state->peaks.count, 1);
  EXPECT_EQ(q.state->peaks.region.count, 0);  // the region is left as it was
}

TEST(LibraryPeakSearch, WalksTheLibraryInsideTheSearchedRange) {
  test::QuantState q(10);
  add_gaussian(q.state->spectrum, 600, 3000);
  add_gaussian(q.state->spectrum, 1200, 3000);
  NuclideLibrary pl;
  test::add_nuclide(pl, "Two", 1e6, {{600, 0.3, 0}, {1200, 0.9, 0}, {5000, 1.0, 0}});
  test::add_nuclide(pl, "Outside", 1e6, {{3000, 1.0, 0}});
  ASSERT_EQ(save_library_file(q.ui, pl, q.library_file("PS.lib")), 1);
  assign(q.state->params.peak_search_library, "PS.lib");
  ASSERT_EQ(library_peak_search(*q.state), 1);
  ASSERT_EQ(q.state->peaks.count, 2);
  EXPECT_EQ(q.state->peaks.centre_channel[1], 600);
  EXPECT_EQ(q.state->peaks.centre_channel[2], 1200);
  EXPECT_TRUE(q.ui.messages.empty());
}

}  // namespace
}  // namespace kestrim
