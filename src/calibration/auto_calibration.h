// Corrections of a drifted energy calibration:
// - automatic re-calibration: the energies stored with the last energy
//   calibration are matched again to the peaks of the spectrum (the first
//   peak whose present energy lies strictly within the tolerance) and the
//   function is refitted; report "Det_NN_aut.txt";
// - drift correction: the peak nearest one reference energy E_c is moved
//   exactly onto it by changing only the gain: c1 = (E_c - c0 - c2 g(x)) / x,
//   g(x) = x^2 or ln x;
// - quantitative auto-calibration: identified lines with their reference
//   energies (weights = per-cent area uncertainties) refit the calibration;
//   when every line lies above 300 keV an "Offset" point at channel 0 with
//   the present c0 and weight 50 holds the offset.
// The tolerance is the energy tolerance with k = 0.0015:
//   tol(E) = 0.25 ETOL + 0.0015 ETOL E.
#pragma once

#include <string>
#include <vector>

#include "calibration/cal_points.h"
#include "spectrum/calibration_record.h"

namespace kestrim {

struct CalibrationSession;

double auto_energy_tolerance(const CalibrationSession& state, double energy_kev);

struct AutoCalibration {
  CalPointList list;
  CalibrationRecord saved_calibration;
  CalPointList saved_list;
  bool batch = false;
  bool mode = false;
  bool closed = false;
  bool calibrated = false;
  double goodness = 0;
};

// Preparation (the checks, the search with a falling discriminator) and
// the copies for Cancel. Returns 1 to go on.
int prepare_auto_calibration(const CalibrationSession& state, AutoCalibration& ac);
// Set-up from the stored energies. Returns 1 with 2 or more points.
int setup_auto_points(const CalibrationSession& state, AutoCalibration& ac);
// Calibrate. Returns 1 when the record received the new function (the
// stored calibration energies stay as they were).
int calibrate_auto(const CalibrationSession& state, AutoCalibration& ac);
std::vector<std::string> auto_point_lines(const CalibrationSession& state, const AutoCalibration& ac);
void delete_auto_point(const CalibrationSession& state, AutoCalibration& ac, int index);
int auto_ok(const CalibrationSession& state, AutoCalibration& ac);       // 1 when the window closed
void auto_cancel(const CalibrationSession& state, AutoCalibration& ac);
// Window start: preparation, set-up and, with more than one point, calibrate.
int start_auto_calibration(const CalibrationSession& state, AutoCalibration& ac);

std::string auto_report_text(const CalibrationSession& state, const AutoCalibration& ac, bool results);
bool write_auto_report(const CalibrationSession& state, const AutoCalibration& ac, bool results);

// `/autocal`: preparation, set-up (2 points at least), calibrate, detector
// file; the report either way. Returns 1 on success.
int batch_auto_calibration(const CalibrationSession& state);

// Drift correction at the reference energy (keV). Searches when the list
// is empty and fits every region first. Returns 1 when corrected.
int drift_correction(const CalibrationSession& state, double reference_energy);
// The full analysis's peak search with drift correction: always 1 (a
// correction that found no peak leaves the calibration and says so).
int drift_correction_with_search(const CalibrationSession& state);

// The check of the energy calibration against the natural lines that every
// room gives a NaI detector: K-40's 1460.8 keV and Tl-208's 2614.5 keV (DDEP).
// It runs when drift correction is set to 2. The peaks are searched and
// fitted; when the largest well-measured peak within 4 % of each line is
// found, the two agree on one gain (ratios within 0.4 % of each other) and
// that gain is more than 0.5 % from 1, every energy coefficient is scaled
// by it and the user is told. Returns 1 when the calibration was changed
// (the caller searches again under it), else 0 (nothing is said: a
// spectrum without both lines is left as it is).
inline constexpr double kNaturalGainLines[2] = {1460.82, 2614.51};  // keV
inline constexpr double kNaturalGainWindow = 0.04;
inline constexpr double kNaturalGainMaxUncertainty = 20;  // per cent
inline constexpr double kNaturalGainAgreement = 0.004;
inline constexpr double kNaturalGainThreshold = 0.005;
// When either natural line is missing, a count of one check source is
// checked against that source's line instead: when one well-measured peak
// (area uncertainty under 5 %) holds at least 90 % of the net counts of all
// the found peaks and lies within 6 % of the line of a source that gives a
// single strong line above 300 keV (Cs-137, Mn-54, Zn-65, K-40), the gain is
// scaled to put it there, under the same 0.5 % threshold. The sources' lines
// are at least 13 % apart, so one window holds one of them; lower lines are
// left out, where a NaI crystal's response is not proportional.
struct SingleLineSource {
  const char* nuclide;
  double energy;  // keV (DDEP)
};
inline constexpr SingleLineSource kSingleLineSources[4] = {
    {"Cs-137", 661.657}, {"Mn-54", 834.848}, {"Zn-65", 1115.539}, {"K-40", 1460.82}};
inline constexpr double kSingleLineWindow = 0.06;
inline constexpr double kSingleLineShare = 0.9;
inline constexpr double kSingleLineMaxUncertainty = 5;  // per cent
int natural_line_gain_check(const CalibrationSession& state);

// Quantitative auto-calibration.
struct QuantAutoCalibration {
  CalPointList list;  // energy, channel, weight, name
  CalibrationRecord saved_calibration;
  CalPointList saved_list;
  bool fitted = false;
  std::array<double, 3> c{};
  int terms = 2;
};
// Sorts by energy, adds the "Offset" anchor when the lowest energy exceeds
// 300 keV, takes the copies and fits.
void start_quantitative_calibration(const CalibrationSession& state, QuantAutoCalibration& qc);
// Weighted fit of energy against channel; 1 when it succeeded.
int fit_quantitative_calibration(const CalibrationSession& state, QuantAutoCalibration& qc);
std::vector<std::string> quantitative_point_lines(const QuantAutoCalibration& qc);
void delete_quantitative_point(const CalibrationSession& state, QuantAutoCalibration& qc, int index);
// OK: stores the calibration (1), or 0 with fewer than 2 points.
int quantitative_ok(const CalibrationSession& state, QuantAutoCalibration& qc);
void quantitative_cancel(const CalibrationSession& state, QuantAutoCalibration& qc);

// The hook for the activity calculation: the identified lines (reference
// energy, peak channel, weight = per-cent area uncertainty, nuclide name)
// refit the calibration, accepted without a window in a batch run.
// Returns 1 when the calibration changed (the analysis is then rerun).
int quantitative_auto_calibration(const CalibrationSession& state, const std::vector<CalPoint>& identified);

}  // namespace kestrim
