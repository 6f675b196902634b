#include "app/command_line.h"

#include <gtest/gtest.h>

#include "app/state.h"
#include "platform/files.h"
#include "platform/scripted_platform.h"
#include "nuclides/library_bytes.h"
#include "support/test_support.h"

namespace kestrim {
namespace {

class CommandLineTest : public ::testing::Test {
 protected:
  CommandLineTest() : state(ui) {
    state.paths.working_dir = dir.path();
    state.paths.program_dir = dir.file("program");
    state.paths.user_dir = dir.file("user");
    make_directories(dir.file("program/Libraries"));
    test::write_text(dir.file("program/Libraries/search.lib"), "x");
    // A library of one nuclide (one without any is refused when loaded).
    test::LibraryBytes lib;
    lib.marker("FFFFFFFE").nuclide("K-40", "potassium", "test", 6.7e14f, 1, '\x09', 1460.8f);
    lib.line(1460.8f, 0.107f, 0.001f).end();
    test::write_bytes(dir.file("program/Libraries/nai.lib"), lib.b);
  }
  test::TempDir dir;
  ScriptedPlatform ui;
  State state;
};

TEST(SplitCommandLine, SlashStartsAKeywordOnlyAtStartOrAfterBlank) {
  EXPECT_EQ(split_command_line("/batch /file=/home/lab/s1.dat"),
            (std::vector<std::string>{"batch", "file=/home/lab/s1.dat"}));
  EXPECT_EQ(split_command_line("/batch/display"), (std::vector<std::string>{"batch/display"}));
  EXPECT_EQ(split_command_line("  /Batch   /PRINT  "), (std::vector<std::string>{"Batch", "PRINT"}));
  EXPECT_EQ(split_command_line("///"), (std::vector<std::string>{""}));
  EXPECT_EQ(split_command_line("stray /batch"), (std::vector<std::string>{"stray", "batch"}));
}

TEST(SplitCommandLine, ArgumentsBecomeKeywordsAsGiven) {
  std::vector<std::string> tokens;
  std::string error;
  ASSERT_TRUE(command_line_tokens({"--batch", "--file=/a /b/c.dat", "/print"}, tokens, error));
  EXPECT_EQ(tokens, (std::vector<std::string>{"batch", "file=/a /b/c.dat", "print"}));
  ASSERT_TRUE(command_line_tokens({"--FILE", "/a /b/c.dat", "--lib", "x.lib", "/Batch"}, tokens, error));
  EXPECT_EQ(tokens, (std::vector<std::string>{"FILE=/a /b/c.dat", "lib=x.lib", "Batch"}));
  ASSERT_TRUE(command_line_tokens({"/batch", "--", "--odd name.dat"}, tokens, error));
  EXPECT_EQ(tokens, (std::vector<std::string>{"batch", "file=--odd name.dat"}));
  EXPECT_FALSE(command_line_tokens({"/batch/file=x.dat"}, tokens, error));
  EXPECT_EQ(error, "Unknown parameter:- /batch/file=x.dat");
  EXPECT_FALSE(command_line_tokens({"x.dat"}, tokens, error));
  EXPECT_FALSE(command_line_tokens({"--det"}, tokens, error));
  EXPECT_EQ(error, "option --det needs a value");
}

TEST_F(CommandLineTest, EmptyLineStartsWithoutMessage) {
  CommandLineResult r = parse_command_line(state, "");
  EXPECT_TRUE(r.ok);
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_FALSE(state.app.batch_mode);
}

TEST_F(CommandLineTest, OnlySlashesIsRefused) {
  CommandLineResult r = parse_command_line(state, "/ /");
  EXPECT_FALSE(r.ok);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "All Command line parameters should be preceded by the character:- /");
}

TEST_F(CommandLineTest, BatchWithoutFileIsRefused) {
  CommandLineResult r = parse_command_line(state, "/batch /print");
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(state.app.batch_mode);
  EXPECT_TRUE(state.app.print_main_report);
  EXPECT_EQ(ui.texts().back(), "No filename was specified (use the '/file=' keyword)");
}

TEST_F(CommandLineTest, UnknownParametersWarnAndParsingGoesOn) {
  CommandLineResult r = parse_command_line(state, "/frobnicate /display /Save");
  EXPECT_TRUE(r.ok);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Unknown parameter:- frobnicate");
  EXPECT_EQ(ui.messages[0].caption, "All parameters should be preceded by:- /");
  EXPECT_TRUE(state.app.display_on);
  EXPECT_TRUE(r.save_requested);
  EXPECT_FALSE(r.update_without_asking);
}

TEST_F(CommandLineTest, CalibrationKeywordsClearBatchAnalysis) {
  parse_command_line(state, "/batch /enecal /shape /effcal /autocal /src=Eu152 /update /geo=3");
  EXPECT_TRUE(state.app.batch_mode);
  EXPECT_FALSE(state.app.batch_analysis);
  EXPECT_TRUE(state.app.request_enecal);
  EXPECT_TRUE(state.app.request_shape);
  EXPECT_TRUE(state.app.request_effcal);
  EXPECT_TRUE(state.app.request_autocal);
  EXPECT_EQ(state.app.efficiency_source, "Eu152");
  EXPECT_EQ(state.params.default_geometry, 3);
}

TEST_F(CommandLineTest, LibraryKeywordsAreMatchedByTheirOwnRules) {
  parse_command_line(state, "/pkslib=search.lib /lib=nai.lib /lodlib=missing.lib");
  EXPECT_EQ(to_string(state.params.peak_search_library), "search.lib");
  EXPECT_EQ(state.params.library_peak_search, 1);
  EXPECT_EQ(to_string(state.params.analysis_library), "nai.lib");
  EXPECT_EQ(to_string(state.params.lod_library), "");
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Error opening Library: missing.lib");
}

TEST_F(CommandLineTest, LibraryNamesIgnoreCaseLikeWindowsUsersExpect) {
  parse_command_line(state, "/lib=NAI.LIB");
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(CommandLineTest, UnknownSpectrumExtensionEndsParsing) {
  CommandLineResult r = parse_command_line(state, "/batch /file=/tmp/sample.xyz /print");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(ui.texts().back(), "Unknown Spectrum Data file Extension:- xyz");
  EXPECT_FALSE(state.app.print_main_report);
}

TEST_F(CommandLineTest, MissingFileIsReportedByTheOpen) {
  CommandLineResult r = parse_command_line(state, "/batch /file=" + dir.file("none.dat"));
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(ui.texts().back(), "Could not open:- " + dir.file("none.dat"));
  EXPECT_EQ(state.app.current_file, "none.dat");
  EXPECT_EQ(to_string(state.params.own_format_dir), dir.path());
}

TEST_F(CommandLineTest, FileValueKeepsItsCaseAndForeignTypesUseTheOtherDirectory) {
  parse_command_line(state, "/FILE=" + dir.file("Mixed/Case.CHN"));
  EXPECT_EQ(state.app.spectrum_type, 3);
  EXPECT_EQ(state.app.current_file, "Case.CHN");
  EXPECT_EQ(to_string(state.params.other_format_dir), dir.file("Mixed"));
}

TEST_F(CommandLineTest, DatabaseTemplateMustExist) {
  parse_command_line(state, "/dbase=" + dir.file("results.csv"));
  EXPECT_EQ(ui.texts().back(), "Could not find Database template file: " + dir.file("results.csv"));
  EXPECT_EQ(state.params.update_database, 0);
  test::write_text(dir.file("results.csv"), "x");
  ui.messages.clear();
  parse_command_line(state, "/dbase=" + dir.file("results.csv"));
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(state.params.update_database, 1);
  EXPECT_EQ(state.app.database_path, dir.file("results"));
}

}  // namespace
}  // namespace kestrim

