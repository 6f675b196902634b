// The 512-byte calibration record: energy, peak-shape and efficiency
// calibration of one geometry. Stored in native spectrum files (offset 256)
// and, one per geometry, in detector files.
//
// Until the calibration functions land the record is carried as opaque
// bytes; read/write keep every byte.
#pragma once

#include <array>
#include <cstdint>

namespace kestrim {

inline constexpr int kCalibrationRecordSize = 512;

struct CalibrationRecord {
  std::array<std::uint8_t, kCalibrationRecordSize> raw{};
};

void decode_calibration_record(const std::uint8_t* bytes, CalibrationRecord& out);
void encode_calibration_record(const CalibrationRecord& rec, std::uint8_t* bytes);

}  // namespace kestrim
