// The energy calibration: peaks of the spectrum paired with known energies,
// fitted as E = c0 + c1 ch (first order), + c2 ch^2 (second order) or
// + c2 ln ch (logarithmic function), stored in the calibration record and
// reported in "Det_NN_ene.txt".
//
// The operations are those of the calibration window; a batch run
// (`/enecal`) drives them without one. The window works on the live
// calibration record and the copies taken at start are restored on Cancel.
#pragma once

#include <string>
#include <vector>

#include "calibration/cal_points.h"
#include "spectrum/calibration_record.h"

namespace kestrim {

struct CalibrationSession;

inline constexpr const char* kEnergyListTitle = "Energies Used for Energy Calibration";

struct EnergyCalibration {
  CalPointList list;
  CalibrationRecord saved_calibration;  // copies for Cancel
  CalPointList saved_list;
  bool mode = false;       // energy-calibration mode (window open or enecal)
  bool batch = false;      // a batch run: default list, order from the point count
  bool closed = false;     // the window closed (OK, Cancel or a coefficient file)
  double goodness = 0;     // sqrt(mean squared difference)
};

// What a set-up or a list read did.
enum class SetupResult {
  kWaiting,      // points listed; the user enters or deletes energies
  kCalibrated,   // as many energies as peaks: calibrated at once
  kCoefficients, // a coefficient list calibrated the record; the window closed
  kFailed,       // the list could not be read (batch) or calibration failed
};

// Start: copies the record and the list for Cancel, sets the mode and runs
// the set-up with a list file.
SetupResult start_energy_calibration(const CalibrationSession& state, EnergyCalibration& ec);

// Set-up (with_list: load an energy list). Peaks are candidates; with n > 1
// energies the least significant peaks are dropped until n remain and the
// rest are assigned in channel order.
SetupResult setup_energy_points(const CalibrationSession& state, EnergyCalibration& ec, bool with_list);

// Reads an energy list: in a batch run "<default list>.enc", otherwise
// through a file dialog. A coefficient list calibrates the record directly.
// Returns kWaiting when energies were read into the points, kCoefficients,
// or kFailed (dialog cancelled or file missing).
SetupResult read_energy_list(const CalibrationSession& state, EnergyCalibration& ec);

// Calibrate: returns 1 when the record received a new calibration.
int calibrate_energy(const CalibrationSession& state, EnergyCalibration& ec);

// The window's list lines and, after a calibration, the goodness of fit.
std::vector<std::string> energy_point_lines(const CalibrationSession& state, const EnergyCalibration& ec);

// Enter a typed energy for point `index`; returns the next point's index.
int enter_energy(const CalibrationSession& state, EnergyCalibration& ec, int index, const std::string& text);

// Add Peak: the peak nearest the cursor channel joins the list in channel
// order with energy 0. Returns 1 when added.
int add_energy_peak(const CalibrationSession& state, EnergyCalibration& ec, double cursor_channel);

// Delete En. / Delete Chan / Delete Point / Delete All.
void delete_energy(EnergyCalibration& ec, int index);
void delete_channel(const CalibrationSession& state, EnergyCalibration& ec, int index);
void delete_point(const CalibrationSession& state, EnergyCalibration& ec, int index);
void delete_all_points(const CalibrationSession& state, EnergyCalibration& ec);

// Asks to save a modified energy list. Returns 0 when the user cancelled
// (stay in the window), 1 otherwise.
int offer_to_save_energy_list(const CalibrationSession& state, EnergyCalibration& ec);

// OK (`edited_text` = the energy field when it holds an edited value, for
// point `index`). Returns 1 when the window closed.
int energy_ok(const CalibrationSession& state, EnergyCalibration& ec, const std::string& edited_text = {},
              int index = 0);
// Cancel: restores the copies. Returns 1 when the window closed.
int energy_cancel(const CalibrationSession& state, EnergyCalibration& ec);

// The report text and its writing ("Det_NN_ene.txt").
std::string energy_report_text(const CalibrationSession& state, const EnergyCalibration& ec, bool results);
bool write_energy_report(const CalibrationSession& state, const EnergyCalibration& ec, bool results);

// `/enecal`: checks (peak search at discriminator 10), fit of the peaks,
// set-up with "<src>.enc", calibrate, save the detector file; the report is
// written either way. Returns 1 on success.
int batch_energy_calibration(const CalibrationSession& state);

}  // namespace kestrim
