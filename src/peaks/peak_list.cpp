#include "peaks/peak_list.h"

namespace kestrim {

void PeakList::move_slot(int from, int to) {
  centre[to] = centre[from];
  centre_channel[to] = centre_channel[from];
  fit_start[to] = fit_start[from];
  fit_end[to] = fit_end[from];
  window_start[to] = window_start[from];
  window_end[to] = window_end[from];
  region_choice[to] = region_choice[from];
  significance[to] = significance[from];
  net_area[to] = net_area[from];
  net_area_pct[to] = net_area_pct[from];
  gps[to] = gps[from];
  gps_pct[to] = gps_pct[from];
  fwhm_kev[to] = fwhm_kev[from];
  goodness[to] = goodness[from];
  library_confirmed[to] = library_confirmed[from];
  unconditional[to] = unconditional[from];
  fitted_area[to] = fitted_area[from];
  fitted_area_pct[to] = fitted_area_pct[from];
  fitted_area_continuum_sd[to] = fitted_area_continuum_sd[from];
  fitted_region_start[to] = fitted_region_start[from];
  fitted_flag[to] = fitted_flag[from];
  backscatter[to] = backscatter[from];
  library_line[to] = library_line[from];
  library_line_area[to] = library_line_area[from];
}

void PeakList::clear_slot(int k) {
  centre[k] = 0;
  centre_channel[k] = 0;
  fit_start[k] = fit_end[k] = 0;
  window_start[k] = window_end[k] = 0;
  region_choice[k] = 0;
  significance[k] = 0;
  net_area[k] = net_area_pct[k] = 0;
  gps[k] = gps_pct[k] = 0;
  fwhm_kev[k] = goodness[k] = 0;
  library_confirmed[k] = unconditional[k] = 0;
  fitted_area[k] = fitted_area_pct[k] = 0;
  fitted_area_continuum_sd[k] = 0;
  fitted_region_start[k] = 0;
  fitted_flag[k] = 0;
  backscatter[k] = 0;
  library_line[k] = 0;
  library_line_area[k] = 0;
}

}  // namespace kestrim
