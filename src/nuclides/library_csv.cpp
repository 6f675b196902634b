#include "nuclides/library_csv.h"

#include <charconv>
#include <cmath>
#include <vector>

#include "platform/text_encoding.h"

namespace kestrim {

namespace {

struct Row {
  int number = 0;  // 1-based text line where the row starts
  std::vector<std::string> fields;
};

// Splits CSV text into rows of fields; comment and empty rows are dropped.
// Returns false (with `error`) for a quote left open.
bool split_rows(std::string_view text, std::vector<Row>& rows, std::string* error) {
  std::size_t i = 0;
  int line = 1;
  while (i < text.size()) {
    Row row;
    row.number = line;
    if (text[i] == '#') {
      while (i < text.size() && text[i] != '\n') ++i;
      if (i < text.size()) ++i;
      ++line;
      continue;
    }
    std::string field;
    bool row_done = false;
    while (!row_done) {
      if (i < text.size() && text[i] == '"') {
        ++i;
        for (;;) {
          if (i >= text.size()) {
            if (error) *error = "row " + std::to_string(row.number) + ": a quoted field is not closed";
            return false;
          }
          char c = text[i++];
          if (c == '"') {
            if (i < text.size() && text[i] == '"') {
              field += '"';
              ++i;
              continue;
            }
            break;
          }
          if (c == '\n') ++line;
          field += c;
        }
      }
      while (i < text.size() && text[i] != ',' && text[i] != '\n') field += text[i++];
      if (!field.empty() && field.back() == '\r' && (i >= text.size() || text[i] == '\n'))
        field.pop_back();
      row.fields.push_back(std::move(field));
      field.clear();
      if (i >= text.size()) {
        row_done = true;
      } else if (text[i] == ',') {
        ++i;
      } else {  // '\n'
        ++i;
        ++line;
        row_done = true;
      }
    }
    bool empty = row.fields.size() == 1 && row.fields[0].find_first_not_of(" \t") == std::string::npos;
    if (!empty) rows.push_back(std::move(row));
  }
  return true;
}

std::string_view trimmed(std::string_view s) {
  std::size_t a = s.find_first_not_of(" \t");
  if (a == std::string_view::npos) return {};
  std::size_t b = s.find_last_not_of(" \t");
  return s.substr(a, b - a + 1);
}

// A number field; empty reads as 0 when `empty_is_zero`.
bool parse_number(std::string_view field, bool empty_is_zero, double& out) {
  std::string_view s = trimmed(field);
  if (s.empty()) {
    out = 0;
    return empty_is_zero;
  }
  if (s.front() == '+') s.remove_prefix(1);
  auto r = std::from_chars(s.data(), s.data() + s.size(), out);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && std::isfinite(out);
}

std::string format_float(float v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string quoted(const std::string& s) {
  bool needs = s.find_first_of(",\"\r\n") != std::string::npos ||
               (!s.empty() && (s.front() == ' ' || s.back() == ' ' || s.front() == '\t' ||
                               s.back() == '\t' || s.front() == '#'));
  if (!needs) return s;
  std::string out = "\"";
  for (char c : s) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

}  // namespace

std::string library_to_csv(const NuclideLibrary& lib) {
  std::string out;
  out += "# Kestrim nuclide library " + text_as_utf8(lib.title) + "\r\n";
  out += "# nuclide,name,half_life,unit,principal_keV,description,data_source\r\n";
  out += "# line,energy_keV,yield,yield_uncertainty\r\n";
  for (int k = 0; k < lib.nuclide_count; ++k) {
    const Nuclide& n = lib.nuclides[k];
    // Text is written as UTF-8 (the sum-peak marker of a name included).
    out += "nuclide," + quoted(text_as_utf8(to_string(n.name))) + "," + format_float(n.half_life) +
           ",M," + format_float(n.principal_energy) + "," +
           quoted(text_as_utf8(to_string(n.description))) + "," +
           quoted(text_as_utf8(to_string(n.data_source))) + "\r\n";
    auto [first, end] = lib.lines_of(k);
    for (int i = first; i < end; ++i) {
      out += "line," + format_float(lib.line_energy[i]) + "," + format_float(lib.line_yield[i]) +
             "," + format_float(lib.line_uncertainty[i]) + "\r\n";
    }
  }
  return out;
}

int library_from_csv(std::string_view text, NuclideLibrary& lib, std::string* error) {
  lib.clear();
  std::vector<Row> rows;
  if (!split_rows(text, rows, error)) return 0;

  CurrentNuclide current;
  bool open = false;
  int row_of_current = 0;
  auto fail = [&](int row, const std::string& what) {
    if (error) *error = "row " + std::to_string(row) + ": " + what;
    return 0;
  };
  // Appends the open nuclide if the binary file will load it whole.
  auto close = [&]() -> bool {
    if (!open) return true;
    open = false;
    if (lib.nuclide_count > kLoadLastNuclideIndex) {
      fail(row_of_current, "more than 398 nuclides");
      return false;
    }
    if (lib.line_count > kLoadLineTotalBeforeNuclide ||
        lib.line_count + current.line_count > kLoadLineTotalMax) {
      fail(row_of_current, "the library would have more than 7998 lines (or more than 7996 "
                           "before its last nuclide)");
      return false;
    }
    lib.append(current);
    return true;
  };

  for (const Row& row : rows) {
    const std::string kind(trimmed(row.fields[0]));
    if (kind == "nuclide") {
      if (!close()) return 0;
      if (row.fields.size() != 7) return fail(row.number, "a nuclide row has 7 fields");
      current = CurrentNuclide{};
      row_of_current = row.number;
      // Either encoding reads back: UTF-8 text becomes the library's 8-bit form.
      const std::string name = utf8_to_windows1252(row.fields[1]);
      const std::string description = utf8_to_windows1252(row.fields[5]);
      const std::string source = utf8_to_windows1252(row.fields[6]);
      if (name.size() > kNuclideNameSize) return fail(row.number, "name longer than 8 characters");
      if (description.size() > kNuclideDescriptionSize)
        return fail(row.number, "description longer than 48 characters");
      if (source.size() > kNuclideSourceSize)
        return fail(row.number, "data source longer than 30 characters");
      double half_life = 0, principal = 0;
      if (!parse_number(row.fields[2], false, half_life))
        return fail(row.number, "half-life \"" + row.fields[2] + "\" is not a number");
      if (half_life < 0)
        return fail(row.number, "half-life \"" + row.fields[2] + "\" is negative");
      std::string_view unit = trimmed(row.fields[3]);
      if (unit.size() != 1 || std::string_view("SMHDY").find(unit[0]) == std::string_view::npos)
        return fail(row.number, "half-life unit \"" + row.fields[3] + "\" is not S, M, H, D or Y");
      if (!parse_number(row.fields[4], true, principal))
        return fail(row.number, "principal energy \"" + row.fields[4] + "\" is not a number");
      assign(current.nuclide.name, name);
      assign(current.nuclide.description, description);
      assign(current.nuclide.data_source, source);
      current.nuclide.half_life = static_cast<float>(half_life_to_minutes(half_life, unit[0]));
      if (!std::isfinite(current.nuclide.half_life) || !std::isfinite(static_cast<float>(principal)))
        return fail(row.number, "half-life or principal energy too large");
      current.nuclide.principal_energy = static_cast<float>(principal);
      open = true;
    } else if (kind == "line") {
      if (!open) return fail(row.number, "a line row before any nuclide row");
      if (row.fields.size() != 4) return fail(row.number, "a line row has 4 fields");
      double energy = 0, yield = 0, uncertainty = 0;
      if (!parse_number(row.fields[1], false, energy))
        return fail(row.number, "energy \"" + row.fields[1] + "\" is not a number");
      if (!parse_number(row.fields[2], false, yield))
        return fail(row.number, "yield \"" + row.fields[2] + "\" is not a number");
      if (!parse_number(row.fields[3], true, uncertainty))
        return fail(row.number, "uncertainty \"" + row.fields[3] + "\" is not a number");
      if (!std::isfinite(static_cast<float>(energy)) || !std::isfinite(static_cast<float>(yield)) ||
          !std::isfinite(static_cast<float>(uncertainty)))
        return fail(row.number, "energy, yield and uncertainty must be finite");
      if (yield < 0 || uncertainty < 0)
        return fail(row.number, "yield and uncertainty may not be negative");
      if (current.line_count >= kNuclideLineSlots)
        return fail(row.number, "more than 200 lines for one nuclide");
      int i = current.line_count++;
      current.energy[i] = static_cast<float>(energy);
      current.yield[i] = static_cast<float>(yield);
      current.uncertainty[i] = static_cast<float>(uncertainty);
    } else {
      return fail(row.number, "unknown row kind \"" + row.fields[0] + "\" (nuclide or line)");
    }
  }
  if (!close()) return 0;
  if (lib.nuclide_count == 0) {
    if (error) *error = "no nuclide rows";
    return 0;
  }
  return 1;
}

}  // namespace kestrim
