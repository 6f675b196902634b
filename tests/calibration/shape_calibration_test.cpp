// The peak shape calibration on simulated peaks of known width and tailing.
#include "calibration/shape_calibration.h"

#include <gtest/gtest.h>

#include <cmath>

#include "cal_fixture.h"
#include "peaks/peak_search.h"

namespace kestrim {
namespace {

using test::CalSession;

const std::vector<SimPeak> kThreePeaks = {{300, 30000, 0}, {661.657, 30000, 0}, {1332.5, 30000, 0}};

TEST(ShapeCalibration, ListEnergyWithoutAPeakGivesNoPoint) {
  CalSession s;
  test::load_simulated(s, kThreePeaks);
  run_peak_search(s.state);
  ASSERT_EQ(s.state.peaks.count, 3);
  s.write_work("shape.shp", format_list_file(kShapeListTitle, {661.657, 1000.0, 1332.5}));
  ShapeCalibration sc;
  sc.batch = true;
  sc.list.default_list = "shape";
  setup_shape_points(s.state, sc, true);
  ASSERT_EQ(sc.list.count(), 2);
  EXPECT_EQ(sc.list.points[0].peak, 2);
  EXPECT_EQ(sc.list.points[1].peak, 3);
  EXPECT_NEAR(sc.list.points[0].channel, energy_to_channel(s.state.spectrum.calibration, 661.657),
              1e-4);  // the list energy is read as a float
  restore_shape_overrides(s.state, sc);
}

TEST(ShapeCalibration, OverridesAreAppliedAndRestored) {
  CalSession s;
  s.state.params.residual_peak_search = 1;
  s.state.params.region_end_channels = 10;
  s.state.params.max_width_change = 0.2f;
  s.state.params.continuum_linear = 0;
  s.state.params.iterate_tailing = 0;
  s.state.app.working_residual_search = true;
  ShapeCalibration sc;
  apply_shape_overrides(s.state, sc);
  EXPECT_FALSE(s.state.app.working_residual_search);
  EXPECT_EQ(s.state.params.residual_peak_search, 0);
  EXPECT_EQ(s.state.params.region_end_channels, 8);
  EXPECT_EQ(s.state.params.max_width_change, 10);
  EXPECT_EQ(s.state.params.continuum_linear, 1);
  EXPECT_EQ(s.state.params.iterate_tailing, 1);
  restore_shape_overrides(s.state, sc);
  EXPECT_TRUE(s.state.app.working_residual_search);
  EXPECT_EQ(s.state.params.residual_peak_search, 1);
  EXPECT_EQ(s.state.params.region_end_channels, 10);
  EXPECT_FLOAT_EQ(s.state.params.max_width_change, 0.2f);
  EXPECT_EQ(s.state.params.continuum_linear, 0);
  EXPECT_EQ(s.state.params.iterate_tailing, 0);
}

TEST(ShapeCalibration, OneFittedPointGivesConstants) {
  CalSession s;
  SimSpectrum sim = test::load_simulated(s, {{661.657, 50000, 0}});
  run_peak_search(s.state);
  ASSERT_EQ(s.state.peaks.count, 1);
  ShapeCalibration sc;
  setup_shape_points(s.state, sc, false);
  ASSERT_EQ(sc.list.count(), 1);
  ASSERT_EQ(fit_all_shape_points(s.state, sc), 1);
  const CalibrationRecord& cal = s.state.spectrum.calibration;
  EXPECT_EQ(cal.width_terms, 1);
  EXPECT_EQ(cal.low_tail_terms, 1);
  EXPECT_EQ(cal.width[1], 0);
  EXPECT_EQ(cal.high_tail_terms, 0);
  // A noiseless peak: the fitted sigma is the simulated one within 3 %.
  EXPECT_NEAR(cal.width[0] / sim.truth[0].sigma, 1.0, 0.03);
  EXPECT_NEAR(width_at_channel(cal, 100), cal.width[0], 1e-6);
  EXPECT_GT(cal.shape_date.year, 2000);
  restore_shape_overrides(s.state, sc);
}

TEST(ShapeCalibration, WidthsFollowTheResolutionAndUnfittedPointsStopTheFit) {
  CalSession s;
  SimSpectrum sim = test::load_simulated(s, kThreePeaks);
  run_peak_search(s.state);
  ShapeCalibration sc;
  setup_shape_points(s.state, sc, false);
  ASSERT_EQ(sc.list.count(), 3);
  EXPECT_EQ(fit_shape_functions(s.state, sc), 0);
  EXPECT_TRUE(s.ui.said("Not all of the Peaks have been fitted yet"));
  ASSERT_EQ(fit_all_shape_points(s.state, sc), 1);
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(sc.list.points[i].width / sim.truth[i].sigma, 1.0, 0.03) << i;
    EXPECT_NEAR(sc.list.points[i].weight / 30000, 1.0, 0.03) << i;
  }
  const CalibrationRecord& cal = s.state.spectrum.calibration;
  EXPECT_EQ(cal.width_terms, 2);
  // sigma grows as sqrt(E): a straight line through three points lies
  // within 5 % of them.
  for (int i = 0; i < 3; ++i)
    EXPECT_NEAR(cal.width[0] + cal.width[1] * sim.truth[i].energy, sim.truth[i].sigma,
                0.05 * sim.truth[i].sigma);
  // Second order for the width: three points are passed exactly.
  ASSERT_EQ(set_shape_order(s.state, sc, 3), 1);
  EXPECT_EQ(cal.width_terms, 3);
  EXPECT_NEAR(cal.width[0] + cal.width[1] * sc.list.points[1].energy +
                  cal.width[2] * sc.list.points[1].energy * sc.list.points[1].energy,
              sc.list.points[1].width, 1e-3);
  const std::string report = test::after_date_line(shape_report_text(s.state, sc, true));
  EXPECT_EQ(report.substr(0, report.find(" Energy      Width")),
            "        Peak Shape Calibration Report for Detector number 3\r\n\r\n"
            "                Peak        Low Energy   High Energy\r\n        ");
  EXPECT_NE(report.find("\r\n Peak Width - Order of Fit used:- 3\r\n Width = "), std::string::npos);
  EXPECT_NE(report.find("\r\n Low Energy Tailing - Order of Fit used:- 2\r\n Tailing = "),
            std::string::npos);
  EXPECT_EQ(report.find("High Energy Tailing"), std::string::npos);
  restore_shape_overrides(s.state, sc);
}

TEST(ShapeCalibration, CancelRestoresTheCalibrationAndTheSettings) {
  CalSession s;
  test::load_simulated(s, kThreePeaks);
  run_peak_search(s.state);
  const CalibrationRecord before = s.state.spectrum.calibration;
  const int endc = s.state.params.region_end_channels;
  ShapeCalibration sc;
  start_shape_calibration(s.state, sc);  // the dialog is cancelled: all peaks
  EXPECT_EQ(sc.list.count(), 3);
  EXPECT_EQ(s.ui.statuses.back(), "Select 'Fit all' to proceed with the Calibration");
  ASSERT_EQ(fit_all_shape_points(s.state, sc), 1);
  EXPECT_NE(s.state.spectrum.calibration, before);
  ASSERT_EQ(shape_cancel(s.state, sc), 1);
  EXPECT_EQ(s.state.spectrum.calibration, before);
  EXPECT_EQ(s.state.params.region_end_channels, endc);
  EXPECT_EQ(s.ui.statuses.back(), "Peak Shape Calibration was abandoned");
}

}  // namespace
}  // namespace kestrim
