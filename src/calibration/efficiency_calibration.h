// The efficiency calibration: full-energy peak efficiencies at the gamma
// energies of a calibration source, fitted with weighted polynomials split
// at a crossover energy into a low- and a high-energy curve:
//   ln eff = sum a_i (ln E)^i                     (E in keV), or with the
//   inverse-energy option, x = 1000 / E:  ln eff * x = sum a_i x^i,
//   i.e. ln eff = a0 e + a1 + a2 / e + ...        (e = E / 1000, MeV).
// Each point is weighted 1 / s^2, s its relative uncertainty (0.01 when 0).
// The coefficients, the anti-diagonal sums of the inverse normal matrix (the
// variance coefficients), the crossover and the source's description go into
// the calibration record.
//
// Efficiency source file (".efc", text, CR LF, lines up to 120 characters):
//   line 1      title (at most 40 characters kept)
//   keywords    "Crossover %6.1f", "Description %s", "Sample Size %9.4f %s",
//               "Standard Mass %9.4f %s", "Total Uncertainty %6.1f",
//               "Bkg File %s" (any order; written in this order)
//   lines       recognised by "act", "gps" or "eff" anywhere (any case):
//     ACT  "%3s %6.1f %8s %10.4f %6.2f %3s %s %s"  type energy nuclide
//          activity unc% unit(BQ KBQ MBQ UCI) reference-date reference-time
//     GPS  "%3s %6.1f %8s %10.4f %6.2f %s %s"      type energy nuclide gps unc%
//          reference-date reference-time
//     EFF  "%3s %6.1f %s %6.2f"                    type energy eff% unc%
//          (eff "%10.4f" above 0.999, else "%10.3e")
//   A line is kept when its energy and value are both above 0; at most 50.
//
// Efficiency data file (".edf"): "EFF %6.1f %12.5e %12.5e" per point
// (energy, efficiency, relative uncertainty, as fractions).
#pragma once

#include <array>
#include <string>
#include <vector>

#include "calibration/calibration_checks.h"
#include "spectrum/calibration_record.h"

