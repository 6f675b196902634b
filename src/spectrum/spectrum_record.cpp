#include "spectrum/spectrum_record.h"
#include "platform/c_locale.h"

#include <cstdio>

#include <algorithm>
#include <cstring>

#include "platform/binio.h"

namespace kestrim {

namespace {
void get_dt(const std::uint8_t* p, DateTime& dt) {
  dt.day = bin::get_i16(p);
  dt.month = bin::get_i16(p + 2);
  dt.year = bin::get_i16(p + 4);
  dt.hour = bin::get_i16(p + 6);
  dt.minute = bin::get_i16(p + 8);
}
void put_dt(std::uint8_t* p, const DateTime& dt) {
  bin::put_i16(p, dt.day);
  bin::put_i16(p + 2, dt.month);
  bin::put_i16(p + 4, dt.year);
  bin::put_i16(p + 6, dt.hour);
  bin::put_i16(p + 8, dt.minute);
}
}  // namespace

void decode_header(const std::uint8_t* b, SpectrumHeader& h) {
  using namespace header_offset;
  get_fixed(b + kTitle, h.title);
  get_fixed(b + kUser, h.user);
  h.sample_number = bin::get_i32(b + kSampleNumber);
  get_dt(b + kSaved, h.saved);
  get_dt(b + kCollected, h.collected);
  get_dt(b + kSampled, h.sampled);
  h.detector = bin::get_i16(b + kDetector);
  h.mca = bin::get_i16(b + kMca);
  h.adc = bin::get_i16(b + kAdc);
  h.geometry = bin::get_i16(b + kGeometry);
  h.channels = bin::get_i16(b + kChannels);
  h.sample_size = bin::get_f32(b + kSampleSize);
  get_fixed(b + kUnits, h.units);
  h.correction_factor = bin::get_f32(b + kCorrectionFactor);
  h.detector_file = bin::get_i16(b + kDetectorFile);
  h.data_type = bin::get_i16(b + kDataType);
  h.live_time = bin::get_f32(b + kLiveTime);
  h.true_time = bin::get_f32(b + kTrueTime);
  get_fixed(b + kInstrument, h.instrument);
  h.sampling_uncertainty = bin::get_f32(b + kSamplingUncertainty);
  get_fixed(b + kLocation, h.location);
  get_fixed(b + kSampleId, h.sample_id);
  get_fixed(b + kSampleType, h.sample_type);
}

void encode_header(const SpectrumHeader& h, std::uint8_t* b) {
  using namespace header_offset;
  std::memset(b, 0, kHeaderSize);
  put_fixed(b + kTitle, h.title);
  put_fixed(b + kUser, h.user);
  bin::put_i32(b + kSampleNumber, h.sample_number);
  put_dt(b + kSaved, h.saved);
  put_dt(b + kCollected, h.collected);
  put_dt(b + kSampled, h.sampled);
  bin::put_i16(b + kDetector, h.detector);
  bin::put_i16(b + kMca, h.mca);
  bin::put_i16(b + kAdc, h.adc);
  bin::put_i16(b + kGeometry, h.geometry);
  bin::put_i16(b + kChannels, h.channels);
  bin::put_f32(b + kSampleSize, h.sample_size);
  put_fixed(b + kUnits, h.units);
  bin::put_f32(b + kCorrectionFactor, h.correction_factor);
  bin::put_i16(b + kDetectorFile, h.detector_file);
  bin::put_i16(b + kDataType, h.data_type);
  bin::put_f32(b + kLiveTime, h.live_time);
  bin::put_f32(b + kTrueTime, h.true_time);
  put_fixed(b + kInstrument, h.instrument);
  bin::put_f32(b + kSamplingUncertainty, h.sampling_uncertainty);
  put_fixed(b + kLocation, h.location);
  put_fixed(b + kSampleId, h.sample_id);
  put_fixed(b + kSampleType, h.sample_type);
}

std::string header_title(const SpectrumHeader& h) {
  return to_string(h.title);  // stops at the NUL at 23 when a description follows
}

std::string header_description(const SpectrumHeader& h) {
  if (h.title[23] != 0) return {};
  bool title_full = true;
  for (int i = 0; i < 23; ++i)
    if (h.title[i] == 0) title_full = false;
  if (!title_full) return {};
  std::size_t len = 0;
  while (24 + len < 48 && h.title[24 + len] != 0) ++len;
  return std::string(h.title.data() + 24, len);
}

void set_title(SpectrumHeader& h, const std::string& title, const std::string& description) {
  h.title.fill(0);
  if (description.empty()) {
    assign(h.title, title);
    return;
  }
  for (int i = 0; i < 23; ++i)
    h.title[i] = i < static_cast<int>(title.size()) ? title[i] : ' ';
  h.title[23] = 0;
  std::size_t n = std::min<std::size_t>(description.size(), 23);
  std::memcpy(h.title.data() + 24, description.data(), n);
}

double dead_time_percent(const SpectrumHeader& h) {
  if (h.true_time == 0) return -1.0;
  return (static_cast<double>(h.true_time) - h.live_time) * 100.0 / h.true_time;
}

void SpectrumRecord::clear() {
  header = SpectrumHeader{};
  std::fill(counts.begin(), counts.end(), 0.0f);
  calibration = CalibrationRecord{};
  efficiency = EfficiencyPoints{};
  detector_description.clear();
  warnings.clear();
  combined_spectra = 1;
}

double SpectrumRecord::total_counts() const {
  double sum = 0;
  int n = std::min<int>(header.channels, kMaxChannelsStored);
  for (int i = 2; i < n; ++i) sum += counts[i];
  return sum;
}

std::string format_sample_size(double size) {
  char buf[64];
  if (size < 0.1 || size > 1e6)
    c_snprintf(buf, sizeof buf, "%6.3e", size);
  else if (size >= 1)
    c_snprintf(buf, sizeof buf, "%5.3f", size);
  else
    c_snprintf(buf, sizeof buf, "%5.4f", size);
  return buf;
}

}  // namespace kestrim
