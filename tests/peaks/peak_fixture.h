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

namespace kestrim::test {

// A state whose spectrum is `counts` (index = channel) with a constant
// Gaussian width of `sigma` channels and energy = channel x 1 keV.
struct HandState {
  ScriptedPlatform ui;
  std::unique_ptr<State> state = std::make_unique<State>(ui);

  HandState(const std::vector<double>& counts, double sigma) {
    SpectrumRecord& s = state->spectrum;
    s.clear();
    s.header.channels = static_cast<std::int16_t>(counts.size());
    s.header.live_time = s.header.true_time = 100;
    for (size_t x = 2; x < counts.size(); ++x) s.counts[x] = static_cast<float>(counts[x]);
    s.calibration.energy_terms = 2;
    s.calibration.energy = {0.0f, 1.0f, 0.0f};
    s.calibration.width_terms = 1;
    s.calibration.width = {static_cast<float>(sigma), 0.0f, 0.0f};
    use_standard_peak_parameters(state->params, static_cast<int>(counts.size()));
  }
};

}  // namespace kestrim::test
