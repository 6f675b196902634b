// Acquisition from the serial MCA, end to end through the real serial code
// (termios, receive thread, wire protocol) against the simulator on a
// pseudo-terminal, with the shipped Defaults and the application's run
// logic, auto cycle, analysis and start-up recovery.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "acquisition/serial_mca.h"
#include "acquisition_fixture.h"

namespace kestrim {
namespace {

using test::McaSession;

// The count array, the spectrum in memory and the running copy all hold
// exactly what the simulator counted, and its times.
void expect_matches_simulator(McaSession& m, const std::string& where) {
  const McaSimulator::Reading r = m.sim->reading();
  const AcquisitionState& acq = m.state.acquisition;
  const std::int32_t live = static_cast<std::int32_t>(r.live_ms / 1000);
  const std::int32_t truth = static_cast<std::int32_t>(r.true_ms / 1000);
  EXPECT_EQ(acq.counts[0], live) << where;
  EXPECT_EQ(acq.counts[1], truth) << where;
  const SpectrumRecord disk = test::read_spectrum(m.running_copy());
  int wrong = 0;
  for (int k = 2; k < 1024; ++k) {
    const auto expected = static_cast<std::int64_t>(r.counts[static_cast<std::size_t>(k)]);
    if (acq.counts[static_cast<std::size_t>(k)] != expected ||
        static_cast<std::int64_t>(m.state.spectrum.counts[static_cast<std::size_t>(k)]) != expected ||
        static_cast<std::int64_t>(disk.counts[static_cast<std::size_t>(k)]) != expected)
      ++wrong;
  }
  EXPECT_EQ(wrong, 0) << where;
  // The saved spectrum takes its live and true time from the first time word.
  EXPECT_EQ(m.state.spectrum.header.live_time, static_cast<float>(live)) << where;
  EXPECT_EQ(disk.header.live_time, static_cast<float>(live)) << where;
  EXPECT_EQ(disk.header.true_time, static_cast<float>(live)) << where;
  EXPECT_EQ(disk.header.channels, 1024) << where;
}

TEST(SerialAcquisition, TenMinuteRunsYieldTheSimulatorsCountsAtEveryWidth) {
  // The busiest channel ends near the top of each width's range.
  const struct {
    int bytes;
    double top;
  } widths[] = {{1, 250}, {2, 60000}, {4, 5.0e6}};
  for (const auto& w : widths) {
    const std::string where = std::to_string(w.bytes) + " bytes per channel";
    McaSession m(w.bytes, test::rates_reaching(w.top, 600 * 0.97 + 2), 600);
    AcquisitionSession s = m.session();
    ASSERT_EQ(start_collection(s, true), 1) << m.texts();
    m.run_to_end(1000, 2000);
    EXPECT_FALSE(m.state.acquisition.collecting) << m.texts();
    const McaSimulator::Reading r = m.sim->reading();
    EXPECT_FALSE(r.counting) << where << ": the unit was not stopped";
    EXPECT_GE(r.true_ms, 599000) << where;
    EXPECT_LE(r.true_ms, 601000) << where;
    expect_matches_simulator(m, where);
    double most = 0;
    for (std::uint64_t c : r.counts) most = std::max(most, static_cast<double>(c));
    EXPECT_GT(most, w.top * 0.95) << where;
    // Nothing went wrong: the only message is the one of the initialisation.
    EXPECT_EQ(m.ui.texts(), std::vector<std::string>{"Initialised MCA 7 successfully"}) << where;
  }
}

TEST(SerialAcquisition, ADayLongRunLosesNoCounts) {
  // 24 hours, a minute of the unit's time per tick: the 24-bit
  // millisecond time words wrap five times.
  McaSession m(4, test::rates_reaching(8.0e6, 86400 * 0.97), 86400);
  AcquisitionSession s = m.session();
  ASSERT_EQ(start_collection(s, true), 1) << m.texts();
  m.run_to_end(60000);
  const McaSimulator::Reading r = m.sim->reading();
  EXPECT_GE(r.true_ms, 86400000);
  EXPECT_LT(r.true_ms, 86400000 + 120000);
  expect_matches_simulator(m, "24 hours");
  double total = 0, acquired = 0;
  for (int k = 2; k < 1024; ++k) {
    total += static_cast<double>(r.counts[static_cast<std::size_t>(k)]);
    acquired += m.state.acquisition.counts[static_cast<std::size_t>(k)];
  }
  EXPECT_EQ(acquired, total);
  EXPECT_GT(total, 1.0e8);
}

TEST(SerialAcquisition, TimeWordsAreExtendedAcrossTheirWrap) {
  std::int64_t last = -1, wraps = 0;
  const std::int64_t range = std::int64_t{1} << 24;
  std::int64_t t = 0;
  for (int i = 0; i < 40000; ++i) {
    t += 2000 + (i % 7) * 100;  // a read about every two seconds
    EXPECT_EQ(unwrap_time_word(static_cast<std::uint32_t>(t % range), last, wraps), t) << i;
  }
  // A word that falls in mid-range (another unit, a cleared memory) is
  // not taken as a wrap.
  std::int64_t l2 = 5000000, w2 = 0;
  EXPECT_EQ(unwrap_time_word(1000, l2, w2), 1000);
}

struct FaultCase {
  const char* name;
  SimFault fault;
  std::uint8_t command;
  int value;
  std::vector<std::string> messages;  // shown, in order, after the fault
  bool ends_run;
};

TEST(SerialAcquisition, EveryFaultIsReportedAndKeepsTheLastGoodData) {
  const std::string gone = "The MCA is no longer connected: the data collection was stopped";
  const std::vector<FaultCase> cases = {
      {"no answer to the times", SimFault::kNoAnswer, 0xA5, 0, {"Did not receive elapsed time"}, false},
      {"no echo of the spectrum command", SimFault::kNoAnswer, 0x94, 0, {"Could not send 0x94"}, false},
      {"short times reply", SimFault::kShortReply, 0xA5, 0, {"Did not receive elapsed time"}, false},
      {"short spectrum", SimFault::kShortReply, 0x94, 0, {"Did not get spectral data"}, false},
      {"wrong echo", SimFault::kWrongEcho, 0x94, 0,
       {"Invalid response of ce from MCA command 94", "Could not send 0x94"}, false},
      {"line noise", SimFault::kLineNoise, 0x94, 0, {"", "Could not send 0x94"}, false},
      {"0 bytes per channel", SimFault::kBadBytesPerChannel, 0x94, 0, {"Invalid Bytes/chan"}, false},
      {"5 bytes per channel", SimFault::kBadBytesPerChannel, 0x94, 5, {"Invalid Bytes/chan"}, false},
      {"3 bytes per channel", SimFault::kBadBytesPerChannel, 0x94, 3, {"Bytes per channal was 3"}, false},
      {"unplugged during the spectrum", SimFault::kUnplugMidRead, 0x94, 0,
       // The hang-up may drop what was in the line: the header may be
       // short too.
       {"Error receiving data from the MCA", "Did not get spectral data|Did not get header data", gone},
       true},
      {"unplugged between reads", SimFault::kNone, 0, 0,
       {"Could not send data to MCA, error 5", "Could not send 0xa5", gone}, true},
  };
  for (const FaultCase& c : cases) {
    McaSession m(2, test::rates_reaching(20000, 300), 300);
    AcquisitionSession s = m.session();
    ASSERT_EQ(start_collection(s, true), 1) << c.name << m.texts();
    for (int i = 0; i < 60; ++i) m.tick();  // the running copy was written at the 60th
    // The last good data, in memory and in the running copy.
    const std::vector<std::int32_t> good = m.state.acquisition.counts;
    const std::vector<float> good_spectrum = m.state.spectrum.counts;
    const std::vector<std::uint8_t> good_copy = test::read_bytes(m.running_copy());
    ASSERT_GT(good[500] + good[300], 0) << c.name;
    const std::size_t before = m.ui.messages.size();

    if (c.fault == SimFault::kNone) m.sim->unplug();
    else m.sim->inject(c.fault, c.command, c.value);
    m.tick();
    m.tick();  // an even tick: the read that meets the fault

    std::vector<std::string> shown;
    for (std::size_t i = before; i < m.ui.messages.size(); ++i) {
      shown.push_back(m.ui.messages[i].text);
      EXPECT_EQ(m.ui.messages[i].style, kMsgWarning) << c.name << ": " << m.ui.messages[i].text;
    }
    ASSERT_EQ(shown.size(), c.messages.size()) << c.name << ": " << m.texts();
    for (std::size_t i = 0; i < shown.size(); ++i) {
      if (c.messages[i].empty()) {
        EXPECT_EQ(shown[i].rfind("Invalid response of ", 0), 0u) << c.name << ": " << shown[i];
        EXPECT_NE(shown[i].find(" from MCA command 94"), std::string::npos) << c.name;
      } else {
        const std::string& e = c.messages[i];
        const auto bar = e.find('|');
        if (bar == std::string::npos)
          EXPECT_EQ(shown[i], e) << c.name;
        else
          EXPECT_TRUE(shown[i] == e.substr(0, bar) || shown[i] == e.substr(bar + 1)) << c.name << ": " << shown[i];
      }
    }
    // The failed read changed nothing but the second that passed.
    for (int k = 2; k < 1024; ++k) {
      ASSERT_EQ(m.state.acquisition.counts[static_cast<std::size_t>(k)], good[static_cast<std::size_t>(k)])
          << c.name << " channel " << k;
      ASSERT_EQ(m.state.spectrum.counts[static_cast<std::size_t>(k)], good_spectrum[static_cast<std::size_t>(k)])
          << c.name << " channel " << k;
    }
    const SpectrumRecord copy = test::read_spectrum(m.running_copy());
    for (int k = 2; k < 1024; ++k)
      ASSERT_EQ(copy.counts[static_cast<std::size_t>(k)], good_spectrum[static_cast<std::size_t>(k)]) << c.name;

    if (c.ends_run) {
      // The run ended and saved the last good data.
      EXPECT_FALSE(m.state.acquisition.collecting) << c.name;
      continue;
    }
    // The running copy was not touched by the failed read.
    EXPECT_EQ(test::read_bytes(m.running_copy()), good_copy) << c.name;
    // A passing fault: the run goes on and ends with the unit's counts.
    EXPECT_TRUE(m.state.acquisition.collecting) << c.name;
    m.run_to_end();
    expect_matches_simulator(m, c.name);
    EXPECT_EQ(m.ui.messages.size(), before + c.messages.size()) << c.name << m.texts();
  }
}

TEST(SerialAcquisition, StartFaultsMissingAndBusyPortsAreReported) {
  McaSession m(4, test::rates_reaching(1000, 60), 60);
  // A wrong echo of the clear command fails the start.
  m.sim->inject(SimFault::kWrongEcho, 0x92);
  AcquisitionSession s = m.session();
  EXPECT_EQ(start_collection(s, true), 0);
  EXPECT_TRUE(m.ui.said("Invalid response of c8 from MCA command 92")) << m.texts();
  EXPECT_TRUE(m.ui.said("Could not start collect, Error 1 occured")) << m.texts();
  EXPECT_FALSE(m.state.acquisition.collecting);
  // The next start works; a second start is refused while collecting.
  EXPECT_EQ(start_collection(s, true), 1) << m.texts();
  EXPECT_EQ(start_collection(s, true), 0);
  EXPECT_EQ(m.ui.messages.back().text, "Data Collection is already active");
  EXPECT_EQ(m.ui.messages.back().style, kMsgError);

  // The port is held exclusively: a second opener is refused.
  ScriptedPlatform other_ui;
  SerialMcaDevices other(test::fast_timing());
  EXPECT_EQ(other.initialise_serial(other_ui, m.sim->device(), 1), 0);
  EXPECT_TRUE(other_ui.said("Could not open Comm Port " + m.sim->device() + " ")) << other_ui.texts().size();
  EXPECT_EQ(other.initialise_serial(other_ui, "/dev/kestrim-no-such-port", 1), 0);
  EXPECT_TRUE(other_ui.said("Could not open Comm Port /dev/kestrim-no-such-port "));
  // An exchange on a port that did not open fails at the send.
  McaSession none(4, {}, 60);
  none.state.app.serial_device = "/dev/kestrim-no-such-port";
  EXPECT_EQ(initialise_mca(none.state), 0);
  AcquisitionSession s2 = none.session();
  EXPECT_EQ(start_collection(s2, true), 0);
  EXPECT_TRUE(none.ui.said("Could not send data to MCA, error 9")) << none.texts();
  // No MCA type.
  none.state.params.mca_type = 0;
  EXPECT_EQ(initialise_mca(none.state), 0);
  EXPECT_EQ(none.ui.messages.back().text, "No MCA type is selected");
}

TEST(SerialAcquisition, AnAutoCycleOfThreeRunsSavesAndAnalysesEachSpectrum) {
  McaSession m(4, test::rates_reaching(1500, 600), 600, 3);
  AnalysisParameters& p = m.state.params;
  p.auto_acquisition_cycle = 1;
  p.auto_save_number = 1;
  p.default_detector_file = 1;  // the shipped example detector
  p.update_database = 1;        // the automatic analysis is on
  m.state.app.own_format_dir = m.dir.file("spectra");
  make_directories(m.dir.file("spectra"));
  ASSERT_EQ(app_read_detector_calibration(m.state, 1, 1), 1) << m.texts();
  // What the unit held when each run's spectrum was analysed.
  std::vector<McaSimulator::Reading> at_save;
  m.hooks.on_analysed = [&] { at_save.push_back(m.sim->reading()); };

  ASSERT_EQ(command_start_acquisition(m.state, m.hooks), 1) << m.texts();
  m.run_to_end(10000);
  ASSERT_EQ(m.hooks.saved.size(), 3u) << m.texts();
  for (int n = 1; n <= 3; ++n) {
    char name[16];
    std::snprintf(name, sizeof name, "SP%04d.DAT", n);
    const std::string path = m.dir.file(std::string("spectra/") + name);
    EXPECT_EQ(m.hooks.saved[static_cast<std::size_t>(n - 1)], path);
    const SpectrumRecord rec = test::read_spectrum(path);
    const McaSimulator::Reading& r = at_save[static_cast<std::size_t>(n - 1)];
    EXPECT_FALSE(r.counting);
    EXPECT_EQ(rec.header.live_time, static_cast<float>(r.live_ms / 1000)) << name;
    int wrong = 0;
    for (int k = 2; k < 1024; ++k)
      wrong += static_cast<std::uint64_t>(rec.counts[static_cast<std::size_t>(k)]) != r.counts[static_cast<std::size_t>(k)];
    EXPECT_EQ(wrong, 0) << name;
    // Each run starts afresh: the unit's memory was cleared.
    EXPECT_LE(r.true_ms, 620000) << name;
    // Its analysis ran and reported it.
    EXPECT_EQ(m.hooks.results[static_cast<std::size_t>(n - 1)], 1) << name << m.texts();
    const std::string& report = m.hooks.reports[static_cast<std::size_t>(n - 1)];
    EXPECT_NE(report.find(name), std::string::npos) << report.substr(0, 200);
    EXPECT_NE(report.find("K-40"), std::string::npos) << name;
  }
  // Each analysis added its row to the activity database.
  const std::string database = test::read_text(join_path(m.state.paths.working_dir, "dbase.CSV"));
  for (const char* name : {"SP0001.DAT", "SP0002.DAT", "SP0003.DAT"})
    EXPECT_NE(database.find(name), std::string::npos) << name << "\n" << database.substr(0, 400);
  EXPECT_FALSE(file_exists(m.dir.file("spectra/SP0004.DAT")));
  EXPECT_EQ(m.state.params.auto_save_number, 4);
  EXPECT_FALSE(m.state.acquisition.collecting);
  EXPECT_FALSE(file_exists(m.running_copy()));

  // A new cycle onto an existing file asks first; No keeps the file.
  m.state.params.auto_save_number = 2;
  m.ui.answers.push_back(kAnswerNo);
  EXPECT_EQ(command_start_acquisition(m.state, m.hooks), 0);
  EXPECT_EQ(m.ui.messages.back().text, "Overwrite file " + m.dir.file("spectra/SP0002.DAT") + " ?");
  EXPECT_EQ(m.ui.messages.back().caption, "The Spectrum data file already exists");
}

TEST(SerialAcquisition, AnInterruptedRunIsTakenBackAtStartUpAndContinued) {
  test::TempDir work;
  std::vector<std::int32_t> good;
  std::unique_ptr<McaSession> first =
      std::make_unique<McaSession>(2, test::rates_reaching(20000, 600), 600, 1, work.path());
  {
    AcquisitionSession s = first->session();
    ASSERT_EQ(start_collection(s, true), 1);
    // The running copy was last written at the 180th tick.
    for (int i = 0; i < 181; ++i) first->tick();
    good = first->state.acquisition.counts;
    ASSERT_TRUE(file_exists(first->running_copy()));
  }
  // The program ends without stopping (a crash, a power cut); the unit
  // goes on holding its memory. A new start of the program takes over.
  McaSession second(2, {}, 600, 1, work.path());
  second.sim = std::move(first->sim);  // the same unit
  second.state.app.serial_device = second.sim->device();
  first.reset();
  second.state.params.init_mca_at_startup = 1;
  second.state.params.default_detector_file = 1;
  ASSERT_EQ(start_up_acquisition(second.state, second.hooks), 1) << second.texts();
  EXPECT_TRUE(second.ui.said("Initialised MCA 7 successfully")) << second.texts();
  const AcquisitionState& acq = second.state.acquisition;
  for (int k = 2; k < 1024; ++k)
    ASSERT_EQ(acq.counts[static_cast<std::size_t>(k)], good[static_cast<std::size_t>(k)]) << k;
  EXPECT_EQ(acq.counts[0], good[0]);
  EXPECT_EQ(acq.elapsed, static_cast<std::int64_t>(good[0]) * 1000);
  EXPECT_EQ(second.state.app.spectrum_type, kSpectrumTypeFromMca);
  EXPECT_TRUE(second.state.app.spectrum_loaded);
  // The calibration of the parameters' detector came with it.
  EXPECT_EQ(second.state.spectrum.calibration.energy[1], 3.0f);

  // Continue: the unit's memory is not cleared, the run goes on to the
  // preset and ends with everything the unit counted.
  const std::int64_t before = second.sim->reading().true_ms;
  ASSERT_EQ(command_continue_acquisition(second.state, second.hooks), 1) << second.texts();
  second.tick();
  second.tick();
  EXPECT_GT(second.sim->reading().true_ms, before);
  second.run_to_end();
  expect_matches_simulator(second, "continued");
  EXPECT_GE(second.sim->reading().true_ms, 599000);
  // The close request asks only while collecting.
  EXPECT_EQ(acquisition_close_request(second.state, second.hooks, false), 1);
}

TEST(SerialAcquisition, TheCloseRequestAsksWhileCollecting) {
  McaSession m(4, test::rates_reaching(1000, 60), 600);
  AcquisitionSession s = m.session();
  ASSERT_EQ(start_collection(s, true), 1);
  for (int i = 0; i < 10; ++i) m.tick();
  EXPECT_EQ(acquisition_close_request(m.state, m.hooks, false), 0);  // the default: No
  EXPECT_EQ(m.ui.messages.back().text, "Do you want to stop the MCA Collecting data?");
  EXPECT_EQ(m.ui.messages.back().caption, "Cannot Exit while Collecting MCA data");
  EXPECT_TRUE(m.state.acquisition.collecting);
  m.ui.answers.push_back(kAnswerYes);
  EXPECT_EQ(acquisition_close_request(m.state, m.hooks, false), 1);
  EXPECT_FALSE(m.state.acquisition.collecting);
  EXPECT_FALSE(m.sim->reading().counting);
  expect_matches_simulator(m, "stopped at close");
}

}  // namespace
}  // namespace kestrim
