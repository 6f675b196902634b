// The export of one analysis to the activity database over ODBC: the
// example is analysed once, then its results are exported again and again
// (one transaction each: lock, next sample number, column discovery, the
// SampleInfo row, the nuclide and peak rows, commit) over one connection.
// Needs KESTRIM_HOME and the data source "Kestrim Database";
// bench/odbc-export-bench.sh starts a throw-away PostgreSQL server for it.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "app/startup.h"
#include "app/state.h"
#include "platform/files.h"
#include "platform/scripted_platform.h"
#ifdef KESTRIM_HAVE_ODBC
#include "database/odbc_activity_database.h"
#endif

#ifndef KESTRIM_SOURCE_DIR
#define KESTRIM_SOURCE_DIR "."
#endif

namespace {

void BM_OdbcExportOfOneAnalysis(benchmark::State& st) {
#ifndef KESTRIM_HAVE_ODBC
  st.SkipWithError("built without unixODBC");
#else
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
  kestrim::ScriptedPlatform ui;
  kestrim::State state(ui);
  state.paths.program_dir = home;
  state.paths.user_dir = std::string(dir) + "/user";
  state.paths.working_dir = dir;
  if (kestrim::run_program(state, "/batch /file=" + example) != kestrim::RunOutcome::kSucceeded) {
    st.SkipWithError("the analysis of the example failed");
  } else {
    state.params.update_database = 1;
    state.params.database_odbc = 1;
    kestrim::OdbcActivityDatabase database;
    if (!database.open(state)) {
      st.SkipWithError("no data source \"Kestrim Database\" (run bench/odbc-export-bench.sh)");
    } else {
      for (auto _ : st) {
        if (!database.export_results(state)) {
          st.SkipWithError("an export failed");
          break;
        }
      }
      st.counters["last_sample"] = static_cast<double>(database.last_sample_number());
    }
  }
  std::system(("rm -rf '" + std::string(dir) + "'").c_str());
#endif
}
BENCHMARK(BM_OdbcExportOfOneAnalysis)->Unit(benchmark::kMillisecond);

}  // namespace
