#include "app/open_spectrum.h"

#include <gtest/gtest.h>

#include "app/analysis.h"
#include "app/command_line.h"
#include "app/peak_data_file.h"
#include "app/startup.h"
#include "app_fixture.h"
#include "platform/binio.h"
#include "app/spectrum_file.h"

namespace kestrim {
namespace {

using test::AppSession;

class OpenSpectrumTest : public ::testing::Test, public AppSession {
 protected:
  int open(const std::string& name) {
    state.app.current_file = name;
    if (!check_extension(state, dir.file("spectra/" + name))) return 0;
    return open_spectrum(state, false);
  }
};

TEST_F(OpenSpectrumTest, SpcFilesAreProbedForTheOrtecLayout) {
  std::vector<std::uint8_t> ortec(64, 0);
  bin::put_i16(ortec.data(), 1);
  bin::put_i16(ortec.data() + 2, 5);
  test::write_bytes(dir.file("spectra/a.SPC"), ortec);
  ASSERT_EQ(check_extension(state, dir.file("spectra/a.SPC")), 1);
  EXPECT_EQ(state.app.spectrum_type, 4);
  bin::put_i16(ortec.data() + 2, 2);
  test::write_bytes(dir.file("spectra/b.spc"), ortec);
  ASSERT_EQ(check_extension(state, dir.file("spectra/b.spc")), 1);
  EXPECT_EQ(state.app.spectrum_type, 1);
  ASSERT_EQ(check_extension(state, "x.N42"), 1);
  EXPECT_EQ(state.app.spectrum_type, 15);
  EXPECT_EQ(check_extension(state, "x.doc"), 0);
  EXPECT_EQ(ui.texts().back(), "Unknown Spectrum Data file Extension:- doc");
}

TEST_F(OpenSpectrumTest, OpeningFillsTimesSamplingUncertaintyAndStatus) {
  write_spectrum("s1.dat", simple_spectrum(1024, 5));
  ASSERT_EQ(open("s1.dat"), 1);
  EXPECT_TRUE(state.app.spectrum_loaded);
  EXPECT_EQ(state.spectrum.counts[0], 100.0f);
  EXPECT_EQ(state.spectrum.counts[1], 100.0f);
  EXPECT_EQ(state.spectrum.header.sampling_uncertainty, 3.0f);
  EXPECT_EQ(state.spectrum.header.detector, 0);  // the parameters' number
  EXPECT_EQ(ui.statuses.front(), "Reading Spectral data file");
  EXPECT_EQ(ui.statuses.back(), "Spectral data read");
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(to_string(state.params.current_spectrum), "s1.dat");
}

// Efficiency points that come with the spectrum (no detector file) are
// used as those of a detector file: on without a high-energy efficiency
// function, and off again for a spectrum without points.
TEST_F(OpenSpectrumTest, EfficiencyPointsOfTheSpectrumAreSwitchedOn) {
  SpectrumRecord rec = simple_spectrum(1024, 5);
  rec.efficiency.count = 3;
  rec.efficiency.energy = {100, 600, 1400};
  rec.efficiency.efficiency = {0.05f, 0.02f, 0.01f};
  write_spectrum("points.dat", rec);
  write_spectrum("none.dat", simple_spectrum(1024, 5));
  ASSERT_EQ(open("points.dat"), 1);
  ASSERT_EQ(state.spectrum.header.detector_file, 0);
  EXPECT_EQ(state.spectrum.efficiency.count, 3);
  EXPECT_TRUE(state.app.use_efficiency_points);
  ASSERT_EQ(open("none.dat"), 1);
  EXPECT_FALSE(state.app.use_efficiency_points);
}

TEST_F(OpenSpectrumTest, ZeroLiveTimeOnlyWarns) {
  SpectrumRecord rec = simple_spectrum(256, 1);
  rec.header.live_time = 0;
  write_spectrum("zero.dat", rec);
  ASSERT_EQ(open("zero.dat"), 1);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].caption, "Warning, the Live Count Time was zero");
  EXPECT_EQ(ui.messages[0].text, "Set the Live Time using the Spectrum Edit command");
}

