#include "calibration/energy_calibration.h"
#include "platform/c_locale.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "calibration/calibration_session.h"
#include "calibration/calibration_checks.h"
#include "peaks/peak_search.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "settings/calibration_functions.h"
#include "settings/detector_file.h"

namespace kestrim {

namespace {

std::string fmt(const char* format, double a) {
  char buf[128];
  c_snprintf(buf, sizeof buf, format, a);
  return buf;
}

// Clears the assigned peaks (channel, weight, peak index) of every point.
void clear_assignments(CalPointList& list) {
  for (CalPoint& p : list.points) {
    p.channel = 0;
    p.weight = 1;
    p.peak = 0;
  }
}

void refresh_goodness(EnergyCalibration& ec, const CalibrationRecord& cal) {
  std::vector<double> diffs;
  if (ec.list.calibrated) {
    for (const CalPoint& p : ec.list.points)
      if (p.peak > 0 && p.channel > 0 && p.energy > 0)
        diffs.push_back(p.energy - channel_to_energy(cal, p.channel));
  }
  ec.goodness = rms(diffs);
}

}  // namespace

SetupResult start_energy_calibration(const CalibrationSession& state, EnergyCalibration& ec) {
  ec.saved_calibration = state.spectrum.calibration;
  ec.saved_list = ec.list;
  ec.mode = true;
  ec.closed = false;
  return setup_energy_points(state, ec, true);
}

SetupResult read_energy_list(const CalibrationSession& state, EnergyCalibration& ec) {
  std::string path;
  if (ec.batch && !ec.list.default_list.empty()) {
    path = join_path(state.paths.working_dir, ec.list.default_list + ".enc");
  } else {
    state.ui->set_status("Select 'Cancel' for manual energy entry");
    FileDialog d;
    d.title = "Select the required Energy List file";
    d.filters = {{"Energy List Files (*.enc)", "*.enc"}};
    d.initial_directory = state.paths.working_dir;
    if (!state.ui->open_file_dialog(d) || d.paths.empty()) return SetupResult::kFailed;
    path = d.paths.front();
  }
  ListFile file;
  if (!read_list_file(*state.ui, path, file)) return SetupResult::kFailed;
  if (file.coefficients) {
    CalibrationRecord& cal = state.spectrum.calibration;
    // A list without a usable gain would leave (or, once saved, replace)
    // the calibration with nothing: refuse it.
    if (!(std::isfinite(file.c[0]) && std::isfinite(file.c[1]) && std::isfinite(file.c[2]) &&
          file.c[1] > 0)) {
      state.ui->message_box("The Coefficients in file:- " + path +
                                " do not give an energy calibration (a positive gain is needed)",
                            "Energy Calibration", kMsgError);
      return SetupResult::kFailed;
    }
    {
      const int terms = file.c[2] != 0 ? 3 : 2;
      store_energy_calibration(cal, terms, false, file.c);
      cal.energy_count = 0;
      cal.energies = {};
      state.flags.energy_calibration_changed = true;
    }
    state.ui->message_box("Calibrated using Coefficients found in file:- " + path, "Information",
                          kMsgOk);
    ec.list.calibrated = true;
    ec.mode = false;
    ec.closed = true;
    state.ui->set_status("Energy Calibration completed");
    // The window closes as with OK (a batch run writes its report itself).
    if (!ec.batch) write_energy_report(state, ec, true);
    return SetupResult::kCoefficients;
  }
  for (CalPoint& p : ec.list.points) p.energy = 0;
  const int n = static_cast<int>(file.energies.size());
  if (ec.list.count() < n) ec.list.points.resize(n);
  for (int i = 0; i < n; ++i) ec.list.points[i].energy = file.energies[i];
  return SetupResult::kWaiting;
}

SetupResult setup_energy_points(const CalibrationSession& state, EnergyCalibration& ec, bool with_list) {
  const PeakList& peaks = state.peaks;
  std::vector<int> candidates;
  for (int k = 1; k <= peaks.count; ++k) candidates.push_back(k);
  ec.list.calibrated = false;
  int n = 0;
  if (with_list) {
    ec.list.points.clear();
    SetupResult r = read_energy_list(state, ec);
    if (r == SetupResult::kCoefficients) return r;
    if (r == SetupResult::kFailed && ec.batch) return r;
    if (r == SetupResult::kWaiting) n = ec.list.count();
  } else {
    n = 0;
    for (const CalPoint& p : ec.list.points)
      if (p.energy > 0) ++n;
  }
  clear_assignments(ec.list);
  bool loaded = n > 1;
  if (n > 1) {
    while (static_cast<int>(candidates.size()) > n) {
      std::size_t drop = 0;
      for (std::size_t i = 1; i < candidates.size(); ++i)
        if (peaks.significance[candidates[i]] < peaks.significance[candidates[drop]]) drop = i;
      candidates.erase(candidates.begin() + static_cast<long>(drop));
    }
  } else {
    state.ui->set_status("Enter the energies of the peaks listed");
    n = peaks.count;
  }
  n = std::min(n, kMaxCalPoints);
  if (ec.list.count() < n) ec.list.points.resize(n);
  for (int i = 0; i < n && i < static_cast<int>(candidates.size()); ++i) {
    CalPoint& p = ec.list.points[i];
    p.peak = candidates[i];
    p.channel = peaks.centre[candidates[i]];
  }
  ec.list.terms = n > 2 ? 3 : 2;
  ec.list.choice = ec.list.terms == 3 ? CalPointList::Choice::kSecondOrder
                                      : CalPointList::Choice::kFirstOrder;
  if (loaded && n == static_cast<int>(candidates.size())) {
    return calibrate_energy(state, ec) ? SetupResult::kCalibrated : SetupResult::kFailed;
  }
  if (loaded) state.ui->set_status("Delete the Energies of the Peaks not found");
  return SetupResult::kWaiting;
}

int calibrate_energy(const CalibrationSession& state, EnergyCalibration& ec) {
  CalPointList& list = ec.list;
  if (list.points.empty()) return 0;
  int terms = 3;
  bool log = false;
  if (ec.batch) {
    if (list.count() < 3) terms = 2;
  } else if (list.choice == CalPointList::Choice::kLog) {
    log = true;
  } else if (list.choice == CalPointList::Choice::kFirstOrder) {
    terms = 2;
  }
  std::array<double, 3> c{};
  CalibrationRecord& cal = state.spectrum.calibration;
  if (list.count() == 1) {
    const CalPoint& p = list.points[0];
    terms = 2;
    log = false;
    c = {0.0, p.channel > 0 ? p.energy / p.channel : 1.0, 0.0};
  } else if (!fit_energy_points(list.points, terms, log, c)) {
    return 0;
  }
  if (terms < 3) log = false;
  list.terms = terms;
  list.log_function = log;
  store_energy_calibration(cal, terms, log, c);
  // The calibration energies: those of the points paired with a peak.
  cal.energies = {};
  int stored = 0;
  for (const CalPoint& p : list.points) {
    if (stored >= kMaxCalibrationEnergies) break;
    if (p.energy > 0 && p.peak > 0) cal.energies[stored++] = static_cast<float>(p.energy);
  }
  cal.energy_count = static_cast<float>(stored);
  list.calibrated = true;
  state.flags.energy_calibration_changed = true;
  state.flags.calibration_modified = true;
  state.flags.display_refresh = true;
  refresh_goodness(ec, cal);
  return 1;
}

std::vector<std::string> energy_point_lines(const CalibrationSession& state, const EnergyCalibration& ec) {
  std::vector<std::string> lines;
  const CalibrationRecord& cal = state.spectrum.calibration;
  char buf[128];
  for (const CalPoint& p : ec.list.points) {
    if (p.peak <= 0) {
      c_snprintf(buf, sizeof buf, "        %7.2f  Peak not found", p.energy);
    } else if (ec.list.calibrated && p.channel > 0 && p.energy > 0) {
      const double fitted = channel_to_energy(cal, p.channel);
      c_snprintf(buf, sizeof buf, "%7.1f %7.2f %7.2f %5.2f", p.channel, p.energy, fitted,
                    p.energy - fitted);
    } else {
      c_snprintf(buf, sizeof buf, "%7.1f %7.2f", p.channel, p.energy);
    }
    lines.push_back(buf);
  }
  if (ec.list.calibrated) lines.push_back(fmt("%11.3e", ec.goodness));
  return lines;
}

int enter_energy(const CalibrationSession& state, EnergyCalibration& ec, int index, const std::string& text) {
  if (index < 0 || index >= ec.list.count()) return index;
  float e = 0;
  if (c_sscanf(text.c_str(), "%f", &e) == 1) {
    ec.list.points[index].energy = e;
    ec.list.list_modified = true;
  }
  if (index + 1 >= ec.list.count()) {
    state.ui->set_status("Select  'Calibrate'  to perform the Calibration");
    return index;
  }
  return index + 1;
}

int add_energy_peak(const CalibrationSession& state, EnergyCalibration& ec, double cursor_channel) {
  const int k = nearest_peak(state, cursor_channel);
  if (k == 0 || std::fabs(state.peaks.centre[k] - cursor_channel) > 250) {
    state.ui->message_box("There is no Peak near the cursor", "A Peak should be inserted", kMsgOk);
    return 0;
  }
  const double ch = state.peaks.centre[k];
  for (const CalPoint& p : ec.list.points) {
    if (p.peak > 0 && p.channel == ch) {
      state.ui->message_box("This Peak is already in the list", "Index to the required Peak",
                            kMsgOk);
      return 0;
    }
  }
  // A full list refuses further points.
  if (ec.list.count() >= kMaxCalPoints) return 0;
  CalPoint p;
  p.channel = ch;
  p.peak = k;
  auto at = std::find_if(ec.list.points.begin(), ec.list.points.end(),
                         [&](const CalPoint& q) { return q.peak > 0 && q.channel > ch; });
  ec.list.points.insert(at, p);
  ec.list.calibrated = false;
  return 1;
}

void delete_energy(EnergyCalibration& ec, int index) {
  std::vector<CalPoint>& pts = ec.list.points;
  const int n = ec.list.count();
  if (index < 0 || index >= n) return;
  for (int i = index; i + 1 < n; ++i) pts[i].energy = pts[i + 1].energy;
  pts[n - 1].energy = 0;
  ec.list.list_modified = true;
  // The last point went when it is left with neither a peak nor an energy.
  if (pts[n - 1].peak == 0 || pts[n - 1].energy == 0) {
    if (pts[n - 1].peak == 0) pts.pop_back();
    else if (pts[n - 1].energy == 0 && index == n - 1) pts.pop_back();
  }
}

void delete_channel(const CalibrationSession& state, EnergyCalibration& ec, int index) {
  std::vector<CalPoint>& pts = ec.list.points;
  const int n = ec.list.count();
  if (index < 0 || index >= n) return;
  const int removed = pts[index].peak;
  if (removed > 0) remove_peak(state, state.peaks.centre_channel[removed]);
  for (int i = index; i + 1 < n; ++i) {
    pts[i].channel = pts[i + 1].channel;
    pts[i].peak = pts[i + 1].peak;
  }
  pts[n - 1].channel = 0;
  pts[n - 1].peak = 0;
  if (removed > 0)
    for (CalPoint& p : pts)
      if (p.peak > removed) --p.peak;
  if (pts[n - 1].energy == 0) pts.pop_back();
  ec.list.calibrated = false;
}

void delete_point(const CalibrationSession& state, EnergyCalibration& ec, int index) {
  std::vector<CalPoint>& pts = ec.list.points;
  if (index < 0 || index >= ec.list.count()) return;
  const int removed = pts[index].peak;
  if (removed > 0) remove_peak(state, state.peaks.centre_channel[removed]);
  pts.erase(pts.begin() + index);
  if (removed > 0)
    for (CalPoint& p : pts)
      if (p.peak > removed) --p.peak;
  ec.list.list_modified = true;
  ec.list.calibrated = false;
}

void delete_all_points(const CalibrationSession& state, EnergyCalibration& ec) {
  const int answer = state.ui->message_box("Are you sure you want to delete all the points ?",
                                           "Confirmation Required", kMsgYesNoCancel);
  if (answer != kAnswerYes) return;
  ec.list.points.clear();
  setup_energy_points(state, ec, false);
  state.ui->set_status("Double Click on the required Peaks in the Spectrum");
}

int offer_to_save_energy_list(const CalibrationSession& state, EnergyCalibration& ec) {
  if (!ec.list.list_modified) return 1;
  const int answer = state.ui->message_box("Save changes to the Energy List File ?",
                                           "The Energy List has been modified", kMsgYesNoCancel);
  if (answer == kAnswerCancel) return 0;
  if (answer != kAnswerYes) return 1;
  FileDialog d;
  d.title = "Save Energy List File";
  d.filters = {{"Energy List Files (*.enc)", "*.enc"}};
  d.initial_directory = state.paths.working_dir;
  if (!state.ui->save_file_dialog(d) || d.paths.empty()) return 1;
  std::string path = d.paths.front();
  if (base_name(path).find('.') == std::string::npos) path += ".enc";
  std::vector<double> energies;
  for (const CalPoint& p : ec.list.points) energies.push_back(p.energy);
  std::string error;
  if (!write_text_atomic(path, format_list_file(kEnergyListTitle, energies), &error))
    state.ui->message_box("Could not create the file: " + path);
  else
    ec.list.list_modified = false;
  return 1;
}

int energy_ok(const CalibrationSession& state, EnergyCalibration& ec, const std::string& edited_text, int index) {
  if (!edited_text.empty()) {
    enter_energy(state, ec, index, edited_text);
    return 0;
  }
  if (!ec.list.calibrated) {
    if (calibrate_energy(state, ec))
      state.ui->set_status("Select 'OK' to complete the Calibration routine");
    return 0;
  }
  if (!offer_to_save_energy_list(state, ec)) return 0;
  state.ui->set_status("Energy Calibration completed");
  write_energy_report(state, ec, true);
  ec.mode = false;
  ec.closed = true;
  return 1;
}

int energy_cancel(const CalibrationSession& state, EnergyCalibration& ec) {
  if (!offer_to_save_energy_list(state, ec)) return 0;
  state.spectrum.calibration = ec.saved_calibration;
  ec.list = ec.saved_list;
  ec.mode = false;
  ec.closed = true;
  return 1;
}

std::string energy_report_text(const CalibrationSession& state, const EnergyCalibration& ec, bool results) {
  const char* in = kReportIndent;
  char buf[256];
  std::string t = report_date_line();
  c_snprintf(buf, sizeof buf, "%sEnergy Calibration Report for Detector number %d\r\n\r\n", in,
                report_detector(state));
  t += buf;
  if (results) {
    c_snprintf(buf, sizeof buf, "%s%sPeak%s  Fitted      Energy\r\n", in, in, in);
    t += buf;
    c_snprintf(buf, sizeof buf, "%s Channel    Energy    Energy    Difference\r\n\r\n", in);
    t += buf;
    const CalibrationRecord& cal = state.spectrum.calibration;
    for (const CalPoint& p : ec.list.points) {
      if (p.peak <= 0) continue;
      const double fitted = channel_to_energy(cal, p.channel);
      c_snprintf(buf, sizeof buf, "%s %7.1f   %7.2f   %7.2f     %6.2f\r\n", in, p.channel,
                    p.energy, fitted, p.energy - fitted);
      t += buf;
    }
    t += energy_fit_lines(cal);
  } else {
    t += " Energy Calibration Failed\r\n\r\n";
  }
  t += "\r\n Spectrum data file used:- " + spectrum_file_used(state) + "\r\n";
  return t;
}

bool write_energy_report(const CalibrationSession& state, const EnergyCalibration& ec, bool results) {
  char name[32];
  c_snprintf(name, sizeof name, "Det_%02d_ene.txt", report_detector(state));
  return write_report(state, name, energy_report_text(state, ec, results));
}

namespace {

// A batch run pairs the list's energies with the strongest peaks in channel
// order. An energy without its peak in the spectrum (or a duplicate in the
// list) shifts every later pair; the fit then leaves a residual far beyond a
// peak's width. Returns the refusal, or "" when every pair agrees.
std::string check_pairing(const CalibrationSession& state, const EnergyCalibration& ec) {
  const CalibrationRecord& cal = state.spectrum.calibration;
  CalibrationContext ctx = calibration_context(state.spectrum, state.flags);
  for (const CalPoint& p : ec.list.points) {
    if (!(p.energy > 0)) continue;
    if (p.peak <= 0 || !(p.channel > 0)) {
      char buf[200];
      c_snprintf(buf, sizeof buf,
                 "No peak was found for the energy %.1f keV: remove it from the list or count longer",
                 p.energy);
      return buf;
    }
    const double fitted = channel_to_energy(cal, p.channel);
    const double gain = std::fabs(channel_to_energy(cal, p.channel + 0.5) -
                                  channel_to_energy(cal, p.channel - 0.5));
    const double fwhm = 2.355 * width_at_channel(cal, p.channel, ctx) * gain;
    const double limit = std::max(fwhm, energy_tolerance(state.params, p.energy));
    if (!std::isfinite(fitted) || std::fabs(fitted - p.energy) > limit) {
      char buf[300];
      c_snprintf(buf, sizeof buf,
                 "The energy %.1f keV was paired with the peak at channel %.1f, which the fit puts "
                 "at %.1f keV: more than a peak width away. Check that each energy of the list has "
                 "its peak and that no energy is listed twice",
                 p.energy, p.channel, fitted);
      return buf;
    }
  }
  return {};
}

}  // namespace

int batch_energy_calibration(const CalibrationSession& state) {
  CalibrationCopies copies;
  EnergyCalibration ec;
  ec.batch = true;
  ec.list.default_list = state.flags.efficiency_source;
  int ok = check_before_energy_calibration(state, copies);
  if (ok) {
    ec.saved_calibration = state.spectrum.calibration;
    ec.mode = true;
    SetupResult r = setup_energy_points(state, ec, true);
    if (r == SetupResult::kWaiting) ok = calibrate_energy(state, ec);
    else ok = r == SetupResult::kCalibrated || r == SetupResult::kCoefficients;
    if (ok && r != SetupResult::kCoefficients) {
      const std::string refusal = check_pairing(state, ec);
      if (!refusal.empty()) {
        state.ui->message_box(refusal, "Energy Calibration", kMsgError);
        restore_copies(state, copies);
        state.flags.energy_calibration_changed = false;
        ec.list.calibrated = false;
        ok = 0;
      }
    }
    ec.mode = false;
  }
  if (ok) ok = write_detector_calibration(state, false);
  if (!ok) state.ui->message_box(kCalibrationNotCompleted);
  write_energy_report(state, ec, ok && ec.list.calibrated);
  return ok ? 1 : 0;
}

}  // namespace kestrim
