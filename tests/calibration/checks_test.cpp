// The checks before each calibration procedure.
#include "calibration/calibration_checks.h"

#include <gtest/gtest.h>

#include "cal_fixture.h"

namespace kestrim {
namespace {

using test::CalSession;

TEST(CalibrationChecks, EnergyOffersToClearAnOldCalibrationAndCancelStops) {
  CalSession s;
  s.linear_calibration(1, 2);
  s.state.spectrum.calibration.width_terms = 2;
  s.state.spectrum.calibration.crossover = 150;
  CalibrationCopies copies;
  s.ui.answers.push_back(kAnswerCancel);
  EXPECT_EQ(check_before_energy_calibration(s.state, copies), 0);
  ASSERT_EQ(s.ui.messages.size(), 1u);
  EXPECT_EQ(s.ui.messages[0].text, "Clear the Energy and Shape Calibration ?");
  EXPECT_EQ(s.ui.messages[0].caption, "There is an old Calibration for this Detector");
  EXPECT_EQ(s.ui.messages[0].default_answer, kAnswerYes);
  EXPECT_EQ(s.state.spectrum.calibration.energy_terms, 2);  // untouched
  // Yes clears bytes 0-63 only; the efficiency part stays.
  s.ui.answers.push_back(kAnswerYes);
  EXPECT_EQ(check_before_energy_calibration(s.state, copies), 1);
  EXPECT_EQ(s.state.spectrum.calibration.energy_terms, 0);
  EXPECT_EQ(s.state.spectrum.calibration.width_terms, 0);
  EXPECT_EQ(s.state.spectrum.calibration.crossover, 150);
  EXPECT_EQ(copies.calibration.energy_terms, 2);  // the copy for Cancel
}

TEST(CalibrationChecks, BatchClearsWithoutAsking) {
  CalSession s;
  s.state.app.batch_mode = true;
  s.linear_calibration(1, 2);
  CalibrationCopies copies;
  EXPECT_EQ(check_before_energy_calibration(s.state, copies), 1);
  EXPECT_TRUE(s.ui.messages.empty());
  EXPECT_EQ(s.state.spectrum.calibration.energy_terms, 0);
}

TEST(CalibrationChecks, ExistingPeaksAskBeforeSearchingAgain) {
  CalSession s;
  s.add_peak(100);
  CalibrationCopies copies;
  s.ui.answers.push_back(kAnswerNo);
  EXPECT_EQ(check_before_energy_calibration(s.state, copies), 1);
  ASSERT_EQ(s.ui.messages.size(), 1u);
  EXPECT_EQ(s.ui.messages[0].text, "Repeat the Peak Search ?");
  EXPECT_EQ(s.state.peaks.count, 1);  // No keeps the list
  EXPECT_EQ(s.state.params.search_discriminator, 4);  // the fixture's value is kept
}

TEST(CalibrationChecks, ShapeAndEfficiencyNeedTheCalibrationsBefore) {
  CalSession s;
  CalibrationCopies copies;
  EXPECT_EQ(check_before_shape_calibration(s.state, copies), 0);
  EXPECT_EQ(s.ui.messages.back().text, "The Energy Calibration should be performed first");
  EXPECT_EQ(check_before_efficiency_calibration(s.state, copies), 0);
  EXPECT_EQ(s.ui.messages.back().text, "The Energy Calibration should be performed first");
  s.linear_calibration(0, 2);
  EXPECT_EQ(check_before_efficiency_calibration(s.state, copies), 0);
  EXPECT_EQ(s.ui.messages.back().text, "The Shape Calibration should be performed first");
  // With both, a fitted list and no changed shape nothing is asked.
  s.state.spectrum.calibration.width_terms = 1;
  s.state.spectrum.calibration.width[0] = 3;
  s.add_peak(100);
  s.state.peaks.fitted = true;
  const std::size_t shown = s.ui.messages.size();
  EXPECT_EQ(check_before_efficiency_calibration(s.state, copies), 1);
  EXPECT_EQ(s.ui.messages.size(), shown);
  // After a new shape calibration the question carries its reason.
  s.state.app.shape_calibration_changed = true;
  s.ui.answers.push_back(kAnswerCancel);
  EXPECT_EQ(check_before_efficiency_calibration(s.state, copies), 0);
  EXPECT_EQ(s.ui.messages.back().text, "Do you want to perform a Peak Search and Fitting ?");
  EXPECT_EQ(s.ui.messages.back().caption, "The Peak Fitting should be repeated after shape Calibration");
}

}  // namespace
}  // namespace kestrim
