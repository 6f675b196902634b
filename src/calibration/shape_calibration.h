// The peak shape calibration: each selected peak is fitted with its width
// (Gaussian sigma, channels) and low-energy tailing distance (channels)
// free, and each quantity is fitted as a polynomial in energy weighted by
// the peaks' fitted areas:
//   W(E) = w0 + w1 E + w2 E^2,  T(E) = t0 + t1 E + t2 E^2.
// One fitted point gives constants. The polynomials go into the
// calibration record; the report is "Det_NN_shp.txt".
//
// While the calibration runs the fit is set up for single isolated peaks:
// no new peaks from the residuals, 511D off, position, width and tailing
// iterations on, a linear continuum, 8 region end channels and a maximum
// width change of 10. The previous settings come back when it ends.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "calibration/cal_points.h"
#include "spectrum/calibration_record.h"
#include "settings/parameters.h"

namespace kestrim {

struct CalibrationSession;

inline constexpr const char* kShapeListTitle = "Energies Used for Shape Calibration";

enum ShapeFunction { kShapeWidth = 1, kShapeLowTail = 2, kShapeHighTail = 3 };

struct ShapeCalibration {
  CalPointList list;
  CalibrationRecord saved_calibration;  // copies for Cancel
  CalPointList saved_list;
  AnalysisParameters saved_params;      // the settings before the overrides
  float saved_working_max_width = 0;
  bool saved_working_residual_search = false;
  bool overrides_applied = false;
  std::array<int, 3> terms{2, 2, 2};    // width, low tailing, high tailing
  int displayed = kShapeWidth;
  bool calibrated = false;              // the functions have been fitted
  bool high_tail = false;               // Perform High Energy Tailing Calibration
  bool all_fitted = false;
  bool mode = false;
  bool batch = false;
  bool closed = false;
  double goodness = 0;
};

// Applies and removes the parameter overrides.
void apply_shape_overrides(const CalibrationSession& state, ShapeCalibration& sc);
void restore_shape_overrides(const CalibrationSession& state, ShapeCalibration& sc);

// Start: copies, overrides, set-up with a list file.
void start_shape_calibration(const CalibrationSession& state, ShapeCalibration& sc);
// Set-up: each energy of the shape list (batch: "<src>.shp") becomes a point
// when a peak lies strictly inside channel(E -+ tol(E)); without a list
// every peak (at most 100) becomes a point.
void setup_shape_points(const CalibrationSession& state, ShapeCalibration& sc, bool with_list);

// Fits the region of point i with width and tailing free and stores the
// results of every point of that region. Returns 1 when the fit succeeded.
int fit_shape_point(const CalibrationSession& state, ShapeCalibration& sc, int index);
// Fits every point, then the functions. Returns the result of the functions.
int fit_all_shape_points(const CalibrationSession& state, ShapeCalibration& sc);
// Fits the width, low and (with the flag) high tailing functions.
// Returns 1, or 0 ("Not all of the Peaks have been fitted yet", or fewer
// than 2 usable points).
int fit_shape_functions(const CalibrationSession& state, ShapeCalibration& sc);

// 1st / 2nd Order Fit for the displayed function.
int set_shape_order(const CalibrationSession& state, ShapeCalibration& sc, int terms);
// Manual Entry for point i: values <= 0 keep the measured ones.
int manual_shape_entry(const CalibrationSession& state, ShapeCalibration& sc, int index, const std::string& width,
                       const std::string& low_tail);
// Perform High Energy Tailing Calibration (check box).
void set_high_tail_calibration(const CalibrationSession& state, ShapeCalibration& sc, bool on);
int add_shape_peak(const CalibrationSession& state, ShapeCalibration& sc, double cursor_channel);
void delete_shape_point(const CalibrationSession& state, ShapeCalibration& sc, int index, bool remove_peak);
void delete_all_shape_points(const CalibrationSession& state, ShapeCalibration& sc);

std::vector<std::string> shape_point_lines(const ShapeCalibration& sc);

int shape_ok(const CalibrationSession& state, ShapeCalibration& sc);      // 1 when the window closed
int shape_cancel(const CalibrationSession& state, ShapeCalibration& sc);  // 1 when the window closed

std::string shape_report_text(const CalibrationSession& state, const ShapeCalibration& sc, bool results);
bool write_shape_report(const CalibrationSession& state, const ShapeCalibration& sc, bool results);

// `/shape`: checks, set-up with "<src>.shp", fit all with at least 2
// points, save the detector file; the report is written either way.
int batch_shape_calibration(const CalibrationSession& state);

}  // namespace kestrim
