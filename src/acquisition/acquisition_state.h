// The count array being acquired and the collection flags and timers.
#pragma once

namespace kestrim {

struct AcquisitionState {
  bool running = false;
};

}  // namespace kestrim
