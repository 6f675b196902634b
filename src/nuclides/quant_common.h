// Helpers shared by identification, activities and limits of detection:
// the energy tolerance, peak energies and rates, and the report texts.
#pragma once

#include <string>
#include <string_view>

namespace kestrim {

struct NuclideSession;
struct NuclideResults;
struct AnalysisParameters;

// tol(E) = (0.25 ETOL + k ETOL E) x the results' tolerance scale, in keV;
// k = 0.00075, or 0.0015 when the analysis runs with the automatic energy
// re-calibration.
double nuclide_tolerance(const AnalysisParameters& p, double energy_kev, const NuclideResults& res);
// The tolerance of a library line: tol(E), but ETOL itself for the
// annihilation line (510 < E < 512 keV).
double line_tolerance(const AnalysisParameters& p, double energy_kev, const NuclideResults& res);
// The tolerance scale of a spectrum whose resolution was measured because
// it came without a width calibration (`measured_ratio`: its FWHM relative
// to NaI's; 0 when not measured): 1 for NaI's resolution or a coarser one;
// for a finer one (LaBr3, CZT, HPGe) its ratio to the lowest NaI-like one,
// at least 0.35 (foreign energy calibrations are seldom better). A width
// calibration the user made comes with a tolerance chosen for it.
double tolerance_scale(double measured_ratio);

// Energy of peak k through the spectrum's calibration.
double peak_energy(const NuclideSession& state, int k);
// The fitted peak nearest an energy (ties keep the earlier peak); 0 when
// there is none.
int nearest_peak(const NuclideSession& state, double energy_kev);
// The fitted peak nearest an energy within the nuclide tolerance (ties keep
// the earlier peak), as the activity databases pair energies with peaks;
// 0 when none.
int peak_matching_energy(const NuclideSession& state, double energy_kev);
// Full-energy efficiency at an energy through the spectrum's calibration.
double efficiency_at_energy(const NuclideSession& state, double energy_kev);

// Sets every peak's gammas per second from its net area: area / live time
// / efficiency at its energy (each divisor only when above 0), keeping its
// area uncertainty.
void refresh_peak_emission_rates(const NuclideSession& state);

// A report being written: lines end in CR LF and pass through the exponent
// tidy-up. Lines given while `enabled` is false are dropped.
struct ReportText {
  std::string text;
  bool enabled = true;
  void line(std::string_view s);
  void empty() { line(""); }
};

}  // namespace kestrim
