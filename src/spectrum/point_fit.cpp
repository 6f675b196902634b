#include "spectrum/point_fit.h"

#include <cmath>

#include "platform/linear_solver.h"

namespace kestrim {

PointFit fit_calibration_points(const std::vector<CalibrationPoint>& points, int terms) {
  PointFit fit;
  fit.terms = terms;
  if (terms < 1 || terms > 3) return fit;
  NormalEquations eq(terms);
  int used = 0;
  for (const CalibrationPoint& p : points) {
    if (!(p.weight > 0) || !std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.weight)) continue;
    double pow_x[5] = {1, p.x, p.x * p.x, p.x * p.x * p.x, p.x * p.x * p.x * p.x};
    for (int j = 0; j < terms; ++j) {
      eq.rhs(j) += p.weight * p.y * pow_x[j];
      for (int k = 0; k <= j; ++k) eq.normal(j, k) += p.weight * pow_x[j + k];
    }
    ++used;
  }
  fit.points_used = used;
  if (used < terms) return fit;
  eq.mirror_lower();
  if (!eq.solve()) return fit;
  for (int j = 0; j < terms; ++j) {
    fit.coefficients[j] = eq.solution(j);
    for (int k = 0; k < terms; ++k) fit.covariance[j][k] = eq.inverse(j, k);
  }
  fit.ok = true;
  for (const CalibrationPoint& p : points) {
    if (!(p.weight > 0) || !std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.weight)) continue;
    double r = p.y - evaluate(fit, p.x);
    fit.chi_square += p.weight * r * r;
  }
  return fit;
}

double evaluate(const PointFit& fit, double x) {
  double v = 0;
  for (int k = fit.terms - 1; k >= 0; --k) v = v * x + fit.coefficients[k];
  return v;
}

}  // namespace kestrim
