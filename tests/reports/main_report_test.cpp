// The main report: section 1 rows and markers, rounding, the reference
// block, the custom report and the unidentified-peak section.
#include <gtest/gtest.h>

#include "nuclides/activity.h"
#include "nuclides/quant_common.h"
#include "report_fixture.h"
#include "reports/activity_database.h"
#include "reports/main_report.h"
#include "reports/row_format.h"
#include "platform/files.h"
#include "support/test_support.h"

#include <fstream>
#include <sstream>

namespace kestrim {
namespace {

using test::fill_state;
using test::kNow;

NuclideResult result(const char* name, char marker, int index, double act, double unc, double dc,
                     double abs_unc) {
  NuclideResult r;
  r.name = name;
  r.marker = marker;
  r.library_index = index;
  r.confidence = 1.0;
  r.activity = act;
  r.uncertainty = unc;
  r.decay_corrected = dc;
  r.absolute_uncertainty = abs_unc;
  return r;
}

class MainReport : public ::testing::Test {
 protected:
  void SetUp() override {
    fill_state(state);
    state.results.activity_unit = "Bq";
    PeakList& p = state.peaks;
    p.count = 3;
    const float centre[] = {0, 100.0f, 220.67f, 443.0f};  // 300, 662, 1329 keV
    for (int k = 1; k <= 3; ++k) {
      p.centre[k] = centre[k];
      p.net_area[k] = 1000.0f * k;
      p.net_area_pct[k] = 5.0f;
      p.gps[k] = 10.0f * k;
      p.fwhm_kev[k] = 50.0f;
      p.fit_start[k] = static_cast<int>(centre[k]) - 10;
      p.fit_end[k] = static_cast<int>(centre[k]) + 10;
    }
  }
  std::string report(const std::string& tpl) {
    TokenContext ctx(state, kNow);
    return build_main_report(state, ctx, tpl, "r.tpl");
  }
  // The report heading: an empty line and the centred title.
  std::string heading() {
    const std::string h = kReportHeading;
    return "\r\n" + std::string((78 - h.size()) / 2, ' ') + h + "\r\n";
  }
  ScriptedPlatform ui;
  State state{ui};
};

// Exponent conversions are formatted with three-digit exponents and then
// tidied, so an "%11.4e" column prints 10 characters.
// Checked by hand once: library order (Co-60 is library nuclide 0), the
// # marker as ? and *, the sum-peak warning, the two-digit exponent of a
// tiny activity, the legends once each, the skipped reference block.
TEST_F(MainReport, GoldenSectionOne) {
  state.results.results = {
      result("Cs-137", ' ', 1, 1.2e-5, 10, 1.2e-5, 1.2e-6),
      result("Co-60", '#', 0, 12.5, 5.5, 13, 0.715),
      result("Bi-2\xE4", ' ', 2, 1, 1, 1, 1),
      result("I-131", '!', 3, 2, 20, 4, 0.8),
  };
  const std::string out = report(
      "Spectrum ?SPCF\r\n?ACTS\r\n%-9s %5.2f %11.4e %5.1f %11.4e %9.2e\r\n?SPEC\r\nhidden\r\n"
      "?END \r\nTail\r\n");
  const std::string expected = heading() +
      "Spectrum soil_a.dat                      \r\n"
      "Co-60  ?*  1.00 1.2500e+01   5.5 1.3000e+01 7.15e-01\r\n"
      "Cs-137     1.00 1.2000e-05  10.0 1.2000e-05 1.20e-06\r\n"
      "     *** Warning : Sum Peaks of Bi-2  were found. ***\r\n"
      "\r\n"
      "I-131  !   1.00 2.0000e+00  20.0 4.0000e+00 8.00e-01\r\n"
      "     ? represents:- Cannot determine which of these Nuclides are present.\r\n"
      "     * represents:- One or more Peaks failed the Limit of Detection test.\r\n"
      "     ! represents:- All Peak Activity values were inconsistant.\r\n"
      "Tail\r\n"
      "\r\n";
  EXPECT_EQ(out, expected);
}

TEST_F(MainReport, SeventhConversionGetsTheActivityUnit) {
  state.results.results = {result("Cs-137", '*', 1, 5, 10, 6, 0.6)};
  const std::string out = report("?ACTS\r\n%s|%.0f|%.0f|%.0f|%.0f|%.1f|%s\r\n");
  EXPECT_NE(out.find("Cs-137  *|1|5|10|6|0.6|Bq\r\n"), std::string::npos) << out;
  EXPECT_NE(out.find("* represents"), std::string::npos);
  EXPECT_EQ(out.find("? represents"), std::string::npos);
}

TEST_F(MainReport, NoPeaksAndEliminatedPeaks) {
  state.peaks.count = 0;
  EXPECT_EQ(report("?ACTS\r\n%s\r\n"), heading() + " No Significant Peaks were found.\r\n\r\n\r\n");
  state.peaks.count = 2;
  state.peaks.net_area[1] = 0;
  state.peaks.net_area[2] = -5;
  EXPECT_EQ(report("?ACTS\r\n%s\r\n"),
            heading() + " All Peaks were eliminated by Background Subtraction.\r\n\r\n\r\n");
}

TEST_F(MainReport, UnidentifiedPeaksLineNeedsAWellMeasuredPeak) {
  const std::string tpl = "?UNPK some peaks\r\n";
  for (int k = 1; k <= 3; ++k) state.results.peak_sum[k] = 1;
  EXPECT_EQ(report(tpl), heading() + "\r\n");
  state.results.peak_sum[2] = 0.2;  // unidentified
  state.peaks.net_area_pct[2] = 30.5f;
  EXPECT_EQ(report(tpl), heading() + "\r\n");
  state.peaks.net_area_pct[2] = 30.0f;
  EXPECT_EQ(report(tpl), heading() + "      some peaks\r\n\r\n");
}

TEST_F(MainReport, TemplateWithoutActivitySectionHasNoRows) {
  state.results.results = {result("Cs-137", ' ', 1, 5, 10, 6, 0.6)};
  EXPECT_EQ(report("Only text\r\n"), heading() + "Only text\r\n\r\n");
}

TEST_F(MainReport, ReferenceBlockIsProcessedWhenFittingIsOn) {
  state.params.reference_fitting = 1;
  EXPECT_EQ(report("A\r\n?SPEC\r\nshown\r\n?ACTS\r\n%s row format\r\n?END \r\nafter\r\n"),
            heading() + "A\r\nshown\r\n");
}

TEST(ResultRounding, SecondFigureOfTheUncertainty) {
  NuclideResult r = result("X", ' ', 0, 123.46, 2.34, 246.92, 5.71);
  round_result(r);
  EXPECT_NEAR(r.activity, 123.5, 1e-9);      // u = 2.89: rounded at 0.1
  EXPECT_NEAR(r.uncertainty, 2.4, 1e-9);     // upwards at 0.1
  EXPECT_NEAR(r.decay_corrected, 246.9, 1e-9);
  EXPECT_NEAR(r.absolute_uncertainty, 5.8, 1e-9);
  // An exact second figure stays (2.5 / 0.1 is a hair above 25).
  NuclideResult e = result("X", ' ', 0, 10, 2.5, 10, 0.25);
  round_result(e);
  EXPECT_NEAR(e.uncertainty, 2.5, 1e-9);
  EXPECT_NEAR(e.absolute_uncertainty, 0.25, 1e-9);
  // The uncertainty is capped at the value: 3 +/- 150 % rounds at 0.1.
  NuclideResult c = result("X", ' ', 0, 3.04, 150, 0, 0);
  round_result(c);
  EXPECT_NEAR(c.activity, 3.0, 1e-9);
  EXPECT_NEAR(c.uncertainty, 150, 1e-9);
}

TEST(RowFormat, MismatchedConversionsPrintSafely) {
  EXPECT_EQ(format_row("%d|%s|%5.1f|%%|%c", {2.7, 3.5, std::string("x"), std::string("Q")}),
            "2|3.5|  0.0|%|Q");
  EXPECT_EQ(format_row("%s %s", {std::string("a")}), "a ");
}

// The custom report: nuclide name on the first row only, each value at
// the column of its option word.
TEST_F(MainReport, CustomReportColumns) {
  state.results.results = {result("Cs-137", ' ', 0, 5, 10, 6, 0.6)};
  state.results.accepted.resize(1);
  state.results.accepted[0].library_index = 0;
  IdentifiedLine a, b;
  a.nuclide = b.nuclide = 0;
  a.peak = 2;
  a.yield = 0.5;
  b.peak = 3;
  b.yield = 0.25;
  state.results.lines = {a, b};
  state.spectrum.header.sample_size = 0;
  state.spectrum.header.true_time = 0;
  const std::string out = report("?CUST\r\nISO        ENE      ACT\r\n%-8s %8.2f %10.3e\r\n");
  // ACT = gps / yield (no half-life, no sample size): 20 / 0.5, 30 / 0.25.
  const std::string expected = heading() +
      "Cs-137       662.01 4.000e+01\r\n"
      "            1329.00 1.200e+02\r\n"
      "\r\n";
  EXPECT_EQ(out, expected);
}

TEST_F(MainReport, CustomReportOptionErrors) {
  EXPECT_EQ(report("?CUST\r\nISO BAD ENE\r\n%s %f\r\n"),
            heading() + "The Custom Report option:- 'BAD' was not valid\r\n\r\n");
  EXPECT_EQ(report("?CUST\r\nISO ENE\r\n%s\r\n"),
            heading() + "The number of Custom Report options and formats did not match\r\n"
                        "There were 2 valid options, 1 valid formats\r\n\r\n");
  EXPECT_EQ(report("?CUST\r\nISO ENE\r\n%s 8.2f\r\n"),
            heading() + "The Custom Report format number 2 did not contain a % symbol\r\n"
                        "%s 8.2f\r\n\r\n");
}

TEST_F(MainReport, UnidentifiedPeaksWithEscapeNotes) {
  // Peak 3 at 1329 keV is strong; peak 1 sits at 1329 - 1022 = 307 keV.
  state.peaks.centre[1] = 102.3f;
  state.peaks.gps[3] = 1000;
  state.results.peak_sum[2] = 1.0;  // explained
  state.results.peak_sum[3] = 1.0;
  ReportText act;
  append_unidentified_peaks(state, act);
  const std::string expected =
      "\r\nThe following Peak/s were unidentified :-\r\n \r\n"
      " Peak  Peak    Gammas   Uncertainty   Possible Nuclide/s\r\n"
      "Number Energy  per second    (%)\r\n \r\n"
      "   1   306.90  1.0000e+01    5.00   \r\n"
      "    This could be the Double Escape Peak from the Peak at 1329.0 keV.\r\n\r\n";
  EXPECT_EQ(act.text, expected);
  for (int k = 1; k <= 3; ++k) state.results.peak_sum[k] = 0.3;
  ReportText none;
  append_unidentified_peaks(state, none);
  EXPECT_EQ(none.text, "\r\n All Peaks were identified.\r\n");
}

TEST_F(MainReport, SumPeakNote) {
  // 300 + 1029 keV = 1329 keV; both well above 3 x the sum peak's rate.
  state.peaks.centre[2] = 343.0f;
  state.peaks.gps[1] = 100;
  state.peaks.gps[2] = 200;
  state.peaks.gps[3] = 5;
  state.results.peak_sum[1] = state.results.peak_sum[2] = 1;
  ReportText act;
  append_unidentified_peaks(state, act);
  EXPECT_NE(act.text.find("    This could be the Sum Peak from the Peaks at  300.0 keV. and 1029.0 keV.\r\n"
                          "                              Gammas per second:- 1.00e+02  and  2.00e+02\r\n"),
            std::string::npos)
      << act.text;
}

// A calibration whose offset is wrong (fitted far from the sum): the sum
// peak's energy is not the sum of the energies, but its channel is the sum
// of the channels, and that is what the note goes by.
TEST_F(MainReport, SumPeakNoteByChannelsWhereTheEnergiesDoNotAdd) {
  state.spectrum.calibration.energy = {-50.0f, 3.5f, 0.0f};
  state.spectrum.calibration.energy_terms = 2;
  state.peaks.centre[2] = 220.0f;
  state.peaks.centre[3] = 320.1f;  // 1070.35 keV; 300 + 720 = 1020 keV
  state.peaks.gps[1] = 100;
  state.peaks.gps[2] = 200;
  state.peaks.gps[3] = 5;
  state.results.peak_sum[1] = state.results.peak_sum[2] = 1;
  ReportText act;
  append_unidentified_peaks(state, act);
  EXPECT_NE(act.text.find("    This could be the Sum Peak from the Peaks at  300.0 keV. and  720.0 keV.\r\n"),
            std::string::npos)
      << act.text;
  // A peak at neither sum gets no note.
  state.peaks.centre[3] = 345.0f;
  ReportText none;
  append_unidentified_peaks(state, none);
  EXPECT_EQ(none.text.find("Sum Peak"), std::string::npos) << none.text;
}

}  // namespace
}  // namespace kestrim

