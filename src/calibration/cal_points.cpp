#include "calibration/cal_points.h"
#include "settings/detector_file.h"
#include "platform/c_locale.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "calibration/calibration_session.h"
#include "spectrum/point_fit.h"
#include "platform/linear_solver.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "settings/calibration_functions.h"
#include "spectrum/dates.h"

namespace kestrim {

namespace {

// Splits text into lines, dropping CR.
std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string cur;
  for (char ch : text) {
    if (ch == '\n') {
      lines.push_back(cur);
      cur.clear();
    } else if (ch != '\r') {
      cur += ch;
    }
  }
  if (!cur.empty()) lines.push_back(cur);
  return lines;
}

}  // namespace

ListFile parse_list_file(const std::string& text) {
  ListFile out;
  std::vector<std::string> lines = split_lines(text);
  if (lines.empty()) return out;
  if (to_lower(lines[0]).find("coefficients") != std::string::npos) {
    out.coefficients = true;
    char word[128] = {0};
    float c0 = 0, c1 = 0, c2 = 0;
    // A word, then up to three numbers; the missing ones stay 0.
    c_sscanf(lines[0].c_str(), "%127s %f %f %f", word, &c0, &c1, &c2);
    out.c = {c0, c1, c2};
    return out;
  }
  for (std::size_t i = 2; i < lines.size(); ++i) {
    float e = 0;
    if (c_sscanf(lines[i].c_str(), "%f", &e) != 1) continue;
    if (static_cast<int>(out.energies.size()) >= kMaxCalPoints) {
      out.truncated = true;
      break;
    }
    out.energies.push_back(e);
  }
  return out;
}

std::string format_list_file(const std::string& title, const std::vector<double>& energies) {
  std::string text = title + "\r\n\r\n";
  char buf[64];
  for (double e : energies) {
    if (!(e > 0)) continue;
    c_snprintf(buf, sizeof buf, "%8.3f\r\n", e);
    text += buf;
  }
  return text;
}

bool read_list_file(Platform& ui, const std::string& path, ListFile& out) {
  std::vector<std::uint8_t> bytes;
  if (!read_file(resolve_path(path), bytes)) {
    ui.message_box("Could not open source file:- " + path);
    return false;
  }
  out = parse_list_file(std::string(bytes.begin(), bytes.end()));
  if (out.truncated) ui.message_box(kTooManyPoints, {}, kMsgWarning);
  return true;
}

std::string report_date_line() {
  DateTime now = now_date_time();
  std::string s = "\r\n";
  for (int i = 0; i < 6; ++i) s += kReportIndent;
  s += " " + format_date(now.day, now.month, now.year) + " " + format_time(now.hour, now.minute) +
       " \r\n\r\n";
  return s;
}

std::string energy_equation_line(int terms, bool log_function, const std::array<double, 3>& c) {
  char buf[160];
  if (terms <= 2)
    c_snprintf(buf, sizeof buf, " Energy = %11.4e + %11.4e*ch\r\n", c[0], c[1]);
  else if (log_function)
    c_snprintf(buf, sizeof buf, " Energy = %11.4e + %11.4e*ch + %11.4e*LogCh\r\n", c[0], c[1], c[2]);
  else
    c_snprintf(buf, sizeof buf, " Energy = %11.4e + %11.4e*ch + %11.4e*ch^2\r\n", c[0], c[1], c[2]);
  return buf;
}

bool write_report(const CalibrationSession& state, const std::string& name, const std::string& text) {
  std::string path = resolve_path(join_path(state.paths.working_dir, name));
  std::string error;
  if (!write_text_atomic(path, text, &error)) {
    state.ui->message_box("Could not create the file: " + path);
    return false;
  }
  return true;
}

int report_geometry(const CalibrationSession& state) {
  const int g = state.spectrum.header.geometry;
  return g != 0 ? g : state.params.default_geometry;
}