namespace kestrim {

struct CalibrationSession;
struct EfficiencyCalibration;

inline constexpr int kMaxSourceLines = 50;
// The shipped library that source nuclides missing from the analysis
// library are looked up in.
inline constexpr const char* kWideLibrary = "NaI_Wide.lib";

struct SourceLine {
  std::string type;        // "ACT", "GPS" or "EFF"
  double energy = 0;       // keV
  double value = 0;        // activity, gammas per second or efficiency %
  double uncertainty = 0;  // per cent
  std::string nuclide;     // <= 8
  std::string unit;        // "BQ", "KBQ", "MBQ", "UCI"
  std::string date;        // reference date and time as written
  std::string time;
  int line_number = 0;     // in the source file, from 1
};

struct EfficiencySource {
  std::string path;  // the file it was read from, when read from one
  std::string title;
  double crossover = 0;
  std::string description;
  double sample_size = 0;
  std::string sample_unit;
  double standard_mass = 0;
  std::string mass_unit;
  double total_uncertainty = 0;
  std::string background_file;
  std::vector<SourceLine> lines;
};

// Parses the text of a source file; returns the number of lines kept, or
// -1 when the text is empty.
int parse_source_file(const std::string& text, EfficiencySource& out);
std::string format_source_file(const EfficiencySource& source);
// Reads a source file ("Could not open source file:- %s" when missing).
int load_source_file(const CalibrationSession& state, const std::string& path, EfficiencySource& out);

// Load Source (dialog "Select the required Source data file"; Cancel
// starts a new source) and Save Source (dialog "Save Source data File",
// ".efc" added when the name has no '.', asking before replacing a file).
// Both return 1 when a file was read or written.
int choose_source_file(const CalibrationSession& state, EfficiencySource& out);
int save_source_file(const CalibrationSession& state, const EfficiencySource& source);

// Closing the calibration window. With points and no calibration asks
// "Do you want to perform the Calibration ?" (Yes fits, Cancel stays: 0);
// after a calibration writes the report and asks "Save changes to a
// Detector file ?". `cancel` restores the calibration held before.
// Returns 1 when the window closed.
int close_efficiency_window(const CalibrationSession& state, EfficiencyCalibration& ec, bool cancel);

// Checks of the source editor: the message, or "" when the line is fine.
std::string check_source_line(const SourceLine& line);

// Factor from the activity unit to Bq: K 1000, M 1e6, U 37000, else 1.
double activity_unit_factor(const std::string& unit);

struct EffPoint {
  double energy = 0;       // keV
  double channel = 0;
  double efficiency = 0;   // fraction
  double uncertainty = 0;  // relative
};

struct EfficiencyCalibration {
  EfficiencySource source;
  std::vector<EffPoint> points;  // at most 40 take part in a fit
  double crossover = 0;
  int low_order = 0;   // number of terms; the fit may lower them
  int high_order = 0;
  bool inverse = false;
  bool batch = false;
  bool calibrated = false;
  CalibrationCopies copies;
};

// Efficiency points from the source lines and the fitted peaks, then the
// crossover rule (fewer than 6 points: 0) and the default orders.
// 0 when a line's reference date lies after the start of the count (its
// decay correction would run backwards; reported).
int compute_efficiency_points(const CalibrationSession& state, EfficiencyCalibration& ec);
void default_orders(EfficiencyCalibration& ec);

// Emission rate (per second) of a source line at the count: decay from the
// reference time over `minutes` and during the true time, standard mass,
// unit factor. `yield` is the line's emission probability (1 for GPS).
double source_emission_rate(const SourceLine& line, const EfficiencySource& source, double yield,
                            double half_life_minutes, double minutes, double true_time);

// Result of one curve's fit.
struct CurveFit {
  int terms = 0;
  std::array<double, 6> coeff{};
  std::array<double, 11> variance{};  // anti-diagonal sums, 2 terms - 1 of them
};
// Weighted polynomial fit of the points [first, last] with n terms.
bool fit_efficiency_curve(const std::vector<EffPoint>& points, int first, int last, int n,
                          bool inverse, CurveFit& out);

// Fits the low and high curves and stores the calibration. Returns 1, or 0
// after "Need at least 2 Peaks for Calibration".
int fit_efficiency(const CalibrationSession& state, EfficiencyCalibration& ec);

// The window's list: per point "%6.1f %s %s %6.2f" (energy, measured and
// fitted efficiency in per cent, difference in per cent), then the RMS of
// fitted - measured efficiency, "%11.3e".
std::vector<std::string> efficiency_point_lines(const CalibrationSession& state, const EfficiencyCalibration& ec);
// A per-cent efficiency as the list shows it: "%6.3f", or below `small`
// the first 5 characters of "%8.1e" (three-digit exponent) and its last
// digit, e.g. 0.0123 -> "1.2e-2".
std::string list_percent(double percent, double small);

// The equation line of a curve ("Log(Efficiency)=...").
std::string efficiency_equation(const CalibrationRecord& cal, bool high_curve, bool inverse);

std::string efficiency_report_text(const CalibrationSession& state, const EfficiencyCalibration& ec, bool results);
bool write_efficiency_report(const CalibrationSession& state, const EfficiencyCalibration& ec, bool results);

// ".edf" beside the reports: the spectrum name with its extension replaced.
std::string edf_text(const EfficiencyCalibration& ec);
bool write_edf_file(const CalibrationSession& state, const EfficiencyCalibration& ec);
// Merges an ".edf" text into the points (the +-0.5 keV rule) and refits.
int merge_edf_text(const CalibrationSession& state, EfficiencyCalibration& ec, const std::string& text);

// The efficiency listing ("Eff_NN.efc" text); "" and a message when there
// is no efficiency calibration.
std::string efficiency_listing_text(const CalibrationSession& state);
int write_efficiency_listing(const CalibrationSession& state, const std::string& path);

// `/effcal`: checks, source "<src>.efc", points, fit, detector file; the
// report either way. Returns 1 on success.
int batch_efficiency_calibration(const CalibrationSession& state);

}  // namespace kestrim
