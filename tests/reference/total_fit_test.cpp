// The total-spectrum fit on spectra made from the references themselves:
// exact mixtures give back their amplitudes and gains, and the edges of
// the fit range and of the references behave as documented.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "platform/scripted_platform.h"
#include "reference/total_fit.h"
#include "spectrum/simulate.h"
#include "spectrum/simulate_sources.h"

namespace kestrim {
namespace {

// A noiseless reference of one source with many counts, 1024 channels.
ReferenceSpectrum reference_of(const std::string& nuclide) {
  SimOptions o = source_spectrum_options({{nuclide, 2e5}}, 1024, 3600, 1.0, 1);
  o.noise = false;
  const SimSpectrum s = simulate_spectrum(o);
  ReferenceSpectrum r;
  r.name = nuclide;
  r.title = nuclide;
  r.activity_bq = 2e5;
  r.live_time = 3600;
  r.channels = 1024;
  r.counts.assign(1024, 0);
  for (int ch = 2; ch < 1024; ++ch) r.counts[ch] = static_cast<std::int32_t>(std::floor(s.expected[ch]));
  return r;
}

// The sample: sum of a_k x g_k x reference k read at ch x g_k, between
// channels by linear interpolation (0 past the last channel).
std::vector<float> mixture(const ReferenceSet& set, const std::vector<double>& a, const std::vector<double>& g) {
  std::vector<float> y(8192, 0.0f);
  auto count = [&](std::size_t k, long c) -> double {
    return c < 1024 ? set.spectra[k].counts[static_cast<std::size_t>(c)] : 0.0;
  };
  for (int ch = 2; ch < 1024; ++ch) {
    double v = 0;
    for (std::size_t k = 0; k < a.size(); ++k) {
      const double at = ch * g[k];
      const long base = static_cast<long>(std::floor(at));
      const double frac = at - base;
      v += a[k] * g[k] * ((1 - frac) * count(k, base) + (frac > 0 ? frac * count(k, base + 1) : 0.0));
    }
    y[static_cast<std::size_t>(ch)] = static_cast<float>(v);
  }
  return y;
}

ReferenceSet five_sources() {
  ReferenceSet set;
  for (const char* n : {"Cs-137", "Co-60", "K-40", "Ra-226", "Th-232"}) set.spectra.push_back(reference_of(n));
  return set;
}

TEST(TotalFit, ExactMixturesGiveBackTheirAmplitudes) {
  ReferenceSet set = five_sources();
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> amp(0.01, 2.0);
  for (int trial = 0; trial < 20; ++trial) {
    std::vector<double> a(5);
    for (double& v : a) v = amp(rng);
    const std::vector<float> y = mixture(set, a, std::vector<double>(5, 1.0));
    ScriptedPlatform ui;
    std::string log;
    ASSERT_EQ(fit_total_spectrum(y, 1024, {10, 1000, false}, set, log, ui), 1);
    EXPECT_TRUE(ui.messages.empty());
    for (int k = 0; k < 5; ++k) {
      // Only the float rounding of the sample separates them.
      EXPECT_NEAR(set.spectra[k].amplitude, a[k], 1e-5 * (1 + a[k])) << trial << " " << k;
      EXPECT_GT(set.spectra[k].variance, 0);
      EXPECT_EQ(set.spectra[k].gain, 1.0);
    }
    EXPECT_TRUE(set.fitted);
  }
}

TEST(TotalFit, TheGainSearchFindsEachReferencesOwnGain) {
  ReferenceSet set = five_sources();
  const std::vector<std::vector<double>> gains = {
      {1.01, 0.99, 1.0, 1.005, 0.995}, {0.99, 1.01, 1.01, 0.99, 1.0}, {1.0, 1.0, 0.992, 1.008, 1.01}};
  for (const std::vector<double>& g : gains) {
    const std::vector<double> a = {0.3, 0.2, 1.0, 0.5, 0.4};
    const std::vector<float> y = mixture(set, a, g);
    ScriptedPlatform ui;
    std::string log;
    ASSERT_EQ(fit_total_spectrum(y, 1024, {10, 1000, true}, set, log, ui), 1);
    for (int k = 0; k < 5; ++k) {
      EXPECT_NEAR(set.spectra[k].gain, g[k], 0.002) << "reference " << k << "\n" << log;
      EXPECT_NEAR(set.spectra[k].amplitude, a[k], 0.03 * a[k]) << "reference " << k;
    }
    // Every search step is logged in the documented form.
    EXPECT_NE(log.find("-1 - fChiSqRef:- "), std::string::npos);
    EXPECT_NE(log.find("0 - Gain:- "), std::string::npos);
  }
}

// Poisson samples of three of the five sources at a common gain: the
// gains of the two absent sources are not searched (they follow the common
// gain of the others), and the searched gains and the amplitudes come with
// uncertainties that cover the truth as often as two sigmas should.
TEST(TotalFit, AbsentSourcesFollowTheGainAndUncertaintiesCoverTheTruth) {
  ReferenceSet set = five_sources();
  const std::vector<double> a = {0.002, 0, 0.02, 0, 0.004};
  int gains = 0, gains_within = 0, amps = 0, amps_within = 0;
  for (int seed = 0; seed < 40; ++seed) {
    const double g = seed % 2 ? 1.01 : 0.99;
    const std::vector<float> expected = mixture(set, a, std::vector<double>(5, g));
    std::mt19937_64 rng(100 + seed);
    std::vector<float> y(expected.size(), 0.0f);
    for (std::size_t ch = 2; ch < 1024; ++ch)
      y[ch] = static_cast<float>(std::poisson_distribution<long>(std::max(expected[ch], 1e-9f))(rng));
    ScriptedPlatform ui;
    std::string log;
    ASSERT_EQ(fit_total_spectrum(y, 1024, {10, 1000, true}, set, log, ui), 1) << seed;
    const double mean = (set.spectra[0].gain + set.spectra[2].gain + set.spectra[4].gain) / 3;
    for (int k = 0; k < 5; ++k) {
      const ReferenceSpectrum& r = set.spectra[static_cast<std::size_t>(k)];
      ++amps;
      if (std::fabs(r.amplitude - a[static_cast<std::size_t>(k)]) <= 2 * std::sqrt(r.variance)) ++amps_within;
      if (a[static_cast<std::size_t>(k)] == 0) {
        EXPECT_DOUBLE_EQ(r.gain_variance, 0) << seed << " " << k;
        EXPECT_NEAR(r.gain, mean, 3e-4) << seed << " " << k;
        continue;
      }
      ASSERT_GT(r.gain_variance, 0) << seed << " " << k;
      ++gains;
      if (std::fabs(r.gain - g) <= 2 * std::sqrt(r.gain_variance)) ++gains_within;
    }
  }
  EXPECT_GE(amps_within, amps * 85 / 100) << amps_within << " of " << amps;
  EXPECT_GE(gains_within, gains * 70 / 100) << gains_within << " of " << gains;
}

TEST(TotalFit, RangeEdgesAndReferencesPastTheirLastChannel) {
  ReferenceSet set;
  set.spectra.push_back(reference_of("Cs-137"));
  const std::vector<float> y = mixture(set, {0.5}, {1.0});
  ScriptedPlatform ui;
  std::string log;
  // Channels 150 to 154 (l - f = 4) are fitted; 150 to 153 are refused.
  EXPECT_EQ(fit_total_spectrum(y, 1024, {150, 154, false}, set, log, ui), 1) << ui.messages[0].text;
  EXPECT_NEAR(set.spectra[0].amplitude, 0.5, 1e-5);
  EXPECT_EQ(fit_total_spectrum(y, 1024, {150, 153, false}, set, log, ui), 0);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "There must be at least 4 channels for fitting");
  EXPECT_FALSE(set.fitted);
  // With a gain of 1.03 the channels from 994 up read past the last
  // channel of the reference (1023), which contributes 0 there: a sample
  // made the same way is found again over the whole range.
  const std::vector<float> stretched = mixture(set, {0.5}, {1.03});
  ASSERT_EQ(fit_total_spectrum(stretched, 1024, {10, 1023, true}, set, log, ui), 1);
  EXPECT_NEAR(set.spectra[0].gain, 1.03, 0.002) << log;
  EXPECT_NEAR(set.spectra[0].amplitude, 0.5, 0.005);
}

TEST(TotalFit, TheSearchStepsAtMostFivePerCentAndSevenRounds) {
  // A broad hump stretched by 40 %: every round of the search of all
  // references improves by far more than 0.1 %, each shift is limited to
  // 0.05, and the search stops after its 7th round (at 1.35 at most).
  ReferenceSet set;
  ReferenceSpectrum hump;
  hump.name = "hump";
  hump.counts.assign(1024, 0);
  for (int ch = 2; ch < 1024; ++ch)
    hump.counts[ch] = static_cast<std::int32_t>(1e5 * std::exp(-(ch - 300.0) * (ch - 300.0) / (2 * 150.0 * 150.0)));
  set.spectra.push_back(hump);
  const std::vector<float> y = mixture(set, {0.5}, {1.4});
  ScriptedPlatform ui;
  std::string log;
  ASSERT_EQ(fit_total_spectrum(y, 1024, {10, 700, true}, set, log, ui), 1);
  int rounds = 0;
  for (std::size_t at = log.find("-1 - fChiSqRef"); at != std::string::npos; at = log.find("-1 - fChiSqRef", at + 1))
    ++rounds;
  EXPECT_EQ(rounds, 7) << log;
  EXPECT_NE(log.find("Shift:- 0.0500\r\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("Shift:- 0.05001"), std::string::npos);
  EXPECT_LE(set.spectra[0].gain, 1.35 + 1e-9);
  EXPECT_GT(set.spectra[0].gain, 1.2) << log;
}

TEST(TotalFit, BadFitsAreRefusedAndLeaveNoResults) {
  ReferenceSet set;
  set.spectra.push_back(reference_of("Cs-137"));
  set.spectra.push_back(reference_of("Cs-137"));
  set.spectra[1].name = "copy";
  ScriptedPlatform ui;
  std::string log;
  const std::vector<float> y = mixture(set, {0.5, 0.0}, {1.0, 1.0});
  EXPECT_EQ(fit_total_spectrum(y, 1024, {10, 1000, true}, set, log, ui), 0);
  EXPECT_EQ(ui.messages.back().text, "The Reference Spectra could not be told apart: the fit is singular");
  EXPECT_FALSE(set.fitted);

  // A reference that is a multiple of another is no better.
  for (auto& c : set.spectra[1].counts) c *= 3;
  EXPECT_EQ(fit_total_spectrum(y, 1024, {10, 1000, false}, set, log, ui), 0);
  EXPECT_EQ(ui.messages.back().text, "The Reference Spectra could not be told apart: the fit is singular");

  // The sample itself as its reference.
  ReferenceSet one;
  one.spectra.push_back(reference_of("K-40"));
  std::vector<float> same(8192, 0.0f);
  for (int ch = 2; ch < 1024; ++ch) same[ch] = static_cast<float>(one.spectra[0].counts[ch]);
  EXPECT_EQ(fit_total_spectrum(same, 1024, {10, 1000, false}, one, log, ui), 0);
  EXPECT_EQ(ui.messages.back().text, "The reference spectrum was identical to the sample");

  ReferenceSet none;
  EXPECT_EQ(fit_total_spectrum(same, 1024, {10, 1000, false}, none, log, ui), 0);
  EXPECT_EQ(ui.messages.back().text, "No Reference Spectra were chosen");
}

TEST(TotalFit, ResultsScaleByLiveTimesAndCombineUncertainties) {
  ReferenceSpectrum r;
  r.amplitude = 0.5;
  r.variance = 0.0001;  // sd 0.01: 2 %
  r.live_time = 7200;
  r.activity_bq = 1000;
  r.activity_uncertainty_pct = 1.5;
  r.gain = 1.004;
  const ReferenceResult res = reference_result(r, 3600, 2.0);
  EXPECT_DOUBLE_EQ(res.factor, 1.0);
  EXPECT_DOUBLE_EQ(res.activity_bq, 1000.0);
  EXPECT_NEAR(res.factor_uncertainty_pct, 2.0, 1e-12);
  EXPECT_NEAR(res.uncertainty_pct, 2 * 2.5, 1e-12);  // sqrt(2^2 + 1.5^2) x 2 sigma
  EXPECT_NEAR(res.shift, -0.004, 1e-12);
}

}  // namespace
}  // namespace kestrim