TEST_F(OpenSpectrumTest, MissingAndCorruptFilesFailWithTheirMessages) {
  EXPECT_EQ(open("absent.dat"), 0);
  EXPECT_EQ(ui.texts().back(), "Could not open:- " + dir.file("spectra/absent.dat"));
  test::write_bytes(dir.file("spectra/short.dat"), std::vector<std::uint8_t>(300, 0));
  EXPECT_EQ(open("short.dat"), 0);
  EXPECT_EQ(ui.texts().back(), "Error reading short.dat");
  EXPECT_FALSE(state.app.spectrum_loaded);
}

TEST_F(OpenSpectrumTest, FailedReadLeavesThePreviousCountsInPlace) {
  write_spectrum("good.dat", simple_spectrum(512, 7));
  ASSERT_EQ(open("good.dat"), 1);
  SpectrumRecord bad = simple_spectrum(1024, 9);
  std::vector<std::uint8_t> bytes = encode_native(bad, DateTime{}, nullptr);
  bytes.resize(bytes.size() - 10);
  test::write_bytes(dir.file("spectra/cut.dat"), bytes);
  EXPECT_EQ(open("cut.dat"), 0);
  EXPECT_EQ(state.spectrum.counts[100], 7.0f);  // nothing half-loaded
}

TEST_F(OpenSpectrumTest, SpectrumOfAnotherDetectorOffersItsDefaultsFile) {
  AnalysisParameters p2 = state.params;
  p2.search_discriminator = 7;
  write_defaults(2, p2);
  write_spectrum("det2.dat", simple_spectrum(256, 1, 2));
  ui.answers.push_back(kAnswerYes);
  ASSERT_EQ(open("det2.dat"), 1);
  ASSERT_FALSE(ui.messages.empty());
  EXPECT_EQ(ui.messages[0].caption, "This Spectrum is from Detector 2");
  EXPECT_EQ(ui.messages[0].text, "Open Default Parameter file number 2");
  EXPECT_EQ(ui.messages[0].default_answer, kAnswerYes);
  EXPECT_EQ(state.params.defaults_number, 2);
  EXPECT_EQ(state.params.search_discriminator, 7.0f);
}

TEST_F(OpenSpectrumTest, NoDefaultsPromptInBatchAnalysisOrForDetectorsFrom1000) {
  write_defaults(2, state.params);
  write_spectrum("det2.dat", simple_spectrum(256, 1, 2));
  write_spectrum("det1000.dat", simple_spectrum(256, 1, 1000));
  ASSERT_EQ(open("det1000.dat"), 1);
  EXPECT_TRUE(ui.messages.empty());
  state.app.batch_analysis = true;
  ASSERT_EQ(open("det2.dat"), 1);
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(state.params.defaults_number, 0);
}

TEST_F(OpenSpectrumTest, HighDeadTimeAdjustsTheWorkingParameters) {
  state.params.max_dead_time = 10;
  SpectrumRecord rec = simple_spectrum(256, 1);
  rec.header.live_time = 88;
  rec.header.true_time = 100;
  write_spectrum("dead.dat", rec);
  ASSERT_EQ(open("dead.dat"), 1);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].caption, "This Spectrum has a Dead Time of 12 %");
  EXPECT_EQ(ui.messages[0].text, "Adjust the appropriate Analysis Parameters ?");
  EXPECT_TRUE(state.app.high_dead_time);
  EXPECT_FLOAT_EQ(state.app.working_max_width_change, 0.4f);
  EXPECT_FALSE(state.app.working_residual_search);

  // Below the threshold nothing is asked.
  ui.messages.clear();
  rec.header.live_time = 91;
  write_spectrum("ok.dat", rec);
  ASSERT_EQ(open("ok.dat"), 1);
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_FALSE(state.app.high_dead_time);
}

