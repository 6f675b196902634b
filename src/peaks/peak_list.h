// The peak list (up to 500 peaks, indexed from 1 in ascending centre order)
// and the current fitting region.
#pragma once

namespace kestrim {

inline constexpr int kMaxPeaks = 500;

struct PeakList {
  int count = 0;
  bool fitted = false;
};

}  // namespace kestrim
