// The calibration point list shared by the energy, peak shape, efficiency
// and automatic re-calibration procedures, the energy and shape list files,
// and the pieces of the calibration reports they share.
//
// A point pairs a known energy with a peak of the peak list (peak index 0 =
// no peak assigned). The energy procedures use energy, channel, weight and
// peak index; the shape calibration adds the measured width and tailings
// (its weight is the fitted peak area); the automatic re-calibration keeps
// the energy of the peak under the old calibration; the quantitative
// auto-calibration a nuclide name.
//
// List file (".enc" energies, ".shp" shape energies), text, CR LF:
//   line 1   title ("Energies Used for Energy Calibration" /
//            "Energies Used for Shape Calibration")
//   line 2   empty (skipped on reading)
//   then     one energy a line, "%8.3f"; only positive energies are written.
//            Lines that do not start with a number are skipped; at most
//            100 energies are kept.
// Coefficient form: when line 1, lower-cased, contains "coefficients" it
// reads "<word> c0 c1 c2" and the file holds no energies.
//
// Calibration reports (energy, shape, automatic) begin with
//   "\r\n" + six 8-blank indents + " <date> <time> \r\n\r\n".
#pragma once

#include <array>
#include <string>
#include <vector>

#include "platform/fixed_text.h"
#include "spectrum/calibration_record.h"

namespace kestrim {

struct CalibrationSession;
class Platform;

inline constexpr int kMaxCalPoints = 100;
inline constexpr const char* kReportIndent = "        ";  // 8 blanks
inline constexpr const char* kTooManyPoints = "Warning, can only use 100 points";
inline constexpr const char* kCalibrationNotCompleted = "Calibration was not completed";

struct CalPoint {
  double energy = 0;      // keV; 0 = not entered
  double channel = 0;     // fitted centre of the assigned peak
  double weight = 1;
  double width = 0;       // measured sigma, channels (shape calibration)
  double low_tail = 0;    // measured low-energy tailing, channels
  double high_tail = 0;   // measured high-energy tailing (never measured: 0)
  double old_energy = 0;  // energy under the previous calibration (auto re-calibration)
  int peak = 0;           // peak index, 0 = "Peak not found"
  std::string name;       // nuclide name (quantitative auto-calibration), <= 8
};

struct CalPointList {
  std::vector<CalPoint> points;  // at most kMaxCalPoints
  int terms = 2;                 // energy fit: 2 first order, 3 second order
  bool log_function = false;
  bool calibrated = false;
  // What the window's order buttons say; a batch run ignores them.
  enum class Choice { kSecondOrder, kFirstOrder, kLog } choice = Choice::kSecondOrder;
  std::string default_list;      // base name of the list used in batch runs
  bool list_modified = false;
  int count() const { return static_cast<int>(points.size()); }
};

// A list file as read.
struct ListFile {
  bool coefficients = false;       // the coefficient form
  std::array<double, 3> c{};       // c0, c1, c2 of the coefficient form
  std::vector<double> energies;    // at most kMaxCalPoints
  bool truncated = false;          // more than kMaxCalPoints energies were found
};

// Parses the text of a list file (title and empty line skipped).
ListFile parse_list_file(const std::string& text);
// The text of a list file: title, empty line, "%8.3f" per positive energy.
std::string format_list_file(const std::string& title, const std::vector<double>& energies);

// Reads a list file; on a missing file shows "Could not open source file:- <path>"
// and returns false. More than 100 energies: "Warning, can only use 100 points".
bool read_list_file(Platform& ui, const std::string& path, ListFile& out);

// The first lines of a calibration report: the date line and the title line
// "<indent><title> <detector>\r\n\r\n" are written by the callers; this is
// the date line.
std::string report_date_line();
// " Energy = ..." for an energy calibration of `terms` coefficients.
std::string energy_equation_line(int terms, bool log_function, const std::array<double, 3>& c);
// The order line and the fitted function of an energy calibration report.
std::string energy_fit_lines(const CalibrationRecord& cal);
// Writes a report to the working directory (CR LF text, replaced whole).
bool write_report(const CalibrationSession& state, const std::string& name, const std::string& text);

// The detector number of report names: the number the calibration is saved
// under (see calibration_detector_number).
int report_detector(const CalibrationSession& state);
// The geometry its efficiency is saved under: the header's, else the
// Defaults file's default geometry.
int report_geometry(const CalibrationSession& state);
// The spectrum file in memory, for "Spectrum data file used:- %s".
std::string spectrum_file_used(const CalibrationSession& state);

// Least-squares fit of energy against channel over the points: point 0
// always, any other only when both its channel and its energy are non-zero.
// Polynomial: weighted by the point weights; log: unweighted
// c0 + c1 ch + c2 ln ch. Fewer than 2 usable points: fails; fewer than 3
// usable points: 2 terms. On success sets `terms` to the terms used.
bool fit_energy_points(const std::vector<CalPoint>& points, int& terms, bool log_function,
                       std::array<double, 3>& c);

// Energy of a channel under coefficients (the same rule as the calibration
// functions: log term only for positive channels).
double energy_from_coefficients(int terms, bool log_function, const std::array<double, 3>& c,
                                double channel);

// Stores an energy calibration in the record: terms, log flag and
// coefficients, and the date and time (the stored energies are the caller's).
void store_energy_calibration(CalibrationRecord& cal, int terms, bool log_function,
                              const std::array<double, 3>& c);

// Today's date and time into the record's date/time fields.
void stamp(CalDate& date, CalTime& time);

// Index (1-based) of the peak whose centre is nearest `channel`, or 0.
int nearest_peak(const CalibrationSession& state, double channel);

// Root mean square of the values (0 for none).
double rms(const std::vector<double>& differences);

}  // namespace kestrim
