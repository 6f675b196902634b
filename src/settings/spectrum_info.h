// Descriptions of a spectrum for people (text) and for scripts (JSON), as
// printed by `kestrim info`.
//
// JSON: one object with file, format, title, description, sample_number,
// channels, live_time, true_time, dead_time_percent, collected, sampled,
// saved (ISO 8601 local date-times, null when unset), detector, geometry,
// mca, adc, sample_size, units, energy_calibration {terms, coefficients
// [c0, c1, c2], form "polynomial"|"log"}, total_counts (channels 2 and up)
// and counts (the whole channel array as read, channels 0 and 1 included).
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "spectrum/spectrum_record.h"

namespace kestrim {

// "2026-12-07T09:30:00", or "" when the date is unset (day 0).
std::string iso_date_time(const DateTime& dt);

nlohmann::json spectrum_info_json(const SpectrumRecord& rec, const std::string& file, int type);
// Makes every string of `j` (keys and values) UTF-8: text read from files
// that is not UTF-8 is taken as Windows-1252 (the JSON writer rejects
// anything else).
void json_text_as_utf8(nlohmann::json& j);

std::string spectrum_info_text(const SpectrumRecord& rec, const std::string& file, int type);

}  // namespace kestrim
