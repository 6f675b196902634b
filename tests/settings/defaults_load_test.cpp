// Loading and saving Defaults files through a State with temporary folders
// and a scripted platform.
#include <gtest/gtest.h>

#include "platform/binio.h"
#include "settings/defaults_file.h"
#include "settings/defaults_fixture.h"

namespace kestrim {
namespace {

class DefaultsLoadTest : public ::testing::Test, public test::DefaultsFixture {
 protected:
  std::vector<std::uint8_t> bytes_of(const AnalysisParameters& p, const Passwords* pw = nullptr) {
    return build_defaults_file(p, pw);
  }
  AnalysisParameters read_user_record(const std::string& name) {
    std::vector<std::uint8_t> b = test::read_bytes(user_file(name));
    DefaultsFileImage image;
    EXPECT_EQ(parse_defaults_file(b.data(), b.size(), image), kDefaultsParsedOk) << name;
    return image.params;
  }
};

// ---- Finding and reading -----------------------------------------------------

TEST_F(DefaultsLoadTest, StartupReadsTheShippedFileWhenTheUserHasNone) {
  AnalysisParameters p = sample_params();
  p.energy_tolerance = 10;
  p.checksum = compute_checksum(p);
  put_program_file("Normal.000", bytes_of(p));
  ASSERT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 1);
  EXPECT_FLOAT_EQ(state.params.energy_tolerance, 10);
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_TRUE(state.app.privileged);  // no user password stored
}

TEST_F(DefaultsLoadTest, UserFolderComesFirstAndNamesIgnoreCase) {
  AnalysisParameters shipped = sample_params();
  shipped.energy_tolerance = 10;
  shipped.checksum = compute_checksum(shipped);
  put_program_file("Normal.000", bytes_of(shipped));
  AnalysisParameters mine = sample_params();
  mine.energy_tolerance = 20;
  mine.checksum = compute_checksum(mine);
  make_directories(state.paths.user_dir + "/defaultfiles");
  test::write_bytes(state.paths.user_dir + "/defaultfiles/NORMAL.000", bytes_of(mine));
  ASSERT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 1);
  EXPECT_FLOAT_EQ(state.params.energy_tolerance, 20);
}

TEST_F(DefaultsLoadTest, MissingStartupFileIsFatalWithThePath) {
  EXPECT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 0);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Could not open Defaults File:- " + user_file("Normal.000"));
  EXPECT_EQ(ui.messages[0].caption, "Kestrim support: see README.md");
  EXPECT_EQ(ui.messages[0].style, kMsgError);
}

TEST_F(DefaultsLoadTest, ShortFileIsAnErrorAndLeavesTheParametersInForce) {
  std::vector<std::uint8_t> b = bytes_of(sample_params());
  b.resize(kParametersSize - 1);
  std::string path = put_program_file("Normal.000", b);
  state.params.energy_tolerance = 33;
  EXPECT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 0);
  EXPECT_TRUE(ui.said("Error reading Defaults File:- " + path));
  EXPECT_EQ(ui.messages.back().caption, kSupportCaption);
  EXPECT_FLOAT_EQ(state.params.energy_tolerance, 33);
}

TEST_F(DefaultsLoadTest, FileOfExactlyTheRecordLoadsWithoutPasswords) {
  std::vector<std::uint8_t> b = bytes_of(sample_params());
  ASSERT_EQ(b.size(), static_cast<std::size_t>(kParametersSize));
  put_program_file("Normal.000", b);
  state.passwords = {"old", "old"};
  EXPECT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 1);
  EXPECT_EQ(state.passwords.user, "");
  EXPECT_TRUE(state.app.privileged);
}

// ---- Checksum ----------------------------------------------------------------

TEST_F(DefaultsLoadTest, ByteChangeKeepingTheLowFourBitsStillPasses) {
  std::vector<std::uint8_t> b = bytes_of(sample_params());
  b[200] ^= 0x30;  // reserved byte in the covered span; low nibble unchanged
  put_program_file("Normal.000", b);
  EXPECT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 1);
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(state.params.raw[200], 0x30);
}

