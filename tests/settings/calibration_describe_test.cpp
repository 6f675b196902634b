#include "settings/calibration_describe.h"

#include <gtest/gtest.h>

namespace kestrim {
namespace {

CalibrationRecord quadratic_record() {
  CalibrationRecord c;
  c.energy_terms = 3;
  c.energy = {-2.5f, 0.7f, 1e-5f};
  c.energy_date = {3, 4, 2025};
  c.energy_time = {10, 5};
  c.width_terms = -2;
  c.width = {20, 1.5f, 0};
  c.crossover = 200;
  c.low_eff_terms = 2;
  c.low_eff = {1, -0.5f, 0, 0, 0};
  c.high_eff_terms = 3;
  c.high_eff = {0.1f, -2, -0.3f, 0, 0, 0};
  c.inverse_form = 3;
  c.efficiency_date = {1, 2, 2026};
  return c;
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(CalibrationDescription, NamesFormsAndCoefficients) {
  EfficiencyPoints p;
  p.count = 1;
  p.energy[0] = 661.66f;
  p.efficiency[0] = 0.0123f;
  p.uncertainty[0] = 0.035f;
  const std::string t = describe_calibration(quadratic_record(), p);
  EXPECT_TRUE(contains(t, "Energy calibration: 3 terms, polynomial form, 03/04/2025 10:05\n")) << t;
  EXPECT_TRUE(contains(t, "  E = -2.5 + 0.7*x + 1e-05*x^2 keV\n")) << t;
  EXPECT_TRUE(contains(t, "FWHM = 20 + 1.5*sqrt(E) keV")) << t;
  EXPECT_TRUE(contains(t, "Low-energy tailing: not calibrated (1.75 * width)\n")) << t;
  EXPECT_TRUE(contains(t, "Efficiency: crossover 200.00 keV, 01/02/2026 00:00\n")) << t;
  EXPECT_TRUE(contains(t, "High-energy curve: 3 terms, ln(eff) = a1*e + a2")) << t;
  EXPECT_TRUE(contains(t, "Low-energy curve: 2 terms, ln(eff) = a1 + a2*ln(E)")) << t;
  EXPECT_TRUE(contains(t, "Efficiency points: 1\n")) << t;
  EXPECT_TRUE(contains(t, "      661.66   1.2300e-02           3.50\n")) << t;
  // Channel 1000: -2.5 + 700 + 10 = 707.5 keV.
  EXPECT_TRUE(contains(t, "      1000       707.50")) << t;
}

TEST(CalibrationDescription, UncalibratedRecordSaysSo) {
  const std::string t = describe_calibration(CalibrationRecord{}, EfficiencyPoints{});
  EXPECT_TRUE(contains(t, "Energy calibration: none (energy = channel)\n")) << t;
  EXPECT_TRUE(contains(t, "Efficiency: not calibrated\n")) << t;
  // Channel 100 -> 100 keV, width 16 + 1 = 17 channels, efficiency 1.
  EXPECT_TRUE(contains(t, "       100       100.00     17.000   1.0000e+00\n")) << t;
  EXPECT_TRUE(contains(t, "      661.66      661.66\n")) << t;
}

TEST(CalibrationJson, EnergyFieldsAtTopLevel) {
  auto j = calibration_json(quadratic_record());
  EXPECT_EQ(j["terms"], 3);
  EXPECT_EQ(j["form"], "polynomial");
  ASSERT_EQ(j["coefficients"].size(), 3u);
  EXPECT_EQ(j["coefficients"][1].get<double>(), 0.7);  // the float printed tidily
  EXPECT_EQ(j["width"]["form"], "resolution");
  EXPECT_EQ(j["efficiency"]["high"]["form"], "inverse_energy");
  EXPECT_EQ(j["efficiency"]["low"]["form"], "log");
  EXPECT_EQ(j["efficiency"]["low"]["coefficients"].size(), 2u);
  EXPECT_TRUE(j["efficiency"]["calibrated"].get<bool>());

  CalibrationRecord log = quadratic_record();
  log.energy_form = 1;
  log.high_eff_terms = 40;  // damaged: limited to the 6 stored coefficients
  auto k = calibration_json(log);
  EXPECT_EQ(k["form"], "log");
  EXPECT_EQ(k["efficiency"]["high"]["coefficients"].size(), 6u);
}

}  // namespace
}  // namespace kestrim
