// kestrim analyse FILE [--json]: the whole batch analysis of one spectrum
// (peak search, fit of every region, identification, activities, limits
// and the reports in the current folder) with the Defaults in use, then the
// results: a short summary, or one JSON object whose fields are only ever
// added to.
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/analysis.h"
#include "app/command_line.h"
#include "app/settings_bridge.h"
#include "app/startup.h"
#include "app/state.h"
#include "commands.h"
#include "front_end_services.h"
#include "reference_json.h"
#include "nuclides/lod.h"
#include "peaks/peak_report_json.h"
#include "platform/c_locale.h"
#include "platform/files.h"
#include "platform/headless_platform.h"
#include "reports/main_report.h"
#include "settings/spectrum_info.h"

namespace kestrim::cli {

namespace {

const char* kUsage = "Usage: kestrim analyse FILE [--json]\n";

std::string library_name(const State& state, int index) {
  if (index < 0 || index >= static_cast<int>(state.library.nuclides.size())) return {};
  return to_string(state.library.nuclides[static_cast<std::size_t>(index)].name);
}

nlohmann::json analysis_json(State& state, const std::string& file) {
  const NuclideResults& res = state.results;
  nlohmann::json spectrum = spectrum_info_json(state.spectrum, file, state.app.spectrum_type);
  spectrum.erase("counts");

  nlohmann::json peaks = peaks_json(state)["peaks"];
  nlohmann::json unidentified = nlohmann::json::array();
  for (auto& p : peaks) {
    const int k = p["index"].get<int>();
    const std::string name = library_name(state, res.peak_owner[static_cast<std::size_t>(k)]);
    p["nuclide"] = name.empty() ? nlohmann::json(nullptr) : nlohmann::json(name);
    if (peak_unidentified(state, k)) unidentified.push_back(p);
  }

  nlohmann::json nuclides = nlohmann::json::array();
  for (const NuclideResult& r : res.results) {
    if (r.library_index < 0) continue;  // limits are listed below
    nlohmann::json flags = nlohmann::json::array();
    if (r.marker != ' ' && r.marker != 0) flags.push_back(std::string(1, r.marker));
    nuclides.push_back({{"name", r.name},
                        {"activity", r.decay_corrected},
                        {"uncertainty", r.absolute_uncertainty},
                        {"uncertainty_percent", r.uncertainty},
                        {"unit", res.activity_unit},
                        {"per", res.quantity_unit},
                        {"activity_at_count_bq", r.activity},
                        {"confidence", r.confidence},
                        {"flags", flags}});
  }

  nlohmann::json limits = nlohmann::json::array();
  std::vector<LodRow> rows;
  if (state.params.calculate_lod != 0 && lod_section(state, true, rows)) {
    for (const LodRow& row : rows) {
      nlohmann::json entry{{"name", row.name}, {"unit", res.activity_unit},
                           {"per", res.quantity_unit}, {"too_old", row.too_old}};
      entry["limit"] = row.too_old ? nlohmann::json(nullptr) : nlohmann::json(row.decay_corrected);
      entry["limit_at_count"] = row.too_old ? nlohmann::json(nullptr) : nlohmann::json(row.specific);
      entry["type"] = lod_type_name(state.params.lod_type);
      limits.push_back(entry);
    }
  }
  nlohmann::json j{{"spectrum", spectrum},
                   {"peaks", peaks},
                   {"nuclides", nuclides},
                   {"limits", limits},
                   {"unidentified", unidentified}};
  // Without an efficiency calibration the values are count rates per
  // emission ("unit" is "cps"), not activities.
  j["efficiency_calibrated"] = res.efficiency_calibrated;
  // Without an energy calibration nothing is identified and no limits are
  // given: the peaks have channels only.
  j["energy_calibrated"] = res.energy_calibrated;
  // The total-spectrum road: the fitted references instead of peaks.
  if (state.params.reference_fitting != 0) {
    j["chi_squared"] = state.references.chi_squared;
    j["references"] = references_json(state);
  }
  return j;
}

}  // namespace

int cmd_analyse(const Args& args) {
  FileArgs parsed;
  if (const int status = parse_file_args(args, "analyse", kUsage, parsed); status >= 0) return status;
  const std::string& file = parsed.file;
  const bool json = parsed.json;
  HeadlessPlatform ui;
  ui.set_progress_enabled(!json);
  State state(ui);
  FrontEndServices services;
  services.supply(state, true);
  state.paths = default_paths();
  if (!initialise(state)) return 1;
  state.app.batch_mode = true;
  state.app.batch_analysis = true;
  if (!parse_command_line(state, std::vector<std::string>{"file=" + file}).ok) return 1;
  if (run_command_line_batch(state, false, false) != 1) {
    c_fprintf(stderr, "kestrim analyse: the analysis of %s failed\n", file.c_str());
    return 1;
  }
  const nlohmann::json j = analysis_json(state, file);
  if (json) {
    c_printf("%s\n", j.dump(1).c_str());
    return 0;
  }
  c_printf("%s: %zu peaks, %zu nuclides, %zu unidentified peaks\n", file.c_str(), j["peaks"].size(),
           j["nuclides"].size(), j["unidentified"].size());
  for (const auto& n : j["nuclides"]) {
    std::string flags;
    for (const auto& f : n["flags"]) flags += f.get<std::string>();
    c_printf("  %-8s %-2s %11.4g +/- %-10.3g %s\n", n["name"].get<std::string>().c_str(),
             flags.c_str(), n["activity"].get<double>(), n["uncertainty"].get<double>(),
             n["unit"].get<std::string>().c_str());
  }
  c_printf("Reports: Main Report.txt, Activity Report.txt, Peak Fit Report.txt\n");
  return 0;
}

}  // namespace kestrim::cli
