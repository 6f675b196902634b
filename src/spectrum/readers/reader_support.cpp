#include "spectrum/readers/reader_support.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>

#include "platform/binio.h"
#include "platform/platform.h"

namespace kestrim::readers {

namespace {
constexpr std::size_t kCountRecordBytes = 1024;
constexpr int kChannelsPerRecord = 256;
// FWHM = 2.355 sigma for a Gaussian; the width calibration holds sigma.
constexpr double kFwhmPerSigma = 2.355;
}  // namespace

int probe_by_reading(SpectrumReader read, const Bytes& b) {
  SpectrumRecord scratch;
  ReaderOptions options;
  SilentPlatform silent;
  if (read(b, scratch, options, silent) < 0) return 0;
  return scratch.header.channels;
}

void warn(Platform& ui, const std::string& text) { ui.message_box(text, "", kMsgWarning, 0); }

bool take_file_calibration(const SpectrumRecord& rec, const ReaderOptions& options) {
  return rec.header.detector_file == 0 || options.use_file_energy_calibration;
}

bool read_count_records(const Bytes& b, std::size_t offset, int channels, CountKind kind,
                        SpectrumRecord& rec) {
  if (channels <= 0) return true;
  std::size_t records = (static_cast<std::size_t>(channels) + kChannelsPerRecord - 1) /
                        kChannelsPerRecord;
  if (!has(b, offset, records * kCountRecordBytes)) return false;
  int stored = std::min(channels, kMaxChannelsStored);
  const std::uint8_t* p = b.data() + offset;
  for (int i = 0; i < stored; ++i) {
    const std::uint8_t* q = p + 4 * static_cast<std::size_t>(i);
    rec.counts[i] = kind == CountKind::kInt32 ? static_cast<float>(bin::get_i32(q)) : bin::get_f32(q);
  }
  return true;
}

void set_channel_count(SpectrumRecord& rec, long channels) {
  if (channels > kMaxChannelsStored) {
    rec.warnings.push_back("The file holds " + std::to_string(channels) +
                           " channels; only the first " + std::to_string(kMaxChannelsStored) +
                           " are kept");
    channels = kMaxChannelsStored;
  }
  if (channels < 0) channels = 0;
  rec.header.channels = static_cast<std::int16_t>(channels);
}

std::array<double, 3> closest_quadratic(const std::vector<double>& k, long channels) {
  std::array<double, 3> q{k.size() > 0 ? k[0] : 0.0, k.size() > 1 ? k[1] : 0.0, k.size() > 2 ? k[2] : 0.0};
  if (k.size() <= 3 || channels < 4) return q;
  // Fit in t = x / n so that the normal equations stay well conditioned.
  const double n = static_cast<double>(channels - 1);
  double m[3][4] = {};
  for (long x = 0; x < channels; ++x) {
    double e = 0, p = 1;
    for (double c : k) {
      e += c * p;
      p *= static_cast<double>(x);
    }
    const double t = x / n;
    const double b[3] = {1, t, t * t};
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) m[i][j] += b[i] * b[j];
      m[i][3] += b[i] * e;
    }
  }
  for (int i = 0; i < 3; ++i)
    for (int r = i + 1; r < 3; ++r) {
      const double f = m[r][i] / m[i][i];
      for (int j = i; j < 4; ++j) m[r][j] -= f * m[i][j];
    }
  double a[3];
  for (int i = 2; i >= 0; --i) {
    double v = m[i][3];
    for (int j = i + 1; j < 3; ++j) v -= m[i][j] * a[j];
    a[i] = v / m[i][i];
  }
  return {a[0], a[1] / n, a[2] / (n * n)};
}

void set_energy_calibration(SpectrumRecord& rec, double c0, double c1, double c2, int terms,
                            const DateTime& when) {
  CalibrationRecord& cal = rec.calibration;
  cal.energy_terms = static_cast<float>(terms);
  cal.energy = {static_cast<float>(c0), static_cast<float>(c1), static_cast<float>(c2)};
  cal.energy_form = 0;
  cal.energy_date = {when.day, when.month, when.year};
  cal.energy_time = {when.hour, when.minute};
}

void set_width_from_fwhm(SpectrumRecord& rec, double w0, double w1, double w2, int terms) {
  CalibrationRecord& cal = rec.calibration;
  cal.width_terms = static_cast<float>(terms);
  cal.width = {static_cast<float>(w0 / kFwhmPerSigma), static_cast<float>(w1 / kFwhmPerSigma),
               static_cast<float>(w2 / kFwhmPerSigma)};
}

void detector_from_name(SpectrumRecord& rec, std::string_view name) {
  // "%c%c%c%d": three characters "DET" (any case) then a number.
  if (name.size() < 4 || !starts_with_ci(name, "DET")) return;
  long n = 0;
  if (scan_long(name.substr(3), n) && n >= 0 && n <= 32767)
    rec.header.detector = static_cast<std::int16_t>(n);
}

void set_collected_and_sampled(SpectrumRecord& rec, const DateTime& dt) {
  rec.header.collected = dt;
  rec.header.sampled = dt;
}

