#include "settings/library.h"
#include "platform/c_locale.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/paths.h"
#include "platform/binio.h"
#include "platform/files.h"
#include "platform/platform.h"

namespace kestrim {

namespace {

constexpr std::size_t kMarkerSize = 8;
constexpr const char* kMarkerCurrent = "FFFFFFFE";
constexpr const char* kMarkerExtraBlock = "FFFFFFFD";
constexpr const char* kMarkerNoSource = "FFFFFFFF";

// Offsets within a nuclide entry of the current layout (see library.h).
constexpr std::size_t kNameOffset = 0;
constexpr std::size_t kDescriptionOffset = 8;
constexpr std::size_t kSourceOffset = 56;
constexpr std::size_t kHalfLifeOffset = 86;
constexpr std::size_t kLineCountOffset = 90;
constexpr std::size_t kUnitOffset = 92;
constexpr std::size_t kUnusedOffset = 93;
constexpr std::size_t kPrincipalOffset = 94;
constexpr std::size_t kReservedOffset = 98;
constexpr std::size_t kEntryFixedSize = 102;
constexpr std::size_t kExtraBlockSize = 56;  // "FFFFFFFD" only, after the reserved word

// The part of an entry after the description, relative to its start at
// kSourceOffset; the "FFFFFFFF" layout lacks the data source, so its fields
// sit kNuclideSourceSize bytes earlier.
constexpr std::size_t kTailSize = kEntryFixedSize - kSourceOffset;  // 46

// Offsets within a line record.
constexpr std::size_t kLineEnergyOffset = 0;
constexpr std::size_t kLineYieldOffset = 4;
constexpr std::size_t kLineUncertaintyOffset = 8;
constexpr std::size_t kLineSize = 12;
constexpr std::size_t kOldLineSize = 8;

constexpr std::uint8_t kTab = 0x09;
constexpr std::uint8_t kEndBytes[8] = {0x09, 0x09, 0x00, 0x46, 0x46, 0x46, 0x46, 0x45};

constexpr double kMinutesPerYear = 525960.0;  // 365.25 days
constexpr double kMinutesPerDay = 1440.0;
constexpr double kMinutesPerHour = 60.0;

}  // namespace

// --- Records ----------------------------------------------------------------

NuclideLibrary::NuclideLibrary()
    : nuclides(kLibraryNuclideSlots),
      line_energy(kLibraryLineSlots),
      line_yield(kLibraryLineSlots),
      line_uncertainty(kLibraryLineSlots),
      line_owner(kLibraryLineSlots),
      clipboard(kLibraryNuclideSlots) {}

void NuclideLibrary::clear() {
  std::fill(nuclides.begin(), nuclides.end(), Nuclide{});
  std::fill(line_energy.begin(), line_energy.end(), 0.0f);
  std::fill(line_yield.begin(), line_yield.end(), 0.0f);
  std::fill(line_uncertainty.begin(), line_uncertainty.end(), 0.0f);
  std::fill(line_owner.begin(), line_owner.end(), 0);
  nuclide_count = 0;
  line_count = 0;
}

bool NuclideLibrary::append(const CurrentNuclide& n) {
  if (nuclide_count >= kLibraryNuclideSlots) return false;
  if (n.line_count < 0 || n.line_count > kNuclideLineSlots) return false;
  if (line_count + n.line_count > kLibraryLineSlots) return false;
  int index = nuclide_count++;
  nuclides[index] = n.nuclide;
  for (int i = 0; i < n.line_count; ++i) {
    line_energy[line_count] = n.energy[i];
    line_yield[line_count] = n.yield[i];
    line_uncertainty[line_count] = n.uncertainty[i];
    line_owner[line_count] = index;
    ++line_count;
  }
  return true;
}

std::pair<int, int> NuclideLibrary::lines_of(int index) const {
  int first = 0;
  while (first < line_count && line_owner[first] < index) ++first;
  int end = first;
  while (end < line_count && line_owner[end] == index) ++end;
  return {first, end};
}

// --- Half-life units ----------------------------------------------------------

double half_life_to_minutes(double value, char unit) {
  switch (unit) {
    case 'S': return value / 60.0;
    case 'M': return value;
    case 'H': return value * kMinutesPerHour;
    case 'D': return value * kMinutesPerDay;
    case 'Y': return value * kMinutesPerYear;
    default: return value;
  }
}

HalfLifeDisplay display_half_life(double minutes) {
  if (minutes >= 1000000.0) return {minutes / kMinutesPerYear, "Years"};
  if (minutes > 2880.0) return {minutes / kMinutesPerDay, "Days"};
  if (minutes > 100.0) return {minutes / kMinutesPerHour, "Hours"};
  return {minutes, "Minutes"};
}

int check_editor_half_life_unit(Platform& ui, char unit) {
  if (unit == 'M' || unit == 'H' || unit == 'D' || unit == 'Y') return 1;
  ui.message_box("Halflife units should be  M, H, D or Y");
  return 0;
}

// --- Paths ------------------------------------------------------------------

std::string library_read_path(const Paths& paths, std::string_view title) {
  if (!paths.user_dir.empty()) {
    std::string user = resolve_path(join_path(join_path(paths.user_dir, kLibraryFolder), title));
    if (file_exists(user)) return user;
  }
  return resolve_path(join_path(join_path(paths.program_dir, kLibraryFolder), title));
}

std::string library_user_folder(const Paths& paths) {
  return resolve_path(join_path(paths.user_dir, kLibraryFolder));
}

std::string library_write_path(const Paths& paths, std::string_view title) {
  return join_path(library_user_folder(paths), title);
}

// --- Streaming reader ---------------------------------------------------------

LibraryReader::~LibraryReader() { close(); }

void LibraryReader::close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

std::size_t LibraryReader::read(void* buf, std::size_t n) {
  return std::fread(buf, 1, n, file_);
}

int LibraryReader::open(Platform& ui, const std::string& path) {
  close();
  error_.clear();
  lines_dropped_ = false;
  index_ = 0;
  path_ = path;
  file_ = std::fopen(path.c_str(), "rb");
  if (!file_) {
    char text[1200];
    c_snprintf(text, sizeof text, "Error %d opening %s", errno, path.c_str());
    ui.message_box(text);
    return 0;
  }
  char marker[kMarkerSize];
  bool ok = read(marker, kMarkerSize) == kMarkerSize;
  if (ok && std::memcmp(marker, kMarkerCurrent, kMarkerSize) == 0) {
    format_ = LibraryFormat::kCurrent;
  } else if (ok && std::memcmp(marker, kMarkerExtraBlock, kMarkerSize) == 0) {
    format_ = LibraryFormat::kExtraBlock;
  } else if (ok && std::memcmp(marker, kMarkerNoSource, kMarkerSize) == 0) {
    format_ = LibraryFormat::kNoSource;
  } else {
    close();
    ui.message_box("Can only read Binary Files");
    return 0;
  }
  return 1;
}

int LibraryReader::open_title(Platform& ui, const Paths& paths, std::string_view title) {
  return open(ui, library_read_path(paths, title));
}

int LibraryReader::next(CurrentNuclide& out) {
  if (!file_) return 0;
  lines_dropped_ = false;
  std::uint8_t head[kSourceOffset];
  // The end of the list: the name or the description cannot be read in full
  // (the writer's 8 end bytes are read as one more name). Anything else
  // there, or no end bytes in a file of the layout Kestrim writes, means the
  // file was cut short.
  const long head_offset = std::ftell(file_);
  const std::size_t got = read(head, kSourceOffset);
  if (got != kSourceOffset) {
    const bool end_bytes = got >= sizeof kEndBytes && std::equal(std::begin(kEndBytes), std::end(kEndBytes), head);
    if (end_bytes || (got == 0 && format_ != LibraryFormat::kCurrent)) return 0;
    char text[1400];
    c_snprintf(text, sizeof text, "%s: nuclide %d at offset %ld: %s", path_.c_str(), index_ + 1, head_offset,
               got == 0 ? "the file ends without its end marker" : "the entry ends inside its name or description");
    error_ = text;
    return -1;
  }

  const bool has_source = format_ != LibraryFormat::kNoSource;
  // Shift of the tail fields relative to the current layout.
  const std::size_t shift = has_source ? 0 : kNuclideSourceSize;
  const std::size_t tail_size = kTailSize - shift;
  std::uint8_t tail[kTailSize];
  const long entry_offset = std::ftell(file_) - static_cast<long>(kSourceOffset);
  auto damaged = [&](const char* what) {
    char text[1400];
    c_snprintf(text, sizeof text, "%s: nuclide %d at offset %ld: %s", path_.c_str(),
                  index_ + 1, entry_offset, what);
    error_ = text;
    return -1;
  };
  if (read(tail, tail_size) != tail_size) return damaged("the entry ends inside its fields");
  auto at = [&](std::size_t offset) { return tail + (offset - kSourceOffset - shift); };

  out = CurrentNuclide{};
  Nuclide& n = out.nuclide;
  assign(n.name, bin::get_text(head + kNameOffset, kNuclideNameSize));
  assign(n.description, bin::get_text(head + kDescriptionOffset, kNuclideDescriptionSize));
  if (has_source)
    assign(n.data_source, bin::get_text(tail + (kSourceOffset - kSourceOffset), kNuclideSourceSize));
  else
    assign(n.data_source, std::string(kNuclideSourceSize, ' '));

  const char unit = static_cast<char>(*at(kUnitOffset));
  n.half_life = static_cast<float>(half_life_to_minutes(bin::get_f32(at(kHalfLifeOffset)), unit));
  const int declared = bin::get_i16(at(kLineCountOffset));
  // Older files may repeat the name where the principal energy now sits.
  if (bin::get_text(at(kPrincipalOffset), 8) == to_string(n.name))
    n.principal_energy = 0;
  else
    n.principal_energy = bin::get_f32(at(kPrincipalOffset));

  if (format_ == LibraryFormat::kExtraBlock) {
    std::uint8_t skip[kExtraBlockSize];
    if (read(skip, kExtraBlockSize) != kExtraBlockSize)
      return damaged("the entry ends inside its 56-byte block");
  }
  if (declared < 0) return damaged("negative line count");

  const std::size_t line_size = has_source ? kLineSize : kOldLineSize;
  for (int i = 0; i < declared; ++i) {
    std::uint8_t line[kLineSize];
    if (read(line, line_size) != line_size) {
      char what[120];
      c_snprintf(what, sizeof what, "%d lines declared, the file ends after %d", declared, i);
      return damaged(what);
    }
    if (i >= kNuclideLineSlots) {
      lines_dropped_ = true;
      continue;
    }
    out.energy[i] = bin::get_f32(line + kLineEnergyOffset);
    out.yield[i] = bin::get_f32(line + kLineYieldOffset);
    out.uncertainty[i] = has_source ? bin::get_f32(line + kLineUncertaintyOffset) : 0.0f;
    out.line_count = i + 1;
  }
  ++index_;
  return 1;
}

// --- Load -----------------------------------------------------------------------

int load_library_file(Platform& ui, const std::string& path, NuclideLibrary& lib,
                      std::string* error_text) {
  lib.clear();
  std::string title = base_name(path);
  if (title.size() > static_cast<std::size_t>(kLibraryTitleMax)) title.resize(kLibraryTitleMax);
  lib.title = title;
  lib.modified = false;
  ui.set_status("Reading Analysis Library");

  LibraryReader reader;
  CurrentNuclide current;
  int r = reader.open(ui, path) ? reader.next(current) : 0;
  if (r <= 0) {
    if (error_text) *error_text = kLibraryReadFailed;
    return 0;
  }
  bool too_big = false;
  while (r > 0) {
    if (lib.nuclide_count > kLoadLastNuclideIndex || lib.line_count > kLoadLineTotalBeforeNuclide) {
      too_big = true;
      break;
    }
    // Lines beyond the buffer's line total are dropped.
    int room = kLoadLineTotalMax - lib.line_count;
    if (current.line_count > room) {
      current.line_count = room;
      too_big = true;
    }
    lib.append(current);
    // A nuclide with more lines than one nuclide may hold ends the load: the
    // file is beyond what the buffer was made for.
    if (reader.lines_dropped() || too_big) {
      too_big = true;
      break;
    }
    r = reader.next(current);
  }
  if (r < 0) {
    if (error_text) *error_text = reader.error();
    return -1;
  }
  if (too_big) ui.message_box(kLibraryTooBig);
  return 1;
}

int load_library(Platform& ui, const Paths& paths, std::string_view title, NuclideLibrary& lib,
                 std::string* error_text) {
  return load_library_file(ui, library_read_path(paths, title), lib, error_text);
}

// --- Save -----------------------------------------------------------------------

void sort_library_lines(NuclideLibrary& lib) {
  int first = 0;
  while (first < lib.line_count) {
    int end = first;
    while (end < lib.line_count && lib.line_owner[end] == lib.line_owner[first]) ++end;
    for (int i = first; i < end; ++i) {
      for (int j = i + 1; j < end; ++j) {
        if (lib.line_energy[j] < lib.line_energy[i]) {
          std::swap(lib.line_energy[i], lib.line_energy[j]);
          std::swap(lib.line_yield[i], lib.line_yield[j]);
          std::swap(lib.line_uncertainty[i], lib.line_uncertainty[j]);
        }
      }
    }
    first = end;
  }
}

std::vector<std::uint8_t> encode_library(const NuclideLibrary& lib) {
  std::vector<std::uint8_t> out(kMarkerSize);
  std::memcpy(out.data(), kMarkerCurrent, kMarkerSize);
  for (int k = 0; k < lib.nuclide_count; ++k) {
    const Nuclide& n = lib.nuclides[k];
    auto [first, end] = lib.lines_of(k);
    std::size_t at = out.size();
    out.resize(at + kEntryFixedSize + static_cast<std::size_t>(end - first) * kLineSize);
    std::uint8_t* e = out.data() + at;
    bin::put_text(e + kNameOffset, kNuclideNameSize, to_string(n.name), false);
    bin::put_text(e + kDescriptionOffset, kNuclideDescriptionSize, to_string(n.description), false);
    bin::put_text(e + kSourceOffset, kNuclideSourceSize, to_string(n.data_source), false);
    bin::put_f32(e + kHalfLifeOffset, n.half_life);
    bin::put_i16(e + kLineCountOffset, static_cast<std::int16_t>(end - first));
    e[kUnitOffset] = kTab;  // minutes
    e[kUnusedOffset] = kTab;
    bin::put_f32(e + kPrincipalOffset, n.principal_energy);
    bin::put_u32(e + kReservedOffset, 0);
    std::uint8_t* line = e + kEntryFixedSize;
    for (int i = first; i < end; ++i, line += kLineSize) {
      bin::put_f32(line + kLineEnergyOffset, lib.line_energy[i]);
      bin::put_f32(line + kLineYieldOffset, lib.line_yield[i]);
      bin::put_f32(line + kLineUncertaintyOffset, lib.line_uncertainty[i]);
    }
  }
  out.insert(out.end(), std::begin(kEndBytes), std::end(kEndBytes));
  return out;
}

int save_library_file(Platform& ui, NuclideLibrary& lib, const std::string& path) {
  sort_library_lines(lib);
  std::vector<std::uint8_t> bytes = encode_library(lib);
  if (!write_file_atomic(path, bytes)) {
    ui.message_box("Error opening " + path);
    return 0;
  }
  lib.modified = false;
  return 1;
}

int save_library(Platform& ui, const Paths& paths, NuclideLibrary& lib) {
  if (lib.title.empty()) {
    FileDialog dialog;
    dialog.title = "Save current Library";
    dialog.filters = {{"Libraries (*.*)", "*.*"}};
    dialog.initial_directory = library_user_folder(paths);
    if (!ui.save_file_dialog(dialog) || dialog.paths.empty()) return 0;
    std::string title = base_name(dialog.paths.front());
    if (title.find('.') == std::string::npos) title += ".lib";
    if (title.empty() || title.size() > static_cast<std::size_t>(kLibraryTitleMax)) {
      ui.message_box("The library name should have at most 31 characters");
      return 0;
    }
    if (file_exists(library_read_path(paths, title))) {
      int answer = ui.message_box("Update the Library " + title + " ?",
                                  "A Library with this name already exists", kMsgYesNo);
      if (answer != kAnswerYes) return 0;  // the old (empty) title stays
    }
    lib.title = title;
  }
  std::string folder = library_user_folder(paths);
  if (!directory_exists(folder)) make_directories(folder);
  return save_library_file(ui, lib, library_write_path(paths, lib.title));
}

int ask_to_save_library(Platform& ui, const Paths& paths, NuclideLibrary& lib) {
  if (!lib.modified) return 1;
  int answer = ui.message_box("Save changes to library " + lib.title + " ?",
                              "The Library has been modified", kMsgYesNoCancel);
  if (answer == kAnswerCancel) return 0;
  if (answer == kAnswerYes && !save_library(ui, paths, lib)) return 0;
  lib.modified = false;
  return 1;
}

}  // namespace kestrim
