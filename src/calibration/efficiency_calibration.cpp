#include "calibration/efficiency_calibration.h"
#include "platform/c_locale.h"

#include <algorithm>
#include <cstdarg>
#include <cmath>
#include <memory>
#include <cstdio>
#include <cstring>

#include "calibration/calibration_session.h"
#include "calibration/cal_points.h"
#include "settings/library.h"
#include "platform/linear_solver.h"
#include "platform/c_format.h"
#include "peaks/peak_search.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "settings/calibration_functions.h"
#include "settings/detector_file.h"
#include "spectrum/dates.h"
#include "spectrum/readers/reader_support.h"

namespace kestrim {

namespace {

constexpr double kLn2 = 0.6931471;
constexpr int kLowVarianceIndex = 0;
constexpr int kHighVarianceIndex = 9;

std::string trim(const std::string& s) {
  std::size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return {};
  std::size_t b = s.find_last_not_of(" \t\r\n");
  return s.substr(a, b - a + 1);
}

bool starts_with_word(const std::string& line, const char* word) {
  return to_lower(line.substr(0, std::strlen(word))) == to_lower(word);
}

std::vector<std::string> text_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::string cur;
  for (char ch : text) {
    if (ch == '\n') {
      lines.push_back(cur.substr(0, 120));
      cur.clear();
    } else if (ch != '\r') {
      cur += ch;
    }
  }
  if (!cur.empty()) lines.push_back(cur.substr(0, 120));
  return lines;
}

std::string fmt(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string fmt(const char* format, ...) {
  char buf[512];
  va_list args;
  va_start(args, format);
  c_vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  return buf;
}

// A per-cent value in the report: "%10.4f" above 0.999 %, else "%10.3e".
std::string percent_text(double v) { return v > 0.999 ? fmt("%10.4f", v) : fmt("%10.3e", v); }

const char* line_type(const std::string& line) {
  char first[16] = {0};
  c_sscanf(line.c_str(), "%15s", first);
  const std::string f = to_lower(first);
  if (f == "act") return "ACT";
  if (f == "gps") return "GPS";
  if (f == "eff") return "EFF";
  const std::string l = to_lower(line);
  if (l.find("act") != std::string::npos) return "ACT";
  if (l.find("gps") != std::string::npos) return "GPS";
  if (l.find("eff") != std::string::npos) return "EFF";
  return nullptr;
}

}  // namespace

int parse_source_file(const std::string& text, EfficiencySource& out) {
  out = EfficiencySource{};
  std::vector<std::string> lines = text_lines(text);
  if (lines.empty()) return -1;
  out.title = trim(lines[0]).substr(0, 40);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string& l = lines[i];
    char a[128] = {0};
    float v = 0;
    if (starts_with_word(l, "Crossover")) {
      if (c_sscanf(l.c_str() + 9, "%f", &v) == 1) out.crossover = v;
    } else if (starts_with_word(l, "Description")) {
      out.description = trim(l.substr(11)).substr(0, 40);
    } else if (starts_with_word(l, "Sample Size")) {
      if (c_sscanf(l.c_str() + 11, "%f %127s", &v, a) >= 1) out.sample_size = v;
      out.sample_unit = std::string(a).substr(0, 4);
    } else if (starts_with_word(l, "Standard Mass")) {
      if (c_sscanf(l.c_str() + 13, "%f %127s", &v, a) >= 1) out.standard_mass = v;
      out.mass_unit = std::string(a).substr(0, 4);
    } else if (starts_with_word(l, "Total Uncertainty")) {
      if (c_sscanf(l.c_str() + 17, "%f", &v) == 1) out.total_uncertainty = v;
    } else if (starts_with_word(l, "Bkg File")) {
      out.background_file = trim(l.substr(8)).substr(0, 12);
    } else if (const char* type = line_type(l)) {
      if (static_cast<int>(out.lines.size()) >= kMaxSourceLines) continue;
      SourceLine s;
      s.type = type;
      char t[128] = {0}, name[128] = {0}, unit[128] = {0}, date[128] = {0}, time[128] = {0};
      float e = 0, val = 0, unc = 0;
      if (s.type == "ACT") {
        c_sscanf(l.c_str(), "%127s %f %127s %f %f %127s %127s %127s", t, &e, name, &val, &unc,
                    unit, date, time);
        s.unit = to_upper(unit).substr(0, 3);
      } else if (s.type == "GPS") {
        c_sscanf(l.c_str(), "%127s %f %127s %f %f %127s %127s", t, &e, name, &val, &unc, date,
                    time);
      } else {
        c_sscanf(l.c_str(), "%127s %f %f %f", t, &e, &val, &unc);
      }
      s.energy = e;
      s.value = val;
      s.uncertainty = unc;
      s.nuclide = std::string(name).substr(0, 8);
      s.date = date;
      s.time = time;
      s.line_number = static_cast<int>(i) + 1;
      if (s.energy > 0 && s.value > 0) out.lines.push_back(s);
    }
  }
  return static_cast<int>(out.lines.size());
}

