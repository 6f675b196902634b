#include "peaks/resolution_estimate.h"

#include <algorithm>
#include <cmath>

#include "settings/calibration_functions.h"
#include "spectrum/spectrum_record.h"

namespace kestrim {

namespace {

constexpr double kLowestEnergy = 100.0;  // keV: below it X-rays and backscatter crowd

struct Line {
  double a = 0, b = 0;  // counts = a + b x
  double at(double x) const { return a + b * x; }
};

// The straight line between the lowest counts in [x - far, x - near] and in
// [x + near, x + far].
Line baseline(const SpectrumRecord& s, int first, int last, int x, double near, double far) {
  auto lowest = [&](int from, int to, int& where) {
    double v = 1e300;
    for (int k = std::max(from, first); k <= std::min(to, last); ++k)
      if (s.counts[k] < v) {
        v = s.counts[k];
        where = k;
      }
    return v;
  };
  int xl = x, xr = x;
  const double yl = lowest(x - static_cast<int>(far), x - static_cast<int>(near), xl);
  const double yr = lowest(x + static_cast<int>(near), x + static_cast<int>(far), xr);
  Line l;
  if (yl > 1e299 || yr > 1e299 || xr == xl) {
    l.a = yl < 1e299 ? yl : (yr < 1e299 ? yr : 0);
    return l;
  }
  l.b = (yr - yl) / (xr - xl);
  l.a = yl - l.b * xl;
  return l;
}

// Half-maximum width in channels of the peak at x above line l, or 0.
double half_max_width(const SpectrumRecord& s, int first, int last, int x, const Line& l, int reach) {
  const double half = (s.counts[x] - l.at(x)) / 2;
  if (!(half > 0)) return 0;
  double left = 0, right = 0;
  for (int k = x - 1; k >= std::max(first, x - reach); --k) {
    const double v = s.counts[k] - l.at(k);
    if (v <= half) {
      const double v1 = s.counts[k + 1] - l.at(k + 1);
      left = k + (half - v) / (v1 - v);
      break;
    }
  }
  for (int k = x + 1; k <= std::min(last, x + reach); ++k) {
    const double v = s.counts[k] - l.at(k);
    if (v <= half) {
      const double v0 = s.counts[k - 1] - l.at(k - 1);
      right = k - 1 + (v0 - half) / (v0 - v);
      break;
    }
  }
  if (left == 0 || right == 0) return 0;
  return right - left;
}

}  // namespace

ResolutionEstimate measure_resolution(const SpectrumRecord& s, int first_channel) {
  ResolutionEstimate out;
  const CalibrationRecord& cal = s.calibration;
  const int last = std::min(s.channels(), kMaxChannelsStored) - 1;
  const int first = std::max(first_channel, 2);
  if (last - first < 20 || nai_typical_fwhm_channels(cal, last) <= 0) return out;

  // The candidate: the highest net local maximum above 100 keV.
  int best = -1;
  double best_net = 0;
  for (int x = first + 1; x < last; ++x) {
    if (!(s.counts[x] >= s.counts[x - 1] && s.counts[x] > s.counts[x + 1])) continue;
    if (channel_to_energy(cal, x) < kLowestEnergy) continue;
    const double f = nai_typical_fwhm_channels(cal, x);
    if (!(f > 0)) continue;
    const Line l = baseline(s, first, last, x, 0.8 * f, 2.0 * f);
    const double net = s.counts[x] - l.at(x);
    if (net > best_net) {
      best_net = net;
      best = x;
    }
  }
  if (best < 0) return out;

  const double typical = nai_typical_fwhm_channels(cal, best);
  const int reach = static_cast<int>(3 * typical) + 1;
  double fwhm = typical;
  double w = 0;
  for (int pass = 0; pass < 4; ++pass) {
    const Line l = baseline(s, first, last, best, 1.5 * fwhm, 2.5 * fwhm + 2);
    w = half_max_width(s, first, last, best, l, reach);
    if (!(w >= 2.0)) return out;
    // Net counts within one FWHM of the centre.
    double net = 0;
    for (int k = best - static_cast<int>(w / 2); k <= best + static_cast<int>(w / 2); ++k)
      if (k >= first && k <= last) net += s.counts[k] - l.at(k);
    if (net < kMinNetCounts) return out;
    const bool settled = std::fabs(w - fwhm) < 0.05 * fwhm;
    fwhm = w;
    if (settled) break;
  }
  const double e = channel_to_energy(cal, best);
  const double gain = channel_to_energy(cal, best + 0.5) - channel_to_energy(cal, best - 0.5);
  out.measured = true;
  out.energy_kev = e;
  out.fwhm_kev = fwhm * gain;
  out.ratio = fwhm / typical;
  return out;
}

}  // namespace kestrim
