// A spectrum with an energy calibration but no width calibration (most
// foreign NaI files): the search and the fit take the NaI-typical width,
// 7.5 % FWHM at 662 keV growing with sqrt(E), and find and measure the
// peaks as well as with the width calibrated.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "app/state.h"
#include "peaks/peak_fixture.h"
#include "peaks/peak_search.h"
#include "peaks/region_driver.h"
#include "settings/calibration_functions.h"
#include "support/test_support.h"

namespace kestrim {
namespace {

using test::SimulatedState;

// A 3"x3" NaI detector with the typical resolution, over 0-3072 keV, with
// five lines spread over the range on a falling continuum.
SimOptions nai_lines(int channels, std::uint64_t seed, bool noise) {
  SimOptions o;
  o.channels = channels;
  o.gain_kev = 3072.0 / channels;
  o.fwhm_sqrt_kev = kNaiResolutionAt662 * kNaiReferenceEnergy / std::sqrt(kNaiReferenceEnergy);
  o.peaks = {{122, 40000, 0}, {662, 30000, 0}, {1173, 15000, 0}, {1332, 15000, 0}, {1461, 8000, 0}};
  o.bg_amplitude = 400.0 * o.gain_kev / 3.0;
  o.bg_decay_kev = 400;
  o.bg_constant = 5;
  o.seed = seed;
  o.noise = noise;
  return o;
}

TEST(WidthFallback, NaiTypicalWidthFollowsTheEnergyCalibrationOnly) {
  for (int channels : {1024, 2048, 4096}) {
    SimOptions o = nai_lines(channels, 1, false);
    SimulatedState s(o);
    CalibrationRecord cal = s.state->spectrum.calibration;
    cal.width_terms = 0;
    for (const SimPeakTruth& t : s.sim.truth)
      EXPECT_NEAR(width_at_channel(cal, t.centre), t.sigma, 0.01 * t.sigma)
          << channels << " channels, " << t.energy << " keV";
    // Without an energy calibration the generic rule stays.
    cal.energy_terms = 0;
    EXPECT_DOUBLE_EQ(width_at_channel(cal, 500), 4096 / 256 + 5.0);
  }
}

TEST(WidthFallback, SearchAndFitWithoutWidthCalibrationFindTheLinesAndTheirAreas) {
  test::TempDir dir;
  for (int channels : {1024, 4096}) {
    for (std::uint64_t seed : {3u, 4u}) {
      SCOPED_TRACE(std::to_string(channels) + " channels, seed " + std::to_string(seed));
      SimulatedState s(nai_lines(channels, seed, true));
      State& st = *s.state;
      st.spectrum.calibration.width_terms = 0;  // as a foreign file without FWHM data
      st.spectrum.calibration.width = {};
      st.paths.working_dir = dir.path();
      st.app.batch_mode = true;
      st.app.current_file = "sample.dat";
      st.params.max_peak_uncertainty = 100;
      run_peak_search(st);
      st.fitting.report_open = false;
      fit_all_remaining_peaks(st);
      ASSERT_TRUE(st.peaks.fitted);
      for (const SimPeakTruth& t : s.sim.truth) {
        int found = 0;
        for (int k = 1; k <= st.peaks.count; ++k)
          if (std::fabs(st.peaks.centre[k] - t.centre) < 0.5 * t.fwhm_channels) found = k;
        ASSERT_GT(found, 0) << t.energy << " keV not found";
        const double area = st.peaks.net_area[found];
        const double sigma = area * st.peaks.net_area_pct[found] / 100;
        EXPECT_NEAR(area, t.area, std::max(0.03 * t.area, 2 * sigma)) << t.energy << " keV";
        EXPECT_NEAR(st.peaks.centre[found], t.centre, 0.1 * t.fwhm_channels) << t.energy << " keV";
      }
    }
  }
}

}  // namespace
}  // namespace kestrim
