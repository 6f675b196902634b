#include "settings/defaults_text.h"
#include "platform/c_locale.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/binio.h"
#include "platform/files.h"
#include "settings/defaults_file.h"
#include "settings/parameters.h"

namespace kestrim {

namespace {

constexpr const char* kHeaderLine =
    "# Kestrim Defaults file (text form): one \"name = value\" per field.\n";
constexpr const char* kUserPasswordName = "user_password";
constexpr const char* kManagerPasswordName = "manager_password";
constexpr std::string_view kReservedPrefix = "reserved.";
constexpr const char* kChecksumName = "checksum";

// Bytes of the record that hold a field's value. An int16 sits in a 4-byte
// slot and a byte field in its own byte; the rest of such a slot is kept as
// reserved bytes.
int value_width(const ParamField& f) {
  switch (f.kind) {
    case ParamKind::I16: return 2;
    case ParamKind::U8: return 1;
    default: return f.size;
  }
}

// Which bytes of the record a field covers.
std::array<bool, kParametersSize> covered_bytes() {
  std::array<bool, kParametersSize> covered{};
  int count = 0;
  const ParamField* fields = parameter_fields(&count);
  for (int i = 0; i < count; ++i)
    for (int b = 0; b < value_width(fields[i]); ++b) covered[fields[i].offset + b] = true;
  return covered;
}

struct ByteRange {
  int offset;
  int size;
};

std::vector<ByteRange> reserved_ranges() {
  std::array<bool, kParametersSize> covered = covered_bytes();
  std::vector<ByteRange> out;
  for (int i = 0; i < kParametersSize;) {
    if (covered[i]) {
      ++i;
      continue;
    }
    int start = i;
    while (i < kParametersSize && !covered[i]) ++i;
    out.push_back({start, i - start});
  }
  return out;
}

// ---- Writing ----------------------------------------------------------------

const char kHex[] = "0123456789abcdef";

void append_quoted(std::string& out, const std::uint8_t* p, std::size_t n) {
  out += '"';
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char c = p[i];
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  out += '"';
}

void append_real(std::string& out, const std::uint8_t* p) {
  float f = bin::get_f32(p);
  int cls = std::fpclassify(f);
  if (cls == FP_NORMAL || cls == FP_ZERO) {
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, f, std::chars_format::general, 9);
    out.append(buf, r.ptr);
    return;
  }
  char buf[16];
  c_snprintf(buf, sizeof buf, "0x%08x", static_cast<unsigned>(bin::get_u32(p)));
  out += buf;
}

void append_value(std::string& out, const ParamField& f, const std::uint8_t* rec) {
  const std::uint8_t* p = rec + f.offset;
  switch (f.kind) {
    case ParamKind::I32: out += std::to_string(bin::get_i32(p)); break;
    case ParamKind::I16: out += std::to_string(bin::get_i16(p)); break;
    case ParamKind::U8: out += std::to_string(p[0]); break;
    case ParamKind::F32: append_real(out, p); break;
    case ParamKind::TXT:
    case ParamKind::TXU: {
      std::size_t n = static_cast<std::size_t>(f.size);
      while (n > 0 && p[n - 1] == 0) --n;
      append_quoted(out, p, n);
      break;
    }
  }
}

void append_reserved(std::string& out, const ByteRange& r, const std::uint8_t* rec) {
  bool any = false;
  for (int i = 0; i < r.size; ++i) any = any || rec[r.offset + i] != 0;
  if (!any) return;
  out += kReservedPrefix;
  out += std::to_string(r.offset);
  out += " =";
  for (int i = 0; i < r.size; ++i) {
    out += ' ';
    out += kHex[rec[r.offset + i] >> 4];
    out += kHex[rec[r.offset + i] & 15];
  }
  out += "  # reserved bytes, kept as read\n";
}

void append_password(std::string& out, const char* name, const std::string& plain) {
  if (plain.empty()) return;
  out += name;
  out += " = ";
  append_quoted(out, reinterpret_cast<const std::uint8_t*>(plain.data()), plain.size());
  out += "  # stored scrambled\n";
}

// ---- Reading ----------------------------------------------------------------

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

// The line without its comment: '#' outside a quoted text.
std::string_view strip_comment(std::string_view line) {
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (quoted && c == '\\') {
      ++i;
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == '#' && !quoted) {
      return line.substr(0, i);
    }
  }
  return line;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool parse_quoted(std::string_view v, std::string& out, std::string& problem) {
  if (v.size() < 2 || v.front() != '"' || v.back() != '"') {
    problem = "text must be in double quotes";
    return false;
  }
  out.clear();
  for (std::size_t i = 1; i + 1 < v.size(); ++i) {
    char c = v[i];
    if (c == '"') {
      problem = "unescaped '\"' inside the text";
      return false;
    }
    if (c != '\\') {
      out += c;
      continue;
    }
    if (i + 2 >= v.size()) {
      problem = "'\\' at the end of the text";
      return false;
    }
    char e = v[++i];
    if (e == '"' || e == '\\') {
      out += e;
    } else if (e == 'x' && i + 3 < v.size() && hex_digit(v[i + 1]) >= 0 &&
               hex_digit(v[i + 2]) >= 0) {
      out += static_cast<char>(hex_digit(v[i + 1]) * 16 + hex_digit(v[i + 2]));
      i += 2;
    } else {
      problem = "unknown escape in the text (use \\\", \\\\ or \\xHH)";
      return false;
    }
  }
  return true;
}

bool parse_integer(std::string_view v, long long lo, long long hi, long long& out,
                   std::string& problem) {
  long long n = 0;
  auto r = std::from_chars(v.data(), v.data() + v.size(), n);
  if (v.empty() || r.ec == std::errc::invalid_argument || r.ptr != v.data() + v.size()) {
    problem = "not an integer: \"" + std::string(v) + "\"";
    return false;
  }
  if (r.ec == std::errc::result_out_of_range || n < lo || n > hi) {
    problem = "integer " + std::string(v) + " outside " + std::to_string(lo) + " to " +
              std::to_string(hi);
    return false;
  }
  out = n;
  return true;
}

bool parse_real(std::string_view v, std::uint8_t* p, std::string& problem) {
  if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X')) {
    std::string_view digits = v.substr(2);
    std::uint32_t bits = 0;
    auto r = std::from_chars(digits.data(), digits.data() + digits.size(), bits, 16);
    if (digits.size() > 8 || r.ec != std::errc() || r.ptr != digits.data() + digits.size()) {
      problem = "not a 32-bit pattern: \"" + std::string(v) + "\"";
      return false;
    }
    bin::put_u32(p, bits);
    return true;
  }
  float f = 0;
  auto r = std::from_chars(v.data(), v.data() + v.size(), f, std::chars_format::general);
  if (v.empty() || r.ec == std::errc::invalid_argument || r.ptr != v.data() + v.size()) {
    problem = "not a real number: \"" + std::string(v) + "\"";
    return false;
  }
  if (r.ec == std::errc::result_out_of_range || !std::isfinite(f)) {
    problem = "real number " + std::string(v) + " out of range for 32 bits";
    return false;
  }
  bin::put_f32(p, f);
  return true;
}