std::string format_source_file(const EfficiencySource& s) {
  std::string t = s.title + "\r\n";
  t += fmt("Crossover %6.1f\r\n", s.crossover);
  t += "Description " + s.description + "\r\n";
  t += fmt("Sample Size %9.4f %s\r\n", s.sample_size, s.sample_unit.c_str());
  t += fmt("Standard Mass %9.4f %s\r\n", s.standard_mass, s.mass_unit.c_str());
  t += fmt("Total Uncertainty %6.1f\r\n", s.total_uncertainty);
  t += "Bkg File " + s.background_file + "\r\n";
  for (const SourceLine& l : s.lines) {
    if (l.type == "ACT")
      t += fmt("%3s %6.1f %8s %10.4f %6.2f %3s %s %s\r\n", l.type.c_str(), l.energy,
               l.nuclide.c_str(), l.value, l.uncertainty, l.unit.c_str(), l.date.c_str(),
               l.time.c_str());
    else if (l.type == "GPS")
      t += fmt("%3s %6.1f %8s %10.4f %6.2f %s %s\r\n", l.type.c_str(), l.energy, l.nuclide.c_str(),
               l.value, l.uncertainty, l.date.c_str(), l.time.c_str());
    else
      t += fmt("%3s %6.1f %s %6.2f\r\n", l.type.c_str(), l.energy, percent_text(l.value).c_str(),
               l.uncertainty);
  }
  return t;
}

int load_source_file(const CalibrationSession& state, const std::string& path, EfficiencySource& out) {
  std::vector<std::uint8_t> bytes;
  if (!read_file(resolve_path(path), bytes)) {
    state.ui->message_box("Could not open source file:- " + path);
    return 0;
  }
  if (parse_source_file(std::string(bytes.begin(), bytes.end()), out) < 0) return 0;
  out.path = path;
  // A line that cannot be used as written would be skipped or misread
  // silently; name it and refuse the file.
  for (const SourceLine& line : out.lines) {
    if (line.type == "EFF") continue;
    std::string fault = check_source_line(line);
    if (fault.empty() && line.type == "ACT") {
      const std::string u = to_upper(line.unit);
      if (u != "BQ" && u != "KBQ" && u != "MBQ" && u != "UCI")
        fault = "The Activity units should be B,K,M or U for Bq,KBq,MBq or uCi";
    }
    int d = 0, m = 0, y = 0, hh = 0, mm = 0;
    if (fault.empty()) {
      const std::string date_fault = check_date(line.date, d, m, y);
      if (!date_fault.empty()) fault = "the reference date \"" + line.date + "\" cannot be read: " + date_fault;
    }
    if (fault.empty() && !line.time.empty()) {
      const std::string time_fault = check_time(line.time, hh, mm);
      if (!time_fault.empty()) fault = "the reference time \"" + line.time + "\" cannot be read: " + time_fault;
    }
    if (!fault.empty()) {
      char where[64];
      c_snprintf(where, sizeof where, "Line %d of ", line.line_number);
      state.ui->message_box(where + path + ": " + fault, "Source data file", kMsgError);
      return 0;
    }
  }
  return 1;
}

int choose_source_file(const CalibrationSession& state, EfficiencySource& out) {
  state.ui->set_status("Select 'Cancel' to create a new file");
  FileDialog d;
  d.title = "Select the required Source data file";
  d.filters = {{"Source data Files (*.efc)", "*.efc"}};
  d.initial_directory = state.paths.working_dir;
  if (!state.ui->open_file_dialog(d) || d.paths.empty()) {
    out = EfficiencySource{};
    return 0;
  }
  return load_source_file(state, d.paths.front(), out);
}

