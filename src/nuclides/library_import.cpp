#include "nuclides/library_import.h"
#include "platform/c_locale.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <vector>

#include "nuclides/nuclide_session.h"
#include "platform/files.h"
#include "platform/platform.h"

namespace kestrim {

namespace {

constexpr std::size_t kMaxListingLine = 120;

// Reads a listing line by line (see library_import.h for the line rule).
class LineSource {
 public:
  explicit LineSource(std::string_view text) : text_(text) {}
  bool next(std::string& line) {
    if (pos_ >= text_.size()) return false;
    line.clear();
    while (pos_ < text_.size() && line.size() < kMaxListingLine) {
      char c = text_[pos_++];
      if (c == '\r') {
        if (pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
        return true;
      }
      if (c == '\n') return true;
      line += c;
    }
    return true;
  }
  void skip_byte() {
    if (pos_ < text_.size()) ++pos_;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

// scanf's "%f": leading blanks, an optional sign, a number. False when no
// number is there.
bool scan_float(std::string_view s, std::size_t& pos, float& out) {
  while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t')) ++pos;
  std::size_t start = pos;
  bool negative = false;
  if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) negative = s[pos++] == '-';
  double v = 0;
  auto r = std::from_chars(s.data() + pos, s.data() + s.size(), v);
  if (r.ec != std::errc() && r.ec != std::errc::result_out_of_range) {
    pos = start;
    return false;
  }
  pos = static_cast<std::size_t>(r.ptr - s.data());
  out = static_cast<float>(negative ? -v : v);
  return true;
}

float scan_first_float(std::string_view s) {
  std::size_t pos = 0;
  float v = 0;
  scan_float(s, pos, v);
  return v;
}

// "%f %f": false unless both numbers are read.
bool scan_two_floats(std::string_view s, float& a, float& b) {
  std::size_t pos = 0;
  return scan_float(s, pos, a) && scan_float(s, pos, b);
}

std::vector<std::string> tokens_of(std::string_view s) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    std::size_t start = i;
    while (i < s.size() && s[i] != ' ' && s[i] != '\t') ++i;
    if (i > start) out.emplace_back(s.substr(start, i - start));
  }
  return out;
}

bool dash_in_column_3_or_4(std::string_view s) {
  return (s.size() > 2 && s[2] == '-') || (s.size() > 3 && s[3] == '-');
}

bool contains_ignoring_case(std::string_view s, std::string_view word) {
  return to_lower(s).find(to_lower(word)) != std::string::npos;
}

std::string padded_name(std::string_view name) {
  std::string s(name.substr(0, kNuclideNameSize));
  s.resize(kNuclideNameSize, ' ');
  return s;
}

// Collects the parsed nuclides into the library buffer under the import limits.
class Collector {
 public:
  Collector(NuclideLibrary& lib) : lib_(lib) {}

  // Starts a nuclide (closing the one before). False once the import ended.
  bool start(std::string_view name) {
    finish();
    if (ended_) return false;
    if (lib_.nuclide_count >= kImportMaxNuclides) {
      ended_ = too_big_ = true;
      return false;
    }
    current_ = CurrentNuclide{};
    assign(current_.nuclide.name, name);
    open_ = true;
    return true;
  }
  Nuclide* nuclide() { return open_ ? &current_.nuclide : nullptr; }

  // Inserts a line before the first line of strictly higher energy.
  void add_line(float energy, float yield, float uncertainty) {
    if (!open_ || last_nuclide_ || !(energy > 0)) return;
    int n = current_.line_count;
    int at = 0;
    while (at < n && current_.energy[at] <= energy) ++at;
    for (int i = n; i > at; --i) {
      current_.energy[i] = current_.energy[i - 1];
      current_.yield[i] = current_.yield[i - 1];
      current_.uncertainty[i] = current_.uncertainty[i - 1];
    }
    current_.energy[at] = energy;
    current_.yield[at] = yield;
    current_.uncertainty[at] = uncertainty;
    current_.line_count = n + 1;
    if (current_.line_count >= kImportMaxNuclideLines) last_nuclide_ = true;
  }

  void finish() {
    if (!open_) return;
    open_ = false;
    int room = kLibraryLineSlots - lib_.line_count;
    if (current_.line_count > room) {
      current_.line_count = room;
      ended_ = too_big_ = true;
    }
    lib_.append(current_);
    ++count_;
    if (last_nuclide_) ended_ = too_big_ = true;
  }

  bool ended() const { return ended_; }
  bool too_big() const { return too_big_; }
  int count() const { return count_; }

