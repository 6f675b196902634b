// Reading and saving the spectrum of the session: the read dispatcher that
// picks the reader by spectrum type, the save with its prompts, and the
// offer to save unsaved changes.
#pragma once

#include <string>

namespace kestrim {

struct State;

// Reads `path` into the session's spectrum with the reader of the current
// spectrum type (State.app.spectrum_type), honouring sum mode and
// second-spectrum mode. On failure ("Could not open:- ", "Error reading ")
// returns 0 and leaves the spectrum in memory as it was before the read.
int read_spectrum_file(State& state, const std::string& path);

// Writes the native file `path` from the session's spectrum ("Error
// Creating:- %s", "Error writing Spectrum file"). `retry_with_dialog` is set
// when the caller should offer the file dialog again.
int write_native_file(State& state, const std::string& path, bool& retry_with_dialog,
                      bool write_background_block);

// Saves the spectrum in the native format under its own name in the
// own-format directory (or through the save dialog), with the overwrite
// prompt unless `update_without_asking`. 1 saved, 0 cancelled or failed.
int save_spectrum(State& state, bool show_dialog, bool write_background_block,
                  bool update_without_asking);

// Offers to save unsaved changes: 1 go on, 0 the caller's operation is cancelled.
int offer_to_save_changes(State& state);

// The own-format and other-format spectra directories (the working
// directory when the parameters leave them empty).
std::string own_format_directory(const State& state);
// Makes `dir` the folder of spectra of `type` (0 native, else foreign). The
// whole path is kept for the session; the parameters keep it too when it
// fits their field, and are otherwise left as they were (a cut path could
// name another folder).
void set_spectrum_directory(State& state, int type, const std::string& dir);
std::string other_format_directory(const State& state);
std::string directory_for_type(const State& state, int type);

}  // namespace kestrim
