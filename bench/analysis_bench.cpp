// The whole batch analysis of the shipped example in-process: start-up,
// open, search, fit, identification, activities, every report and the CSV
// database. Needs KESTRIM_HOME (the built share/kestrim); skipped without it.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "app/startup.h"
#include "app/state.h"
#include "platform/files.h"
#include "platform/scripted_platform.h"

#ifndef KESTRIM_SOURCE_DIR
#define KESTRIM_SOURCE_DIR "."
#endif

namespace {

void BM_BatchAnalysisOfExample(benchmark::State& st) {
  const char* home = std::getenv("KESTRIM_HOME");
  if (!home) {
    st.SkipWithError("set KESTRIM_HOME to build/share/kestrim");
    return;
  }
  char dir[] = "/tmp/kestrim-bench-XXXXXX";
  if (!::mkdtemp(dir)) {
    st.SkipWithError("no temporary folder");
    return;
  }
  const std::string example = std::string(KESTRIM_SOURCE_DIR) + "/data/examples/example-nai.dat";
  const std::string line = "/batch /dbase=" + std::string(dir) + "/results.csv /file=" + example;
  kestrim::write_text_atomic(std::string(dir) + "/results.csv", "");
  for (auto _ : st) {
    kestrim::ScriptedPlatform ui;
    kestrim::State state(ui);
    state.paths.program_dir = home;
    state.paths.user_dir = std::string(dir) + "/user";
    state.paths.working_dir = dir;
    benchmark::DoNotOptimize(kestrim::run_program(state, line));
  }
  for (const std::string& name : kestrim::list_directory(dir))
    std::system(("rm -rf '" + std::string(dir) + "/" + name + "'").c_str());
  ::rmdir(dir);
}
BENCHMARK(BM_BatchAnalysisOfExample)->Unit(benchmark::kMillisecond);

}  // namespace