bool parse_field(const ParamField& f, std::string_view v, std::uint8_t* rec,
                 std::string& problem) {
  std::uint8_t* p = rec + f.offset;
  long long n = 0;
  switch (f.kind) {
    case ParamKind::I32:
      if (!parse_integer(v, std::numeric_limits<std::int32_t>::min(),
                         std::numeric_limits<std::int32_t>::max(), n, problem))
        return false;
      bin::put_i32(p, static_cast<std::int32_t>(n));
      return true;
    case ParamKind::I16:
      if (!parse_integer(v, -32768, 32767, n, problem)) return false;
      bin::put_i16(p, static_cast<std::int16_t>(n));
      return true;
    case ParamKind::U8:
      if (!parse_integer(v, 0, 255, n, problem)) return false;
      p[0] = static_cast<std::uint8_t>(n);
      return true;
    case ParamKind::F32:
      return parse_real(v, p, problem);
    case ParamKind::TXT:
    case ParamKind::TXU: {
      std::string s;
      if (!parse_quoted(v, s, problem)) return false;
      if (s.size() > static_cast<std::size_t>(f.size)) {
        problem = "text of " + std::to_string(s.size()) + " bytes does not fit the " +
                  std::to_string(f.size) + "-byte field";
        return false;
      }
      std::memset(p, 0, static_cast<std::size_t>(f.size));
      std::memcpy(p, s.data(), s.size());
      return true;
    }
  }
  return false;
}

