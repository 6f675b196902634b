// The 2480-byte background-peak block (environmental background peaks with
// their rates), stored after the channel data of native spectrum files and
// in ".bkg" files. Carried as opaque bytes until background subtraction lands.
#pragma once

#include <array>
#include <cstdint>

namespace kestrim {

inline constexpr int kBackgroundBlockSize = 2480;

struct BackgroundRecord {
  std::array<std::uint8_t, kBackgroundBlockSize> raw{};
};

void decode_background_record(const std::uint8_t* bytes, BackgroundRecord& out);
void encode_background_record(const BackgroundRecord& rec, std::uint8_t* bytes);

}  // namespace kestrim