namespace kestrim {
namespace {

class MainReportFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    test::fill_state(state);
    state.paths.working_dir = work.path();
    state.paths.program_dir = program.path();
    make_directories(program.file("Templates"));
    std::ofstream(program.file("Templates/report.tpl"), std::ios::binary) << "Shipped ?SPCF\r\n";
    assign(state.params.report_template, "report.tpl");
  }
  static std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  test::TempDir work, program;
  ScriptedPlatform ui;
  State state{ui};
};

TEST_F(MainReportFiles, ShippedTemplateCopiedOnceAndCopiesNumbered) {
  state.params.numbered_reports = 1;
  state.params.named_reports = 1;
  ASSERT_EQ(write_main_report(state), 1);
  EXPECT_EQ(read_all(work.file("report.tpl")), "Shipped ?SPCF\r\n");
  const std::string first = read_all(work.file(kMainReport));
  EXPECT_NE(first.find("Shipped soil_a.dat"), std::string::npos);
  // The named copy keeps the spectrum's whole name, so that it can never
  // replace a spectrum (a text spectrum "soil_a.txt" among them).
  EXPECT_EQ(read_all(work.file("soil_a.dat.txt")), first);
  EXPECT_EQ(read_all(work.file("soil_a.001")), first);
  // The user's copy is used and never overwritten; the next number is free.
  std::ofstream(work.file("report.tpl"), std::ios::binary) << "Mine\r\n";
  ASSERT_EQ(write_main_report(state), 1);
  EXPECT_EQ(read_all(work.file("report.tpl")), "Mine\r\n");
  EXPECT_NE(read_all(work.file("soil_a.002")).find("Mine"), std::string::npos);
  EXPECT_EQ(read_all(work.file("soil_a.001")), first);
}

