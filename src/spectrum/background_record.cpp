#include "spectrum/background_record.h"

#include <cstring>

#include "platform/binio.h"

namespace kestrim {

void decode_background_record(const std::uint8_t* bytes, BackgroundRecord& out) {
  using namespace bkg_offset;
  out.count = bin::get_i16(bytes + kCount);
  const std::uint8_t* d = bytes + kCollected;
  out.collected.day = bin::get_i16(d);
  out.collected.month = bin::get_i16(d + 2);
  out.collected.year = bin::get_i16(d + 4);
  out.collected.hour = bin::get_i16(d + 6);
  out.collected.minute = bin::get_i16(d + 8);
  std::memcpy(out.file_name.data(), bytes + kFileName, kFileNameSize);
  std::memcpy(out.title.data(), bytes + kTitle, kTitleSize);
  out.live_time = bin::get_f32(bytes + kLiveTime);
  for (int i = 0; i < kMaxBackgroundPeaks; ++i) {
    out.energy[i] = bin::get_f32(bytes + kEnergy + 4 * i);
    out.rate[i] = bin::get_f32(bytes + kRate + 4 * i);
    out.rate_sigma[i] = bin::get_f32(bytes + kRateSigma + 4 * i);
  }
}

void encode_background_record(const BackgroundRecord& rec, std::uint8_t* bytes) {
  using namespace bkg_offset;
  bin::put_i16(bytes + kCount, rec.count);
  std::uint8_t* d = bytes + kCollected;
  bin::put_i16(d, rec.collected.day);
  bin::put_i16(d + 2, rec.collected.month);
  bin::put_i16(d + 4, rec.collected.year);
  bin::put_i16(d + 6, rec.collected.hour);
  bin::put_i16(d + 8, rec.collected.minute);
  std::memcpy(bytes + kFileName, rec.file_name.data(), kFileNameSize);
  std::memcpy(bytes + kTitle, rec.title.data(), kTitleSize);
  bin::put_f32(bytes + kLiveTime, rec.live_time);
  for (int i = 0; i < kMaxBackgroundPeaks; ++i) {
    bin::put_f32(bytes + kEnergy + 4 * i, rec.energy[i]);
    bin::put_f32(bytes + kRate + 4 * i, rec.rate[i]);
    bin::put_f32(bytes + kRateSigma + 4 * i, rec.rate_sigma[i]);
  }
}

}  // namespace kestrim
