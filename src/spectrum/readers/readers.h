// The foreign-format readers and their directory-listing probes.
// See formats.h for the contract every reader keeps.
#pragma once

#include "spectrum/formats.h"

namespace kestrim::readers {

// Each function is defined in the source file of its format. A format whose
// reader is not built yet is listed in formats.cpp with a null reader.

}  // namespace kestrim::readers
