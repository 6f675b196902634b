// The reference spectra (at most 10) and their fitted factors.
#pragma once

namespace kestrim {

struct ReferenceSet {
  int count = 0;
};

}  // namespace kestrim
