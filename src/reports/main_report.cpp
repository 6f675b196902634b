#include "reports/main_report.h"
#include "platform/text_encoding.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "reports/capabilities.h"
#include "reports/report_session.h"
#include "nuclides/activity.h"
#include "settings/library.h"
#include "nuclides/lod.h"
#include "nuclides/quant_common.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "reports/activity_database.h"
#include "reports/reference_report.h"
#include "platform/c_format.h"
#include "reports/row_format.h"
#include "reports/template_engine.h"
#include "reports/template_reports.h"

namespace kestrim {
namespace {

constexpr std::size_t kMaxTemplateBytes = 1u << 20;
constexpr char kSumPeakChar = static_cast<char>(0xE4);

// Appends a report line: exponent tidy-up and CR LF.
void put(std::string& out, std::string_view s) {
  out += tidy_exponents(s);
  out += "\r\n";
}

void round_pair(double& value, double& uncertainty_abs) {
  double u = std::min(std::fabs(uncertainty_abs), std::fabs(value));
  if (!(u > 0)) return;
  value = round_half_up_at(value, std::pow(10.0, std::floor(std::log10(u)) - 1));
  if (uncertainty_abs > 0)
    uncertainty_abs =
        round_up_at(uncertainty_abs, std::pow(10.0, std::floor(std::log10(uncertainty_abs)) - 1));
}

}  // namespace

std::vector<const NuclideResult*> ordered_results(const ReportSession& state) {
  std::vector<const NuclideResult*> v;
  for (const NuclideResult& r : state.results.results) v.push_back(&r);
  std::stable_sort(v.begin(), v.end(), [](const NuclideResult* a, const NuclideResult* b) {
    const int ia = a->library_index < 0 ? INT32_MAX : a->library_index;
    const int ib = b->library_index < 0 ? INT32_MAX : b->library_index;
    return ia < ib;
  });
  return v;
}

namespace {

std::string description_of(const ReportSession& state, int library_index) {
  if (library_index < 0 || library_index >= static_cast<int>(state.library.nuclides.size()))
    return "";
  return to_string(state.library.nuclides[library_index].description);
}

// Section 1: one row per reported nuclide, then the legends.
void activity_rows(const ReportSession& state, TemplateProcessor& tp, std::string& out) {
  std::string format;
  if (!tp.next_raw_line(format)) return;
  const PeakList& list = state.peaks;
  if (list.count == 0) {
    put(out, " No Significant Peaks were found.");
    put(out, "");
    return;
  }
  bool any_area = false;
  for (int k = 1; k <= list.count; ++k) any_area = any_area || list.net_area[k] > 0;
  if (!any_area) {
    put(out, " All Peaks were eliminated by Background Subtraction.");
    put(out, "");
    return;
  }
  const int conversions = count_conversions(format);
  bool question = false, star = false, bang = false;
  for (const NuclideResult* r : ordered_results(state)) {
    const std::string name = marked_name(r->name, r->marker);
    bool sum_peak = false;
    for (std::size_t i = 3; i < 8 && i < r->name.size(); ++i) sum_peak |= r->name[i] == kSumPeakChar;
    if (sum_peak) {
      std::string shown = r->name;
      std::replace(shown.begin(), shown.end(), kSumPeakChar, ' ');
      put(out, c_format("     *** Warning : Sum Peaks of %s were found. ***", shown.c_str()));
      put(out, "");
      continue;
    }
    question |= r->marker == '?' || r->marker == '#';
    star |= r->marker == '*' || r->marker == '#';
    bang |= r->marker == '!';
    std::vector<RowValue> values{name, r->confidence, r->activity, r->uncertainty,
                                 r->decay_corrected, r->absolute_uncertainty};
    if (conversions != 6) values.emplace_back(state.results.activity_unit);
    put(out, format_row(format, values));
    if (state.params.nuclide_descriptions != 0) {
      put(out, c_format("     %s", description_of(state, r->library_index).c_str()));
      put(out, "");
    }
  }
  if (question) put(out, "     ? represents:- Cannot determine which of these Nuclides are present.");
  if (star) put(out, "     * represents:- One or more Peaks failed the Limit of Detection test.");
  if (bang) put(out, "     ! represents:- All Peak Activity values were inconsistant.");
}

// Section 2: the limits of detection of the LOD library.
bool limit_rows(const ReportSession& state, TemplateProcessor& tp, std::string& out) {
  std::string format;
  if (!tp.next_raw_line(format)) return true;
  std::vector<LodRow> rows;
  // Limits that could not be worked out (their library unreadable, their
  // diagnostic file not written) leave the report incomplete.
  if (!lod_section(state, true, rows)) return false;
  for (const LodRow& row : rows) {
    if (row.too_old) {
      put(out, c_format("     The Sample age is > 20 times the Halflife of %s", row.name.c_str()));
      continue;
    }
    put(out, format_row(format, {row.name, row.specific, row.decay_corrected}));
  }
  return true;
}

// Section 3: the reported nuclides of a second library, in its order. When
// limits are calculated, the LOD library's limits join the results first
// (marked "<"); they are taken out again afterwards so that the activity
// database and the other outputs never read a limit as an activity.
void second_library_rows(const ReportSession& state, TemplateProcessor& tp, std::string& out) {
  std::string format;
  if (!tp.next_raw_line(format)) return;
  const AnalysisParameters& p = state.params;
  const std::vector<NuclideResult> kept = state.results.results;
  const bool kept_full = state.results.results_full;
  struct Restore {
    const ReportSession& state;
    const std::vector<NuclideResult>& kept;
    bool full;
    ~Restore() {
      state.results.results = kept;
      state.results.results_full = full;
    }
  } restore{state, kept, kept_full};
  if (p.calculate_lod != 0) {
    std::vector<LodRow> limits;
    lod_section(state, false, limits);
  }
  const std::string title =
      to_string(p.calculate_lod != 0 ? p.lod_library : p.peak_search_library);
  LibraryReader reader;
  if (title.empty() || !reader.open_title(*state.ui, state.paths, title)) return;
  const int conversions = count_conversions(format);
  CurrentNuclide n;
  while (reader.next(n) == 1) {
    const std::string name = to_string(n.nuclide.name);
    auto cut = [](std::string s) {
      const auto sp = s.find_first_of(" ");
      return sp == std::string::npos ? s : s.substr(0, sp);
    };
    for (const NuclideResult& r : state.results.results) {
      if (!iequals(cut(r.name), cut(name.substr(0, 7)))) continue;
      const std::string marker = r.uncertainty == 0 && r.activity > 0 ? "<" : " ";
      const std::string second = r.uncertainty == 0 ? "" : " ";
      std::vector<RowValue> v;
      if (conversions < 4)
        v = {r.name, marker, r.decay_corrected};
      else if (conversions <= 5)
        v = {r.name, marker, r.activity, marker, r.decay_corrected};
      else
        v = {r.name, marker, r.activity, marker, r.decay_corrected, second, r.absolute_uncertainty};
      put(out, format_row(format, v));
      break;
    }
  }
}

// Section 22: skipped up to its END token while reference fitting is off.
// Returns true when the report ends with the block.
bool reference_block(const ReportSession& state, const TokenContext& ctx, TemplateProcessor& tp,
                     std::string& out) {
  if (state.params.reference_fitting == 0) {
    std::string line;
    while (tp.next_raw_line(line)) {
      std::string upper = to_upper(line);
      for (std::size_t q = upper.find('?'); q != std::string::npos; q = upper.find('?', q + 1))
        if (upper.compare(q + 1, 3, "END") == 0 &&
            (q + 4 >= upper.size() || upper[q + 4] == ' '))
          return false;
    }
    return true;
  }
  // SPEC lines name each fitted reference; ACTS rows take the next template
  // line as their format: title, activity (Bq), uncertainty (%), factor,
  // shift, file name. Without a fit only the text is printed.
  const ReferenceReport* fit = state.reference_fit;
  for (;;) {
    const int code = tp.process(ctx, out);
    if (code == kSectionEnd || code == kSectionEndBlock) return true;
    if (code == kSectionReference && fit != nullptr) {
      for (const std::string& line : reference_file_lines(*fit)) put(out, line);
    } else if (code == kSectionActivities) {
      std::string format;
      if (!tp.next_raw_line(format) || fit == nullptr) continue;
      for (const ReferenceReportRow& r : fit->rows)
        put(out, format_row(format, {r.title, r.activity_bq, r.uncertainty_pct, r.factor, r.shift,
                                     r.name}));
    }
  }
}

}  // namespace

std::vector<std::string> reference_file_lines(const ReferenceReport& report) {
  std::vector<std::string> lines;
  for (const ReferenceReportRow& r : report.rows)
    lines.push_back(c_format("File:- %s, factor is %6.4f +/- %3.2f%%, Shift:- %5.3f", r.name.c_str(),
                             r.factor, r.factor_uncertainty_pct, r.shift));
  return lines;
}

void round_result(NuclideResult& r) {
  double u = r.activity * r.uncertainty / 100;
  round_pair(r.activity, u);
  if (r.uncertainty > 0)
    r.uncertainty = round_up_at(r.uncertainty, std::pow(10.0, std::floor(std::log10(r.uncertainty)) - 1));
  round_pair(r.decay_corrected, r.absolute_uncertainty);
}

std::string marked_name(const std::string& name, char marker) {
  std::string s = name.substr(0, std::min<std::size_t>(name.size(), 9));
  s.resize(9, ' ');
  for (char& c : s)
    if (c == '\0') c = ' ';
  if (marker == '?' || marker == '!') s[7] = marker;
  if (marker == '*') s[8] = '*';
  if (marker == '#') {
    s[7] = '?';
    s[8] = '*';
  }
  return s;
}

bool fetch_template(const ReportSession& state, const std::string& name, std::string& text) {
  if (read_template(state, name, text)) return true;
  if (state.paths.program_dir.empty()) return false;
  const std::string shipped = resolve_path(join_path(join_path(state.paths.program_dir, "Templates"), name));
  std::vector<std::uint8_t> bytes;
  if (!file_exists(shipped) || !read_file(shipped, bytes, kMaxTemplateBytes)) return false;
  text.assign(bytes.begin(), bytes.end());
  const std::string target = join_path(state.paths.working_dir, name);
  if (!file_exists(resolve_path(target))) write_text_atomic(target, text, nullptr);
  return true;
}

std::string build_main_report(const ReportSession& state, const TokenContext& ctx, const std::string& tpl,
                              const std::string& tpl_name, bool* complete) {
  std::string out;
  out += "\r\n";
  const int pad = std::max(0, (78 - static_cast<int>(std::string(kReportHeading).size())) / 2);
  put(out, std::string(pad, ' ') + kReportHeading);
  // UNPK needs the unidentified peaks, known only now: blanks when some
  // unidentified peak has an area uncertainty of at most 30 %, else the
  // line is dropped.
  TokenTable samples = sample_tokens();
  samples.set({"UNPK", 5, [](const TokenContext& c) {
                 const PeakList& p = c.state.peaks;
                 for (int k = 1; k <= p.count; ++k)
                   if (c.state.results.peak_sum[k] < 0.25 && p.net_area[k] > 0 && p.net_area_pct[k] <= 30)
                     return TokenValue::text_value(std::string(5, ' '));
                 return TokenValue::drop();
               }});
  TemplateProcessor tp(tpl, tpl_name, state.ui);
  tp.set_tables({&samples, &parameter_tokens()});
  for (;;) {
    const int code = tp.process(ctx, out);
    if (code == kSectionEnd || code == kSectionEndBlock) break;
    if (code == kSectionActivities) {
      activity_rows(state, tp, out);
      if (!state.results.energy_calibrated) put(out, std::string(" ") + kUncalibratedEnergyNotice);
      else if (!state.results.efficiency_calibrated) put(out, std::string(" ") + kUncalibratedEfficiencyNotice);
    }
    else if (code == kSectionLimits) {
      if (!limit_rows(state, tp, out) && complete) *complete = false;
    }
    else if (code == kSectionSecondLibrary) second_library_rows(state, tp, out);
    else if (code == kSectionCustom) custom_report_section(state, tp, out);
    else if (code == kSectionReference && reference_block(state, ctx, tp, out)) break;
  }
  return out;
}

int write_main_report(const ReportSession& state) {
  const AnalysisParameters& p = state.params;
  if (p.round_activities != 0 && p.reference_fitting == 0)
    for (NuclideResult& r : state.results.results) round_result(r);
  std::string name = to_string(p.report_template);
  if (name.empty()) name = "report.tpl";
  if (!stays_inside(name)) {
    state.ui->message_box("The report template must be a file in the working folder:- " + name, {}, kMsgError);
    return 0;
  }
  std::string tpl;
  if (!fetch_template(state, name, tpl)) {
    state.ui->message_box("Could not find the template file:- " + name);
    return 0;
  }
  TokenContext ctx(state);
  bool complete = true;
  const std::string report = text_as_utf8(build_main_report(state, ctx, tpl, name, &complete));
  const std::string& wd = state.paths.working_dir;
  std::string error;
  if (!write_text_atomic(join_path(wd, kMainReport), report, &error, state.paths.write_faults)) {
    state.ui->message_box(std::string("Error Creating:- ") + join_path(wd, kMainReport), "", kMsgError);
    return 0;
  }
  bool exported = true;
  if (p.update_database != 0 && p.database_odbc == 0) {
    exported = update_activity_database(state) == 1;
  } else if (p.update_database != 0) {
    if (state.activity_database == nullptr) {
      state.ui->message_box("The ODBC activity database is not available in this build", {}, kMsgWarning);
      exported = false;
    } else {
      exported = state.activity_database->export_results(state) == 1;
    }
  }
  const std::string file = base_name(state.flags.current_file);
  const auto dot = file.rfind('.');
  const std::string stem = dot == std::string::npos ? file : file.substr(0, dot);
  bool written = true;
  // A copy of the report may never replace the spectrum it reports on.
  auto write_copy = [&](const std::string& path) {
    if (same_file(path, state.flags.spectrum_path)) {
      state.ui->message_box("The report would replace the spectrum file:- " + path, {}, kMsgError);
      written = false;
      return;
    }
    if (!write_text_atomic(path, report, &error, state.paths.write_faults)) {
      state.ui->message_box("Error Creating:- " + path + " (" + error + ")", {}, kMsgError);
      written = false;
    }
  };
  // The named copy keeps the spectrum's whole name ("s.txt" reports into
  // "s.txt.txt"), so that it never takes the name of a spectrum.
  if (p.named_reports != 0 && !file.empty()) write_copy(join_path(wd, file + ".txt"));
  if (p.numbered_reports != 0 && !stem.empty()) {
    bool placed = false;
    for (int n = 1; n <= 999 && !placed; ++n) {
      const std::string path = join_path(wd, c_format("%s.%03d", stem.c_str(), n));
      if (file_exists(resolve_path(path))) continue;
      write_copy(path);
      placed = true;
    }
    if (!placed) {
      state.ui->message_box("No free numbered report name for:- " + stem, {}, kMsgError);
      written = false;
    }
  }
  if (file_exists(resolve_path(join_path(wd, "Header Report.tpl"))) && !write_header_report(state))
    written = false;
  return exported && written && complete ? 1 : 0;
}

}  // namespace kestrim
