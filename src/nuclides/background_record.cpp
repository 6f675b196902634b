#include "nuclides/background_record.h"

#include <cstring>

namespace kestrim {

void decode_background_record(const std::uint8_t* bytes, BackgroundRecord& out) {
  std::memcpy(out.raw.data(), bytes, kBackgroundBlockSize);
}

void encode_background_record(const BackgroundRecord& rec, std::uint8_t* bytes) {
  std::memcpy(bytes, rec.raw.data(), kBackgroundBlockSize);
}

}  // namespace kestrim