int save_source_file(const CalibrationSession& state, const EfficiencySource& source) {
  FileDialog d;
  d.title = "Save Source data File";
  d.filters = {{"Source data Files (*.efc)", "*.efc"}};
  d.initial_directory = state.paths.working_dir;
  if (!state.ui->save_file_dialog(d) || d.paths.empty()) return 0;
  std::string path = d.paths.front();
  if (base_name(path).find('.') == std::string::npos) path += ".efc";
  if (file_exists(path) &&
      state.ui->message_box("Update Source data file " + path + " ?",
                            "A Source data file with this name already exists", kMsgYesNo,
                            kAnswerYes) != kAnswerYes)
    return 0;
  std::string error;
  if (!write_text_atomic(path, format_source_file(source), &error)) {
    state.ui->message_box("Could not create the file: " + path);
    return 0;
  }
  return 1;
}

int close_efficiency_window(const CalibrationSession& state, EfficiencyCalibration& ec, bool cancel) {
  if (!cancel && !ec.points.empty() && !ec.calibrated) {
    const int answer = state.ui->message_box("Do you want to perform the Calibration ?",
                                             "No Calibration has been performed", kMsgYesNoCancel,
                                             kAnswerYes);
    if (answer == kAnswerCancel) return 0;
    if (answer == kAnswerYes) fit_efficiency(state, ec);
  }
  if (!cancel && ec.calibrated) {
    write_efficiency_report(state, ec, true);
    if (state.ui->message_box("Save changes to a Detector file ?", "The Calibration has been modified",
                              kMsgYesNo, kAnswerYes) == kAnswerYes)
      write_detector_calibration(state, true);
    state.ui->set_status("Efficiency Calibration completed");
    return 1;
  }
  restore_copies(state, ec.copies);
  state.flags.efficiency_update_pending = false;
  state.ui->set_status("Efficiency Calibration was abandoned");
  return 1;
}

std::string check_source_line(const SourceLine& line) {
  if (!(line.energy > 0)) return "The Energy should be greater than 0";
  if (line.type != "ACT" && line.type != "GPS" && line.type != "EFF")
    return "A for Activity, G for GPS, or E for an Efficiency value should be used";
  if (!(line.value > 0)) return "The Activity should be greater than 0";
  if (line.type == "ACT") {
    const std::string u = to_upper(line.unit);
    if (u.empty() || std::strchr("BKMU", u[0]) == nullptr)
      return "The Activity units should be B,K,M or U for Bq,KBq,MBq or uCi";
  }
  return {};
}

double activity_unit_factor(const std::string& unit) {
  const char u = unit.empty() ? 'B' : static_cast<char>(std::toupper(static_cast<unsigned char>(unit[0])));
  return u == 'K' ? 1000.0 : u == 'M' ? 1e6 : u == 'U' ? 37000.0 : 1.0;
}

double source_emission_rate(const SourceLine& line, const EfficiencySource& source, double yield,
                            double half_life_minutes, double minutes, double true_time) {
  double r = line.value * yield;
  if (half_life_minutes > 0) {
    r /= std::exp(minutes * kLn2 / half_life_minutes);
    const double c = true_time * kLn2 / (half_life_minutes * 60.0);
    if (c > 1e-6) r *= (1 - std::exp(-c)) / c;
  }
  if (source.standard_mass > 0) r *= source.standard_mass;
  if (line.type == "ACT") r *= activity_unit_factor(line.unit);
  return r;
}

namespace {

// The library nuclide named `name`, else the first whose name starts with
// it, or -1.
int find_library_nuclide(const NuclideLibrary& lib, const std::string& name) {
  if (name.empty()) return -1;
  // Names ignore case ("CS-137" is Cs-137); an exact name wins over a
  // longer one that starts with it.
  const std::string wanted = to_lower(name);
  int prefix = -1;
  for (int i = 0; i < lib.nuclide_count; ++i) {
    const std::string n = to_lower(to_string(lib.nuclides[i].name));
    if (n == wanted) return i;
    if (prefix < 0 && n.compare(0, wanted.size(), wanted) == 0) prefix = i;
  }
  return prefix;
}

// Minutes from the line's reference date and time to the collection.
double decay_minutes(const CalibrationSession& state, const SourceLine& line) {
  int d = 0, m = 0, y = 0, hh = 0, mm = 0;
  if (!check_date(line.date, d, m, y).empty()) return 0;
  if (!line.time.empty() && !check_time(line.time, hh, mm).empty()) hh = mm = 0;
  DateTime ref{static_cast<std::int16_t>(d), static_cast<std::int16_t>(m), static_cast<std::int16_t>(y),
               static_cast<std::int16_t>(hh), static_cast<std::int16_t>(mm)};
  return minutes_since_1900(state.spectrum.header.collected) - minutes_since_1900(ref);
}

bool add_point(const CalibrationSession& state, EfficiencyCalibration& ec, const EffPoint& p) {
  if (static_cast<int>(ec.points.size()) >= kMaxEfficiencyPoints) {
    state.ui->message_box("Only 40 Efficiency points can be used; the remaining points were not added",
                          "Warning", kMsgWarning);
    return false;
  }
  ec.points.push_back(p);
  return true;
}

}  // namespace

