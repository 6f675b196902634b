#include "peaks/peak_search.h"

#include <gtest/gtest.h>

#include <cmath>

#include "app/state.h"
#include "peaks/peak_fixture.h"
#include "peaks/peak_report_json.h"
#include "settings/calibration_functions.h"
#include "support/test_support.h"

namespace kestrim {
namespace {

using test::HandState;
using test::SimulatedState;

TEST(SignificanceFilterTest, SigmaTwoStopsAtSevenAndSumsToZero) {
  SearchState s;
  s.width_factor = 1;
  // w = 2: c[k] = 100 (k^2/4 - 1) exp(-k^2/8); c[8] = 1500 e^-8 = 0.50 is
  // the first below 1 beyond trunc(2w) = 4, so n = 7.
  int n = build_filter(s, 2.0);
  EXPECT_EQ(n, 7);
  EXPECT_DOUBLE_EQ(s.filter[0], -100);
  EXPECT_DOUBLE_EQ(s.filter[2], 0);
  EXPECT_NEAR(s.filter[4], 300 * std::exp(-2.0), 1e-12);
  EXPECT_EQ(s.filter[8], 0);
  double total = s.filter[0];
  for (int k = 1; k <= n; ++k) total += 2 * s.filter[k];
  EXPECT_NEAR(total, 0, 1e-9);
}

TEST(SignificanceFilterTest, LinearSpectrumGivesNoResponse) {
  SearchState s;
  s.width_factor = 1.3f;
  int n = build_filter(s, 3.0);
  std::vector<float> counts(200);
  for (int x = 0; x < 200; ++x) counts[x] = 50 + 0.7f * x;
  EXPECT_NEAR(filter_response(s, counts.data(), 100, 199), 0, 1e-4);
  // A Gaussian bump gives a positive response at its centre.
  for (int x = 0; x < 200; ++x) counts[x] += 400 * std::exp(-(x - 100) * (x - 100) / 18.0);
  EXPECT_GT(filter_response(s, counts.data(), 100, 199), 10);
  EXPECT_LT(filter_response(s, counts.data(), 100 + n / 2 + 6, 199), 0);
}

TEST(PeakSearchTest, FlatAndRisingSpectraGiveNoPeaks) {
  for (double slope : {0.0, 0.2}) {
    SCOPED_TRACE(slope);
    SimOptions o;
    o.bg_constant = 200;
    o.bg_slope = slope;
    o.seed = 5;
    SimulatedState s(o);
    run_peak_search(*s.state);
    EXPECT_EQ(s.state->peaks.count, 0);
    EXPECT_TRUE(s.state->peaks.fit_enabled);
  }
}

// A discriminator that cuts the spectrum off at 150 keV (no counts below,
// then a rise within a width): its edge is no peak, in the search or in the
// fit's residual search, while a line two widths above it is found.
TEST(PeakSearchTest, DiscriminatorEdgeIsNoPeak) {
  for (const bool with_line : {false, true}) {
    SCOPED_TRACE(with_line);
    SimOptions o;
    o.bg_constant = 300;
    if (with_line) o.peaks = {{260, 20000, 0}};
    o.seed = 11;
    SimulatedState s(o);
    std::vector<float>& counts = s.state->spectrum.counts;
    const double edge = energy_to_channel(s.state->spectrum.calibration, 150.0);
    for (std::size_t x = 0; x < counts.size(); ++x)
      counts[x] = static_cast<float>(counts[x] * 0.5 * std::erfc((edge - static_cast<double>(x)) / 3.0));
    for (std::size_t x = 0; x < counts.size(); ++x)
      if (counts[x] < 1.5f) counts[x] = 0;
    search_and_fit_all(*s.state);
    const PeakList& list = s.state->peaks;
    int near_edge = 0, line = 0;
    for (int k = 1; k <= list.count; ++k) {
      const double e = channel_to_energy(s.state->spectrum.calibration, list.centre[k]);
      near_edge += e < 200;
      line += std::fabs(e - 260) < 10;
    }
    EXPECT_EQ(near_edge, 0);
    EXPECT_EQ(line, with_line ? 1 : 0);
  }
}

// The search centroid is weighted by filter responses, which are noisy; the
// fit refines it to within 0.3 channel (FitAccuracyTest). Over 50 seeds the
// search centroid stayed within 0.52 channel of the truth.
TEST(PeakSearchTest, IsolatedPeakFoundNearItsCentre) {
  SimOptions o;
  o.peaks = {{662, 10000, 0}};
  o.bg_constant = 30;
  for (std::uint64_t seed = 1; seed <= 5; ++seed) {
    SCOPED_TRACE(seed);
    o.seed = seed;
    SimulatedState s(o);
    run_peak_search(*s.state);
    ASSERT_EQ(s.state->peaks.count, 1);
    EXPECT_NEAR(s.state->peaks.centre[1], s.sim.truth[0].centre, 0.75);
    EXPECT_EQ(s.state->peaks.centre_channel[1], static_cast<int>(std::lround(s.state->peaks.centre[1])));
    EXPECT_GT(s.state->peaks.significance[1], s.state->params.search_discriminator);
    EXPECT_LT(s.state->peaks.fit_start[1], s.state->peaks.window_start[1]);
  }
}

TEST(PeakSearchTest, PeaksCloserThanOnePointFiveSigmaFoundOnce) {
  SimOptions o;
  // sigma at 662 keV is 6.56 channels = 19.7 keV; 1.2 sigma = 23.6 keV.
  o.peaks = {{650, 8000, 0}, {650 + 1.2 * 19.7, 8000, 0}};
  o.bg_constant = 20;
  o.seed = 11;
  SimulatedState s(o);
  run_peak_search(*s.state);
  EXPECT_EQ(s.state->peaks.count, 1);
}

TEST(PeakSearchTest, DoubletOnePointFiveFwhmApartFoundTwice) {
  SimOptions o;
  o.peaks = {{600, 8000, 0}, {600 + 1.5 * 0.07 * 662 * std::sqrt(600 / 662.0), 8000, 0}};
  o.bg_constant = 20;
  o.seed = 12;
  SimulatedState s(o);
  run_peak_search(*s.state);
  ASSERT_EQ(s.state->peaks.count, 2);
  EXPECT_NEAR(s.state->peaks.centre[1], s.sim.truth[0].centre, 1.5);
  EXPECT_NEAR(s.state->peaks.centre[2], s.sim.truth[1].centre, 1.5);
}

TEST(PeakSearchTest, RunWiderThanTwiceTheFilterIsNoPeak) {
  // A hump ten times wider than the calibrated width gives a long run of
  // positive responses that the test refuses.
  std::vector<double> counts(512, 100);
  for (int x = 0; x < 512; ++x) counts[x] += 3000 * std::exp(-(x - 250.0) * (x - 250.0) / (2 * 30.0 * 30.0));
  HandState h(counts, 3.0);
  run_peak_search(*h.state);
  EXPECT_EQ(h.state->peaks.count, 0);
}

TEST(PeakSearchTest, SearchStopsAddingAtTheHundredAndSecondPeak) {
  // 130 narrow peaks 30 channels apart.
  std::vector<double> counts(4096, 10);
  for (int p = 0; p < 130; ++p) {
    double c = 60 + 30.0 * p;
    for (int x = static_cast<int>(c) - 12; x <= static_cast<int>(c) + 12; ++x)
      counts[x] += 2000 * std::exp(-(x - c) * (x - c) / 8.0);
  }
  HandState h(counts, 2.0);
  run_peak_search(*h.state);
  const PeakList& list = h.state->peaks;
  ASSERT_EQ(list.count, kMaxSearchPeaks);
  for (int k = 1; k <= list.count; ++k) {
    SCOPED_TRACE(k);
    EXPECT_NEAR(list.centre[k], 60 + 30.0 * (k - 1), 0.5);
  }
  EXPECT_EQ(list.centre[kMaxSearchPeaks + 1], 0);
  EXPECT_EQ(list.significance[kMaxSearchPeaks + 1], 0);
}

TEST(PeakListTest, InsertKeepsOrderAndRemoveMirrorsIt) {
  std::vector<double> counts(1024, 10);
  HandState h(counts, 4.0);
  State& st = *h.state;
  clear_peak_list(st);
  EXPECT_EQ(insert_peak(st, 300), 1);
  EXPECT_EQ(insert_peak(st, 100), 1);
  EXPECT_EQ(insert_peak(st, 300), 3);  // after the equal centre channel
  EXPECT_EQ(insert_peak(st, 200), 2);
  PeakList& list = st.peaks;
  ASSERT_EQ(list.count, 4);
  EXPECT_EQ(list.centre_channel[1], 100);
  EXPECT_EQ(list.centre_channel[2], 200);
  EXPECT_EQ(list.last_added, 2);
  EXPECT_EQ(list.significance[2], 10);
  // Window p -+ 3 sigma = 188..212; margin ENDC x p / channels = 10 x 200 / 1024 = 1;
  // bounds one channel further.
  EXPECT_EQ(list.window_start[2], 188);
  EXPECT_EQ(list.window_end[2], 212);
  EXPECT_EQ(list.fit_start[2], 186);
  EXPECT_EQ(list.fit_end[2], 214);
  EXPECT_TRUE(recently_inserted(list, 200));
  EXPECT_FALSE(recently_inserted(list, 201));

  list.fitted_area[3] = 77;
  EXPECT_EQ(remove_peak(st, 99), 1);  // within one channel of 100
  EXPECT_EQ(remove_peak(st, 50), 0);
  ASSERT_EQ(list.count, 3);
  EXPECT_EQ(list.centre_channel[1], 200);
  EXPECT_EQ(list.fitted_area[2], 77);  // moved with its peak
  EXPECT_EQ(list.centre_channel[4], 0);
  EXPECT_EQ(list.fit_end[4], 0);
}

TEST(PeakListTest, RingKeepsTheLastTenInsertedChannels) {
  std::vector<double> counts(1024, 10);
  HandState h(counts, 4.0);
  clear_peak_list(*h.state);
  for (int p = 0; p < 12; ++p) insert_peak(*h.state, 100 + 20 * p);
  EXPECT_FALSE(recently_inserted(h.state->peaks, 100));
  EXPECT_FALSE(recently_inserted(h.state->peaks, 120));
  EXPECT_TRUE(recently_inserted(h.state->peaks, 140));
  EXPECT_TRUE(recently_inserted(h.state->peaks, 320));
}

TEST(AuxPeaksTest, MissingFileIsReportedAndSearchGoesOn) {
  SimOptions o;
  o.peaks = {{662, 10000, 0}};
  o.bg_constant = 20;
  SimulatedState s(o);
  test::TempDir dir;
  s.state->paths.working_dir = dir.path();
  s.state->params.use_aux_peaks = 1;
  assign(s.state->params.aux_peaks_file, "aux.txt");
  run_peak_search(*s.state);
  EXPECT_TRUE(s.ui.said("Could not open Auxillary Peaks file:- aux.txt"));
  EXPECT_EQ(s.state->peaks.count, 1);
}

TEST(AuxPeaksTest, RowsAreReadAndCompanionInserted) {
  SimOptions o;
  o.peaks = {{662, 10000, 0}};
  o.bg_constant = 20;
  SimulatedState s(o);
  test::TempDir dir;
  s.state->paths.working_dir = dir.path();
  s.state->params.use_aux_peaks = 1;
  assign(s.state->params.aux_peaks_file, "Aux.TXT");
  test::write_text(dir.file("aux.txt"),
                   "609 STEP\r\n662 1.2 700 0 0\r\n-5 1 1 1 1\r\n1460 0.05\r\n");
  run_peak_search(*s.state);
  const PeakList& list = s.state->peaks;
  ASSERT_EQ(list.aux_count, 3);
  EXPECT_EQ(list.aux[0].energy, 609);
  EXPECT_EQ(list.aux[0].companion, -1);
  EXPECT_EQ(list.aux[0].width_factor, 1);
  EXPECT_FLOAT_EQ(list.aux[1].width_factor, 1.2f);
  EXPECT_EQ(list.aux[2].width_factor, 1);  // below 0.1
  // 662 keV matched a found peak, so its companion at 700 keV was inserted.
  ASSERT_EQ(list.count, 2);
  EXPECT_EQ(list.centre_channel[2], static_cast<int>(std::lround(700 / 3.0)));
}

TEST(ReferencePeakTest, FindsPeakAndAppendsDiagnosticLines) {
  std::vector<std::int32_t> counts(1024, 30);
  for (int x = 0; x < 1024; ++x) counts[x] += static_cast<int>(3000 * std::exp(-(x - 500.0) * (x - 500.0) / 32.0));
  std::vector<double> unused(1024, 0);
  HandState h(unused, 4.0);
  test::TempDir dir;
  h.state->paths.working_dir = dir.path();
  std::string line;
  EXPECT_EQ(locate_reference_peak(*h.state, counts.data(), 1024, 480, 100, &line), 500);
  EXPECT_NE(line.find(", Centre at Chan: 500, Signif:- "), std::string::npos) << line;

  std::vector<std::int32_t> flat(1024, 30);
  EXPECT_EQ(locate_reference_peak(*h.state, flat.data(), 1024, 480, 100, &line), 0);
  EXPECT_NE(line.find(", No Peak was found, Max Signif:- "), std::string::npos) << line;
  std::string text = test::read_text(dir.file("mca diag.txt"));
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
  EXPECT_NE(text.find("Centre at Chan: 500"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");

  // Too few counts in the window, or no window: nothing is written.
  std::vector<std::int32_t> low(1024, 5);
  EXPECT_EQ(locate_reference_peak(*h.state, low.data(), 1024, 480, 100, &line), 0);
  EXPECT_EQ(locate_reference_peak(*h.state, counts.data(), 1024, 480, 0, &line), 0);
  EXPECT_EQ(test::read_text(dir.file("mca diag.txt")), text);
}

}  // namespace
}  // namespace kestrim
