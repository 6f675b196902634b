// Text spectra (type 5): numbers per line.
//   lines 1..H       header lines, skipped (H = "header lines" parameter)
//   each next line   at least 2 characters counting its line end (an empty
//                    line ends the data); the
//                    numbers, separated by blanks, commas or tabs, give the
//                    next P channels (P = "channels per line"); a line with
//                    more than P numbers starts with a channel number,
//                    which is skipped
// Lines are cut at 127 characters. At most 4096 channels are read. When
// channel 0 is above 0, channels 0 and 1 are the live and true time.
// Numbers are read as reals (a whole number reads the same as with "%ld",
// and the times of files such as TKA exports keep their decimals).
#include "platform/platform.h"
#include "spectrum/readers/reader_support.h"
#include "spectrum/readers/readers.h"

namespace kestrim::readers {

namespace {
constexpr std::size_t kMaxLine = 127;
constexpr int kMaxTextChannels = 4096;
}  // namespace

int read_text_counts(const std::vector<std::string_view>& lines, std::size_t first, int per_line,
                     SpectrumRecord& rec, Platform& ui) {
  int channel = 0;
  bool first_line = true;
  for (std::size_t i = first; i < lines.size(); ++i) {
    std::string_view line = lines[i].substr(0, kMaxLine);
    // An empty line (shorter than 2 characters with its line end) ends the data.
    if (line.empty()) break;
    std::vector<double> numbers;
    for (std::string_view field : split_fields(line)) {
      double v = 0;
      if (!scan_double(field, v)) break;
      numbers.push_back(v);
    }
    if (first_line && static_cast<int>(numbers.size()) < per_line) {
      warn(ui, "Only read " + std::to_string(numbers.size()) + " channels per line");
      return -1;
    }
    first_line = false;
    std::size_t skip = static_cast<int>(numbers.size()) > per_line ? 1 : 0;
    for (std::size_t k = skip; k < numbers.size() && k < skip + per_line; ++k) {
      if (channel >= kMaxTextChannels) {
        warn(ui, "Can only read 4096 channels");
        return -1;
      }
      rec.counts[channel++] = static_cast<float>(numbers[k]);
    }
  }
  return channel;
}

int read_text(const Bytes& b, SpectrumRecord& rec, const ReaderOptions& options, Platform& ui) {
  if (options.text_channels_per_line <= 0) {
    warn(ui, "The channels per line is set to 0");
    return -1;
  }
  ui.set_status("Reading Text file");
  DateTime now = now_date_time();
  rec.header.saved = now;
  rec.header.collected = now;
  rec.header.sampled = now;
  std::vector<std::string_view> lines = split_lines(b);
  std::size_t first = options.text_header_lines > 0 ? static_cast<std::size_t>(options.text_header_lines) : 0;
  int channels = read_text_counts(lines, first, options.text_channels_per_line, rec, ui);
  if (channels < 0) return -1;
  set_channel_count(rec, channels);
  if (rec.counts[0] > 0) {
    rec.header.live_time = rec.counts[0];
    rec.header.true_time = rec.counts[1];
  }
  return 1;
}

}  // namespace kestrim::readers
