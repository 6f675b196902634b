// Background files (".bkg"): the 16-bit marker 255 (bytes FF 00) followed by
// the 2480-byte background record (background_record.h), 2482 bytes in all.
//
// The current background file is named by the parameters (BKGF, "Current
// Background Subtraction file") and lives in the background directory. The
// record in memory is State::background. When background subtraction by
// peak rate is on, every reported peak of a sample has the counts of the
// first background peak inside its energy window (rate x the sample's live
// time) taken off its net area; a peak left not positive, or with a larger
// uncertainty than MAXP, is eliminated.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "spectrum/background_record.h"

namespace kestrim {

struct NuclideSession;

inline constexpr int kBackgroundFileMarker = 255;
inline constexpr int kBackgroundFileSize = 2 + kBackgroundBlockSize;
inline constexpr int kMaxBackgroundListed = 1001;

// The whole file: marker and record.
std::vector<std::uint8_t> encode_background_file(const BackgroundRecord& rec);
// 1 read; -1 the marker is not 255; -2 too short.
int decode_background_file(const std::vector<std::uint8_t>& bytes, BackgroundRecord& out);

// The file-name rule of the background dialog. `saving` selects the save
// mode. Returns 1 with the accepted name (at most 12 characters, lower
// case) in `name`, or 0 after its message (the dialog stays open). In save
// mode an existing file is only accepted after "Overwrite ... ?" is
// answered Yes; in select mode a missing file is refused. On acceptance
// the name becomes the current background file, the directory the
// background directory, and background subtraction is turned on.
int accept_background_name(const NuclideSession& state, const std::string& typed, const std::string& directory,
                           bool saving, std::string& name);

// One listed background file.
struct BackgroundListing {
  std::string file_name;
  std::string title;
};
// The valid ".bkg" files of a directory (marker 255) with their titles,
// sorted by name; at most 1001 files are examined.
std::vector<BackgroundListing> list_background_files(const std::string& directory);

// The status line of the background dialog: "Select" when a background
// name is current (or the calibration names a default one), else "Enter",
// followed by " the required Background filename, then select 'Open'".
std::string background_dialog_status(const NuclideSession& state);

// The directory background files are read from and saved to: the
// parameters' background directory, else the working directory.
std::string background_directory(const NuclideSession& state);

// Loads the current background file (state.flags.background_name, else the
// parameters' BKGF name) into state.background. 1, or 0 after its message
// (the record then has no peaks).
int load_background(const NuclideSession& state);

// Fills the record from the fitted peaks of the analysed spectrum and saves
// it as `name` in the background directory, then loads it again and makes
// it current; with `store_parameters` the parameters are saved too (the
// desktop session). 1, or 0 after its message.
int save_background(const NuclideSession& state, const std::string& name, bool store_parameters = true);

// "Save Background file": saves the peaks of the spectrum already analysed;
// when not every peak was fitted the user is asked first. 1, or 0.
int save_analysed_background(const NuclideSession& state, const std::string& name, bool store_parameters = true);

// "Analyse and Save as Bkg": searches and fits the spectrum in memory as a
// background run and saves its peaks as `name`. 1, or 0 (aborted or failed,
// reported).
int analyse_and_save_background(const NuclideSession& state, const std::string& name, bool store_parameters = true);

}  // namespace kestrim
