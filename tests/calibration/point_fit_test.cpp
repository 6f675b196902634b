// The calibration-point fit: known answers worked out by hand.
#include "spectrum/point_fit.h"

#include <gtest/gtest.h>

namespace kestrim {
namespace {

// Exact data: the fit must reproduce the coefficients to rounding.
constexpr double kExact = 1e-9;

TEST(PointFit, ThreePointsOnAQuadraticAreReproduced) {
  // E = 2 + 0.5 ch + 1e-4 ch^2 at channels 100, 400, 800:
  //   100 -> 2 + 50 + 1 = 53; 400 -> 2 + 200 + 16 = 218; 800 -> 2 + 400 + 64 = 466.
  PointFit fit = fit_calibration_points({{100, 53, 1}, {400, 218, 1}, {800, 466, 1}}, 3);
  ASSERT_TRUE(fit.ok);
  EXPECT_NEAR(fit.coefficients[0], 2.0, 1e-7);
  EXPECT_NEAR(fit.coefficients[1], 0.5, 1e-9);
  EXPECT_NEAR(fit.coefficients[2], 1e-4, 1e-12);
  EXPECT_NEAR(fit.chi_square, 0.0, 1e-12);
  EXPECT_NEAR(evaluate(fit, 1000), 2 + 500 + 100, 1e-6);
}

TEST(PointFit, WeightsPullTheLineTowardsHeavyPoints) {
  // Three points of a constant fit: the weighted mean (1x1 + 3x5) / 4 = 4.
  PointFit fit = fit_calibration_points({{0, 1, 1}, {1, 5, 3}, {2, 0, 0}}, 1);
  ASSERT_TRUE(fit.ok);
  EXPECT_EQ(fit.points_used, 2);  // the zero-weight point is left out
  EXPECT_NEAR(fit.coefficients[0], 4.0, kExact);
  // chi^2 = 1 x (1-4)^2 + 3 x (5-4)^2 = 12; variance of the mean = 1/sum w = 0.25.
  EXPECT_NEAR(fit.chi_square, 12.0, kExact);
  EXPECT_NEAR(fit.covariance[0][0], 0.25, kExact);
}

TEST(PointFit, LineThroughTwoPointsHasTheirSlope) {
  // (122, 7.8551) and (662, 18.27903): slope 10.42393 / 540.
  PointFit fit = fit_calibration_points({{122, 7.8551, 1}, {662, 18.27903, 1}}, 2);
  ASSERT_TRUE(fit.ok);
  EXPECT_NEAR(fit.coefficients[1], 10.42393 / 540.0, kExact);
  EXPECT_NEAR(fit.coefficients[0], 7.8551 - 122 * 10.42393 / 540.0, 1e-9);
}

TEST(PointFit, LeastSquaresLineOfFourPoints) {
  // y = 1, 3, 2, 4 at x = 0..3 (means 1.5, 2.5):
  // Sxy = 2.25 - 0.25 - 0.25 + 2.25 = 4, Sxx = 5, slope 0.8,
  // intercept = 2.5 - 0.8 x 1.5 = 1.3; residuals -0.3, 0.9, -0.9, 0.3
  // give chi^2 = 2 x (0.09 + 0.81) = 1.8.
  PointFit fit = fit_calibration_points({{0, 1, 1}, {1, 3, 1}, {2, 2, 1}, {3, 4, 1}}, 2);
  ASSERT_TRUE(fit.ok);
  EXPECT_NEAR(fit.coefficients[1], 0.8, kExact);
  EXPECT_NEAR(fit.coefficients[0], 1.3, kExact);
  EXPECT_NEAR(fit.chi_square, 1.8, kExact);
  // Covariance of the slope = 1 / Sxx = 1/5 for unit weights.
  EXPECT_NEAR(fit.covariance[1][1], 0.2, kExact);
}

TEST(PointFit, TooFewOrRepeatedPointsFail) {
  EXPECT_FALSE(fit_calibration_points({{1, 2, 1}}, 2).ok);
  EXPECT_FALSE(fit_calibration_points({{1, 2, 1}, {1, 3, 1}}, 2).ok);  // singular
  EXPECT_FALSE(fit_calibration_points({{1, 2, 1}, {2, 3, 1}}, 4).ok);
  EXPECT_FALSE(fit_calibration_points({{1, 2, 1}, {2, 3, 1}}, 0).ok);
}

}  // namespace
}  // namespace kestrim