TEST_F(DefaultsLoadTest, ByteChangeOfTheLowFourBitsIsCorruption) {
  for (int offset : {0, 200, 2127}) {
    SCOPED_TRACE(offset);
    test::DefaultsFixture f;
    std::vector<std::uint8_t> b = bytes_of(sample_params());
    b[offset] ^= 0x01;
    f.put_program_file("Normal.000", b);
    f.state.params.energy_tolerance = 33;
    EXPECT_EQ(load_defaults_file(f.state, 0, LoadMode::Startup), 0);
    ASSERT_EQ(f.ui.messages.size(), 1u);
    EXPECT_EQ(f.ui.messages[0].text, "The Defaults file has been corrupted");
    EXPECT_EQ(f.ui.messages[0].caption, kSupportCaption);
    EXPECT_EQ(f.ui.messages[0].style, kMsgError);
    EXPECT_FLOAT_EQ(f.state.params.energy_tolerance, 33);  // nothing half-loaded
  }
}

TEST_F(DefaultsLoadTest, BytesFrom2128OnAreNotCovered) {
  std::vector<std::uint8_t> b = bytes_of(sample_params());
  b[2128] = 'x';  // first byte of reference name 8
  b[2299] = 0x07;
  put_program_file("Normal.000", b);
  EXPECT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 1);
  EXPECT_EQ(state.params.reference_name(7), "x");
}

TEST_F(DefaultsLoadTest, ChecksumZeroLoadsAndIsSavedBackWithAChecksum) {
  AnalysisParameters p = sample_params();
  p.checksum = 0;
  put_program_file("Normal.000", bytes_of(p));
  ASSERT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 1);
  EXPECT_TRUE(ui.messages.empty());
  const std::int32_t expected = compute_checksum(p);
  ASSERT_NE(expected, 0);
  EXPECT_EQ(state.params.checksum, expected);
  ASSERT_TRUE(file_exists(user_file("Normal.000")));
  EXPECT_EQ(read_user_record("Normal.000").checksum, expected);
}

// ---- Passwords ---------------------------------------------------------------

class DefaultsPasswordTest : public DefaultsLoadTest {
 protected:
  void SetUp() override {
    Passwords pw{"Secret", "Boss"};
    put_program_file("Normal.000", bytes_of(sample_params(), &pw));
  }
};

TEST_F(DefaultsPasswordTest, RightPasswordInAnyCaseGrantsPrivilege) {
  ui.text_answers = {"SECRET"};
  ASSERT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 1);
  EXPECT_TRUE(state.app.privileged);
  EXPECT_EQ(ui.prompts.size(), 1u);
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(state.passwords.user, "Secret");
  EXPECT_EQ(state.passwords.manager, "Boss");
}

TEST_F(DefaultsPasswordTest, WrongPasswordThenContinueRunsWithoutPrivilege) {
  state.app.privileged = true;
  ui.text_answers = {"nope"};
  ui.answers = {kAnswerYes};
  ASSERT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 1);
  EXPECT_FALSE(state.app.privileged);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Do you want to Continue without Privilege ?");
  EXPECT_EQ(ui.messages[0].caption, "Password did not match");
  EXPECT_EQ(ui.messages[0].style, kMsgYesNo);
  EXPECT_EQ(ui.messages[0].default_answer, kAnswerNo);
}

TEST_F(DefaultsPasswordTest, WrongPasswordThenNoAsksAgain) {
  ui.text_answers = {"nope", "secret"};
  ui.answers = {kAnswerNo};
  ASSERT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 1);
  EXPECT_TRUE(state.app.privileged);
  EXPECT_EQ(ui.prompts.size(), 2u);
}

