#include "peaks/peak_fit_report.h"
#include "platform/c_locale.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "app/state.h"
#include "peaks/peak_fixture.h"
#include "peaks/peak_search.h"
#include "peaks/region_driver.h"
#include "platform/files.h"
#include "settings/calibration_functions.h"
#include "support/test_support.h"

namespace kestrim {
namespace {

using test::SimulatedState;

constexpr const char* kHeading =
    "  Peak   Centre   FW_HM         Goodness   Peak     %      Gammas       %\r\n"
    " Energy  Channel  (keV)  Signif  of Fit    Area   Uncert.  per sec.   Uncert.\r\n\r\n";

int occurrences(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

// Search and fit of a simulated spectrum with reports in `dir`.
void analyse(State& st, const test::TempDir& dir) {
  st.paths.working_dir = dir.path();
  st.app.current_file = "sample.dat";
  st.params.max_peak_uncertainty = 100;
  run_peak_search(st);
  st.fitting.report_open = false;
  fit_all_remaining_peaks(st);
}

// The example spectrum through a whole batch run: the report compared with
// the file checked by hand against the formats (CR LF, widths, two-digit
// exponents after the tidy-up, the fixed title).
TEST(PeakFitReport, ExampleBatchRunWritesTheExpectedReport) {
  test::TempDir dir;
  const std::string root = test::source_data_dir() + "/..";
  const std::string cmd = "cd '" + dir.path() + "' && XDG_DATA_HOME='" + dir.file("user") + "' '" +
                          test::kestrim_binary() + "' /batch '/file=" + root + "/data/examples/example-nai.dat'";
  std::string out;
  ASSERT_EQ(test::run_command(cmd, &out, true), 0) << out;
  const std::string expected = test::read_text(root + "/tests/peaks/golden/example-peak-fit-report.txt");
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(test::read_text(dir.file(kPeakFitReportName)), expected);
  EXPECT_FALSE(file_exists(dir.file(kPeakDatabaseName))) << "no peak database in a batch run";
}

TEST(PeakFitReport, RefitAfterCompletionAppends) {
  test::TempDir dir;
  SimulatedState s(example_nai_options(1024, 5));
  State& st = *s.state;
  analyse(st, dir);
  ASSERT_TRUE(st.peaks.fitted);
  const std::string first = test::read_text(dir.file(kPeakFitReportName));
  EXPECT_EQ(first.rfind("\r\n             Peak Fitting Report for Spectrum File :- sample.dat\r\n\r\n", 0), 0u);
  EXPECT_EQ(occurrences(first, kHeading), 1);
  const std::string db = test::read_text(dir.file(kPeakDatabaseName));
  EXPECT_EQ(occurrences(db, "\"sample.dat\","), 1);

  st.peaks.region.first = 1;
  ASSERT_EQ(fit_region(st, false), 1);
  const std::string second = test::read_text(dir.file(kPeakFitReportName));
  ASSERT_GT(second.size(), first.size());
  EXPECT_EQ(second.compare(0, first.size(), first), 0) << "the old report is kept";
  EXPECT_EQ(occurrences(second, kHeading), 1);
  // A fresh analysis starts a new report.
  analyse(st, dir);
  EXPECT_EQ(test::read_text(dir.file(kPeakFitReportName)), first);
  // And appends a second block to the database.
  EXPECT_EQ(occurrences(test::read_text(dir.file(kPeakDatabaseName)), "\"sample.dat\","), 3);
}

TEST(PeakFitReport, EliminatedPeakIsReportedButNotInTheDatabase) {
  test::TempDir dir;
  SimOptions o;
  o.noise = false;
  o.bg_constant = 20;
  o.peaks = {{662, 20000, 0}, {1461, 20000, 0}};
  SimulatedState s(o);
  State& st = *s.state;
  st.params.background_cps_subtraction = 1;
  st.background.count = 1;
  st.background.energy[0] = 662;
  st.background.rate[0] = 21000.0f / 1000;  // more than the sample's peak
  st.background.rate_sigma[0] = 0.1f;
  analyse(st, dir);
  ASSERT_EQ(st.peaks.count, 2);
  EXPECT_EQ(st.peaks.net_area[1], 0);
  EXPECT_EQ(st.peaks.gps[1], 0);
  const std::string report = test::read_text(dir.file(kPeakFitReportName));
  EXPECT_EQ(occurrences(report, " This Peak was Eliminated.\r\n"), 1);
  EXPECT_EQ(occurrences(report, " Background Peak found at:-  662.0 keV,    21000    0.5\r\n"), 1);
  const std::string db = test::read_text(dir.file(kPeakDatabaseName));
  EXPECT_EQ(db.find("\r\n  1,"), std::string::npos);
  EXPECT_NE(db.find("\r\n  2,1461.0,"), std::string::npos) << db;
  EXPECT_EQ(occurrences(db, "\r\n"), 3);
  // A background run subtracts nothing.
  st.fitting.background_run = true;
  analyse(st, dir);
  EXPECT_GT(st.peaks.net_area[1], 19000);
}

TEST(PeakFitReport, TemplateHeadingAndDetailedLines) {
  test::TempDir dir;
  SimOptions o;
  o.noise = false;
  o.bg_constant = 20;
  o.peaks = {{662, 20000, 0}};
  SimulatedState s(o);
  State& st = *s.state;
  test::write_text(dir.file("peak fit report.tpl"), "Lab 7 peak list\r\n");
  st.params.detailed_fit_report = 1;
  // Library lines: ten names near 662 keV overflow the 90 characters.
  for (int i = 0; i < 12; ++i) {
    CurrentNuclide n;
    assign(n.nuclide.name, "NUC-" + std::to_string(10 + i));
    n.line_count = 1;
    n.energy[0] = 661.7f + 0.05f * i;  // all within the tolerance (0.75 keV) of the peak
    n.yield[0] = 0.5f;
    ASSERT_TRUE(st.library.append(n));
  }
  CurrentNuclide far;
  assign(far.nuclide.name, "FAR");
  far.line_count = 1;
  far.energy[0] = 900;
  st.library.append(far);
  analyse(st, dir);
  ASSERT_EQ(st.peaks.count, 1);
  const std::string report = test::read_text(dir.file(kPeakFitReportName));
  EXPECT_EQ(report.rfind(std::string("Lab 7 peak list\r\n\r\n") + kHeading +
                             "         Fitting Region:- Start   Stop           Possible Nuclides\r\n\r\n",
                         0),
            0u)
      << report;
  const std::size_t at = report.find("                         ");
  ASSERT_NE(at, std::string::npos);
  const std::string line = report.substr(at, report.find("\r\n", at) - at);
  char bounds[160];
  kestrim::c_snprintf(bounds, sizeof bounds, "                         %5d   %5d      NUC-10 NUC-11 NUC-12 NUC-13 NUC-14 NUC-15 NUC-16 ....",
                st.peaks.fit_start[1], st.peaks.fit_end[1]);
  // Names follow while the line is at most 90 characters long.
  EXPECT_EQ(line, bounds);
  EXPECT_EQ(line.find("FAR"), std::string::npos);
}

TEST(PeakFitReport, RateUsesLiveTimeEfficiencyAndOptionallyItsUncertainty) {
  test::TempDir dir;
  SimOptions o;
  o.noise = false;
  o.live_time = 500;
  o.peaks = {{662, 20000, 0}};
  SimulatedState s(o);
  State& st = *s.state;
  PeakList& list = st.peaks;
  list.count = 1;
  list.centre[1] = 220;
  list.net_area[1] = 1000;
  list.net_area_pct[1] = 3;
  const double e = channel_to_energy(st.spectrum.calibration, 220);
  const EfficiencyWithUncertainty eff =
      efficiency_with_uncertainty(st.spectrum.calibration, e, calibration_context(st.spectrum, st.app));
  compute_rate(st, e, 1);
  EXPECT_NEAR(list.gps[1], 1000 / 500.0 / eff.efficiency, 1e-4);
  EXPECT_FLOAT_EQ(list.gps_pct[1], 3);
  st.params.include_calibration_uncertainty = 1;
  st.spectrum.efficiency.count = 2;
  st.spectrum.efficiency.energy[0] = 100;
  st.spectrum.efficiency.energy[1] = 2000;
  st.spectrum.efficiency.efficiency = {};
  st.spectrum.efficiency.efficiency[0] = st.spectrum.efficiency.efficiency[1] = 0.05f;
  st.spectrum.efficiency.uncertainty[0] = st.spectrum.efficiency.uncertainty[1] = 10;
  st.app.use_efficiency_points = true;
  const EfficiencyWithUncertainty eff2 =
      efficiency_with_uncertainty(st.spectrum.calibration, e, calibration_context(st.spectrum, st.app));
  ASSERT_GT(eff2.relative_variance, 0);
  compute_rate(st, e, 1);
  EXPECT_NEAR(list.gps[1], 1000 / 500.0 / eff2.efficiency, 1e-3);
  EXPECT_NEAR(list.gps_pct[1], 100 * std::sqrt(0.03 * 0.03 + eff2.relative_variance), 1e-4);
}

}  // namespace
}  // namespace kestrim
