// TKA spectra: plain text, one number per line.
//   line 1       live time, s
//   line 2       real (true) time, s
//   each next    the count of the next channel, from channel 2
// Line k (from 0) is channel k: the MCA's channels 0 and 1 are replaced by
// the two times, exactly as the record keeps them. Blank lines at the end
// are ignored; any other line that is not a number makes the file
// malformed. There are no dates, calibration or sample fields.
//
// Files longer than the 4096 channels a spectrum uses (16384-channel MCAs
// write them) are compressed, not cut: adjacent channels are summed in
// pairs, as often as needed to fit (16384 -> 8192 -> 4096). Cutting would
// drop the upper three quarters of the energy range, where the peaks of
// the common sources lie; summing keeps every count, and a NaI peak (FWHM
// 7 % at 662 keV) spans a hundred or more of such fine channels, so four
// of them summed still leave it tens of channels wide. The file carries no
// energy calibration that would have to follow. File channels 0 and 1
// (the times) count as 0, and the compressed channels 0 and 1 take the
// times again. The record says so in its warnings.
#include <cmath>
#include <string>

#include "spectrum/dates.h"
#include "spectrum/readers/reader_support.h"
#include "spectrum/readers/readers.h"

namespace kestrim::readers {

namespace {
constexpr const char* kNotTka = "This is not a TKA spectrum (one number per line)";
// Beyond this many lines a file is not a spectrum (2^20 channels).
constexpr std::size_t kMaxTkaLines = 1u << 20;

// The numbers of the file, one per line, or false when a line is not one.
bool tka_numbers(const Bytes& b, std::vector<double>& values) {
  std::vector<std::string_view> lines = split_lines(b);
  while (!lines.empty() && trim(lines.back()).empty()) lines.pop_back();
  if (lines.size() < 3 || lines.size() > kMaxTkaLines) return false;
  values.clear();
  values.reserve(lines.size());
  for (std::string_view line : lines) {
    double v = 0;
    const std::string_view t = trim(line);
    if (t.empty() || !scan_double(t, v) || !std::isfinite(v) || v < 0) return false;
    values.push_back(v);
  }
  return true;
}
}  // namespace

int tka_compression(int channels) {
  int factor = 1;
  while ((channels + factor - 1) / factor > kMaxChannels) factor *= 2;
  return factor;
}

int read_tka(const Bytes& b, SpectrumRecord& rec, const ReaderOptions& options, Platform& ui) {
  (void)options;  // the file has no header fields or calibration to take or ignore
  std::vector<double> v;
  if (!tka_numbers(b, v)) {
    warn(ui, kNotTka);
    return -1;
  }
  ui.set_status("Reading TKA file");
  const DateTime now = now_date_time();
  rec.header.saved = now;
  rec.header.collected = now;
  rec.header.sampled = now;
  const int file_channels = static_cast<int>(v.size());
  const int factor = tka_compression(file_channels);
  const int channels = (file_channels + factor - 1) / factor;
  for (int k = 2; k < file_channels; ++k) rec.counts[k / factor] += static_cast<float>(v[k]);
  rec.header.live_time = static_cast<float>(v[0]);
  rec.header.true_time = static_cast<float>(v[1]);
  rec.counts[0] = rec.header.live_time;
  rec.counts[1] = rec.header.true_time;
  set_channel_count(rec, channels);
  if (factor > 1)
    rec.warnings.push_back("The file holds " + std::to_string(file_channels) + " channels; every " +
                           std::to_string(factor) + " adjacent channels were summed into one (" +
                           std::to_string(channels) + " channels)");
  return 1;
}

int probe_tka(const Bytes& b) {
  std::vector<double> v;
  if (!tka_numbers(b, v)) return 0;
  const int n = static_cast<int>(v.size());
  return (n + tka_compression(n) - 1) / tka_compression(n);
}

}  // namespace kestrim::readers
