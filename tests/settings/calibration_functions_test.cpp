#include "settings/calibration_functions.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kestrim {
namespace {

// Coefficients are stored as real32, so results agree with the
// double-precision hand calculations to about 1e-6 relative.
constexpr double kFloatTol = 1e-5;

CalibrationRecord energy_cal(float terms, float c0, float c1, float c2, int form = 0) {
  CalibrationRecord c;
  c.energy_terms = terms;
  c.energy = {c0, c1, c2};
  c.energy_form = static_cast<std::int16_t>(form);
  return c;
}

EfficiencyPoints points(std::initializer_list<std::array<float, 3>> rows) {
  EfficiencyPoints p;
  for (const auto& r : rows) {
    p.energy[p.count] = r[0];
    p.efficiency[p.count] = r[1];
    p.uncertainty[p.count++] = r[2];
  }
  return p;
}

TEST(EnergyCalibration, UncalibratedAndDegenerateMapToChannel) {
  CalibrationRecord c;
  EXPECT_DOUBLE_EQ(channel_to_energy(c, 123.5), 123.5);
  EXPECT_DOUBLE_EQ(energy_to_channel(c, 661.6), 661.6);
  auto one = energy_cal(1, 7, 3, 0);  // one term: constant, inverse is identity
  EXPECT_DOUBLE_EQ(channel_to_energy(one, 100), 7.0);
  EXPECT_DOUBLE_EQ(energy_to_channel(one, 50), 50.0);
  EXPECT_DOUBLE_EQ(energy_to_channel(energy_cal(2, 5, 0, 0), 80), 80.0);  // zero gain
  c.energy_terms = std::nanf("");  // damaged term count: uncalibrated
  c.energy = {5, 2, 0};
  EXPECT_DOUBLE_EQ(channel_to_energy(c, 10), 10.0);
  EXPECT_EQ(term_count(1e30f), 0);
  EXPECT_EQ(term_count(-2.0f), -2);
}

TEST(EnergyCalibration, KnownAnswers) {
  // E = -5 + 0.75 x: channel 100 is 70 keV.
  EXPECT_NEAR(channel_to_energy(energy_cal(2, -5, 0.75f, 0), 100), 70.0, kFloatTol);
  EXPECT_NEAR(energy_to_channel(energy_cal(2, -5, 0.75f, 0), 70), 100.0, kFloatTol);
  // E = 2 + 0.5 x + 1e-4 x^2: channel 1000 is 602 keV.
  auto q = energy_cal(3, 2, 0.5f, 1e-4f);
  EXPECT_NEAR(channel_to_energy(q, 1000), 602.0, 1e-3);
  EXPECT_NEAR(energy_to_channel(q, 602), 1000.0, 1e-3);
  // E = 10 + 0.7 x + 5 ln x: 103.0258509 at 100; no log term at x <= 0.
  auto l = energy_cal(3, 10, 0.7f, 5, 1);
  EXPECT_NEAR(channel_to_energy(l, 100), 103.0258509, 1e-4);
  EXPECT_NEAR(channel_to_energy(l, 0), 10.0, kFloatTol);
  EXPECT_NEAR(channel_to_energy(l, -3), 10.0 - 2.1, kFloatTol);
}

TEST(EnergyCalibration, RoundTripsOverAllChannels) {
  const CalibrationRecord cals[] = {energy_cal(2, -3.2f, 0.73f, 0),
                                    energy_cal(3, -3.2f, 0.73f, 2.5e-5f),
                                    energy_cal(3, -3.2f, 0.73f, -1.5e-5f)};
  for (const auto& c : cals) {
    for (int x = 1; x < 4096; ++x)
      ASSERT_NEAR(energy_to_channel(c, channel_to_energy(c, x)), x, 1e-4) << c.energy[2] << " " << x;
  }
  // The logarithmic inverse stops once a residual is within 0.1 keV, after
  // applying that correction; the error left is the residual times the
  // contraction c2 / (c1 x): with c2 = 0.05, c1 = 0.73 about 0.002 channel
  // at channel 1-2, below 1e-4 from channel 20 on.
  auto l = energy_cal(3, -3.2f, 0.73f, 0.05f, 1);
  for (int x = 1; x < 4096; ++x)
    ASSERT_NEAR(energy_to_channel(l, channel_to_energy(l, x)), x, x < 20 ? 3e-3 : 1e-4) << x;
}

TEST(EnergyCalibration, TinyQuadraticTermInvertsLinearly) {
  // |c2| = 5e-9 < 1e-8: E(1000) = 502.005 inverts to (E - 2) / 0.5 = 1000.01.
  auto c = energy_cal(3, 2, 0.5f, 5e-9f);
  const double e = channel_to_energy(c, 1000);
  EXPECT_NEAR(energy_to_channel(c, e), (e - 2.0) / 0.5, 1e-9);
  EXPECT_NEAR(energy_to_channel(c, e), 1000.01, 1e-3);
  // E = x - 0.001 x^2 peaks at 250 keV: 300 keV has no root; linear inverse.
  EXPECT_NEAR(energy_to_channel(energy_cal(3, 0, 1, -0.001f), 300), 300.0, 1e-3);
}

TEST(EnergyCalibration, LogarithmicInversionIterates) {
  // x + 10 ln x = 100 has the root 59.1952; by hand: x = 100, 53.95, 60.12,
  // 59.04, 59.22, 59.19, the last residual -0.03 keV.
  auto c = energy_cal(3, 0, 1, 10, 1);
  EXPECT_NEAR(energy_to_channel(c, 100), 59.1952, 0.01);
}

TEST(WidthCalibration, UncalibratedFromChannelCountNeverBelowOne) {
  CalibrationRecord c;
  EXPECT_NEAR(width_at_channel(c, 100), 17.0, 1e-12);  // 4096 / 256 + 1
  CalibrationContext ctx;
  ctx.channels = 1000;  // integer division: 3 + 1
  EXPECT_NEAR(width_at_channel(c, 100, ctx), 4.0, 1e-12);
  ctx.channels = 128;
  EXPECT_DOUBLE_EQ(width_at_channel(c, 50, ctx), 1.0);
  c.width_terms = -1;  // not the resolution form: uncalibrated
  c.width = {5, 1.5f, 0};
  EXPECT_NEAR(width_at_channel(c, 100), 17.0, 1e-12);
  c.width_terms = 1;
  c.width = {-4, 0, 0};
  EXPECT_DOUBLE_EQ(width_at_channel(c, 100), 1.0);
}

TEST(WidthCalibration, PolynomialInEnergyOrChannel) {
  // E = 0.5 x, channel 1000 is 500 keV: W = 1 + 0.002 * 500 (+ 1e-6 * 500^2).
  auto c = energy_cal(2, 0, 0.5f, 0);
  c.width_terms = 2;
  c.width = {1, 0.002f, 1e-6f};
  EXPECT_NEAR(width_at_channel(c, 1000), 2.0, kFloatTol);
  c.width_terms = 3;
  EXPECT_NEAR(width_at_channel(c, 1000), 2.25, kFloatTol);
  // A type-4 spectrum with its own calibration uses the channel: 1 + 2 + 1.
  CalibrationContext ctx;
  ctx.spectrum_type = 4;
  ctx.detector_file = 0;
  EXPECT_NEAR(width_at_channel(c, 1000, ctx), 4.0, kFloatTol);
  ctx.spectrum_type = 5;
  EXPECT_NEAR(width_at_channel(c, 1000, ctx), 2.25, kFloatTol);
}

TEST(WidthCalibration, ResolutionFormFromFwhmInKev) {
  // At 400 keV: FWHM = 5 + 1.5 sqrt(400) = 35 keV, sigma = 35 / (0.5 * 2.355).
  auto c = energy_cal(2, 0, 0.5f, 0);
  c.width_terms = -2;
  c.width = {5, 1.5f, 0};
  EXPECT_NEAR(width_at_channel(c, 800), 29.7239915, 1e-4);
  c.energy[0] = -100;  // negative energy counts as 0: 5 / 1.1775
  EXPECT_NEAR(width_at_channel(c, 100), 4.2462845, 1e-4);
}

TEST(TailCalibration, PolynomialOrFromWidthWithLowerBounds) {
  CalibrationRecord u;  // W(100) = 17
  EXPECT_NEAR(low_tail_at_channel(u, 100), 1.75 * 17, 1e-9);
  EXPECT_NEAR(high_tail_at_channel(u, 100), 10.0 * 17, 1e-9);
  // E = 0.5 x, W = 2 at channel 1000 (500 keV).
  auto c = energy_cal(2, 0, 0.5f, 0);
  c.width_terms = 2;
  c.width = {1, 0.002f, 0};
  c.low_tail_terms = 3;
  c.low_tail = {1, 0.001f, 1e-6f};  // 1 + 0.5 + 0.25
  c.high_tail_terms = 2;
  c.high_tail = {2, 0.004f, 1};  // 2 + 2; the third term unused
  EXPECT_NEAR(low_tail_at_channel(c, 1000), 1.75, kFloatTol);
  EXPECT_NEAR(high_tail_at_channel(c, 1000), 4.0, kFloatTol);
  c.low_tail = {0.1f, 0, 0};  // below 0.5 W = 1
  c.high_tail = {0.5f, 0, 0};  // below W = 2
  EXPECT_NEAR(low_tail_at_channel(c, 1000), 1.0, kFloatTol);
  EXPECT_NEAR(high_tail_at_channel(c, 1000), 2.0, kFloatTol);
}

// Low curve ln(eff) = 1 - 0.5 ln E up to the 200 keV crossover, high curve
// ln(eff) = 2 - 0.8 ln E + 0.01 ln^2 E above it.
CalibrationRecord two_curves() {
  CalibrationRecord c;
  c.crossover = 200;
  c.low_eff_terms = 2;
  c.low_eff = {1, -0.5f, 0, 0, 0};
  c.high_eff_terms = 3;
  c.high_eff = {2, -0.8f, 0.01f, 0, 0, 0};
  return c;
}

TEST(EfficiencyCurve, LogFormAroundCrossover) {
  auto c = two_curves();
  EXPECT_NEAR(efficiency_at(c, 100), 0.2718282, 1e-6);    // e / 10
  EXPECT_NEAR(efficiency_at(c, 200), 0.1922116, 1e-6);    // at the crossover: low
  EXPECT_NEAR(efficiency_at(c, 200.5), 0.1409056, 1e-6);  // above: high
  EXPECT_DOUBLE_EQ(efficiency_at(c, 0), 1.0);
  c.high_eff_terms = 0;
  EXPECT_DOUBLE_EQ(efficiency_at(c, 500), 1.0);
}

TEST(EfficiencyCurve, LogarithmIsLimitedAtBothEnds) {
  CalibrationRecord c;
  c.crossover = 1e6f;
  c.low_eff_terms = 1;
  c.low_eff = {5, 0, 0, 0, 0};
  // 0.693471, not ln 2: exp(0.693471) = 2.0006477.
  EXPECT_NEAR(efficiency_at(c, 100), 2.0006477, 1e-6);
  c.low_eff = {-50, 0, 0, 0, 0};
  EXPECT_NEAR(efficiency_at(c, 100), std::exp(-30.0), 1e-20);
}

TEST(EfficiencyCurve, InverseEnergyForm) {
  // High curve, 3 terms = the form field: L = 0.1 e - 2 - 0.3 / e, e in MeV.
  auto c = two_curves();
  c.inverse_form = 3;
  c.high_eff = {0.1f, -2, -0.3f, 0, 0, 0};
  EXPECT_NEAR(efficiency_at(c, 1000), std::exp(-2.2), 1e-6);
  EXPECT_NEAR(efficiency_at(c, 500), std::exp(-2.55), 1e-6);
  EXPECT_NEAR(efficiency_at(c, 100), 0.2718282, 1e-6);  // low curve stays log
}

TEST(EfficiencyCurve, PointsWhenSwitchedOnOrOwnSingleTerm) {
  auto c = two_curves();
  auto p = points({{100, 0.2f, 0.05f}, {400, 0.05f, 0.03f}});
  CalibrationContext ctx;
  ctx.points = &p;
  ctx.use_points = true;
  EXPECT_NEAR(efficiency_at(c, 200, ctx), 0.1, 1e-6);  // log-log line 20 / E
  ctx.use_points = false;
  EXPECT_NEAR(efficiency_at(c, 200, ctx), 0.1922116, 1e-6);
  c.low_eff_terms = 1;  // one term, type 4 without detector file: linear
  ctx.spectrum_type = 4;
  ctx.detector_file = 0;
  EXPECT_NEAR(efficiency_at(c, 200, ctx), 0.15, 1e-6);
}

TEST(EfficiencyUncertainty, LogFormVariancePolynomial) {
  // V = 0.01 - 0.002 l + 0.0001 l^2, l = ln 100: 0.0029104. v[3] is beyond
  // the 2n - 1 coefficients of a 2-term curve.
  auto c = two_curves();
  c.variance = {0.01, -0.002, 0.0001, 99};
  auto r = efficiency_with_uncertainty(c, 100, {});
  EXPECT_NEAR(r.efficiency, 0.2718282, 1e-6);
  EXPECT_NEAR(r.relative_variance, 0.0029104, 1e-7);
  c.variance[0] = -1;  // negative V
  EXPECT_DOUBLE_EQ(efficiency_with_uncertainty(c, 100, {}).relative_variance, 0.0);
  c.variance[0] = 0;  // first coefficient 0
  EXPECT_DOUBLE_EQ(efficiency_with_uncertainty(c, 100, {}).relative_variance, 0.0);
}

TEST(EfficiencyUncertainty, InverseFormFromIndexNineOrFromPoints) {
  // 3 terms: v9..v13 of z = 1000/E; E = 500: 1e-4 + 2e-4*2 + 1e-6*16.
  auto c = two_curves();
  c.inverse_form = 3;
  c.variance[9] = 1e-4;
  c.variance[10] = 2e-4;
  c.variance[13] = 1e-6;
  c.variance[14] = 5;
  c.variance_stored = 1;
  EXPECT_NEAR(efficiency_with_uncertainty(c, 500, {}).relative_variance, 5.16e-4, 1e-12);
  // Not stored: from the points, halfway between 0.04 and 0.06.
  c.variance_stored = 0;
  auto p = points({{400, 0.1f, 0.04f}, {600, 0.05f, 0.06f}});
  CalibrationContext ctx;
  ctx.points = &p;
  EXPECT_NEAR(efficiency_with_uncertainty(c, 500, ctx).relative_variance, 0.0025, 1e-8);
  // A foreign spectrum (type > 1) without detector file: points too; at
  // 100 keV from (0, 1.0) to (400, 0.04): 0.76.
  c.variance[0] = 0.01;
  ctx.spectrum_type = 2;
  ctx.detector_file = 0;
  EXPECT_NEAR(efficiency_with_uncertainty(c, 100, ctx).relative_variance, 0.76 * 0.76, 1e-6);
  ctx.spectrum_type = 1;
  EXPECT_NEAR(efficiency_with_uncertainty(c, 100, ctx).relative_variance, 0.01, 1e-9);
}

TEST(EfficiencyPointsRule, NeedsPointsAndOptionOrNoHighCurve) {
  auto c = two_curves();
  auto p = points({{100, 0.2f, 0}});
  EXPECT_FALSE(use_efficiency_points_rule(c, EfficiencyPoints{}, true));
  EXPECT_TRUE(use_efficiency_points_rule(c, p, true));
  EXPECT_FALSE(use_efficiency_points_rule(c, p, false));
  c.high_eff_terms = 0;
  EXPECT_TRUE(use_efficiency_points_rule(c, p, false));
}

EfficiencyPoints three_points() {
  return points({{100, 0.2f, 0.05f}, {200, 0.1f, 0.03f}, {400, 0.05f, 0.04f}});
}

TEST(PointInterpolation, LinearEfficiencySegmentsAndEnds) {
  auto p = three_points();
  EXPECT_NEAR(interpolate_efficiency_linear(p, 150), 0.15, 1e-7);
  EXPECT_NEAR(interpolate_efficiency_linear(p, 200), 0.1, 1e-7);
  EXPECT_NEAR(interpolate_efficiency_linear(p, 50), 0.25, 1e-7);    // first segment
  EXPECT_NEAR(interpolate_efficiency_linear(p, 500), 0.025, 1e-7);  // last segment
  EXPECT_DOUBLE_EQ(interpolate_efficiency_linear(p, 0), 0.0);
  p.count = 1000;  // damaged count: only 40 slots are ever read (ASan)
  EXPECT_NEAR(interpolate_efficiency_linear(p, 150), 0.15, 1e-7);
  interpolate_efficiency_loglog(p, 300);
  interpolate_uncertainty(p, 300);
  p.count = 1;
  EXPECT_NEAR(interpolate_efficiency_linear(p, 300), 0.2, 1e-7);
}

TEST(PointInterpolation, UncertaintyFromUnityAtZeroAndExtrapolatedAtTop) {
  auto p = three_points();
  EXPECT_NEAR(interpolate_uncertainty(p, 50), 0.525, 1e-7);  // 1 - 0.95 / 2
  EXPECT_NEAR(interpolate_uncertainty(p, 150), 0.04, 1e-7);
  EXPECT_NEAR(interpolate_uncertainty(p, 200), 0.03, 1e-7);
  EXPECT_NEAR(interpolate_uncertainty(p, 300), 0.035, 1e-7);
  EXPECT_NEAR(interpolate_uncertainty(p, 500), 0.045, 1e-7);  // 0.03 + 0.01 * 1.5
  p.count = 1;
  EXPECT_DOUBLE_EQ(interpolate_uncertainty(p, 300), 0.0);
}

TEST(PointInterpolation, LogLogReproducesPowerLaw) {
  // eff = 20 E^-0.8 is a line in log-log: any three points give that line.
  EfficiencyPoints p;
  for (float e : {100.f, 200.f, 400.f, 800.f}) {
    p.energy[p.count] = e;
    p.efficiency[p.count++] = static_cast<float>(20 * std::pow(e, -0.8));
  }
  for (double e : {300.0, 600.0, 1500.0})
    EXPECT_NEAR(interpolate_efficiency_loglog(p, e), 20 * std::pow(e, -0.8), 1e-6) << e;
  // Below the second point a falling curve's fit exceeds eff1 (linear
  // between 0 and 1), and below the first exceeds eff0 (eff0 * E / E0).
  auto q = three_points();
  EXPECT_NEAR(interpolate_efficiency_loglog(q, 150), 0.15, 1e-7);
  EXPECT_NEAR(interpolate_efficiency_loglog(q, 50), 0.1, 1e-7);
}

TEST(PointInterpolation, LogLogGuardsAgainstOvershoot) {
  // Expected values from the Lagrange form of the parabola in ln E.
  // (100, 0.1), (200, 0.3), (400, 0.29): at 150 keV 0.2181742 < eff1, kept;
  // at the mid-energy 300 keV 0.3374536, above both 0.3 and 0.29, so 250 keV
  // gets the linear 0.3 - 0.01 * 50 / 200.
  auto p = points({{100, 0.1f, 0}, {200, 0.3f, 0}, {400, 0.29f, 0}});
  EXPECT_NEAR(interpolate_efficiency_loglog(p, 150), 0.2181742, 1e-6);
  EXPECT_NEAR(interpolate_efficiency_loglog(p, 250), 0.2975, 1e-6);
  // (100, 0.3), (200, 0.31), (400, 0.1): 0.3522303 at 150 keV > 0.31: linear.
  auto q = points({{100, 0.3f, 0}, {200, 0.31f, 0}, {400, 0.1f, 0}});
  EXPECT_NEAR(interpolate_efficiency_loglog(q, 150), 0.305, 1e-6);
  // Rising (100, 0.1), (200, 0.2), (400, 0.15): 0.01875 at 50 keV < eff0, kept.
  auto r = points({{100, 0.1f, 0}, {200, 0.2f, 0}, {400, 0.15f, 0}});
  EXPECT_NEAR(interpolate_efficiency_loglog(r, 50), 0.01875, 1e-6);
  // Four points, 1000 keV above the last: window 1..3, 0.0607712.
  auto s = points({{100, 0.1f, 0}, {200, 0.2f, 0}, {400, 0.15f, 0}, {800, 0.08f, 0}});
  EXPECT_NEAR(interpolate_efficiency_loglog(s, 1000), 0.0607712, 1e-6);
}

TEST(PointInterpolation, LogLogTwoPointsAndDegenerateInputs) {
  EXPECT_NEAR(interpolate_efficiency_loglog(points({{100, 0.2f, 0}, {400, 0.05f, 0}}), 800),
              0.025, 1e-7);  // 20 / E
  // (100, 1.5), (200, 1.9): 3.05 at 800 keV, limited to exp(0.693471).
  EXPECT_NEAR(interpolate_efficiency_loglog(points({{100, 1.5f, 0}, {200, 1.9f, 0}}), 800),
              2.0006477, 1e-6);
  auto p = three_points();
  EXPECT_DOUBLE_EQ(interpolate_efficiency_loglog(p, 0), 1.0);
  p.count = 1;
  EXPECT_NEAR(interpolate_efficiency_loglog(p, 300), 0.2, 1e-7);
  // Duplicate energies (singular fit) and zero efficiencies: linear.
  auto d = points({{100, 0.2f, 0}, {100, 0.2f, 0}, {100, 0.2f, 0}});
  EXPECT_FALSE(std::isnan(interpolate_efficiency_loglog(d, 150)));
  auto z = points({{100, 0.2f, 0}, {200, 0.0f, 0}, {400, 0.1f, 0}});
  EXPECT_NEAR(interpolate_efficiency_loglog(z, 300), 0.05, 1e-7);
}

TEST(EfficiencyPlotMaximum, StopsWhereEfficiencyStopsRising) {
  // ln eff = -1 - 0.5 (ln E - ln 100)^2 peaks at 100 keV with exp(-1).
  CalibrationRecord c;
  c.crossover = 1e6f;
  c.low_eff_terms = 3;
  const double l0 = std::log(100.0);
  c.low_eff = {static_cast<float>(-1 - 0.5 * l0 * l0), static_cast<float>(l0), -0.5f, 0, 0};
  EXPECT_NEAR(efficiency_plot_maximum(c, {}), std::exp(-1.0), 1e-4);
}

}  // namespace
}  // namespace kestrim
