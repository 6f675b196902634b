#include "spectrum/native_file.h"
#include "platform/c_locale.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/binio.h"

namespace kestrim {

namespace {
constexpr int kBlockChannels = 256;
constexpr int kEfficiencyArrayBytes = kStoredEfficiencyPoints * 4;  // 84

std::string describe_short(const char* what, std::size_t offset, std::size_t need,
                           std::size_t have) {
  char buf[160];
  c_snprintf(buf, sizeof buf, "%s needs %zu bytes at offset %zu, but the file has %zu",
                what, need, offset, have);
  return buf;
}
}  // namespace

int read_native(const std::vector<std::uint8_t>& bytes, SpectrumRecord& rec,
                BackgroundRecord& background, const NativeReadOptions& options,
                NativeReadResult& result) {
  result = NativeReadResult{};
  const std::size_t size = bytes.size();
  const std::uint8_t* b = bytes.data();

  if (size < static_cast<std::size_t>(kHeaderSize)) {
    result.problem = describe_short("header", 0, kHeaderSize, size);
    return -1;
  }
  decode_header(b, rec.header);
  if (size < static_cast<std::size_t>(kNativeEfficiencyOffset)) {
    result.problem = describe_short("calibration record", kNativeCalibrationOffset,
                                    kCalibrationRecordSize, size);
    return -1;
  }
  decode_calibration_record(b + kNativeCalibrationOffset, rec.calibration);

  // Efficiency section.
  if (size < static_cast<std::size_t>(kNativeEfficiencyOffset + 2)) {
    result.problem = describe_short("efficiency section", kNativeEfficiencyOffset, 2, size);
    return -1;
  }
  int marker = bin::get_i16(b + kNativeEfficiencyOffset);
  if (marker == kEfficiencyMarker) {
    const std::size_t need = 4 + 3 * kEfficiencyArrayBytes;
    if (size < kNativeEfficiencyOffset + need) {
      result.problem = describe_short("efficiency points", kNativeEfficiencyOffset, need, size);
      return -1;
    }
    int count = bin::get_i16(b + kNativeEfficiencyOffset + 2);
    if (count < 0 || count > kStoredEfficiencyPoints) {
      char buf[120];
      c_snprintf(buf, sizeof buf,
                    "efficiency point count %d is outside 0-%d; limited to the stored points",
                    count, kStoredEfficiencyPoints);
      rec.warnings.emplace_back(buf);
      count = std::clamp(count, 0, kStoredEfficiencyPoints);
    }
    rec.efficiency.count = count;
    const std::uint8_t* p = b + kNativeEfficiencyOffset + 4;
    for (int i = 0; i < kStoredEfficiencyPoints; ++i) {
      rec.efficiency.energy[i] = bin::get_f32(p + 4 * i);
      rec.efficiency.efficiency[i] = bin::get_f32(p + kEfficiencyArrayBytes + 4 * i);
      rec.efficiency.uncertainty[i] = bin::get_f32(p + 2 * kEfficiencyArrayBytes + 4 * i);
    }
  }

  // Channel data.
  int channels = rec.header.channels;
  if (channels < 0 || channels > kMaxChannelsStored) {
    char buf[120];
    c_snprintf(buf, sizeof buf, "header declares %d channels at offset %d (at most %d)",
                  channels, header_offset::kChannels, kMaxChannelsStored);
    result.problem = buf;
    return -1;
  }
  const int blocks = channels / kBlockChannels;
  const bool integers = rec.header.data_type == 2;
  if (!integers) rec.header.data_type = 4;
  const std::size_t block_bytes = integers ? 2 * kBlockChannels : 4 * kBlockChannels;
  std::size_t pos = kNativeChannelOffset;
  int status = 1;
  for (int blk = 0; blk < blocks; ++blk) {
    if (pos + block_bytes > size) {
      result.problem = describe_short("channel block", pos, block_bytes, size);
      status = -1;
      // Keep what is there of the final block, as a partial read would.
      break;
    }
    for (int i = 0; i < kBlockChannels; ++i) {
      int ch = blk * kBlockChannels + i;
      rec.counts[ch] = integers ? static_cast<float>(bin::get_u16(b + pos + 2 * i))
                                : bin::get_f32(b + pos + 4 * i);
    }
    pos += block_bytes;
  }
  if (status == 1 && !integers) {
    if (rec.header.live_time == 0) rec.header.live_time = rec.counts[0];
    if (rec.header.true_time == 0) rec.header.true_time = rec.counts[1];
  }

  if (!options.second_spectrum_mode) {
    if (options.read_background_block && status == 1) {
      bool read = false;
      if (pos + 2 <= size && bin::get_i16(b + pos) == kBackgroundMarker) {
        if (pos + 2 + kBackgroundBlockSize <= size) {
          decode_background_record(b + pos + 2, background);
          read = true;
        }
      }
      if (!read) background = BackgroundRecord{};
      result.background_present = read;
    }
  }
  return status;
}

int native_data_type_for(const SpectrumRecord& rec) {
  int n = std::min<int>(rec.header.channels, kMaxChannelsStored);
  float largest = 0;
  for (int i = 2; i < n; ++i) largest = std::max(largest, rec.counts[i]);
  return largest >= 65535.0f ? 4 : 2;
}

std::vector<std::uint8_t> encode_native(SpectrumRecord& rec, const DateTime& saved,
                                        const BackgroundRecord* background) {
  const int channels = std::clamp<int>(rec.header.channels, 0, kMaxChannelsStored);
  const int blocks = channels / kBlockChannels;
  const int data_type = native_data_type_for(rec);
  rec.header.data_type = static_cast<std::int16_t>(data_type);
  const std::size_t block_bytes = data_type == 2 ? 2 * kBlockChannels : 4 * kBlockChannels;
  std::vector<std::uint8_t> out(kNativeChannelOffset + blocks * block_bytes, 0);

  const std::int16_t kept_detector_file = rec.header.detector_file;
  rec.header.detector_file = 0;
  rec.header.saved.day = saved.day;
  rec.header.saved.month = saved.month;
  rec.header.saved.year = saved.year;
  rec.header.saved.hour = saved.hour;
  rec.header.saved.minute = saved.minute;
  encode_header(rec.header, out.data());
  rec.header.detector_file = kept_detector_file;
  encode_calibration_record(rec.calibration, out.data() + kNativeCalibrationOffset);

  if (rec.efficiency.count > 0) {
    if (rec.efficiency.count > kStoredEfficiencyPoints)
      rec.efficiency.count = kStoredEfficiencyPoints;
    std::uint8_t* p = out.data() + kNativeEfficiencyOffset;
    bin::put_i16(p, kEfficiencyMarker);
    bin::put_i16(p + 2, static_cast<std::int16_t>(rec.efficiency.count));
    p += 4;
    for (int i = 0; i < kStoredEfficiencyPoints; ++i) {
      bin::put_f32(p + 4 * i, rec.efficiency.energy[i]);
      bin::put_f32(p + kEfficiencyArrayBytes + 4 * i, rec.efficiency.efficiency[i]);
      bin::put_f32(p + 2 * kEfficiencyArrayBytes + 4 * i, rec.efficiency.uncertainty[i]);
    }
  }

  std::uint8_t* p = out.data() + kNativeChannelOffset;
  if (data_type == 2) {
    rec.counts[0] = 0;
    rec.counts[1] = 0;
    for (int ch = 0; ch < blocks * kBlockChannels; ++ch) {
      // Counts below 0 (after a subtraction) or not finite are stored as 0.
      float c = rec.counts[ch];
      std::uint16_t v = (std::isfinite(c) && c > 0) ? static_cast<std::uint16_t>(c) : 0;
      bin::put_u16(p + 2 * ch, v);
    }
  } else {
    for (int ch = 0; ch < blocks * kBlockChannels; ++ch) bin::put_f32(p + 4 * ch, rec.counts[ch]);
  }

  if (background) {
    std::size_t at = out.size();
    out.resize(at + 2 + kBackgroundBlockSize);
    bin::put_i16(out.data() + at, kBackgroundMarker);
    encode_background_record(*background, out.data() + at + 2);
  }
  return out;
}

int probe_native(const std::vector<std::uint8_t>& bytes) {
  if (bytes.size() < static_cast<std::size_t>(kHeaderSize)) return 0;
  int type = bin::get_i16(bytes.data() + header_offset::kDataType);
  if (type != 2 && type != 4) return 0;
  int channels = bin::get_i16(bytes.data() + header_offset::kChannels);
  return channels > 0 ? channels : 0;
}

}  // namespace kestrim