int report_detector(const CalibrationSession& state) {
  return calibration_detector_number(state.spectrum.header, state.params);
}

std::string spectrum_file_used(const CalibrationSession& state) { return state.flags.current_file; }

double energy_from_coefficients(int terms, bool log_function, const std::array<double, 3>& c,
                                double channel) {
  if (terms <= 0) return channel;
  if (terms == 1) return c[0];
  double e = c[0] + c[1] * channel;
  if (terms >= 3) {
    if (log_function) {
      if (channel > 0) e += c[2] * std::log(channel);
    } else {
      e += c[2] * channel * channel;
    }
  }
  return e;
}

bool fit_energy_points(const std::vector<CalPoint>& points, int& terms, bool log_function,
                       std::array<double, 3>& c) {
  std::vector<const CalPoint*> usable;
  for (std::size_t i = 0; i < points.size(); ++i) {
    const CalPoint& p = points[i];
    if (i == 0 || (p.channel != 0 && p.energy != 0)) usable.push_back(&p);
  }
  const int n = static_cast<int>(usable.size());
  if (n < 2) return false;
  int t = terms < 2 ? 2 : (terms > 3 ? 3 : terms);
  if (n < 3) t = 2;
  std::array<double, 3> out{};
  if (log_function && t == 3) {
    NormalEquations eq(3);
    for (const CalPoint* p : usable) {
      const double f[3] = {1.0, p->channel, p->channel > 0 ? std::log(p->channel) : 0.0};
      for (int j = 0; j < 3; ++j) {
        eq.rhs(j) += p->energy * f[j];
        for (int k = 0; k <= j; ++k) eq.normal(j, k) += f[j] * f[k];
      }
    }
    eq.mirror_lower();
    if (!eq.solve()) return false;
    for (int j = 0; j < 3; ++j) out[j] = eq.solution(j);
  } else {
    std::vector<CalibrationPoint> cps;
    for (const CalPoint* p : usable) cps.push_back({p->channel, p->energy, p->weight});
    PointFit fit = fit_calibration_points(cps, t);
    if (!fit.ok) return false;
    for (int j = 0; j < t; ++j) out[j] = fit.coefficients[j];
  }
  for (double v : out)
    if (!std::isfinite(v)) return false;
  terms = t;
  c = out;
  return true;
}

void stamp(CalDate& date, CalTime& time) {
  DateTime now = now_date_time();
  date = {now.day, now.month, now.year};
  time = {now.hour, now.minute};
}

void store_energy_calibration(CalibrationRecord& cal, int terms, bool log_function,
                              const std::array<double, 3>& c) {
  cal.energy_terms = static_cast<float>(terms);
  cal.energy_form = log_function ? 1 : 0;
  for (int j = 0; j < 3; ++j) cal.energy[j] = j < terms ? static_cast<float>(c[j]) : 0.0f;
  stamp(cal.energy_date, cal.energy_time);
}

int nearest_peak(const CalibrationSession& state, double channel) {
  const PeakList& list = state.peaks;
  int best = 0;
  double dist = 0;
  for (int k = 1; k <= list.count; ++k) {
    double d = std::fabs(list.centre[k] - channel);
    if (best == 0 || d < dist) {
      best = k;
      dist = d;
    }
  }
  return best;
}

double rms(const std::vector<double>& differences) {
  if (differences.empty()) return 0;
  double s = 0;
  for (double d : differences) s += d * d;
  return std::sqrt(s / differences.size());
}

std::string energy_fit_lines(const CalibrationRecord& cal) {
  const int terms = term_count(cal.energy_terms);
  char buf[64];
  c_snprintf(buf, sizeof buf, "\r\n Order of Fit used:- %d\r\n\r\n", terms);
  return buf + energy_equation_line(terms, cal.energy_form != 0,
                                    {cal.energy[0], cal.energy[1], cal.energy[2]});
}

}  // namespace kestrim
