// `kestrim acquire` as a user runs it: its command line, a missing port, an
// interrupted run left behind, and a run stopped by Ctrl-C against the
// simulator, which must keep everything the unit counted.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "acquisition_fixture.h"

namespace kestrim {
namespace {

class AcquireCommand : public ::testing::Test {
 protected:
  int kestrim(const std::string& args, std::string* out) {
    return test::run_command("cd '" + dir.path() + "' && XDG_DATA_HOME='" + dir.file("user") + "' '" +
                                 test::kestrim_binary() + "' " + args,
                             out, true);
  }
  test::TempDir dir;
};

TEST_F(AcquireCommand, WrongCommandLinesMissingPortsAndLeftRunsAreRefused) {
  std::string out;
  EXPECT_EQ(kestrim("acquire", &out), 2);
  EXPECT_NE(out.find("kestrim: acquire: no --port was given"), std::string::npos) << out;
  EXPECT_EQ(kestrim("acquire --port /dev/null --preset ten -o a.dat", &out), 2);
  EXPECT_EQ(kestrim("acquire --port /dev/null --preset 10", &out), 2);
  EXPECT_EQ(kestrim("acquire --port /dev/null --preset 10 -o a.txt", &out), 2);
  EXPECT_EQ(kestrim("acquire --port /dev/null --preset 10 --cycle 2 -o a.dat", &out), 2);
  EXPECT_EQ(kestrim("acquire --help", &out), 0);

  EXPECT_EQ(kestrim("acquire --port /dev/kestrim-no-such-port --preset 10 -o a.dat", &out), 1);
  EXPECT_NE(out.find("kestrim: Could not open Comm Port /dev/kestrim-no-such-port "), std::string::npos)
      << out;
  EXPECT_FALSE(file_exists(dir.file("a.dat")));

  test::write_text(dir.file("tempdata.$$$"), "left by a run");
  EXPECT_EQ(kestrim("acquire --port /dev/kestrim-no-such-port --preset 10 -o a.dat", &out), 1);
  EXPECT_NE(out.find("an interrupted acquisition is kept in"), std::string::npos) << out;
  EXPECT_EQ(test::read_text(dir.file("tempdata.$$$")), "left by a run");
}

TEST_F(AcquireCommand, CtrlCStopsTheRunAndSavesWhatWasCounted) {
  McaSimulatorOptions o;
  o.bytes_per_channel = 4;
  o.channels = 1024;
  o.rates = test::rates_reaching(100000, 3600);
  o.live_fraction = 0.95;
  McaSimulator sim(o);
  std::string error;
  ASSERT_TRUE(sim.open(error)) << error;
  // The unit's clock runs at about 200 times the real one.
  std::atomic<bool> done{false};
  std::thread clock([&] {
    while (!done) {
      sim.advance_ms(10000);
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });

  const std::string out = dir.file("run.dat");
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (::chdir(dir.path().c_str()) != 0) ::_exit(99);
    ::setenv("XDG_DATA_HOME", dir.file("user").c_str(), 1);
    const std::string binary = test::kestrim_binary();
    const std::string device = sim.device();
    ::execl(binary.c_str(), binary.c_str(), "acquire", "--port", device.c_str(), "--preset",
            "1000000", "-o", out.c_str(), static_cast<char*>(nullptr));
    ::_exit(98);
  }
  // The start (clear, start echo, start packet), then one read of the
  // whole spectrum (times, echo, spectrum).
  EXPECT_TRUE(sim.wait_commands(3 + 3, 60000));
  ::kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  done = true;
  clock.join();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);

  const McaSimulator::Reading r = sim.reading();
  EXPECT_FALSE(r.counting) << "the unit was not stopped";
  EXPECT_GT(r.true_ms, 0);
  const SpectrumRecord rec = test::read_spectrum(out);
  EXPECT_EQ(rec.header.live_time, static_cast<float>(r.live_ms / 1000));
  int wrong = 0;
  double total = 0;
  for (int k = 2; k < 1024; ++k) {
    wrong += static_cast<std::uint64_t>(rec.counts[static_cast<std::size_t>(k)]) != r.counts[static_cast<std::size_t>(k)];
    total += static_cast<double>(r.counts[static_cast<std::size_t>(k)]);
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_GT(total, 0);
  // A saved spectrum leaves no running copy behind.
  EXPECT_FALSE(file_exists(dir.file("tempdata.$$$")));
}

}  // namespace
}  // namespace kestrim
