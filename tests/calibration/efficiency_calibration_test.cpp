// The efficiency calibration: source files, points, curves and merging.
#include "calibration/efficiency_calibration.h"
#include "platform/c_locale.h"

#include <gtest/gtest.h>

#include <cmath>

#include "cal_fixture.h"
#include "settings/library.h"

namespace kestrim {
namespace {

using test::CalSession;

EfficiencyCalibration with_eff_lines(const std::vector<std::array<double, 3>>& lines, double crossover) {
  EfficiencyCalibration ec;
  ec.source.crossover = crossover;
  for (const auto& l : lines) {
    SourceLine s;
    s.type = "EFF";
    s.energy = l[0];
    s.value = l[1];
    s.uncertainty = l[2];
    ec.source.lines.push_back(s);
  }
  return ec;
}

// Efficiency in per cent of a smooth NaI-like curve.
double curve_percent(double e) {
  const double x = std::log(e);
  return 100 * std::exp(-7.70 + 2.192 * x - 0.238 * x * x);
}

TEST(EfficiencySource, ParsesKeywordsAndTheThreeLineTypes) {
  const std::string text =
      "Mixed source 2026\r\n"
      "Crossover  200.0\r\n"
      "Description 1 L bottle on the end cap\r\n"
      "Sample Size    1.0000 L\r\n"
      "Standard Mass    0.0000 g\r\n"
      "Total Uncertainty    3.0\r\n"
      "Bkg File room.bkg\r\n"
      "ACT   59.5   Am-241  3000.0000   1.50 KBQ 1-Jun-2026 12:00\r\n"
      "gps  661.7   Cs-137   250.0000   2.00 1/6/2026 12:00\r\n"
      "EFF  661.7     1.2000   2.00\r\n"
      "EFF  100.0     0.0000   2.00\r\n";  // a zero value: dropped
  EfficiencySource s;
  ASSERT_EQ(parse_source_file(text, s), 3);
  EXPECT_EQ(s.title, "Mixed source 2026");
  EXPECT_EQ(s.crossover, 200);
  EXPECT_EQ(s.description, "1 L bottle on the end cap");
  EXPECT_EQ(s.sample_unit, "L");
  EXPECT_EQ(s.total_uncertainty, 3);
  EXPECT_EQ(s.background_file, "room.bkg");
  EXPECT_EQ(s.lines[0].type, "ACT");
  EXPECT_EQ(s.lines[0].nuclide, "Am-241");
  EXPECT_EQ(s.lines[0].unit, "KBQ");
  EXPECT_EQ(s.lines[0].date, "1-Jun-2026");
  EXPECT_EQ(s.lines[1].type, "GPS");
  EXPECT_NEAR(s.lines[1].value, 250, 1e-4);
  EXPECT_EQ(s.lines[2].type, "EFF");
  // The writer's text reads back the same.
  EfficiencySource again;
  ASSERT_EQ(parse_source_file(format_source_file(s), again), 3);
  EXPECT_EQ(again.lines[0].unit, "KBQ");
  EXPECT_NEAR(again.lines[2].value, 1.2, 1e-6);
  EXPECT_EQ(again.description, s.description);
  EXPECT_NE(format_source_file(s).find("EFF  661.7     1.2000   2.00\r\n"), std::string::npos);
}

TEST(EfficiencySource, EditorChecks) {
  SourceLine l;
  l.type = "ACT";
  l.energy = 0;
  l.value = 1;
  l.unit = "BQ";
  EXPECT_EQ(check_source_line(l), "The Energy should be greater than 0");
  l.energy = 100;
  l.unit = "Ci";
  EXPECT_EQ(check_source_line(l), "The Activity units should be B,K,M or U for Bq,KBq,MBq or uCi");
  l.unit = "uci";
  EXPECT_EQ(check_source_line(l), "");
  EXPECT_EQ(activity_unit_factor("UCI"), 37000);
  EXPECT_EQ(activity_unit_factor("MBQ"), 1e6);
  EXPECT_EQ(activity_unit_factor("BQ"), 1);
}

TEST(EfficiencyPoints, EffLineGivesFractions) {
  CalSession s;
  EfficiencyCalibration ec = with_eff_lines({{661.7, 1.2, 2.0}}, 0);
  compute_efficiency_points(s.state, ec);
  ASSERT_EQ(ec.points.size(), 1u);
  EXPECT_NEAR(ec.points[0].efficiency, 0.012, 1e-12);
  EXPECT_NEAR(ec.points[0].uncertainty, 0.02, 1e-12);
}

TEST(EfficiencyPoints, EmissionRateDecaysToTheCountAndDuringIt) {
  EfficiencySource src;
  SourceLine l;
  l.type = "ACT";
  l.value = 2;
  l.unit = "KBQ";
  // The procedure's ln 2 is 0.6931471 (a relative 1e-7 below the true
  // value), so the known answers hold to 1e-4 /s, not to rounding.
  // One half-life (100 min) before the count: 2 kBq x 0.5 yield -> 500 /s.
  EXPECT_NEAR(source_emission_rate(l, src, 0.5, 100, 100, 0), 500, 1e-4);
  // Counting for one half-life (6000 s): mean factor (1 - 1/2) / ln 2.
  EXPECT_NEAR(source_emission_rate(l, src, 0.5, 100, 0, 6000), 1000 * 0.5 / std::log(2.0), 1e-3);
  src.standard_mass = 2;
  l.type = "GPS";  // no unit factor
  EXPECT_NEAR(source_emission_rate(l, src, 1, 100, 0, 0), 4, 1e-12);
}

TEST(EfficiencyPoints, ActLineUsesThePeakAndTheLibraryYield) {
  CalSession s;
  s.linear_calibration(0, 2);
  s.add_peak(330.8, 50, 8499, 2.0);  // 661.6 keV, 8499 counts in 1000 s
  s.add_peak(600, 50, 100, 2.0);
  CurrentNuclide cs;
  assign(cs.nuclide.name, "Cs-137");
  cs.nuclide.half_life = static_cast<float>(30.08 * 365.25 * 1440);
  cs.line_count = 1;
  cs.energy[0] = 661.657f;
  cs.yield[0] = 0.8499f;
  cs.uncertainty[0] = 0.002f;
  ASSERT_TRUE(s.state.library.append(cs));
  s.state.spectrum.header.collected = {1, 6, 2026, 12, 0};
  s.state.spectrum.header.true_time = 0;  // no decay during the count
  EfficiencyCalibration ec;
  SourceLine l;
  l.type = "ACT";
  l.energy = 661.7;
  l.value = 10;
  l.uncertainty = 3;
  l.nuclide = "Cs-137";
  l.unit = "KBQ";
  l.date = "1-Jun-2026";
  l.time = "12:00";
  ec.source.lines.push_back(l);
  l.nuclide = "Ba-133";
  ec.source.lines.push_back(l);
  l.energy = 1460;
  ec.source.lines.push_back(l);
  compute_efficiency_points(s.state, ec);
  ASSERT_EQ(ec.points.size(), 1u);
  // 8.499 counts/s over 10 kBq x 0.8499 = 8499 gammas/s.
  EXPECT_NEAR(ec.points[0].efficiency, 0.001, 1e-9);
  EXPECT_NEAR(ec.points[0].uncertainty,
              std::sqrt(0.02 * 0.02 + 0.03 * 0.03 + std::pow(0.002 / 0.8499, 2)), 1e-6);
  EXPECT_TRUE(s.ui.said("Isotope Ba-133 was not in the Library"));
  EXPECT_TRUE(s.ui.said("Warning - no peak was found at 1460.0 keV"));
}

TEST(EfficiencyFit, FivePointsResetTheCrossover) {
  CalSession s;
  std::vector<std::array<double, 3>> lines;
  for (double e : {60.0, 122.0, 662.0, 1173.0, 1332.0}) lines.push_back({e, curve_percent(e), 2.0});
  EfficiencyCalibration ec = with_eff_lines(lines, 200);
  compute_efficiency_points(s.state, ec);
  EXPECT_EQ(ec.crossover, 0);
  EXPECT_EQ(ec.low_order, 0);
  ASSERT_EQ(fit_efficiency(s.state, ec), 1);
  const CalibrationRecord& cal = s.state.spectrum.calibration;
  EXPECT_EQ(cal.crossover, 0);
  EXPECT_EQ(cal.low_eff_terms, 0);
  EXPECT_EQ(cal.high_eff_terms, 3);  // 5 high points: order 3
  // The quadratic in ln E is reproduced at every point.
  for (double e : {60.0, 662.0, 1332.0})
    EXPECT_NEAR(efficiency_at(cal, e) * 100 / curve_percent(e), 1.0, 1e-4);
  EXPECT_EQ(s.state.spectrum.efficiency.count, 5);
  EXPECT_TRUE(s.state.app.efficiency_update_pending);
}

// Two points below the crossover cannot make the low curve; energies there
// would get no efficiency (once read as 100 %), so the fit is refused and
// the record keeps its calibration.
TEST(EfficiencyFit, TwoLowPointsAreRefusedNotLeftWithoutALowCurve) {
  CalSession s;
  std::vector<std::array<double, 3>> lines;
  for (double e : {60.0, 88.0, 300.0, 662.0, 898.0, 1173.0, 1332.0, 1836.0})
    lines.push_back({e, curve_percent(e), 2.0});
  EfficiencyCalibration ec = with_eff_lines(lines, 150);
  compute_efficiency_points(s.state, ec);
  ASSERT_EQ(ec.crossover, 150);
  const CalibrationRecord before = s.state.spectrum.calibration;
  EXPECT_EQ(fit_efficiency(s.state, ec), 0);
  ASSERT_FALSE(s.ui.messages.empty());
  EXPECT_EQ(s.ui.messages.back().text,
            "The low energy curve needs at least 3 efficiency points at or below the crossover "
            "(150.0 keV); 2 were found");
  EXPECT_EQ(s.state.spectrum.calibration.high_eff, before.high_eff);
  EXPECT_EQ(s.state.spectrum.calibration.low_eff_terms, before.low_eff_terms);
}

TEST(EfficiencyFit, LowCurveTakesOnePointAboveTheCrossover) {
  CalSession s;
  std::vector<std::array<double, 3>> lines;
  // Below 200 keV a straight line in ln E; above, another one. The low
  // curve's fit includes 662 keV, so only an exact 3-term fit passes all four.
  for (double e : {60.0, 88.0, 122.0, 662.0, 898.0, 1173.0, 1332.0})
    lines.push_back({e, curve_percent(e), 2.0});
  EfficiencyCalibration ec = with_eff_lines(lines, 200);
  compute_efficiency_points(s.state, ec);
  EXPECT_EQ(ec.low_order, 3);   // low count 1 + 3 = 4 > 2
  EXPECT_EQ(ec.high_order, 3);  // 4 high points > 3
  ASSERT_EQ(fit_efficiency(s.state, ec), 1);
  const CalibrationRecord& cal = s.state.spectrum.calibration;
  EXPECT_EQ(cal.low_eff_terms, 3);
  EXPECT_EQ(cal.high_eff_terms, 3);
  // Both curves are the generating quadratic.
  EXPECT_NEAR(cal.low_eff[2], -0.238, 1e-4);
  EXPECT_NEAR(cal.high_eff[2], -0.238, 1e-4);
}

TEST(EfficiencyFit, VarianceCoefficientsAreAntiDiagonalSums) {
  // Two points of relative uncertainty 0.1 at E = e^1 and e^3 (x = 1, 3):
  // N = 100 [[2, 4], [4, 10]], N^-1 = [[10, -4], [-4, 2]] / 400.
  std::vector<EffPoint> pts = {{std::exp(1.0), 0, 0.5, 0.1}, {std::exp(3.0), 0, 0.25, 0.1}};
  CurveFit fit;
  ASSERT_TRUE(fit_efficiency_curve(pts, 0, 1, 2, false, fit));
  EXPECT_NEAR(fit.variance[0], 10.0 / 400, 1e-12);
  EXPECT_NEAR(fit.variance[1], -8.0 / 400, 1e-12);
  EXPECT_NEAR(fit.variance[2], 2.0 / 400, 1e-12);
  // ln 0.25 - ln 0.5 over 2: slope -ln2/2.
  EXPECT_NEAR(fit.coeff[1], -std::log(2.0) / 2, 1e-12);
}

TEST(EfficiencyFit, InverseEnergyForm) {
  CalSession s;
  // ln eff = -0.5 e - 2 + 0.1 / e, e in MeV.
  std::vector<std::array<double, 3>> lines;
  for (double e : {100.0, 300.0, 662.0, 1000.0, 1500.0}) {
    const double m = e / 1000;
    lines.push_back({e, 100 * std::exp(-0.5 * m - 2 + 0.1 / m), 1.0});
  }
  EfficiencyCalibration ec = with_eff_lines(lines, 0);
  ec.inverse = true;
  compute_efficiency_points(s.state, ec);
  ASSERT_EQ(fit_efficiency(s.state, ec), 1);
  const CalibrationRecord& cal = s.state.spectrum.calibration;
  EXPECT_EQ(cal.inverse_form, cal.high_eff_terms);
  EXPECT_NEAR(efficiency_at(cal, 800), std::exp(-0.4 - 2 + 0.125), 1e-6);
}

TEST(EfficiencyFit, OnePointFails) {
  CalSession s;
  EfficiencyCalibration ec = with_eff_lines({{661.7, 1.2, 2.0}}, 0);
  compute_efficiency_points(s.state, ec);
  EXPECT_EQ(fit_efficiency(s.state, ec), 0);
  EXPECT_TRUE(s.ui.said("Need at least 2 Peaks for Calibration"));
}

TEST(EfficiencyFit, EquationsWriteNegativeCoefficientsInParentheses) {
  CalibrationRecord cal;
  cal.high_eff_terms = 3;
  cal.high_eff = {-7.5f, 2.25f, -0.25f, 0, 0, 0};
  EXPECT_EQ(efficiency_equation(cal, true, false),
            "Log(Efficiency)=-7.500000e+00+2.250000e+00*Log(En)+(-2.500000e-01*Log(En)^2)\r\n");
  EXPECT_EQ(efficiency_equation(cal, true, true),
            " Linear Energy Polynominal used\r\n"
            "Log(Efficiency)=-7.500000e+00*En+2.250000e+00+(-2.500000e-01*En^-1)\r\n");
}

TEST(EfficiencyMerge, CloseEnergiesCombineAndOthersAppend) {
  CalSession s;
  std::vector<std::array<double, 3>> lines;
  for (double e : {122.0, 661.7, 1332.0}) lines.push_back({e, curve_percent(e), 2.0});
  EfficiencyCalibration ec = with_eff_lines(lines, 0);
  compute_efficiency_points(s.state, ec);
  const double before = ec.points[1].efficiency;
  s.ui.answers.push_back(kAnswerYes);
  ASSERT_EQ(merge_edf_text(s.state, ec,
                           "EFF  661.9  1.00000e-02  4.00000e-02\r\n"
                           "EFF  662.2  1.10000e-02  2.00000e-02\r\n"),
            1);
  ASSERT_EQ(ec.points.size(), 4u);
  // Weights 1/0.02^2 = 2500 and 1/0.04^2 = 625.
  EXPECT_NEAR(ec.points[1].efficiency, (before * 2500 + 0.01 * 625) / 3125, 1e-9);
  EXPECT_NEAR(ec.points[1].uncertainty, 1 / std::sqrt(3125.0), 1e-9);
  EXPECT_NEAR(ec.points[3].energy, 662.2, 1e-4);
  ASSERT_EQ(s.ui.messages.size(), 1u);  // asked once
  EXPECT_EQ(s.ui.messages[0].text, "Do you want to combine Efficiency values ?");
  EXPECT_EQ(s.ui.messages[0].caption, "No adds new Calibration points");
}

TEST(EfficiencyMerge, NoMoreThanFortyPoints) {
  CalSession s;
  EfficiencyCalibration ec;
  std::string edf;
  for (int i = 0; i < 45; ++i) {
    char buf[80];
    kestrim::c_snprintf(buf, sizeof buf, "EFF %6.1f %12.5e %12.5e\r\n", 50.0 + 40 * i, curve_percent(50.0 + 40 * i) / 100, 0.02);
    edf += buf;
  }
  merge_edf_text(s.state, ec, edf);
  EXPECT_EQ(ec.points.size(), 40u);
  EXPECT_EQ(s.state.spectrum.efficiency.count, 40);
  EXPECT_EQ(s.ui.messages.size(), 1u);
}

TEST(EfficiencyFiles, EdfAndListingLayouts) {
  CalSession s;
  s.linear_calibration(0, 2);
  std::vector<std::array<double, 3>> lines;
  for (double e : {60.0, 122.0, 662.0, 1332.0}) lines.push_back({e, curve_percent(e), 2.0});
  EfficiencyCalibration ec = with_eff_lines(lines, 0);
  ec.source.description = "bottle";
  compute_efficiency_points(s.state, ec);
  ASSERT_EQ(fit_efficiency(s.state, ec), 1);
  EXPECT_EQ(edf_text(ec).substr(0, 38), "EFF   60.0  6.62085e-02  2.00000e-02\r\n");
  ASSERT_TRUE(write_edf_file(s.state, ec));
  EXPECT_EQ(s.read_work("cal.edf"), edf_text(ec));
  const std::string listing = efficiency_listing_text(s.state);
  EXPECT_EQ(listing.substr(0, listing.find("Eff ")),
            "Detector 3, Geometry 2\r\nDescription bottle\r\nCrossover    0.0\r\n");
  // Steps of 50 keV below 300, 100 below 1000, 200 above, up to 2046 keV.
  EXPECT_NE(listing.find("Eff  250.0"), std::string::npos);
  EXPECT_NE(listing.find("Eff  300.0"), std::string::npos);
  EXPECT_EQ(listing.find("Eff  350.0"), std::string::npos);
  EXPECT_NE(listing.find("Eff 1000.0"), std::string::npos);
  EXPECT_NE(listing.find("Eff 2000.0"), std::string::npos);
  EXPECT_EQ(listing.find("Low Energy order"), std::string::npos);
  EXPECT_NE(listing.find("High Energy order:- 3\r\nCoef(0):- "), std::string::npos);
}

TEST(EfficiencyReport, Layout) {
  CalSession s;
  // Checked by hand: 10 % at 100 keV and 1 % at 1000 keV, 2 % each, lie on
  // ln eff = ln 10 - ln E; two points and two terms pass through both, so
  // the fitted uncertainty at each is the point's own 2 %.
  EfficiencyCalibration ec = with_eff_lines({{100, 10, 2}, {1000, 1, 2}}, 0);
  ec.source.description = "point source at 10 cm";
  ec.source.total_uncertainty = 2.5;
  compute_efficiency_points(s.state, ec);
  ASSERT_EQ(fit_efficiency(s.state, ec), 1);
  const std::string text = test::after_date_line(efficiency_report_text(s.state, ec, true));
  const std::string point_start = "          100.0     10.0000 +/- 2.0 %     10.0000 +/- 2.0 % ";
  EXPECT_EQ(text.substr(0, text.find(point_start)),
            "        Efficiency Calibration Report for Detector 3, Geometry 2\r\n"
            "        Geometry Description: point source at 10 cm\r\n\r\n"
            "          Energy                 % Efficiency              Difference\r\n"
            "                        Measured             Fitted             %\r\n\r\n");
  EXPECT_NE(text.find(point_start), std::string::npos) << text;
  EXPECT_NE(text.find("\r\n         1000.0      1.0000 +/- 2.0 %      1.0000 +/- 2.0 % "), std::string::npos)
      << text;
  const std::string tail = text.substr(text.find("\r\n\r\n Crossover"));
  EXPECT_EQ(tail,
            "\r\n\r\n Crossover Energy:-   0.0\r\n"
            " High Energy Order of Fit:- 2\r\n"
            "Log(Efficiency)=2.302585e+00+(-1.000000e+00*Log(En))\r\n"
            "\r\n Spectrum data file used:- cal.dat\r\n"
            " Source uncertainty : 2.50 %\r\n");
  const std::string failed = test::after_date_line(efficiency_report_text(s.state, ec, false));
  EXPECT_EQ(failed.substr(failed.find("Geometry Description")),
            "Geometry Description: point source at 10 cm\r\n\r\n"
            " Efficiency Calibration Failed\r\n\r\n"
            "\r\n Spectrum data file used:- cal.dat\r\n"
            " Source uncertainty : 2.50 %\r\n");
}

TEST(EfficiencyWindow, SourceSaveAsksBeforeReplacingAndCancelRestores) {
  CalSession s;
  EfficiencySource src;
  src.title = "check source";
  src.lines.push_back({"EFF", 661.7, 1.2, 2.0, "", "", "", ""});
  FileDialog chosen;
  chosen.paths = {s.dir.file("work/check")};
  s.ui.save_results.push_back(chosen);
  ASSERT_EQ(save_source_file(s.state, src), 1);
  EfficiencySource back;
  ASSERT_EQ(load_source_file(s.state, s.dir.file("work/check.efc"), back), 1);
  EXPECT_EQ(back.title, "check source");
  chosen.paths = {s.dir.file("work/check.efc")};
  s.ui.save_results.push_back(chosen);
  s.ui.answers.push_back(kAnswerNo);
  EXPECT_EQ(save_source_file(s.state, src), 0);
  EXPECT_EQ(s.ui.messages.back().text, "Update Source data file " + s.dir.file("work/check.efc") + " ?");

  // A calibration made in the window and then cancelled leaves nothing behind.
  EfficiencyCalibration ec = with_eff_lines({{100, 10, 2}, {1000, 1, 2}}, 0);
  keep_copies(s.state, ec.copies);
  compute_efficiency_points(s.state, ec);
  ASSERT_EQ(fit_efficiency(s.state, ec), 1);
  EXPECT_EQ(close_efficiency_window(s.state, ec, true), 1);
  EXPECT_EQ(s.state.spectrum.calibration.high_eff_terms, 0);
  EXPECT_EQ(s.state.spectrum.efficiency.count, 0);
  EXPECT_EQ(s.ui.statuses.back(), "Efficiency Calibration was abandoned");
  // Points without a calibration: the question, and Cancel keeps the window.
  EfficiencyCalibration open = with_eff_lines({{100, 10, 2}, {1000, 1, 2}}, 0);
  compute_efficiency_points(s.state, open);
  s.ui.answers.push_back(kAnswerCancel);
  EXPECT_EQ(close_efficiency_window(s.state, open, false), 0);
  EXPECT_EQ(s.ui.messages.back().text, "Do you want to perform the Calibration ?");
}

TEST(EfficiencyWindow, ListLines) {
  CalSession s;
  EfficiencyCalibration ec = with_eff_lines({{100, 10, 2}, {1000, 1, 2}, {5000, 0.0123, 2}}, 0);
  compute_efficiency_points(s.state, ec);
  ASSERT_EQ(fit_efficiency(s.state, ec), 1);
  std::vector<std::string> lines = efficiency_point_lines(s.state, ec);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].substr(0, 14), " 100.0 10.000 ");  // energy, measured, then fitted
  EXPECT_EQ(lines[2].substr(0, 13), "5000.0 1.2e-2");
  EXPECT_EQ(list_percent(0.0123, 0.05), "1.2e-2");
  EXPECT_EQ(list_percent(0.09, 0.1), "9.0e-2");
  EXPECT_EQ(list_percent(0.09, 0.05), " 0.090");
  EXPECT_EQ(lines[3].size(), 11u);
}

TEST(EfficiencyFiles, ListingWithoutCalibrationSaysSo) {
  CalSession s;
  EXPECT_EQ(efficiency_listing_text(s.state), "");
  EXPECT_TRUE(s.ui.said("There is currently no Efficiency Calibration"));
}

}  // namespace
}  // namespace kestrim
