// Every sample and parameter token on the hand-built session: exact text,
// and through it the width (a token alone on a line prints exactly its
// width, since the line runs to the end of the value).
#include <gtest/gtest.h>

#include <cstring>

#include "platform/binio.h"
#include "report_fixture.h"

namespace kestrim {
namespace {

using test::fill_state;
using test::one_line;
using test::run_template;

class ReportTokens : public ::testing::Test {
 protected:
  void SetUp() override { fill_state(state); }
  // The token alone on a line.
  std::string token(const char* name) { return one_line(state, std::string("?") + name); }
  bool dropped(const char* name) { return run_template(state, std::string("x ?") + name + " y\r\n") == "\r\n"; }
  std::string pad(const std::string& s, std::size_t width) { return s + std::string(width - s.size(), ' '); }
  ScriptedPlatform ui;
  State state{ui};
};

struct Expected {
  const char* token;
  std::string text;
};

TEST_F(ReportTokens, SampleTokensPrintTheirFormatsAndWidths) {
  const Expected rows[] = {
      {"VERS", pad("Kestrim test", 32)},
      {"DNOW", "14-Mar-2024"},
      {"TNOW", " 9:05"},
      {"SPCF", pad("soil_a.dat", 32)},
      {"TITL", pad("Soil core A            Field 3", 48)},
      {"SAMN", "    1234"},
      {"USER", pad("J. Smith", 24)},
      {"DETN", "    3"},
      {"GEON", "    2"},
      {"MCAN", "    1"},
      {"ADCN", "    4"},
      {"LTIM", "   3600"},
      {"TTIM", "   3700"},
      {"DTIM", "  2.68"},  // (3700 - 3600.7) x 100 / 3700 = 2.684
      {"DSAV", "13-Mar-2024"},
      {"TSAV", "17:45"},
      {"DCOL", "12-Mar-2024"},
      {"TCOL", "14:30"},
      {"DSAM", "10-Mar-2024"},
      {"TSAM", "11:30"},
      {"DCYD", "     2"},
      {"DCYM", "  180"},
      {"SAMS", "   1.2500   kg"},
      {"SAMW", "1.250"},
      {"CFAC", "   1.0000"},
      {"GEOD", pad("1 litre Marinelli", 40)},
      {"DENC", " 1-Feb-2024"},
      {"TENC", " 8:00"},
      {"DSHP", " 1-Feb-2024"},  // no shape date: the energy calibration's
      {"TSHP", " 8:00"},
      {"DEFC", " 2-Feb-2024"},
      {"TEFC", "16:20"},
      {"AUNI", "  Bq "},
      {"UNIT", "  kg "},
      {"ORTE", pad("Bq/kg", 16)},
      {"LODR", "     "},
      {"LODD", pad("Minimum Detectable Activity", 30)},
      {"SAMU", "  7.5"},
      {"CALU", "  4.0"},
      {"SLOC", pad("North field", 32)},
      {"SIDE", pad("S-0042", 16)},
      {"STYP", pad("Field 3", 24)},  // no sample type: the description
      {"DETD", std::string(64, ' ')},
      {"UNID", std::string(13, ' ')},
      {"COMP", std::string(15, ' ')},
      {"HEAD", std::string(17, ' ')},
      {"CO_O", std::string(19, ' ')},
      {"FWHM", std::string(20, ' ')},
      {"CHAN", std::string(21, ' ')},
      {"INT ", std::string(25, ' ')},
  };
  for (const Expected& e : rows) {
    SCOPED_TRACE(e.token);
    EXPECT_EQ(token(e.token), e.text);
  }
}

TEST_F(ReportTokens, ParameterTokensPrintTheirFormatsAndWidths) {
  const Expected rows[] = {
      {"DEFN", "    3"},
      {"APPL", pad("Normal", 16)},
      {"MAXD", "    0"},
      {"STAR", "   10"},
      {"STOP", " 1000"},
      {"PKSD", "  0.0"},
      {"PSIG", "2.000"},
      {"ETOL", " 1.50"},
      {"CONT", "Find Best Continuum function enabled"},
      {"ALIB", pad("NaI_std.lib", 32)},
      {"ACTU", "Bq   "},
      {"ACFA", "1.00e+00"},  // "1.00e+000" in 9 columns, tidied to 8
      {"LLIB", pad("", 32)},
      {"MAXA", "   25"},
  };
  for (const Expected& e : rows) {
    SCOPED_TRACE(e.token);
    EXPECT_EQ(token(e.token), e.text);
  }
}

TEST_F(ReportTokens, DecayIntervalAcrossAMonthEnd) {
  state.spectrum.header.sampled = {28, 2, 2024, 23, 59};
  state.spectrum.header.collected = {1, 3, 2024, 0, 1};  // 1 day 2 minutes later (29 Feb exists)
  EXPECT_EQ(token("DCYD"), "     1");
  EXPECT_EQ(token("DCYM"), "    2");
}

TEST_F(ReportTokens, DeadTimeWithoutTrueTimeIsAQuestionMark) {
  state.spectrum.header.true_time = 0;
  EXPECT_EQ(token("DTIM"), "?     ");
}

TEST_F(ReportTokens, ConditionalSampleTokens) {
  EXPECT_TRUE(dropped("DETF"));
  state.spectrum.header.detector_file = 5;
  EXPECT_EQ(token("DETF"), "    5");
  EXPECT_TRUE(dropped("GEOM"));
  EXPECT_TRUE(dropped("GEOF"));
  EXPECT_TRUE(dropped("UNPK"));
  EXPECT_TRUE(dropped("GCOR"));
  state.params.gain_correction = 1;
  EXPECT_EQ(token("GCOR"), pad("    0", 16));
  state.spectrum.calibration.shape_date = {5, 2, 2024};
  state.spectrum.calibration.shape_time = {10, 15};
  EXPECT_EQ(token("DSHP"), " 5-Feb-2024");
  EXPECT_EQ(token("TSHP"), "10:15");
  assign(state.spectrum.header.sample_type, "Soil");
  EXPECT_EQ(token("STYP"), pad("Soil", 16));
}

TEST_F(ReportTokens, SpectrumWithoutDetectorFileKeepsTheSpccLine) {
  EXPECT_EQ(one_line(state, "?SPCC Own calibration"), " Own calibration");
  state.spectrum.header.detector_file = 1;
  EXPECT_EQ(run_template(state, "?SPCC Own calibration\r\n"), "\r\n");
}

TEST_F(ReportTokens, LodrEndsTheTemplateWhenNoLimitsAreCalculated) {
  state.params.calculate_lod = 0;
  EXPECT_EQ(run_template(state, "before\r\n?LODR\r\nafter\r\n"), "before\r\n");
  EXPECT_TRUE(dropped("LLIB"));
}

TEST_F(ReportTokens, BackgroundTokensFollowPeakSubtraction) {
  for (const char* t : {"BTTL", "BKGD", "BKGT", "BKGL", "BKGS", "BKGF"}) EXPECT_TRUE(dropped(t)) << t;
  state.background.collected = DateTime{7, 1, 2024, 6, 5};
  assign(state.background.title, "Lab background");
  state.background.live_time = 86400.0f;
  state.params.background_cps_subtraction = 1;
  state.app.background_name = "lab2024.bkg";
  assign(state.params.background_file, "lab2024.bkg");
  EXPECT_EQ(token("BTTL"), pad("Lab background", 47));
  EXPECT_EQ(token("BKGD"), " 7-Jan-2024");
  EXPECT_EQ(token("BKGT"), " 6:05");
  EXPECT_EQ(token("BKGL"), " 86400");
  EXPECT_EQ(token("BKGS"), pad("lab2024.bkg", 12));
  EXPECT_EQ(token("BKGF"), pad("lab2024.bkg", 12));
  state.params.background_from_spectrum_file = 1;
  EXPECT_EQ(token("BKGF"), "Spectrum data file");
}

TEST_F(ReportTokens, ConditionalParameterTokens) {
  EXPECT_TRUE(dropped("PLIB"));
  state.params.library_peak_search = 1;
  assign(state.params.peak_search_library, "Search.lib");
  EXPECT_EQ(token("PLIB"), pad("Search.lib", 32));
  EXPECT_TRUE(dropped("NPKD"));
  state.params.residual_peak_search = 1;
  state.params.new_peak_discriminator = 2.5f;
  EXPECT_EQ(token("NPKD"), "  2.5");
  EXPECT_TRUE(dropped("LODC"));
  state.params.lod_check_threshold = 10;
  EXPECT_EQ(token("LODC"), "   10");
  EXPECT_TRUE(dropped("AUXP"));
  state.params.use_aux_peaks = 1;
  assign(state.params.aux_peaks_file, "extra.pks");
  EXPECT_EQ(token("AUXP"), pad("extra.pks", 12));
  for (const char* t : {"SLIB", "ACCH", "GCEN"}) EXPECT_TRUE(dropped(t)) << t;
  // Calibration uncertainty included: the ICUN line goes.
  EXPECT_TRUE(dropped("ICUN"));
  state.params.include_calibration_uncertainty = 0;
  EXPECT_EQ(one_line(state, "?ICUN Calibration uncertainty not included"),
            " Calibration uncertainty not included");
  state.params.continuum_linear = 1;
  EXPECT_EQ(token("CONT"), "Continuum fixed at Linear");
  state.params.continuum_linear = 0;
  state.params.continuum_nonlinear = 1;
  EXPECT_EQ(token("CONT"), "Continuum fixed at Non-linear");
  assign(state.params.activity_unit, "kBq!", false);  // four characters, unterminated
  EXPECT_EQ(token("ACTU"), "kBq! ");
}

TEST_F(ReportTokens, EveryFlagTokenFollowsItsOwnFlag) {
  struct Flag {
    const char* token;
    std::int32_t AnalysisParameters::*field;
  };
  const Flag flags[] = {{"ITSP", &AnalysisParameters::iterate_position_single},
                        {"ITMU", &AnalysisParameters::iterate_multiplets},
                        {"ITWI", &AnalysisParameters::iterate_width},
                        {"ITTA", &AnalysisParameters::iterate_tailing},
                        {"511D", &AnalysisParameters::fit_511},
                        {"UNLP", &AnalysisParameters::unconditional_library_peaks},
                        {"UPPK", &AnalysisParameters::principal_peak_only},
                        {"ASUM", &AnalysisParameters::area_by_summation},
                        {"ACTR", &AnalysisParameters::round_activities},
                        {"INTE", &AnalysisParameters::interpolated_efficiency},
                        {"DCEN", &AnalysisParameters::dcen}};
  for (const Flag& f : flags) {
    SCOPED_TRACE(f.token);
    const std::string line = std::string("?") + f.token + " switched on";
    EXPECT_TRUE(dropped(f.token));
    state.params.*f.field = 1;
    EXPECT_EQ(one_line(state, line), " switched on");
    state.params.*f.field = 0;
  }
}

}  // namespace
}  // namespace kestrim
