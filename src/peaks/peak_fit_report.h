// The peak fit report "Peak Fit Report.txt" and the peak area database
// "Peak Database.csv", both in the working directory.
//
// The report is opened before the first region is written: anew with its
// heading (the template "Peak Fit Report.tpl" through the template engine
// when the working directory has one, else a fixed title line) and the two
// column heading lines, or, for a refit after every peak had been fitted,
// by appending to the existing file. Each finished region adds one line per
// peak
//   " %6.1f %7.1f %6.2f %7.1f %7.2f %9.0f %6.1f  %12.4e %6.1f"
// (energy, centre, FWHM keV, significance, goodness of fit, area, % unc.,
// gammas per second, % unc.), the background subtraction lines when peak
// subtraction is on, and with the detailed report option the region bounds
// and the analysis-library lines near the peak. Lines pass through the
// exponent tidy-up and end in CR LF. The text is held in memory and the file
// written (replaced whole) when the driver finishes a single region or the
// fit-all loop, and when the report is closed; a file that cannot be written
// is skipped silently.
#pragma once

#include <string>

namespace kestrim {

struct PeakSession;

inline constexpr const char* kPeakFitReportName = "Peak Fit Report.txt";
inline constexpr const char* kPeakFitTemplateName = "Peak Fit Report.tpl";
inline constexpr const char* kPeakDatabaseName = "Peak Database.csv";

// Opens the report (new, or appended to after a complete fit).
void open_peak_fit_report(const PeakSession& state);

// Sets the report fields of the current region's peaks (FWHM, net area,
// goodness of fit, rate), subtracts the background and writes their lines.
void write_region_report(const PeakSession& state);

// Gammas per second of peak k at energy E and its percent uncertainty, from
// its net area, the live time, the efficiency and (ICUN) the efficiency's
// uncertainty.
void compute_rate(const PeakSession& state, double energy_kev, int k);

// Closes the report; outside batch runs appends the spectrum's block of
// fitted peaks with a positive net area to "Peak Database.csv".
void write_peak_database(const PeakSession& state);

// Writes the report text held so far to its file.
void flush_peak_fit_report(const PeakSession& state);



// Background subtraction for peak k at energy E (keV), as the peak fit
// report writes it: appends the report lines to `lines` and updates the
// peak's net area and rate. Returns 1 when a background peak was applied.
int subtract_background_peak(const PeakSession& state, int k, double energy_kev, std::string& lines);

}  // namespace kestrim