void set_title_text(SpectrumRecord& rec, std::string_view title) {
  std::string t(title.substr(0, std::min<std::size_t>(title.size(), 47)));
  while (!t.empty() && (t.back() == ' ' || t.back() == '\0')) t.pop_back();
  set_title(rec.header, t, "");
}

int month_from_name(std::string_view name) {
  static const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                        "jul", "aug", "sep", "oct", "nov", "dec"};
  if (name.size() < 3) return 0;
  for (int m = 0; m < 12; ++m)
    if (starts_with_ci(name, kMonths[m])) return m + 1;
  return 0;
}

int full_year(int year, char flag) {
  if (year >= 100) return year;
  if (flag == '1') return 2000 + year;
  if (flag == '0') return 1900 + year;
  return year < 70 ? 2000 + year : 1900 + year;
}

DateTime date_from_unix_seconds(long long seconds) {
  // Civil date from a day count (Gregorian calendar, era arithmetic).
  long long days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
  long long of_day = seconds - days * 86400;
  long long z = days + 719468;
  long long era = (z >= 0 ? z : z - 146096) / 146097;
  long long doe = z - era * 146097;
  long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long long y = yoe + era * 400;
  long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  long long mp = (5 * doy + 2) / 153;
  long long d = doy - (153 * mp + 2) / 5 + 1;
  long long m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
  DateTime dt;
  if (y < 1 || y > 9999) return dt;
  dt.day = static_cast<std::int16_t>(d);
  dt.month = static_cast<std::int16_t>(m);
  dt.year = static_cast<std::int16_t>(y);
  dt.hour = static_cast<std::int16_t>(of_day / 3600);
  dt.minute = static_cast<std::int16_t>((of_day / 60) % 60);
  return dt;
}

double dec_float(const std::uint8_t* p) {
  // Two little-endian 16-bit words: the first holds sign, excess-128
  // exponent and the top 7 fraction bits; the second the low 16 bits.
  // value = (0.1f)_2 * 2^(e-128) = (1 + f / 2^23) * 2^(e - 129).
  int sign = p[1] >> 7;
  int exponent = ((p[1] & 0x7f) << 1) | (p[0] >> 7);
  if (exponent == 0) return 0.0;
  std::uint32_t fraction = (static_cast<std::uint32_t>(p[0] & 0x7f) << 16) |
                           (static_cast<std::uint32_t>(p[3]) << 8) | p[2];
  double v = std::ldexp(1.0 + fraction / 8388608.0, exponent - 129);
  return sign ? -v : v;
}

void put_dec_float(std::uint8_t* p, double x) {
  std::memset(p, 0, 4);
  if (x == 0 || !std::isfinite(x)) return;
  int sign = x < 0;
  int e2 = 0;
  double m = std::frexp(std::fabs(x), &e2);  // x = m * 2^e2, m in [0.5, 1)
  int exponent = e2 + 128;
  if (exponent <= 0 || exponent > 255) return;
  auto fraction = static_cast<std::uint32_t>(std::lround((m * 2.0 - 1.0) * 8388608.0));
  if (fraction >= 8388608u) {  // rounding carried into the exponent
    fraction = 0;
    ++exponent;
  }
  p[0] = static_cast<std::uint8_t>(((exponent & 1) << 7) | ((fraction >> 16) & 0x7f));
  p[1] = static_cast<std::uint8_t>((sign << 7) | (exponent >> 1));
  p[2] = static_cast<std::uint8_t>(fraction & 0xff);
  p[3] = static_cast<std::uint8_t>((fraction >> 8) & 0xff);
}

std::vector<std::string_view> split_lines(const Bytes& b) {
  std::vector<std::string_view> lines;
  std::string_view all(reinterpret_cast<const char*>(b.data()), b.size());
  std::size_t start = 0;
  while (start < all.size()) {
    std::size_t end = all.find('\n', start);
    if (end == std::string_view::npos) end = all.size();
    std::string_view line = all.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && (std::isspace(static_cast<unsigned char>(s.back())) || s.back() == '\0'))
    s.remove_suffix(1);
  return s;
}

bool starts_with_ci(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(s[i])) !=
        std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

bool ends_with_ci(std::string_view s, std::string_view suffix) {
  if (s.size() < suffix.size()) return false;
  return starts_with_ci(s.substr(s.size() - suffix.size()), suffix);
}

bool scan_double(std::string_view s, double& out) {
  s = trim(s);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  double v = 0;
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || ptr == s.data() || !std::isfinite(v)) return false;
  out = v;
  return true;
}

bool scan_long(std::string_view s, long& out) {
  s = trim(s);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  long v = 0;
  auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || ptr == s.data()) return false;
  out = v;
  return true;
}

std::vector<std::string_view> split_fields(std::string_view s) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  auto sep = [](char c) { return c == ' ' || c == ',' || c == '\t' || c == '\r' || c == '\0'; };
  while (i < s.size()) {
    while (i < s.size() && sep(s[i])) ++i;
    std::size_t j = i;
    while (j < s.size() && !sep(s[j])) ++j;
    if (j > i) out.push_back(s.substr(i, j - i));
    i = j;
  }
  return out;
}

}  // namespace kestrim::readers
