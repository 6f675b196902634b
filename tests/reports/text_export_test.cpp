// Text export of the spectrum, its save-dialog flow and the dose-rate line.
#include "reports/text_export.h"

#include <gtest/gtest.h>

#include "platform/files.h"
#include "report_fixture.h"
#include "reports/template_reports.h"
#include "support/test_support.h"

namespace kestrim {
namespace {

using test::fill_state;

class TextExport : public ::testing::Test {
 protected:
  void SetUp() override {
    fill_state(state);
    state.paths.working_dir = dir.path();
    for (int i = 0; i < 1024; ++i) state.spectrum.counts[static_cast<std::size_t>(i)] = static_cast<float>(i);
    state.spectrum.counts[0] = 3600;  // live time
    state.spectrum.counts[1] = 3700;  // true time
  }
  std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t at = 0, end;
    while ((end = text.find("\r\n", at)) != std::string::npos) {
      out.push_back(text.substr(at, end - at));
      at = end + 2;
    }
    EXPECT_EQ(at, text.size()) << "text does not end in CR LF";
    return out;
  }
  test::TempDir dir;
  ScriptedPlatform ui;
  State state{ui};
};

TEST_F(TextExport, TenPerLineGives103LinesStartingWithTheTimes) {
  state.params.text_channels_per_line = 10;
  std::vector<std::string> l = lines(text_spectrum(state));
  ASSERT_EQ(l.size(), 103u);
  EXPECT_EQ(l[0], "    0     3600     3700        2        3        4        5        6        7        8        9");
  // The last line runs past channel 1023 with the zeros that follow.
  EXPECT_EQ(l[102], " 1020     1020     1021     1022     1023        0        0        0        0        0        0");
}

TEST_F(TextExport, ChannelsPerLineLimits) {
  EXPECT_EQ(text_channels_per_line(0), 1);
  EXPECT_EQ(text_channels_per_line(40), 16);
  EXPECT_EQ(text_channels_per_line(0x10003), 3);  // low 16 bits
  state.params.text_channels_per_line = 0;
  std::vector<std::string> l = lines(text_spectrum(state));
  ASSERT_EQ(l.size(), 1024u);
  EXPECT_EQ(l[5], "    5        5");
}

TEST_F(TextExport, HeaderFromTemplateOnlyWithMoreThanOneHeaderLine) {
  test::write_text(dir.file("SPCTXT.TPL"), "Spectrum ?SPCF\r\nLive ?LTIM\r\n");
  state.params.text_channels_per_line = 16;
  state.params.text_header_lines = 1;
  EXPECT_EQ(lines(text_spectrum(state)).size(), 64u);
  state.params.text_header_lines = 2;
  std::vector<std::string> l = lines(text_spectrum(state));
  ASSERT_EQ(l.size(), 64u + 3u);
  EXPECT_EQ(l[0], "Spectrum soil_a.dat" + std::string(22, ' '));
  EXPECT_EQ(l[1], "Live    3600");
  EXPECT_EQ(l[2], "");
  EXPECT_EQ(l[3].substr(0, 5), "    0");
}

TEST_F(TextExport, OverwriteIsAskedAndNoKeepsTheFile) {
  const std::string path = dir.file("out.txt");
  test::write_text(path, "old");
  ui.answers = {kAnswerNo};
  EXPECT_EQ(export_text_spectrum(state, path), 0);
  EXPECT_EQ(test::read_text(path), "old");
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Overwrite file " + path + " ?");
  EXPECT_EQ(ui.messages[0].caption, "The file already exists");
  EXPECT_EQ(ui.messages[0].style, kMsgYesNo);
  ui.answers = {kAnswerYes};
  EXPECT_EQ(export_text_spectrum(state, path), 1);
  EXPECT_EQ(test::read_text(path).substr(0, 14), "    0     3600");
  EXPECT_EQ(ui.statuses.back(), "");
}

TEST_F(TextExport, CreateFailureIsReported) {
  const std::string path = dir.file("missing/out.txt");
  EXPECT_EQ(export_text_spectrum(state, path), 0);
  EXPECT_TRUE(ui.said("Error Creating " + path));
}

TEST_F(TextExport, DialogProposesTxtAndReturnsAfterADeclinedOverwrite) {
  test::write_text(dir.file("first.txt"), "keep");
  FileDialog first, second;
  first.paths = {dir.file("first")};  // no '.': ".txt" is added
  second.paths = {dir.file("second.txt")};
  ui.save_results = {first, second};
  ui.answers = {kAnswerNo};
  EXPECT_EQ(save_text_spectrum(state), 1);
  ASSERT_EQ(ui.dialogs_shown.size(), 2u);
  EXPECT_EQ(ui.dialogs_shown[0].title, "Save Text Spectral Data File");
  EXPECT_EQ(ui.dialogs_shown[0].initial_name, "soil_a.txt");
  ASSERT_EQ(ui.dialogs_shown[0].filters.size(), 1u);
  EXPECT_EQ(ui.dialogs_shown[0].filters[0].name, "Text Files(*.txt)");
  EXPECT_EQ(test::read_text(dir.file("first.txt")), "keep");
  EXPECT_TRUE(file_exists(dir.file("second.txt")));
  // Cancelling ends the export.
  EXPECT_EQ(save_text_spectrum(state), 0);
}

// 1e6 counts in channel 100 of a 3 keV/channel spectrum: mean energy
// 300 keV; 1e4 counts/s x 300 keV = 3e6 keV/s in 2 kg = 1.5e6 keV/s/kg
// x 1.602e-16 Gy/keV x 3.6e9 uGy/h per Gy/s = 0.865 uSv/h.
class DoseRateLine : public TextExport {
 protected:
  void SetUp() override {
    TextExport::SetUp();
    std::fill(state.spectrum.counts.begin(), state.spectrum.counts.end(), 0.0f);
    state.spectrum.counts[0] = 100;  // times in channels 0 and 1 are not counts
    state.spectrum.counts[1] = 100;
    state.spectrum.counts[100] = 1e6f;
    state.spectrum.header.live_time = 100;
  }
};

TEST_F(DoseRateLine, KnownSourceGivesTheExpectedLine) {
  state.params.dose_detector_weight = 2;
  update_dose_rate(state);
  EXPECT_EQ(state.app.dose_rate_line, "Gamma Doserate:- 0.87 uSv/h, Mean Energy:- 300 KeV.");
  EXPECT_EQ(state.app.window_title, state.app.dose_rate_line);
  DoseRate d = compute_dose_rate(state, 2);
  EXPECT_NEAR(d.micro_sv_per_hour, 0.86505, 1e-9);  // 3 x 1e6 x 5.767e-7 / 2
  EXPECT_DOUBLE_EQ(d.mean_energy_kev, 300.0);
}

TEST_F(DoseRateLine, ZeroLiveTimeGivesACountBasedFigure) {
  state.spectrum.header.live_time = 0;
  state.params.dose_detector_weight = 4;
  update_dose_rate(state);
  // 3 keV x 1e8 channel-counts x 5.767e-7 / 4 kg = 43.2525
  EXPECT_EQ(state.app.dose_rate_line, "Gamma Doserate:- 43.25 uSv/h, Mean Energy:- 300 KeV.");
}

TEST_F(DoseRateLine, ZeroWeightLeavesTheTitle) {
  state.app.window_title = "soil_a.dat";
  state.app.dose_rate_line = "stale";
  state.params.dose_detector_weight = 0;
  update_dose_rate(state);
  EXPECT_EQ(state.app.dose_rate_line, "");
  EXPECT_EQ(state.app.window_title, "soil_a.dat");
}

TEST_F(DoseRateLine, EmptySpectrumAndUncalibratedSpectrum) {
  std::fill(state.spectrum.counts.begin(), state.spectrum.counts.end(), 0.0f);
  DoseRate d = compute_dose_rate(state, 1);
  EXPECT_EQ(d.mean_energy_kev, 0.0);
  EXPECT_EQ(d.micro_sv_per_hour, 0.0);
  state.spectrum.calibration = CalibrationRecord{};
  EXPECT_DOUBLE_EQ(dose_kev_per_channel(state.spectrum.calibration), 1.0);
}

}  // namespace
}  // namespace kestrim
