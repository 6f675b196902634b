// The count array being acquired and the collection flags and timers,
// shared by the serial and the sound-card MCA.
#pragma once

#include <cstdint>
#include <vector>

#include "spectrum/dates.h"

namespace kestrim {

// Channels of the count array. Channel 0 holds the live time and channel 1
// the true time, both in whole seconds.
inline constexpr int kAcquisitionChannels = 4096;

struct AcquisitionState {
  std::vector<std::int32_t> counts = std::vector<std::int32_t>(kAcquisitionChannels, 0);

  bool collecting = false;     // an acquisition runs; cleared to request or record a stop
  bool wave_in_active = false; // a sound-card buffer is queued
  bool new_data = false;       // the count array holds data not yet saved
  bool diagnostic = false;     // sound-card diagnostic capture
  bool busy = false;           // an exchange with the MCA is in progress
  bool stop_requested = false; // the user asked to stop before the preset

  // Monotonic milliseconds at which the run began, corrected for the time
  // a continued run already had.
  std::int64_t start_tick_ms = 0;
  // Milliseconds of true time (serial MCA: one-second timer ticks).
  std::int64_t elapsed = 0;
  // Live time: 10 ms units in pulse-height mode, ms in MCS mode (sound card).
  std::int64_t live_accumulator = 0;
  DateTime start;      // date and time of the run start
  long long ticks = 0; // one-second timer ticks seen while collecting
  // The 24-bit millisecond time words of the serial MCA wrap every 4.66
  // hours: the last word seen in this run (-1 none) and the wraps counted.
  std::int64_t live_word_last = -1;
  std::int64_t live_word_wraps = 0;
  std::int64_t true_word_last = -1;
  std::int64_t true_word_wraps = 0;
};

}  // namespace kestrim
