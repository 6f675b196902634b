#include "settings/calibration_text.h"
#include "platform/c_locale.h"

#include <cctype>
#include <cmath>
#include <locale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "platform/binio.h"
#include "spectrum/calibration_record.h"

namespace kestrim {

namespace {

constexpr int kSection = kCalibrationRecordSize;
constexpr int kMinSections = 50;
constexpr int kMaxGeometry = 1000;

enum class Kind { F32, F64, I16, I32, Text, Bytes };

struct Field {
  const char* name;
  int offset;
  Kind kind;
  int count;  // values (numbers), or bytes (text and raw bytes)
};

// Every field of the calibration record, in offset order.
const Field kFields[] = {
    {"energy_terms", cal_offset::kEnergyTerms, Kind::F32, 1},
    {"energy", cal_offset::kEnergyCoeffs, Kind::F32, 3},
    {"width_terms", cal_offset::kWidthTerms, Kind::F32, 1},
    {"width", cal_offset::kWidthCoeffs, Kind::F32, 3},
    {"low_tail_terms", cal_offset::kLowTailTerms, Kind::F32, 1},
    {"low_tail", cal_offset::kLowTailCoeffs, Kind::F32, 3},
    {"high_tail_terms", cal_offset::kHighTailTerms, Kind::F32, 1},
    {"high_tail", cal_offset::kHighTailCoeffs, Kind::F32, 3},
    {"shape_extra", cal_offset::kShapeExtra, Kind::Bytes, 8},
    {"energy_count", cal_offset::kEnergyCount, Kind::F32, 1},
    {"energies", cal_offset::kEnergies, Kind::F32, kMaxCalibrationEnergies},
    {"energy_date", cal_offset::kEnergyDate, Kind::I16, 3},
    {"energy_form", cal_offset::kEnergyForm, Kind::I16, 1},
    {"energy_time", cal_offset::kEnergyTime, Kind::I16, 2},
    {"crossover", cal_offset::kCrossover, Kind::F32, 1},
    {"low_eff_terms", cal_offset::kLowEffTerms, Kind::F32, 1},
    {"low_eff", cal_offset::kLowEffCoeffs, Kind::F32, 5},
    {"high_eff_terms", cal_offset::kHighEffTerms, Kind::F32, 1},
    {"high_eff", cal_offset::kHighEffCoeffs, Kind::F32, 6},
    {"variance", cal_offset::kVariance, Kind::F64, 20},
    {"efficiency_date", cal_offset::kEfficiencyDate, Kind::I16, 3},
    {"inverse_form", cal_offset::kInverseForm, Kind::I16, 1},
    {"efficiency_time", cal_offset::kEfficiencyTime, Kind::I16, 2},
    {"geometry_text", cal_offset::kGeometryText, Kind::Text, 40},
    {"sample_size", cal_offset::kSampleSize, Kind::F32, 1},
    {"sample_units", cal_offset::kSampleUnits, Kind::Text, 4},
    {"background_name", cal_offset::kBackgroundName, Kind::Text, 12},
    {"shape_date", cal_offset::kShapeDate, Kind::I16, 3},
    {"reserved_482", cal_offset::kReserved482, Kind::I16, 1},
    {"shape_time", cal_offset::kShapeTime, Kind::I16, 2},
    {"energy_extra", cal_offset::kEnergyExtra, Kind::Bytes, 12},
    {"efficiency_max", cal_offset::kEfficiencyMax, Kind::F32, 1},
    {"uncertainty", cal_offset::kUncertainty, Kind::F32, 1},
    {"variance_stored", cal_offset::kVarianceStored, Kind::I32, 1},
};

std::string real_text(double v, bool single) {
  char buf[64];
  c_snprintf(buf, sizeof buf, single ? "%.9g" : "%.17g", v);
  return buf;
}

std::string quote(const std::uint8_t* p, int n) {
  std::string out = "\"";
  int len = 0;
  while (len < n && p[len] != 0) ++len;
  for (int i = 0; i < len; ++i) {
    unsigned char c = p[i];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 32 || c >= 127) {
      char buf[8];
      c_snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

bool section_is_zero(const std::uint8_t* p) {
  for (int i = 0; i < kSection; ++i)
    if (p[i] != 0) return false;
  return true;
}

void dump_section(const std::uint8_t* s, int geometry, std::string& out) {
  out += "[geometry " + std::to_string(geometry) + "]\n";
  for (const Field& f : kFields) {
    const std::uint8_t* p = s + f.offset;
    std::string value;
    switch (f.kind) {
      case Kind::Text:
        value = quote(p, f.count);
        break;
      case Kind::Bytes:
        for (int i = 0; i < f.count; ++i) {
          char buf[4];
          c_snprintf(buf, sizeof buf, "%02x", p[i]);
          value += (i ? " " : "") + std::string(buf);
        }
        break;
      default:
        for (int i = 0; i < f.count; ++i) {
          std::string v;
          if (f.kind == Kind::F32) v = real_text(bin::get_f32(p + 4 * i), true);
          if (f.kind == Kind::F64) v = real_text(bin::get_f64(p + 8 * i), false);
          if (f.kind == Kind::I16) v = std::to_string(bin::get_i16(p + 2 * i));
          if (f.kind == Kind::I32) v = std::to_string(bin::get_i32(p + 4 * i));
          value += (i ? " " : "") + v;
        }
        break;
    }
    out += std::string(f.name) + " = " + value + "\n";
  }
  out += "\n";
}

std::string trim(const std::string& s) {
  std::size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos) return {};
  std::size_t b = s.find_last_not_of(" \t\r");
  return s.substr(a, b - a + 1);
}

// Parses a quoted text with \" \\ and \xHH escapes.
bool parse_quoted(const std::string& v, std::string& out) {
  if (v.size() < 2 || v.front() != '"' || v.back() != '"') return false;
  for (std::size_t i = 1; i + 1 < v.size(); ++i) {
    char c = v[i];
    if (c != '\\') {
      out += c;
      continue;
    }
    if (i + 2 >= v.size()) return false;
    char e = v[++i];
    if (e == '"' || e == '\\') {
      out += e;
    } else if (e == 'x' && i + 2 < v.size() - 1 && std::isxdigit(static_cast<unsigned char>(v[i + 1])) &&
               std::isxdigit(static_cast<unsigned char>(v[i + 2]))) {
      // Exactly two hexadecimal digits; "\xZZ" is refused, never a NUL.
      out += static_cast<char>(std::strtol(v.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      return false;
    }
  }
  return true;
}

bool parse_number(const std::string& t, double& v) {
  char* end = nullptr;
  v = c_strtod(t.c_str(), &end);
  return end != t.c_str() && *end == 0 && std::isfinite(v);
}

}  // namespace

std::string detector_file_to_text(const std::vector<std::uint8_t>& file, int geometry) {
  std::string out;
  const int sections = static_cast<int>(file.size() / kSection);
  out += "# Detector file, " + std::to_string(sections) + " sections of 512 bytes\n\n";
  for (int g = 1; g <= sections; ++g) {
    const std::uint8_t* s = file.data() + static_cast<std::size_t>(g - 1) * kSection;
    if (geometry > 0 ? g != geometry : section_is_zero(s)) continue;
    dump_section(s, g, out);
  }
  return out;
}

bool detector_file_from_text(const std::string& text, std::vector<std::uint8_t>& file,
                             std::string& error) {
  file.assign(static_cast<std::size_t>(kMinSections) * kSection, 0);
  std::istringstream in(text);
  std::string raw;
  int line_no = 0;
  int geometry = 0;
  int fields = 0;
  auto fail = [&](const std::string& why) {
    error = "line " + std::to_string(line_no) + ": " + why;
    return false;
  };
  while (std::getline(in, raw)) {
    ++line_no;
    std::string line = trim(raw);
    if (line.empty() || line[0] == '#') continue;
    if (line.front() == '[') {
      int g = 0;
      if (c_sscanf(line.c_str(), "[geometry %d]", &g) != 1 || g < 1 || g > kMaxGeometry)
        return fail("expected [geometry N] with N from 1 to 1000");
      geometry = g;
      if (file.size() < static_cast<std::size_t>(g) * kSection)
        file.resize(static_cast<std::size_t>(g) * kSection, 0);
      continue;
    }
    if (geometry == 0) return fail("a field before the first [geometry N]");
    auto eq = line.find('=');
    if (eq == std::string::npos) return fail("expected name = value");
    const std::string name = trim(line.substr(0, eq));
    const std::string value = trim(line.substr(eq + 1));
    const Field* field = nullptr;
    for (const Field& f : kFields)
      if (name == f.name) field = &f;
    if (!field) return fail("unknown field '" + name + "'");
    ++fields;
    std::uint8_t* p = file.data() + static_cast<std::size_t>(geometry - 1) * kSection + field->offset;
    if (field->kind == Kind::Text) {
      std::string s;
      if (!parse_quoted(value, s)) return fail("expected a text in double quotes");
      if (static_cast<int>(s.size()) > field->count) return fail("text longer than the field");
      std::memset(p, 0, static_cast<std::size_t>(field->count));
      std::memcpy(p, s.data(), s.size());
      continue;
    }
    std::istringstream values(value);
    values.imbue(std::locale::classic());
    std::string item;
    int i = 0;
    while (values >> item) {
      if (i >= field->count) return fail("too many values for '" + name + "'");
      if (field->kind == Kind::Bytes) {
        char* end = nullptr;
        long b = std::strtol(item.c_str(), &end, 16);
        if (*end != 0 || b < 0 || b > 255) return fail("expected hexadecimal bytes");
        p[i] = static_cast<std::uint8_t>(b);
      } else {
        double v = 0;
        if (!parse_number(item, v)) return fail("'" + item + "' is not a number");
        switch (field->kind) {
          case Kind::F32: bin::put_f32(p + 4 * i, static_cast<float>(v)); break;
          case Kind::F64: bin::put_f64(p + 8 * i, v); break;
          case Kind::I16:
            if (v != std::floor(v) || v < -32768 || v > 32767) return fail("expected a 16-bit integer");
            bin::put_i16(p + 2 * i, static_cast<std::int16_t>(v));
            break;
          case Kind::I32:
            if (v != std::floor(v) || std::fabs(v) > 2147483647.0) return fail("expected an integer");
            bin::put_i32(p + 4 * i, static_cast<std::int32_t>(v));
            break;
          default:
            break;
        }
      }
      ++i;
    }
    // Values left out at the end of a list are zero.
    if (i == 0) return fail("'" + name + "' needs a value");
  }
  // An empty text would make a file of zeros: no calibration at all.
  if (fields == 0) {
    error = "no calibration fields in the text";
    return false;
  }
  return true;
}

}  // namespace kestrim