TEST_F(OpenSpectrumTest, MoreThan4096ChannelsAreCut) {
  write_spectrum("big.dat", simple_spectrum(8192, 2));
  ASSERT_EQ(open("big.dat"), 1);
  EXPECT_EQ(state.spectrum.header.channels, 4096);
}

TEST_F(OpenSpectrumTest, MergingThreeFilesSumsCountsAndTimes) {
  write_spectrum("m1.dat", simple_spectrum(512, 1));
  write_spectrum("m2.dat", simple_spectrum(512, 2));
  SpectrumRecord third = simple_spectrum(512, 4);
  third.header.live_time = 50;
  third.header.true_time = 60;
  write_spectrum("m3.dat", third);
  state.app.spectrum_type = 0;
  ASSERT_EQ(merge_spectra(state, {"m1.dat", "m2.dat", "m3.dat"}), 1);
  EXPECT_EQ(state.app.current_file, "Sum_Spec.dat");
  EXPECT_EQ(state.spectrum.counts[300], 7.0f);
  EXPECT_EQ(state.spectrum.header.live_time, 250.0f);
  EXPECT_EQ(state.spectrum.header.true_time, 260.0f);
  EXPECT_EQ(state.spectrum.counts[0], 250.0f);
}

TEST_F(OpenSpectrumTest, SecondSpectrumIsNormalisedToLiveTimeAndLeavesTheFirst) {
  write_spectrum("main.dat", simple_spectrum(256, 10));
  SpectrumRecord bkg = simple_spectrum(256, 30);
  bkg.header.live_time = 300;
  write_spectrum("bkg.dat", bkg);
  ASSERT_EQ(open("main.dat"), 1);
  state.app.second_spectrum_mode = true;
  state.app.normalise_second = true;
  state.app.current_file = "bkg.dat";
  ASSERT_EQ(read_spectrum_file(state, dir.file("spectra/bkg.dat")), 1);
  EXPECT_EQ(state.second.counts[100], 10);  // 30 x 100 / 300
  EXPECT_EQ(state.spectrum.counts[100], 10.0f);
  EXPECT_EQ(state.spectrum.header.live_time, 100.0f);
  EXPECT_EQ(state.second.title, "test spectrum");
}

TEST_F(OpenSpectrumTest, DirectoryListingSkipsSmallAndUnknownFiles) {
  write_spectrum("a.dat", simple_spectrum(1024, 1));
  write_spectrum("b.DAT", simple_spectrum(512, 1));
  test::write_bytes(dir.file("spectra/small.dat"), std::vector<std::uint8_t>(1024, 0));
  std::vector<std::uint8_t> junk(4000, 0);
  bin::put_i16(junk.data() + 148, 7);
  test::write_bytes(dir.file("spectra/junk.dat"), junk);
  state.app.spectrum_type = 0;
  EXPECT_EQ(list_directory_for_batch(state, dir.file("spectra")), 2);
  EXPECT_EQ(test::read_text(dir.file("work/batchspc.$$$")), "a.dat\r\nb.DAT\r\n");
  state.app.spectrum_type = 5;
  EXPECT_EQ(list_directory_for_batch(state, dir.file("spectra")), 0);
}

TEST_F(OpenSpectrumTest, BatchRunAnalysesTheListAndDeletesIt) {
  test::write_text(dir.file("work/report.tpl"), "Report of ?SPCF\r\n");
  write_spectrum("a.dat", simple_spectrum(1024, 1));
  write_spectrum("b.dat", simple_spectrum(1024, 1));
  test::write_text(dir.file("work/batchspc.$$$"), "a.dat\r\nmissing.dat\r\nb.dat\r\n");
  state.params.prompt_add_peaks = 1;
  EXPECT_EQ(run_batch(state), 2);
  EXPECT_FALSE(file_exists(dir.file("work/batchspc.$$$")));
  EXPECT_EQ(state.params.prompt_add_peaks, 1);  // restored afterwards
  EXPECT_TRUE(ui.said("Could not open:- " + dir.file("spectra/missing.dat")));
  EXPECT_EQ(state.app.window_title, "Analysing Spectral data file:- b.dat ");
}

