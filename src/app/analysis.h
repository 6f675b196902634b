// The full analysis sequence, the command-line batch, the batch run over a
// list of spectra ("batchspc.$$$") and the directory listing that makes it.
#pragma once

#include <string>

namespace kestrim {

struct State;

// Analyses the spectrum in memory: optional automatic save, reference fit
// or peak search, fit of all regions, quantitative analysis and reports,
// printing. 1 on success, 0 when a step failed.
int analyse_current_spectrum(State& state);

// Closes the connection of the ODBC activity database, if any (the end of a
// batch run).
void close_activity_database(State& state);

// Runs the calibration requests, the save and the analysis asked for on the
// command line. Returns the result (1 success).
int run_command_line_batch(State& state, bool save_requested, bool update_without_asking);

// Analyses every spectrum named in "batchspc.$$$" of the working directory
// (deleted afterwards). Returns the number of spectra analysed.
int run_batch(State& state);

// Writes "batchspc.$$$" with the spectra of `directory` of the current
// spectrum type that are larger than 1024 bytes and whose channel count
// probe is positive. Returns the number listed.
int list_directory_for_batch(State& state, const std::string& directory);

}  // namespace kestrim
