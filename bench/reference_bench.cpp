// The total-spectrum fit of a 4096-channel spectrum with 10 reference
// spectra (the simulated sources of spectrum/simulate_sources.h, each with
// Poisson noise), the sample's gain differing by up to 1 % per source:
// one unweighted fit, and the whole fit with the gain search and the final
// weighted fit over channels 10 to 4095. Target: 50 ms with the search.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "platform/headless_platform.h"
#include "reference/total_fit.h"
#include "spectrum/simulate.h"
#include "spectrum/simulate_sources.h"

namespace {

using namespace kestrim;

struct TenReferences {
  ReferenceSet set;
  std::vector<float> sample = std::vector<float>(8192, 0.0f);
  TenReferences() {
    const std::vector<std::string> names = simulated_sources();
    std::vector<double> sum(4096, 0.0);
    for (std::size_t k = 0; k < names.size(); ++k) {
      SimOptions o = source_spectrum_options({{names[k], 2000}}, 4096, 36000, 1.0, 50 + k);
      const SimSpectrum s = simulate_spectrum(o);
      ReferenceSpectrum r;
      r.name = names[k];
      r.title = names[k];
      r.activity_bq = 2000;
      r.live_time = 36000;
      r.channels = 4096;
      r.counts.assign(4096, 0);
      for (int ch = 2; ch < 4096; ++ch) r.counts[ch] = static_cast<std::int32_t>(s.counts[ch]);
      set.spectra.push_back(r);
      // The sample: 20 to 200 Bq of each source, its gain shifted by up to 1 %.
      const double gain = 1.0 + 0.01 * std::sin(1.0 + static_cast<double>(k));
      o = source_spectrum_options({{names[k], 20.0 + 20.0 * k}}, 4096, 3600, gain, 500 + k);
      o.noise = false;
      const SimSpectrum m = simulate_spectrum(o);
      for (int ch = 2; ch < 4096; ++ch) sum[ch] += m.expected[ch];
    }
    std::mt19937_64 rng(99);
    for (int ch = 2; ch < 4096; ++ch) sample[ch] = static_cast<float>(poisson_deviate(rng, sum[ch]));
  }
};

void BM_TotalFit(benchmark::State& bs) {
  TenReferences t;
  HeadlessPlatform ui;
  ui.set_progress_enabled(false);
  const bool search = bs.range(0) != 0;
  std::string log;
  int ok = 0;
  for (auto _ : bs) {
    ok = fit_total_spectrum(t.sample, 4096, {10, 4095, search}, t.set, log, ui);
    benchmark::DoNotOptimize(t.set.chi_squared);
  }
  bs.counters["fitted"] = ok;
  bs.counters["log_lines"] = static_cast<double>(std::count(log.begin(), log.end(), '\n'));
}
BENCHMARK(BM_TotalFit)->Arg(0)->Arg(1)->ArgName("gain_search")->Unit(benchmark::kMillisecond);

}  // namespace
