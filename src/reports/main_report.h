// The main report ("Main Report.txt"), made from the report template named
// in the analysis parameters, and the pieces the activity database shares.
#pragma once

#include <string>
#include <vector>

namespace kestrim {

struct ReportSession;
struct ReportText;
struct NuclideResult;
class TemplateProcessor;
struct TokenContext;

inline constexpr const char* kMainReport = "Main Report.txt";

// The results in library order (limit entries last, in their own order):
// the order of the report rows.
std::vector<const NuclideResult*> ordered_results(const ReportSession& state);

// Rounds a result for the report: the activity half up and its uncertainty
// (%) upwards at the second significant figure of the absolute uncertainty
// (capped at the value); the decay-corrected value and its absolute
// uncertainty likewise.
void round_result(NuclideResult& r);

// The 9-character name column of a result: the name in 9 blanks, with the
// marker ? or ! in position 8, * in position 9, and # as ? in 8 and * in 9.
std::string marked_name(const std::string& name, char marker);

// Reads a template of the working folder; a missing one is first copied
// there from the shipped templates (never overwriting). False when neither
// exists.
bool fetch_template(const ReportSession& state, const std::string& name, std::string& text);

// Writes the main report text from the template text (no files touched):
// the report itself, built on a context with a fixed clock for tests.
// `complete` becomes false when a section could not be worked out.
std::string build_main_report(const ReportSession& state, const TokenContext& ctx, const std::string& tpl,
                              const std::string& tpl_name, bool* complete = nullptr);

// The custom-report section: reads the option and format lines after the
// CUST token and appends its rows to `out`.
void custom_report_section(const ReportSession& state, TemplateProcessor& tp, std::string& out);

// Writes the main report of the analysis (and the CSV activity database and
// header report it brings with it). Returns 1, or 0 when its template is
// missing (reported).
int write_main_report(const ReportSession& state);

// The unidentified-peak section of the activity report.
void append_unidentified_peaks(const ReportSession& state, ReportText& activity);

// True when peak k (1-based) is unidentified: the reported nuclides explain
// less than a quarter of it and its net area is above 0.
bool peak_unidentified(const ReportSession& state, int k);

}  // namespace kestrim
