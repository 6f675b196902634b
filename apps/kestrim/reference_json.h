// The references of the last total-spectrum fit as the JSON that
// `kestrim fit-total --json` and `kestrim analyse --json` print.
#pragma once

#include <cmath>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/reference_analysis.h"
#include "app/state.h"
#include "platform/text_encoding.h"

namespace kestrim::cli {

// One object per reference, in the set's order; `files` names them (the
// paths the references were read from when it is empty).
inline nlohmann::json references_json(const State& state, const std::vector<std::string>& files = {}) {
  const ReferenceReport report = reference_report(state);
  nlohmann::json list = nlohmann::json::array();
  for (std::size_t k = 0; k < report.rows.size() && k < state.references.spectra.size(); ++k) {
    const ReferenceReportRow& r = report.rows[k];
    list.push_back({{"file", text_as_utf8(k < files.size() ? files[k] : state.references.spectra[k].path)},
                    {"title", text_as_utf8(r.title)},
                    {"factor", r.factor},
                    {"factor_uncertainty", std::fabs(r.factor) * r.factor_uncertainty_pct * 0.01},
                    {"gain", state.references.spectra[k].gain},
                    {"gain_uncertainty", std::sqrt(state.references.spectra[k].gain_variance)},
                    {"activity_bq", r.activity_bq},
                    {"uncertainty_percent", r.uncertainty_pct}});
  }
  return list;
}

}  // namespace kestrim::cli
