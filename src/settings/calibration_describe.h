// Human-readable and JSON descriptions of a calibration record, for the
// `kestrim info` command: which functions are calibrated, in which form,
// with their coefficients, the efficiency curves and points, and a short
// channel <-> energy table.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "spectrum/calibration_record.h"
#include "spectrum/spectrum_record.h"

namespace kestrim {

// Several lines of text, each ending in '\n'.
std::string describe_calibration(const CalibrationRecord& cal, const EfficiencyPoints& points);

// {"terms": n, "coefficients": [c0, c1, c2], "form": "polynomial" | "log",
//  "width": {...}, "low_tail": {...}, "high_tail": {...}, "efficiency": {...}}
// Coefficients are the stored real32 values printed with 7 significant
// digits, so that 0.7f reads 0.7 and not 0.699999988.
nlohmann::json calibration_json(const CalibrationRecord& cal);

}  // namespace kestrim