TEST_F(MainReportFiles, MissingTemplateIsReported) {
  assign(state.params.report_template, "other.tpl");
  EXPECT_EQ(write_main_report(state), 0);
  EXPECT_TRUE(ui.said("Could not find the template file:- other.tpl"));
  EXPECT_FALSE(file_exists(work.file(kMainReport)));
}

}  // namespace
}  // namespace kestrim

#include "nuclides/quant_fixture.h"

namespace kestrim {
namespace {

// Section 3 walks a second library in its own order and prints the
// reported nuclides of it; a limit entry (uncertainty 0) gets "<".
TEST_F(MainReportFiles, SecondLibraryRowsInItsOrder) {
  NuclideLibrary lib;
  test::add_nuclide(lib, "Co-60", 2.77e6, {{1332.5, 0.9998, 0.01}});
  test::add_nuclide(lib, "K-40", 6.7e14, {{1460.8, 0.1066, 0.01}});
  test::add_nuclide(lib, "Cs-137", 1.58e7, {{661.7, 0.851, 0.01}});
  make_directories(program.file("Libraries"));
  ASSERT_EQ(save_library_file(ui, lib, program.file("Libraries/second.lib")), 1);
  assign(state.params.peak_search_library, "second.lib");
  state.params.calculate_lod = 0;
  state.peaks.count = 1;
  state.peaks.net_area[1] = 10;
  NuclideResult cs = result("Cs-137", ' ', 0, 5, 10, 6, 0.6);
  NuclideResult k = result("K-40", ' ', -1, 2.5, 0, 3, 0);
  state.results.results = {cs, k};
  std::ofstream(work.file("s3.tpl"), std::ios::binary)
      << "?RESU\r\n%s|%s|%.1f\r\n?AERR\r\n%s|%s|%.1f|%s|%.1f|%s|%.2f|\r\n";
  assign(state.params.report_template, "s3.tpl");
  ASSERT_EQ(write_main_report(state), 1);
  const std::string out = read_all(work.file(kMainReport));
  EXPECT_NE(out.find("K-40|<|3.0\r\nCs-137| |6.0\r\n"), std::string::npos) << out;
  EXPECT_NE(out.find("K-40|<|2.5|<|3.0||0.00|\r\nCs-137| |5.0| |6.0| |0.60|\r\n"), std::string::npos)
      << out;
  EXPECT_EQ(out.find("Co-60"), std::string::npos);
}

}  // namespace
}  // namespace kestrim

