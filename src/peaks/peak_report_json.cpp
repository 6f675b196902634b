#include "peaks/peak_report_json.h"

#include <algorithm>
#include <string>

#include "peaks/peak_session.h"
#include "peaks/fit_engine.h"
#include "peaks/peak_region.h"
#include "peaks/peak_search.h"
#include "platform/platform.h"
#include "settings/calibration_functions.h"

namespace kestrim {

int search_and_fit_all(const PeakSession& state) {
  if (state.spectrum.channels() < 3) return 0;
  run_peak_search(state);
  PeakList& list = state.peaks;
  Region& r = list.region;
  const double gain = state.spectrum.calibration.energy_terms > 1 ? state.spectrum.calibration.energy[1] : 0.0;
  const double live = state.spectrum.header.live_time > 0 ? state.spectrum.header.live_time : state.spectrum.counts[0];
  r.first = 1;
  while (r.first >= 1 && r.first <= list.count) {
    if (state.ui->abort_requested()) return 1;
    std::string message;
    if (!form_region(state, message) || r.count < 1) {
      ++r.first;
      continue;
    }
    int ok = choose_continuum_and_fit(state);
    r.fitted = true;
    for (int i = 0; i < r.count; ++i) {
      int k = r.first + i;
      list.fitted_flag[k] = ok;
      list.net_area[k] = list.fitted_area[k];
      list.net_area_pct[k] = list.fitted_area_pct[k];
      list.fwhm_kev[k] = ok ? static_cast<float>(2.355 * r.sigma[i] * (gain > 0 ? gain : 1.0)) : 0.0f;
      list.goodness[k] = ok ? static_cast<float>(r.chi2) : 0.0f;
      list.fit_start[k] = r.start;
      list.fit_end[k] = r.end;
      list.gps[k] = live > 0 ? static_cast<float>(list.fitted_area[k] / live) : 0.0f;
      list.gps_pct[k] = list.fitted_area_pct[k];
    }
    r.first += std::max(r.count, 1);
  }
  list.fitted = true;
  return 1;
}

nlohmann::json peaks_json(const PeakSession& state) {
  const PeakList& list = state.peaks;
  const double psig = state.params.peak_sigma;
  nlohmann::json peaks = nlohmann::json::array();
  for (int k = 1; k <= list.count; ++k) {
    double area = list.net_area[k];
    double pct = list.net_area_pct[k];
    double abs_unc = psig > 0 ? pct / (psig * 100) * area : 0.0;
    peaks.push_back({{"index", k},
                     {"energy", channel_to_energy(state.spectrum.calibration, list.centre[k])},
                     {"centre", list.centre[k]},
                     {"fwhm", list.fwhm_kev[k]},
                     {"significance", list.significance[k]},
                     {"area", area},
                     {"area_uncertainty", abs_unc},
                     {"area_uncertainty_percent", pct},
                     {"gammas_per_second", list.gps[k]},
                     {"region_start", list.fit_start[k]},
                     {"region_end", list.fit_end[k]},
                     {"chi_squared", list.goodness[k]}});
  }
  return nlohmann::json{{"peaks", peaks}};
}

}  // namespace kestrim