TEST_F(DefaultsPasswordTest, EntryIsCutToFifteenCharacters) {
  // A stored password can hold at most 15 characters; a longer entry whose
  // first 15 match is taken as the same password.
  Passwords pw{"abcdefghijklmno", ""};
  put_program_file("Normal.000", bytes_of(sample_params(), &pw));
  ui.text_answers = {"ABCDEFGHIJKLMNOxyz"};
  ASSERT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 1);
  EXPECT_TRUE(state.app.privileged);
}

TEST_F(DefaultsPasswordTest, EmptyOrCancelledEntryRunsWithoutPrivilege) {
  ui.text_answers = {""};
  ASSERT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 1);
  EXPECT_FALSE(state.app.privileged);
  EXPECT_TRUE(ui.messages.empty());

  // No queued answer: the entry is cancelled.
  state.app.privileged = true;
  ASSERT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 1);
  EXPECT_FALSE(state.app.privileged);
}

TEST_F(DefaultsPasswordTest, SwitchingNeitherAsksNorReplacesThePasswords) {
  Passwords other{"other", "other"};
  put_program_file("Normal.002", bytes_of(sample_params(2), &other));
  state.passwords = {"mine", "boss"};
  state.app.privileged = true;
  ASSERT_EQ(load_defaults_file(state, 2, LoadMode::Switching), 1);
  EXPECT_TRUE(ui.prompts.empty());
  EXPECT_EQ(state.passwords.user, "mine");
  EXPECT_TRUE(state.app.privileged);
}

// ---- Switching ---------------------------------------------------------------

TEST_F(DefaultsLoadTest, SwitchingKeepsTheUsersDisplayAndWindowPreferences) {
  AnalysisParameters& mine = state.params;
  mine.pause_after_region = 1;
  mine.display_spectrum = 1;
  mine.low_resolution_display = 1;
  mine.always_display_fitting = 1;
  mine.fitting_delay_ms = 1500;
  mine.plot_type = 2;
  mine.report_font_size = 240;
  assign(mine.report_font_face, "Courier");
  mine.show_status_bar = 1;
  mine.move_cursor = 1;
  mine.prompt_add_peaks = 1;
  mine.prompt_remove_peaks = 1;
  mine.report_font_weight = 700;
  mine.window_width = 1024;
  mine.window_height = 700;
  mine.window_left = 10;
  mine.window_top = 20;
  mine.show_toolbar = 1;  // not a kept preference

  AnalysisParameters theirs = sample_params(3);
  theirs.energy_tolerance = 25;
  theirs.window_width = 640;
  theirs.show_toolbar = 0;
  assign(theirs.report_font_face, "Arial");
  theirs.checksum = compute_checksum(theirs);
  put_program_file("Normal.003", bytes_of(theirs));

  ASSERT_EQ(load_defaults_file(state, 3, LoadMode::Switching), 1);
  const AnalysisParameters& p = state.params;
  EXPECT_FLOAT_EQ(p.energy_tolerance, 25);
  EXPECT_EQ(p.show_toolbar, 0);
  EXPECT_EQ(p.defaults_number, 3);
  EXPECT_EQ(p.pause_after_region, 1);
  EXPECT_EQ(p.display_spectrum, 1);
  EXPECT_EQ(p.low_resolution_display, 1);
  EXPECT_EQ(p.always_display_fitting, 1);
  EXPECT_EQ(p.fitting_delay_ms, 1500);
  EXPECT_EQ(p.plot_type, 2);
  EXPECT_EQ(p.report_font_size, 240);
  EXPECT_EQ(to_string(p.report_font_face), "Courier");
  EXPECT_EQ(p.show_status_bar, 1);
  EXPECT_EQ(p.move_cursor, 1);
  EXPECT_EQ(p.prompt_add_peaks, 1);
  EXPECT_EQ(p.prompt_remove_peaks, 1);
  EXPECT_EQ(p.report_font_weight, 700);
  EXPECT_EQ(p.window_width, 1024);
  EXPECT_EQ(p.window_height, 700);
  EXPECT_EQ(p.window_left, 10);
  EXPECT_EQ(p.window_top, 20);
}

