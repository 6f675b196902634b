// The templates shipped in data/Templates go through the engine on a
// hand-built session: every token is known, no line is cut, the static text
// survives the exponent tidy-up, and the report writers' section codes come
// where the templates put them.
#include <gtest/gtest.h>

#include "platform/files.h"
#include "report_fixture.h"
#include "platform/c_format.h"
#include "reports/template_reports.h"
#include "support/test_support.h"

namespace kestrim {
namespace {

const char* const kTemplates[] = {"report.tpl",          "Activity Report.tpl", "Header Report.tpl",
                                  "Analysis Params.tpl", "dbase.tpl",           "spctxt.tpl"};

std::vector<std::string> template_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find("\r\n", at);
    EXPECT_NE(end, std::string::npos) << "line without CR LF";
    if (end == std::string::npos) break;
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

// Rows that follow a section token are printf formats read as they stand.
int raw_lines_after(int code) { return code == kSectionCustom ? 2 : (code >= 1 && code <= 3) ? 1 : 0; }

class ShippedTemplates : public ::testing::TestWithParam<const char*> {
 protected:
  std::string text() { return test::read_text(join_path(test::source_data_dir(), std::string("Templates/") + GetParam())); }
};

TEST_P(ShippedTemplates, EveryTokenIsKnownAndTheTextSurvivesTheTidyUp) {
  std::vector<std::string> lines = template_lines(text());
  ASSERT_FALSE(lines.empty());
  const bool database = std::string(GetParam()) == "dbase.tpl";
  int skip = 0;
  for (const std::string& line : lines) {
    SCOPED_TRACE(line);
    EXPECT_LE(line.size(), 120u);
    EXPECT_EQ(tidy_exponents(line), line);
    if (skip > 0) {
      --skip;
      continue;
    }
    for (std::size_t i = line.find('?'); i != std::string::npos; i = line.find('?', i + 1)) {
      char key[4] = {0, 0, 0, 0};
      for (std::size_t k = 0; k < 4 && i + 1 + k < line.size(); ++k) key[k] = line[i + 1 + k];
      const TokenEntry* e = sample_tokens().find(key);
      if (!e) e = parameter_tokens().find(key);
      ASSERT_NE(e, nullptr) << "unknown token at column " << i;
      if (!database) skip = raw_lines_after(e->width);
    }
  }
}

// Runs a template as a report writer would, skipping section rows.
std::string run_like_a_writer(State& state, const std::string& text, bool* cut) {
  TemplateProcessor proc(text, "t.tpl", state.ui);
  TokenContext ctx(state, test::kNow);
  std::string out, row;
  for (int guard = 0; guard < 100 && !proc.finished(); ++guard) {
    int code = proc.process(ctx, out);
    if (code == kSectionEnd) break;
    for (int k = raw_lines_after(code); k > 0; --k) proc.next_raw_line(row);
  }
  *cut = proc.warned();
  return out;
}

TEST_P(ShippedTemplates, SubstitutesWithEverySwitchOnAndOff) {
  if (std::string(GetParam()) == "dbase.tpl") GTEST_SKIP() << "the database writer reads its own sections";
  for (int on = 0; on < 2; ++on) {
    SCOPED_TRACE(on ? "switches on" : "switches off");
    ScriptedPlatform ui;
    State state(ui);
    test::fill_state(state);
    AnalysisParameters& p = state.params;
    for (std::int32_t* flag :
         {&p.iterate_position_single, &p.iterate_multiplets, &p.iterate_width, &p.iterate_tailing, &p.fit_511,
          &p.area_by_summation, &p.principal_peak_only, &p.unconditional_library_peaks,
          &p.interpolated_efficiency, &p.round_activities, &p.dcen, &p.include_calibration_uncertainty,
          &p.library_peak_search, &p.residual_peak_search, &p.use_aux_peaks, &p.calculate_lod,
          &p.background_cps_subtraction, &p.gain_correction})
      *flag = on;
    p.lod_check_threshold = on ? 10 : 0;
    state.spectrum.header.detector_file = on ? 4 : 0;
    bool cut = false;
    std::string out = run_like_a_writer(state, text(), &cut);
    EXPECT_FALSE(cut);
    EXPECT_EQ(out.find('?'), std::string::npos) << out;
    EXPECT_TRUE(ui.messages.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Templates, ShippedTemplates, ::testing::ValuesIn(kTemplates),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           std::string name;
                           for (const char* c = info.param; *c && *c != '.'; ++c)
                             if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
                           return name;
                         });

}  // namespace
}  // namespace kestrim
