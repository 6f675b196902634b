// The substitution rules of the template engine, on whole templates.
#include "reports/template_engine.h"

#include <gtest/gtest.h>

#include "report_fixture.h"

namespace kestrim {
namespace {

using test::fill_state;
using test::kNow;
using test::one_line;
using test::run_template;

class TemplateEngine : public ::testing::Test {
 protected:
  void SetUp() override { fill_state(state); }
  ScriptedPlatform ui;
  State state{ui};
};

TEST_F(TemplateEngine, GoldenTemplateWithEveryKindOfLine) {
  state.params.iterate_width = 1;
  const std::string tpl =
      "Sample ?SAMN    detector ?DETN\r\n"
      "Geometry ?GEOM is never printed\r\n"
      "?ITWI Iterative width fitting\r\n"
      "?ITTA Iterative tailing fitting\r\n"
      "Density ?DENS g/cm3\r\n"
      "Factor 1.2000e-005, big 1.0e+100\r\n"
      "Live?LTIM\r\n";
  EXPECT_EQ(run_template(state, tpl),
            "Sample     1234 detector     3\r\n"
            " Iterative width fitting\r\n"
            "Density DENS  g/cm3\r\n"
            "Factor 1.2000e-05, big 1.0e+100\r\n"
            "Live   3600\r\n"
            "\r\n");
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(TemplateEngine, WideValueOverwritesTheBlanksThatFollow) {
  EXPECT_EQ(one_line(state, "Collected ?DCOL       at ?TCOL"), "Collected 12-Mar-2024 at 14:30");
}

TEST_F(TemplateEngine, AdjacentTokensAreBothReplaced) {
  EXPECT_EQ(one_line(state, "?DETN?GEON|"), "    3    2|");
}

TEST_F(TemplateEngine, ValuesAreNotScannedForTokens) {
  assign(state.spectrum.header.user, "who?DETN");
  EXPECT_EQ(one_line(state, "?USER"), "who?DETN                ");
}

TEST_F(TemplateEngine, TokensIgnoreCase) { EXPECT_EQ(one_line(state, "?detn"), "    3"); }

TEST_F(TemplateEngine, UnknownTokenCutByTheLineEndPrintsBlanks) {
  EXPECT_EQ(one_line(state, "Value ?DE"), "Value DE   ");
}

TEST_F(TemplateEngine, ThreeLetterTokenMayEndALine) {
  TemplateProcessor proc("Rows\r\n?ISO\r\n%-9s %5.2f\r\nAfter\r\n", "t.tpl", &ui);
  TokenContext ctx(state, kNow);
  std::string out;
  EXPECT_EQ(proc.process(ctx, out), kSectionActivities);
  EXPECT_EQ(out, "Rows\r\n");
  std::string format;
  ASSERT_TRUE(proc.next_raw_line(format));
  EXPECT_EQ(format, "%-9s %5.2f");
  EXPECT_EQ(proc.process(ctx, out), kSectionEnd);
  EXPECT_EQ(out, "Rows\r\nAfter\r\n\r\n");
  EXPECT_TRUE(proc.finished());
  // Nothing more once the end was written.
  EXPECT_EQ(proc.process(ctx, out), kSectionEnd);
  EXPECT_EQ(out, "Rows\r\nAfter\r\n\r\n");
}

TEST_F(TemplateEngine, SectionCodesComeBackInOrder) {
  TemplateProcessor proc("?LODS\n?RESU\n?CUST\n?SPEC\n?END \n?GPSD\nnever\n", "t.tpl", &ui);
  TokenContext ctx(state, kNow);
  std::string out;
  for (int code : {kSectionLimits, kSectionSecondLibrary, kSectionCustom, kSectionReference,
                   kSectionEndBlock, kSectionEnd})
    EXPECT_EQ(proc.process(ctx, out), code);
  EXPECT_EQ(out, "");
  EXPECT_FALSE(proc.finished());
}

TEST_F(TemplateEngine, ShortRestOfLineActsAsASectionCode) {
  // The flag is set and three characters follow: width 3 is section code 3.
  state.params.iterate_multiplets = 1;
  TemplateProcessor proc("?ITMU ab\r\nnext\r\n", "t.tpl", &ui);
  TokenContext ctx(state, kNow);
  std::string out;
  EXPECT_EQ(proc.process(ctx, out), 3);
  EXPECT_EQ(out, "");
}

TEST_F(TemplateEngine, RestOfLineMovesTheTextAndCutsTheTail) {
  state.params.round_activities = 1;
  EXPECT_EQ(one_line(state, "Options: ?ACTR Round activities"), "Options:  Round activities");
  state.params.round_activities = 0;
  EXPECT_EQ(run_template(state, "Options: ?ACTR Round activities\r\n"), "\r\n");
}

TEST_F(TemplateEngine, DatabaseCodesOnlyInTheDatabaseTemplate) {
  // 13 blanks, the closing bracket included.
  EXPECT_EQ(one_line(state, "[?UNID]"), "[             ");
  TemplateProcessor proc("?UNID\r\n", "dbase.tpl", &ui);
  proc.set_database_codes(true);
  TokenContext ctx(state, kNow);
  std::string out;
  EXPECT_EQ(proc.process(ctx, out), 13);
}

TEST_F(TemplateEngine, LongLineIsCutWithOneWarning) {
  const std::string long_line(130, 'x');
  std::string out = run_template(state, long_line + "\r\n" + long_line + "\r\n");
  EXPECT_EQ(out, std::string(120, 'x') + "\r\n" + std::string(120, 'x') + "\r\n\r\n");
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Line 1 of the template t.tpl is longer than 120 characters and was cut");
  EXPECT_EQ(ui.messages[0].style, kMsgWarning);
}

TEST_F(TemplateEngine, ValueRunningPastTheBufferIsCut) {
  // The date is 11 wide but only 5 columns are left.
  std::string out = one_line(state, std::string(115, '.') + "?DCOL");
  EXPECT_EQ(out, std::string(115, '.') + "12-Ma");
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text,
            "Line 1 of the template t.tpl has a value that runs past 120 characters; it was cut");
}

TEST_F(TemplateEngine, TokenInTheLastColumnsOfAFullLine) {
  // "?" in column 119: the unknown token "X" and terminators is printed as
  // "X" and four blanks, of which two columns fit.
  std::string out = one_line(state, std::string(118, '.') + "?X");
  EXPECT_EQ(out, std::string(118, '.') + "X ");
  EXPECT_EQ(ui.messages.size(), 1u);
}

// Only numbers with a three-digit exponent are tidied; words and names
// ("Sample 01", "site_e2019.dat") keep their text.
TEST_F(TemplateEngine, ExponentTidyUpTouchesOnlyNumbers) {
  EXPECT_EQ(one_line(state, "2.5e+003 and 1.0E+003"), "2.5e+03 and 1.0E+003");
  EXPECT_EQ(one_line(state, "Sample 01"), "Sample 01");
  EXPECT_EQ(one_line(state, "site_e2019.dat 4e-012"), "site_e2019.dat 4e-12");
}

TEST_F(TemplateEngine, EmptyTemplateGivesOneEmptyLine) { EXPECT_EQ(run_template(state, ""), "\r\n"); }

TEST_F(TemplateEngine, LaterWorkReplacesATokenInItsOwnTable) {
  TokenTable table = sample_tokens();
  table.set({"UNPK", 5, [](const TokenContext&) { return TokenValue::text_value("     "); }});
  TemplateProcessor proc("Unidentified peaks:?UNPK\r\n", "t.tpl", &ui);
  proc.set_tables({&table, &parameter_tokens()});
  TokenContext ctx(state, kNow);
  std::string out;
  proc.process(ctx, out);
  EXPECT_EQ(out, "Unidentified peaks:     \r\n\r\n");
  // The shared table still drops the line.
  EXPECT_EQ(run_template(state, "Unidentified peaks:?UNPK\r\n"), "\r\n");
}

}  // namespace
}  // namespace kestrim
