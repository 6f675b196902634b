#include "calibration/calibration_checks.h"

#include <cstring>

#include "calibration/calibration_session.h"
#include "peaks/peak_report_json.h"
#include "peaks/peak_search.h"
#include "platform/platform.h"
#include "settings/calibration_functions.h"

namespace kestrim {

namespace {

bool aborted(const CalibrationSession& state) { return state.flags.abort_requested || state.ui->abort_requested(); }

}  // namespace

void keep_copies(const CalibrationSession& state, CalibrationCopies& copies) {
  copies.calibration = state.spectrum.calibration;
  copies.efficiency = state.spectrum.efficiency;
}

void restore_copies(const CalibrationSession& state, const CalibrationCopies& copies) {
  state.spectrum.calibration = copies.calibration;
  state.spectrum.efficiency = copies.efficiency;
}

// The settings changed here are exactly the ones the Defaults file would
// restore; they are put back from a copy so that settings given on the
// command line (geometry, libraries) survive the search.
void calibration_peak_search(const CalibrationSession& state, float discriminator, bool fit) {
  AnalysisParameters& p = state.params;
  const AnalysisParameters kept = p;
  p.library_peak_search = 0;
  p.use_aux_peaks = 0;
  p.search_discriminator = discriminator;
  if (fit)
    search_and_fit_all(state);
  else
    run_peak_search(state);
  p.library_peak_search = kept.library_peak_search;
  p.use_aux_peaks = kept.use_aux_peaks;
  p.search_discriminator = kept.search_discriminator;
}

int check_before_energy_calibration(const CalibrationSession& state, CalibrationCopies& copies) {
  state.flags.abort_requested = false;
  keep_copies(state, copies);
  CalibrationRecord& cal = state.spectrum.calibration;
  if (term_count(cal.energy_terms) > 0) {
    int answer = kAnswerYes;
    if (!state.flags.batch_mode)
      answer = state.ui->message_box("Clear the Energy and Shape Calibration ?",
                                     "There is an old Calibration for this Detector",
                                     kMsgYesNoCancel, kAnswerYes);
    if (answer == kAnswerCancel) return 0;
    if (answer == kAnswerYes) {
      // Bytes 0-63: energy, width, low and high tailing terms and coefficients.
      cal.energy_terms = 0;
      cal.energy = {};
      cal.width_terms = 0;
      cal.width = {};
      cal.low_tail_terms = 0;
      cal.low_tail = {};
      cal.high_tail_terms = 0;
      cal.high_tail = {};
      cal.energy_form = 0;
      state.flags.display_refresh = true;
    }
  }
  int search = kAnswerYes;
  if (state.peaks.count > 0 && !state.flags.batch_mode) {
    search = state.ui->message_box("Repeat the Peak Search ?", "There are already some Peaks found",
                                   kMsgYesNoCancel, kAnswerYes);
    if (search == kAnswerCancel) return 0;
  }
  if (search == kAnswerYes || state.peaks.count == 0)
    calibration_peak_search(state, 10.0f, state.flags.batch_mode);
  return aborted(state) ? 0 : 1;
}

int check_before_shape_calibration(const CalibrationSession& state, CalibrationCopies& copies) {
  if (term_count(state.spectrum.calibration.energy_terms) < 2) {
    state.ui->message_box(kEnergyFirst, {}, kMsgWarning);
    return 0;
  }
  keep_copies(state, copies);
  if (state.flags.spectrum_type == 4 && state.spectrum.header.detector_file <= 0)
    state.spectrum.header.detector_file = 1;
  state.flags.abort_requested = false;
  if (state.peaks.count == 0) calibration_peak_search(state, 20.0f, false);
  return aborted(state) ? 0 : 1;
}

int check_before_efficiency_calibration(const CalibrationSession& state, CalibrationCopies& copies) {
  const CalibrationRecord& cal = state.spectrum.calibration;
  if (term_count(cal.energy_terms) < 2) {
    state.ui->message_box(kEnergyFirst, {}, kMsgWarning);
    return 0;
  }
  if (term_count(cal.width_terms) == 0 && cal.width_terms == 0) {
    state.ui->message_box(kShapeFirst, {}, kMsgWarning);
    return 0;
  }
  keep_copies(state, copies);
  int answer = kAnswerYes;
  if (!state.flags.batch_mode) {
    std::string caption;
    if (state.flags.shape_calibration_changed)
      caption = "The Peak Fitting should be repeated after shape Calibration";
    else if (state.peaks.count == 0)
      caption = "There are no Peaks to use for the Calibration";
    answer = kAnswerNo;
    if (!state.peaks.fitted || !caption.empty()) {
      answer = state.ui->message_box("Do you want to perform a Peak Search and Fitting ?", caption,
                                     kMsgYesNoCancel, kAnswerYes);
      if (answer == kAnswerCancel) return 0;
    }
  }
  if (answer == kAnswerYes) {
    search_and_fit_all(state);
    if (aborted(state)) return 0;
  }
  return 1;
}

int check_before_auto_calibration(const CalibrationSession& state, CalibrationCopies& copies) {
  if (state.params.use_file_energy_calibration) {
    state.ui->message_box(kFileCalibrationInUse, {}, kMsgWarning);
    return 0;
  }
  const CalibrationRecord& cal = state.spectrum.calibration;
  if (term_count(cal.energy_terms) < 2) {
    state.ui->message_box(kNoEnergyCalibration, {}, kMsgWarning);
    return 0;
  }
  keep_copies(state, copies);
  state.flags.abort_requested = false;
  if (state.peaks.count == 0) {
    AnalysisParameters& p = state.params;
    const float kept = p.search_discriminator;
    const int wanted = term_count(cal.energy_count);
    p.search_discriminator = kept * 3;
    for (;;) {
      run_peak_search(state);
      if (state.peaks.count >= wanted || aborted(state)) break;
      p.search_discriminator *= 0.667f;
      if (p.search_discriminator < 3.0f) break;
    }
    p.search_discriminator = kept;
  }
  return aborted(state) ? 0 : 1;
}

}  // namespace kestrim
