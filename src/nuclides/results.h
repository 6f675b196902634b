// Identification and activity results of the current spectrum.
//
// Identification fills the accepted nuclides and the identified lines (the
// library lines explained by peaks); the activity calculation groups them
// into interference sets, solves them and fills the result records and the
// per-peak results. Markers (? * # !) are held per accepted nuclide while
// the analysis runs and copied into the result record with the name.
#pragma once

#include <string>
#include <vector>

#include "peaks/peak_list.h"

namespace kestrim {

inline constexpr int kMaxAcceptedNuclides = 299;
inline constexpr int kMaxIdentifiedLines = 999;
inline constexpr int kMaxNuclideResults = 200;

// The unit of the results of a spectrum without an efficiency calibration
// (count rates per emission), and the sentence that says so in the main
// report and on the command line.
inline constexpr const char* kUncalibratedUnit = "cps";
inline constexpr const char* kUncalibratedEfficiencyNotice =
    "The efficiency of this spectrum is not calibrated: the results are count rates (cps), not "
    "activities; activities need an efficiency calibration";

// The sentence of a spectrum without an energy calibration: its peaks have
// channels, not energies, and no nuclide is named after them.
inline constexpr const char* kUncalibratedEnergyNotice =
    "The energy of this spectrum is not calibrated: no nuclide can be identified; the peaks are "
    "given by channel";

// A nuclide of the Analysis Library that identification entered.
struct AcceptedNuclide {
  int library_index = 0;     // index into the library buffer
  double confidence = 0;
  int principal_peak = 0;    // peak number, 0 = none
  bool principal_found = false;  // a principal peak for a library principal energy
  bool library_driven = false;   // named in the peak search library (UNLP)
  bool removed = false;      // dropped by a set reduction or a credibility test
  bool explained = false;    // removed in favour of others of its set (see readmit_explained)
  bool readmitted = false;   // back after one of those others was removed as not credible
  char marker = ' ';         // ' ', '?', '*', '#' or '!'
};

// One library line (or two combined lines) explained by one peak.
struct IdentifiedLine {
  int nuclide = 0;           // index into NuclideResults::accepted
  int peak = 0;              // peak number
  int state = 1;             // 1 = not yet placed in an interference set
  double yield = 0;          // fraction
  double uncertainty = 0;    // fraction
  double energy = 0;         // keV (yield-weighted mean for combined lines)
};

// One reported nuclide, or one limit of detection (uncertainty 0).
struct NuclideResult {
  std::string name;          // as in the library, without the marker
  char marker = ' ';
  int library_index = -1;    // -1 for limit entries
  double confidence = 0;
  double activity = 0;       // Bq (limits: the specific limit)
  double uncertainty = 0;    // %, 0 for limits
  double decay_corrected = 0;       // specific, decay-corrected
  double absolute_uncertainty = 0;  // |decay_corrected| x uncertainty / 100
};

// A peak handed to the automatic energy re-calibration.
struct RecalibrationPeak {
  double energy = 0;         // library energy, keV
  double channel = 0;        // centroid
  double uncertainty = 0;    // area uncertainty, %
  std::string nuclide;
};

struct NuclideResults {
  // Set by the caller before an analysis: the run uses the wider energy
  // tolerance of the automatic re-calibration.
  bool auto_calibration = false;
  // Set by the analysis from the measured resolution of a spectrum without
  // a width calibration: the energy tolerance's factor, below 1 for a
  // detector of clearly finer resolution than NaI (LaBr3, CZT, HPGe), whose
  // lines a NaI tolerance would match to peaks several of their widths away.
  double tolerance_scale = 1.0;

  // Working values of the last analysis.
  double decay_interval = 0;  // minutes from sampling to the start of the count
  double lower = 0, upper = 0;  // analysis energy range, keV (exclusive bounds)
  std::string activity_unit, quantity_unit;
  // False when the spectrum has no efficiency calibration: the activities
  // were worked out with an efficiency of 1.0 and are count rates per
  // emission, reported in kUncalibratedUnit.
  bool efficiency_calibrated = true;
  // False when the spectrum has no energy calibration: nothing was
  // identified and no limits were worked out.
  bool energy_calibrated = true;

  std::vector<AcceptedNuclide> accepted;
  std::vector<IdentifiedLine> lines;
  std::vector<NuclideResult> results;
  bool library_not_wholly_considered = false;
  bool results_full = false;
  bool error = false;          // an interference set was too big
  bool any_principal = false;  // some accepted nuclide has a principal peak

  // Per-peak results, indexed by peak number.
  PeakArray<double> peak_fraction{};  // largest fraction explained by one nuclide
  PeakArray<int> peak_owner{};        // its library index, -1 = none
  PeakArray<double> peak_sum{};       // sum of the fractions of all reported nuclides
  PeakArray<int> peak_free{};         // 1 until a nuclide reports the peak

  std::vector<RecalibrationPeak> recalibration;

  // The report texts written by the last analysis (CR LF lines).
  std::string diagnostic_report;
  std::string activity_report;

  NuclideResults() { peak_owner.fill(-1); }
};

}  // namespace kestrim
