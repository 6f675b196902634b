// The checks the set-up dialog pages apply to the analysis parameters before
// accepting them.
//
// A hard check refuses the values outright: its message is shown with an
// error icon. A soft check only flags a value outside the usual range: when
// any soft check fails the user is asked "Are you sure you want to use this
// value ?" under the last soft message, and No refuses.
#pragma once

#include <string>
#include <vector>

#include "settings/parameters.h"

namespace kestrim {

class Platform;
struct SessionFlags;

struct SetupCheckFailure {
  bool hard = false;
  std::string message;
  bool operator==(const SetupCheckFailure&) const = default;
};

// The failed checks of each page, in the order the page applies them.
std::vector<SetupCheckFailure> check_peak_search_page(const AnalysisParameters& p);
std::vector<SetupCheckFailure> check_peak_fitting_page(const AnalysisParameters& p);
std::vector<SetupCheckFailure> check_quantitative_page(const AnalysisParameters& p);
// All three pages together.
std::vector<SetupCheckFailure> check_all_setup_pages(const AnalysisParameters& p);

// Shows the first hard failure (refused), else asks about the soft ones.
// Returns 1 when the values are accepted, 0 when refused.
int confirm_setup_checks(Platform& ui, const std::vector<SetupCheckFailure>& failures);

// Accepting the peak-fitting page: the maximum width change and the new-peak
// search switch become the running values; for a spectrum marked as high
// dead time the width change is doubled and the new-peak search is off.
void apply_peak_fitting_page(const AnalysisParameters& params, SessionFlags& flags);

}  // namespace kestrim
