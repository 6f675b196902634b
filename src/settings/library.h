// Nuclide libraries: the records, the binary library file, the streaming
// reader used by the analysis, and the whole-library buffer used by the
// editor, the listing and the imports.
//
// Binary library file (little-endian, floats IEEE single, text fields fixed
// width, unterminated, zero-padded):
//
//   offset 0, 8 bytes   format marker "FFFFFFFE" (written); "FFFFFFFD" and
//                       "FFFFFFFF" are older layouts that are still read
//   per nuclide, from the start of its entry:
//     +0    8  name
//     +8   48  description
//     +56  30  data source            (absent in "FFFFFFFF")
//     +86   4  half-life (float), in the unit of the unit byte
//     +90   2  number of lines (i16)
//     +92   1  half-life unit letter S M H D Y; anything else, and the tab
//              (0x09) the writer puts, means minutes
//     +93   1  unused, written as a tab
//     +94   4  principal energy (float, keV); but when the 8 bytes here read
//              as text equal the nuclide's name, the principal energy is 0
//     +98   4  reserved, written as zero
//     +102 56  only in "FFFFFFFD": skipped
//     then 12 bytes per line: energy, yield, uncertainty (floats; yield and
//     uncertainty as fractions). "FFFFFFFF" has 8 bytes per line and no
//     uncertainty.
//   end: the writer closes the file with 09 09 00 46 46 46 46 45; the reader
//   takes them as a name and stops when the description after it cannot be
//   read in full.
//
// Library files are looked up in <user_dir>/Libraries first and in
// <program_dir>/Libraries second, names ignoring case; they are written only
// to the user's folder (or to a path given explicitly).
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fixed_text.h"

namespace kestrim {

class Platform;
struct Paths;

inline constexpr int kLibraryNuclideSlots = 400;   // library buffer and clipboard
inline constexpr int kLibraryLineSlots = 8000;
inline constexpr int kNuclideLineSlots = 200;      // current-nuclide buffer
inline constexpr int kLibraryTitleMax = 31;

inline constexpr int kNuclideNameSize = 8;
inline constexpr int kNuclideDescriptionSize = 48;
inline constexpr int kNuclideSourceSize = 30;

inline constexpr const char* kLibraryFolder = "Libraries";
inline constexpr const char* kLibraryTooBig = "Warning - Library was too big";
inline constexpr const char* kLibraryReadFailed = "Failed to Read Analysis Library";

// One nuclide: texts as typed (imports pad names with blanks to 8 characters;
// during an analysis the 8th character of the name carries the nuclide's
// marker), half-life always in minutes, principal energy in keV (0 = not set).
struct Nuclide {
  FixedText<kNuclideNameSize + 1> name{};
  FixedText<kNuclideDescriptionSize + 1> description{};
  FixedText<kNuclideSourceSize + 1> data_source{};
  float half_life = 0;
  float principal_energy = 0;
  bool operator==(const Nuclide&) const = default;
};

// The nuclide the streaming reader last read, with its lines.
struct CurrentNuclide {
  Nuclide nuclide;
  std::array<float, kNuclideLineSlots> energy{};
  std::array<float, kNuclideLineSlots> yield{};
  std::array<float, kNuclideLineSlots> uncertainty{};
  int line_count = 0;
};

// The whole library in memory. Lines are grouped by owner, the groups in
// nuclide order; after a save each group is in ascending energy.
struct NuclideLibrary {
  NuclideLibrary();
  // Zeroes every nuclide slot and line entry and both counts (not the
  // clipboard, the title or the modified flag).
  void clear();
  // Appends a nuclide and its lines when both fit the slots; false otherwise
  // (nothing appended).
  bool append(const CurrentNuclide& n);
  // Index of the first line of nuclide `index` and one past its last.
  std::pair<int, int> lines_of(int index) const;

  std::vector<Nuclide> nuclides;            // kLibraryNuclideSlots slots
  std::vector<float> line_energy;           // kLibraryLineSlots entries each
  std::vector<float> line_yield;
  std::vector<float> line_uncertainty;
  std::vector<std::int32_t> line_owner;
  int nuclide_count = 0;
  int line_count = 0;

  std::string title;      // file name without folder, at most 31 characters
  bool modified = false;  // set by edits and imports, cleared by a save

