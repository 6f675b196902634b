// How spectra enter the session: the extension check that names the format
// of a file, the open sequence that reads it and prepares everything that
// depends on it (Defaults file of its detector, calibration source,
// background, dose rate, stored peaks, dead-time check), merging several
// files, and the open dialog.
#pragma once

#include <cstdint>

#include <string>
#include <vector>

namespace kestrim {

struct State;

// Sets State.app.spectrum_type from the extension of `path` (after the last
// '.', case ignored, first match in type order; ".spc" files whose first two
// 16-bit words are 1 and 1 or 5 are Ortec SPC). Unknown: "Unknown Spectrum
// Data file Extension:- " and the extension; returns 0.
int check_extension(State& state, const std::string& path);

// The spectrum type of a file name's extension (first match in type
// order, case ignored), or -1 when no format has it.
int spectrum_type_from_extension(const std::string& name);
// The type to read a file of extension type `type` as, given its bytes:
// ".spc" files whose first two 16-bit words are 1 and 1 or 5 are Ortec SPC,
// and a content that plainly belongs to another format wins.
int spectrum_type_from_content(int type, const std::vector<std::uint8_t>& bytes);

// Opens State.app.current_file of type State.app.spectrum_type from that
// type's directory. 1 on success; 0 on failure (already reported).
int open_spectrum(State& state, bool redraw);

// Opens the first file and adds the counts and times of the others; the
// result is named "Sum_Spec.dat". All files must be of the current type's
// directory or given with their directories. With `types`, each file after
// the first is read as the type given for it (the first is opened as the
// current type).
int merge_spectra(State& state, const std::vector<std::string>& paths, const std::vector<int>* types = nullptr);

// The open command: the dialog (or merge dialog in sum mode, or the choice
// to analyse a whole directory). 1 when the caller should go on (open the
// chosen file, or run the batch), 0 when cancelled.
int choose_and_open_spectra(State& state, bool sum_mode);

// Dead time in per cent as the open sequence computes it (truncated).
int dead_time_percent_truncated(double live, double true_time);

}  // namespace kestrim
