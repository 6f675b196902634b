// The unidentified-peak section of the activity report.
//
// A peak is unidentified when the reported nuclides explain less than a
// quarter of it and its net area is above 0. Each one gets a row with the
// library nuclides that have a line near its energy, and notes when it
// could be an escape, a double-escape or a sum peak of larger peaks.
#include <algorithm>
#include <cmath>
#include <string>

#include "reports/main_report.h"
#include "reports/report_session.h"
#include "nuclides/activity.h"
#include "nuclides/quant_common.h"
#include "platform/c_format.h"
#include "settings/calibration_functions.h"

namespace kestrim {
namespace {

constexpr double kUnidentifiedFraction = 0.25;
constexpr double kEscapeLowestParent = 1100;  // keV
constexpr std::size_t kPossibleNamesLength = 32;

bool reported(const ReportSession& s, int library_index) {
  for (const NuclideResult& r : s.results.results)
    if (r.library_index == library_index) return true;
  return false;
}

// Library nuclides with a line strictly inside energy +- half_window whose
// yield is not negligible for the nuclide (1 % of its largest line when it
// was reported, 10 % otherwise).
std::string possible_nuclides(const ReportSession& s, double energy, double half_window) {
  const NuclideLibrary& lib = s.library;
  std::string names;
  for (int n = 0; n < lib.nuclide_count && n < static_cast<int>(lib.nuclides.size()); ++n) {
    const auto [first, last] = lib.lines_of(n);
    double largest = 0;
    for (int l = first; l < last; ++l) largest = std::max(largest, static_cast<double>(lib.line_yield[l]));
    const double f = reported(s, n) ? 0.01 : 0.1;
    for (int l = first; l < last; ++l) {
      if (std::fabs(lib.line_energy[l] - energy) < half_window && lib.line_yield[l] > f * largest) {
        // The name field of the library is 8 characters, blank padded.
        std::string name = to_string(lib.nuclides[n].name);
        name.resize(8, ' ');
        names += name;
        break;
      }
    }
    if (names.size() > kPossibleNamesLength) break;
  }
  return names;
}

std::string owner_name(const ReportSession& s, int k) {
  const int owner = s.results.peak_owner[k];
  if (owner < 0 || owner >= static_cast<int>(s.library.nuclides.size())) return "";
  return to_string(s.library.nuclides[owner].name);
}

void escape_notes(const ReportSession& s, int k, double energy, double half_window, ReportText& act) {
  const PeakList& p = s.peaks;
  for (int j = p.count; j > k; --j) {
    const double ej = peak_energy(s, j);
    if (!(ej > kEscapeLowestParent)) break;
    if (!(p.gps[k] * 10 < p.gps[j])) continue;
    if (std::fabs(ej - 1022 - energy) < half_window) {
      act.line(c_format("    This could be the Double Escape Peak from the Peak at %6.1f keV.", ej));
      act.empty();
      return;
    }
    if (std::fabs(ej - 511 - energy) < half_window) {
      act.line(c_format("    This could be the Escape Peak from the Peak at %6.1f keV.", ej));
      act.empty();
    }
  }
}

void sum_notes(const ReportSession& s, int k, double energy, double tol, ReportText& act) {
  const PeakList& p = s.peaks;
  const CalibrationRecord& cal = s.spectrum.calibration;
  const double lo = energy - tol, hi = energy + tol;
  // Pulses add before the energy calibration does: the sum peak lies at the
  // sum of the two peaks' channels (the analyser's zero offset being a few
  // channels at most), even where a calibration fitted over a narrow range
  // misplaces energies far above it (a Co-60 sum peak read 2553 keV,
  // 1174.7 + 1334.7 = 2509 keV, at channel 759.2 = 357.1 + 403.8 - 1.7).
  const double gain =
      std::fabs(channel_to_energy(cal, p.centre[k] + 0.5) - channel_to_energy(cal, p.centre[k] - 0.5));
  const double tol_channels = gain > 0 ? tol / gain : 0;
  auto candidate = [&](int i, int j) {
    if (!(p.gps[i] > 3 * p.gps[k]) || !(p.gps[j] > 3 * p.gps[k])) return false;
    const double sum = peak_energy(s, i) + peak_energy(s, j);
    const double channels = p.centre[i] + p.centre[j];
    return (sum > lo && sum < hi) || std::fabs(channels - p.centre[k]) < tol_channels;
  };
  double largest = 0;
  for (int i = 1; i < k; ++i)
    for (int j = i; j < k; ++j)
      if (candidate(i, j)) largest = std::max(largest, static_cast<double>(p.gps[i]) * p.gps[j]);
  if (!(largest > 0)) return;
  for (int i = 1; i < k; ++i)
    for (int j = i; j < k; ++j) {
      if (!candidate(i, j) || !(static_cast<double>(p.gps[i]) * p.gps[j] > 0.3 * largest)) continue;
      act.line(c_format("    This could be the Sum Peak from the Peaks at %6.1f keV. and %6.1f keV.",
                        peak_energy(s, i), peak_energy(s, j)));
      const std::string a = owner_name(s, i), b = owner_name(s, j);
      if (!a.empty() || !b.empty())
        act.line(std::string(50, ' ') + c_format("( %-7.7s)      ( %-7.7s)", a.c_str(), b.c_str()));
      act.line(c_format("                              Gammas per second:- %9.2e  and  %9.2e",
                        static_cast<double>(p.gps[i]), static_cast<double>(p.gps[j])));
    }
}

}  // namespace

bool peak_unidentified(const ReportSession& state, int k) {
  return state.results.peak_sum[k] < kUnidentifiedFraction && state.peaks.net_area[k] > 0;
}

void append_unidentified_peaks(const ReportSession& state, ReportText& act) {
  const PeakList& p = state.peaks;
  bool any = false;
  for (int k = 1; k <= p.count; ++k) {
    if (!peak_unidentified(state, k)) continue;
    if (!any) {
      act.empty();
      act.line("The following Peak/s were unidentified :-");
      act.line(" ");
      act.line(" Peak  Peak    Gammas   Uncertainty   Possible Nuclide/s");
      act.line("Number Energy  per second    (%)");
      act.line(" ");
      any = true;
    }
    const double energy = peak_energy(state, k);
    const double tol = nuclide_tolerance(state.params, energy, state.results);
    const std::string names = possible_nuclides(state, energy, 1.5 * tol);
    act.line(c_format("%4d %8.2f  %11.4e  %6.2f   %s", k, energy, static_cast<double>(p.gps[k]),
                      static_cast<double>(p.net_area_pct[k]), names.c_str()));
    escape_notes(state, k, energy, 0.75 * tol, act);
    sum_notes(state, k, energy, tol, act);
  }
  if (!any) {
    act.empty();
    act.line(" All Peaks were identified.");
  }
}

}  // namespace kestrim