namespace kestrim {
namespace {

TEST_F(MainReport, PossibleNuclidesOfAnUnidentifiedPeak) {
  // Peak 1 at 300 keV; tol(300) = 0.71 keV, so the window is +-1.06 keV.
  test::add_nuclide(state.library, "Weak", 100, {{300.2, 0.005, 0}, {1000, 1, 0}});
  test::add_nuclide(state.library, "Ra-226", 100, {{299.5, 0.2, 0}, {609, 0.45, 0}});
  test::add_nuclide(state.library, "Far", 100, {{301.1, 1, 0}});
  test::add_nuclide(state.library, "Found", 100, {{300.0, 0.02, 0}, {1000, 1, 0}});
  state.results.results = {result("Found", ' ', 3, 1, 10, 1, 0.1)};
  state.results.peak_sum[2] = state.results.peak_sum[3] = 1;
  ReportText act;
  append_unidentified_peaks(state, act);
  // "Weak" is below 10 % of its largest line; "Found" was reported, so 1 %
  // is enough; "Far" lies outside the window.
  EXPECT_NE(act.text.find("    5.00   Ra-226  Found   \r\n"), std::string::npos) << act.text;
}

}  // namespace
}  // namespace kestrim

namespace kestrim {
namespace {

// The shipped report template on the hand-built session, compared whole
// with tests/reports/golden/main_report.txt (checked by hand: header
// values of the fixture, Co-60 row with its rounded values, the custom
// rows of its two peaks, the LOD part ending without a LOD library).
TEST_F(MainReport, GoldenShippedTemplate) {
  std::ifstream in(test::source_data_dir() + "/Templates/report.tpl", std::ios::binary);
  std::stringstream tpl;
  tpl << in.rdbuf();
  ASSERT_FALSE(tpl.str().empty());
  state.params.calculate_lod = 0;
  state.params.activity_sigma = 2;
  state.params.peak_sigma = 1;
  state.results.results = {result("Co-60", ' ', 0, 12.34, 6.2, 9.87, 0.62)};
  state.results.accepted.resize(1);
  IdentifiedLine a, b;
  a.peak = 2;
  a.yield = 0.5;
  a.energy = 662.5;
  b.peak = 3;
  b.yield = 0.25;
  b.energy = 1330.1;
  state.results.lines = {a, b};
  state.results.peak_sum[1] = 0.1;  // peak 1 unidentified, 5 % uncertainty
  state.results.peak_sum[2] = state.results.peak_sum[3] = 1;
  const std::string out = report(tpl.str());
  const std::string golden_path = test::source_data_dir() + "/../tests/reports/golden/main_report.txt";
  std::ifstream g(golden_path, std::ios::binary);
  std::stringstream golden;
  golden << g.rdbuf();
  if (golden.str().empty()) std::ofstream(golden_path + ".new", std::ios::binary) << out;
  EXPECT_EQ(out, golden.str());
}

}  // namespace
}  // namespace kestrim

