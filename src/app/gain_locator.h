// The reference-peak locator of the peak search, offered to the sound-card
// MCA's reference-channel gain correction (which sits below the peaks).
#pragma once

#include "acquisition/gain_correction.h"

namespace kestrim {

struct State;

class PeakSearchLocator final : public ReferencePeakLocator {
 public:
  explicit PeakSearchLocator(State& state) : state_(state) {}
  int locate(const std::int32_t* counts, int channels, int centre, int window) override;

 private:
  State& state_;
};

}  // namespace kestrim
