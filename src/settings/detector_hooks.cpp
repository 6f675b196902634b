#include "settings/detector_hooks.h"

#include "settings/defaults_file.h"

namespace kestrim {

int load_background_for_calibration(State& /*state*/) { return 1; }

int save_parameters_for_calibration(State& state) { return save_parameters(state); }

}  // namespace kestrim
