#include "acquisition/gain_correction.h"

#include <dlfcn.h>

#include <cmath>
#include <cstdio>

#include "platform/binio.h"
#include "platform/c_format.h"
#include "platform/c_locale.h"
#include "platform/files.h"
#include "platform/linear_solver.h"
#include "platform/platform.h"

namespace kestrim {

namespace {

// The logger library's calls.
using OpenUnitFn = short (*)(short unit);
using SetChannelFn = short (*)(short unit, short channel, short type, short filter);
using GetTempFn = short (*)(std::int32_t* hundredths, short unit, short channel, short filtered);
using CloseUnitFn = short (*)(short unit);

int round_half_up(double v) { return static_cast<int>(std::floor(v + 0.5)); }

}  // namespace

std::vector<std::uint8_t> encode_temp_corr(const TempCorrRecord& r) {
  std::vector<std::uint8_t> b(kTempCorrBytes, 0);
  for (int i = 0; i < kMaxTempPoints; ++i) {
    bin::put_f32(b.data() + 4 * i, r.temperatures[static_cast<std::size_t>(i)]);
    bin::put_f32(b.data() + 200 + 4 * i, r.channels[static_cast<std::size_t>(i)]);
  }
  for (int i = 0; i < 3; ++i) bin::put_f32(b.data() + 400 + 4 * i, r.coefficients[static_cast<std::size_t>(i)]);
  bin::put_f32(b.data() + 412, r.current_temperature);
  bin::put_f32(b.data() + 416, r.reference_temperature);
  bin::put_i16(b.data() + 420, r.unit);
  bin::put_i32(b.data() + 424, r.coefficient_count);
  bin::put_i32(b.data() + 428, r.points);
  bin::put_i32(b.data() + 432, r.logger_open);
  bin::put_i32(b.data() + 436, r.enabled);
  bin::put_f32(b.data() + 440, r.start_temperature);
  return b;
}

bool decode_temp_corr(const std::vector<std::uint8_t>& b, TempCorrRecord& r) {
  if (b.size() != static_cast<std::size_t>(kTempCorrBytes)) return false;
  for (int i = 0; i < kMaxTempPoints; ++i) {
    r.temperatures[static_cast<std::size_t>(i)] = bin::get_f32(b.data() + 4 * i);
    r.channels[static_cast<std::size_t>(i)] = bin::get_f32(b.data() + 200 + 4 * i);
  }
  for (int i = 0; i < 3; ++i) r.coefficients[static_cast<std::size_t>(i)] = bin::get_f32(b.data() + 400 + 4 * i);
  r.current_temperature = bin::get_f32(b.data() + 412);
  r.reference_temperature = bin::get_f32(b.data() + 416);
  r.unit = bin::get_i16(b.data() + 420);
  r.coefficient_count = bin::get_i32(b.data() + 424);
  r.points = bin::get_i32(b.data() + 428);
  if (r.points < 0) r.points = 0;
  if (r.points > kMaxTempPoints) r.points = kMaxTempPoints;
  r.logger_open = bin::get_i32(b.data() + 432);
  r.enabled = bin::get_i32(b.data() + 436);
  r.start_temperature = bin::get_f32(b.data() + 440);
  return true;
}

int read_temp_corr(Platform& ui, const std::string& dir, TempCorrRecord& r) {
  std::vector<std::uint8_t> bytes;
  if (!read_file(join_path(dir, kTempCorrName), bytes) || !decode_temp_corr(bytes, r)) {
    ui.message_box("Could not open Temperature Correction data file TempCorr.dat", {}, kMsgError);
    return 0;
  }
  return 1;
}

int write_temp_corr(Platform& ui, const std::string& dir, const TempCorrRecord& r) {
  const std::string path = join_path(dir, kTempCorrName);
  if (!write_file_atomic(path, encode_temp_corr(r))) {
    ui.message_box("Error Creating:- " + path, {}, kMsgError);
    return 0;
  }
  return 1;
}

int read_temp_cal(Platform& ui, const std::string& path, TempCorrRecord& r) {
  std::vector<std::uint8_t> bytes;
  if (!read_file(path, bytes)) {
    ui.message_box("Could not open data file:- " + path, {}, kMsgError);
    return 0;
  }
  std::string text(bytes.begin(), bytes.end());
  for (char& ch : text)
    if (ch == '"') ch = ' ';
  r.points = 0;
  std::size_t at = text.find('\n');  // the header line
  at = at == std::string::npos ? text.size() : at + 1;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    float t = 0, ch = 0;
    char sep = 0;
    if (c_sscanf(line.c_str(), "%f %c %f", &t, &sep, &ch) != 3) continue;
    if (r.points >= kMaxTempPoints) {
      ui.message_box("Warning, can only use 50 points", {}, kMsgWarning);
      break;
    }
    r.temperatures[static_cast<std::size_t>(r.points)] = t;
    r.channels[static_cast<std::size_t>(r.points)] = ch;
    ++r.points;
  }
  return 1;
}

