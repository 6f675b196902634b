// kestrim fit-total SPECTRUM --ref A.rsd [--ref B.rsd ...] [--json]: fits
// the whole spectrum as a sum of reference spectra, each with its own gain
// factor, as the full analysis does when reference fitting is on; writes
// "fit_diag.txt" and the main report in the current folder and prints the
// factors and activities (JSON whose fields are only ever added to).
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <system_error>
#include <charconv>
#include <vector>

#include "app/command_line.h"
#include "app/reference_analysis.h"
#include "app/startup.h"
#include "app/state.h"
#include "commands.h"
#include "front_end_services.h"
#include "reference_json.h"
#include "platform/c_locale.h"
#include "platform/headless_platform.h"
#include "platform/text_encoding.h"
#include "reference/reference_set.h"

namespace kestrim::cli {

namespace {

const char* kUsage =
    "Usage: kestrim fit-total SPECTRUM --ref FILE.rsd [--ref FILE.rsd ...] [--start CH] [--end CH]\n"
    "                         [--fixed-gain] [--json]\n"
    "  --ref FILE.rsd  a reference spectrum (at most 10)\n"
    "  --start CH      first channel of the fit (default: the Defaults' start channel)\n"
    "  --end CH        last channel of the fit (default: the Defaults' ending channel)\n"
    "  --fixed-gain    no gain search (every gain stays 1)\n"
    "  --json          the results as one JSON object\n";

bool parse_channel(const std::string& text, int& out) {
  const char* last = text.data() + text.size();
  auto r = std::from_chars(text.data(), last, out);
  return !text.empty() && r.ec == std::errc() && r.ptr == last && out >= 0;
}

}  // namespace

int cmd_fit_total(const Args& args) {
  std::string file;
  std::vector<std::string> refs;
  bool json = false, fixed_gain = false, options_ended = false;
  int start = -1, end = -1;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool has_value = i + 1 < args.size();
    if (!options_ended && a == "--") {
      options_ended = true;
    } else if (!options_ended && (a == "--help" || a == "-h")) {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (!options_ended && a == "--json") {
      json = true;
    } else if (!options_ended && a == "--fixed-gain") {
      fixed_gain = true;
    } else if (!options_ended && a == "--ref" && has_value) {
      refs.push_back(args[++i]);
    } else if (!options_ended && (a == "--start" || a == "--end") && has_value) {
      if (!parse_channel(args[++i], a == "--start" ? start : end))
        return usage_error("fit-total: " + a + " takes a channel number", kUsage);
    } else if (file.empty() && (options_ended || a.empty() || a[0] != '-')) {
      file = a;
    } else {
      return usage_error("fit-total: unexpected argument " + a, kUsage);
    }
  }
  if (file.empty()) return usage_error("fit-total: no SPECTRUM was given", kUsage);
  if (refs.empty()) return usage_error("fit-total: no reference spectrum (--ref FILE.rsd) was given", kUsage);

  HeadlessPlatform ui;
  ui.set_progress_enabled(!json);
  State state(ui);
  FrontEndServices services;
  services.supply(state);
  state.paths = default_paths();
  if (!initialise(state)) return 1;
  state.app.batch_mode = true;
  if (!parse_command_line(state, std::vector<std::string>{"file=" + file}).ok) return 1;
  // Only the references named here take part.
  state.references = ReferenceSet{};
  for (const std::string& ref : refs)
    if (!services.reference_fitting.load_reference_spectrum(ref, state.references, ui)) return 1;
  AnalysisParameters& p = state.params;
  p.reference_fitting = 1;
  p.reference_iterate_position = fixed_gain ? 0 : 1;
  if (start >= 0) p.reference_start = start;
  if (end >= 0) p.reference_end = end;
  if (!reference_analysis(state)) {
    c_fprintf(stderr, "kestrim fit-total: the fit of %s failed\n", file.c_str());
    return 1;
  }
  const ReferenceReport report = reference_report(state);
  const nlohmann::json list = references_json(state, refs);
  if (json) {
    const nlohmann::json j{{"spectrum", file}, {"chi_squared", report.chi_squared}, {"references", list}};
    c_printf("%s\n", j.dump(1).c_str());
    return 0;
  }
  c_printf("%s: %zu reference spectra, reduced chi-square %.4f\n", file.c_str(), report.rows.size(),
           report.chi_squared);
  for (const ReferenceReportRow& r : report.rows)
    c_printf("  %-15s %11.4g Bq +/- %5.1f %%  factor %.4f  shift %+.4f\n", text_as_utf8(r.title).c_str(), r.activity_bq,
             r.uncertainty_pct, r.factor, r.shift);
  c_printf("Reports: Main Report.txt, fit_diag.txt\n");
  return 0;
}

}  // namespace kestrim::cli
