// Reports made from a template by substitution only: the header report and
// the analysis-parameter report, both in the working folder.
#pragma once

#include <string>

namespace kestrim {

struct ReportSession;

// Reads a template of the working folder (name looked up ignoring case).
// False when it does not exist or cannot be read.
bool read_template(const ReportSession& state, const std::string& name, std::string& text);

// "Header Report.tpl" -> "Header Report.txt". Returns 1 when written, 0 when
// the template is missing (no message: the header report is optional) or
// the report could not be written (reported).
int write_header_report(const ReportSession& state);

// "Analysis Params.tpl" -> "Analysis Params.txt". A missing template gives
// "Could not find the template file:- Analysis Params.tpl". 1 or 0.
int write_parameter_report(const ReportSession& state);

// A new working directory (one holding none of the shipped templates) gets
// a copy of every template of <program_dir>/Templates, so that users can
// edit them; nothing is ever overwritten. Returns the number copied.
int seed_shipped_templates(const ReportSession& state);

}  // namespace kestrim
