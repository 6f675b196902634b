// A hand-built session for the report tests: every value the tokens print
// is set to something recognisable.
#pragma once

#include <string>

#include "app/state.h"
#include "platform/binio.h"
#include "platform/scripted_platform.h"
#include "reports/template_engine.h"

namespace kestrim::test {

// 14 March 2024, 09:05, the "now" of every report test.
inline const DateTime kNow{14, 3, 2024, 9, 5};

inline void fill_state(State& s) {
  SpectrumHeader& h = s.spectrum.header;
  set_title(h, "Soil core A", "Field 3");
  assign(h.user, "J. Smith");
  h.sample_number = 1234;
  h.detector = 3;
  h.geometry = 2;
  h.mca = 1;
  h.adc = 4;
  h.channels = 1024;
  h.live_time = 3600.7f;
  h.true_time = 3700.0f;
  h.saved = {13, 3, 2024, 17, 45};
  h.collected = {12, 3, 2024, 14, 30};
  h.sampled = {10, 3, 2024, 11, 30};  // 2 days 3 hours before collection
  h.sample_size = 1.25f;
  assign(h.units, "kg");
  h.correction_factor = 1.0f;
  h.sampling_uncertainty = 7.5f;
  assign(h.location, "North field");
  assign(h.sample_id, "S-0042");
  CalibrationRecord& c = s.spectrum.calibration;
  c.energy_terms = 2;
  c.energy = {0.0f, 3.0f, 0.0f};
  c.energy_date = {1, 2, 2024};
  c.energy_time = {8, 0};
  c.efficiency_date = {2, 2, 2024};
  c.efficiency_time = {16, 20};
  assign(c.geometry_text, "1 litre Marinelli");
  c.uncertainty = 4.0f;
  s.background.collected = DateTime{7, 1, 2024, 6, 5};
  s.background.live_time = 86400.0f;
  s.app.current_file = "soil_a.dat";
  s.app.version = "Kestrim test";
  AnalysisParameters& p = s.params;
  p.defaults_number = 3;
  p.energy_tolerance = 1.5f;
  p.peak_sigma = 2.0f;
  p.search_start = 10;
  p.search_stop = 1000;
  p.max_activity_uncertainty = 25.7f;
  p.activity_factor = 1.0f;
  assign(p.activity_unit, "Bq", false);
  assign(p.analysis_library, "NaI_std.lib");
  p.lod_type = 2;
  p.calculate_lod = 1;
  p.include_calibration_uncertainty = 1;
}

// Substitutes `text` on a filled state at kNow; the warnings go to `ui`.
inline std::string run_template(State& s, const std::string& text, const std::string& name = "t.tpl") {
  TokenContext ctx(s, kNow);
  return substitute_template(ctx, text, name, s.ui);
}

// The first output line of a one-line template, without its CR LF.
inline std::string one_line(State& s, const std::string& line) {
  std::string out = run_template(s, line);
  std::size_t end = out.find("\r\n");
  return end == std::string::npos ? out : out.substr(0, end);
}

}  // namespace kestrim::test
