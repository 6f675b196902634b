// A state holding a simulated NaI spectrum and typical analysis settings.
#pragma once

#include <memory>

#include "app/state.h"
#include "peaks/peak_search.h"
#include "platform/scripted_platform.h"
#include "spectrum/simulate.h"

namespace kestrim::test {

struct SimulatedState {
  ScriptedPlatform ui;
  std::unique_ptr<State> state = std::make_unique<State>(ui);
  SimSpectrum sim;

  explicit SimulatedState(const SimOptions& o) {
    sim = simulate_spectrum(o);
    store_simulated(sim, o, state->spectrum);
    use_standard_peak_parameters(state->params, o.channels);
  }
};

}  // namespace kestrim::test
