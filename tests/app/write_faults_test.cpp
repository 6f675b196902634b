// Every file a batch run writes, made to fail at each step of its writing
// (as a full disk or an I/O error would): the run must fail, and the file
// must keep what it held before.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "app/startup.h"
#include "app/state.h"
#include "platform/files.h"
#include "platform/scripted_platform.h"
#include "support/test_support.h"

namespace kestrim {
namespace {

// Records every file written and fails the chosen one at the chosen step.
class InjectedFaults : public WriteFaults {
 public:
  int before(const std::string& path, WriteStep step) override {
    if (std::find(written.begin(), written.end(), path) == written.end()) written.push_back(path);
    if (path == fail_path && step == fail_step) {
      ++failures;
      return code;
    }
    return 0;
  }
  std::vector<std::string> written;
  std::string fail_path;
  WriteStep fail_step = WriteStep::kCreate;
  int code = ENOSPC;
  int failures = 0;
};

class WriteFaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* home = std::getenv("KESTRIM_HOME");
    ASSERT_NE(home, nullptr);
    program = home;
    make_directories(dir.file("work"));
    make_directories(dir.file("user"));
    test::write_bytes(dir.file("work/s.dat"),
                      test::read_bytes(test::source_data_dir() + "/examples/example-nai.dat"));
    test::write_bytes(dir.file("work/dbase.tpl"), test::read_bytes(program + "/Templates/dbase.tpl"));
  }

  // One batch run that updates the spectrum and the CSV database.
  RunOutcome run(InjectedFaults& faults, std::string* messages = nullptr) {
    ScriptedPlatform ui;
    State state(ui);
    state.paths.program_dir = program;
    state.paths.user_dir = dir.file("user");
    state.paths.working_dir = dir.file("work");
    state.paths.write_faults = &faults;
    RunOutcome out = run_program(state, "/batch /update /dbase=dbase.tpl /file=" + dir.file("work/s.dat"));
    if (messages)
      for (const std::string& t : ui.texts()) *messages += t + "\n";
    return out;
  }

  std::string program;
  test::TempDir dir;
};

TEST_F(WriteFaultsTest, EveryFailedWriteFailsTheRunAndKeepsTheOldFile) {
  // A clean run first: every file then exists and is the "old" one.
  InjectedFaults clean;
  std::string messages;
  ASSERT_EQ(run(clean, &messages), RunOutcome::kSucceeded) << messages;
  const std::vector<std::string> targets = clean.written;
  ASSERT_GE(targets.size(), 6u);  // reports, spectrum, database, Defaults
  for (const char* name : {"Main Report.txt", "Activity Report.txt", "Diagnostic Report.txt",
                           "Peak Fit Report.txt", "s.dat", "dbase.CSV"}) {
    EXPECT_NE(std::find(targets.begin(), targets.end(), dir.file("work/") + name), targets.end())
        << name << " was not written";
  }

  int cases = 0;
  for (const std::string& target : targets) {
    const bool appended = target.size() >= 4 && target.compare(target.size() - 4, 4, ".CSV") == 0;
    const std::vector<WriteStep> steps =
        appended ? std::vector<WriteStep>{WriteStep::kAppend}
                 : std::vector<WriteStep>{WriteStep::kCreate, WriteStep::kWrite, WriteStep::kSync,
                                          WriteStep::kRename};
    for (WriteStep step : steps) {
      SCOPED_TRACE(target + " step " + std::to_string(static_cast<int>(step)));
      const std::vector<std::uint8_t> before = test::read_bytes(target);
      ASSERT_FALSE(before.empty());
      InjectedFaults faults;
      faults.fail_path = target;
      faults.fail_step = step;
      faults.code = step == WriteStep::kSync ? EIO : ENOSPC;
      std::string said;
      EXPECT_EQ(run(faults, &said), RunOutcome::kFailed) << said;
      EXPECT_GE(faults.failures, 1);
      EXPECT_FALSE(said.empty());
      EXPECT_EQ(test::read_bytes(target), before);
      // No temporary is left beside the target.
      for (const std::string& entry : list_directory(dir_name(target)))
        EXPECT_EQ(entry.find(".tmp"), std::string::npos) << entry;
      ++cases;
    }
  }
  EXPECT_GE(cases, 20);
}

}  // namespace
}  // namespace kestrim
