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
  // Stores `p` (checksum recomputed) as a shipped file.
  std::string ship(AnalysisParameters p, const std::string& name = "Normal.000",
                   const Passwords* pw = nullptr) {
    p.checksum = compute_checksum(p);
    return put_program_file(name, build_defaults_file(p, pw));
  }
  AnalysisParameters read_user_record(const std::string& name) {
    std::vector<std::uint8_t> b = test::read_bytes(user_file(name));
    DefaultsFileImage image;
    EXPECT_EQ(parse_defaults_file(b.data(), b.size(), image), kDefaultsParsedOk) << name;
    return image.params;
  }
  void expect_only_message(const std::string& text, const std::string& caption, int style) {
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, text);
    EXPECT_EQ(ui.messages[0].caption, caption);
    EXPECT_EQ(ui.messages[0].style, style);
  }
};

// ---- Finding and reading -----------------------------------------------------

TEST_F(DefaultsLoadTest, UserFolderComesFirstAndNamesIgnoreCase) {
  AnalysisParameters p = sample_params();
  p.energy_tolerance = 10;
  ship(p);
  ASSERT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 1);
  EXPECT_FLOAT_EQ(state.params.energy_tolerance, 10);
  EXPECT_TRUE(state.app.privileged);  // no user password stored

  p.energy_tolerance = 20;
  p.checksum = compute_checksum(p);
  make_directories(state.paths.user_dir + "/defaultfiles");
  test::write_bytes(state.paths.user_dir + "/defaultfiles/NORMAL.000", build_defaults_file(p, nullptr));
  ASSERT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 1);
  EXPECT_FLOAT_EQ(state.params.energy_tolerance, 20);
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(DefaultsLoadTest, MissingStartupFileIsFatalWithThePath) {
  EXPECT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 0);
  expect_only_message("Could not open Defaults File:- " + user_file("Normal.000"),
                      "Kestrim support: see README.md", kMsgError);
}

TEST_F(DefaultsLoadTest, ShortOrHugeFileIsAnErrorAndLeavesTheParametersInForce) {
  std::vector<std::uint8_t> b = build_defaults_file(sample_params(), nullptr);
  b.resize(kParametersSize - 1);
  std::string path = put_program_file("Normal.000", b);
  state.params.energy_tolerance = 33;
  EXPECT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 0);
  expect_only_message("Error reading Defaults File:- " + path, kSupportCaption, kMsgError);

  b.assign(2u << 20, 0);  // 2 MiB: not read whole
  put_program_file("Normal.000", b);
  EXPECT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 0);
  EXPECT_EQ(ui.messages.back().text, "Error reading Defaults File:- " + path);
  EXPECT_FLOAT_EQ(state.params.energy_tolerance, 33);
}

TEST_F(DefaultsLoadTest, BytesAfterThePasswordsAreIgnored) {
  Passwords none;
  std::vector<std::uint8_t> b = build_defaults_file(sample_params(), &none);
  b.resize(5000, 0x77);
  put_program_file("Normal.000", b);
  EXPECT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 1);
  EXPECT_TRUE(ui.messages.empty());
}

// ---- Checksum ----------------------------------------------------------------

TEST_F(DefaultsLoadTest, ByteChangeKeepingTheLowFourBitsStillPasses) {
  std::vector<std::uint8_t> b = build_defaults_file(sample_params(), nullptr);
  b[200] ^= 0x30;  // reserved byte in the covered span; low nibble unchanged
  b[2128] = 'x';   // first byte not covered (reference name 8)
  put_program_file("Normal.000", b);
  EXPECT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 1);
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(state.params.raw[200], 0x30);
  EXPECT_EQ(state.params.reference_name(7), "x");
}

TEST_F(DefaultsLoadTest, ByteChangeOfTheLowFourBitsIsCorruption) {
  for (int offset : {0, 200, 2127}) {
    SCOPED_TRACE(offset);
    test::DefaultsFixture f;
    std::vector<std::uint8_t> b = build_defaults_file(sample_params(), nullptr);
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

TEST_F(DefaultsLoadTest, ChecksumZeroLoadsAndIsSavedBackWithAChecksum) {
  AnalysisParameters p = sample_params();
  p.checksum = 0;
  put_program_file("Normal.000", build_defaults_file(p, nullptr));
  ASSERT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 1);
  EXPECT_TRUE(ui.messages.empty());
  const std::int32_t expected = compute_checksum(p);
  ASSERT_NE(expected, 0);
  EXPECT_EQ(state.params.checksum, expected);
  EXPECT_EQ(read_user_record("Normal.000").checksum, expected);
}

// ---- Passwords ---------------------------------------------------------------

class DefaultsPasswordTest : public DefaultsLoadTest {
 protected:
  void SetUp() override {
    Passwords pw{"Secret", "Boss"};
    ship(sample_params(), "Normal.000", &pw);
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

TEST_F(DefaultsPasswordTest, WrongPasswordAsksToContinueWithoutPrivilege) {
  ui.text_answers = {"nope", "secret"};
  ui.answers = {kAnswerNo};  // No: back to the entry, which then matches
  ASSERT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 1);
  EXPECT_TRUE(state.app.privileged);
  EXPECT_EQ(ui.prompts.size(), 2u);
  expect_only_message("Do you want to Continue without Privilege ?", "Password did not match",
                      kMsgYesNo);
  EXPECT_EQ(ui.messages[0].default_answer, kAnswerNo);

  ui.text_answers = {"nope"};
  ui.answers = {kAnswerYes};
  ASSERT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 1);
  EXPECT_FALSE(state.app.privileged);
}

TEST_F(DefaultsPasswordTest, EmptyOrCancelledEntryRunsWithoutPrivilege) {
  ui.text_answers = {""};
  ASSERT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 1);
  EXPECT_FALSE(state.app.privileged);
  state.app.privileged = true;
  ASSERT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 1);  // no answer queued: cancelled
  EXPECT_FALSE(state.app.privileged);
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(DefaultsPasswordTest, EntryIsCutToFifteenCharacters) {
  Passwords pw{"abcdefghijklmno", ""};
  ship(sample_params(), "Normal.000", &pw);
  ui.text_answers = {"ABCDEFGHIJKLMNOxyz"};
  ASSERT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 1);
  EXPECT_TRUE(state.app.privileged);
}

