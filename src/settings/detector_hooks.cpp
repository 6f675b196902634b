#include "settings/detector_hooks.h"

namespace kestrim {

int load_background_for_calibration(State& /*state*/) { return 1; }

int save_parameters_for_calibration(State& /*state*/) { return 1; }

}  // namespace kestrim