 private:
  NuclideLibrary& lib_;
  CurrentNuclide current_;
  bool open_ = false;
  bool last_nuclide_ = false;
  bool ended_ = false;
  bool too_big_ = false;
  int count_ = 0;
};

void parse_spectran(LineSource& src, Collector& c) {
  std::string s;
  while (!c.ended() && src.next(s)) {
    if (!dash_in_column_3_or_4(s)) continue;
    std::string name = s.substr(1, 7);
    name.resize(7, ' ');
    if (!c.start(name + " ")) break;
    if (!src.next(s)) break;
    c.nuclide()->half_life = scan_first_float(s);  // minutes
    if (!src.next(s)) break;  // the column heading
    while (src.next(s)) {
      if (s.size() < 3) {
        src.skip_byte();
        break;
      }
      float energy = 0, yield = 0;
      if (scan_two_floats(s, energy, yield)) c.add_line(energy, yield, 0);
    }
  }
  c.finish();
}

void read_omnigam_half_life(std::string_view s, Nuclide& n) {
  std::size_t eq = s.find('=');
  if (eq == std::string_view::npos) return;
  float value = scan_first_float(s.substr(eq + 1, 10));
  char unit = 0;
  std::size_t blank = s.find(' ', eq + 1);
  if (blank != std::string_view::npos && blank + 1 < s.size()) unit = s[blank + 1];
  n.half_life = static_cast<float>(half_life_to_minutes(value, unit));
}

void parse_omnigam(LineSource& src, Collector& c) {
  std::string s;
  bool have = src.next(s);
  while (have && !c.ended()) {
    if (!dash_in_column_3_or_4(s)) {
      have = src.next(s);
      continue;
    }
    if (!c.start(padded_name(s.size() > 1 ? std::string_view(s).substr(1, 8) : ""))) break;
    bool half_life_read = s.find('=') != std::string::npos;
    read_omnigam_half_life(s, *c.nuclide());
    bool in_lines = false;
    while ((have = src.next(s))) {
      if (dash_in_column_3_or_4(s)) break;  // the next nuclide
      if (!in_lines) {
        // The half-life may stand on a line of its own before the table.
        if (!half_life_read && s.find('=') != std::string::npos) {
          read_omnigam_half_life(s, *c.nuclide());
          half_life_read = true;
        }
        if (to_lower(s).find("energy") != std::string::npos) in_lines = true;
        continue;
      }
      if (s.empty() || s.size() > 34) continue;
      float energy = 0, yield = 0;
      if (scan_two_floats(to_lower(s), energy, yield)) c.add_line(energy, yield / 100.0f, 0);
    }
  }
  c.finish();
}

void parse_gammavision(LineSource& src, Collector& c) {
  std::string s;
  bool have = src.next(s);
  while (have && !c.ended()) {
    if (s.substr(0, 10).find('-') == std::string::npos) {
      have = src.next(s);
      continue;
    }
    std::vector<std::string> t = tokens_of(s);
    if (!c.start(t.empty() ? "" : t[0])) break;
    if (t.size() > 1) {
      float value = scan_first_float(t[1]);
      char unit = t.size() > 2 ? t[2][0] : 0;
      c.nuclide()->half_life = static_cast<float>(half_life_to_minutes(value, unit));
    }
    while ((have = src.next(s))) {
      if (s.find('-') != std::string::npos) break;  // ends the nuclide
      if (s.empty() || s.size() > 26) continue;
      std::string low = to_lower(s);
      std::size_t percent = low.find('%');
      if (percent != std::string::npos) low.resize(percent);
      std::size_t kev = low.find("kev");
      if (kev == std::string::npos) continue;
      std::vector<std::string> before = tokens_of(std::string_view(low).substr(0, kev));
      float energy = before.empty() ? 0 : scan_first_float(before.back());
      float yield = kev + 4 < low.size() ? scan_first_float(std::string_view(low).substr(kev + 4)) : 0;
      c.add_line(energy, yield / 100.0f, 0);
    }
  }
  c.finish();
}

constexpr std::size_t kGenieValueColumn = 55;  // column 56

float genie_value(std::string_view s) {
  return s.size() > kGenieValueColumn ? scan_first_float(s.substr(kGenieValueColumn)) : 0;
}

void parse_genie(Platform& ui, LineSource& src, Collector& c) {
  std::string s;
  bool in_lines = false;
  float energy = 0, yield = 0;
  while (!c.ended() && src.next(s)) {
    if (contains_ignoring_case(s, "nuclide name")) {
      std::vector<std::string> t = tokens_of(s);
      std::string name = padded_name(t.size() > 3 ? t[3] : "");
      if (!c.start(name)) break;
      ui.set_status(name);
      in_lines = false;
      energy = yield = 0;
      continue;
    }
    Nuclide* n = c.nuclide();
    if (!n) continue;
    if (s.find("-----") != std::string::npos) {
      c.finish();
      in_lines = false;
    } else if (contains_ignoring_case(s, "HALFLIFE")) {
      std::vector<std::string> t = tokens_of(s);
      float value = t.size() > 2 ? scan_first_float(t[2]) : 0;
      char unit = t.size() > 3 ? t[3][0] : 0;
      n->half_life = static_cast<float>(half_life_to_minutes(value, unit));
    } else if (contains_ignoring_case(s, "subheader")) {
      std::vector<std::string> t = tokens_of(s);
      assign(n->description, t.size() > 4 ? t[4] : "");
      assign(n->data_source, " ");
      in_lines = true;
    } else if (in_lines) {
      if (contains_ignoring_case(s, "ABNERR")) {
        float uncertainty = genie_value(s);
        if (energy > 0) c.add_line(energy, yield / 100.0f, uncertainty / 100.0f);
        energy = 0;
      } else if (contains_ignoring_case(s, "ABUNDANCE")) {
        yield = genie_value(s);
      } else if (contains_ignoring_case(s, "ENERGY")) {
        energy = genie_value(s);
      }
    }
  }
  c.finish();
}

}  // namespace

int parse_listing(Platform& ui, ListingKind kind, std::string_view text, NuclideLibrary& lib) {
  LineSource src(text);
  Collector c(lib);
  switch (kind) {
    case ListingKind::kSpectran: parse_spectran(src, c); break;
    case ListingKind::kOmnigam: parse_omnigam(src, c); break;
    case ListingKind::kGammavision: parse_gammavision(src, c); break;
    case ListingKind::kGenie: parse_genie(ui, src, c); break;
  }
  if (c.too_big()) ui.message_box(kLibraryTooBig);
  return c.count();
}

int import_listing(Platform& ui, NuclideLibrary& lib, const std::string& path, ListingKind kind) {
  if (lib.clipboard_count > 0) {
    int answer = ui.message_box("Do you want to continue ?",
                                "The Nuclide data in the buffer will be overwritten", kMsgYesNo);
    if (answer == kAnswerNo) return 0;
  }
  std::vector<std::uint8_t> bytes;
  if (!read_file(path, bytes, 16u << 20)) {
    char text[1200];
    c_snprintf(text, sizeof text, "Error %d opening %s", errno, path.c_str());
    ui.message_box(text);
    return 0;
  }
  for (int i = 0; i < lib.nuclide_count; ++i) lib.clipboard[i] = lib.nuclides[i];
  lib.clipboard_count = lib.nuclide_count;
  lib.clear();

  parse_listing(ui, kind,
                std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), lib);

