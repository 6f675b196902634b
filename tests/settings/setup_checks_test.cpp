#include "settings/setup_checks.h"

#include <gtest/gtest.h>

#include "app/state.h"
#include "platform/scripted_platform.h"

namespace kestrim {
namespace {

// Values inside every usual range: no check fails.
AnalysisParameters quiet_params() {
  AnalysisParameters p = make_initial_parameters();
  p.search_start = 10;
  p.search_stop = 1000;
  p.search_discriminator = 3.5f;
  p.search_smoothing = 1.0f;
  p.region_end_channels = 10;
  p.new_peak_discriminator = 4.0f;
  p.peak_separation_factor = 10;
  p.reference_start = 10;
  p.reference_end = 1000;
  p.energy_tolerance = 20;
  p.min_confidence = 0.5f;
  p.lod_check_threshold = 20;
  return p;
}

std::vector<std::string> messages(const std::vector<SetupCheckFailure>& failures) {
  std::vector<std::string> out;
  for (const auto& f : failures) out.push_back(f.message);
  return out;
}

TEST(SetupChecks, UsualValuesPassEveryPage) {
  EXPECT_TRUE(check_all_setup_pages(quiet_params()).empty());
}

// Each row sets one value just outside its range, and the value on the edge
// that must still pass.
struct EdgeCase {
  const char* name;
  void (*fail)(AnalysisParameters&);
  void (*pass)(AnalysisParameters&);
  bool hard;
  const char* message;
};

const EdgeCase kEdges[] = {
    {"StopBelowStart", [](AnalysisParameters& p) { p.search_stop = 9.5f; },
     [](AnalysisParameters& p) { p.search_stop = 10; }, true,
     "The Search Start Channel should be > the Stop Channel"},
    {"DiscriminatorLow", [](AnalysisParameters& p) { p.search_discriminator = 2.99f; },
     [](AnalysisParameters& p) { p.search_discriminator = 3.0f; }, false,
     "The Search Discriminator is usually greater than 3.0"},
    {"SmoothLow", [](AnalysisParameters& p) { p.search_smoothing = 0.49f; },
     [](AnalysisParameters& p) { p.search_smoothing = 0.5f; }, false,
     "The Search Smooth is usually between 0.5 and 1.5"},
    {"SmoothHigh", [](AnalysisParameters& p) { p.search_smoothing = 1.51f; },
     [](AnalysisParameters& p) { p.search_smoothing = 1.5f; }, false,
     "The Search Smooth is usually between 0.5 and 1.5"},
    {"EndChannelsLow", [](AnalysisParameters& p) { p.region_end_channels = 1; },
     [](AnalysisParameters& p) { p.region_end_channels = 2; }, false,
     "The End Channel value is usually between 2 and 30"},
    {"EndChannelsHigh", [](AnalysisParameters& p) { p.region_end_channels = 31; },
     [](AnalysisParameters& p) { p.region_end_channels = 30; }, false,
     "The End Channel value is usually between 2 and 30"},
    {"NewPeakLow", [](AnalysisParameters& p) { p.new_peak_discriminator = 2.69f; },
     [](AnalysisParameters& p) { p.new_peak_discriminator = 2.7f; }, false,
     "The New Peak Discriminator value is usually between 2.7 and 10"},
    {"NewPeakHigh", [](AnalysisParameters& p) { p.new_peak_discriminator = 10.01f; },
     [](AnalysisParameters& p) { p.new_peak_discriminator = 10; }, false,
     "The New Peak Discriminator value is usually between 2.7 and 10"},
    {"SeparationLow", [](AnalysisParameters& p) { p.peak_separation_factor = 1; },
     [](AnalysisParameters& p) { p.peak_separation_factor = 2; }, false,
     "This factor is usually between 8 and 15"},
    {"SeparationHigh", [](AnalysisParameters& p) { p.peak_separation_factor = 16; },
     [](AnalysisParameters& p) { p.peak_separation_factor = 15; }, false,
     "This factor is usually between 8 and 15"},
    {"UnconditionalWithoutLibrarySearch",
     [](AnalysisParameters& p) { p.unconditional_library_peaks = 1; },
     [](AnalysisParameters& p) {
       p.unconditional_library_peaks = 1;
       p.library_peak_search = 1;
     },
     false, "The Library Peak Search is normally used with Unconditional Reporting"},
    {"ReferenceEndBelowStart", [](AnalysisParameters& p) { p.reference_end = 9; },
     [](AnalysisParameters& p) { p.reference_end = 10; }, true,
     "The Start Channel should be > the Stop Channel"},
    {"ToleranceLow", [](AnalysisParameters& p) { p.energy_tolerance = 1.99f; },
     [](AnalysisParameters& p) { p.energy_tolerance = 2; }, false,
     "The Energy Tolerence is usually between 2 and 75"},
    {"ToleranceHigh", [](AnalysisParameters& p) { p.energy_tolerance = 75.01f; },
     [](AnalysisParameters& p) { p.energy_tolerance = 75; }, false,
     "The Energy Tolerence is usually between 2 and 75"},
    {"ConfidenceLow", [](AnalysisParameters& p) { p.min_confidence = 0.19f; },
     [](AnalysisParameters& p) { p.min_confidence = 0.2f; }, false,
     "The Confidence value is usually between 0.2 and 0.9"},
    {"ConfidenceHigh", [](AnalysisParameters& p) { p.min_confidence = 0.91f; },
     [](AnalysisParameters& p) { p.min_confidence = 0.9f; }, false,
     "The Confidence value is usually between 0.2 and 0.9"},
    {"LodCheckHigh", [](AnalysisParameters& p) { p.lod_check_threshold = 51; },
     [](AnalysisParameters& p) { p.lod_check_threshold = 50; }, false,
     "This value should be less than 50"},
};

void PrintTo(const EdgeCase& c, std::ostream* os) { *os << c.name; }

class SetupCheckEdge : public ::testing::TestWithParam<EdgeCase> {};

TEST_P(SetupCheckEdge, FailsJustOutsideAndPassesOnTheEdge) {
  const EdgeCase& c = GetParam();
  AnalysisParameters p = quiet_params();
  c.fail(p);
  std::vector<SetupCheckFailure> failures = check_all_setup_pages(p);
  ASSERT_EQ(failures.size(), 1u) << ::testing::PrintToString(messages(failures));
  EXPECT_EQ(failures[0].message, c.message);
  EXPECT_EQ(failures[0].hard, c.hard);

  AnalysisParameters q = quiet_params();
  c.pass(q);
  EXPECT_TRUE(check_all_setup_pages(q).empty());
}

INSTANTIATE_TEST_SUITE_P(AllChecks, SetupCheckEdge, ::testing::ValuesIn(kEdges),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SetupChecks, PagesHoldTheirOwnChecks) {
  AnalysisParameters p = quiet_params();
  p.search_discriminator = 1;
  p.region_end_channels = 0;
  p.energy_tolerance = 0;
  EXPECT_EQ(messages(check_peak_search_page(p)),
            std::vector<std::string>{"The Search Discriminator is usually greater than 3.0"});
  EXPECT_EQ(messages(check_peak_fitting_page(p)),
            std::vector<std::string>{"The End Channel value is usually between 2 and 30"});
  EXPECT_EQ(messages(check_quantitative_page(p)),
            std::vector<std::string>{"The Energy Tolerence is usually between 2 and 75"});
}

TEST(ConfirmSetupChecks, NothingFailedAsksNothing) {
  ScriptedPlatform ui;
  EXPECT_EQ(confirm_setup_checks(ui, {}), 1);
  EXPECT_TRUE(ui.messages.empty());
}

TEST(ConfirmSetupChecks, SoftFailuresAskUnderTheLastMessage) {
  ScriptedPlatform ui;
  std::vector<SetupCheckFailure> soft = {{false, "first"}, {false, "last"}};
  EXPECT_EQ(confirm_setup_checks(ui, soft), 1);  // Yes preselected
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Are you sure you want to use this value ?");
  EXPECT_EQ(ui.messages[0].caption, "last");
  EXPECT_EQ(ui.messages[0].style, kMsgYesNo);
  EXPECT_EQ(ui.messages[0].default_answer, kAnswerYes);
  ui.answers = {kAnswerNo};
  EXPECT_EQ(confirm_setup_checks(ui, soft), 0);
}

TEST(ConfirmSetupChecks, HardFailureRefusesWithoutAsking) {
  ScriptedPlatform ui;
  std::vector<SetupCheckFailure> mixed = {{false, "soft one"}, {true, "hard one"}};
  EXPECT_EQ(confirm_setup_checks(ui, mixed), 0);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "hard one");
  EXPECT_EQ(ui.messages[0].style, kMsgError);
}

TEST(ApplyPeakFittingPage, HighDeadTimeDoublesWidthChangeAndStopsNewPeakSearch) {
  ScriptedPlatform ui;
  State state(ui);
  state.params.max_width_change = 0.1f;
  state.params.residual_peak_search = 1;
  apply_peak_fitting_page(state);
  EXPECT_FLOAT_EQ(state.app.working_max_width_change, 0.1f);
  EXPECT_TRUE(state.app.working_residual_search);
  state.app.high_dead_time = true;
  apply_peak_fitting_page(state);
  EXPECT_FLOAT_EQ(state.app.working_max_width_change, 0.2f);
  EXPECT_FALSE(state.app.working_residual_search);
}

}  // namespace
}  // namespace kestrim
