#include "peaks/peak_model.h"

#include <cmath>

namespace kestrim {

double peak_shape(double x, double p, double s, double t, double cutoff) {
  double d = x - p;
  if (std::fabs(d) > cutoff) return kShapeFloor;
  if (d < -t) return std::exp(t * (t + 2 * d) / (2 * s * s));
  return std::exp(-d * d / (2 * s * s));
}

double peak_shape_for_area(double x, double p, double s, double t) {
  double d = x - p;
  if (std::fabs(d) >= 10 * s) return 0;
  if (d < -t) return std::exp(t * (t + 2 * d) / (2 * s * s));
  return std::exp(-d * d / (2 * s * s));
}

}  // namespace kestrim
