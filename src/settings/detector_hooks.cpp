#include "settings/detector_hooks.h"

#include "nuclides/background_file.h"
#include "settings/defaults_file.h"

namespace kestrim {

int load_background_for_calibration(State& state) { return load_background(state); }

int save_parameters_for_calibration(State& state) { return save_parameters(state); }

}  // namespace kestrim
