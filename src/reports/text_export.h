// The spectrum as a plain text file of channel counts, and the dose-rate
// estimate of the opened spectrum.
//
// Text layout: an optional header made from "spctxt.tpl" of the working
// folder (when the parameters ask for more than one header line), then the
// channels from index 0 (so the first two values are the live and true
// time), k to a line: "%5d" with the line's first channel, k times "%9.0f",
// CR LF. k is the low 16 bits of the channels-per-line parameter, 0 taken as
// 1 and more than 16 as 16. The last line is written whole, with the values
// that follow the last channel in the count array.
//
// Dose rate (detector weight m kg, 0 = none): over channels i = 2 .. C-1
// with counts N(i), S0 = sum N(i) and S1 = sum i N(i). Mean energy =
// c1 S1 / S0 keV (0 when S0 is 0), c1 the keV per channel of the energy
// calibration. With a live time t > 0, S1 becomes a rate S1 / t. Dose rate
// = c1 S1 5.767e-7 / m uSv/h: 1 keV/s deposited in 1 kg is
// 1.602e-16 Gy/s, times 3600 s/h and 1e6 uGy/Gy, taken as uSv/h.
#pragma once

#include <string>

namespace kestrim {

struct ReportSession;
struct CalibrationRecord;

// Channels per line from the stored parameter.
int text_channels_per_line(int stored);

// The text of the spectrum (header included) as it is written.
std::string text_spectrum(const ReportSession& state);

// Writes the text spectrum to `path` without a dialog: an existing file is
// replaced only after "Overwrite file %s ?" is answered Yes. 1 written, 0 not
// (declined, or "Error Creating %s" shown).
int export_text_spectrum(const ReportSession& state, const std::string& path);

// The menu command: the save dialog "Save Text Spectral Data File" with the
// spectrum's name ending ".txt" proposed; a declined overwrite or a failed
// create return to the dialog. 1 written, 0 cancelled.
int save_text_spectrum(const ReportSession& state);

// keV per channel used by the dose rate: the linear coefficient of the
// energy calibration (1 when the spectrum is not calibrated).
double dose_kev_per_channel(const CalibrationRecord& cal);

struct DoseRate {
  double micro_sv_per_hour = 0;
  double mean_energy_kev = 0;
};
DoseRate compute_dose_rate(const ReportSession& state, double detector_kg);

// Sets State.app.dose_rate_line (and the window title) to
// "Gamma Doserate:- %3.2f uSv/h, Mean Energy:- %1.0f KeV." when the
// detector weight is not 0; with weight 0 the line is cleared and the title
// left as it is.
void update_dose_rate(const ReportSession& state);

}  // namespace kestrim
