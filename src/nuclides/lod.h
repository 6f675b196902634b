// Limits of detection: how large a peak at an energy would have to be to be
// detected, determined or bounded, in gammas per second, and from it the
// limit in activity units for the nuclides of the LOD library.
//
// Limit in counts for B background counts and k = LSIG:
//   1 Critical Limit or LLD            k sqrt(B)
//   2 Minimum Detectable Activity      k^2 + 2 k sqrt(B)
//   3 Upper Limit                      N + k sqrt(B + N) with a peak area
//                                      N > 0 at the energy, else k sqrt(B)
//   4 Limit of Determination           g/2 (1 + sqrt(1 + 4B/g)),
//                                      g = (k/e)^2, e = MAXP / 100
//   5 LOD - maximum sample activity    type 4 x (1 + e)
// other types give 0. The counts are divided by the efficiency at the
// energy and by the live time (each when above 0).
#pragma once

#include <string>
#include <vector>

namespace kestrim {

struct NuclideSession;
struct ReportText;

inline constexpr int kLodCritical = 1;
inline constexpr int kLodMinimumDetectable = 2;
inline constexpr int kLodUpperLimit = 3;
inline constexpr int kLodDetermination = 4;
inline constexpr int kLodMaximumSample = 5;

// The name the reports print for a limit type ("" for 0 and unknown types
// print a blank).
const char* lod_type_name(int type);

// The limit in counts for background B, peak area N, sigma k and maximum
// peak area uncertainty maxp (%). Type 4 and 5 need maxp > 0 (else 0).
double limit_counts(int type, double background, double peak_area, double k, int maxp);

// The background estimate under a peak at an energy.
struct BackgroundCounts {
  double counts = 0;        // B
  double peak_area = 0;     // N (when computed)
  int region_start = 0, region_end = 0;  // channels, inclusive
  double span = 0;          // A = 6.005 sigma, the peak's channel span
  double channels = 0;      // n, channels in the region
  int nearest_peak = 0;     // the fitted peak within tol(E), 0 = none
};

// Background counts for energy E. `subtract_found`: a fitted peak near E is
// taken off the region's sum; `need_area`: the peak area N is computed (a
// single peak is fitted at E when no fitted peak lies within tol(E)).
// Diagnostic lines go to `diag` when not null.
BackgroundCounts background_counts(const NuclideSession& state, double energy_kev, bool subtract_found,
                                   bool need_area, ReportText* diag);

// Limit at energy, in gammas per second (in counts when the efficiency and
// live time are 0).
double limit_at_energy(const NuclideSession& state, double energy_kev, bool subtract_found, int type,
                       ReportText* diag);

// One nuclide of the LOD section.
struct LodRow {
  std::string name;
  double specific = 0;          // specific limit in the activity unit per quantity
  double decay_corrected = 0;
  bool too_old = false;         // sample age above 20 half-lives: no limit computed
};

// The LOD section: walks the LOD library (LLIB) with the streaming reader,
// writes "LOD Diagnostic.txt" in the working folder and returns the rows.
// Silent mode (template_mode false) appends a result entry (uncertainty 0)
// for each row; template mode leaves the rows to the main report writer and
// computes found nuclides too when the option to do so is on.
// Returns 1, or 0 when the library could not be opened (reported).
int lod_section(const NuclideSession& state, bool template_mode, std::vector<LodRow>& rows);

// Rounds half up to two significant figures (values above 0).
double round_two_figures(double value);

}  // namespace kestrim