TEST_F(DefaultsPasswordTest, SwitchingNeitherAsksNorReplacesThePasswords) {
  Passwords other{"other", "other"};
  ship(sample_params(2), "Normal.002", &other);
  state.passwords = {"mine", "boss"};
  ASSERT_EQ(load_defaults_file(state, 2, LoadMode::Switching), 1);
  EXPECT_TRUE(ui.prompts.empty());
  EXPECT_EQ(state.passwords.user, "mine");
}

// ---- Switching ---------------------------------------------------------------

// Offsets of the preferences kept on a switch (int32 fields, and the font
// face and application name as text).
constexpr int kKeptInts[] = {36,   52,   64,   68,   84,   268,  1532, 1612, 1728,
                             1736, 1740, 1800, 2264, 2268, 2272, 2276};

TEST_F(DefaultsLoadTest, SwitchingKeepsTheUsersPreferencesAndTakesTheRest) {
  std::uint8_t mine[kParametersSize];
  encode_parameters(state.params, mine);
  for (int off : kKeptInts) bin::put_i32(mine + off, 1);  // 1 keeps low resolution valid
  bin::put_text(mine + 1536, 32, "Courier");
  bin::put_i32(mine + 1616, 1);  // toolbar: not a kept preference
  decode_parameters(mine, state.params);

  AnalysisParameters theirs = sample_params(9);
  theirs.energy_tolerance = 25;
  assign(theirs.report_font_face, "Arial");
  std::uint8_t tb[kParametersSize];
  encode_parameters(theirs, tb);
  for (int off : kKeptInts) bin::put_i32(tb + off, 7);
  decode_parameters(tb, theirs);
  ship(theirs, "Normal.003");

  ASSERT_EQ(load_defaults_file(state, 3, LoadMode::Switching), 1);
  std::uint8_t now[kParametersSize];
  encode_parameters(state.params, now);
  for (int off : kKeptInts) EXPECT_EQ(bin::get_i32(now + off), 1) << "offset " << off;
  EXPECT_EQ(to_string(state.params.report_font_face), "Courier");
  EXPECT_EQ(to_string(state.params.application_name), "Normal");
  EXPECT_EQ(state.params.show_toolbar, 0);
  EXPECT_FLOAT_EQ(state.params.energy_tolerance, 25);
  EXPECT_EQ(state.params.defaults_number, 3);  // the number asked for, not the file's 9
}

TEST_F(DefaultsLoadTest, StartupTakesThePreferencesFromTheFile) {
  state.params.window_width = 1024;
  ship(sample_params());
  ASSERT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 1);
  EXPECT_EQ(state.params.window_width, 800);
}

// ---- Missing file for a detector ---------------------------------------------

TEST_F(DefaultsLoadTest, MissingDetectorFileIsCreatedOnYes) {
  state.params = sample_params(1);
  state.params.default_detector_file = 1;
  ASSERT_EQ(load_defaults_file(state, 5, LoadMode::Switching), 1);
  expect_only_message("Create a new Normal Defaults File ?",
                      "Could not open Normal Defaults File for Detector 5", kMsgYesNo);
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
  ship(p);
  ASSERT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 1);
  expect_only_message("Create a new Directory:- spectra ?", "Could not access this Directory",
                      kMsgYesNo);
  EXPECT_TRUE(directory_exists(state.paths.working_dir + "/spectra"));
}

TEST_F(DefaultsLoadTest, DirectoryChecksStopAtTheFirstRefusal) {
  AnalysisParameters p = sample_params();
  assign(p.other_format_dir, tmp.file("a"));
  assign(p.own_format_dir, tmp.file("b"));
  ship(p);
  ui.answers = {kAnswerNo};
  ASSERT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 1);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Create a new Directory:- " + tmp.file("a") + " ?");
}