bool parse_reserved(std::string_view name, std::string_view v, std::uint8_t* rec,
                    std::string& problem) {
  std::string_view digits = name.substr(kReservedPrefix.size());
  int offset = -1;
  auto r = std::from_chars(digits.data(), digits.data() + digits.size(), offset);
  if (digits.empty() || r.ec != std::errc() || r.ptr != digits.data() + digits.size()) {
    problem = "bad reserved offset \"" + std::string(digits) + "\"";
    return false;
  }
  std::vector<std::uint8_t> bytes;
  std::size_t i = 0;
  while (i < v.size()) {
    if (v[i] == ' ' || v[i] == '\t') {
      ++i;
      continue;
    }
    if (i + 1 >= v.size() || hex_digit(v[i]) < 0 || hex_digit(v[i + 1]) < 0 ||
        (i + 2 < v.size() && v[i + 2] != ' ' && v[i + 2] != '\t')) {
      problem = "reserved bytes must be two-digit hex numbers separated by blanks";
      return false;
    }
    bytes.push_back(static_cast<std::uint8_t>(hex_digit(v[i]) * 16 + hex_digit(v[i + 1])));
    i += 2;
  }
  if (bytes.empty()) {
    problem = "no reserved bytes given";
    return false;
  }
  static const std::array<bool, kParametersSize> covered = covered_bytes();
  if (offset < 0 || offset + static_cast<long long>(bytes.size()) > kParametersSize) {
    problem = "reserved bytes outside the record";
    return false;
  }
  for (std::size_t k = 0; k < bytes.size(); ++k) {
    if (covered[offset + k]) {
      problem = "byte " + std::to_string(offset + k) + " belongs to a field, not a reserved range";
      return false;
    }
  }
  std::memcpy(rec + offset, bytes.data(), bytes.size());
  return true;
}

}  // namespace

std::string defaults_to_text(const std::vector<std::uint8_t>& bytes) {
  DefaultsFileImage image;
  if (parse_defaults_file(bytes.data(), bytes.size(), image) != kDefaultsParsedOk) return {};
  const std::uint8_t* rec = bytes.data();

  std::string out = kHeaderLine;
  std::vector<ByteRange> reserved = reserved_ranges();
  std::size_t next_reserved = 0;
  int count = 0;
  const ParamField* fields = parameter_fields(&count);
  for (int i = 0; i < count; ++i) {
    const ParamField& f = fields[i];
    while (next_reserved < reserved.size() && reserved[next_reserved].offset < f.offset)
      append_reserved(out, reserved[next_reserved++], rec);
    out += f.name;
    out += " = ";
    append_value(out, f, rec);
    out += "  # ";
    out += f.description;
    out += '\n';
  }
  while (next_reserved < reserved.size()) append_reserved(out, reserved[next_reserved++], rec);
  append_password(out, kUserPasswordName, image.passwords.user);
  append_password(out, kManagerPasswordName, image.passwords.manager);
  return out;
}

bool defaults_from_text(std::string_view text, std::vector<std::uint8_t>& bytes,
                        std::string& error) {
  bytes.clear();
  std::vector<std::uint8_t> rec(kParametersSize, 0);
  encode_parameters(make_initial_parameters(), rec.data());
  Passwords passwords;
  std::vector<std::string> seen;

  int line_number = 0;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    ++line_number;

    auto fail = [&](const std::string& problem) {
      error = "line " + std::to_string(line_number) + ": " + problem;
      return false;
    };

    line = trim(strip_comment(line));
    if (line.empty()) continue;
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return fail("expected \"name = value\"");
    std::string_view name = trim(line.substr(0, eq));
    std::string_view value = trim(line.substr(eq + 1));
    if (name.empty()) return fail("expected \"name = value\"");
    if (value.empty()) return fail(std::string(name) + ": no value");

    std::string key = to_lower(name);
    for (const std::string& s : seen)
      if (s == key) return fail(std::string(name) + " is given twice");
    seen.push_back(key);

    std::string problem;
    if (key == kUserPasswordName || key == kManagerPasswordName) {
      std::string plain;
      if (!parse_quoted(value, plain, problem)) return fail(std::string(name) + ": " + problem);
      if (plain.size() > 15) return fail(std::string(name) + ": at most 15 characters");
      // Code 200 would be stored as 200 + 56 = 0 (mod 256), the end mark.
      if (plain.find('\xc8') != std::string::npos)
        return fail(std::string(name) + ": character \\xc8 cannot be stored");
      (key == kUserPasswordName ? passwords.user : passwords.manager) = plain;
    } else if (key.compare(0, kReservedPrefix.size(), kReservedPrefix) == 0) {
      if (!parse_reserved(key, value, rec.data(), problem))
        return fail(std::string(name) + ": " + problem);
    } else if (const ParamField* f = find_parameter_field(key)) {
      if (!parse_field(*f, value, rec.data(), problem))
        return fail(std::string(name) + ": " + problem);
    } else {
      return fail("unknown name \"" + std::string(name) + "\"");
    }
  }

  // An empty text would give a file of nothing but the initial values.
  if (seen.empty()) {
    error = "no settings in the text";
    return false;
  }
  bin::put_i32(rec.data() + find_parameter_field(kChecksumName)->offset,
               compute_checksum(rec.data()));
  AnalysisParameters p;
  decode_parameters(rec.data(), p);
  bytes = build_defaults_file(p, &passwords);
  return true;
}

}  // namespace kestrim