int compute_efficiency_points(const CalibrationSession& state, EfficiencyCalibration& ec) {
  ec.points.clear();
  std::unique_ptr<NuclideLibrary> wide;  // loaded when first needed
  const CalibrationRecord& cal = state.spectrum.calibration;
  const PeakList& peaks = state.peaks;
  const SpectrumHeader& h = state.spectrum.header;
  const double live = h.live_time > 0 ? h.live_time : state.spectrum.counts[0];
  const double true_time = h.true_time > 0 ? h.true_time : state.spectrum.counts[1];
  for (const SourceLine& line : ec.source.lines) {
    const double e = line.energy;
    EffPoint p;
    p.energy = e;
    p.channel = energy_to_channel(cal, e);
    if (line.type == "EFF") {
      p.efficiency = line.value * 0.01;
      p.uncertainty = line.uncertainty * 0.01;
      if (!add_point(state, ec, p)) break;
      continue;
    }
    const double tol = energy_tolerance(state.params, e);
    int best = 0, within = 0;
    double dist = 100;
    for (int k = 1; k <= peaks.count; ++k) {
      const double d = std::fabs(channel_to_energy(cal, peaks.centre[k]) - e);
      if (d < tol) ++within;
      if (d < dist) {
        dist = d;
        best = k;
      }
    }
    if (best == 0 || !(dist < tol)) {
      state.ui->message_box(fmt("Warning - no peak was found at %6.1f keV", e), {}, kMsgWarning);
      continue;
    }
    if (!peaks.fitted_flag[best]) {
      state.ui->message_box(fmt("The Peak at %6.1f keV has not been fitted", e), "Warning",
                            kMsgWarning);
      continue;
    }
    const double peak_energy = channel_to_energy(cal, peaks.centre[best]);
    if (within > 1)
      state.ui->message_box(fmt("Check there's not a false Multiplet,\nUsing the Peak at %6.1f keV",
                                peak_energy),
                            fmt("Warning, more than one Peak was found near %6.1f keV", e),
                            kMsgWarning);
    // A calibration source may hold nuclides the samples never do: those
    // the analysis library lacks are taken from the shipped wide library.
    const NuclideLibrary* lib = &state.library;
    int n = find_library_nuclide(*lib, line.nuclide);
    if (n < 0) {
      if (!wide) {
        wide = std::make_unique<NuclideLibrary>();
        SilentPlatform quiet;
        if (!load_library(quiet, state.paths, kWideLibrary, *wide, nullptr)) wide->nuclide_count = 0;
      }
      lib = wide.get();
      n = find_library_nuclide(*lib, line.nuclide);
    }
    if (n < 0) {
      state.ui->message_box("Isotope " + line.nuclide + " was not in the Library", {}, kMsgWarning);
      continue;
    }
    double yield = 1, u_yield = 0;
    if (line.type == "ACT") {
      auto [first, last] = lib->lines_of(n);
      int found = -1;
      double nearest = tol;
      for (int j = first; j < last; ++j) {
        const double d = std::fabs(lib->line_energy[j] - e);
        if (d < nearest) {
          nearest = d;
          found = j;
        }
      }
      if (found < 0) {
        state.ui->message_box(fmt("Line at %6.1f was not in the Library", e), {}, kMsgWarning);
        continue;
      }
      yield = lib->line_yield[found];
      u_yield = yield > 0 ? lib->line_uncertainty[found] / yield : 0;
    }
    const double minutes = decay_minutes(state, line);
    if (minutes < 0) {
      char buf[600];
      c_snprintf(buf, sizeof buf, "Line %d of %s: the reference date %s %s is after the start of the count",
                 line.line_number, ec.source.path.empty() ? "the source file" : ec.source.path.c_str(),
                 line.date.c_str(), line.time.c_str());
      state.ui->message_box(buf, "Source data file", kMsgError);
      ec.points.clear();
      return 0;
    }
    const double rate = source_emission_rate(line, ec.source, yield,
                                             lib->nuclides[n].half_life, minutes,
                                             true_time);
    if (!(rate > 0) || !(live > 0)) continue;
    p.channel = peaks.centre[best];
    p.efficiency = (peaks.net_area[best] / live) / rate;
    const double ua = peaks.net_area_pct[best] / 100.0, ul = line.uncertainty / 100.0;
    p.uncertainty = std::sqrt(ua * ua + ul * ul + u_yield * u_yield);
    if (!add_point(state, ec, p)) break;
  }
  ec.crossover = ec.source.crossover;
  if (ec.points.size() < 6) ec.crossover = 0;
  default_orders(ec);
  return 1;
}

