// What the desktop program's file lists do with the session: the spectra
// of a folder (every readable format, with their titles), merging and the
// batch analysis of a selection of them; the Defaults files (switching to
// one, creating one, deleting one).
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace kestrim {

struct State;

// One spectrum file of a folder.
struct ListedSpectrum {
  std::string name;   // file name in the folder
  int type = 0;       // spectrum type it is read as (0-15, 17)
  std::string title;  // the header's title, UTF-8 ("" when the format has none)
  int channels = 0;
  double live_time = 0;
};

// The spectra of `directory`: every file whose extension names a spectrum
// format and whose content that format's reader (chosen as the extension
// check chooses it) reads without complaint, with at least 16 channels;
// sorted by name. Nothing of the session changes and nothing is shown.
std::vector<ListedSpectrum> list_spectrum_folder(const State& state, const std::string& directory);

// Merges the listed spectra of `directory` in the order given: the first
// is opened, the counts and times of the others are added, each read by
// its own format; the result is "Sum_Spec.dat". 1, or 0 after a message.
int merge_listed_spectra(State& state, const std::string& directory, const std::vector<ListedSpectrum>& spectra);

// Before a batch analysis of a selection: when neither the activity
// database, numbered nor named report files are on, asks "Do you want to
// Continue ?" ("Analysis Results are not being saved"). 1 go on, 0 not.
int confirm_unsaved_batch_results(State& state);

// Analyses the listed spectra of `directory` one after the other as a
// batch run (no prompts; each spectrum opened by its own format; the
// parameters' batch print options). `progress` is told before each
// spectrum (index from 0, count, name) and once at the end (count, count,
// ""). An Abort stops the run after the spectrum being analysed. Returns
// the number of spectra analysed to the end.
int analyse_listed_spectra(State& state, const std::string& directory, const std::vector<ListedSpectrum>& spectra,
                           const std::function<void(int, int, const std::string&)>& progress);

// One Defaults file of the list: its application and number, and whether
// the user's folder holds it (else only the program's folder does).
struct ListedDefaults {
  std::string application;
  int number = 0;
  bool in_user_folder = false;
};
// Every Defaults file of both folders (the user's first), sorted by
// application (case ignored) and number, without repeats.
std::vector<ListedDefaults> list_defaults_files(const State& state);

// Switches to Defaults file `number` of `application`: the name is taken
// (with the set-up's checks) and the file loaded in switching mode, which
// offers to create a missing one ("Create a new %s Defaults File ?").
// When the load fails the application name in force is put back. 1 or 0.
int switch_defaults_file(State& state, const std::string& application, int number);

// Creates Defaults file `number` of `application` from the parameters in
// memory: the number is checked ("The file number should be between 1 and
// 99"), an existing file is refused ("The Defaults File:- %s already
// exists"), then the creation is offered as a switch to it. 1 or 0.
int create_defaults_file(State& state, const std::string& application, int number);

// Deletes the user's copy of a Defaults file after "Delete the Defaults
// File:- %s ?" (Yes/No, No preselected). The start-up file, the file in
// use and a file only the program's folder holds are refused with their
// messages. 1 deleted, 0 not.
int delete_defaults_file(State& state, const std::string& application, int number);

}  // namespace kestrim
