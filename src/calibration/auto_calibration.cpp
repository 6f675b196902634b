#include "calibration/auto_calibration.h"
#include "platform/c_locale.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "peaks/region_driver.h"
#include "calibration/calibration_session.h"
#include "calibration/calibration_checks.h"
#include "spectrum/point_fit.h"
#include "peaks/peak_search.h"
#include "platform/c_format.h"
#include "platform/platform.h"
#include "settings/calibration_functions.h"
#include "settings/detector_file.h"

namespace kestrim {

namespace {

std::string fmt1(const char* format, double v) {
  char buf[160];
  c_snprintf(buf, sizeof buf, format, v);
  return buf;
}

void refresh_goodness(const CalibrationSession& state, AutoCalibration& ac) {
  std::vector<double> diffs;
  if (ac.calibrated)
    for (const CalPoint& p : ac.list.points)
      if (p.energy > 0) diffs.push_back(p.energy - channel_to_energy(state.spectrum.calibration, p.channel));
  ac.goodness = rms(diffs);
}

}  // namespace

double auto_energy_tolerance(const CalibrationSession& state, double energy_kev) {
  const double etol = state.params.energy_tolerance;
  return 0.25 * etol + 0.0015 * etol * energy_kev;
}

int prepare_auto_calibration(const CalibrationSession& state, AutoCalibration& ac) {
  CalibrationCopies copies;
  if (!check_before_auto_calibration(state, copies)) return 0;
  ac.saved_calibration = copies.calibration;
  ac.saved_list = ac.list;
  ac.mode = true;
  return 1;
}

int setup_auto_points(const CalibrationSession& state, AutoCalibration& ac) {
  const CalibrationRecord& cal = state.spectrum.calibration;
  CalPointList& list = ac.list;
  list.points.clear();
  list.terms = std::clamp(term_count(cal.energy_terms), 2, 3);
  list.log_function = cal.energy_form != 0;
  list.choice = list.terms == 2 ? CalPointList::Choice::kFirstOrder
                : list.log_function ? CalPointList::Choice::kLog
                                    : CalPointList::Choice::kSecondOrder;
  ac.calibrated = false;
  const int stored = std::clamp(term_count(cal.energy_count), 0, kMaxCalibrationEnergies);
  const PeakList& peaks = state.peaks;
  for (int i = 0; i < stored; ++i) {
    const double e = cal.energies[i];
    const double t = auto_energy_tolerance(state, e);
    int found = 0;
    for (int k = 1; k <= peaks.count; ++k) {
      const double pe = channel_to_energy(cal, peaks.centre[k]);
      if (pe > e - t && pe < e + t) {
        found = k;
        break;
      }
    }
    if (found == 0) {
      state.ui->message_box(fmt1("Warning, no Peak was found near %3.0f keV", e),
                            "There was a Peak at this Energy in the original calibration", kMsgWarning);
      continue;
    }
    CalPoint p;
    p.channel = peaks.centre[found];
    p.energy = e;
    p.old_energy = channel_to_energy(cal, p.channel);
    p.peak = found;
    list.points.push_back(p);
  }
  if (list.count() >= 2) {
    state.ui->set_status("Select a 1st or 2nd order Calibration function");
    if (list.count() < 3) {
      list.terms = 2;
      list.choice = CalPointList::Choice::kFirstOrder;
    }
    return 1;
  }
  state.ui->message_box(list.count() == 1 ? "Only 1 matching Peak was found"
                                          : "No matching Peaks were found");
  state.ui->set_status("Could not re-calibrate");
  return 0;
}

int calibrate_auto(const CalibrationSession& state, AutoCalibration& ac) {
  CalPointList& list = ac.list;
  int terms = 3;
  bool log = false;
  if (ac.batch) {
    if (list.count() < 3) terms = 2;
  } else if (list.choice == CalPointList::Choice::kLog) {
    log = true;
  } else if (list.choice == CalPointList::Choice::kFirstOrder) {
    terms = 2;
  }
  std::array<double, 3> c{};
  if (!fit_energy_points(list.points, terms, log, c)) return 0;
  if (terms < 3) log = false;
  list.terms = terms;
  list.log_function = log;
  CalibrationRecord& cal = state.spectrum.calibration;
  store_energy_calibration(cal, terms, log, c);
  ac.calibrated = true;
  state.flags.energy_calibration_changed = true;
  state.flags.calibration_modified = true;
  state.flags.display_refresh = true;
  refresh_goodness(state, ac);
  return 1;
}

std::vector<std::string> auto_point_lines(const CalibrationSession& state, const AutoCalibration& ac) {
  std::vector<std::string> lines;
  char buf[128];
  for (const CalPoint& p : ac.list.points) {
    if (ac.calibrated) {
      const double fitted = channel_to_energy(state.spectrum.calibration, p.channel);
      c_snprintf(buf, sizeof buf, "%7.1f %7.2f %7.2f %6.2f", p.channel, p.energy, fitted,
                    p.energy - fitted);
    } else {
      c_snprintf(buf, sizeof buf, "%7.1f %7.2f", p.channel, p.energy);
    }
    lines.push_back(buf);
  }
  if (ac.calibrated) lines.push_back(fmt1("%11.3e", ac.goodness));
  return lines;
}

void delete_auto_point(const CalibrationSession& state, AutoCalibration& ac, int index) {
  if (index < 0 || index >= ac.list.count()) return;
  const int removed = ac.list.points[index].peak;
  ac.list.points.erase(ac.list.points.begin() + index);
  if (removed > 0) {
    remove_peak(state, state.peaks.centre_channel[removed]);
    for (CalPoint& p : ac.list.points)
      if (p.peak > removed) --p.peak;
  }
  if (calibrate_auto(state, ac))
    state.ui->set_status("Select  'OK'  to complete the Calibration routine");
}

int start_auto_calibration(const CalibrationSession& state, AutoCalibration& ac) {
  if (!prepare_auto_calibration(state, ac)) return 0;
  const int ok = setup_auto_points(state, ac);
  if (ac.list.count() > 1 && calibrate_auto(state, ac))
    state.ui->set_status("Select  'OK'  to complete the Calibration routine");
  return ok;
}

int auto_ok(const CalibrationSession& state, AutoCalibration& ac) {
  if (!calibrate_auto(state, ac)) return 0;
  write_auto_report(state, ac, true);
  state.ui->set_status("Energy re-calibration completed");
  ac.mode = false;
  ac.closed = true;
  return 1;
}

void auto_cancel(const CalibrationSession& state, AutoCalibration& ac) {
  state.spectrum.calibration = ac.saved_calibration;
  ac.list = ac.saved_list;
  ac.mode = false;
  ac.closed = true;
}

std::string auto_report_text(const CalibrationSession& state, const AutoCalibration& ac, bool results) {
  const char* in = kReportIndent;
  char buf[256];
  std::string t = report_date_line();
  c_snprintf(buf, sizeof buf, "%sAuto-Energy Calibration Report for Detector number %d\r\n\r\n",
                in, report_detector(state));
  t += buf;
  c_snprintf(buf, sizeof buf, "%s   Peak     Original  Reference  Fitted      Energy\r\n", in);
  t += buf;
  c_snprintf(buf, sizeof buf, "%s  Channel    Energy    Energy    Energy    Difference\r\n\r\n", in);
  t += buf;
  const CalibrationRecord& cal = state.spectrum.calibration;
  for (const CalPoint& p : ac.list.points) {
    const double fitted = channel_to_energy(cal, p.channel);
    c_snprintf(buf, sizeof buf, "%s %7.1f    %7.2f   %7.2f   %7.2f     %6.2f\r\n", in, p.channel,
                  p.old_energy, p.energy, fitted, p.energy - fitted);
    t += buf;
  }
  if (results) {
    t += energy_fit_lines(cal);
  } else {
    t += " Auto-Calibration Failed\r\n\r\n";
  }
  t += "\r\n Spectrum data file used:- " + spectrum_file_used(state) + "\r\n";
  return t;
}

bool write_auto_report(const CalibrationSession& state, const AutoCalibration& ac, bool results) {
  char name[32];
  c_snprintf(name, sizeof name, "Det_%02d_aut.txt", report_detector(state));
  return write_report(state, name, auto_report_text(state, ac, results));
}

int batch_auto_calibration(const CalibrationSession& state) {
  AutoCalibration ac;
  ac.batch = true;
  int ok = prepare_auto_calibration(state, ac);
  if (ok) ok = setup_auto_points(state, ac);
  if (ok) ok = calibrate_auto(state, ac);
  ac.mode = false;
  if (ok) ok = write_detector_calibration(state, false);
  if (!ok) state.ui->message_box(kCalibrationNotCompleted);
  write_auto_report(state, ac, ok && ac.calibrated);
  return ok ? 1 : 0;
}

namespace {
// Searches (when the list is empty) and fits every peak with the add and
// remove prompts, the pause and the fitting display off. An aborted search
// is not followed by a fit.
void search_and_fit_quietly(const CalibrationSession& state) {
  if (state.peaks.count == 0) {
    run_peak_search(state);
    if (state.peaks.search.aborted) return;
  }
  AnalysisParameters& p = state.params;
  const int add = p.prompt_add_peaks, remove = p.prompt_remove_peaks, pause = p.pause_after_region,
            always = p.always_display_fitting;
  p.prompt_add_peaks = p.prompt_remove_peaks = p.pause_after_region = p.always_display_fitting = 0;
  fit_all_remaining_peaks(state);
  p.prompt_add_peaks = add;
  p.prompt_remove_peaks = remove;
  p.pause_after_region = pause;
  p.always_display_fitting = always;
}
}  // namespace

int drift_correction(const CalibrationSession& state, double reference_energy) {
  search_and_fit_quietly(state);

  CalibrationRecord& cal = state.spectrum.calibration;
  const PeakList& peaks = state.peaks;
  int best = 0;
  double dist = 0;
  for (int k = 1; k <= peaks.count; ++k) {
    const double d = std::fabs(channel_to_energy(cal, peaks.centre[k]) - reference_energy);
    if (best == 0 || d < dist) {
      best = k;
      dist = d;
    }
  }
  const bool mca_mode = state.acquisition.collecting;
  if (best == 0 || (dist > auto_energy_tolerance(state, reference_energy) && !mca_mode)) {
    state.ui->message_box(fmt1("Warning, no Peak was found near %3.0f keV", reference_energy),
                          "Could not perform Drift Correction", kMsgWarning);
    return 0;
  }
  const double x = peaks.centre[best];
  if (!(x > 0)) return 0;
  double g = 0;
  if (term_count(cal.energy_terms) >= 3) g = cal.energy_form != 0 ? std::log(x) : x * x;
  const double c1 = (reference_energy - cal.energy[0] - cal.energy[2] * g) / x;
  if (!std::isfinite(c1)) return 0;
  cal.energy[1] = static_cast<float>(c1);
  state.flags.calibration_modified = true;
  state.flags.display_refresh = true;
  return 1;
}

namespace {
void scale_energy_calibration(const CalibrationSession& state, double r) {
  for (float& c : state.spectrum.calibration.energy) c = static_cast<float>(c * r);
  state.flags.calibration_modified = true;
  state.flags.display_refresh = true;
}

// A count of one check source with a single strong line: see the header.
int single_line_gain_check(const CalibrationSession& state) {
  const CalibrationRecord& cal = state.spectrum.calibration;
  const PeakList& peaks = state.peaks;
  double total = 0, largest = 0;
  int best = 0;
  for (int k = 1; k <= peaks.count; ++k) {
    if (!(peaks.fitted_area[k] > 0)) continue;
    total += peaks.fitted_area[k];
    if (peaks.fitted_area[k] > largest) {
      largest = peaks.fitted_area[k];
      best = k;
    }
  }
  if (best == 0 || largest < kSingleLineShare * total || !(peaks.fitted_area_pct[best] > 0) ||
      peaks.fitted_area_pct[best] >= kSingleLineMaxUncertainty)
    return 0;
  const double found = channel_to_energy(cal, peaks.centre[best]);
  for (const SingleLineSource& s : kSingleLineSources) {
    if (std::fabs(found - s.energy) >= kSingleLineWindow * s.energy) continue;
    const double r = s.energy / found;
    if (std::fabs(r - 1) < kNaturalGainThreshold || !std::isfinite(r)) return 0;
    scale_energy_calibration(state, r);
    state.ui->message_box(c_format("The energy calibration was scaled by %.4f: the one strong peak, at %.1f "
                                   "keV, was taken as %s's %.1f keV line",
                                   r, found, s.nuclide, s.energy),
                          "Energy Calibration Check", kMsgOk);
    return 1;
  }
  return 0;
}
}  // namespace

int natural_line_gain_check(const CalibrationSession& state) {
  search_and_fit_quietly(state);
  if (state.peaks.search.aborted || !state.peaks.fitted) return 0;
  CalibrationRecord& cal = state.spectrum.calibration;
  if (term_count(cal.energy_terms) < 2) return 0;
  const PeakList& peaks = state.peaks;
  struct Anchor {
    const char* nuclide;
    double energy;
    double found = 0;
  };
  Anchor anchors[] = {{"K-40", kNaturalGainLines[0]}, {"Tl-208", kNaturalGainLines[1]}};
  for (Anchor& a : anchors) {
    double area = 0;
    for (int k = 1; k <= peaks.count; ++k) {
      const double e = channel_to_energy(cal, peaks.centre[k]);
      if (std::fabs(e - a.energy) < kNaturalGainWindow * a.energy && peaks.fitted_area[k] > area &&
          peaks.fitted_area_pct[k] > 0 && peaks.fitted_area_pct[k] < kNaturalGainMaxUncertainty) {
        area = peaks.fitted_area[k];
        a.found = e;
      }
    }
    if (!(a.found > 0)) return single_line_gain_check(state);
  }
  const double r0 = anchors[0].energy / anchors[0].found, r1 = anchors[1].energy / anchors[1].found;
  if (std::fabs(r0 - r1) > kNaturalGainAgreement) return 0;
  const double r = 0.5 * (r0 + r1);
  if (std::fabs(r - 1) < kNaturalGainThreshold || !std::isfinite(r)) return 0;
  scale_energy_calibration(state, r);
  state.ui->message_box(c_format("The energy calibration was scaled by %.4f: %s was found at %.1f keV and %s at "
                                 "%.1f keV",
                                 r, anchors[0].nuclide, anchors[0].found, anchors[1].nuclide, anchors[1].found),
                        "Energy Calibration Check", kMsgOk);
  return 1;
}

int drift_correction_with_search(const CalibrationSession& state) {
  state.ui->set_status("Searching for peaks");
  drift_correction(state, state.params.drift_energy);
  return 1;
}

void start_quantitative_calibration(const CalibrationSession& state, QuantAutoCalibration& qc) {
  std::vector<CalPoint>& pts = qc.list.points;
  std::stable_sort(pts.begin(), pts.end(),
                   [](const CalPoint& a, const CalPoint& b) { return a.energy < b.energy; });
  if (!pts.empty() && pts.front().energy > 300 && pts.size() < static_cast<std::size_t>(kMaxCalPoints)) {
    CalPoint anchor;
    anchor.name = "Offset";
    anchor.channel = 0;
    anchor.energy = state.spectrum.calibration.energy[0];
    anchor.weight = 50;
    pts.insert(pts.begin(), anchor);
  }
  qc.saved_calibration = state.spectrum.calibration;
  qc.saved_list = qc.list;
  fit_quantitative_calibration(state, qc);
}

int fit_quantitative_calibration(const CalibrationSession&, QuantAutoCalibration& qc) {
  qc.fitted = false;
  if (qc.list.count() < 2) return 0;
  qc.terms = qc.list.count() < 3 ? 2 : 3;
  std::vector<CalibrationPoint> cps;
  for (const CalPoint& p : qc.list.points) cps.push_back({p.channel, p.energy, p.weight});
  PointFit fit = fit_calibration_points(cps, qc.terms);
  if (!fit.ok) return 0;
  qc.c = {fit.coefficients[0], fit.coefficients[1], qc.terms > 2 ? fit.coefficients[2] : 0.0};
  qc.fitted = true;
  return 1;
}

std::vector<std::string> quantitative_point_lines(const QuantAutoCalibration& qc) {
  std::vector<std::string> lines;
  if (qc.list.count() < 2) {
    lines.push_back("There are not enough Peaks for re-calibration");
    return lines;
  }
  char buf[128];
  for (const CalPoint& p : qc.list.points) {
    const double fitted = qc.fitted ? energy_from_coefficients(qc.terms, false, qc.c, p.channel) : 0.0;
    c_snprintf(buf, sizeof buf, "%7s %7.2f %7.2f %6.2f", p.name.c_str(), p.energy, fitted,
                  fitted - p.energy);
    lines.push_back(buf);
  }
  return lines;
}

void delete_quantitative_point(const CalibrationSession& state, QuantAutoCalibration& qc, int index) {
  if (index < 0 || index >= qc.list.count()) return;
  qc.list.points.erase(qc.list.points.begin() + index);
  fit_quantitative_calibration(state, qc);
}

int quantitative_ok(const CalibrationSession& state, QuantAutoCalibration& qc) {
  if (qc.list.count() < 2 || !qc.fitted) return 0;
  CalibrationRecord& cal = state.spectrum.calibration;
  store_energy_calibration(cal, qc.terms, false, qc.c);
  cal.energies = {};
  int stored = 0;
  for (const CalPoint& p : qc.list.points)
    if (stored < kMaxCalibrationEnergies && p.name != "Offset") cal.energies[stored++] = static_cast<float>(p.energy);
  cal.energy_count = static_cast<float>(stored);
  state.flags.energy_calibration_changed = true;
  state.flags.calibration_modified = true;
  return 1;
}

void quantitative_cancel(const CalibrationSession& state, QuantAutoCalibration& qc) {
  state.spectrum.calibration = qc.saved_calibration;
  qc.list = qc.saved_list;
}

int quantitative_auto_calibration(const CalibrationSession& state, const std::vector<CalPoint>& identified) {
  QuantAutoCalibration qc;
  qc.list.points = identified;
  if (qc.list.count() > kMaxCalPoints) qc.list.points.resize(kMaxCalPoints);
  start_quantitative_calibration(state, qc);
  return quantitative_ok(state, qc);
}

}  // namespace kestrim