  std::vector<Nuclide> clipboard;  // the editor's nuclide clipboard
  int clipboard_count = 0;
};

// --- Half-life units -----------------------------------------------------

// Converts a half-life given in the unit named by `unit` (S, M, H, D or Y,
// upper case) to minutes; any other character leaves the value unchanged.
double half_life_to_minutes(double value, char unit);

struct HalfLifeDisplay {
  double value;
  const char* unit;  // "Years", "Days", "Hours" or "Minutes"
};
// The largest fitting unit: Years from 1000000 minutes on, Days above 2880,
// Hours above 100, Minutes otherwise.
HalfLifeDisplay display_half_life(double minutes);

// The library editor takes only M, H, D or Y; anything else is refused with
// "Halflife units should be  M, H, D or Y". Returns 1 when accepted.
int check_editor_half_life_unit(Platform& ui, char unit);

// --- Where library files live ---------------------------------------------

// The file to read for a library title: <user_dir>/Libraries/<title> when it
// exists (ignoring case), else <program_dir>/Libraries/<title> (resolved
// ignoring case; returned as built when it does not exist).
std::string library_read_path(const Paths& paths, std::string_view title);
// The user's library folder, <user_dir>/Libraries (resolved ignoring case).
std::string library_user_folder(const Paths& paths);
// The file a library title is saved to: <user_dir>/Libraries/<title>.
std::string library_write_path(const Paths& paths, std::string_view title);

// --- The streaming reader -------------------------------------------------

// "FFFFFFFE"; "FFFFFFFD" (56 more bytes per nuclide); "FFFFFFFF" (no data
// source, no line uncertainties).
enum class LibraryFormat { kCurrent, kExtraBlock, kNoSource };

// Reads a library file nuclide by nuclide, keeping the file open between
// calls. At most 200 lines are stored for one nuclide.
class LibraryReader {
 public:
  LibraryReader() = default;
  ~LibraryReader();
  LibraryReader(const LibraryReader&) = delete;
  LibraryReader& operator=(const LibraryReader&) = delete;

  // Opens `path` and reads the marker. Returns 1, or 0 after the message
  // "Error %d opening %s" (system error number, full path) or "Can only read
  // Binary Files" (file closed again).
  int open(Platform& ui, const std::string& path);
  // Opens the library of that title in the library folders.
  int open_title(Platform& ui, const Paths& paths, std::string_view title);

  // Reads the next nuclide into `out`. Returns 1 with a nuclide, 0 at the
  // end of the list (or when no file is open), -1 when the entry is cut
  // short (error() says where). A nuclide that declares more than 200 lines
  // keeps its first 200 and sets lines_dropped().
  int next(CurrentNuclide& out);

  void close();
  bool is_open() const { return file_ != nullptr; }
  LibraryFormat format() const { return format_; }
  const std::string& error() const { return error_; }
  bool lines_dropped() const { return lines_dropped_; }

 private:
  std::size_t read(void* buf, std::size_t n);

  std::FILE* file_ = nullptr;
  std::string path_;
  LibraryFormat format_ = LibraryFormat::kCurrent;
  std::string error_;
  bool lines_dropped_ = false;
  int index_ = 0;
};

// --- Whole-library load and save ------------------------------------------

// Load stops before appending a nuclide when 398 are already loaded or the
// line total exceeds 7996; lines beyond a total of 7998 are dropped.
inline constexpr int kLoadLastNuclideIndex = 397;
inline constexpr int kLoadLineTotalBeforeNuclide = 7996;
inline constexpr int kLoadLineTotalMax = 7998;

// Loads the library file `path` into `lib` (title = its file name). Shows
// "Reading Analysis Library" in the status line. Returns 1 at the end of the
// file. Returns 0 when the first nuclide cannot be read, with
// kLibraryReadFailed in `error_text`, and -1 when a later entry is cut short
// (the nuclides before it are kept, `error_text` says where). A library over
// the buffer limits shows kLibraryTooBig, keeps what was loaded and returns 1.
int load_library_file(Platform& ui, const std::string& path, NuclideLibrary& lib,
                      std::string* error_text);
// The same for a title looked up in the library folders.
int load_library(Platform& ui, const Paths& paths, std::string_view title, NuclideLibrary& lib,
                 std::string* error_text);

// Sorts the lines of each nuclide by ascending energy in place: each line is
// exchanged with any later line of the group that has a lower energy.
void sort_library_lines(NuclideLibrary& lib);

// The bytes of the library in the "FFFFFFFE" layout, nuclides in buffer
// order, lines in their buffer order (sort first).
std::vector<std::uint8_t> encode_library(const NuclideLibrary& lib);

// Sorts the lines and writes the library to `path` through an atomic
// replace. Returns 1 (modified flag cleared) or 0 after "Error opening %s".
int save_library_file(Platform& ui, NuclideLibrary& lib, const std::string& path);

// The editor's Save: without a title, asks for one ("Save current Library",
// filter "Libraries (*.*)"), appends ".lib" when it has no '.', and asks
// "Update the Library %s ?" when such a library exists (No keeps the old
// title and saves nothing). Writes to <user_dir>/Libraries/<title>.
int save_library(Platform& ui, const Paths& paths, NuclideLibrary& lib);

// Before an action that would drop unsaved edits: asks "Save changes to
// library %s ?" when modified. Returns 1 to go on (saved or discarded), 0 to
// cancel the action (Cancel, or a failed save).
int ask_to_save_library(Platform& ui, const Paths& paths, NuclideLibrary& lib);

}  // namespace kestrim
