#include "settings/setup_checks.h"

#include <gtest/gtest.h>

#include "app/state.h"
#include "platform/binio.h"
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

// Sets the field with this text name (the table's) to `value`.
void set_field(AnalysisParameters& p, const char* name, double value) {
  const ParamField* f = find_parameter_field(name);
  ASSERT_NE(f, nullptr) << name;
  std::uint8_t bytes[kParametersSize];
  encode_parameters(p, bytes);
  if (f->kind == ParamKind::F32)
    bin::put_f32(bytes + f->offset, static_cast<float>(value));
  else
    bin::put_i32(bytes + f->offset, static_cast<std::int32_t>(value));
  decode_parameters(bytes, p);
}

// One field set just outside its usual range, and on the edge that passes.
// Unconditional reporting is tested with the library search off (fail) and
// on (pass), starting from unconditional reporting on.
struct EdgeCase {
  const char* name;
  const char* field;
  double fail;
  double pass;
  bool hard;
  const char* message;
};

void PrintTo(const EdgeCase& c, std::ostream* os) { *os << c.name; }

const EdgeCase kEdges[] = {
    {"StopBelowStart", "STOP", 9.5, 10, true, "The Search Start Channel should be > the Stop Channel"},
    {"DiscriminatorLow", "PKSD", 2.99, 3.0, false, "The Search Discriminator is usually greater than 3.0"},
    {"SmoothLow", "PKSS", 0.49, 0.5, false, "The Search Smooth is usually between 0.5 and 1.5"},
    {"SmoothHigh", "PKSS", 1.51, 1.5, false, "The Search Smooth is usually between 0.5 and 1.5"},
    {"EndChannelsLow", "ENDC", 1, 2, false, "The End Channel value is usually between 2 and 30"},
    {"EndChannelsHigh", "ENDC", 31, 30, false, "The End Channel value is usually between 2 and 30"},
    {"NewPeakLow", "new_peak_discriminator", 2.69, 2.7, false,
     "The New Peak Discriminator value is usually between 2.7 and 10"},
    {"NewPeakHigh", "new_peak_discriminator", 10.01, 10, false,
     "The New Peak Discriminator value is usually between 2.7 and 10"},
    {"SeparationLow", "PKSF", 1, 2, false, "This factor is usually between 8 and 15"},
    {"SeparationHigh", "PKSF", 16, 15, false, "This factor is usually between 8 and 15"},
    {"UnconditionalWithoutLibrarySearch", "library_peak_search", 0, 1, false,
     "The Library Peak Search is normally used with Unconditional Reporting"},
    {"ReferenceEndBelowStart", "reference_end", 9, 10, true, "The Start Channel should be > the Stop Channel"},
    {"ToleranceLow", "ETOL", 1.99, 2, false, "The Energy Tolerence is usually between 2 and 75"},
    {"ToleranceHigh", "ETOL", 75.01, 75, false, "The Energy Tolerence is usually between 2 and 75"},
    {"ConfidenceLow", "CONF", 0.19, 0.2, false, "The Confidence value is usually between 0.2 and 0.9"},
    {"ConfidenceHigh", "CONF", 0.91, 0.9, false, "The Confidence value is usually between 0.2 and 0.9"},
    {"LodCheckHigh", "LODC", 51, 50, false, "This value should be less than 50"},
};

class SetupCheckEdge : public ::testing::TestWithParam<EdgeCase> {};

TEST_P(SetupCheckEdge, FailsJustOutsideAndPassesOnTheEdge) {
  const EdgeCase& c = GetParam();
  AnalysisParameters p = quiet_params();
  p.unconditional_library_peaks = 1;
  p.library_peak_search = 1;
  set_field(p, c.field, c.fail);
  std::vector<SetupCheckFailure> failures = check_all_setup_pages(p);
  ASSERT_EQ(failures.size(), 1u) << ::testing::PrintToString(messages(failures));
  EXPECT_EQ(failures[0].message, c.message);
  EXPECT_EQ(failures[0].hard, c.hard);

  set_field(p, c.field, c.pass);
  EXPECT_TRUE(check_all_setup_pages(p).empty());
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
  apply_peak_fitting_page(state.params, state.app);
  EXPECT_FLOAT_EQ(state.app.working_max_width_change, 0.1f);
  EXPECT_TRUE(state.app.working_residual_search);
  state.app.high_dead_time = true;
  apply_peak_fitting_page(state.params, state.app);
  EXPECT_FLOAT_EQ(state.app.working_max_width_change, 0.2f);
  EXPECT_FALSE(state.app.working_residual_search);
}

}  // namespace
}  // namespace kestrim