TEST_F(DefaultsLoadTest, SwitchingTakesTheNumberAskedForEvenIfTheFileSaysOtherwise) {
  put_program_file("Normal.004", bytes_of(sample_params(9)));
  ASSERT_EQ(load_defaults_file(state, 4, LoadMode::Switching), 1);
  EXPECT_EQ(state.params.defaults_number, 4);
}

TEST_F(DefaultsLoadTest, StartupTakesTheWindowPlacementFromTheFile) {
  state.params.window_width = 1024;
  put_program_file("Normal.000", bytes_of(sample_params()));
  ASSERT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 1);
  EXPECT_EQ(state.params.window_width, 800);
}

// ---- Missing file for a detector ---------------------------------------------

TEST_F(DefaultsLoadTest, MissingDetectorFileIsCreatedOnYes) {
  state.params = sample_params(1);
  state.params.default_detector_file = 1;
  ASSERT_EQ(load_defaults_file(state, 5, LoadMode::Switching), 1);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Create a new Normal Defaults File ?");
  EXPECT_EQ(ui.messages[0].caption, "Could not open Normal Defaults File for Detector 5");
  EXPECT_EQ(ui.messages[0].style, kMsgYesNo);
  EXPECT_EQ(ui.messages[0].default_answer, kAnswerYes);
  EXPECT_EQ(state.params.defaults_number, 5);
  EXPECT_EQ(state.params.default_detector_file, 5);
  EXPECT_EQ(read_user_record("Normal.005").defaults_number, 5);
  EXPECT_EQ(read_user_record("Normal.000").defaults_number, 5);
}

TEST_F(DefaultsLoadTest, CreatedFileLeavesAZeroDetectorFileNumberAlone) {
  state.params = sample_params(1);
  ASSERT_EQ(load_defaults_file(state, 5, LoadMode::Switching), 1);
  EXPECT_EQ(state.params.default_detector_file, 0);
}

TEST_F(DefaultsLoadTest, NoForNormalApplicationAsksNothingMore) {
  state.params = sample_params(1);
  ui.answers = {kAnswerNo};
  EXPECT_EQ(load_defaults_file(state, 5, LoadMode::Switching), 0);
  EXPECT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(state.params.defaults_number, 1);
  EXPECT_FALSE(file_exists(user_file("Normal.005")));
}

TEST_F(DefaultsLoadTest, NoForOtherApplicationOffersANormalFile) {
  state.params = sample_params(1, "Lab");
  ui.answers = {kAnswerNo, kAnswerYes};
  ASSERT_EQ(load_defaults_file(state, 7, LoadMode::Switching), 1);
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[0].text, "Create a new Lab Defaults File ?");
  EXPECT_EQ(ui.messages[0].caption, "Could not open Lab Defaults File for Detector 7");
  EXPECT_EQ(ui.messages[1].text, "Create a new NORMAL Defaults File ?");
  EXPECT_EQ(ui.messages[1].style, kMsgYesNo);
  EXPECT_EQ(to_string(state.params.application_name), "Normal");
  EXPECT_TRUE(file_exists(user_file("Normal.007")));
  EXPECT_FALSE(file_exists(user_file("Lab.007")));
}

TEST_F(DefaultsLoadTest, RefusingBothOffersFailsAndChangesNothing) {
  state.params = sample_params(1, "lab");
  ui.answers = {kAnswerNo, kAnswerNo};
  EXPECT_EQ(load_defaults_file(state, 7, LoadMode::Switching), 0);
  EXPECT_EQ(to_string(state.params.application_name), "lab");
  EXPECT_EQ(state.params.defaults_number, 1);
  EXPECT_FALSE(directory_exists(state.paths.user_dir + "/DefaultFiles"));
}

// ---- Directories, working copies and load-time fixes -------------------------

