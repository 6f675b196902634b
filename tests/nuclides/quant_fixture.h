// A state with a hand-made fitted peak list on a 1 keV-per-channel spectrum
// and a library built in memory, for the identification and activity tests.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/state.h"
#include "settings/library.h"
#include "nuclides/quant_common.h"
#include "peaks/peak_search.h"
#include "platform/files.h"
#include "platform/scripted_platform.h"
#include "support/test_support.h"

namespace kestrim::test {

struct LibLine {
  double energy, yield, uncertainty;
};

inline void add_nuclide(NuclideLibrary& lib, const std::string& name, double half_life_min,
                        std::vector<LibLine> lines, double principal = 0) {
  CurrentNuclide cur;
  assign(cur.nuclide.name, name);
  cur.nuclide.half_life = static_cast<float>(half_life_min);
  cur.nuclide.principal_energy = static_cast<float>(principal);
  cur.line_count = static_cast<int>(lines.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    cur.energy[i] = static_cast<float>(lines[i].energy);
    cur.yield[i] = static_cast<float>(lines[i].yield);
    cur.uncertainty[i] = static_cast<float>(lines[i].uncertainty);
  }
  lib.append(cur);
}

struct QuantState {
  ScriptedPlatform ui;
  TempDir dir;
  std::unique_ptr<State> state = std::make_unique<State>(ui);

  // 2048 channels of `level` counts, 1 keV per channel, sigma 3 channels,
  // live and true time 100 s, a flat efficiency curve of exactly 1.0 (one
  // term, ln eff = 0): activities in Bq equal to the emission rates. (Without
  // any efficiency calibration the results would be count rates in cps.)
  explicit QuantState(double level = 10) {
    SpectrumRecord& s = state->spectrum;
    s.clear();
    s.header.channels = 2048;
    s.header.live_time = s.header.true_time = 100;
    s.header.collected = s.header.sampled = {1, 1, 2026, 0, 0};
    for (int x = 2; x < 2048; ++x) s.counts[x] = static_cast<float>(level);
    s.calibration.energy_terms = 2;
    s.calibration.energy = {0.0f, 1.0f, 0.0f};
    s.calibration.width_terms = 1;
    s.calibration.width = {3.0f, 0.0f, 0.0f};
    s.calibration.high_eff_terms = 1;
    s.calibration.high_eff = {};
    use_standard_peak_parameters(state->params, 2048);
    AnalysisParameters& p = state->params;
    p.energy_tolerance = 2;  // tol(662) = 0.5 + 0.993 = 1.493 keV
    p.min_confidence = 0.3f;
    p.activity_sigma = 1;
    p.peak_sigma = 1;
    p.max_activity_uncertainty = 50;
    p.lod_sigma = 1.645f;
    p.max_peak_uncertainty = 10;
    p.lod_check_threshold = 0;
    state->paths.working_dir = state->paths.user_dir = state->paths.program_dir = dir.path();
    // The main report needs a template: an analysis without one fails.
    test::write_text(dir.file("report.tpl"), "Report of ?SPCF\r\n");
    state->peaks.region.first_live = 10;
    state->results.lower = 10;
    state->results.upper = 2047;
  }

  // Appends a fitted peak (peaks must be added in ascending energy) with
  // net area `area` counts and area uncertainty `pct` % at PSIG sigma.
  int add_peak(double energy, double area, double pct = 1) {
    PeakList& l = state->peaks;
    const int k = ++l.count;
    l.centre[k] = static_cast<float>(energy);
    l.centre_channel[k] = static_cast<int>(energy + 0.5);
    l.net_area[k] = static_cast<float>(area);
    l.net_area_pct[k] = static_cast<float>(pct);
    l.fitted = true;
    refresh_peak_emission_rates(*state);
    return k;
  }

  std::string diag_text() const { return state->results.diagnostic_report; }

  // Where a library of that title is found by the analysis.
  std::string library_file(const std::string& title) const {
    make_directories(dir.file("Libraries"));
    return dir.file("Libraries/" + title);
  }
};

// True when `text` holds `line` as a whole CR LF line.
inline bool has_line(const std::string& text, const std::string& line) {
  return ("\r\n" + text).find("\r\n" + line + "\r\n") != std::string::npos;
}

}  // namespace kestrim::test
