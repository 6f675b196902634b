// The calibration-point fit: a weighted least-squares polynomial of 1 to 3
// terms, y = c0 + c1 x + c2 x^2, through points (x, y, weight). The energy
// calibration fits energy against channel with it; the width calibrations
// fit widths against energy or channel.
//
// Minimises sum_i w_i (y_i - sum_k c_k x_i^k)^2 through the normal
// equations N c = r, N_jk = sum w x^(j+k), r_j = sum w y x^j, solved by
// NormalEquations (Gauss-Jordan); the inverse of N is returned as the
// covariance of the coefficients for unit-variance weights (w = 1/sigma^2).
#pragma once

#include <array>
#include <vector>

namespace kestrim {

struct CalibrationPoint {
  double x = 0;       // channel (or energy)
  double y = 0;       // energy (or width)
  double weight = 1;  // 1 / variance of y; points of weight <= 0 are left out
};

struct PointFit {
  bool ok = false;  // false: fewer usable points than terms, or a singular system
  int terms = 0;
  std::array<double, 3> coefficients{};
  std::array<std::array<double, 3>, 3> covariance{};
  double chi_square = 0;  // sum w (y - fit)^2
  int points_used = 0;
};

// Fits `terms` (1-3) coefficients; an out-of-range `terms` gives ok = false.
PointFit fit_calibration_points(const std::vector<CalibrationPoint>& points, int terms);

// The fitted polynomial at x.
double evaluate(const PointFit& fit, double x);

}  // namespace kestrim