TEST_F(DefaultsLoadTest, MissingDirectoryIsOfferedAndCreated) {
  AnalysisParameters p = sample_params();
  assign(p.own_format_dir, "spectra");  // relative: under the working directory
  p.checksum = compute_checksum(p);
  put_program_file("Normal.000", bytes_of(p));
  ASSERT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 1);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Create a new Directory:- spectra ?");
  EXPECT_EQ(ui.messages[0].caption, "Could not access this Directory");
  EXPECT_EQ(ui.messages[0].style, kMsgYesNo);
  EXPECT_TRUE(directory_exists(state.paths.working_dir + "/spectra"));
}

TEST_F(DefaultsLoadTest, DirectoryChecksStopAtTheFirstRefusal) {
  AnalysisParameters p = sample_params();
  assign(p.other_format_dir, tmp.file("a"));
  assign(p.own_format_dir, tmp.file("b"));
  assign(p.background_dir, tmp.file("d"));
  p.checksum = compute_checksum(p);
  put_program_file("Normal.000", bytes_of(p));
  ui.answers = {kAnswerNo};
  ASSERT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 1);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Create a new Directory:- " + tmp.file("a") + " ?");
  EXPECT_FALSE(directory_exists(tmp.file("a")));
}

TEST_F(DefaultsLoadTest, DirectoryThatCannotBeCreatedIsReported) {
  test::write_text(tmp.file("plainfile"), "x");
  AnalysisParameters p = sample_params();
  const std::string bad = tmp.file("plainfile/sub");
  assign(p.calibration_dir, bad);
  assign(p.background_dir, tmp.file("never"));
  p.checksum = compute_checksum(p);
  put_program_file("Normal.000", bytes_of(p));
  ASSERT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 1);
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[1].text, "Could not Create Directory:- " + bad);
  EXPECT_FALSE(directory_exists(tmp.file("never")));
}

TEST_F(DefaultsLoadTest, LoadTakesWorkingCopiesAndFixesItsOwnValues) {
  AnalysisParameters p = sample_params();
  p.max_width_change = 0.25f;
  p.residual_peak_search = 1;
  p.background_from_spectrum_file = 1;
  p.sc_leading_edge_readings = 1;
  p.low_resolution_display = 5;
  p.checksum = compute_checksum(p);
  put_program_file("Normal.000", bytes_of(p));
  ASSERT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 1);
  EXPECT_FLOAT_EQ(state.app.working_max_width_change, 0.25f);
  EXPECT_TRUE(state.app.working_residual_search);
  EXPECT_TRUE(state.app.working_background_from_file);
  EXPECT_EQ(state.params.sc_leading_edge_readings, 12);
  EXPECT_EQ(state.params.low_resolution_display, 0);
}

TEST_F(DefaultsLoadTest, LeadingEdgeReadingsOfTwoAreKept) {
  AnalysisParameters p = sample_params();
  p.sc_leading_edge_readings = 2;
  p.low_resolution_display = 1;
  p.checksum = compute_checksum(p);
  put_program_file("Normal.000", bytes_of(p));
  ASSERT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 1);
  EXPECT_EQ(state.params.sc_leading_edge_readings, 2);
  EXPECT_EQ(state.params.low_resolution_display, 1);
}

// ---- Saving ------------------------------------------------------------------

TEST_F(DefaultsLoadTest, SaveWritesFileZeroWithPasswordsAndFileNWithout) {
  state.params = sample_params(4, "Lab");
  state.params.checksum = 0;
  state.passwords = {"Secret", "Boss"};
  ASSERT_EQ(save_parameters(state), 1);
  const std::int32_t expected = compute_checksum(state.params);
  EXPECT_EQ(state.params.checksum, expected);

  std::vector<std::uint8_t> zero = test::read_bytes(user_file("Normal.000"));
  ASSERT_EQ(zero.size(), static_cast<std::size_t>(kDefaultsFileSize));
  EXPECT_EQ(zero[2304], 'S' + 56);
  EXPECT_EQ(zero[2320], 'B' + 56);
  EXPECT_EQ(bin::get_i32(&zero[2260]), expected);

  std::vector<std::uint8_t> n = test::read_bytes(user_file("Lab.004"));
  ASSERT_EQ(n.size(), static_cast<std::size_t>(kParametersSize));
  EXPECT_TRUE(std::equal(n.begin(), n.end(), zero.begin()));
  EXPECT_TRUE(list_directory(state.paths.program_dir + "/DefaultFiles").empty());
}