void default_orders(EfficiencyCalibration& ec) {
  int high_count = 0, low_count = 1;
  for (const EffPoint& p : ec.points) {
    if (p.energy >= ec.crossover) ++high_count;
    else ++low_count;
  }
  if (ec.crossover > 0) {
    if (ec.low_order == 0) ec.low_order = low_count > 5 ? 4 : low_count > 2 ? 3 : 2;
  } else {
    ec.low_order = 0;
  }
  if (ec.high_order == 0) ec.high_order = high_count > 5 ? 4 : high_count > 3 ? 3 : 2;
  if (ec.crossover <= 0 && ec.batch) ec.high_order = high_count - 1;
}

bool fit_efficiency_curve(const std::vector<EffPoint>& points, int first, int last, int n,
                          bool inverse, CurveFit& out) {
  out = CurveFit{};
  if (n < 1 || n > 6 || first < 0 || last >= static_cast<int>(points.size()) || first > last)
    return false;
  NormalEquations eq(n);
  for (int i = first; i <= last; ++i) {
    const EffPoint& p = points[i];
    if (!(p.energy > 0) || !(p.efficiency > 0)) continue;
    const double s = p.uncertainty > 0 ? p.uncertainty : 0.01;
    const double w = 1.0 / (s * s);
    double x = std::log(p.energy), y = std::log(p.efficiency);
    if (inverse) {
      x = 1.0 / (p.energy / 1000.0);
      y *= x;
    }
    double xp[12];
    xp[0] = 1;
    for (int k = 1; k < 12; ++k) xp[k] = xp[k - 1] * x;
    for (int a = 0; a < n; ++a) {
      eq.rhs(a) += w * y * xp[a];
      for (int b = 0; b < n; ++b) eq.normal(a, b) += w * xp[a + b];
    }
  }
  if (!eq.solve()) return false;
  out.terms = n;
  for (int a = 0; a < n; ++a) {
    out.coeff[a] = eq.solution(a);
    for (int b = 0; b < n; ++b) out.variance[a + b] += eq.inverse(a, b);
  }
  return true;
}