#include "app_fixture.h"

namespace kestrim {
namespace {

class CommandLineDefaultsTest : public ::testing::Test, public test::AppSession {};

TEST_F(CommandLineDefaultsTest, DetLoadsThatDefaultsFile) {
  AnalysisParameters p3 = state.params;
  p3.energy_tolerance = 33;
  write_defaults(3, p3);
  CommandLineResult r = parse_command_line(state, "/det=3");
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(state.params.defaults_number, 3);
  EXPECT_EQ(state.params.energy_tolerance, 33.0f);
}

TEST_F(CommandLineDefaultsTest, DetOfAMissingFileOffersToCreateIt) {
  ui.answers.push_back(kAnswerNo);
  parse_command_line(state, "/det=7");
  ASSERT_FALSE(ui.messages.empty());
  EXPECT_EQ(ui.messages[0].text, "Create a new Normal Defaults File ?");
  EXPECT_EQ(ui.messages[0].caption, "Could not open Normal Defaults File for Detector 7");
  EXPECT_EQ(state.params.defaults_number, 0);
}

TEST_F(CommandLineDefaultsTest, AppSwitchesTheApplicationOfTheCurrentNumber) {
  AnalysisParameters p = state.params;
  assign(p.application_name, "Survey");
  p.search_discriminator = 9;
  p.defaults_number = 0;
  p.checksum = compute_checksum(p);
  test::write_bytes(dir.file("program/DefaultFiles/Survey.000"), build_defaults_file(p, nullptr));
  parse_command_line(state, "/app=Survey");
  EXPECT_EQ(to_string(state.params.application_name), "Survey");
}

TEST_F(CommandLineDefaultsTest, PrintAndDisplayFlags) {
  parse_command_line(state, "--print --display");
  EXPECT_TRUE(state.app.print_main_report);
  EXPECT_TRUE(state.app.display_on);
}

}  // namespace
}  // namespace kestrim