TEST_F(DefaultsLoadTest, SaveOfNumberZeroWritesOnlyTheStartupFile) {
  state.params = sample_params(0, "Lab");
  ASSERT_EQ(save_parameters(state), 1);
  EXPECT_EQ(list_directory(state.paths.user_dir + "/DefaultFiles"),
            std::vector<std::string>{"Normal.000"});
}

TEST_F(DefaultsLoadTest, SaveReplacesAFileWhoseNameDiffersInCase) {
  put_user_file("normal.000", std::vector<std::uint8_t>(10, 0));
  ASSERT_EQ(save_parameters(state), 1);
  EXPECT_EQ(list_directory(state.paths.user_dir + "/DefaultFiles"),
            std::vector<std::string>{"normal.000"});
  EXPECT_EQ(test::read_bytes(user_file("normal.000")).size(),
            static_cast<std::size_t>(kDefaultsFileSize));
}

TEST_F(DefaultsLoadTest, SaveFailureIsReported) {
  test::write_text(tmp.file("notadir"), "x");
  state.paths.user_dir = tmp.file("notadir");
  EXPECT_EQ(save_parameters(state), 0);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text.rfind("Could not write Defaults File:- ", 0), 0u);
}

// ---- Reference analysis defaults ---------------------------------------------

TEST_F(DefaultsLoadTest, ReferenceDefaultsMissingGivesAWarning) {
  state.params.defaults_number = 3;
  EXPECT_EQ(load_reference_defaults(state), 0);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "There were no Reference Analysis Defaults for Detector 3");
  EXPECT_EQ(ui.messages[0].caption, "Press F1 for Help");
  EXPECT_EQ(ui.messages[0].style, kMsgWarning);
}

TEST_F(DefaultsLoadTest, ReferenceDefaultsSaveAndLoadWithTheirQuestions) {
  state.params = sample_params(3);
  state.params.energy_tolerance = 12;
  ASSERT_EQ(save_reference_defaults(state), 1);
  EXPECT_TRUE(ui.messages.empty());  // a new file is written without asking
  const std::string path = state.paths.working_dir + "/ref_dflt.003";
  EXPECT_EQ(test::read_bytes(path).size(), static_cast<std::size_t>(kParametersSize));

  state.params.energy_tolerance = 40;
  ui.answers = {kAnswerNo};
  EXPECT_EQ(save_reference_defaults(state), 0);
  EXPECT_EQ(ui.messages.back().text, "Update the Reference Analysis Defaults for Detector 3 ?");
  EXPECT_EQ(ui.messages.back().default_answer, kAnswerYes);

  ui.answers = {kAnswerNo};
  EXPECT_EQ(load_reference_defaults(state), 0);
  EXPECT_EQ(ui.messages.back().text, "Load the Reference Analysis Defaults for Detector 3 ?");
  EXPECT_FLOAT_EQ(state.params.energy_tolerance, 40);
  EXPECT_EQ(load_reference_defaults(state), 1);  // Yes is preselected
  EXPECT_FLOAT_EQ(state.params.energy_tolerance, 12);
}

// ---- Set-up dialog: application name and file number -------------------------

