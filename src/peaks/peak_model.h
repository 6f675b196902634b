// The peak shape of the fitting engine.
//
// Unit-height shape of a peak at position p with Gaussian sigma s and low-
// energy tail distance t, at channel x (d = x - p):
//   |d| > cutoff:   1e-20 (the engine's cutoff is 10 sigma of the region's
//                   first peak);
//   d < -t:         exp(t (t + 2d) / (2 s^2)), an exponential tail joining
//                   the Gaussian with equal value and slope at d = -t;
//   otherwise:      exp(-d^2 / (2 s^2)).
// Needs s > 0 and t > 0.
#pragma once

namespace kestrim {

inline constexpr double kShapeFloor = 1e-20;

double peak_shape(double x, double p, double s, double t, double cutoff);

// peak_shape at the channels from..to, written to out[0], out[stride], ...
// Equal to peak_shape to rounding, with one exponential per piece of the
// shape instead of one per channel: along whole channels the Gaussian's
// ratio from one channel to the next changes by a constant factor and the
// tail's is constant.
void peak_shape_row(double* out, int stride, int from, int to, double p, double s, double t, double cutoff);

// The shape used for areas: 0 where |x - p| >= 10 s (the peak's own sigma).
double peak_shape_for_area(double x, double p, double s, double t);

}  // namespace kestrim
