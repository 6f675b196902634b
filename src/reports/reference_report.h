// What the reports print of a total-spectrum fit: one row per reference
// spectrum, filled by the application from its reference set.
#pragma once

#include <string>
#include <vector>

namespace kestrim {

struct ReferenceReportRow {
  std::string name;   // reference file name without extension
  std::string title;  // the reference's title
  double factor = 0;                  // source scale in the sample
  double factor_uncertainty_pct = 0;  // of the factor, from the fit
  double shift = 0;                   // 1 - gain
  double activity_bq = 0;             // factor x reference activity
  double uncertainty_pct = 0;         // of the activity, times the activity sigma value
};

struct ReferenceReport {
  double chi_squared = 0;
  std::vector<ReferenceReportRow> rows;
};

// The reference lines of the main report's reference block:
// "File:- NAME, factor is F +/- U%, Shift:- S", one per reference.
std::vector<std::string> reference_file_lines(const ReferenceReport& report);

}  // namespace kestrim