TEST_F(DefaultsLoadTest, DirectoryThatCannotBeCreatedIsReportedAndEndsTheChecks) {
  test::write_text(tmp.file("plainfile"), "x");
  AnalysisParameters p = sample_params();
  const std::string bad = tmp.file("plainfile/sub");
  assign(p.calibration_dir, bad);
  assign(p.background_dir, tmp.file("never"));
  ship(p);
  ASSERT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 1);
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[1].text, "Could not Create Directory:- " + bad);
  EXPECT_FALSE(directory_exists(tmp.file("never")));
}

TEST_F(DefaultsLoadTest, LoadTakesWorkingCopiesAndFixesItsOwnValues) {
  AnalysisParameters p = sample_params();
  p.max_width_change = 0.25f;
  p.background_from_spectrum_file = 1;
  p.sc_leading_edge_readings = 1;
  p.low_resolution_display = 5;
  ship(p);
  ASSERT_EQ(load_defaults_file(state, 0, LoadMode::Startup), 1);
  EXPECT_FLOAT_EQ(state.app.working_max_width_change, 0.25f);
  EXPECT_TRUE(state.app.working_residual_search);
  EXPECT_TRUE(state.app.working_background_from_file);
  EXPECT_EQ(state.params.sc_leading_edge_readings, 12);
  EXPECT_EQ(state.params.low_resolution_display, 0);

  p.sc_leading_edge_readings = 2;  // the edge: kept
  p.low_resolution_display = 1;
  ship(p);
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

TEST_F(DefaultsLoadTest, SaveReplacesAFileWhoseNameDiffersInCase) {
  put_user_file("normal.000", std::vector<std::uint8_t>(10, 0));
  ASSERT_EQ(save_parameters(state), 1);  // number 0: only the start-up file
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

TEST_F(DefaultsLoadTest, ReferenceDefaultsSaveAndLoadWithTheirQuestions) {
  state.params = sample_params(3);
  EXPECT_EQ(load_reference_defaults(state), 0);
  expect_only_message("There were no Reference Analysis Defaults for Detector 3",
                      "Press F1 for Help", kMsgWarning);

  state.params.energy_tolerance = 12;
  ASSERT_EQ(save_reference_defaults(state), 1);
  EXPECT_EQ(ui.messages.size(), 1u);  // a new file is written without asking
  EXPECT_EQ(test::read_bytes(state.paths.working_dir + "/ref_dflt.003").size(),
            static_cast<std::size_t>(kParametersSize));

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
  EXPECT_EQ(set_application_name(p, ui, "My Lab"), 0);
  EXPECT_EQ(ui.messages.back().text, "The Application name should not contain spaces");
  EXPECT_EQ(set_application_name(p, ui, ""), 1);
  EXPECT_EQ(to_string(p.application_name), "Normal");
  EXPECT_EQ(ui.messages.size(), 2u);

  EXPECT_EQ(set_application_name(p, ui, "ABCDEFGHIJKLMNO"), 1);
  EXPECT_EQ(to_string(p.application_name), "ABCDEFGHIJKLMNO");
  EXPECT_EQ(to_string(p.database_name), "ABCDEFGHIJKLMNO");
  EXPECT_EQ(p.database_name_chosen, 1);
  EXPECT_EQ(p.database_state, -1);

  p.numbered_database_files = 1;  // numbered databases keep their name
  p.database_state = 0;
  EXPECT_EQ(set_application_name(p, ui, "Lab"), 1);
  EXPECT_EQ(to_string(p.database_name), "ABCDEFGHIJKLMNO");
  EXPECT_EQ(p.database_state, 0);
}

TEST_F(DefaultsLoadTest, FileNumberMustBeBetweenOneAndNinetyNine) {
  for (int bad : {0, 100}) {
    EXPECT_EQ(set_file_number(state, bad), 0);
    EXPECT_EQ(ui.messages.back().text, "The file number should be between 1 and 99");
  }
  EXPECT_EQ(state.params.defaults_number, 0);
  EXPECT_EQ(set_file_number(state, 1), 1);
  EXPECT_EQ(state.params.defaults_number, 1);
  EXPECT_EQ(set_file_number(state, 99), 1);
  EXPECT_EQ(state.params.defaults_number, 99);
  EXPECT_EQ(state.params.default_detector_file, 0);  // 0 stays 0

  state.params.default_detector_file = 2;  // a positive one follows
  EXPECT_EQ(set_file_number(state, 8), 1);
  EXPECT_EQ(state.params.default_detector_file, 8);
  EXPECT_EQ(state.spectrum.header.detector, 8);
}

// ---- Lists -------------------------------------------------------------------

TEST_F(DefaultsLoadTest, ListsCoverBothFoldersIgnoringCase) {
  std::vector<std::uint8_t> b(10, 0);
  for (const char* name : {"Normal.000", "Normal.003", "lab.003"}) put_user_file(name, b);
  for (const char* name : {"NORMAL.012", "Normal.003", "Other.012", "Normal.txt", "Normal.1234",
                           "Normal.0a1"})
    put_program_file(name, b);
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
