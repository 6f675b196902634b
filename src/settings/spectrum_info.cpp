#include "settings/spectrum_info.h"
#include "platform/c_locale.h"
#include "platform/text_encoding.h"

#include <cmath>
#include <cstdio>

#include "settings/calibration_describe.h"
#include "spectrum/formats.h"

namespace kestrim {

namespace {

nlohmann::json number_or_null(double v) {
  if (!std::isfinite(v)) return nullptr;
  return v;
}

nlohmann::json date_or_null(const DateTime& dt) {
  std::string s = iso_date_time(dt);
  if (s.empty()) return nullptr;
  return s;
}

}  // namespace

void json_text_as_utf8(nlohmann::json& j) {
  if (j.is_string()) {
    const auto& s = j.get_ref<const std::string&>();
    if (!is_valid_utf8(s)) j = text_as_utf8(s);
  } else if (j.is_array()) {
    for (auto& e : j) json_text_as_utf8(e);
  } else if (j.is_object()) {
    bool keys_ok = true;
    for (auto it = j.begin(); it != j.end(); ++it) {
      if (!is_valid_utf8(it.key())) keys_ok = false;
      json_text_as_utf8(it.value());
    }
    if (!keys_ok) {
      nlohmann::json fixed = nlohmann::json::object();
      for (auto it = j.begin(); it != j.end(); ++it) fixed[text_as_utf8(it.key())] = it.value();
      j = std::move(fixed);
    }
  }
}

std::string iso_date_time(const DateTime& dt) {
  if (dt.day <= 0 || dt.month < 1 || dt.month > 12) return {};
  char buf[40];
  c_snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:00", dt.year, dt.month, dt.day,
                dt.hour, dt.minute);
  return buf;
}

nlohmann::json spectrum_info_json(const SpectrumRecord& rec, const std::string& file, int type) {
  const SpectrumHeader& h = rec.header;
  nlohmann::json j;
  j["file"] = file;
  j["format"] = spectrum_type_name(type);
  j["title"] = header_title(h);
  j["description"] = header_description(h);
  j["sample_number"] = h.sample_number;
  j["channels"] = h.channels;
  j["live_time"] = number_or_null(h.live_time);
  j["true_time"] = number_or_null(h.true_time);
  double dead = dead_time_percent(h);
  j["dead_time_percent"] = dead < 0 ? nlohmann::json(nullptr) : number_or_null(dead);
  j["collected"] = date_or_null(h.collected);
  j["sampled"] = date_or_null(h.sampled);
  j["saved"] = date_or_null(h.saved);
  j["detector"] = h.detector;
  j["geometry"] = h.geometry;
  j["mca"] = h.mca;
  j["adc"] = h.adc;
  j["sample_size"] = number_or_null(h.sample_size);
  j["units"] = to_string(h.units);
  j["sample_id"] = to_string(h.sample_id);
  j["sample_type"] = to_string(h.sample_type);
  j["location"] = to_string(h.location);
  j["user"] = to_string(h.user);
  j["instrument"] = to_string(h.instrument);
  j["combined_spectra"] = rec.combined_spectra;
  const CalibrationRecord& cal = rec.calibration;
  nlohmann::json e;
  e["terms"] = static_cast<int>(cal.energy_terms);
  e["coefficients"] = {number_or_null(cal.energy[0]), number_or_null(cal.energy[1]),
                       number_or_null(cal.energy[2])};
  e["form"] = cal.energy_form != 0 ? "log" : "polynomial";
  j["energy_calibration"] = e;
  j["calibration"] = calibration_json(cal);
  j["efficiency_points"] = rec.efficiency.count;
  j["total_counts"] = rec.total_counts();
  nlohmann::json counts = nlohmann::json::array();
  for (int i = 0; i < h.channels && i < kMaxChannelsStored; ++i)
    counts.push_back(number_or_null(rec.counts[i]));
  j["counts"] = counts;
  json_text_as_utf8(j);
  return j;
}

std::string spectrum_info_text(const SpectrumRecord& rec, const std::string& file, int type) {
  const SpectrumHeader& h = rec.header;
  std::string out;
  char buf[512];
  auto line = [&](const char* label, const std::string& value) {
    c_snprintf(buf, sizeof buf, "%-22s ", label);
    out += buf;
    out += text_as_utf8(value);
    out += '\n';
  };
  auto date = [](const DateTime& dt) {
    if (dt.day <= 0) return std::string("-");
    return format_date(dt.day, dt.month, dt.year) + " " + format_time(dt.hour, dt.minute);
  };
  line("File:", file);
  line("Format:", spectrum_type_name(type));
  line("Title:", header_title(h));
  if (!header_description(h).empty()) line("Description:", header_description(h));
  line("Sample number:", std::to_string(h.sample_number));
  line("Sample ID:", to_string(h.sample_id));
  line("Collected:", date(h.collected));
  line("Sampled:", date(h.sampled));
  c_snprintf(buf, sizeof buf, "%.2f s", h.live_time);
  line("Live time:", buf);
  c_snprintf(buf, sizeof buf, "%.2f s", h.true_time);
  line("True time:", buf);
  double dead = dead_time_percent(h);
  if (dead >= 0) {
    c_snprintf(buf, sizeof buf, "%.2f %%", dead);
    line("Dead time:", buf);
  }
  line("Channels:", std::to_string(h.channels));
  line("Detector / geometry:", std::to_string(h.detector) + " / " + std::to_string(h.geometry));
  c_snprintf(buf, sizeof buf, "%g %s", h.sample_size, to_string(h.units).c_str());
  line("Sample size:", buf);
  if (rec.combined_spectra > 1)
    line("Combined spectra:", std::to_string(rec.combined_spectra) + " spectra summed into this one");
  c_snprintf(buf, sizeof buf, "%.0f", rec.total_counts());
  line("Total counts:", buf);
  out += "\nCalibration\n";
  out += describe_calibration(rec.calibration, rec.efficiency);
  return out;
}

}  // namespace kestrim
