#include "reports/text_export.h"

#include <algorithm>

#include "reports/report_session.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "platform/c_format.h"
#include "reports/template_engine.h"
#include "reports/template_reports.h"
#include "settings/calibration_functions.h"

namespace kestrim {

namespace {

// Gy/s per keV/s in 1 kg (1.602e-16) x 3600 s/h x 1e6 uGy/Gy.
constexpr double kDoseFactor = 5.767e-7;

// Writes `text` to `path`; "Error Creating %s" when that fails.
int write_text(const ReportSession& state, const std::string& path, const std::string& text) {
  if (!write_text_atomic(path, text)) {
    state.ui->message_box(c_format("Error Creating %s", path.c_str()), "", kMsgError);
    return 0;
  }
  return 1;
}

// 1 go on, 0 the user declined the overwrite.
int confirm_overwrite(const ReportSession& state, const std::string& path) {
  if (!file_exists(path)) return 1;
  int answer = state.ui->message_box(c_format("Overwrite file %s ?", path.c_str()),
                                     "The file already exists", kMsgYesNo);
  return answer == kAnswerYes ? 1 : 0;
}

}  // namespace

int text_channels_per_line(int stored) {
  int k = stored & 0xFFFF;
  if (k == 0) return 1;
  return std::min(k, 16);
}

std::string text_spectrum(const ReportSession& state) {
  std::string out;
  std::string tpl;
  if (state.params.text_header_lines > 1 && read_template(state, "spctxt.tpl", tpl)) {
    TokenContext ctx(state);
    out = substitute_template(ctx, tpl, "spctxt.tpl", state.ui);
  }
  const int k = text_channels_per_line(state.params.text_channels_per_line);
  const std::vector<float>& counts = state.spectrum.counts;
  const int size = static_cast<int>(counts.size());
  const int channels = std::clamp(static_cast<int>(state.spectrum.header.channels), 0, size);
  for (int first = 0; first < channels; first += k) {
    out += c_format("%5d", first);
    for (int j = 0; j < k; ++j) {
      double v = first + j < size ? counts[static_cast<std::size_t>(first + j)] : 0.0;
      out += c_format("%9.0f", v);
    }
    out += "\r\n";
  }
  return out;
}

int export_text_spectrum(const ReportSession& state, const std::string& path) {
  std::string target = resolve_path(path);
  if (!confirm_overwrite(state, target)) return 0;
  state.ui->set_status("Saving Spectral data...");
  int ok = write_text(state, target, text_spectrum(state));
  state.ui->set_status("");
  return ok;
}

int save_text_spectrum(const ReportSession& state) {
  std::string proposed = state.flags.current_file;
  std::string ext = extension_of(proposed);
  if (!ext.empty()) proposed.resize(proposed.size() - ext.size() - 1);
  proposed += ".txt";
  for (;;) {
    FileDialog dialog;
    dialog.title = "Save Text Spectral Data File";
    dialog.filters = {{"Text Files(*.txt)", "*.txt"}};
    dialog.initial_directory = state.paths.working_dir;
    dialog.initial_name = proposed;
    if (!state.ui->save_file_dialog(dialog) || dialog.paths.empty()) return 0;
    std::string path = dialog.paths.front();
    if (base_name(path).find('.') == std::string::npos) path += ".txt";
    path = resolve_path(path);
    proposed = base_name(path);
    if (!confirm_overwrite(state, path)) continue;
    state.ui->set_status("Saving Spectral data...");
    int ok = write_text(state, path, text_spectrum(state));
    state.ui->set_status("");
    if (ok) return 1;
  }
}

double dose_kev_per_channel(const CalibrationRecord& cal) {
  // A calibrated spectrum uses its linear coefficient (constant and higher
  // terms ignored); an uncalibrated one has channel = energy, 1 keV each.
  if (term_count(cal.energy_terms) >= 2) return cal.energy[1];
  return channel_to_energy(cal, 1.0) - channel_to_energy(cal, 0.0);
}

DoseRate compute_dose_rate(const ReportSession& state, double detector_kg) {
  const SpectrumRecord& s = state.spectrum;
  const int channels = std::clamp(static_cast<int>(s.header.channels), 0, static_cast<int>(s.counts.size()));
  double s0 = 0, s1 = 0;
  for (int i = 2; i < channels; ++i) {
    double n = s.counts[static_cast<std::size_t>(i)];
    s0 += n;
    s1 += i * n;
  }
  const double c1 = dose_kev_per_channel(s.calibration);
  DoseRate d;
  d.mean_energy_kev = s0 != 0 ? c1 * s1 / s0 : 0.0;
  const double live = s.header.live_time;
  if (live > 0) s1 /= live;
  if (detector_kg != 0) d.micro_sv_per_hour = c1 * s1 * kDoseFactor / detector_kg;
  return d;
}

void update_dose_rate(const ReportSession& state) {
  const double m = state.params.dose_detector_weight;
  if (m == 0) {
    state.flags.dose_rate_line.clear();
    return;
  }
  DoseRate d = compute_dose_rate(state, m);
  state.flags.dose_rate_line = c_format("Gamma Doserate:- %3.2f uSv/h, Mean Energy:- %1.0f KeV.",
                                      d.micro_sv_per_hour, d.mean_energy_kev);
  state.flags.window_title = state.flags.dose_rate_line;
}

}  // namespace kestrim