  for (int i = 0; i < lib.nuclide_count; ++i) {
    std::string name = padded_name(to_string(lib.nuclides[i].name));
    for (int j = 0; j < lib.clipboard_count; ++j) {
      if (iequals(padded_name(to_string(lib.clipboard[j].name)), name)) {
        lib.nuclides[i].description = lib.clipboard[j].description;
        break;
      }
    }
  }
  std::fill(lib.clipboard.begin(), lib.clipboard.end(), Nuclide{});
  lib.clipboard_count = 0;

  std::string title = base_name(path);
  std::size_t dot = title.find('.');
  if (dot != std::string::npos) title.resize(dot);
  title += ".lib";
  if (title.size() > static_cast<std::size_t>(kLibraryTitleMax))
    title = title.substr(0, kLibraryTitleMax - 4) + ".lib";
  lib.title = title;
  lib.modified = true;
  return 1;
}

int import_listing_dialog(Platform& ui, const Paths& paths, NuclideLibrary& lib) {
  FileDialog dialog;
  dialog.title = "Import Library Listing Text File";
  dialog.filters = {{"Spectran", "*.WRI"},
                    {"Omnigam", "*.LIS"},
                    {"Gammavision", "*.TXT"},
                    {"Genie", "*.LIS"}};
  dialog.initial_directory = paths.working_dir;
  if (!ui.open_file_dialog(dialog) || dialog.paths.empty()) return 0;
  static const ListingKind kKinds[] = {ListingKind::kSpectran, ListingKind::kOmnigam,
                                       ListingKind::kGammavision, ListingKind::kGenie};
  int index = dialog.filter_index >= 0 && dialog.filter_index < 4 ? dialog.filter_index : 0;
  return import_listing(ui, lib, dialog.paths.front(), kKinds[index]);
}

}  // namespace kestrim
