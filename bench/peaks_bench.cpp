// Peak search alone, and search plus the fit of every region, on simulated
// NaI spectra of about 15 peaks (example_nai_options) of 1024 and 4096
// channels. Target: search + fit of the 1024-channel spectrum in 20 ms.
// The full driver (search, fit of every region with the add/remove
// decisions, the peak fit report written to a temporary folder): target
// 30 ms for the 1024-channel spectrum.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>

#include "app/state.h"
#include "peaks/peak_report_json.h"
#include "peaks/peak_search.h"
#include "peaks/region_driver.h"
#include "platform/headless_platform.h"
#include "spectrum/simulate.h"

namespace {

using namespace kestrim;

struct Loaded {
  HeadlessPlatform ui;
  std::unique_ptr<State> state = std::make_unique<State>(ui);
  explicit Loaded(int channels) {
    SimOptions o = example_nai_options(channels, 7);
    store_simulated(simulate_spectrum(o), o, state->spectrum);
    use_standard_peak_parameters(state->params, channels);
  }
};

void BM_PeakSearch(benchmark::State& bs) {
  Loaded l(static_cast<int>(bs.range(0)));
  for (auto _ : bs) {
    run_peak_search(*l.state);
    benchmark::DoNotOptimize(l.state->peaks.count);
  }
  bs.counters["peaks"] = l.state->peaks.count;
}
BENCHMARK(BM_PeakSearch)->Arg(1024)->Arg(4096)->Unit(benchmark::kMillisecond);

void BM_SearchAndFitAll(benchmark::State& bs) {
  Loaded l(static_cast<int>(bs.range(0)));
  for (auto _ : bs) {
    search_and_fit_all(*l.state);
    benchmark::DoNotOptimize(l.state->peaks.fitted_area[1]);
  }
  bs.counters["peaks"] = l.state->peaks.count;
}
BENCHMARK(BM_SearchAndFitAll)->Arg(1024)->Arg(4096)->Unit(benchmark::kMillisecond);

void BM_FullDriver(benchmark::State& bs) {
  Loaded l(static_cast<int>(bs.range(0)));
  State& st = *l.state;
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "kestrim_driver_bench";
  std::filesystem::create_directories(dir);
  st.paths.working_dir = dir.string();
  st.app.current_file = "bench.dat";
  st.app.batch_mode = true;
  st.app.working_residual_search = true;
  st.params.max_peak_uncertainty = 100;
  for (auto _ : bs) {
    run_peak_search(st);
    st.fitting.report_open = false;
    fit_all_remaining_peaks(st);
    benchmark::DoNotOptimize(st.peaks.net_area[1]);
  }
  bs.counters["peaks"] = st.peaks.count;
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_FullDriver)->Arg(1024)->Arg(4096)->Unit(benchmark::kMillisecond);

}  // namespace