int fit_efficiency(const CalibrationSession& state, EfficiencyCalibration& ec) {
  std::vector<EffPoint>& pts = ec.points;
  if (pts.size() > static_cast<std::size_t>(kMaxEfficiencyPoints)) pts.resize(kMaxEfficiencyPoints);
  const int np = static_cast<int>(pts.size());
  const double x = ec.crossover;
  CurveFit low, high;
  // Low curve: the points up to crossover + 1 keV and the one after them.
  int low_points = 0, last_low = -1;
  for (int i = 0; i < np; ++i)
    if (pts[i].energy <= x + 1) {
      ++low_points;
      last_low = i;
    }
  if (x > 0 && ec.low_order == 0) ec.low_order = 3;
  bool low_ok = false;
  if (x > 0 && low_points >= 3) {
    const int n = std::min({ec.low_order, low_points, 5});
    const int last = std::min(last_low + 1, np - 1);
    low_ok = fit_efficiency_curve(pts, 0, last, n, ec.inverse, low);
  }
  // High curve: the points from crossover - 1 keV and the one before them.
  int high_points = 0, last_below = -1;
  for (int i = 0; i < np; ++i) {
    if (pts[i].energy >= x - 1) ++high_points;
    else last_below = i;
  }
  bool high_ok = false;
  if (high_points > 1) {
    const int n = std::min({ec.high_order > 0 ? ec.high_order : 2, high_points, 6});
    high_ok = fit_efficiency_curve(pts, last_below >= 0 ? last_below : 0, np - 1, n, ec.inverse, high);
  }
  if (!high_ok && !low_ok) {
    state.ui->message_box("Need at least 2 Peaks for Calibration");
    return 0;
  }
  // With a crossover both curves are needed: energies on the side without
  // one would get no efficiency at all.
  if (x > 0 && (!low_ok || !high_ok)) {
    char buf[240];
    if (!low_ok)
      c_snprintf(buf, sizeof buf,
                 "The low energy curve needs at least 3 efficiency points at or below the crossover "
                 "(%.1f keV); %d were found",
                 x, low_points);
    else
      c_snprintf(buf, sizeof buf,
                 "The high energy curve needs at least 2 efficiency points at or above the crossover "
                 "(%.1f keV); %d were found",
                 x, high_points);
    state.ui->message_box(buf, "Efficiency Calibration", kMsgError);
    return 0;
  }
  CalibrationRecord& cal = state.spectrum.calibration;
  cal.crossover = static_cast<float>(x);
  cal.low_eff_terms = low_ok ? static_cast<float>(low.terms) : 0.0f;
  cal.high_eff_terms = high_ok ? static_cast<float>(high.terms) : 0.0f;
  cal.low_eff = {};
  cal.high_eff = {};
  cal.variance = {};
  for (int k = 0; k < low.terms && low_ok; ++k) cal.low_eff[k] = static_cast<float>(low.coeff[k]);
  for (int k = 0; k < 2 * low.terms - 1 && low_ok; ++k) cal.variance[kLowVarianceIndex + k] = low.variance[k];
  for (int k = 0; k < high.terms && high_ok; ++k) cal.high_eff[k] = static_cast<float>(high.coeff[k]);
  for (int k = 0; k < 2 * high.terms - 1 && high_ok; ++k)
    cal.variance[kHighVarianceIndex + k] = high.variance[k];
  cal.inverse_form = ec.inverse ? static_cast<std::int16_t>(high_ok ? high.terms : low.terms) : 0;
  stamp(cal.efficiency_date, cal.efficiency_time);
  assign(cal.geometry_text, ec.source.description);
  assign(cal.background_name, ec.source.background_file);
  cal.sample_size = static_cast<float>(ec.source.sample_size);
  assign(cal.sample_units, ec.source.sample_unit, false);
  cal.uncertainty = static_cast<float>(ec.source.total_uncertainty);
  cal.variance_stored = 1;
  CalibrationContext ctx = calibration_context(state.spectrum, state.flags);
  ctx.use_points = false;
  cal.efficiency_max = static_cast<float>(efficiency_plot_maximum(cal, ctx));
  EfficiencyPoints& stored = state.spectrum.efficiency;
  stored = EfficiencyPoints{};
  for (int i = 0; i < np; ++i) {
    stored.energy[i] = static_cast<float>(pts[i].energy);
    stored.efficiency[i] = static_cast<float>(pts[i].efficiency);
    stored.uncertainty[i] = static_cast<float>(pts[i].uncertainty);
  }
  stored.count = np;
  if (state.spectrum.header.geometry == 0)
    state.spectrum.header.geometry = static_cast<std::int16_t>(state.params.default_geometry);
  ec.calibrated = true;
  state.flags.efficiency_update_pending = true;
  state.flags.calibration_modified = true;
  return 1;
}

std::string list_percent(double percent, double small) {
  if (percent >= small) return fmt("%6.3f", percent);
  const std::string e = c_format("%8.1e", percent);
  return e.substr(0, 5) + e.substr(e.size() - 1);
}

std::vector<std::string> efficiency_point_lines(const CalibrationSession& state, const EfficiencyCalibration& ec) {
  std::vector<std::string> lines;
  CalibrationContext ctx = calibration_context(state.spectrum, state.flags);
  ctx.use_points = false;
  double sum = 0;
  for (const EffPoint& p : ec.points) {
    const double fitted = ec.calibrated ? efficiency_at(state.spectrum.calibration, p.energy, ctx) : 0.0;
    const double diff = p.efficiency > 0 && ec.calibrated ? (fitted - p.efficiency) * 100 / p.efficiency : 0.0;
    lines.push_back(fmt("%6.1f %s %s %6.2f", p.energy, list_percent(p.efficiency * 100, 0.05).c_str(),
                        list_percent(fitted * 100, 0.1).c_str(), diff));
    sum += (fitted - p.efficiency) * (fitted - p.efficiency);
  }
  if (ec.calibrated && !ec.points.empty()) lines.push_back(fmt("%11.3e", std::sqrt(sum / ec.points.size())));
  return lines;
}

