// Fieldspec ".spc" text spectra (type 12). Keyword lines "Key: value" (the
// value after the first colon):
//   SpectrumName   title
//   Realtime       true time, s ("%f")
//   Livetime       live time, s ("%f")
//   Starttime      date and time of the measurement
// then one count per line ("%f") to the end of the file. At most
// 16384 counts are taken (the widest spectra written).
#include <cctype>

#include "platform/platform.h"
#include "spectrum/readers/reader_support.h"
#include "spectrum/readers/readers.h"

namespace kestrim::readers {

namespace {
constexpr int kMaxFieldspecChannels = 16384;

std::string_view after_colon(std::string_view line) {
  std::size_t colon = line.find(':');
  return colon == std::string_view::npos ? std::string_view{} : line.substr(colon + 1);
}

bool parse_date_time(std::string_view text, DateTime& out) {
  text = trim(text);
  std::size_t blank = text.find_first_of(" T");
  int day = 0, month = 0, year = 0, hour = 0, minute = 0;
  if (!check_date(text.substr(0, blank), day, month, year).empty()) return false;
  out = DateTime{};
  out.day = static_cast<std::int16_t>(day);
  out.month = static_cast<std::int16_t>(month);
  out.year = static_cast<std::int16_t>(year);
  if (blank != std::string_view::npos &&
      check_time(trim(text.substr(blank + 1)).substr(0, 5), hour, minute).empty()) {
    out.hour = static_cast<std::int16_t>(hour);
    out.minute = static_cast<std::int16_t>(minute);
  }
  return true;
}
}  // namespace

int probe_fieldspec(const Bytes& b) { return probe_by_reading(read_fieldspec, b); }

int read_fieldspec(const Bytes& b, SpectrumRecord& rec, const ReaderOptions& options, Platform& ui) {
  int channels = 0;
  for (std::string_view line : split_lines(b)) {
    std::string_view t = trim(line);
    if (t.empty()) continue;
    double v = 0;
    if (std::isdigit(static_cast<unsigned char>(t.front())) || t.front() == '-' || t.front() == '.') {
      if (!scan_double(t, v)) continue;
      if (channels >= kMaxFieldspecChannels) {
        rec.warnings.push_back("Counts beyond channel 16384 ignored");
        break;
      }
      if (channels < kMaxChannelsStored) rec.counts[channels] = static_cast<float>(v);
      ++channels;
      continue;
    }
    if (channels > 0) continue;  // keywords only precede the counts
    std::string_view value = after_colon(t);
    if (starts_with_ci(t, "SpectrumName")) {
      if (!options.ignore_header) set_title_text(rec, trim(value));
    } else if (starts_with_ci(t, "Realtime")) {
      if (scan_double(value, v)) rec.header.true_time = static_cast<float>(v);
    } else if (starts_with_ci(t, "Livetime")) {
      if (scan_double(value, v)) rec.header.live_time = static_cast<float>(v);
    } else if (starts_with_ci(t, "Starttime")) {
      DateTime dt;
      if (parse_date_time(value, dt)) set_collected_and_sampled(rec, dt);
      else rec.warnings.push_back("Start time not understood");
    }
  }
  if (channels == 0) {
    warn(ui, "Did not find channel data");
    return -1;
  }
  set_channel_count(rec, channels);
  return 1;
}

}  // namespace kestrim::readers
