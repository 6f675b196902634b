// Identification and activity results of the current spectrum.
#pragma once

namespace kestrim {

struct NuclideResults {
  int count = 0;
};

}  // namespace kestrim
