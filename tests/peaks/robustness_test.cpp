// Damaged spectra and calibrations: the search and the fit must neither
// crash nor read outside the spectrum (run under the sanitizers) nor leave
// NaN in the peak list.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "app/state.h"
#include "peaks/peak_fixture.h"
#include "peaks/peak_report_json.h"

namespace kestrim {
namespace {

void expect_finite_list(const PeakList& list) {
  ASSERT_GE(list.count, 0);
  ASSERT_LE(list.count, kMaxPeaks);
  for (int k = 1; k <= list.count; ++k) {
    SCOPED_TRACE(k);
    EXPECT_TRUE(std::isfinite(list.centre[k]));
    EXPECT_TRUE(std::isfinite(list.net_area[k]));
    EXPECT_TRUE(std::isfinite(list.net_area_pct[k]));
    EXPECT_TRUE(std::isfinite(list.fwhm_kev[k]));
    EXPECT_TRUE(std::isfinite(list.goodness[k]));
  }
}

TEST(RobustnessTest, GarbageCountsAndCalibrations) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  std::mt19937_64 rng(99);
  for (int trial = 0; trial < 24; ++trial) {
    SCOPED_TRACE(trial);
    SimOptions o = example_nai_options(trial % 2 ? 512 : 1024, trial + 1);
    test::SimulatedState s(o);
    State& st = *s.state;
    const int n = st.spectrum.channels();
    // Spikes, holes, negative and non-finite counts.
    for (int k = 0; k < 40; ++k) {
      int x = 2 + static_cast<int>(rng() % static_cast<unsigned>(n - 2));
      switch (rng() % 5) {
        case 0: st.spectrum.counts[x] = nan; break;
        case 1: st.spectrum.counts[x] = inf; break;
        case 2: st.spectrum.counts[x] = -1e6f; break;
        case 3: st.spectrum.counts[x] = 1e30f; break;
        default: st.spectrum.counts[x] = 0; break;
      }
    }
    CalibrationRecord& cal = st.spectrum.calibration;
    switch (trial % 6) {
      case 0: cal.width = {1e30f, 0, 0}; cal.width_terms = 1; break;
      case 1: cal.energy = {0, 0, 0}; break;                       // zero gain
      case 2: cal.energy_terms = 0; cal.width_terms = 0; break;     // uncalibrated
      case 3: cal.low_tail_terms = 1; cal.low_tail = {-50, 0, 0}; break;
      case 4: st.params.search_stop = 1e9f; st.params.search_start = -1e9f; break;
      default: st.params.region_end_channels = 2000000000; break;
    }
    search_and_fit_all(st);
    expect_finite_list(st.peaks);
    nlohmann::json j = peaks_json(st);
    EXPECT_EQ(j["peaks"].size(), static_cast<size_t>(st.peaks.count));
  }
}

TEST(RobustnessTest, NoSpectrumReturnsAtOnce) {
  ScriptedPlatform ui;
  State st(ui);
  EXPECT_EQ(search_and_fit_all(st), 0);
  run_peak_search(st);
  EXPECT_EQ(st.peaks.count, 0);
}

}  // namespace
}  // namespace kestrim