std::string efficiency_equation(const CalibrationRecord& cal, bool high_curve, bool inverse) {
  const int n = term_count(high_curve ? cal.high_eff_terms : cal.low_eff_terms);
  auto coeff = [&](int k) -> double { return high_curve ? cal.high_eff[k] : cal.low_eff[k]; };
  std::string t;
  if (inverse) {
    t = " Linear Energy Polynominal used\r\n";
    t += fmt("Log(Efficiency)=%e*En", coeff(0));
    for (int k = 1; k < n; ++k) {
      const double a = coeff(k);
      if (k == 1) t += a < 0 ? fmt("+(%e)", a) : fmt("+%e", a);
      else t += a < 0 ? fmt("+(%e*En^-%d)", a, k - 1) : fmt("+%e*En^-%d", a, k - 1);
    }
  } else {
    t = fmt("Log(Efficiency)=%e", coeff(0));
    for (int k = 1; k < n; ++k) {
      const double a = coeff(k);
      if (k == 1) t += a < 0 ? fmt("+(%e*Log(En))", a) : fmt("+%e*Log(En)", a);
      else t += a < 0 ? fmt("+(%e*Log(En)^%d)", a, k) : fmt("+%e*Log(En)^%d", a, k);
    }
  }
  return t + "\r\n";
}

std::string efficiency_report_text(const CalibrationSession& state, const EfficiencyCalibration& ec, bool results) {
  const char* in = kReportIndent;
  const CalibrationRecord& cal = state.spectrum.calibration;
  std::string t = report_date_line();
  t += fmt("%sEfficiency Calibration Report for Detector %d, Geometry %d\r\n", in,
           report_detector(state), report_geometry(state));
  t += fmt("%sGeometry Description: %s\r\n\r\n", in, to_string(cal.geometry_text).c_str());
  if (results) {
    t += fmt("%s  Energy %s%s%% Efficiency%s      Difference\r\n", in, in, in, in);
    t += fmt("%s%s%sMeasured %s    Fitted %s    %%\r\n\r\n", in, in, in, in, in);
    CalibrationContext ctx = calibration_context(state.spectrum, state.flags);
    ctx.use_points = false;
    for (const EffPoint& p : ec.points) {
      const EfficiencyWithUncertainty f = efficiency_with_uncertainty(cal, p.energy, ctx);
      const double measured = p.efficiency * 100, fitted = f.efficiency * 100;
      t += fmt("%s %6.1f  %s +/-%4.1f %%  %s +/-%4.1f %% %7.3f\r\n", in, p.energy,
               percent_text(measured).c_str(), p.uncertainty * 100, percent_text(fitted).c_str(),
               std::sqrt(std::max(0.0, f.relative_variance)) * 100,
               measured > 0 ? (fitted - measured) * 100 / measured : 0.0);
    }
    t += fmt("\r\n Crossover Energy:- %5.1f\r\n", cal.crossover);
    const bool inverse = cal.inverse_form != 0;
    if (cal.crossover > 0) {
      t += fmt(" Low  Energy Order of Fit:- %d\r\n", term_count(cal.low_eff_terms));
      t += efficiency_equation(cal, false, inverse && cal.inverse_form == term_count(cal.low_eff_terms));
    }
    t += fmt(" High Energy Order of Fit:- %d\r\n", term_count(cal.high_eff_terms));
    t += efficiency_equation(cal, true, inverse && cal.inverse_form == term_count(cal.high_eff_terms));
  } else {
    t += " Efficiency Calibration Failed\r\n\r\n";
  }
  t += "\r\n Spectrum data file used:- " + spectrum_file_used(state) + "\r\n";
  t += fmt(" Source uncertainty : %4.2f %%\r\n", ec.source.total_uncertainty);
  return t;
}

bool write_efficiency_report(const CalibrationSession& state, const EfficiencyCalibration& ec, bool results) {
  return write_report(state, fmt("Det_%02d_%03d.txt", report_detector(state), report_geometry(state)),
                      efficiency_report_text(state, ec, results));
}

std::string edf_text(const EfficiencyCalibration& ec) {
  std::string t;
  for (const EffPoint& p : ec.points)
    t += fmt("EFF %6.1f %12.5e %12.5e\r\n", p.energy, p.efficiency, p.uncertainty);
  return t;
}

bool write_edf_file(const CalibrationSession& state, const EfficiencyCalibration& ec) {
  std::string name = state.flags.current_file;
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos) name = name.substr(0, dot);
  return write_report(state, name + ".edf", edf_text(ec));
}

