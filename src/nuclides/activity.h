// The quantitative analysis: identification, interference sets, activities,
// their uncertainties, specific and decay-corrected activities, and the
// diagnostic and activity reports.
//
// An interference set is a group of accepted nuclides linked through shared
// peaks. Its activities A_j solve, by weighted least squares over the set's
// peaks (rows), R_p = sum_j A_j Y_jp with R_p the peak's gammas per second
// and Y_jp the yield of nuclide j's identified line on peak p. Pass A
// weights a row by 1/sqrt(V), pass B by 1/V, V = sigma_R^2 + (R U/Y)^2.
#pragma once

#include <string>

namespace kestrim {

struct NuclideSession;
struct SpectrumHeader;
struct DateTime;
struct ReportText;

inline constexpr const char* kDiagnosticReport = "Diagnostic Report.txt";
inline constexpr const char* kActivityReport = "Activity Report.txt";
// The report heading of the main and activity reports.
inline constexpr const char* kReportHeading = "Kestrim Gamma Spectrum Analysis";

// Minutes from the sample date and time to the start of the count; seconds
// are not used.
double decay_interval_minutes(const DateTime& sampled, const DateTime& collected);

// Activity per quantity unit in the reported unit: A divided by the sample
// size, times CFAC and times ACFA, each only when above 0.
double specific_activity(double activity, double sample_size, double correction_factor,
                         double activity_factor);

// Decay correction to the sample date (decay interval and half-life in
// minutes) and for the decay during the count (true time in seconds).
double decay_correct(double specific, double decay_interval, double half_life, double true_time);

// The report title line: an empty line, then the heading centred in 78
// columns.
void report_title_line(ReportText& report, const std::string& heading);

// Identification and activities without writing any file: fills
// State.results with the report texts. Returns 0 when the peaks were not
// all fitted (reported), else 1 (an interference set that was too big is
// reported and sets the error flag).
int run_nuclide_analysis(const NuclideSession& state);

}  // namespace kestrim