TEST_F(OpenSpectrumTest, SaveAsksBeforeUpdatingAndNumbersAutomaticSaves) {
  write_spectrum("keep.dat", simple_spectrum(256, 3));
  ASSERT_EQ(open("keep.dat"), 1);
  ui.answers.push_back(kAnswerNo);  // do not update; the dialog is then cancelled
  EXPECT_EQ(save_spectrum(state, false, false, false), 0);
  ASSERT_FALSE(ui.messages.empty());
  EXPECT_EQ(ui.messages[0].text, "Update the existing file:- " + dir.file("spectra/keep.dat") + " ?");
  EXPECT_EQ(ui.messages[0].caption, "The Spectrum data file already exists");
  EXPECT_EQ(ui.messages[0].default_answer, kAnswerNo);

  state.params.auto_save_number = 5;
  ASSERT_EQ(save_spectrum(state, false, false, false), 1);
  EXPECT_TRUE(file_exists(dir.file("spectra/Sp0005.dat")));
  EXPECT_EQ(state.params.auto_save_number, 6);
  EXPECT_EQ(state.app.current_file, "Sp0005.");
  EXPECT_EQ(ui.statuses.back(), "Spectral data saved");
}

TEST_F(OpenSpectrumTest, OfferToSaveAsksOnlyForChangedNamedSpectra) {
  state.app.current_file = "x.dat";
  EXPECT_EQ(offer_to_save_changes(state), 1);
  EXPECT_TRUE(ui.messages.empty());
  state.app.spectrum_changed = true;
  ui.answers.push_back(kAnswerCancel);
  EXPECT_EQ(offer_to_save_changes(state), 0);
  EXPECT_EQ(ui.messages.back().text, "Save changes to Spectrum data file:- x.dat ?");
  EXPECT_EQ(ui.messages.back().caption, "Press F1 for Help");
  ui.answers.push_back(kAnswerNo);
  EXPECT_EQ(offer_to_save_changes(state), 1);
  EXPECT_FALSE(state.app.spectrum_changed);
  state.app.spectrum_changed = true;
  state.app.current_file = "MCA_Data.dat";
  ui.answers.push_back(kAnswerNo);
  offer_to_save_changes(state);
  EXPECT_EQ(ui.messages.back().text, "Save changes to current Spectrum");
}

TEST_F(OpenSpectrumTest, CommandLineBatchRunsTheAnalysisAndSucceeds) {
  // A batch needs an efficiency to give activities (a flat 10 % curve) and
  // the main report its template: a run without either fails.
  test::write_text(dir.file("work/report.tpl"), "Report of ?SPCF\r\n");
  SpectrumRecord rec = simple_spectrum(1024, 20);
  rec.calibration.low_eff_terms = 1;
  rec.calibration.high_eff_terms = 1;
  rec.calibration.low_eff[0] = -2.302585f;
  rec.calibration.high_eff[0] = -2.302585f;
  write_spectrum("run.dat", rec);
  RunOutcome out = run_program(state, "/batch /file=" + dir.file("spectra/run.dat"));
  EXPECT_EQ(out, RunOutcome::kSucceeded);
  // The parameters are saved into the user's folder only.
  EXPECT_TRUE(file_exists(dir.file("user/DefaultFiles/Normal.000")));
}

TEST_F(OpenSpectrumTest, StartUpFailsWithoutLibrariesFolder) {
  ASSERT_EQ(::rmdir(dir.file("program/Libraries").c_str()), 0);
  EXPECT_EQ(run_program(state, "/batch /file=x.dat"), RunOutcome::kFailed);
  EXPECT_EQ(ui.messages.back().text,
            "Could not find Library Directory:- " + dir.file("program/Libraries"));
}

TEST_F(OpenSpectrumTest, CalibrationRequestStopsTheAnalysis) {
  write_spectrum("cal.dat", simple_spectrum(1024, 20));
  RunOutcome out = run_program(state, "/batch /enecal /file=" + dir.file("spectra/cal.dat"));
  EXPECT_FALSE(state.app.batch_analysis);
  (void)out;
}

}  // namespace
}  // namespace kestrim

