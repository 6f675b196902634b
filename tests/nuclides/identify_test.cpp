// Nuclide identification on hand-made peak lists: the diagnostic lines, the
// matching rules, the confidence, acceptance and the recording of lines.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "nuclides/identify.h"
#include "nuclides/results.h"
#include "quant_fixture.h"

namespace kestrim {
namespace {

constexpr double kCsHalfLife = 30.08 * 525960;

struct Identify : ::testing::Test {
  test::QuantState q;
  ReportText diag, act;
  NuclideLibrary& lib() { return q.state->library; }
  NuclideResults& res() { return q.state->results; }
  int run() { return identify_nuclides(*q.state, diag, act); }
  bool said(const std::string& line) { return test::has_line(diag.text, line); }
};

TEST_F(Identify, OneNuclideOnOnePeakWritesEveryStep) {
  test::add_nuclide(lib(), "Cs-137", kCsHalfLife, {{661.657, 0.85, 0.002}}, 661.657);
  q.add_peak(662.0, 8500);
  ASSERT_EQ(run(), 1);
  EXPECT_EQ(diag.text,
            "Considering Cs-137\r\n"
            "Matched  661.7 with  662.0, Yld:- 0.8500\r\n"
            "Yields found/Total Yield : 1.0000\r\n"
            "Conf, Value : 1.0000\r\n"
            "Entered  Cs-137\r\n");
  ASSERT_EQ(res().lines.size(), 1u);
  const IdentifiedLine& l = res().lines[0];
  EXPECT_EQ(l.peak, 1);
  EXPECT_EQ(l.state, 1);
  EXPECT_NEAR(l.yield, 0.85, 1e-6);
  EXPECT_NEAR(l.uncertainty, 0.002, 1e-6);
  EXPECT_EQ(res().accepted[0].principal_peak, 1);
  EXPECT_TRUE(res().accepted[0].principal_found);
}

TEST_F(Identify, MissingLineLowersTheConfidenceAndDecayFactorApplies) {
  test::add_nuclide(lib(), "Two", 1000, {{500, 0.6, 0}, {900, 0.2, 0}});
  q.add_peak(500, 1000);
  res().decay_interval = 100;
  ASSERT_EQ(run(), 1);
  EXPECT_TRUE(said("No Peak at  900.0, Yld:- 0.2000"));
  EXPECT_TRUE(said("Yields found/Total Yield : 0.7500"));
  // 0.75 x exp(-0.025 x 100 / 1000)
  EXPECT_TRUE(said("Conf, Value : 0.7481"));
  EXPECT_NEAR(res().accepted[0].confidence, 0.75 * std::exp(-0.0025), 1e-7);  // single-precision yields
}

TEST_F(Identify, HalfLifeTestAtTwentyHalfLives) {
  test::add_nuclide(lib(), "Short", 10, {{500, 1, 0}});
  test::add_nuclide(lib(), "Edge", 50, {{500, 1, 0}});
  q.add_peak(500, 1000);
  res().decay_interval = -1000;  // tested by its absolute value
  run();
  EXPECT_TRUE(said("Rejected Short, Halflife was too short."));
  EXPECT_TRUE(said("Considering Edge"));  // exactly 20 half-lives is kept
  // A negative interval gives no decay factor.
  EXPECT_TRUE(said("Conf, Value : 1.0000"));
}

TEST_F(Identify, SumPeakEntryNeedsItsMainIsotope) {
  const std::string sum = std::string("Co-60") + static_cast<char>(0xE4);
  test::add_nuclide(lib(), sum, 2.77e6, {{2505.7, 0.01, 0}});
  test::add_nuclide(lib(), "Co-60", 2.77e6, {{1173.2, 0.9985, 0}, {1332.5, 0.9998, 0}});
  test::add_nuclide(lib(), sum, 2.77e6, {{2505.7, 0.01, 0}});
  q.add_peak(1173.2, 1000);
  q.add_peak(1332.5, 1000);
  run();
  EXPECT_TRUE(said("Rejected " + sum + ", Main Isotope was not found."));
  EXPECT_EQ(diag.text.find("Considering " + sum), diag.text.rfind("Considering " + sum));
  EXPECT_NE(diag.text.find("Considering " + sum), std::string::npos);
}

TEST_F(Identify, WindowBoundsAreInclusive) {
  // tol(1000) = 0.25 x 2 + 0.00075 x 2 x 1000 = 2 keV.
  test::add_nuclide(lib(), "In", 1e6, {{1000, 1, 0}});
  test::add_nuclide(lib(), "Out", 1e6, {{1200, 1, 0}});  // tol(1200) = 2.3
  q.add_peak(1001.999, 1000);
  q.add_peak(1202.31, 1000);
  run();
  EXPECT_TRUE(said("Matched 1000.0 with 1002.0, Yld:- 1.0000"));
  EXPECT_TRUE(said("No Peak at 1200.0, Yld:- 1.0000"));
}

TEST_F(Identify, AnnihilationLineUsesTheBaseTolerance) {
  test::add_nuclide(lib(), "Ann", 1e6, {{511, 1, 0}});
  q.add_peak(512.9, 1000);  // tol(511) would be 1.27 keV; ETOL is 2
  run();
  EXPECT_TRUE(said("Matched  511.0 with  512.9, Yld:- 1.0000"));
}

TEST_F(Identify, AutoCalibrationDoublesTheEnergyTerm) {
  test::add_nuclide(lib(), "Wide", 1e6, {{1000, 1, 0}});
  q.add_peak(1003, 1000);  // outside tol = 2, inside 0.5 + 3 = 3.5
  res().auto_calibration = true;
  run();
  EXPECT_TRUE(said("Matched 1000.0 with 1003.0, Yld:- 1.0000"));
}

TEST_F(Identify, CloseLinesShareALonePeakAndAreCombined) {
  test::add_nuclide(lib(), "Pair", 1e6, {{1000, 0.3, 0.01}, {1001, 0.1, 0.02}});
  q.add_peak(1000.5, 1000);
  run();
  EXPECT_TRUE(said("Combined 1000.0 keV line with 1001.0 keV line"));
  ASSERT_EQ(res().lines.size(), 1u);
  EXPECT_NEAR(res().lines[0].energy, 1001 - 0.3 / 0.4 * 1, 1e-5);
  EXPECT_NEAR(res().lines[0].yield, 0.4, 1e-6);
  EXPECT_NEAR(res().lines[0].uncertainty, 0.03, 1e-6);
}

TEST_F(Identify, CloseLinesTakeSeparatePeaksWhenAnotherPeakIsInTheWindow) {
  test::add_nuclide(lib(), "Pair", 1e6, {{1000, 0.3, 0}, {1001, 0.1, 0}});
  q.add_peak(999.0, 1000);
  q.add_peak(1000.5, 1000);
  run();
  EXPECT_EQ(diag.text.find("Combined"), std::string::npos);
  ASSERT_EQ(res().lines.size(), 2u);
  EXPECT_EQ(res().lines[0].peak, 1);
  EXPECT_EQ(res().lines[1].peak, 2);
}

TEST_F(Identify, NearerSecondPeakReplacesTheFirstForAnIsolatedLine) {
  test::add_nuclide(lib(), "One", 1e6, {{1000, 1, 0}});
  q.add_peak(998.5, 1000);
  q.add_peak(1000.2, 1000);
  run();
  ASSERT_EQ(res().lines.size(), 1u);
  EXPECT_EQ(res().lines[0].peak, 2);
}

TEST_F(Identify, RejectionWithTheBackgroundNote) {
  test::add_nuclide(lib(), "Gone", 1e6, {{1000, 0.5, 0}, {1500, 0.5, 0}, {1800, 0.1, 0}});
  q.add_peak(1000.5, 0);   // peaks whose area background subtraction removed
  q.add_peak(1499.5, -3);
  q.state->params.background_cps_subtraction = 1;
  EXPECT_EQ(run(), 0);
  EXPECT_TRUE(said("Rejected  Gone"));
  EXPECT_TRUE(said("Principal Peak not found"));
  EXPECT_TRUE(said(" Gone may have been eliminated by Background Subtraction."));
}

TEST_F(Identify, PrincipalPeakAloneAcceptsANuclideOutsideTheRange) {
  test::add_nuclide(lib(), "Edge", 1e6, {{3000, 1, 0}}, 1500);
  q.add_peak(1500.5, 1000);
  EXPECT_EQ(run(), 1);
  EXPECT_TRUE(said("Yields found/Total Yield : 0.0000"));
  EXPECT_TRUE(said("Entered  Edge"));
  EXPECT_TRUE(res().lines.empty());
}

TEST_F(Identify, LimitOfDeterminationCheckRemovesANuclideWithAMissingStrongLine) {
  test::add_nuclide(lib(), "Miss", 1e6, {{1000, 1.0, 0}, {1500, 0.9, 0}});
  q.add_peak(1000, 10000);  // 100 gammas per second: 100 Bq
  q.state->params.lod_check_threshold = 10;
  EXPECT_EQ(run(), 0);
  EXPECT_TRUE(test::has_line(act.text, "Removed Miss, No Peak at 1500.0 keV."));
  EXPECT_NE(act.text.find("Limit of Determination was only  5% of Nuclide Activity.\r\n\r\n"),
            std::string::npos);
  EXPECT_TRUE(res().accepted.empty());
}

TEST_F(Identify, LimitOfDeterminationCheckIsOffAtZeroAndAboveFifty) {
  for (int lodc : {0, 51}) {
    test::QuantState fresh;
    test::add_nuclide(fresh.state->library, "Miss", 1e6, {{1000, 1.0, 0}, {1500, 0.9, 0}});
    fresh.add_peak(1000, 10000);
    fresh.state->params.lod_check_threshold = lodc;
    ReportText d, a;
    EXPECT_EQ(identify_nuclides(*fresh.state, d, a), 1) << lodc;
    EXPECT_EQ(a.text, "");
  }
}

TEST_F(Identify, LineExplainingAlmostNothingOfItsPeakIsDropped) {
  test::add_nuclide(lib(), "Weak", 1e6, {{1000, 1.0, 0}, {1500, 0.01, 0}});
  q.add_peak(1000, 10000);   // 100 Bq from the strong line
  q.add_peak(1500, 100000);  // 1000 gps: 100 Bq x 0.01 is 0.1 % of it
  run();
  EXPECT_TRUE(said("Only 0.10 %  of 1500.0 keV Peak was used."));
  ASSERT_EQ(res().lines.size(), 1u);
  EXPECT_EQ(res().lines[0].peak, 1);
}

// A principal line whose peak the nuclide would barely explain was not found:
// without it the nuclide needs the confidence of one whose principal peak is
// missing. The same lines with a principal peak of the right size are kept.
TEST_F(Identify, PrincipalPeakTheNuclideBarelyExplainsDoesNotCount) {
  test::add_nuclide(lib(), "Eu-like", 1e6, {{121.8, 0.28, 0}, {344.3, 0.27, 0}, {778.9, 0.13, 0},
                                            {964.1, 0.15, 0}, {1408.0, 0.21, 0}},
                    121.8);
  q.add_peak(121.8, 100000);  // 357 000 Bq from the principal line ...
  q.add_peak(1408.0, 210);    // ... and 1000 from the 1408 keV line: 0.3 %
  run();
  EXPECT_TRUE(said("Only 0.28 %  of  121.8 keV Peak was used."));
  EXPECT_TRUE(said("Rejected  Eu-like"));
  EXPECT_TRUE(said("Principal Peak not found"));
  EXPECT_TRUE(res().accepted.empty());
}

TEST_F(Identify, PrincipalPeakOfTheRightSizeKeepsTheNuclide) {
  test::add_nuclide(lib(), "Eu-like", 1e6, {{121.8, 0.28, 0}, {344.3, 0.27, 0}, {778.9, 0.13, 0},
                                            {964.1, 0.15, 0}, {1408.0, 0.21, 0}},
                    121.8);
  q.add_peak(121.8, 280);
  q.add_peak(1408.0, 210);
  run();
  EXPECT_TRUE(said("Entered  Eu-like"));
  EXPECT_EQ(res().accepted.size(), 1u);
}

TEST_F(Identify, LibraryDrivenNuclideUsesItsInsertedPeaks) {
  NuclideLibrary pl;
  test::add_nuclide(pl, "Lib", 1e6, {{800, 1, 0}});
  ASSERT_EQ(save_library_file(q.ui, pl, q.library_file("PS.lib")), 1);
  assign(q.state->params.peak_search_library, "PS.lib");
  q.state->params.unconditional_library_peaks = 1;
  test::add_nuclide(lib(), "LIB", 1e6, {{800, 1, 0}});    // same name, other case
  test::add_nuclide(lib(), "Other", 1e6, {{800, 1, 0}});
  const int k = q.add_peak(802.6, 0);  // tol(800) = 1.7, widened by 1 keV
  q.state->peaks.unconditional[k] = 1;
  EXPECT_EQ(run(), 1);
  EXPECT_TRUE(said("Entered  LIB"));
  EXPECT_TRUE(said("Rejected  Other"));
  EXPECT_TRUE(res().accepted[0].library_driven);
}

// A nuclide whose lines all lie below 150 keV is named on a low-energy peak
// only when that peak is a line: not a peak of NaI width standing under half
// the continuum (a scatter hump that the fit covered with peaks), nor a small
// peak of a region whose fit is plainly wrong (a piece of its neighbour's
// shape). The counts hold the continuum and the peaks' own Gaussians.
TEST(IdentifyLowEnergy, NuclideNeedsAPeakThatIsALine) {
  struct Case {
    double hump;       // counts per channel at the top of a broad hump at 63 keV
    double neighbour;  // area of a peak at 80 keV in the same region (0: none)
    float chi_square;
    const char* said;  // nullptr: the nuclide is entered
  };
  const Case cases[] = {
      {0, 0, 1.2f, nullptr},
      {2000, 0, 1.2f, "Peak at   60.0 keV stands at  20 % of the continuum under it: a hump, not a line"},
      {0, 50000, 5.0f, nullptr},
      {0, 50000, 212.0f, "Peak at   60.0 keV is a small part of a region fitted at chi-square 212"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.hump) + " " + std::to_string(c.neighbour) + " " + std::to_string(c.chi_square));
    test::QuantState q;
    test::add_nuclide(q.state->library, "Low", 1e8, {{59.54, 0.36, 0}}, 59.54);
    SpectrumRecord& sp = q.state->spectrum;
    const double sigma = 3;
    auto gauss = [&](double area, double centre, int x) {
      const double z = (x - centre) / sigma;
      return area / (sigma * 2.5066283) * std::exp(-0.5 * z * z);
    };
    for (int x = 2; x < 200; ++x)
      sp.counts[x] = static_cast<float>(10 + c.hump * std::exp(-0.5 * std::pow((x - 63) / 15.0, 2)) +
                                        gauss(3000, 60, x) + gauss(c.neighbour, 80, x));
    std::vector<int> peaks = {q.add_peak(60, 3000)};
    if (c.neighbour > 0) peaks.push_back(q.add_peak(80, c.neighbour));
    PeakList& l = q.state->peaks;
    for (int k : peaks) {
      l.fwhm_kev[k] = static_cast<float>(2.3548 * sigma);
      l.goodness[k] = c.chi_square;
      l.fit_start[k] = 40;
      l.fit_end[k] = 100;
    }
    ReportText diag, act;
    identify_nuclides(*q.state, diag, act);
    if (c.said == nullptr) {
      EXPECT_TRUE(test::has_line(diag.text, "Entered  Low")) << diag.text;
    } else {
      EXPECT_TRUE(test::has_line(diag.text, "Rejected  Low")) << diag.text;
      EXPECT_TRUE(test::has_line(diag.text, c.said)) << diag.text;
    }
  }
}

}  // namespace
}  // namespace kestrim