int merge_edf_text(const CalibrationSession& state, EfficiencyCalibration& ec, const std::string& text) {
  int asked = 0;  // 0 not asked, 1 combine, 2 append
  for (const std::string& line : text_lines(text)) {
    char word[64] = {0};
    float e = 0, eff = 0, unc = 0;
    if (c_sscanf(line.c_str(), "%63s %f %f %f", word, &e, &eff, &unc) < 3) continue;
    if (!(e > 0) || !(eff > 0)) continue;
    EffPoint* match = nullptr;
    for (EffPoint& p : ec.points)
      if (std::fabs(p.energy - e) < 0.5) {
        match = &p;
        break;
      }
    if (match && asked == 0)
      asked = state.ui->message_box("Do you want to combine Efficiency values ?",
                                    "No adds new Calibration points", kMsgYesNo) == kAnswerYes ? 1 : 2;
    if (match && asked == 1) {
      const double s1 = match->uncertainty, s2 = unc;
      if (s1 > 0 && s2 > 0) {
        const double w1 = 1 / (s1 * s1), w2 = 1 / (s2 * s2);
        match->efficiency = (match->efficiency * w1 + eff * w2) / (w1 + w2);
        match->uncertainty = 1 / std::sqrt(w1 + w2);
      } else {
        match->efficiency = (match->efficiency + eff) / 2;
        match->uncertainty = unc;
      }
      continue;
    }
    EffPoint p;
    p.energy = e;
    p.efficiency = eff;
    p.uncertainty = unc;
    p.channel = energy_to_channel(state.spectrum.calibration, e);
    if (!add_point(state, ec, p)) break;
  }
  default_orders(ec);
  return fit_efficiency(state, ec);
}

std::string efficiency_listing_text(const CalibrationSession& state) {
  const CalibrationRecord& cal = state.spectrum.calibration;
  if (term_count(cal.high_eff_terms) <= 0 && term_count(cal.low_eff_terms) <= 0) {
    state.ui->message_box("There is currently no Efficiency Calibration");
    return {};
  }
  std::string t = fmt("Detector %d, Geometry %d\r\n", report_detector(state), report_geometry(state));
  t += "Description " + to_string(cal.geometry_text) + "\r\n";
  t += fmt("Crossover %6.1f\r\n", cal.crossover);
  CalibrationContext ctx = calibration_context(state.spectrum, state.flags);
  ctx.use_points = false;
  const int channels = state.spectrum.channels() > 2 ? state.spectrum.channels() : kMaxChannels;
  const double top = channel_to_energy(cal, channels - 1);
  for (double e = 50; e <= top;) {
    const EfficiencyWithUncertainty f = efficiency_with_uncertainty(cal, e, ctx);
    t += fmt("Eff %6.1f %11.3e %5.1f\r\n", e, f.efficiency * 100,
             std::sqrt(std::max(0.0, f.relative_variance)) * 100);
    e += e < 300 ? 50 : e < 1000 ? 100 : 200;
  }
  if (cal.crossover > 0) {
    t += fmt("Low Energy order:- %d\r\n", term_count(cal.low_eff_terms));
    for (int k = 0; k < term_count(cal.low_eff_terms) && k < 5; ++k)
      t += fmt("Coef(%d):- %e\r\n", k, cal.low_eff[k]);
  }
  t += fmt("High Energy order:- %d\r\n", term_count(cal.high_eff_terms));
  for (int k = 0; k < term_count(cal.high_eff_terms) && k < 6; ++k)
    t += fmt("Coef(%d):- %e\r\n", k, cal.high_eff[k]);
  return t;
}

int write_efficiency_listing(const CalibrationSession& state, const std::string& path) {
  const std::string text = efficiency_listing_text(state);
  if (text.empty()) return 0;
  std::string error;
  if (!write_text_atomic(path, text, &error)) {
    state.ui->message_box("Could not create the file: " + path);
    return 0;
  }
  return 1;
}

int batch_efficiency_calibration(const CalibrationSession& state) {
  EfficiencyCalibration ec;
  ec.batch = true;
  int ok = check_before_efficiency_calibration(state, ec.copies);
  if (ok) {
    if (state.library.nuclide_count == 0 && !to_string(state.params.analysis_library).empty())
      load_library(*state.ui, state.paths, to_string(state.params.analysis_library), state.library,
                   nullptr);
    const std::string path = join_path(state.paths.working_dir, state.flags.efficiency_source + ".efc");
    ok = load_source_file(state, path, ec.source);
  }
  if (ok) ok = compute_efficiency_points(state, ec);
  if (ok) ok = fit_efficiency(state, ec);
  if (ok) ok = write_detector_calibration(state, false);
  if (!ok) state.ui->message_box(kCalibrationNotCompleted);
  write_efficiency_report(state, ec, ok && ec.calibrated);
  return ok ? 1 : 0;
}

}  // namespace kestrim
