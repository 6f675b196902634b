// The steps of a full analysis and of the calibration requests, as the
// application shell calls them. Each returns 1 on success and 0 on a
// failure it has reported.
#pragma once

#include <vector>

namespace kestrim {

struct State;
struct CalPoint;

// The whole quantitative analysis of the fitted peak list with the loaded
// library: identification and activities, "Diagnostic Report.txt",
// "Activity Report.txt" and the main report in the working folder. Returns
// 1, or 0 when the peaks were not all fitted (reported) or an interference
// set was too big (reported, error flag set).
int quantitative_analysis(State& state);

int step_peak_search(State& state);           // or drift correction with its search
int step_fit_all_regions(State& state);
int step_quantitative_analysis(State& state); // identification, activities, reports
// "Quan with Auto-cal": the quantitative analysis with the wider energy
// tolerance, whose well-identified lines then refit the energy calibration
// (the "Offset" anchor below 300 keV); when it changed, the identification
// and activities run again with it.
int quantitative_analysis_with_auto_calibration(State& state);
// The same in two halves, for a front end that lets the user accept the new
// calibration in a window: the analysis with the wider tolerance, giving the
// well-identified lines (reference energy, channel, weight = per-cent area
// uncertainty, nuclide name); then, once a new calibration was accepted,
// the identification and activities again with it.
int quantitative_analysis_for_recalibration(State& state, std::vector<CalPoint>& points);
int quantitative_analysis_after_recalibration(State& state);
int step_reference_fit(State& state);         // total-spectrum fit and its report
int step_open_background_spectrum(State& state);

int step_auto_recalibration(State& state);
int step_energy_calibration(State& state);
int step_shape_calibration(State& state);
int step_efficiency_calibration(State& state);

// Printing has no spooler here: the report files stay in the working directory.
// Prints a report of the working folder through the front end's printer;
// 1 or 0 (a build without printing says so).
int step_print_report(State& state, const char* report_name);

}  // namespace kestrim
