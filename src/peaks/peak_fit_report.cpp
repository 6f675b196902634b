#include "peaks/peak_fit_report.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "app/state.h"
#include "nuclides/background_file.h"
#include "peaks/peak_search.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "reports/c_format.h"
#include "reports/template_engine.h"
#include "reports/template_reports.h"
#include "settings/calibration_functions.h"

namespace kestrim {

namespace {

// A report line passes the library names no further once it is this long.
constexpr std::size_t kDetailedLineLimit = 90;
constexpr std::size_t kMaxExistingReport = 64u << 20;

std::string path_in_working_dir(const State& s, const char* name) {
  return resolve_path(join_path(s.paths.working_dir, name));
}

bool batch_run(const State& s) { return s.app.batch_mode || s.app.batch_analysis; }

std::string trim_right(std::string t) {
  while (!t.empty() && t.back() == ' ') t.pop_back();
  return t;
}

}  // namespace

void flush_peak_fit_report(State& s) {
  // A report that cannot be written is skipped; the analysis goes on.
  write_text_atomic(path_in_working_dir(s, kPeakFitReportName), s.fitting.report);
}

void open_peak_fit_report(State& s) {
  DriverState& d = s.fitting;
  d.report.clear();
  d.report_open = true;
  if (s.peaks.fitted) {
    // A refit after every peak was fitted goes on at the end of the report.
    std::vector<std::uint8_t> bytes;
    if (read_file(path_in_working_dir(s, kPeakFitReportName), bytes, kMaxExistingReport))
      d.report.assign(bytes.begin(), bytes.end());
    return;
  }
  std::string tpl;
  if (read_template(s, kPeakFitTemplateName, tpl)) {
    TokenContext ctx(s);
    d.report = substitute_template(ctx, tpl, kPeakFitTemplateName, s.ui);
  } else {
    d.report = c_format("\r\n             Peak Fitting Report for Spectrum File :- %s\r\n\r\n", s.app.current_file.c_str());
  }
  d.report += "  Peak   Centre   FW_HM         Goodness   Peak     %      Gammas       %\r\n";
  d.report += " Energy  Channel  (keV)  Signif  of Fit    Area   Uncert.  per sec.   Uncert.\r\n\r\n";
  if (s.params.detailed_fit_report != 0)
    d.report += "         Fitting Region:- Start   Stop           Possible Nuclides\r\n\r\n";
}

void compute_rate(State& s, double energy, int k) {
  PeakList& list = s.peaks;
  double gps = list.net_area[k];
  const double live = s.spectrum.header.live_time;
  if (live > 0) gps /= live;
  EfficiencyWithUncertainty eff = efficiency_with_uncertainty(s.spectrum.calibration, energy, calibration_context(s));
  if (eff.efficiency > 0) gps /= eff.efficiency;
  double pct = list.net_area_pct[k];
  if (s.params.include_calibration_uncertainty != 0) {
    const double v = std::max(eff.relative_variance, 0.0);
    pct = 100 * std::sqrt((pct / 100) * (pct / 100) + v);
  }
  list.gps[k] = static_cast<float>(gps);
  list.gps_pct[k] = static_cast<float>(pct);
}

void write_region_report(State& s) {
  PeakList& list = s.peaks;
  const Region& r = list.region;
  DriverState& d = s.fitting;
  const CalibrationRecord& cal = s.spectrum.calibration;
  if (!d.report_open) open_peak_fit_report(s);
  const double gain = term_count(cal.energy_terms) >= 2 ? cal.energy[1] : 0.0;
  const bool subtract = s.params.background_cps_subtraction != 0 && !d.background_run;
  for (int i = 0; i < r.count && i < kMaxRegionPeaks; ++i) {
    const int k = r.first + i;
    if (k > list.count || !(list.centre[k] > 0)) continue;
    const double e = channel_to_energy(cal, list.centre[k]);
    double fwhm = 2.355 * r.cache_sigma[i];
    if (gain > 0) fwhm *= gain;
    list.fwhm_kev[k] = static_cast<float>(fwhm);
    list.net_area[k] = list.fitted_area[k];
    list.net_area_pct[k] = list.fitted_area_pct[k];
    list.goodness[k] = static_cast<float>(r.chi2);
    compute_rate(s, e, k);
    d.report += tidy_exponents(c_format(
        " %6.1f %7.1f %6.2f %7.1f %7.2f %9.0f %6.1f  %12.4e %6.1f\r\n", e, static_cast<double>(list.centre[k]), fwhm,
        static_cast<double>(list.significance[k]), static_cast<double>(list.goodness[k]),
        static_cast<double>(list.fitted_area[k]), static_cast<double>(list.fitted_area_pct[k]),
        static_cast<double>(list.gps[k]), static_cast<double>(list.gps_pct[k])));
    if (subtract) subtract_background_peak(s, k, e, d.report);
    if (s.params.detailed_fit_report != 0) {
      std::string line = c_format("                         %5d   %5d      ", r.start, r.end);
      const double tol = energy_tolerance(s.params, e);
      const NuclideLibrary& lib = s.library;
      bool full = false;
      for (int n = 0; n < lib.nuclide_count && !full; ++n) {
        auto [from, to] = lib.lines_of(n);
        for (int l = from; l < to; ++l) {
          const double le = lib.line_energy[l];
          if (!(le > e - tol && le < e + tol)) continue;
          if (line.size() > kDetailedLineLimit) {
            line += "....";
            full = true;
            break;
          }
          line += trim_right(to_string(lib.nuclides[n].name)) + " ";
        }
      }
      if (d.summation_used)
        line += "\r\n" + c_format(" The Currie Critical Limit is %2.0f counts", d.critical_limit);
      d.report += line + "\r\n\r\n";
    }
  }
}

void write_peak_database(State& s) {
  DriverState& d = s.fitting;
  PeakList& list = s.peaks;
  if (d.report_open) flush_peak_fit_report(s);
  d.report_open = false;
  d.report.clear();
  list.fitted = true;
  if (batch_run(s)) return;
  const std::string path = path_in_working_dir(s, kPeakDatabaseName);
  std::vector<std::uint8_t> bytes;
  std::string text;
  if (read_file(path, bytes, kMaxExistingReport)) text.assign(bytes.begin(), bytes.end());
  text += c_format("\"%s\",\"%s\"\r\n", s.app.current_file.c_str(),
                   trim_right(to_string(s.spectrum.header.title)).c_str());
  text += "\"Peak no.\",\"Energy\", \"Signif.\",\"Area\",\"% Uncert.\",\"GPS\",\"% Uncert.\"\r\n";
  for (int k = 1; k <= list.count; ++k) {
    if (list.fitted_flag[k] == 0 || !(list.net_area[k] > 0)) continue;
    text += tidy_exponents(c_format("%3d,%6.1f,%6.1f,%11.4e,%4.1f,%11.4e,%4.1f\r\n", k,
                                    channel_to_energy(s.spectrum.calibration, list.centre[k]),
                                    static_cast<double>(list.significance[k]), static_cast<double>(list.net_area[k]),
                                    static_cast<double>(list.net_area_pct[k]), static_cast<double>(list.gps[k]),
                                    static_cast<double>(list.gps_pct[k])));
  }
  write_text_atomic(path, text);
}

}  // namespace kestrim
