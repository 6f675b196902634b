#include "calibration/shape_calibration.h"
#include "platform/c_locale.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "calibration/calibration_session.h"
#include "calibration/calibration_checks.h"
#include "spectrum/point_fit.h"
#include "peaks/fit_engine.h"
#include "peaks/peak_region.h"
#include "peaks/peak_search.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "settings/calibration_functions.h"
#include "settings/detector_file.h"

namespace kestrim {

namespace {

double measured(const CalPoint& p, int function) {
  return function == kShapeWidth ? p.width : function == kShapeLowTail ? p.low_tail : p.high_tail;
}

// The stored polynomial of a shape function at energy e (0 terms: 0).
double shape_value(const CalibrationRecord& cal, int function, double e) {
  const float terms = function == kShapeWidth     ? cal.width_terms
                      : function == kShapeLowTail ? cal.low_tail_terms
                                                  : cal.high_tail_terms;
  const std::array<float, 3>& c = function == kShapeWidth     ? cal.width
                                  : function == kShapeLowTail ? cal.low_tail
                                                              : cal.high_tail;
  const int n = term_count(terms);
  double v = 0;
  for (int k = std::min(n, 3) - 1; k >= 0; --k) v = v * e + c[k];
  return v;
}

std::string point_line(const CalPoint& p) {
  char buf[96];
  c_snprintf(buf, sizeof buf, "%6.1f %6.3f %6.3f  %6.3f", p.energy, p.width, p.low_tail,
                p.high_tail);
  return buf;
}

// One function: a constant with one point, else the weighted polynomial
// (point 0 always, others with a non-zero energy and value). Returns false
// when fewer than 2 points can be used.
bool fit_function(const std::vector<CalPoint>& pts, int function, int wanted,
                  int& terms, std::array<double, 3>& c) {
  c = {};
  if (pts.size() == 1) {
    terms = 1;
    c[0] = measured(pts[0], function);
    return true;
  }
  std::vector<CalibrationPoint> cps;
  for (std::size_t i = 0; i < pts.size(); ++i) {
    const double v = measured(pts[i], function);
    if (i == 0 || (pts[i].energy != 0 && v != 0)) cps.push_back({pts[i].energy, v, pts[i].weight});
  }
  if (cps.size() < 2) return false;
  terms = cps.size() < 3 ? 2 : wanted;
  PointFit fit = fit_calibration_points(cps, terms);
  if (!fit.ok) return false;
  for (int k = 0; k < terms; ++k) c[k] = fit.coefficients[k];
  return true;
}

void store_function(CalibrationRecord& cal, int function, int terms, const std::array<double, 3>& c) {
  float& t = function == kShapeWidth     ? cal.width_terms
             : function == kShapeLowTail ? cal.low_tail_terms
                                         : cal.high_tail_terms;
  std::array<float, 3>& dst = function == kShapeWidth     ? cal.width
                              : function == kShapeLowTail ? cal.low_tail
                                                          : cal.high_tail;
  t = static_cast<float>(terms);
  for (int k = 0; k < 3; ++k) dst[k] = static_cast<float>(c[k]);
}

void refresh_goodness(const CalibrationSession& state, ShapeCalibration& sc) {
  std::vector<double> diffs;
  if (sc.calibrated) {
    for (const CalPoint& p : sc.list.points)
      if (p.weight > 0)
        diffs.push_back(measured(p, sc.displayed) -
                        shape_value(state.spectrum.calibration, sc.displayed, p.energy));
  }
  sc.goodness = rms(diffs);
}

}  // namespace

void apply_shape_overrides(const CalibrationSession& state, ShapeCalibration& sc) {
  if (sc.overrides_applied) return;
  sc.saved_params = state.params;
  sc.saved_working_max_width = state.flags.working_max_width_change;
  sc.saved_working_residual_search = state.flags.working_residual_search;
  AnalysisParameters& p = state.params;
  p.residual_peak_search = 0;
  p.fit_511 = 0;
  p.iterate_position_single = 1;
  p.iterate_width = 1;
  p.iterate_tailing = 1;
  p.continuum_linear = 1;
  p.continuum_nonlinear = 0;
  p.region_end_channels = 8;
  p.max_width_change = 10;
  state.flags.working_max_width_change = 10;
  state.flags.working_residual_search = false;
  sc.overrides_applied = true;
}

// The overridden settings are put back from the copy (the Defaults file
// would give the same values, but not the ones set on the command line).
void restore_shape_overrides(const CalibrationSession& state, ShapeCalibration& sc) {
  if (!sc.overrides_applied) return;
  AnalysisParameters& p = state.params;
  const AnalysisParameters& s = sc.saved_params;
  p.residual_peak_search = s.residual_peak_search;
  p.fit_511 = s.fit_511;
  p.iterate_position_single = s.iterate_position_single;
  p.iterate_width = s.iterate_width;
  p.iterate_tailing = s.iterate_tailing;
  p.continuum_linear = s.continuum_linear;
  p.continuum_nonlinear = s.continuum_nonlinear;
  p.region_end_channels = s.region_end_channels;
  p.max_width_change = s.max_width_change;
  state.flags.working_max_width_change = sc.saved_working_max_width;
  state.flags.working_residual_search = sc.saved_working_residual_search;
  state.peaks.region.shape_calibration = false;
  sc.overrides_applied = false;
}

void start_shape_calibration(const CalibrationSession& state, ShapeCalibration& sc) {
  sc.saved_calibration = state.spectrum.calibration;
  sc.saved_list = sc.list;
  sc.mode = true;
  sc.closed = false;
  setup_shape_points(state, sc, true);
  state.ui->set_status("Select 'Fit all' to proceed with the Calibration");
}

void setup_shape_points(const CalibrationSession& state, ShapeCalibration& sc, bool with_list) {
  sc.list.points.clear();
  apply_shape_overrides(state, sc);
  sc.terms = {2, 2, 2};
  sc.displayed = kShapeWidth;
  sc.calibrated = false;
  sc.all_fitted = false;
  sc.list.list_modified = false;
  const CalibrationRecord& cal = state.spectrum.calibration;
  const PeakList& peaks = state.peaks;
  bool read = false;
  if (with_list) {
    std::string path;
    if (sc.batch && !sc.list.default_list.empty()) {
      path = join_path(state.paths.working_dir, sc.list.default_list + ".shp");
    } else {
      state.ui->set_status("Select 'Cancel' to use all the peaks found in the spectrum");
      FileDialog d;
      d.title = "Select the required Energy List file";
      d.filters = {{"Peak Shape List Files (*.shp)", "*.shp"}};
      d.initial_directory = state.paths.working_dir;
      if (state.ui->open_file_dialog(d) && !d.paths.empty()) path = d.paths.front();
    }
    ListFile file;
    if (!path.empty() && read_list_file(*state.ui, path, file) && !file.coefficients) {
      read = true;
      for (double e : file.energies) {
        const double t = energy_tolerance(state.params, e);
        const double lo = energy_to_channel(cal, e - t), hi = energy_to_channel(cal, e + t);
        for (int k = 1; k <= peaks.count; ++k) {
          if (peaks.centre[k] > lo && peaks.centre[k] < hi) {
            CalPoint p;
            p.energy = e;
            p.channel = energy_to_channel(cal, e);
            p.peak = k;
            sc.list.points.push_back(p);
            break;
          }
        }
      }
    }
  }
  if (!read) {
    if (peaks.count > kMaxCalPoints)
      state.ui->message_box("Warning, can only use 100 Peaks", {}, kMsgWarning);
    for (int k = 1; k <= peaks.count && k <= kMaxCalPoints; ++k) {
      CalPoint p;
      p.channel = peaks.centre[k];
      p.energy = channel_to_energy(cal, p.channel);
      p.peak = k;
      sc.list.points.push_back(p);
    }
  }
}

int fit_shape_point(const CalibrationSession& state, ShapeCalibration& sc, int index) {
  if (index < 0 || index >= sc.list.count()) return 0;
  CalPoint& pt = sc.list.points[index];
  if (pt.peak < 1 || pt.peak > state.peaks.count) return 0;
  Region& r = state.peaks.region;
  double sigma, tail;
  if (pt.width > 0) {
    sigma = pt.width;
    tail = pt.low_tail > 0 ? pt.low_tail : 5 * pt.width;
  } else {
    sigma = width_at_channel(state.spectrum.calibration, pt.channel, calibration_context(state.spectrum, state.flags));
    tail = 5 * sigma;
  }
  for (int i = 0; i < kMaxRegionPeaks; ++i) {
    r.cache_sigma[i] = static_cast<float>(sigma);
    r.cache_tail[i] = static_cast<float>(tail);
  }
  r.ref_sigma = static_cast<float>(sigma);
  r.ref_tail = static_cast<float>(tail);
  r.prev_count = -1;  // the cache is held
  r.first = pt.peak;
  r.bounds_user = false;
  r.shape_calibration = true;
  std::string message;
  int ok = form_region(state, message) && r.count > 0 ? choose_continuum_and_fit(state) : 0;
  r.fitted = true;
  if (!ok) return 0;
  // Every point of the region, from this one on, receives its peak's results.
  for (int i = 0; i < r.count; ++i) {
    const int k = r.first + i;
    state.peaks.fitted_flag[k] = 1;
    for (int j = index; j < sc.list.count(); ++j) {
      CalPoint& p = sc.list.points[j];
      if (p.peak != k) continue;
      p.width = r.sigma[i];
      p.low_tail = r.tail[i];
      p.weight = r.area[i];
      break;
    }
  }
  return 1;
}

int fit_all_shape_points(const CalibrationSession& state, ShapeCalibration& sc) {
  for (int i = 0; i < sc.list.count(); ++i) {
    fit_shape_point(state, sc, i);
    if (state.flags.abort_requested || state.ui->abort_requested()) return 0;
    if (state.flags.display_on && state.params.fitting_delay_ms > 0) {
      state.ui->set_status("Pausing, Press the Esc key to continue...");
      for (int waited = 0; waited < state.params.fitting_delay_ms; waited += 250) {
        state.ui->wait_ms(250);
        if (state.ui->abort_requested()) break;
      }
    }
  }
  sc.all_fitted = true;
  return fit_shape_functions(state, sc);
}

int fit_shape_functions(const CalibrationSession& state, ShapeCalibration& sc) {
  const std::vector<CalPoint>& pts = sc.list.points;
  if (pts.empty()) return 0;
  for (const CalPoint& p : pts) {
    if (!(p.width > 0)) {
      state.ui->message_box("Not all of the Peaks have been fitted yet");
      return 0;
    }
  }
  CalibrationRecord& cal = state.spectrum.calibration;
  int tw = 0, tl = 0, th = 0;
  std::array<double, 3> cw{}, cl{}, ch{};
  if (!fit_function(pts, kShapeWidth, sc.terms[0], tw, cw)) return 0;
  if (!fit_function(pts, kShapeLowTail, sc.terms[1], tl, cl)) return 0;
  store_function(cal, kShapeWidth, tw, cw);
  store_function(cal, kShapeLowTail, tl, cl);
  // The fitting engine measures no high-energy tail: its function is kept
  // only when the column holds values.
  if (sc.high_tail && fit_function(pts, kShapeHighTail, sc.terms[2], th, ch))
    store_function(cal, kShapeHighTail, th, ch);
  else if (!sc.high_tail)
    cal.high_tail_terms = 0;
  stamp(cal.shape_date, cal.shape_time);
  sc.calibrated = true;
  state.flags.shape_calibration_changed = true;
  state.flags.calibration_modified = true;
  state.flags.display_refresh = true;
  refresh_goodness(state, sc);
  return 1;
}

int set_shape_order(const CalibrationSession& state, ShapeCalibration& sc, int terms) {
  sc.terms[sc.displayed - 1] = terms;
  const int ok = fit_shape_functions(state, sc);
  if (ok)
    state.ui->set_status(sc.displayed == kShapeWidth ? "Select  'OK'  to complete the Calibration routine"
                                                     : "Check the Tailing Calibration");
  return ok;
}

int manual_shape_entry(const CalibrationSession& state, ShapeCalibration& sc, int index, const std::string& width,
                       const std::string& low_tail) {
  if (index < 0 || index >= sc.list.count()) return 0;
  CalPoint& p = sc.list.points[index];
  if (!(p.width > 0)) {
    state.ui->message_box("This Peaks has not been fitted yet");
    return 0;
  }
  float w = 0, t = 0;
  if (c_sscanf(width.c_str(), "%f", &w) == 1 && w > 0) p.width = w;
  if (c_sscanf(low_tail.c_str(), "%f", &t) == 1 && t > 0) p.low_tail = t;
  Region& r = state.peaks.region;
  r.ref_sigma = static_cast<float>(p.width);
  r.ref_tail = static_cast<float>(p.low_tail);
  if (sc.calibrated) fit_shape_functions(state, sc);
  return 1;
}

void set_high_tail_calibration(const CalibrationSession& state, ShapeCalibration& sc, bool on) {
  if (on) {
    if (!sc.calibrated) fit_all_shape_points(state, sc);
    sc.high_tail = true;
  } else {
    sc.high_tail = false;
    state.spectrum.calibration.high_tail_terms = 0;
  }
  for (int pass = 0; pass < 2; ++pass) {
    if (state.flags.abort_requested || state.ui->abort_requested()) break;
    fit_all_shape_points(state, sc);
  }
}

int add_shape_peak(const CalibrationSession& state, ShapeCalibration& sc, double cursor_channel) {
  const int k = nearest_peak(state, cursor_channel);
  if (k == 0 || std::fabs(state.peaks.centre[k] - cursor_channel) > 250) {
    state.ui->message_box("There is no Peak near the cursor", "A Peak should be inserted", kMsgOk);
    return 0;
  }
  const double ch = state.peaks.centre[k];
  for (const CalPoint& p : sc.list.points)
    if (p.channel == ch || p.peak == k) {
      state.ui->message_box("This Peak is already in the list", "Index to the required Peak", kMsgOk);
      return 0;
    }
  if (sc.list.count() >= kMaxCalPoints) return 0;
  CalPoint p;
  p.channel = ch;
  p.energy = channel_to_energy(state.spectrum.calibration, ch);
  p.peak = k;
  auto at = std::find_if(sc.list.points.begin(), sc.list.points.end(),
                         [&](const CalPoint& q) { return q.channel > ch; });
  sc.list.points.insert(at, p);
  sc.list.list_modified = true;
  return 1;
}

void delete_shape_point(const CalibrationSession& state, ShapeCalibration& sc, int index, bool remove_peak_too) {
  if (index < 0 || index >= sc.list.count()) return;
  const int removed = sc.list.points[index].peak;
  sc.list.points.erase(sc.list.points.begin() + index);
  if (remove_peak_too && removed > 0) {
    remove_peak(state, state.peaks.centre_channel[removed]);
    for (CalPoint& p : sc.list.points)
      if (p.peak > removed) --p.peak;
  }
  sc.list.list_modified = true;
  if (sc.calibrated) fit_shape_functions(state, sc);
}

void delete_all_shape_points(const CalibrationSession& state, ShapeCalibration& sc) {
  const int answer = state.ui->message_box("Are you sure you want to delete all the points ?",
                                           "Confirmation Required", kMsgYesNoCancel);
  if (answer != kAnswerYes) return;
  setup_shape_points(state, sc, false);
  state.ui->set_status("Double Click on the required Peaks in the Spectrum");
}

std::vector<std::string> shape_point_lines(const ShapeCalibration& sc) {
  std::vector<std::string> lines;
  char buf[64];
  for (const CalPoint& p : sc.list.points) {
    if (p.width > 0) {
      lines.push_back(point_line(p));
    } else {
      c_snprintf(buf, sizeof buf, "%6.1f", p.energy);
      lines.push_back(buf);
    }
  }
  if (sc.calibrated) {
    c_snprintf(buf, sizeof buf, "%11.3e", sc.goodness);
    lines.push_back(buf);
  }
  return lines;
}

namespace {

// The list-modified question of OK and Cancel. 0 = stay in the window.
int offer_to_save_shape_list(const CalibrationSession& state, ShapeCalibration& sc) {
  if (!sc.list.list_modified) return 1;
  const int answer = state.ui->message_box("Save changes to the Energy List File?",
                                           "The Energy List has been modified", kMsgYesNoCancel);
  if (answer == kAnswerCancel) return 0;
  if (answer != kAnswerYes) return 1;
  FileDialog d;
  d.title = "Save Peak Shape List File";
  d.filters = {{"Peak Shape List Files (*.shp)", "*.shp"}};
  d.initial_directory = state.paths.working_dir;
  if (!state.ui->save_file_dialog(d) || d.paths.empty()) return 1;
  std::string path = d.paths.front();
  if (base_name(path).find('.') == std::string::npos) path += ".shp";
  std::vector<double> energies;
  for (const CalPoint& p : sc.list.points) energies.push_back(p.energy);
  std::string error;
  if (!write_text_atomic(path, format_list_file(kShapeListTitle, energies), &error))
    state.ui->message_box("Could not create the file: " + path);
  return 1;
}

void close_shape_window(const CalibrationSession& state, ShapeCalibration& sc) {
  sc.all_fitted = false;
  restore_shape_overrides(state, sc);
  sc.mode = false;
  sc.closed = true;
}

}  // namespace

int shape_ok(const CalibrationSession& state, ShapeCalibration& sc) {
  if (!sc.calibrated) {
    fit_shape_functions(state, sc);
    return 0;
  }
  if (!offer_to_save_shape_list(state, sc)) return 0;
  state.ui->set_status("Peak Shape Calibration completed");
  write_shape_report(state, sc, true);
  close_shape_window(state, sc);
  return 1;
}

int shape_cancel(const CalibrationSession& state, ShapeCalibration& sc) {
  if (!offer_to_save_shape_list(state, sc)) return 0;
  state.ui->set_status("Peak Shape Calibration was abandoned");
  state.spectrum.calibration = sc.saved_calibration;
  sc.list = sc.saved_list;
  close_shape_window(state, sc);
  return 1;
}

std::string shape_report_text(const CalibrationSession& state, const ShapeCalibration& sc, bool results) {
  const char* in = kReportIndent;
  char buf[256];
  std::string t = report_date_line();
  c_snprintf(buf, sizeof buf, "%sPeak Shape Calibration Report for Detector number %d\r\n\r\n",
                in, report_detector(state));
  t += buf;
  if (results) {
    const CalibrationRecord& cal = state.spectrum.calibration;
    c_snprintf(buf, sizeof buf, "%s%sPeak%sLow Energy   High Energy\r\n", in, in, in);
    t += buf;
    c_snprintf(buf, sizeof buf, "%s Energy      Width%s Tailing\r\n\r\n", in, in);
    t += buf;
    for (const CalPoint& p : sc.list.points) {
      c_snprintf(buf, sizeof buf, "%s %6.1f     %6.3f     %6.3f     %6.3f\r\n", in, p.energy,
                    p.width, p.low_tail, p.high_tail);
      t += buf;
    }
    c_snprintf(buf, sizeof buf, "\r\n Peak Width - Order of Fit used:- %d\r\n",
                  term_count(cal.width_terms));
    t += buf;
    c_snprintf(buf, sizeof buf, " Width = %11.4e + %11.4e*En + %11.4e*En^2\r\n", cal.width[0],
                  cal.width[1], cal.width[2]);
    t += buf;
    c_snprintf(buf, sizeof buf, "\r\n Low Energy Tailing - Order of Fit used:- %d\r\n",
                  term_count(cal.low_tail_terms));
    t += buf;
    c_snprintf(buf, sizeof buf, " Tailing = %11.4e + %11.4e*En + %11.4e*En^2\r\n",
                  cal.low_tail[0], cal.low_tail[1], cal.low_tail[2]);
    t += buf;
    if (sc.high_tail) {
      c_snprintf(buf, sizeof buf, "\r\n High Energy Tailing - Order of Fit used:- %d\r\n",
                    term_count(cal.high_tail_terms));
      t += buf;
      c_snprintf(buf, sizeof buf, " Tailing = %11.4e + %11.4e*En + %11.4e*En^2\r\n",
                    cal.high_tail[0], cal.high_tail[1], cal.high_tail[2]);
      t += buf;
    }
  } else {
    t += " Shape Calibration Failed\r\n\r\n";
  }
  t += "\r\n Spectrum data file used:- " + spectrum_file_used(state) + "\r\n";
  return t;
}

bool write_shape_report(const CalibrationSession& state, const ShapeCalibration& sc, bool results) {
  char name[32];
  c_snprintf(name, sizeof name, "Det_%02d_shp.txt", report_detector(state));
  return write_report(state, name, shape_report_text(state, sc, results));
}

int batch_shape_calibration(const CalibrationSession& state) {
  CalibrationCopies copies;
  ShapeCalibration sc;
  sc.batch = true;
  sc.list.default_list = state.flags.efficiency_source;
  int ok = check_before_shape_calibration(state, copies);
  if (ok) {
    sc.saved_calibration = state.spectrum.calibration;
    sc.mode = true;
    setup_shape_points(state, sc, true);
    ok = sc.list.count() >= 2 ? fit_all_shape_points(state, sc) : 0;
    restore_shape_overrides(state, sc);
    sc.mode = false;
  }
  if (ok) ok = write_detector_calibration(state, false);
  if (!ok) state.ui->message_box(kCalibrationNotCompleted);
  write_shape_report(state, sc, ok && sc.calibrated);
  return ok ? 1 : 0;
}

}  // namespace kestrim