TEST_F(DefaultsLoadTest, ApplicationNameOfFifteenIsTakenAndSixteenRefused) {
  AnalysisParameters& p = state.params;
  EXPECT_EQ(set_application_name(p, ui, "ABCDEFGHIJKLMNOP"), 0);
  EXPECT_EQ(ui.messages.back().text, "The Application name should be less than 16 characters");
  EXPECT_EQ(to_string(p.application_name), "Normal");
  EXPECT_EQ(set_application_name(p, ui, "ABCDEFGHIJKLMNO"), 1);
  EXPECT_EQ(to_string(p.application_name), "ABCDEFGHIJKLMNO");
  EXPECT_EQ(to_string(p.database_name), "ABCDEFGHIJKLMNO");
  EXPECT_EQ(p.database_name_chosen, 1);
  EXPECT_EQ(p.database_state, -1);
}

TEST_F(DefaultsLoadTest, ApplicationNameWithABlankOrEmptyIsNotTaken) {
  AnalysisParameters& p = state.params;
  EXPECT_EQ(set_application_name(p, ui, "My Lab"), 0);
  EXPECT_EQ(ui.messages.back().text, "The Application name should not contain spaces");
  std::size_t shown = ui.messages.size();
  EXPECT_EQ(set_application_name(p, ui, ""), 1);
  EXPECT_EQ(ui.messages.size(), shown);
  EXPECT_EQ(to_string(p.application_name), "Normal");
}

TEST_F(DefaultsLoadTest, ApplicationNameLeavesNumberedDatabaseNamesAlone) {
  AnalysisParameters& p = state.params;
  p.numbered_database_files = 1;
  assign(p.database_name, "db");
  EXPECT_EQ(set_application_name(p, ui, "Lab"), 1);
  EXPECT_EQ(to_string(p.database_name), "db");
  EXPECT_EQ(p.database_state, 0);
}

TEST_F(DefaultsLoadTest, FileNumberMustBeBetweenOneAndNinetyNine) {
  for (int bad : {0, 100, -1}) {
    EXPECT_EQ(set_file_number(state, bad), 0);
    EXPECT_EQ(ui.messages.back().text, "The file number should be between 1 and 99");
  }
  EXPECT_EQ(state.params.defaults_number, 0);
  EXPECT_EQ(set_file_number(state, 1), 1);
  EXPECT_EQ(state.params.defaults_number, 1);
  EXPECT_EQ(set_file_number(state, 99), 1);
  EXPECT_EQ(state.params.defaults_number, 99);
  EXPECT_EQ(state.params.default_detector_file, 0);  // 0 stays 0
  EXPECT_EQ(state.spectrum.header.detector, 0);
}

TEST_F(DefaultsLoadTest, PositiveDetectorFileNumberFollowsTheFileNumber) {
  state.params.default_detector_file = 2;
  EXPECT_EQ(set_file_number(state, 8), 1);
  EXPECT_EQ(state.params.default_detector_file, 8);
  EXPECT_EQ(state.spectrum.header.detector, 8);
}

// ---- Lists -------------------------------------------------------------------

TEST_F(DefaultsLoadTest, ListsCoverBothFoldersIgnoringCase) {
  std::vector<std::uint8_t> b = bytes_of(sample_params());
  put_user_file("Normal.000", b);
  put_user_file("Normal.003", b);
  put_user_file("lab.003", b);
  put_program_file("NORMAL.012", b);
  put_program_file("Normal.003", b);
  put_program_file("Other.012", b);
  put_program_file("Normal.txt", b);
  put_program_file("Normal.1234", b);
  put_program_file("Normal.0a1", b);
  make_directories(state.paths.program_dir + "/DefaultFiles/Normal.005");  // a folder

  EXPECT_EQ(list_detector_numbers(state.paths, "normal"), (std::vector<int>{0, 3, 12}));
  EXPECT_EQ(list_detector_entries(state.paths, "Normal"),
            (std::vector<std::string>{"Normal.000", "Detector 3", "Detector 12"}));
  EXPECT_EQ(list_applications(state.paths, 3), (std::vector<std::string>{"lab", "Normal"}));
  EXPECT_EQ(list_applications(state.paths, 12), (std::vector<std::string>{"NORMAL", "Other"}));
  EXPECT_TRUE(list_applications(state.paths, 5).empty());
}

}  // namespace
}  // namespace kestrim
