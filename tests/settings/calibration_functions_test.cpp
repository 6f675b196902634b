#include "settings/calibration_functions.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kestrim {
namespace {

// Coefficients are stored as real32, so values computed from them agree
// with the double-precision hand calculations to about 1e-6 relative.
constexpr double kFloatTol = 1e-5;

CalibrationRecord linear(float c0, float c1) {
  CalibrationRecord c;
  c.energy_terms = 2;
  c.energy = {c0, c1, 0};
  return c;
}

CalibrationRecord quadratic(float c0, float c1, float c2) {
  CalibrationRecord c;
  c.energy_terms = 3;
  c.energy = {c0, c1, c2};
  return c;
}

CalibrationRecord logarithmic(float c0, float c1, float c2) {
  CalibrationRecord c = quadratic(c0, c1, c2);
  c.energy_form = 1;
  return c;
}

EfficiencyPoints points(std::initializer_list<std::array<float, 3>> rows) {
  EfficiencyPoints p;
  for (const auto& r : rows) {
    p.energy[p.count] = r[0];
    p.efficiency[p.count] = r[1];
    p.uncertainty[p.count] = r[2];
    ++p.count;
  }
  return p;
}

// ------------------------------------------------------------- energy

TEST(EnergyCalibration, UncalibratedMapsChannelToItself) {
  CalibrationRecord c;
  EXPECT_DOUBLE_EQ(channel_to_energy(c, 123.5), 123.5);
  EXPECT_DOUBLE_EQ(energy_to_channel(c, 661.6), 661.6);
}

TEST(EnergyCalibration, OneTermIsConstantAndInvertsAsIdentity) {
  CalibrationRecord c;
  c.energy_terms = 1;
  c.energy = {7, 3, 0};
  EXPECT_DOUBLE_EQ(channel_to_energy(c, 100), 7.0);
  EXPECT_DOUBLE_EQ(energy_to_channel(c, 50), 50.0);  // fewer than 2 terms
}

TEST(EnergyCalibration, LinearKnownAnswer) {
  // E = -5 + 0.75 x: channel 100 is 70 keV.
  auto c = linear(-5, 0.75f);
  EXPECT_NEAR(channel_to_energy(c, 100), 70.0, kFloatTol);
  EXPECT_NEAR(energy_to_channel(c, 70), 100.0, kFloatTol);
}

TEST(EnergyCalibration, ZeroGainInvertsAsIdentity) {
  auto c = linear(5, 0);
  EXPECT_DOUBLE_EQ(energy_to_channel(c, 80), 80.0);
}

TEST(EnergyCalibration, QuadraticKnownAnswer) {
  // E = 2 + 0.5 x + 1e-4 x^2: channel 1000 is 2 + 500 + 100 = 602 keV.
  auto c = quadratic(2, 0.5f, 1e-4f);
  EXPECT_NEAR(channel_to_energy(c, 1000), 602.0, 1e-3);
  EXPECT_NEAR(energy_to_channel(c, 602), 1000.0, 1e-3);
}

TEST(EnergyCalibration, LogarithmicFormNeedsThreeTerms) {
  // Two terms in the log form: plain linear.
  auto c = logarithmic(10, 0.7f, 5);
  c.energy_terms = 2;
  EXPECT_NEAR(channel_to_energy(c, 100), 80.0, kFloatTol);
}

TEST(EnergyCalibration, RoundTripsOverAllChannels) {
  const CalibrationRecord cals[] = {
      linear(-3.2f, 0.73f),
      quadratic(-3.2f, 0.73f, 2.5e-5f),
      quadratic(-3.2f, 0.73f, -1.5e-5f),
  };
  for (const auto& c : cals) {
    SCOPED_TRACE(c.energy[2]);
    for (int x = 1; x < 4096; ++x) {
      ASSERT_NEAR(energy_to_channel(c, channel_to_energy(c, x)), x, 1e-4) << "channel " << x;
    }
  }
}

TEST(EnergyCalibration, LogarithmicRoundTripWithinIterationTolerance) {
  // The logarithmic inverse stops once a residual is within 0.1 keV and
  // applies that last correction; the error left is the residual times the
  // contraction c2 / (c1 x) of the iteration. With c2 = 0.05, c1 = 0.73
  // the worst case is channel 1-2 (contraction 0.07, first residual
  // 0.05 ln 2 = 0.035 keV): about 0.002 channel. From channel 20 on the
  // contraction is 0.0034 and two steps leave less than 1e-4 channel.
  auto c = logarithmic(-3.2f, 0.73f, 0.05f);
  for (int x = 1; x < 4096; ++x) {
    const double back = energy_to_channel(c, channel_to_energy(c, x));
    ASSERT_NEAR(back, x, x < 20 ? 3e-3 : 1e-4) << "channel " << x;
  }
}

TEST(EnergyCalibration, TinyQuadraticTermInvertsLinearly) {
  // |c2| = 5e-9 is below 1e-8: x = (E - c0)/c1 although E(x) keeps the
  // square term. E(1000) = 2 + 500 + 0.005, so the inverse is 1000.01.
  auto c = quadratic(2, 0.5f, 5e-9f);
  const double e = channel_to_energy(c, 1000);
  EXPECT_NEAR(e, 502.005, 1e-4);
  EXPECT_NEAR(energy_to_channel(c, e), (e - 2.0) / 0.5, 1e-9);
  EXPECT_NEAR(energy_to_channel(c, e), 1000.01, 1e-3);
}

TEST(EnergyCalibration, QuadraticBeyondTurningPointFallsBackToLinear) {
  // E = 0 + 1 x - 0.001 x^2 peaks at 250 keV (x = 500); 300 keV has no
  // channel on the parabola, so the linear inverse 300 is given.
  auto c = quadratic(0, 1, -0.001f);
  const double x = energy_to_channel(c, 300);
  EXPECT_FALSE(std::isnan(x));
  EXPECT_NEAR(x, 300.0, 1e-3);
}

TEST(EnergyCalibration, LogarithmicFormSkipsLogAtChannelZeroAndBelow) {
  // E = 10 + 0.7 x + 5 ln x.
  auto c = logarithmic(10, 0.7f, 5);
  EXPECT_NEAR(channel_to_energy(c, 0), 10.0, kFloatTol);
  EXPECT_NEAR(channel_to_energy(c, -3), 10.0 - 2.1, kFloatTol);
  // Channel 100: 10 + 70 + 5 ln 100 = 103.0258509.
  EXPECT_NEAR(channel_to_energy(c, 100), 103.0258509, 1e-4);
}

TEST(EnergyCalibration, LogarithmicInversionStopsWithinTolerance) {
  // E = x + 10 ln x; the root of x + 10 ln x = 100 is x = 59.1952 (by
  // bisection). Hand iteration: x = 100, 53.95, 60.12, 59.04, 59.22, 59.19:
  // five steps, the last residual about -0.03 keV, inside the 0.1 keV stop.
  auto c = logarithmic(0, 1, 10);
  const double x = energy_to_channel(c, 100);
  EXPECT_NEAR(x, 59.1952, 0.01);
  EXPECT_NEAR(channel_to_energy(c, x), 100.0, 0.1);
}

TEST(EnergyCalibration, NonFiniteTermCountIsUncalibrated) {
  CalibrationRecord c = linear(5, 2);
  c.energy_terms = std::nanf("");
  EXPECT_DOUBLE_EQ(channel_to_energy(c, 10), 10.0);
  EXPECT_EQ(term_count(1e30f), 0);
  EXPECT_EQ(term_count(-2.0f), -2);
  EXPECT_EQ(term_count(3.0f), 3);
}

// -------------------------------------------------------------- width

TEST(WidthCalibration, UncalibratedDependsOnChannelCount) {
  CalibrationRecord c;
  // 4096 channels: 16 + 0.01 x; 1024 channels: 4 + 0.01 x.
  EXPECT_NEAR(width_at_channel(c, 100), 17.0, 1e-12);
  CalibrationContext ctx;
  ctx.channels = 1024;
  EXPECT_NEAR(width_at_channel(c, 100, ctx), 5.0, 1e-12);
  ctx.channels = 1000;  // integer division: 3
  EXPECT_NEAR(width_at_channel(c, 100, ctx), 4.0, 1e-12);
}

TEST(WidthCalibration, NeverBelowOneChannel) {
  CalibrationRecord c;
  CalibrationContext ctx;
  ctx.channels = 128;  // 0 + 0.01 x
  EXPECT_DOUBLE_EQ(width_at_channel(c, 50, ctx), 1.0);
  auto k = linear(0, 0.5f);
  k.width_terms = 2;
  k.width = {0.1f, 0, 0};
  EXPECT_DOUBLE_EQ(width_at_channel(k, 500), 1.0);
  k.width = {-4.0f, 0, 0};
  EXPECT_DOUBLE_EQ(width_at_channel(k, 500), 1.0);
}

TEST(WidthCalibration, PolynomialInEnergy) {
  // E = 0.5 x: channel 1000 is 500 keV. W = 1 + 0.002 * 500 = 2;
  // with the third term + 1e-6 * 500^2 = 0.25.
  auto c = linear(0, 0.5f);
  c.width_terms = 2;
  c.width = {1, 0.002f, 1e-6f};
  EXPECT_NEAR(width_at_channel(c, 1000), 2.0, kFloatTol);
  c.width_terms = 3;
  EXPECT_NEAR(width_at_channel(c, 1000), 2.25, kFloatTol);
}

TEST(WidthCalibration, OwnCalibrationOfTypeFourUsesChannel) {
  // Same coefficients, u = x = 1000: W = 1 + 2 = 3.
  auto c = linear(0, 0.5f);
  c.width_terms = 2;
  c.width = {1, 0.002f, 0};
  CalibrationContext ctx;
  ctx.spectrum_type = 4;
  ctx.detector_file = 0;
  EXPECT_NEAR(width_at_channel(c, 1000, ctx), 3.0, kFloatTol);
  ctx.detector_file = 2;  // with a detector file: energy again
  EXPECT_NEAR(width_at_channel(c, 1000, ctx), 2.0, kFloatTol);
  ctx.spectrum_type = 5;
  ctx.detector_file = 0;  // other foreign types: energy
  EXPECT_NEAR(width_at_channel(c, 1000, ctx), 2.0, kFloatTol);
}

TEST(WidthCalibration, ResolutionFormFromFwhmInKev) {
  // E = 0.5 x; at x = 800, E = 400 keV: FWHM = 5 + 1.5 sqrt(400) = 35 keV,
  // sigma = 35 / (0.5 * 2.355) = 29.72399 channels.
  auto c = linear(0, 0.5f);
  c.width_terms = -2;
  c.width = {5, 1.5f, 0};
  EXPECT_NEAR(width_at_channel(c, 800), 35.0 / (0.5 * 2.355), 1e-4);
  // A negative energy counts as 0: 5 / 1.1775 = 4.24628.
  c.energy[0] = -100;
  EXPECT_NEAR(width_at_channel(c, 100), 5.0 / 1.1775, 1e-4);
}

TEST(WidthCalibration, OtherNegativeTermCountsAreUncalibrated) {
  auto c = linear(0, 0.5f);
  c.width_terms = -1;
  c.width = {5, 1.5f, 0};
  EXPECT_NEAR(width_at_channel(c, 100), 17.0, 1e-12);
}

// ------------------------------------------------------------ tailing

TEST(TailCalibration, UncalibratedFollowsWidth) {
  CalibrationRecord c;  // W(100) = 17
  EXPECT_NEAR(low_tail_at_channel(c, 100), 1.75 * 17, 1e-9);
  EXPECT_NEAR(high_tail_at_channel(c, 100), 10.0 * 17, 1e-9);
}

TEST(TailCalibration, PolynomialInEnergyWithLowerBounds) {
  // E = 0.5 x, W = 2 at channel 1000 (E = 500 keV).
  auto c = linear(0, 0.5f);
  c.width_terms = 2;
  c.width = {1, 0.002f, 0};
  c.low_tail_terms = 3;
  c.low_tail = {1, 0.001f, 1e-6f};  // 1 + 0.5 + 0.25
  c.high_tail_terms = 2;
  c.high_tail = {2, 0.004f, 1};  // 2 + 2; the third term is not used
  EXPECT_NEAR(low_tail_at_channel(c, 1000), 1.75, kFloatTol);
  EXPECT_NEAR(high_tail_at_channel(c, 1000), 4.0, kFloatTol);
  c.low_tail = {0.1f, 0, 0};  // below 0.5 W = 1
  c.high_tail = {0.5f, 0, 0};  // below W = 2
  EXPECT_NEAR(low_tail_at_channel(c, 1000), 1.0, kFloatTol);
  EXPECT_NEAR(high_tail_at_channel(c, 1000), 2.0, kFloatTol);
}

// --------------------------------------------------------- efficiency

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

TEST(EfficiencyCurve, LogFormKnownAnswers) {
  auto c = two_curves();
  // exp(1 - 0.5 ln 100) = e / 10 = 0.2718282.
  EXPECT_NEAR(efficiency_at(c, 100), 0.2718282, 1e-6);
  // At the crossover the low curve: exp(1 - 0.5 ln 200) = 0.1922116.
  EXPECT_NEAR(efficiency_at(c, 200), 0.1922116, 1e-6);
  // Just above it the high curve: exp(2 - 0.8 l + 0.01 l^2), l = ln 200.5,
  // = 0.1409056.
  EXPECT_NEAR(efficiency_at(c, 200.5), 0.1409056, 1e-6);
}

TEST(EfficiencyCurve, UncalibratedOrNonPositiveEnergyGivesOne) {
  auto c = two_curves();
  EXPECT_DOUBLE_EQ(efficiency_at(c, 0), 1.0);
  EXPECT_DOUBLE_EQ(efficiency_at(c, -5), 1.0);
  c.high_eff_terms = 0;
  EXPECT_DOUBLE_EQ(efficiency_at(c, 500), 1.0);
}

TEST(EfficiencyCurve, LogarithmIsLimitedAtBothEnds) {
  CalibrationRecord c;
  c.crossover = 1e6f;
  c.low_eff_terms = 1;
  c.low_eff = {5, 0, 0, 0, 0};
  // The upper limit is 0.693471, not ln 2: exp(0.693471) = 2.0006477.
  EXPECT_NEAR(efficiency_at(c, 100), 2.0006477, 1e-6);
  EXPECT_GT(efficiency_at(c, 100), 2.0005);
  c.low_eff = {-50, 0, 0, 0, 0};
  EXPECT_NEAR(efficiency_at(c, 100), std::exp(-30.0), 1e-20);
}

TEST(EfficiencyCurve, InverseEnergyForm) {
  // High curve with 3 terms and the inverse form field 3:
  // L = 0.1 e - 2 - 0.3 / e, e in MeV.
  CalibrationRecord c;
  c.crossover = 100;
  c.inverse_form = 3;
  c.high_eff_terms = 3;
  c.high_eff = {0.1f, -2, -0.3f, 0, 0, 0};
  c.low_eff_terms = 2;  // not the inverse form: log polynomial
  c.low_eff = {1, -0.5f, 0, 0, 0};
  // e = 1: 0.1 - 2 - 0.3 = -2.2 -> 0.1108032.
  EXPECT_NEAR(efficiency_at(c, 1000), 0.1108032, 1e-6);
  // e = 0.5: 0.05 - 2 - 0.6 = -2.55 -> 0.0780817.
  EXPECT_NEAR(efficiency_at(c, 500), 0.0780817, 1e-6);
  EXPECT_NEAR(efficiency_at(c, 100), 0.2718282, 1e-6);
}

TEST(EfficiencyCurve, FourTermInverseForm) {
  // L = a1 e + a2 + a3/e + a4/e^2 = 0.2*2 - 1.5 + 0.4/2 - 0.2/4 = -0.95
  // at e = 2 MeV.
  CalibrationRecord c;
  c.inverse_form = 4;
  c.high_eff_terms = 4;
  c.high_eff = {0.2f, -1.5f, 0.4f, -0.2f, 0, 0};
  EXPECT_NEAR(efficiency_at(c, 2000), std::exp(-0.95), 1e-6);
}

TEST(EfficiencyCurve, UsesPointsWhenSwitchedOn) {
  auto c = two_curves();
  auto p = points({{100, 0.2f, 0.05f}, {400, 0.05f, 0.03f}});
  CalibrationContext ctx;
  ctx.points = &p;
  ctx.use_points = true;
  // Two points: straight line in log-log, eff = 20 / E.
  EXPECT_NEAR(efficiency_at(c, 200, ctx), 0.1, 1e-6);
  ctx.use_points = false;
  EXPECT_NEAR(efficiency_at(c, 200, ctx), 0.1922116, 1e-6);
}

TEST(EfficiencyCurve, SingleTermOwnCalibrationInterpolatesLinearly) {
  CalibrationRecord c;
  c.crossover = 1e6f;
  c.low_eff_terms = 1;
  c.low_eff = {-1, 0, 0, 0, 0};
  auto p = points({{100, 0.2f, 0}, {200, 0.1f, 0}});
  CalibrationContext ctx;
  ctx.spectrum_type = 4;
  ctx.detector_file = 0;
  ctx.points = &p;
  EXPECT_NEAR(efficiency_at(c, 150, ctx), 0.15, 1e-6);
  ctx.detector_file = 1;
  EXPECT_NEAR(efficiency_at(c, 150, ctx), std::exp(-1.0), 1e-6);
}

TEST(EfficiencyUncertainty, LogFormVariancePolynomial) {
  // Low curve 2 terms: V = 0.01 - 0.002 l + 0.0001 l^2, l = ln 100 =
  // 4.6051702: 0.01 - 0.0092103 + 0.0021208 = 0.0029104.
  auto c = two_curves();
  c.variance[0] = 0.01;
  c.variance[1] = -0.002;
  c.variance[2] = 0.0001;
  c.variance[3] = 99;  // beyond 2n - 1 coefficients: not used
  auto r = efficiency_with_uncertainty(c, 100, CalibrationContext{});
  EXPECT_NEAR(r.efficiency, 0.2718282, 1e-6);
  EXPECT_NEAR(r.relative_variance, 0.0029104, 1e-7);
}

TEST(EfficiencyUncertainty, ZeroFirstCoefficientOrNegativeVarianceGivesZero) {
  auto c = two_curves();
  c.variance[0] = 0;
  c.variance[1] = 0.01;
  EXPECT_DOUBLE_EQ(efficiency_with_uncertainty(c, 100, {}).relative_variance, 0.0);
  c.variance[0] = -1;
  EXPECT_DOUBLE_EQ(efficiency_with_uncertainty(c, 100, {}).relative_variance, 0.0);
  c.variance[0] = 0.01;
  EXPECT_DOUBLE_EQ(efficiency_with_uncertainty(c, 0, {}).relative_variance, 0.0);
}

TEST(EfficiencyUncertainty, HighCurveStartsAtIndexNineInverseForm) {
  // Inverse form, 3 terms: 5 coefficients v9..v13 of z = 1000/E.
  // E = 500, z = 2: 1e-4 + 2e-4*2 + 0 + 0 + 1e-6*16 = 5.16e-4.
  CalibrationRecord c;
  c.crossover = 100;
  c.inverse_form = 3;
  c.high_eff_terms = 3;
  c.high_eff = {0.1f, -2, -0.3f, 0, 0, 0};
  c.variance[9] = 1e-4;
  c.variance[10] = 2e-4;
  c.variance[13] = 1e-6;
  c.variance[14] = 5;  // the sixth coefficient is not used with 3 terms
  c.variance_stored = 1;
  EXPECT_NEAR(efficiency_with_uncertainty(c, 500, {}).relative_variance, 5.16e-4, 1e-12);

  // Without stored variances, the inverse form takes the uncertainty from
  // the points: at 500 keV halfway between 0.04 and 0.06 -> 0.05^2.
  c.variance_stored = 0;
  auto p = points({{400, 0.1f, 0.04f}, {600, 0.05f, 0.06f}});
  CalibrationContext ctx;
  ctx.points = &p;
  EXPECT_NEAR(efficiency_with_uncertainty(c, 500, ctx).relative_variance, 0.0025, 1e-8);
}

TEST(EfficiencyUncertainty, ForeignSpectrumWithoutDetectorFileUsesPoints) {
  auto c = two_curves();
  c.variance[0] = 0.01;
  auto p = points({{400, 0.1f, 0.04f}, {600, 0.05f, 0.06f}});
  CalibrationContext ctx;
  ctx.points = &p;
  ctx.spectrum_type = 2;
  ctx.detector_file = 0;
  // 100 keV is below the first point: (0, 1.0) to (400, 0.04) gives
  // 1 - 0.96 / 4 = 0.76.
  EXPECT_NEAR(efficiency_with_uncertainty(c, 100, ctx).relative_variance, 0.76 * 0.76, 1e-6);
  ctx.spectrum_type = 1;  // type 1 keeps the variance coefficients
  EXPECT_NEAR(efficiency_with_uncertainty(c, 100, ctx).relative_variance, 0.01, 1e-9);
}

TEST(EfficiencyPointsRule, NeedsPointsAndOptionOrNoHighCurve) {
  auto c = two_curves();
  EfficiencyPoints none;
  auto p = points({{100, 0.2f, 0}});
  EXPECT_FALSE(use_efficiency_points_rule(c, none, true));
  EXPECT_TRUE(use_efficiency_points_rule(c, p, true));
  EXPECT_FALSE(use_efficiency_points_rule(c, p, false));
  c.high_eff_terms = 0;
  EXPECT_TRUE(use_efficiency_points_rule(c, p, false));
}

// ------------------------------------------------ interpolation in points

EfficiencyPoints three_points() {
  return points({{100, 0.2f, 0.05f}, {200, 0.1f, 0.03f}, {400, 0.05f, 0.04f}});
}

TEST(LinearEfficiencyInterpolation, SegmentsAndEnds) {
  auto p = three_points();
  EXPECT_NEAR(interpolate_efficiency_linear(p, 150), 0.15, 1e-7);
  EXPECT_NEAR(interpolate_efficiency_linear(p, 300), 0.075, 1e-7);
  EXPECT_NEAR(interpolate_efficiency_linear(p, 200), 0.1, 1e-7);
  // Below the first point: the first segment extended, 0.2 + 0.1 * 0.5.
  EXPECT_NEAR(interpolate_efficiency_linear(p, 50), 0.25, 1e-7);
  // Above the last: the last segment, 0.05 - 0.05 * 100 / 200.
  EXPECT_NEAR(interpolate_efficiency_linear(p, 500), 0.025, 1e-7);
  EXPECT_DOUBLE_EQ(interpolate_efficiency_linear(p, 0), 0.0);
  p.count = 1;
  EXPECT_NEAR(interpolate_efficiency_linear(p, 300), 0.2, 1e-7);
}

TEST(LinearEfficiencyInterpolation, CountAboveFortyIsLimited) {
  auto p = three_points();
  p.count = 1000;  // from a damaged file: only 40 slots exist
  EXPECT_NO_FATAL_FAILURE(interpolate_efficiency_linear(p, 300));
  EXPECT_NO_FATAL_FAILURE(interpolate_efficiency_loglog(p, 300));
  EXPECT_NO_FATAL_FAILURE(interpolate_uncertainty(p, 300));
}

TEST(UncertaintyInterpolation, FromUnityAtZeroAndExtrapolatedAtTop) {
  auto p = three_points();
  // (0, 1.0) to (100, 0.05) at 50: 1 - 0.95 / 2 = 0.525.
  EXPECT_NEAR(interpolate_uncertainty(p, 50), 0.525, 1e-7);
  EXPECT_NEAR(interpolate_uncertainty(p, 100), 0.05, 1e-7);
  EXPECT_NEAR(interpolate_uncertainty(p, 150), 0.04, 1e-7);
  EXPECT_NEAR(interpolate_uncertainty(p, 200), 0.03, 1e-7);
  EXPECT_NEAR(interpolate_uncertainty(p, 300), 0.035, 1e-7);
  // Last segment extended: 0.03 + 0.01 * 300 / 200 = 0.045.
  EXPECT_NEAR(interpolate_uncertainty(p, 500), 0.045, 1e-7);
  p.count = 1;
  EXPECT_DOUBLE_EQ(interpolate_uncertainty(p, 300), 0.0);
}

TEST(LogLogEfficiencyInterpolation, ReproducesPowerLawAboveSecondPoint) {
  // eff = 20 E^-0.8 is a straight line in log-log; the quadratic through
  // any three of its points is that line: 20 * 300^-0.8 = 0.2086090.
  EfficiencyPoints p;
  for (float e : {100.f, 200.f, 400.f, 800.f}) {
    p.energy[p.count] = e;
    p.efficiency[p.count] = static_cast<float>(20 * std::pow(e, -0.8));
    ++p.count;
  }
  EXPECT_NEAR(interpolate_efficiency_loglog(p, 300), 0.2086090, 1e-6);
  EXPECT_NEAR(interpolate_efficiency_loglog(p, 600), 20 * std::pow(600, -0.8), 1e-6);
  EXPECT_NEAR(interpolate_efficiency_loglog(p, 1500), 20 * std::pow(1500, -0.8), 1e-6);
}

TEST(LogLogEfficiencyInterpolation, DecreasingBetweenFirstPointsUsesLinear) {
  // Between E0 and E1 a falling curve's fit always exceeds eff1, so the
  // linear interpolation between points 0 and 1 is taken.
  auto p = three_points();
  EXPECT_NEAR(interpolate_efficiency_loglog(p, 150), 0.15, 1e-7);
  // Below E0 the fit exceeds eff0: eff0 * E / E0 = 0.2 * 0.5.
  EXPECT_NEAR(interpolate_efficiency_loglog(p, 50), 0.1, 1e-7);
}

TEST(LogLogEfficiencyInterpolation, QuadraticFitKeptWhenWithinNeighbours) {
  // Points (100, 0.1), (200, 0.3), (400, 0.29): the log-log parabola at
  // 150 keV is 0.2181742 (Lagrange form in ln E), below eff1 = 0.3: kept.
  auto p = points({{100, 0.1f, 0}, {200, 0.3f, 0}, {400, 0.29f, 0}});
  EXPECT_NEAR(interpolate_efficiency_loglog(p, 150), 0.2181742, 1e-6);
}

TEST(LogLogEfficiencyInterpolation, OvershootAtMidEnergyFallsBackToLinear) {
  // Same points: the parabola at the mid-energy 300 keV of points 1 and 2 is
  // 0.3374536, above both 0.3 and 0.29: at 250 keV the linear value
  // 0.3 - 0.01 * 50 / 200 = 0.2975 is given.
  auto p = points({{100, 0.1f, 0}, {200, 0.3f, 0}, {400, 0.29f, 0}});
  EXPECT_NEAR(interpolate_efficiency_loglog(p, 250), 0.2975, 1e-6);
}

TEST(LogLogEfficiencyInterpolation, OvershootBetweenFirstPointsFallsBackToLinear) {
  // (100, 0.3), (200, 0.31), (400, 0.1): the parabola at 150 keV is
  // 0.3522303 > eff1 = 0.31: linear between the first two, 0.305.
  auto p = points({{100, 0.3f, 0}, {200, 0.31f, 0}, {400, 0.1f, 0}});
  EXPECT_NEAR(interpolate_efficiency_loglog(p, 150), 0.305, 1e-6);
}

TEST(LogLogEfficiencyInterpolation, RisingCurveBelowFirstPointKeepsFit) {
  // (100, 0.1), (200, 0.2), (400, 0.15): the parabola at 50 keV is 0.01875,
  // below eff0 = 0.1: kept.
  auto p = points({{100, 0.1f, 0}, {200, 0.2f, 0}, {400, 0.15f, 0}});
  EXPECT_NEAR(interpolate_efficiency_loglog(p, 50), 0.01875, 1e-6);
}

TEST(LogLogEfficiencyInterpolation, WindowFollowsEnergyAboveLastPoint) {
  // Four points, E = 1000 above the last: the window is points 1..3,
  // (200, 0.2), (400, 0.15), (800, 0.08): parabola at 1000 = 0.0607712.
  auto p = points({{100, 0.1f, 0}, {200, 0.2f, 0}, {400, 0.15f, 0}, {800, 0.08f, 0}});
  EXPECT_NEAR(interpolate_efficiency_loglog(p, 1000), 0.0607712, 1e-6);
}

TEST(LogLogEfficiencyInterpolation, TwoPointsGiveStraightLineLimited) {
  auto p = points({{100, 0.2f, 0}, {400, 0.05f, 0}});
  EXPECT_NEAR(interpolate_efficiency_loglog(p, 800), 0.025, 1e-7);  // 20 / E
  // (100, 1.5), (200, 1.9): 1.5 * 8^0.341 = 3.05 at 800 keV, limited to
  // exp(0.693471).
  auto q = points({{100, 1.5f, 0}, {200, 1.9f, 0}});
  EXPECT_NEAR(interpolate_efficiency_loglog(q, 800), 2.0006477, 1e-6);
}

TEST(LogLogEfficiencyInterpolation, DegenerateInputs) {
  auto p = three_points();
  EXPECT_DOUBLE_EQ(interpolate_efficiency_loglog(p, 0), 1.0);
  p.count = 1;
  EXPECT_NEAR(interpolate_efficiency_loglog(p, 300), 0.2, 1e-7);
  // Duplicate energies make the fit singular: linear interpolation stands in.
  auto d = points({{100, 0.2f, 0}, {100, 0.2f, 0}, {100, 0.2f, 0}});
  EXPECT_FALSE(std::isnan(interpolate_efficiency_loglog(d, 150)));
  // A zero efficiency has no logarithm.
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