int fit_temp_calibration(TempCorrRecord& r, bool second_order) {
  if (r.points < 2) return 0;
  const int n = second_order && r.points > 2 ? 3 : 2;
  NormalEquations eq(n);
  for (int k = 0; k < r.points; ++k) {
    const double t = r.temperatures[static_cast<std::size_t>(k)];
    const double y = r.channels[static_cast<std::size_t>(k)];
    const double f[3] = {1.0, t, t * t};
    for (int i = 0; i < n; ++i) {
      eq.rhs(i) += f[i] * y;
      for (int j = 0; j <= i; ++j) eq.normal(i, j) += f[i] * f[j];
    }
  }
  eq.mirror_lower();
  if (!eq.solve()) return 0;
  r.coefficient_count = n;
  for (int i = 0; i < 3; ++i) r.coefficients[static_cast<std::size_t>(i)] = i < n ? static_cast<float>(eq.solution(i)) : 0.0f;
  return 1;
}

double channel_at(const TempCorrRecord& r, double t) {
  return r.coefficients[0] + r.coefficients[1] * t + r.coefficients[2] * t * t;
}

TemperatureLogger::~TemperatureLogger() { close(); }

int TemperatureLogger::open(Platform& ui, const std::string& library, TempCorrRecord& r) {
  close();
  handle_ = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ != nullptr) {
    open_unit_ = ::dlsym(handle_, "th03_open_unit");
    set_channel_ = ::dlsym(handle_, "th03_set_channel");
    get_temp_ = ::dlsym(handle_, "th03_get_temp");
    close_unit_ = ::dlsym(handle_, "th03_close_unit");
  }
  if (handle_ == nullptr || open_unit_ == nullptr || set_channel_ == nullptr || get_temp_ == nullptr ||
      close_unit_ == nullptr) {
    ui.message_box("Failed to Load Library '" + library + "'", "Temperature correction is enabled", kMsgError);
    close();
    r.logger_open = 0;
    return 0;
  }
  unit_ = r.unit;
  r.logger_open = 0;
  if (unit_ == 0) return 0;
  if (reinterpret_cast<OpenUnitFn>(open_unit_)(unit_) != 0) {
    open_ = true;
    r.logger_open = 1;
    reinterpret_cast<SetChannelFn>(set_channel_)(unit_, 1, 1, 10);
    return 1;
  }
  ui.message_box(c_format("Could not open Comm Port %d for Temperature correction", unit_), "Warning", kMsgWarning);
  return 0;
}

double TemperatureLogger::read(TempCorrRecord& r) {
  if (!open_) {
    r.current_temperature = 0;
    return 0;
  }
  std::int32_t hundredths = 0;
  reinterpret_cast<GetTempFn>(get_temp_)(&hundredths, unit_, 1, 1);
  r.current_temperature = static_cast<float>(hundredths / 100.0);
  return r.current_temperature;
}

void TemperatureLogger::close() {
  if (open_ && close_unit_ != nullptr) reinterpret_cast<CloseUnitFn>(close_unit_)(unit_);
  open_ = false;
  if (handle_ != nullptr) ::dlclose(handle_);
  handle_ = nullptr;
  open_unit_ = set_channel_ = get_temp_ = close_unit_ = nullptr;
}

void update_temperature_correction(const TempCorrRecord& r, int channels, CorrectionState& c) {
  if (r.enabled == 0 || !(r.current_temperature > 0)) return;
  c.reference_value = channel_at(r, r.reference_temperature);
  c.current_value = channel_at(r, r.current_temperature);
  if (!(c.reference_value > 0)) return;
  int correction = channels - round_half_up(channels * c.current_value / c.reference_value);
  if (correction > kMaxCorrection || correction < -kMaxCorrection) correction = 0;
  c.correction = correction;
}

void rebin_counts(std::vector<std::int32_t>& counts, int channels, int g) {
  if (g == 0) return;
  std::vector<std::int32_t> fresh(counts.size(), 0);
  fresh[0] = counts[0];
  fresh[1] = counts[1];
  const auto at = [](std::vector<std::int32_t>& v, long i) -> std::int32_t& { return v[static_cast<std::size_t>(i)]; };
  for (long i = 2; i < channels; ++i) {
    const long a = i / g;
    const long n = i + (a < 0 ? -a : a);
    if (n >= channels) break;
    if (i % g != 0) {
      if (a < 1)
        at(fresh, i) = at(counts, n);
      else
        at(fresh, n) = at(counts, i);
    } else if (a < 1) {
      at(fresh, i) = n + 1 < channels ? (at(counts, n) + at(counts, n + 1)) / 2 : at(counts, n);
    } else {
      at(fresh, n - 1) = at(counts, i);
      at(fresh, n) = at(counts, i);
    }
  }
  counts.swap(fresh);
}

int channel_correction(CorrectionState& c, std::vector<std::int32_t>& counts, int channels, int centre,
                       int window, ReferencePeakLocator& locator) {
  if (window <= 0 || c.uncorrected.size() < static_cast<std::size_t>(channels)) return 0;
  int lo = centre - window / 2;
  int hi = centre + window / 2;
  if (lo < 3) lo = 3;
  if (hi > channels - 1) hi = channels - 1;
  long long sum = 0;
  for (int k = lo; k <= hi; ++k) sum += c.uncorrected[static_cast<std::size_t>(k)];
  if (sum / window < 20) return 0;
  const int peak = locator.locate(c.uncorrected.data(), channels, centre, window);
  std::fill(c.uncorrected.begin(), c.uncorrected.end(), 0);
  if (peak <= 0) return 0;
  c.correction = centre - peak;
  c.divisor = c.correction != 0 ? centre / c.correction : channels;
  if (c.first_correction && c.correction != 0) rebin_counts(counts, channels, c.divisor);
  c.first_correction = false;
  return 1;
}

}  // namespace kestrim