namespace kestrim {
namespace {

TEST(PeakDataFile, RoundTripAndHandMadeBytes) {
  PeakList p;
  p.count = 2;
  p.centre[1] = 220.5f;
  p.centre_channel[1] = 220;
  p.fit_start[2] = 300;
  p.net_area[2] = 1234.5f;
  p.unconditional[2] = 1;
  std::vector<std::uint8_t> bytes = encode_peak_data(p, "Soil1.dat");
  ASSERT_EQ(bytes.size(), 32040u);
  EXPECT_EQ(bin::get_i32(bytes.data()), -1);
  EXPECT_EQ(bin::get_i32(bytes.data() + 36), 2);
  EXPECT_EQ(bin::get_f32(bytes.data() + 40), 220.5f);                 // centre of peak 1
  EXPECT_EQ(bin::get_i32(bytes.data() + 40 + 2 * 2000 + 4), 300);     // fit start of peak 2
  EXPECT_EQ(bin::get_f32(bytes.data() + 40 + 8 * 2000 + 4), 1234.5f); // net area of peak 2

  PeakList back;
  ASSERT_EQ(decode_peak_data(bytes, "SOIL1.DAT", back), 1);
  EXPECT_EQ(back.count, 2);
  EXPECT_TRUE(back.fitted);
  EXPECT_EQ(back.centre[1], 220.5f);
  EXPECT_EQ(back.unconditional[2], 1);
  // Another spectrum's file, a cut file or a bad count is not taken.
  EXPECT_EQ(decode_peak_data(bytes, "other.dat", back), 0);
  std::vector<std::uint8_t> cut(bytes.begin(), bytes.end() - 1);
  PeakList none;
  EXPECT_EQ(decode_peak_data(cut, "Soil1.dat", none), 0);
  EXPECT_EQ(none.count, 0);
  bin::put_i32(bytes.data() + 36, 501);
  EXPECT_EQ(decode_peak_data(bytes, "Soil1.dat", none), 0);
}

class PeakDataRestoreTest : public ::testing::Test, public test::AppSession {};

TEST_F(PeakDataRestoreTest, InteractiveOpenTakesOverStoredPeaksBatchIgnoresThem) {
  write_spectrum("s.dat", simple_spectrum(512, 2));
  PeakList p;
  p.count = 1;
  p.centre[1] = 100;
  test::write_bytes(dir.file("work/Peak data.bin"), encode_peak_data(p, "s.dat"));
  state.app.current_file = "s.dat";
  ASSERT_EQ(open_spectrum(state, false), 1);
  EXPECT_EQ(state.peaks.count, 1);
  state.app.batch_mode = true;
  ASSERT_EQ(open_spectrum(state, false), 1);
  EXPECT_EQ(state.peaks.count, 0);
}


// A spectrum opened after a longer one holds no counts of the first beyond
// its own channels, whatever the reader: native, and a text file read by a
// foreign reader that fills only the channels it finds.
TEST_F(OpenSpectrumTest, OpeningClearsTheCountsOfThePreviousSpectrum) {
  write_spectrum("long.dat", simple_spectrum(4096, 7));
  std::string text;
  for (int i = 0; i < 300; ++i) text += "3\r\n";
  test::write_text(dir.file("spectra/short.txt"), text);
  state.params.text_channels_per_line = 1;
  write_spectrum("short.dat", simple_spectrum(512, 2));
  for (const char* second : {"short.dat", "short.txt"}) {
    SCOPED_TRACE(second);
    ASSERT_EQ(open("long.dat"), 1);
    ASSERT_EQ(state.spectrum.counts[3000], 7.0f);
    ASSERT_EQ(open(second), 1);
    int left = 0;
    for (int ch = 600; ch < kMaxChannelsStored; ++ch) left += state.spectrum.counts[ch] != 0;
    EXPECT_EQ(left, 0);
  }
}

}  // namespace
}  // namespace kestrim
