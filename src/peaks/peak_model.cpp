#include "peaks/peak_model.h"

#include <cmath>

namespace kestrim {

double peak_shape(double x, double p, double s, double t, double cutoff) {
  double d = x - p;
  if (std::fabs(d) > cutoff) return kShapeFloor;
  if (d < -t) return std::exp(t * (t + 2 * d) / (2 * s * s));
  return std::exp(-d * d / (2 * s * s));
}

void peak_shape_row(double* out, int stride, int from, int to, double p, double s, double t, double cutoff) {
  const double inv = 1 / (2 * s * s);
  const double gauss_step = std::exp(-2 * inv);
  int piece = -1;  // 0 beyond the cutoff, 1 tail, 2 Gaussian
  double value = 0, ratio = 0;
  for (int x = from; x <= to; ++x, out += stride) {
    const double d = x - p;
    const int now = std::fabs(d) > cutoff ? 0 : (d < -t ? 1 : 2);
    if (now == 0) {
      *out = kShapeFloor;
    } else if (now != piece) {
      value = peak_shape(x, p, s, t, cutoff);
      ratio = now == 1 ? std::exp(2 * t * inv) : std::exp(-(2 * d + 1) * inv);
      *out = value;
    } else {
      value *= ratio;
      if (now == 2) ratio *= gauss_step;
      *out = value;
    }
    piece = now;
  }
}

double peak_shape_for_area(double x, double p, double s, double t) {
  double d = x - p;
  if (std::fabs(d) >= 10 * s) return 0;
  if (d < -t) return std::exp(t * (t + 2 * d) / (2 * s * s));
  return std::exp(-d * d / (2 * s * s));
}

}  // namespace kestrim
