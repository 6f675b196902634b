// A session without the ODBC capability (a build without unixODBC, or a
// front end that does not supply it): asking for the ODBC activity
// database says so and fails; nothing stands in for it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "app/startup.h"
#include "app/state.h"
#include "database/database_fixture.h"
#include "platform/scripted_platform.h"

namespace kestrim {
namespace {

TEST(OdbcCapability, MissingCapabilityIsReportedAndFailsTheRun) {
  const char* home = std::getenv("KESTRIM_HOME");
  if (home == nullptr) GTEST_SKIP() << "set KESTRIM_HOME to build/share/kestrim";
  test::TempDir dir;
  test::OdbcConfig odbc(dir.path() + "/odbc");
  test::Station station(dir.path() + "/station", odbc);
  ASSERT_TRUE(station.ready());
  for (const std::string& extra : {std::string(), std::string(" /dbase=lab")}) {
    SCOPED_TRACE(extra);
    ScriptedPlatform ui;
    State state(ui);
    state.paths.program_dir = home;
    state.paths.user_dir = dir.path() + "/station/user/kestrim";
    state.paths.working_dir = station.working_dir();
    EXPECT_EQ(run_program(state, "/batch" + extra + " /file=" + test::example_spectrum()), RunOutcome::kFailed);
    EXPECT_TRUE(ui.said("The ODBC activity database is not available in this build")) << ::testing::PrintToString(ui.texts());
  }
  EXPECT_FALSE(std::filesystem::exists(station.working_dir() + "/dbase.db"));
  EXPECT_FALSE(std::filesystem::exists(station.working_dir() + "/lab.db"));
}

}  // namespace
}  // namespace kestrim
