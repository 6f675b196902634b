// The optional capabilities the kestrim program has, put into a session's
// Services before its Defaults are loaded (loading them may read reference
// spectra).
#pragma once

#include "app/state.h"
#include "reference/total_spectrum_fitting.h"

namespace kestrim::cli {

struct FrontEndServices {
  TotalSpectrumFitting reference_fitting;
  void supply(State& state) { state.services.reference_fitting = &reference_fitting; }
};

}  // namespace kestrim::cli
