#include "settings/setup_checks.h"

#include "settings/session.h"
#include "platform/platform.h"

namespace kestrim {

namespace {

void hard(std::vector<SetupCheckFailure>& out, bool failed, const char* message) {
  if (failed) out.push_back({true, message});
}
void soft(std::vector<SetupCheckFailure>& out, bool failed, const char* message) {
  if (failed) out.push_back({false, message});
}

}  // namespace

std::vector<SetupCheckFailure> check_peak_search_page(const AnalysisParameters& p) {
  std::vector<SetupCheckFailure> out;
  hard(out, p.search_stop > 0 && p.search_stop < p.search_start,
       "The Search Start Channel should be > the Stop Channel");
  soft(out, p.search_discriminator < 3.0f,
       "The Search Discriminator is usually greater than 3.0");
  soft(out, p.search_smoothing < 0.5f || p.search_smoothing > 1.5f,
       "The Search Smooth is usually between 0.5 and 1.5");
  return out;
}

std::vector<SetupCheckFailure> check_peak_fitting_page(const AnalysisParameters& p) {
  std::vector<SetupCheckFailure> out;
  soft(out, p.region_end_channels < 2 || p.region_end_channels > 30,
       "The End Channel value is usually between 2 and 30");
  soft(out, p.new_peak_discriminator < 2.7f || p.new_peak_discriminator > 10.0f,
       "The New Peak Discriminator value is usually between 2.7 and 10");
  // The range tested (2-15) is wider than the one the message quotes (8-15):
  // factors from 2 are accepted silently, as the dialog always did.
  soft(out, p.peak_separation_factor < 2 || p.peak_separation_factor > 15,
       "This factor is usually between 8 and 15");
  soft(out, p.unconditional_library_peaks != 0 && p.library_peak_search == 0,
       "The Library Peak Search is normally used with Unconditional Reporting");
  hard(out, p.reference_end < p.reference_start,
       "The Start Channel should be > the Stop Channel");
  return out;
}

std::vector<SetupCheckFailure> check_quantitative_page(const AnalysisParameters& p) {
  std::vector<SetupCheckFailure> out;
  soft(out, p.energy_tolerance < 2.0f || p.energy_tolerance > 75.0f,
       "The Energy Tolerence is usually between 2 and 75");
  soft(out, p.min_confidence < 0.2f || p.min_confidence > 0.9f,
       "The Confidence value is usually between 0.2 and 0.9");
  soft(out, p.lod_check_threshold > 50, "This value should be less than 50");
  return out;
}

std::vector<SetupCheckFailure> check_all_setup_pages(const AnalysisParameters& p) {
  std::vector<SetupCheckFailure> out = check_peak_search_page(p);
  for (auto& f : check_peak_fitting_page(p)) out.push_back(f);
  for (auto& f : check_quantitative_page(p)) out.push_back(f);
  return out;
}

int confirm_setup_checks(Platform& ui, const std::vector<SetupCheckFailure>& failures) {
  const SetupCheckFailure* last_soft = nullptr;
  for (const SetupCheckFailure& f : failures) {
    if (f.hard) {
      ui.message_box(f.message, "", kMsgError);
      return 0;
    }
    last_soft = &f;
  }
  if (last_soft == nullptr) return 1;
  int answer = ui.message_box("Are you sure you want to use this value ?", last_soft->message,
                              kMsgYesNo, kAnswerYes);
  return answer == kAnswerYes ? 1 : 0;
}

void apply_peak_fitting_page(const AnalysisParameters& params, SessionFlags& flags) {
  flags.working_max_width_change = params.max_width_change;
  flags.working_residual_search = params.residual_peak_search != 0;
  if (flags.high_dead_time) {
    flags.working_max_width_change *= 2.0f;
    flags.working_residual_search = false;
  }
}

}  // namespace kestrim
