// A session with the shipped Defaults and libraries, in temporary folders,
// whose serial MCA is the simulator on a pseudo-terminal. The simulator's
// clock is moved on by the test between the one-second timer ticks, so
// every run is compressed in time and its outcome is fixed.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "acquisition/mca_device.h"
#include "acquisition/mca_simulator.h"
#include "app/acquisition_control.h"
#include "app/settings_bridge.h"
#include "app/startup.h"
#include "app/state.h"
#include "platform/files.h"
#include "platform/scripted_platform.h"
#include "spectrum/native_file.h"
#include "support/test_support.h"

namespace kestrim::test {

// The pacing of the tests: no sleeps around a send, a short wait for a
// reply that does not come.
inline SerialTiming fast_timing() { return SerialTiming{0, 0, 300}; }

inline SpectrumRecord example_spectrum() {
  std::vector<std::uint8_t> bytes;
  SpectrumRecord rec;
  BackgroundRecord background;
  NativeReadResult result;
  EXPECT_TRUE(read_file(source_data_dir() + "/examples/example-nai.dat", bytes));
  EXPECT_EQ(read_native(bytes, rec, background, NativeReadOptions{}, result), 1);
  return rec;
}

inline SpectrumRecord read_spectrum(const std::string& path) {
  std::vector<std::uint8_t> bytes;
  SpectrumRecord rec;
  BackgroundRecord background;
  NativeReadResult result;
  EXPECT_TRUE(read_file(path, bytes)) << path;
  EXPECT_EQ(read_native(bytes, rec, background, NativeReadOptions{}, result), 1) << result.problem;
  return rec;
}

// The example spectrum's rates scaled so that the busiest channel reaches
// `top` counts in `seconds` of live time.
inline std::vector<double> rates_reaching(double top, double seconds) {
  SpectrumRecord ex = example_spectrum();
  std::vector<double> rates = rates_from_spectrum(ex, 1.0);
  double most = 0;
  for (double r : rates) most = r > most ? r : most;
  for (double& r : rates) r *= top / (most * seconds);
  return rates;
}

// Hooks that stop the auto cycle after `runs` runs and remember what each
// analysis left.
class CountedHooks : public AppAcquisitionHooks {
 public:
  CountedHooks(State& state, int runs) : AppAcquisitionHooks(state), runs_(runs) {}
  int analyse_cycle_spectrum(const std::string& path) override {
    saved.push_back(path);
    const int ok = AppAcquisitionHooks::analyse_cycle_spectrum(path);
    results.push_back(ok);
    reports.push_back(read_text(join_path(state_.paths.working_dir, "Main Report.txt")));
    if (on_analysed) on_analysed();
    return ok;
  }
  bool another_run() override { return static_cast<int>(saved.size()) < runs_; }
  std::vector<std::string> saved;
  std::vector<int> results;
  std::vector<std::string> reports;
  std::function<void()> on_analysed;

 private:
  int runs_;
};

class McaSession {
 public:
  // A session with the shipped Defaults, an RX720 on the simulator at
  // `bytes_per_channel`, the given rates, a preset of `preset` seconds and
  // the whole spectrum read on every second tick.
  McaSession(int bytes_per_channel, std::vector<double> rates, int preset, int runs = 1,
             const std::string& working = "")
      : state(ui), devices(fast_timing()), hooks(state, runs) {
    McaSimulatorOptions o;
    o.bytes_per_channel = bytes_per_channel;
    o.channels = 1024;
    o.rates = std::move(rates);
    o.live_fraction = 0.97;
    sim = std::make_unique<McaSimulator>(o);
    std::string error;
    EXPECT_TRUE(sim->open(error)) << error;
    set_up_state(working, preset);
    EXPECT_EQ(initialise_mca(state), 1) << texts();
  }

  void set_up_state(const std::string& working, int preset) {
    state.paths = default_paths();
    state.paths.user_dir = dir.file("user");
    state.paths.working_dir = working.empty() ? dir.file("work") : working;
    make_directories(state.paths.working_dir);
    EXPECT_EQ(initialise(state), 1) << texts();
    state.app.batch_mode = true;
    AnalysisParameters& p = state.params;
    p.mca_type = kMcaTypeSerial;
    p.mca_number = 7;
    p.preset_time = preset;
    p.sc_channels = 1024;
    p.rx720_display_while_collecting = 1;
    state.app.serial_device = sim->device();
    state.services.devices = &devices;
  }

  AcquisitionSession session() { return acquisition_session(state, hooks); }

  // One second of the program's timer: the simulator's clock moves on by
  // `step_ms`, then the timer fires.
  void tick(std::int64_t step_ms = 1000) {
    sim->advance_ms(step_ms);
    AcquisitionSession s = session();
    timer_tick(s);
  }
  // Ticks until the collection ends (at most `limit` ticks).
  void run_to_end(std::int64_t step_ms = 1000, long limit = 1000000) {
    for (long i = 0; i < limit && state.acquisition.collecting; ++i) tick(step_ms);
  }

  std::string texts() const {
    std::string all;
    for (const std::string& t : ui.texts()) all += "[" + t + "] ";
    return all;
  }
  std::string running_copy() const { return join_path(state.paths.working_dir, kRunningCopyName); }

  TempDir dir;
  ScriptedPlatform ui;
  State state;
  SerialMcaDevices devices;
  std::unique_ptr<McaSimulator> sim;
  CountedHooks hooks;
};

}  // namespace kestrim::test
