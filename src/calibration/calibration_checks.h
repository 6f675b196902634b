// The checks made before each calibration procedure starts, and the peak
// searches they run. Each check returns 1 to go on and 0 to stop (after a
// message, a Cancel or an abort).
#pragma once

#include "spectrum/calibration_record.h"
#include "spectrum/spectrum_record.h"

namespace kestrim {

struct CalibrationSession;

// What a calibration restores when it is cancelled.
struct CalibrationCopies {
  CalibrationRecord calibration;
  EfficiencyPoints efficiency;
};
void keep_copies(const CalibrationSession& state, CalibrationCopies& copies);
void restore_copies(const CalibrationSession& state, const CalibrationCopies& copies);

// Runs the peak search with the given discriminator, the library-driven
// search and the auxiliary peaks switched off, and (fit) fits every region
// of the new list; the parameters are put back as they were afterwards.
void calibration_peak_search(const CalibrationSession& state, float discriminator, bool fit);

// Energy calibration: offers to clear an old energy and shape calibration
// ("Clear the Energy and Shape Calibration ?", Yes in a batch run) and to
// repeat the peak search; searches at discriminator 10 (and, in a batch
// run, fits the peaks).
int check_before_energy_calibration(const CalibrationSession& state, CalibrationCopies& copies);
// Peak shape: needs an energy calibration; searches at discriminator 20
// when there are no peaks.
int check_before_shape_calibration(const CalibrationSession& state, CalibrationCopies& copies);
// Efficiency: needs energy and shape calibrations; offers a search and fit.
int check_before_efficiency_calibration(const CalibrationSession& state, CalibrationCopies& copies);
// Automatic re-calibration: refuses with the spectrum file's energy
// calibration in use or without an energy calibration; searches with a
// falling discriminator until the peaks are as many as the stored energies.
int check_before_auto_calibration(const CalibrationSession& state, CalibrationCopies& copies);

inline constexpr const char* kEnergyFirst = "The Energy Calibration should be performed first";
inline constexpr const char* kShapeFirst = "The Shape Calibration should be performed first";
inline constexpr const char* kFileCalibrationInUse =
    "Cannot perform Auto-Calibration if the Spectrum file Energy Calibration is being used";
inline constexpr const char* kNoEnergyCalibration = "There is no Energy Calibration yet";

}  // namespace kestrim
