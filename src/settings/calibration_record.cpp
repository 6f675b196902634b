#include "settings/calibration_record.h"

#include <cstring>

namespace kestrim {

void decode_calibration_record(const std::uint8_t* bytes, CalibrationRecord& out) {
  std::memcpy(out.raw.data(), bytes, kCalibrationRecordSize);
}

void encode_calibration_record(const CalibrationRecord& rec, std::uint8_t* bytes) {
  std::memcpy(bytes, rec.raw.data(), kCalibrationRecordSize);
}

}  // namespace kestrim
