#include "spectrum/readers/spe_blocks.h"

#include <cctype>

namespace kestrim::readers {

namespace {
// The "$DATA" block holds at most this many channels (the widest files
// written have 16384); more is a damaged header.
constexpr long kMaxSpeChannels = 65536;

bool is_key(std::string_view line) { return !line.empty() && line.front() == '$'; }

std::string_view key_of(std::string_view line) {
  line = trim(line);
  while (!line.empty() && (line.back() == ':' || line.back() == ' ')) line.remove_suffix(1);
  return line;
}

bool key_is(std::string_view key, std::string_view name) {
  return key.size() == name.size() && starts_with_ci(key, name);
}
}  // namespace

std::vector<SpeBlock> spe_blocks(const Bytes& b) {
  std::vector<SpeBlock> blocks;
  for (std::string_view line : split_lines(b)) {
    if (is_key(line)) {
      blocks.push_back({key_of(line), {}});
    } else if (!blocks.empty()) {
      blocks.back().lines.push_back(line);
    }
  }
  return blocks;
}

bool parse_spe_date(std::string_view text, DateTime& out) {
  text = trim(text);
  long part[5] = {0, 0, 0, 0, 0};
  int n = 0;
  std::size_t i = 0;
  char first_sep = 0;
  std::size_t first_len = 0;
  while (i < text.size() && n < 5) {
    std::size_t j = i;
    while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) ++j;
    if (j == i) break;
    if (!scan_long(text.substr(i, j - i), part[n])) return false;
    if (n == 0) first_len = j - i;
    ++n;
    if (j >= text.size()) break;
    if (n == 1) first_sep = text[j];
    i = j + 1;
    while (i < text.size() && text[i] == ' ') ++i;
  }
  if (n < 3) return false;
  long day, month, year;
  if (first_len == 4) {
    year = part[0], month = part[1], day = part[2];
  } else if (first_sep == '/') {
    month = part[0], day = part[1], year = part[2];
  } else {
    day = part[0], month = part[1], year = part[2];
  }
  if (year < 100) year = full_year(static_cast<int>(year), 0);
  if (month < 1 || month > 12 || day < 1 || day > days_in_month(static_cast<int>(month), static_cast<int>(year)) ||
      year > 9999)
    return false;
  out = DateTime{};
  out.day = static_cast<std::int16_t>(day);
  out.month = static_cast<std::int16_t>(month);
  out.year = static_cast<std::int16_t>(year);
  // A 12-hour time ends in "AM" or "PM": 12 AM is midnight, 1 PM is 13:00.
  bool pm = false, am = false;
  for (std::size_t k = 0; k + 1 < text.size(); ++k) {
    const char a = static_cast<char>(std::toupper(static_cast<unsigned char>(text[k])));
    const char m = static_cast<char>(std::toupper(static_cast<unsigned char>(text[k + 1])));
    if (m == 'M' && (a == 'P' || a == 'A')) (a == 'P' ? pm : am) = true;
  }
  if ((pm || am) && part[3] >= 1 && part[3] <= 12) part[3] = part[3] % 12 + (pm ? 12 : 0);
  if (n >= 5 && part[3] < 24 && part[4] < 60) {
    out.hour = static_cast<std::int16_t>(part[3]);
    out.minute = static_cast<std::int16_t>(part[4]);
  }
  return true;
}

bool read_standard_spe_block(const SpeBlock& block, SpectrumRecord& rec,
                             const ReaderOptions& options, int& channels_read, bool& have_title) {
  const auto& lines = block.lines;
  if (key_is(block.key, "$SPEC_ID") || key_is(block.key, "$SPEC_REM")) {
    // The identification line is the title; remarks give it only when no
    // identification came first.
    bool id = key_is(block.key, "$SPEC_ID");
    if (!options.ignore_header && !lines.empty() && (id || !have_title)) {
      set_title_text(rec, trim(lines[0]));
      have_title = true;
    }
    for (std::string_view line : lines) {
      line = trim(line);
      if (starts_with_ci(line, "DETDESC#")) rec.detector_description = std::string(trim(line.substr(8)));
      else if (starts_with_ci(line, "DET#")) {
        long det = 0;
        if (scan_long(line.substr(4), det) && det >= 0 && det < 32768)
          rec.header.detector = static_cast<std::int16_t>(det);
      }
    }
    return true;
  }
  if (key_is(block.key, "$DATE_MEA")) {
    DateTime dt;
    if (!lines.empty() && parse_spe_date(lines[0], dt)) set_collected_and_sampled(rec, dt);
    else rec.warnings.push_back("Measurement date not understood");
    return true;
  }
  if (key_is(block.key, "$MEAS_TIM")) {
    std::vector<std::string_view> f = lines.empty() ? std::vector<std::string_view>{} : split_fields(lines[0]);
    double live = 0, real = 0;
    if (f.size() >= 2 && scan_double(f[0], live) && scan_double(f[1], real)) {
      rec.header.live_time = static_cast<float>(live);
      rec.header.true_time = static_cast<float>(real);
    } else {
      rec.warnings.push_back("Measurement times not understood");
    }
    return true;
  }
  if (key_is(block.key, "$DATA")) {
    channels_read = -1;
    if (lines.empty()) return true;
    std::vector<std::string_view> f = split_fields(lines[0]);
    long first = 0, last = -1;
    if (f.size() < 2 || !scan_long(f[0], first) || !scan_long(f[1], last) || first < 0 || last < first ||
        last - first + 1 > kMaxSpeChannels)
      return true;
    long wanted = last - first + 1;
    long got = 0;
    for (std::size_t i = 1; i < lines.size() && got < wanted; ++i) {
      for (std::string_view field : split_fields(lines[i])) {
        double v = 0;
        if (!scan_double(field, v)) return true;
        long channel = first + got;
        if (channel < kMaxChannelsStored) rec.counts[channel] = static_cast<float>(v);
        if (++got == wanted) break;
      }
    }
    if (got < wanted) return true;
    channels_read = static_cast<int>(last + 1);
    return true;
  }
  if (key_is(block.key, "$MCA_CAL") || key_is(block.key, "$ENER_FIT")) {
    if (!take_file_calibration(rec, options)) return true;
    bool mca_cal = key_is(block.key, "$MCA_CAL");
    std::size_t at = mca_cal ? 1 : 0;
    if (lines.size() <= at) return true;
    double c[4] = {0, 0, 0, 0};
    int n = 0;
    for (std::string_view field : split_fields(lines[at])) {
      double v = 0;
      if (n >= 4 || !scan_double(field, v)) break;
      c[n++] = v;
    }
    if (n < 2 || c[1] == 0) {
      rec.warnings.push_back(std::string(block.key) + " holds no usable energy calibration");
      return true;
    }
    // $MCA_CAL is the fuller form; $ENER_FIT only fills a missing one.
    if (!mca_cal && rec.calibration.energy_terms != 0) return true;
    if (n > 3 && c[3] != 0) rec.warnings.push_back("Cubic energy term ignored");
    set_energy_calibration(rec, c[0], c[1], n >= 3 ? c[2] : 0.0, n >= 3 ? 3 : 2, rec.header.collected);
    return true;
  }
  return false;
}

}  // namespace kestrim::readers
