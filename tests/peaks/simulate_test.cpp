#include "spectrum/simulate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "spectrum/spectrum_record.h"
#include "settings/calibration_functions.h"

namespace kestrim {
namespace {

TEST(SimulateTest, NoiselessPeakSumsToRequestedArea) {
  SimOptions o;
  o.noise = false;
  o.peaks = {{662, 25000, 0}};
  SimSpectrum s = simulate_spectrum(o);
  ASSERT_EQ(s.truth.size(), 1u);
  double sum = std::accumulate(s.expected.begin(), s.expected.end(), 0.0);
  // Sampling a smooth peak of sigma ~6.6 channels at channel centres sums to
  // its integral to far better than 0.1 %.
  EXPECT_NEAR(sum, 25000, 25);
  EXPECT_NEAR(s.truth[0].centre, 662 / 3.0, 1e-9);
  EXPECT_NEAR(s.truth[0].fwhm_kev, 0.07 * 662, 1e-9);
  EXPECT_NEAR(s.truth[0].fwhm_channels, 0.07 * 662 / 3, 1e-9);
}

TEST(SimulateTest, ResolutionGrowsAsSquareRootOfEnergy) {
  SimOptions o;
  // FWHM(1332) / FWHM(333) = sqrt(4) = 2.
  EXPECT_NEAR(sim_fwhm_kev(o, 1332) / sim_fwhm_kev(o, 333), 2.0, 1e-12);
}

TEST(SimulateTest, ShapeIntegralMatchesNumericSum) {
  // Integral of the tailed shape summed on a fine grid.
  double s = 3.0, t = 4.0, sum = 0;
  for (double d = -200; d <= 60; d += 0.001) {
    double v = d < -t ? std::exp(t * (t + 2 * d) / (2 * s * s)) : std::exp(-d * d / (2 * s * s));
    sum += v * 0.001;
  }
  EXPECT_NEAR(peak_shape_integral(s, t), sum, 1e-4);
}

TEST(SimulateTest, SameSeedSameSpectrumOtherSeedDiffers) {
  SimOptions o;
  o.peaks = {{662, 10000, 5}};
  o.bg_constant = 20;
  o.seed = 42;
  SimSpectrum a = simulate_spectrum(o), b = simulate_spectrum(o);
  EXPECT_EQ(a.counts, b.counts);
  o.seed = 43;
  SimSpectrum c = simulate_spectrum(o);
  EXPECT_NE(a.counts, c.counts);
}

TEST(SimulateTest, KnownDeviatesForFixedSeed) {
  // Pins the generator: a change in the sampler would silently change every
  // test spectrum.
  std::mt19937_64 rng(7);
  std::int64_t small = poisson_deviate(rng, 3.5);
  std::int64_t large = poisson_deviate(rng, 1000);
  std::mt19937_64 again(7);
  EXPECT_EQ(poisson_deviate(again, 3.5), small);
  EXPECT_EQ(poisson_deviate(again, 1000), large);
  EXPECT_EQ(poisson_deviate(again, 0), 0);
  EXPECT_EQ(poisson_deviate(again, -2), 0);
}

// Mean and variance of 20000 deviates agree with the Poisson mean within 5
// standard errors (variance of the sample variance ~ 2 mu^2 / N + mu / N).
class PoissonMoments : public ::testing::TestWithParam<double> {};

TEST_P(PoissonMoments, MeanAndVarianceMatch) {
  const double mu = GetParam();
  const int n = 20000;
  std::mt19937_64 rng(123);
  double sum = 0, sum2 = 0;
  for (int i = 0; i < n; ++i) {
    double k = static_cast<double>(poisson_deviate(rng, mu));
    ASSERT_GE(k, 0);
    sum += k;
    sum2 += k * k;
  }
  double mean = sum / n, var = sum2 / n - mean * mean;
  EXPECT_NEAR(mean, mu, 5 * std::sqrt(mu / n));
  EXPECT_NEAR(var, mu, 5 * std::sqrt((2 * mu * mu + mu) / n));
}

INSTANTIATE_TEST_SUITE_P(Means, PoissonMoments, ::testing::Values(0.3, 4.0, 9.9, 10.0, 57.0, 2500.0));

TEST(SimulateTest, ComptonShelfEndsAtEdgeAndBackgroundFalls) {
  SimOptions o;
  o.noise = false;
  o.peaks = {{662, 100000, 4}};
  SimSpectrum s = simulate_spectrum(o);
  // Compton edge of 662 keV: 662 (1 - 1/(1 + 2 x 662/511)) = 477.3 keV.
  int below = static_cast<int>(400 / 3.0), above = static_cast<int>(560 / 3.0);
  EXPECT_GT(s.expected[below], 0.2 * s.truth[0].height / 4);
  EXPECT_LT(s.expected[above], 1e-3 * s.truth[0].height);

  SimOptions b;
  b.noise = false;
  b.bg_amplitude = 500;
  b.bg_constant = 2;
  SimSpectrum bg = simulate_spectrum(b);
  EXPECT_GT(bg.expected[50], bg.expected[500]);
  EXPECT_NEAR(bg.expected[1000], 2 + 500 * std::exp(-3000.0 / 300), 1e-9);
}

// The realistic continuum of Cs-137's 661.657 keV line: its counts are the
// requested multiple of the peak's whatever the channel count, its edge
// falls at the published 477.34 keV and its backscatter bump peaks at
// 661.66 - 477.34 = 184.32 keV.
TEST(SimulateTest, RealisticComptonContinuumHoldsRequestedCountsAtEdge) {
  auto continuum = [](int channels, double* edge_kev, double* bump_kev) {
    SimOptions o;
    o.noise = false;
    o.channels = channels;
    o.gain_kev = 3072.0 / channels;
    o.offset_kev = -2 * o.gain_kev;  // channel 2 at 0 keV: nothing of the shelf is cut off
    o.fwhm_sqrt_kev = 1.79;
    SimPeak p;
    p.energy = 661.657;
    p.area = 100000;
    p.compton_to_peak = 2.5;
    o.peaks = {p};
    SimSpectrum s = simulate_spectrum(o);
    double steepest = 0, highest = 0;
    for (int x = 2; x + 1 < channels; ++x) {
      double e = sim_energy(o, x);
      if (e > 300 && e < 600 && s.expected[x] - s.expected[x + 1] > steepest) {
        steepest = s.expected[x] - s.expected[x + 1];
        *edge_kev = sim_energy(o, x + 0.5);
      }
      if (e > 120 && e < 250 && s.expected[x] > s.expected[x - 1] && s.expected[x] >= s.expected[x + 1] &&
          s.expected[x] > highest) {
        highest = s.expected[x];
        *bump_kev = e;
      }
    }
    return std::accumulate(s.expected.begin(), s.expected.end(), 0.0) - 100000;
  };
  double edge = 0, bump = 0;
  EXPECT_NEAR(continuum(1024, &edge, &bump), 250000, 0.005 * 250000);
  EXPECT_NEAR(compton_edge_kev(661.657), 477.34, 0.01);
  EXPECT_NEAR(edge, 477.34, 3.0);
  EXPECT_NEAR(bump, 184.32, 3.0);
  EXPECT_NEAR(continuum(4096, &edge, &bump), 250000, 0.005 * 250000);
  EXPECT_NEAR(edge, 477.34, 1.5);
  EXPECT_NEAR(bump, 184.32, 1.5);
}

// Continuum terms are counts per keV (the same spectrum per keV at any
// channel count), and the square-root resolution reaches the truth and the
// stored width calibration.
TEST(SimulateTest, ContinuumPerKevAndSquareRootResolution) {
  for (int channels : {1024, 4096}) {
    SimOptions o = nai_3x3_options(channels);
    o.noise = false;
    o.continuum = {{100, 300}, {2, 0}};
    o.peaks = {{1332, 5000, 0}};
    SimSpectrum s = simulate_spectrum(o);
    const int x = static_cast<int>(std::lround(600 / o.gain_kev));
    EXPECT_NEAR(s.expected[x] / o.gain_kev, 100 * std::exp(-600.0 / 300) + 2, 1e-9) << channels;
    ASSERT_EQ(s.truth.size(), 1u);
    EXPECT_NEAR(s.truth[0].fwhm_kev, 1.79 * std::sqrt(1332.0), 1e-9);
    SpectrumRecord rec;
    store_simulated(s, o, rec);
    EXPECT_NEAR(width_at_channel(rec.calibration, s.truth[0].centre), s.truth[0].sigma, 1e-4 * s.truth[0].sigma);
  }
}

TEST(SimulateTest, StoredCalibrationReproducesTruthWidth) {
  SimOptions o;
  o.noise = false;
  o.peaks = {{1332, 5000, 0}};
  SimSpectrum s = simulate_spectrum(o);
  SpectrumRecord rec;
  store_simulated(s, o, rec);
  EXPECT_EQ(rec.header.channels, 1024);
  EXPECT_EQ(rec.counts[0], 1000.0f);
  const double c = s.truth[0].centre;
  EXPECT_NEAR(channel_to_energy(rec.calibration, c), 1332, 1e-3);
  EXPECT_NEAR(width_at_channel(rec.calibration, c), s.truth[0].sigma, 1e-4);
  EXPECT_NEAR(low_tail_at_channel(rec.calibration, c), s.truth[0].tail, 1e-4);
}

}  // namespace
}  // namespace kestrim
