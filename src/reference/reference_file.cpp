#include "reference/reference_file.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/binio.h"
#include "platform/c_format.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "spectrum/native_file.h"
#include "spectrum/spectrum_record.h"

namespace kestrim {

namespace {

// A stored real as a whole count: truncated, 0 when it is not a number,
// held within 32 bits.
std::int32_t whole_count(float v) {
  if (!std::isfinite(v)) return 0;
  const double t = std::trunc(static_cast<double>(v));
  if (t >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
    return std::numeric_limits<std::int32_t>::max();
  if (t <= static_cast<double>(std::numeric_limits<std::int32_t>::min()))
    return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(t);
}

double finite_or_zero(float v) { return std::isfinite(v) ? static_cast<double>(v) : 0.0; }

}  // namespace

int decode_reference(const std::vector<std::uint8_t>& bytes, ReferenceSpectrum& out,
                     std::string& problem) {
  using namespace rsd_offset;
  if (bytes.size() < static_cast<std::size_t>(kCounts)) {
    problem = "the file is shorter than its 1024-byte header";
    return 0;
  }
  const std::uint8_t* b = bytes.data();
  const int stored = bin::get_i16(b + kChannels);
  if (stored < 256 || stored > kMaxChannelsStored) {
    problem = c_format("the number of channels (%d) is impossible", stored);
    return 0;
  }
  const bool integers = bin::get_i16(b + kDataType) == 2;
  const std::size_t record = integers ? 512 : 1024;
  const int records = stored / 256;
  if (bytes.size() < static_cast<std::size_t>(kCounts) + record * static_cast<std::size_t>(records)) {
    problem = "the last record of counts is short";
    return 0;
  }
  // Spectra in use hold at most 4096 channels, like an opened spectrum.
  const int channels = std::min(stored, kMaxChannels);
  out.channels = channels;
  out.activity_bq = finite_or_zero(bin::get_f32(b + kActivity));
  out.live_time = finite_or_zero(bin::get_f32(b + kLiveTime));
  out.activity_uncertainty_pct = finite_or_zero(bin::get_f32(b + kUncertainty));
  out.title = bin::get_text(b + kTitle, kTitleSize);
  decode_calibration_record(b + kCalibration, out.calibration);
  out.counts.assign(static_cast<std::size_t>(channels), 0);
  const std::uint8_t* data = b + kCounts;
  for (int ch = 2; ch < std::min(channels, records * 256); ++ch)
    out.counts[static_cast<std::size_t>(ch)] =
        integers ? static_cast<std::int32_t>(bin::get_u16(data + 2 * ch))
                 : whole_count(bin::get_f32(data + 4 * ch));
  out.gain = 1;
  out.amplitude = 0;
  out.variance = 0;
  return 1;
}

std::vector<std::uint8_t> encode_reference(const SpectrumRecord& spectrum, const std::string& title,
                                           double activity_bq, double uncertainty_pct,
                                           const DateTime& saved) {
  SpectrumRecord copy = spectrum;
  copy.header.correction_factor = static_cast<float>(activity_bq);
  copy.header.sampling_uncertainty = static_cast<float>(uncertainty_pct);
  copy.header.sample_type = {};
  std::vector<std::uint8_t> bytes = encode_native(copy, saved, nullptr);
  // The title field is written here, at its own offset, whatever the
  // record's sample type held.
  bin::put_text(bytes.data() + rsd_offset::kTitle, rsd_offset::kTitleSize,
                title.substr(0, std::min<std::size_t>(title.size(), kMaxReferenceTitle)));
  return bytes;
}

int read_reference_file(const std::string& path, ReferenceSpectrum& out, Platform& ui) {
  std::vector<std::uint8_t> bytes;
  const std::string resolved = resolve_path(path);
  if (!file_exists(resolved) || !read_file(resolved, bytes)) {
    ui.message_box("Error Opening file:- " + path, {}, kMsgError);
    return 0;
  }
  std::string problem;
  if (!decode_reference(bytes, out, problem)) {
    ui.message_box("Error Reading Reference data file " + path + " (" + problem + ")", {}, kMsgError);
    return 0;
  }
  out.path = path;
  std::string name = base_name(path);
  const auto dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  out.name = name;
  return 1;
}

int check_reference(const ReferenceSpectrum& ref, int already_in_set, Platform& ui) {
  if (already_in_set >= kMaxReferences) {
    ui.message_box("Can only use 10 Reference Spectra", {}, kMsgError);
    return 0;
  }
  if (!(ref.live_time > 0)) {
    ui.message_box("The Reference data file:- " + ref.path + " has no live time", {}, kMsgError);
    return 0;
  }
  if (!(ref.activity_bq > 0)) {
    ui.message_box("The Reference data file:- " + ref.path + " has no activity", {}, kMsgError);
    return 0;
  }
  if (ref.activity_uncertainty_pct < 0) {
    ui.message_box("The Reference data file:- " + ref.path + " has a negative activity uncertainty",
                   {}, kMsgError);
    return 0;
  }
  return 1;
}

}  // namespace kestrim
