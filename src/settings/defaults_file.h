// Defaults files: the analysis parameters stored per application and
// detector, and the operations that load and save them.
//
// Layout of a Defaults file (little-endian):
//   offset  size  content
//        0  2304  the analysis parameters record (parameters.h)
//     2304    16  user password, each character + 56 (mod 256), zero-padded
//     2320    16  manager password, scrambled the same way
// The password fields are optional: a file of exactly 2304 bytes has none.
// Bytes after 2336 are ignored.
//
// Names: "<application>.NNN" with NNN the detector number written "%03d";
// file 0 (the start-up file, always the most recently saved parameters) is
// "Normal.000" whatever the application. Files are looked up in
// <user_dir>/DefaultFiles first and <program_dir>/DefaultFiles second,
// ignoring case, and written only to <user_dir>/DefaultFiles.
//
// The reference analysis defaults "ref_dflt.NNN" (the bare 2304-byte record,
// numbered with the current Defaults-file number) live in the working
// directory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "settings/session.h"
#include "settings/parameters.h"

namespace kestrim {


struct Paths;
class Platform;

inline constexpr int kUserPasswordOffset = kParametersSize;
inline constexpr int kManagerPasswordOffset = kParametersSize + kPasswordFieldSize;
inline constexpr const char* kDefaultFilesDir = "DefaultFiles";
inline constexpr const char* kStartupApplication = "Normal";
// Caption of the fatal Defaults-file messages.
inline constexpr const char* kSupportCaption = "Kestrim support: see README.md";

// ---- Bytes <-> record, no I/O -------------------------------------------

struct DefaultsFileImage {
  AnalysisParameters params = make_initial_parameters();
  Passwords passwords;
  bool has_user_password_field = false;     // the file reached 2320 bytes
  bool has_manager_password_field = false;  // the file reached 2336 bytes
  std::size_t ignored_bytes = 0;            // bytes after the password fields
};

inline constexpr int kDefaultsParsedOk = 1;
inline constexpr int kDefaultsTooShort = -1;  // fewer than 2304 bytes

// Decodes a Defaults file from its bytes. Returns kDefaultsParsedOk, or
// kDefaultsTooShort (and leaves `out` untouched) when the record is
// incomplete. A password field cut short by the end of the file is absent.
int parse_defaults_file(const std::uint8_t* data, std::size_t size, DefaultsFileImage& out);

// The bytes of a Defaults file: the record as it is (checksum included) and,
// when `passwords` is given, the two scrambled password fields.
std::vector<std::uint8_t> build_defaults_file(const AnalysisParameters& p,
                                              const Passwords* passwords);

// True when the stored checksum is 0 (none computed yet) or matches.
bool checksum_matches(const std::uint8_t* record_bytes);

// ---- Names and paths ---------------------------------------------------

// "Normal.000" for number 0, "<application>.NNN" otherwise.
std::string defaults_file_name(const std::string& application, int number);
// The readable copy of a Defaults file: user folder first, then the
// program's; "" when neither has it.
std::string find_defaults_file(const Paths& paths, const std::string& name);
// Where a Defaults file is written (in the user's folder, keeping the case of
// a file already there).
std::string defaults_write_path(const Paths& paths, const std::string& name);
// "ref_dflt.NNN" in the working directory.
std::string reference_defaults_path(const Paths& paths, int number);

// ---- Operations ----------------------------------------------------------

enum class LoadMode { Startup, Switching };

// Loads Defaults file `number` of the current application into
// state.params. Start-up mode also reads the passwords and asks for the user
// password; switching mode keeps the user's display and window preferences.
// Returns 1, or 0 after a message (the parameters in force are unchanged
// unless a missing file was created from them).
int load_defaults_file(const SettingsSession& state, int number, LoadMode mode);

// Recomputes the checksum and writes file 0 ("Normal.000", with the
// passwords) and file N (the record's own number under the current
// application name). 1 success, 0 after a message.
int save_parameters(const SettingsSession& state);

// "ref_dflt.NNN": load asks before replacing the parameters, save asks
// before replacing an existing file. 1 done, 0 not done.
int load_reference_defaults(const SettingsSession& state);
int save_reference_defaults(const SettingsSession& state);

// Set-up dialog checks. 1 accepted, 0 refused after a message.
int set_application_name(AnalysisParameters& p, Platform& ui, const std::string& text);
int set_file_number(const SettingsSession& state, int number);

// Detector numbers that have a file "<application>.NNN" (either folder),
// ascending, without repeats.
std::vector<int> list_detector_numbers(const Paths& paths, const std::string& application);
// Entries for the Defaults file list: "Detector %d" for numbers above 0 and
// the file name for number 0.
std::vector<std::string> list_detector_entries(const Paths& paths, const std::string& application);
// Applications having a file with this number, sorted, without repeats
// (case ignored; the first spelling met is kept, the user folder first).
std::vector<std::string> list_applications(const Paths& paths, int number);

}  // namespace kestrim
