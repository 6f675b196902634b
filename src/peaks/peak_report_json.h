// Search-and-fit of a whole spectrum and the peak list as JSON, for the
// `kestrim peaks` command.
#pragma once

#include <nlohmann/json.hpp>

namespace kestrim {

struct PeakSession;

// Searches the spectrum with the current parameters, then forms and fits
// every region in turn from the first peak on (choose continuum and fit).
// Each fitted peak receives its fitted area and uncertainty as net area,
// the FWHM in keV from its fitted sigma, the region's reduced chi-squared
// as goodness of fit, the region's bounds as fitting bounds, and a count
// rate = area / live time. Returns 1, or 0 when no spectrum is loaded.
int search_and_fit_all(const PeakSession& state);

// {"peaks": [ {index, energy (keV), centre (channel), fwhm (keV),
//   significance, area (net counts), area_uncertainty (1 sigma, counts),
//   area_uncertainty_percent (at PSIG sigma, as reported),
//   gammas_per_second, region_start, region_end, chi_squared}, ... ]}
// in peak order. Unfitted peaks carry zeros in the fitted fields.
nlohmann::json peaks_json(const PeakSession& state);

}  // namespace kestrim
