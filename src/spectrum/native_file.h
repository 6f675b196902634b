// The native spectrum file (extension "dat"):
//
//   offset  size    content
//        0   256    spectrum header (spectrum_record.h)
//      256   512    calibration record (calibration_record.h)
//      768   256    efficiency section: 256 zero bytes (no points), or int16
//                   marker 255, int16 count n (1-21), then 21 real32
//                   energies, 21 efficiencies, 21 relative uncertainties
//     1024  blocks  channel data: channels / 256 (rounded down) blocks of 256
//                   channels from channel 0; data type 2: 512-byte blocks of
//                   uint16; data type 4: 1024-byte blocks of real32 (channels
//                   0 and 1 then carry the live and true time)
//    after  2+2480  optional: int16 marker 255 and the background-peak block
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "spectrum/background_record.h"
#include "spectrum/spectrum_record.h"

namespace kestrim {

inline constexpr int kNativeCalibrationOffset = 256;
inline constexpr int kNativeEfficiencyOffset = 768;
inline constexpr int kNativeChannelOffset = 1024;
inline constexpr int kEfficiencyMarker = 255;
inline constexpr int kBackgroundMarker = 255;

struct NativeReadOptions {
  // Read the background-peak block when one follows the channel data.
  bool read_background_block = false;
  // A second spectrum is being read: the background block is left alone.
  bool second_spectrum_mode = false;
};

struct NativeReadResult {
  bool background_present = false;  // the block was read whole
  std::string problem;              // why a read failed ("" on success)
};

// Fills `rec` (header, calibration, efficiency points, counts) and, when
// asked and present, `background` from the bytes of a native file. Returns 1,
// or -1 when the file is short or its header is impossible; `result.problem`
// then says what is wrong.
int read_native(const std::vector<std::uint8_t>& bytes, SpectrumRecord& rec,
                BackgroundRecord& background, const NativeReadOptions& options,
                NativeReadResult& result);

// The data type the writer chooses: 4 when the largest count of channels
// 2..n-1 is 65535 or more, else 2.
int native_data_type_for(const SpectrumRecord& rec);

// Builds the bytes of a native file from `rec`. Like the stored format
// requires, this changes the record in memory: the data type is set, the
// efficiency-point count is limited to 21 and, for data type 2, channels 0
// and 1 are zeroed. The detector file number is written as 0 and the saved
// date and time are set to `saved`.
std::vector<std::uint8_t> encode_native(SpectrumRecord& rec, const DateTime& saved,
                                        const BackgroundRecord* background);

// Channel count of a native file from its header, for directory listings:
// the header's channel count when the data type is 2 or 4, else 0.
int probe_native(const std::vector<std::uint8_t>& bytes);

}  // namespace kestrim