namespace kestrim {
namespace {

// Section 2: one row per nuclide of the LOD library; found nuclides only
// when limits are asked for them too.
TEST_F(MainReportFiles, LimitRowsOfTheLodLibrary) {
  NuclideLibrary lib;
  test::add_nuclide(lib, "Co-60", 2.77e6, {{1332.5, 0.9998, 0.01}});
  test::add_nuclide(lib, "Cs-137", 1.58e7, {{661.7, 0.851, 0.01}});
  test::add_nuclide(lib, "K-40", 6.7e14, {{1460.8, 0.1066, 0.01}});
  make_directories(program.file("Libraries"));
  ASSERT_EQ(save_library_file(ui, lib, program.file("Libraries/lod.lib")), 1);
  assign(state.params.lod_library, "lod.lib");
  state.params.calculate_lod = 1;
  state.params.lod_for_found = 0;
  state.params.lod_sigma = 1.645f;
  for (int c = 2; c < 1024; ++c) state.spectrum.counts[c] = 10;
  state.results.results = {result("Cs-137", ' ', 0, 5, 10, 6, 0.6)};
  std::ofstream(work.file("s2.tpl"), std::ios::binary) << "?LODS\r\n[%s]\r\n";
  assign(state.params.report_template, "s2.tpl");
  ASSERT_EQ(write_main_report(state), 1);
  std::string out = read_all(work.file(kMainReport));
  EXPECT_NE(out.find("[Co-60]\r\n[K-40]\r\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("[Cs-137]"), std::string::npos) << out;
  state.params.lod_for_found = 1;
  ASSERT_EQ(write_main_report(state), 1);
  out = read_all(work.file(kMainReport));
  EXPECT_NE(out.find("[Co-60]\r\n[Cs-137]\r\n[K-40]\r\n"), std::string::npos) << out;
}

}  // namespace
}  // namespace kestrim

#include "reports/template_reports.h"

namespace kestrim {
namespace {

TEST(SeedTemplates, NewWorkingFolderGetsEveryShippedTemplateOnceAndNothingIsOverwritten) {
  test::TempDir dir;
  ScriptedPlatform ui;
  State state(ui);
  state.paths.program_dir = dir.file("program");
  state.paths.working_dir = dir.file("work");
  make_directories(dir.file("program/Templates"));
  make_directories(dir.file("work"));
  test::write_text(dir.file("program/Templates/report.tpl"), "shipped report\r\n");
  test::write_text(dir.file("program/Templates/Header Report.tpl"), "shipped header\r\n");
  EXPECT_EQ(seed_shipped_templates(state), 2);
  EXPECT_EQ(test::read_text(dir.file("work/Header Report.tpl")), "shipped header\r\n");
  // The user's edits stay; a folder that has any template gets nothing more.
  test::write_text(dir.file("work/report.tpl"), "mine\r\n");
  remove_file(dir.file("work/Header Report.tpl"));
  EXPECT_EQ(seed_shipped_templates(state), 0);
  EXPECT_EQ(test::read_text(dir.file("work/report.tpl")), "mine\r\n");
  EXPECT_FALSE(file_exists(dir.file("work/Header Report.tpl")));
}

}  // namespace
}  // namespace kestrim
