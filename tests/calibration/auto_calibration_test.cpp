// Automatic re-calibration, drift correction and the quantitative
// auto-calibration.
#include "calibration/auto_calibration.h"

#include <gtest/gtest.h>

#include <cmath>

#include "cal_fixture.h"

namespace kestrim {
namespace {

using test::CalSession;

void store_energies(CalSession& s, const std::vector<float>& energies) {
  CalibrationRecord& cal = s.state.spectrum.calibration;
  cal.energy_count = static_cast<float>(energies.size());
  for (std::size_t i = 0; i < energies.size(); ++i) cal.energies[i] = energies[i];
}

TEST(AutoCalibration, DriftedStoredEnergyIsReportedAndLeftOut) {
  CalSession s;
  s.state.params.energy_tolerance = 10;  // tol(E) = 2.5 + 0.015 E keV
  s.linear_calibration(0, 2);
  store_energies(s, {200, 600, 1000, 1400});
  s.add_peak(101);  // 202 keV: within 5.5 keV of 200
  s.add_peak(300);  // 600 keV
  s.add_peak(500);  // 1000 keV
  s.add_peak(720);  // 1440 keV: 40 keV from 1400, beyond 23.5
  AutoCalibration ac;
  ASSERT_EQ(setup_auto_points(s.state, ac), 1);
  ASSERT_EQ(ac.list.count(), 3);
  ASSERT_EQ(s.ui.messages.size(), 1u);
  EXPECT_EQ(s.ui.messages[0].text, "Warning, no Peak was found near 1400 keV");
  EXPECT_EQ(s.ui.messages[0].caption, "There was a Peak at this Energy in the original calibration");
  EXPECT_EQ(ac.list.points[0].old_energy, 202);
  // The record's first-order form is kept.
  ASSERT_EQ(calibrate_auto(s.state, ac), 1);
  const CalibrationRecord& cal = s.state.spectrum.calibration;
  EXPECT_EQ(cal.energy_terms, 2);
  // Checked by hand: the line through (101, 200), (300, 600), (500, 1000) has
  // slope 159600 / 79600.67 = 2.00501 and offset 600 - 2.00501 x 300.33 = -2.171.
  EXPECT_NEAR(cal.energy[1], 2.0050083, 1e-6);
  EXPECT_NEAR(cal.energy[0], -2.170836, 1e-4);
  // The stored energies stay as they were.
  EXPECT_EQ(cal.energy_count, 4);
  EXPECT_EQ(test::after_date_line(auto_report_text(s.state, ac, true)),
            "        Auto-Energy Calibration Report for Detector number 3\r\n\r\n"
            "           Peak     Original  Reference  Fitted      Energy\r\n"
            "          Channel    Energy    Energy    Energy    Difference\r\n\r\n"
            "           101.0     202.00    200.00    200.33      -0.33\r\n"
            "           300.0     600.00    600.00    599.33       0.67\r\n"
            "           500.0    1000.00   1000.00   1000.33      -0.33\r\n"
            "\r\n Order of Fit used:- 2\r\n\r\n"
            " Energy = -2.1708e+00 +  2.0050e+00*ch\r\n"
            "\r\n Spectrum data file used:- cal.dat\r\n");
  std::vector<std::string> lines = auto_point_lines(s.state, ac);
  EXPECT_EQ(lines[1], "  300.0  600.00  599.33   0.67");
}

TEST(AutoCalibration, OneMatchingPeakCannotRecalibrate) {
  CalSession s;
  s.linear_calibration(0, 2);
  store_energies(s, {200, 600});
  s.add_peak(300);
  AutoCalibration ac;
  EXPECT_EQ(setup_auto_points(s.state, ac), 0);
  EXPECT_TRUE(s.ui.said("Only 1 matching Peak was found"));
  EXPECT_EQ(s.ui.statuses.back(), "Could not re-calibrate");
}

TEST(AutoCalibration, RefusedWithTheSpectrumFileCalibrationOrNone) {
  CalSession s;
  AutoCalibration ac;
  EXPECT_EQ(prepare_auto_calibration(s.state, ac), 0);
  EXPECT_TRUE(s.ui.said("There is no Energy Calibration yet"));
  s.linear_calibration(0, 2);
  s.state.params.use_file_energy_calibration = 1;
  EXPECT_EQ(prepare_auto_calibration(s.state, ac), 0);
  EXPECT_TRUE(s.ui.said(
      "Cannot perform Auto-Calibration if the Spectrum file Energy Calibration is being used"));
}

TEST(AutoCalibration, CancelRestoresTheRecord) {
  CalSession s;
  s.state.params.energy_tolerance = 10;
  s.linear_calibration(0, 2);
  store_energies(s, {200, 600});
  s.add_peak(101);
  s.add_peak(300);
  AutoCalibration ac;
  ASSERT_EQ(start_auto_calibration(s.state, ac), 1);
  EXPECT_NE(s.state.spectrum.calibration.energy[1], 2.0f);
  auto_cancel(s.state, ac);
  EXPECT_EQ(s.state.spectrum.calibration.energy[1], 2.0f);
}

TEST(DriftCorrection, SecondOrderCalibrationChangesOnlyTheGain) {
  CalSession s;
  test::load_simulated(s, {{661.657, 20000, 0}}, 1e-4);
  s.state.params.energy_tolerance = 10;  // tol(662) = 2.5 + 9.9 keV
  CalibrationRecord& cal = s.state.spectrum.calibration;
  ASSERT_EQ(cal.energy_terms, 3);
  cal.energy[1] *= 1.01f;  // drifted gain: the peak reads about 6 keV high
  const float c0 = cal.energy[0], c2 = cal.energy[2];
  ASSERT_EQ(drift_correction(s.state, 661.657), 1);
  EXPECT_EQ(cal.energy[0], c0);
  EXPECT_EQ(cal.energy[2], c2);
  int k = nearest_peak(s.state, energy_to_channel(cal, 661.657));
  ASSERT_GT(k, 0);
  EXPECT_NEAR(channel_to_energy(cal, s.state.peaks.centre[k]), 661.657, 1e-3);
  EXPECT_TRUE(s.state.app.calibration_modified);
}

TEST(DriftCorrection, NoPeakNearTheEnergyWarns) {
  CalSession s;
  test::load_simulated(s, {{661.657, 20000, 0}});
  const CalibrationRecord before = s.state.spectrum.calibration;
  EXPECT_EQ(drift_correction(s.state, 1460.8), 0);
  ASSERT_FALSE(s.ui.messages.empty());
  EXPECT_EQ(s.ui.messages.back().text, "Warning, no Peak was found near 1461 keV");
  EXPECT_EQ(s.ui.messages.back().caption, "Could not perform Drift Correction");
  EXPECT_EQ(s.state.spectrum.calibration, before);
}

TEST(QuantitativeAutoCalibration, OffsetAnchorHoldsTheOffsetAboveThreeHundredKeV) {
  CalSession s;
  s.linear_calibration(1.0, 2.0);
  // Three lines that a shifted calibration E = 5 + 2 ch would place exactly.
  std::vector<CalPoint> lines;
  for (auto [e, name] : {std::pair{1332.492, "Co-60"}, {661.657, "Cs-137"}, {1173.228, "Co-60"}}) {
    CalPoint p;
    p.energy = e;
    p.channel = (e - 5) / 2;
    p.weight = 5;
    p.name = name;
    lines.push_back(p);
  }
  QuantAutoCalibration qc;
  qc.list.points = lines;
  start_quantitative_calibration(s.state, qc);
  ASSERT_EQ(qc.list.count(), 4);
  EXPECT_EQ(qc.list.points[0].name, "Offset");
  EXPECT_EQ(qc.list.points[0].weight, 50);
  EXPECT_EQ(qc.list.points[1].name, "Cs-137");  // sorted by energy
  ASSERT_TRUE(qc.fitted);
  EXPECT_EQ(qc.terms, 3);
  // Three terms through four points: the anchor keeps c0 near the old 1 keV
  // rather than the lines' 5 keV.
  EXPECT_LT(std::fabs(qc.c[0] - 1.0), std::fabs(qc.c[0] - 5.0));
  std::vector<std::string> shown = quantitative_point_lines(qc);
  EXPECT_EQ(shown[0].substr(0, 16), " Offset    1.00 ");
  ASSERT_EQ(quantitative_ok(s.state, qc), 1);
  const CalibrationRecord& cal = s.state.spectrum.calibration;
  EXPECT_EQ(cal.energy_terms, 3);
  EXPECT_EQ(cal.energy_count, 3);  // the anchor is no calibration energy
  EXPECT_FLOAT_EQ(cal.energies[0], 661.657f);
}

TEST(QuantitativeAutoCalibration, LowLinesNeedNoAnchorAndTwoPointsAreLinear) {
  CalSession s;
  s.linear_calibration(1.0, 2.0);
  QuantAutoCalibration qc;
  qc.list.points = {{661.657, 330, 5, 0, 0, 0, 0, 0, "Cs-137"}, {186.2, 92, 5, 0, 0, 0, 0, 0, "Ra-226"}};
  start_quantitative_calibration(s.state, qc);
  ASSERT_EQ(qc.list.count(), 2);
  EXPECT_EQ(qc.terms, 2);
  EXPECT_NEAR(qc.c[1], (661.657 - 186.2) / 238, 1e-9);
  delete_quantitative_point(s.state, qc, 0);
  EXPECT_EQ(quantitative_point_lines(qc),
            std::vector<std::string>{"There are not enough Peaks for re-calibration"});
  EXPECT_EQ(quantitative_ok(s.state, qc), 0);
  quantitative_cancel(s.state, qc);
  EXPECT_EQ(s.state.spectrum.calibration.energy[1], 2.0f);
}

}  // namespace
}  // namespace kestrim

#include "app/analysis_steps.h"

namespace kestrim {
namespace {

TEST(DriftCorrection, FullAnalysisSearchCorrectsWhenEnabled) {
  test::CalSession s;
  test::load_simulated(s, {{661.657, 20000, 0}, {1460.8, 20000, 0}});
  s.state.params.energy_tolerance = 10;
  CalibrationRecord& cal = s.state.spectrum.calibration;
  const float gain = cal.energy[1];
  cal.energy[1] = gain * 1.005f;
  // Off: the search leaves the calibration alone.
  ASSERT_EQ(step_peak_search(s.state), 1);
  EXPECT_EQ(cal.energy[1], gain * 1.005f);
  s.state.params.drift_correction = 1;
  s.state.params.drift_energy = 1460.8f;
  ASSERT_EQ(step_peak_search(s.state), 1);
  EXPECT_NEAR(cal.energy[1] / gain, 1.0, 2e-4);
  EXPECT_GT(s.state.peaks.count, 1);
}

}  // namespace
}  // namespace kestrim
