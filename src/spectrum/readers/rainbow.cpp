// Rainbow ".spc" text spectra (type 9). Header lines "Key: value" (the
// value starts two characters after the first colon):
//   Length       number of channels ("%d")
//   Comment      title
//   Realtime     true time, s;  Lifetime  live time, s
//   Starttime    date, a blank, time (collection and sample date and time)
//   CalibCoeff   "c=" constant, "b=" linear, "a=" quadratic energy terms;
//                the order is the number of the last coefficient found
// The first line that begins with a digit ends the header and is not used;
// the following lines are counts by the Text File rules, 8 per line.
#include <cctype>

#include "platform/platform.h"
#include "spectrum/readers/reader_support.h"
#include "spectrum/readers/readers.h"

namespace kestrim::readers {

namespace {
constexpr int kRainbowPerLine = 8;

std::string_view value_after_colon(std::string_view line) {
  std::size_t colon = line.find(':');
  if (colon == std::string_view::npos || colon + 2 > line.size()) return {};
  return line.substr(colon + 2);
}

bool read_coefficient(std::string_view text, std::string_view name, double& out) {
  std::size_t at = text.find(name);
  return at != std::string_view::npos && scan_double(text.substr(at + name.size()), out);
}

bool parse_date_time(std::string_view text, DateTime& out) {
  text = trim(text);
  std::size_t blank = text.find(' ');
  int day = 0, month = 0, year = 0, hour = 0, minute = 0;
  if (!check_date(text.substr(0, blank), day, month, year).empty()) return false;
  out = DateTime{};
  out.day = static_cast<std::int16_t>(day);
  out.month = static_cast<std::int16_t>(month);
  out.year = static_cast<std::int16_t>(year);
  if (blank != std::string_view::npos && check_time(trim(text.substr(blank)).substr(0, 5), hour, minute).empty()) {
    out.hour = static_cast<std::int16_t>(hour);
    out.minute = static_cast<std::int16_t>(minute);
  }
  return true;
}
}  // namespace

int probe_rainbow(const Bytes& b) { return probe_by_reading(read_rainbow, b); }

int read_rainbow(const Bytes& b, SpectrumRecord& rec, const ReaderOptions& options, Platform& ui) {
  std::vector<std::string_view> lines = split_lines(b);
  long length = -1;
  std::size_t data = lines.size();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    if (!line.empty() && std::isdigit(static_cast<unsigned char>(line.front()))) {
      data = i + 1;
      break;
    }
    std::string_view value = value_after_colon(line);
    double v = 0;
    if (starts_with_ci(line, "Length")) {
      if (!scan_long(value, length)) length = -1;
    } else if (starts_with_ci(line, "Comment")) {
      if (!options.ignore_header) set_title_text(rec, trim(value));
    } else if (starts_with_ci(line, "Realtime")) {
      if (scan_double(value, v)) rec.header.true_time = static_cast<float>(v);
    } else if (starts_with_ci(line, "Lifetime")) {
      if (scan_double(value, v)) rec.header.live_time = static_cast<float>(v);
    } else if (starts_with_ci(line, "Starttime")) {
      DateTime dt;
      if (parse_date_time(value, dt)) set_collected_and_sampled(rec, dt);
      else rec.warnings.push_back("Start time not understood");
    } else if (starts_with_ci(line, "CalibCoeff") && take_file_calibration(rec, options)) {
      double c = 0, bcoef = 0, a = 0;
      int terms = 0;
      if (read_coefficient(value, "c=", c)) terms = 1;
      if (read_coefficient(value, "b=", bcoef)) terms = 2;
      if (read_coefficient(value, "a=", a)) terms = 3;
      if (terms >= 2 && bcoef != 0)
        set_energy_calibration(rec, c, bcoef, terms == 3 ? a : 0.0, terms, rec.header.collected);
    }
  }
  if (length < 0) {
    warn(ui, "Did not read number of channels");
    return -1;
  }
  int channels = read_text_counts(lines, data, kRainbowPerLine, rec, ui);
  if (channels < 0) return -1;
  if (channels == 0) {
    warn(ui, "Did not find channel data");
    return -1;
  }
  if (length > channels) {
    rec.warnings.push_back("Length " + std::to_string(length) + " but only " + std::to_string(channels) +
                           " channels in the file");
    length = channels;
  }
  set_channel_count(rec, length);
  return 1;
}

}  // namespace kestrim::readers
