#include "peaks/peak_fit_report.h"
#include "platform/text_encoding.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "peaks/peak_session.h"
#include "peaks/peak_search.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/c_format.h"
#include "settings/calibration_functions.h"

namespace kestrim {

namespace {

// A report line passes the library names no further once it is this long.
constexpr std::size_t kDetailedLineLimit = 90;
constexpr std::size_t kMaxExistingReport = 64u << 20;

std::string path_in_working_dir(const PeakSession& s, const char* name) {
  return resolve_path(join_path(s.paths.working_dir, name));
}

bool batch_run(const PeakSession& s) { return s.flags.batch_mode || s.flags.batch_analysis; }

std::string trim_right(std::string t) {
  while (!t.empty() && t.back() == ' ') t.pop_back();
  return t;
}

}  // namespace

void flush_peak_fit_report(const PeakSession& s) {
  // A report that cannot be written is reported and remembered, so that the
  // run that needed it fails.
  const std::string path = path_in_working_dir(s, kPeakFitReportName);
  std::string error;
  if (!write_text_atomic(path, text_as_utf8(s.fitting.report), &error, s.paths.write_faults)) {
    s.ui->message_box("Error Creating:- " + path + " (" + error + ")", {}, kMsgError);
    s.fitting.report_write_failed = true;
  }
}

void open_peak_fit_report(const PeakSession& s) {
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
  if (!s.headers.header(kPeakFitTemplateName, d.report)) {
    d.report = c_format("\r\n             Peak Fitting Report for Spectrum File :- %s\r\n\r\n", s.flags.current_file.c_str());
  }
  d.report += "  Peak   Centre   FW_HM         Goodness   Peak     %      Gammas       %\r\n";
  d.report += " Energy  Channel  (keV)  Signif  of Fit    Area   Uncert.  per sec.   Uncert.\r\n\r\n";
  if (s.params.detailed_fit_report != 0)
    d.report += "         Fitting Region:- Start   Stop           Possible Nuclides\r\n\r\n";
}

void compute_rate(const PeakSession& s, double energy, int k) {
  PeakList& list = s.peaks;
  double gps = list.net_area[k];
  const double live = s.spectrum.header.live_time;
  if (live > 0) gps /= live;
  EfficiencyWithUncertainty eff = efficiency_with_uncertainty(s.spectrum.calibration, energy, calibration_context(s.spectrum, s.flags));
  if (eff.efficiency > 0) gps /= eff.efficiency;
  double pct = list.net_area_pct[k];
  if (s.params.include_calibration_uncertainty != 0) {
    const double v = std::max(eff.relative_variance, 0.0);
    pct = 100 * std::sqrt((pct / 100) * (pct / 100) + v);
  }
  list.gps[k] = static_cast<float>(gps);
  list.gps_pct[k] = static_cast<float>(pct);
}

void write_region_report(const PeakSession& s) {
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

void write_peak_database(const PeakSession& s) {
  DriverState& d = s.fitting;
  PeakList& list = s.peaks;
  if (d.report_open) flush_peak_fit_report(s);
  d.report_open = false;
  d.report.clear();
  list.fitted = true;
  // A refit with library lines has its spectrum's peaks in the database
  // already.
  if (batch_run(s) || d.refit_with_library_lines) return;
  const std::string path = path_in_working_dir(s, kPeakDatabaseName);
  std::vector<std::uint8_t> bytes;
  std::string text;
  if (read_file(path, bytes, kMaxExistingReport)) text.assign(bytes.begin(), bytes.end());
  text += c_format("\"%s\",\"%s\"\r\n", s.flags.current_file.c_str(),
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

int subtract_background_peak(const PeakSession& s, int k, double energy, std::string& lines) {
  PeakList& list = s.peaks;
  const BackgroundRecord& bg = s.background;
  const double tol = identification_tolerance(s.params, energy);
  for (int i = 0; i < bg.peaks(); ++i) {
    const double eb = bg.energy[i];
    if (!(eb > energy - tol && eb < energy + tol)) continue;
    if (k < list.count) {
      const double next = channel_to_energy(s.spectrum.calibration, list.centre[k + 1]);
      if (std::fabs(next - eb) < std::fabs(energy - eb)) return 0;
    }
    const double live = s.spectrum.header.live_time;
    const double b = bg.rate[i] * live;
    const double sb = bg.rate_sigma[i] * live;
    const double bpct = bg.rate[i] != 0 ? bg.rate_sigma[i] * 100 / bg.rate[i] : 0;
    lines += c_format(" Background Peak found at:- %6.1f keV,%9.0f %6.1f\r\n", eb, b, bpct);
    const double area = list.net_area[k];
    const double ss = list.net_area_pct[k] * 0.01 * area;
    const double sigma = std::sqrt(sb * sb + ss * ss);
    const double net = area - b;
    const double rel = net > 0 ? sigma * 100 / net : 0;
    if (net > 0 && rel <= s.params.max_peak_uncertainty) {
      list.net_area[k] = static_cast<float>(net);
      list.net_area_pct[k] = static_cast<float>(rel);
      compute_rate(s, energy, k);
      lines += tidy_exponents(c_format(" Remaining Area at %6.1f keV is:-     %9.0f %6.1f  %12.4e %6.1f\r\n", energy,
                                       net, static_cast<double>(list.net_area_pct[k]),
                                       static_cast<double>(list.gps[k]), static_cast<double>(list.gps_pct[k])));
    } else {
      list.net_area[k] = 0;
      list.gps[k] = 0;
      lines += " This Peak was Eliminated.\r\n";
    }
    return 1;
  }
  return 0;
}

}  // namespace kestrim
