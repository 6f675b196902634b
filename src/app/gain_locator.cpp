#include "app/gain_locator.h"

#include "app/state.h"
#include "peaks/peak_search.h"

namespace kestrim {

int PeakSearchLocator::locate(const std::int32_t* counts, int channels, int centre, int window) {
  return locate_reference_peak(state_, counts, channels, centre, window);
}

}  // namespace kestrim
