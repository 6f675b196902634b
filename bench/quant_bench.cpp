// Identification and activities (the quantitative analysis, reports
// included) of a fitted 1024-channel NaI spectrum of about 15 peaks
// (example_nai_options) against the shipped analysis library, without and
// with writing the report files (whose atomic replace dominates the wall
// time). Target: 5 ms.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/analysis_steps.h"
#include "app/state.h"
#include "nuclides/activity.h"
#include "settings/library.h"
#include "peaks/peak_report_json.h"
#include "peaks/peak_search.h"
#include "platform/files.h"
#include "platform/headless_platform.h"
#include "spectrum/simulate.h"

namespace {

using namespace kestrim;

// Identification and activities (`files` 0) or the whole quantitative
// analysis with its two report files written (`files` 1).
void BM_QuantitativeAnalysis(benchmark::State& bs) {
  const bool files = bs.range(0) != 0;
  HeadlessPlatform ui;
  auto state = std::make_unique<State>(ui);
  SimOptions o = example_nai_options(1024, 7);
  store_simulated(simulate_spectrum(o), o, state->spectrum);
  use_standard_peak_parameters(state->params, 1024);
  state->params.energy_tolerance = 4;
  state->params.min_confidence = 0.3f;
  state->params.activity_sigma = 1;
  state->params.max_activity_uncertainty = 50;
  state->spectrum.header.collected = state->spectrum.header.sampled = {1, 1, 2026, 0, 0};
  const char* home = std::getenv("KESTRIM_HOME");  // the shipped data, else the build tree's
  state->paths.program_dir = home ? home : KESTRIM_BUILD_DATA_DIR;
  char tmpl[] = "/tmp/kestrim_quant_bench_XXXXXX";
  const char* dir = mkdtemp(tmpl);
  state->paths.user_dir = state->paths.working_dir = dir ? dir : "/tmp";
  std::string error;
  if (load_library(ui, state->paths, "NaI_Analysis.lib", state->library, &error) != 1) {
    bs.SkipWithError("NaI_Analysis.lib not found in the build tree");
    return;
  }
  search_and_fit_all(*state);
  for (auto _ : bs) {
    if (files)
      quantitative_analysis(*state);
    else
      run_nuclide_analysis(*state);
    benchmark::DoNotOptimize(state->results.results.size());
  }
  bs.counters["peaks"] = state->peaks.count;
  bs.counters["nuclides"] = static_cast<double>(state->results.results.size());
  bs.counters["library"] = state->library.nuclide_count;
  if (dir) std::filesystem::remove_all(dir);
}
BENCHMARK(BM_QuantitativeAnalysis)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
