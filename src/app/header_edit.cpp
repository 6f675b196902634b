#include "app/header_edit.h"
#include "platform/c_locale.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "app/settings_bridge.h"
#include "app/state.h"
#include "platform/platform.h"
#include "spectrum/dates.h"

namespace kestrim {

namespace {

bool parse_real(const std::string& text, double& value) {
  const char* s = text.c_str();
  char* end = nullptr;
  errno = 0;
  double v = c_strtod(s, &end);
  if (end == s || errno == ERANGE || !std::isfinite(v)) return false;
  while (*end == ' ' || *end == '\t') ++end;
  if (*end != 0) return false;
  value = v;
  return true;
}

bool parse_long(const std::string& text, long& value) {
  const char* s = text.c_str();
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(s, &end, 10);
  if (end == s || errno == ERANGE || v < INT32_MIN || v > INT32_MAX) return false;
  while (*end == ' ' || *end == '\t') ++end;
  if (*end != 0) return false;
  value = v;
  return true;
}

std::string real_text(double v) {
  char buf[64];
  c_snprintf(buf, sizeof buf, "%g", v);
  return buf;
}

}  // namespace


HeaderEdit header_edit_from(const State& state) {
  const SpectrumHeader& h = state.spectrum.header;
  HeaderEdit e;
  e.description = header_description(h);
  e.title = header_title(h);
  if (!e.description.empty())
    while (!e.title.empty() && e.title.back() == ' ') e.title.pop_back();
  e.user = to_string(h.user);
  e.sample_number = std::to_string(h.sample_number);
  e.sampling_uncertainty = real_text(h.sampling_uncertainty);
  e.live_time = real_text(h.live_time);
  e.sample_size = format_sample_size(h.sample_size);
  e.units = to_string(h.units);
  e.sample_date = format_date(h.sampled.day, h.sampled.month, h.sampled.year);
  e.sample_time = format_time(h.sampled.hour, h.sampled.minute);
  e.collection_date = format_date(h.collected.day, h.collected.month, h.collected.year);
  e.collection_time = format_time(h.collected.hour, h.collected.minute);
  e.location = to_string(h.location);
  e.sample_id = to_string(h.sample_id);
  e.sample_type = to_string(h.sample_type);
  e.geometry = h.geometry;
  return e;
}

int apply_header_edit(State& state, const HeaderEdit& e) {
  Platform& ui = *state.ui;
  long number = 0;
  double unc = 0, live = 0, size = 0;
  if (!parse_long(e.sample_number, number)) {
    ui.message_box("The Sample Number should be a whole number", {}, kMsgWarning);
    return 0;
  }
  if (!parse_real(e.sampling_uncertainty, unc)) {
    ui.message_box("The Sampling Uncertainty should be a number", {}, kMsgWarning);
    return 0;
  }
  if (!parse_real(e.live_time, live)) {
    ui.message_box("The Live Time should be a number", {}, kMsgWarning);
    return 0;
  }
  if (!parse_real(e.sample_size, size)) {
    ui.message_box("The Sample Size should be a number", {}, kMsgWarning);
    return 0;
  }
  if (e.units.size() > 4) {
    ui.message_box("The Units should have at most 4 characters", {}, kMsgWarning);
    return 0;
  }
  int sd, sm, sy, sh, smin, cd, cm, cy, ch, cmin;
  if (!parse_date(ui, e.sample_date, sd, sm, sy) || !parse_time(ui, e.sample_time, sh, smin) ||
      !parse_date(ui, e.collection_date, cd, cm, cy) ||
      !parse_time(ui, e.collection_time, ch, cmin))
    return 0;

  SpectrumHeader& h = state.spectrum.header;
  set_title(h, e.title, e.description);
  assign(h.user, e.user);
  h.sample_number = static_cast<std::int32_t>(number);
  h.sampling_uncertainty = static_cast<float>(unc);
  state.params.default_sampling_uncertainty = static_cast<float>(unc);
  h.live_time = static_cast<float>(live);
  state.spectrum.counts[0] = h.live_time;
  h.sample_size = static_cast<float>(size);
  assign(h.units, e.units, false);
  h.sampled = DateTime{static_cast<std::int16_t>(sd), static_cast<std::int16_t>(sm),
                       static_cast<std::int16_t>(sy), static_cast<std::int16_t>(sh),
                       static_cast<std::int16_t>(smin)};
  h.collected = DateTime{static_cast<std::int16_t>(cd), static_cast<std::int16_t>(cm),
                         static_cast<std::int16_t>(cy), static_cast<std::int16_t>(ch),
                         static_cast<std::int16_t>(cmin)};
  assign(h.location, e.location);
  assign(h.sample_id, e.sample_id);
  assign(h.sample_type, e.sample_type);
  if (e.geometry != h.geometry) {
    h.geometry = static_cast<std::int16_t>(e.geometry);
    if (h.detector_file > 0) app_read_detector_calibration(state, h.detector_file, e.geometry);
  }
  state.app.spectrum_changed = true;
  return 1;
}

}  // namespace kestrim
