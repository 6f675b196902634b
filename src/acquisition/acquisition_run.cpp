#include "acquisition/acquisition_run.h"

#include <chrono>
#include <cstdio>
#include <unistd.h>

#include "platform/c_locale.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/platform.h"
#include "settings/parameters.h"
#include "settings/session.h"
#include "spectrum/background_record.h"
#include "spectrum/native_file.h"
#include "spectrum/spectrum_record.h"

namespace kestrim {

namespace {

constexpr std::int64_t kTimeWordRange = std::int64_t{1} << 24;
constexpr int kRunningCopyTicks = 30;  // seconds between refreshes of the running copy

std::int64_t monotonic_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool date_empty(const DateTime& d) { return d.day == 0 && d.month == 0 && d.year == 0; }

bool serial_type(const AnalysisParameters& p) { return (p.mca_type & kMcaTypeSerial) != 0; }

// Writes `rec` as a native file at `path` (a copy is encoded: the encoder
// changes the record it is given). Messages as the spectrum writer's.
int write_spectrum_copy(AcquisitionSession& s, const SpectrumRecord& rec, const std::string& path) {
  SpectrumRecord copy = rec;
  const std::vector<std::uint8_t> bytes = encode_native(copy, now_date_time(), nullptr);
  const std::string dir = dir_name(path).empty() ? "." : dir_name(path);
  if (!directory_exists(dir) || ::access(dir.c_str(), W_OK) != 0) {
    s.ui->message_box("Error Creating:- " + path, {}, kMsgError);
    return 0;
  }
  std::string error;
  if (!write_file_atomic(path, bytes, &error, s.paths.write_faults)) {
    s.ui->message_box("Error writing Spectrum file", {}, kMsgError);
    return 0;
  }
  return 1;
}

// The end of a run: the MCA is stopped, the data read a last time when the
// final-read option is set, and saved to the running copy.
int finish_run(AcquisitionSession& s) {
  AcquisitionState& acq = s.acq;
  acq.collecting = false;
  const bool display = s.params.rx720_display_while_collecting != 0;
  int ok = 1;
  if (s.mca != nullptr && !s.mca->lost()) {
    ok = s.mca->stop(s);
    acq.collecting = false;
    if (display && !s.mca->lost()) ok = s.mca->read(s, true) && ok;
  }
  // A unit that has gone leaves its last good read in the count array:
  // that is what is saved.
  if (display || (s.mca != nullptr && s.mca->lost())) ok = save_acquired_data(s, false) && ok;
  return ok;
}

}  // namespace

int acquisition_channels(const AnalysisParameters& p) {
  int c = p.sc_channels;
  if (c <= 0) c = 1024;
  if (c > kAcquisitionChannels) c = kAcquisitionChannels;
  return c;
}

int start_collection(AcquisitionSession& s, bool fresh) {
  Platform& ui = *s.ui;
  AcquisitionState& acq = s.acq;
  SpectrumHeader& h = s.spectrum.header;
  const AnalysisParameters& p = s.params;
  if (acq.collecting) {
    ui.message_box("Data Collection is already active", {}, kMsgError);
    return 0;
  }
  const DateTime now = now_date_time();
  if (fresh && date_empty(h.sampled)) {
    h = SpectrumHeader{};
    h.sampled = now;
  }
  const int channels = acquisition_channels(p);
  h.correction_factor = 1.0f;
  h.channels = static_cast<std::int16_t>(channels);
  if (h.detector_file == 0) h.detector_file = static_cast<std::int16_t>(p.default_detector_file);
  if (h.detector == 0) {
    h.detector = static_cast<std::int16_t>(p.defaults_number);
    h.geometry = static_cast<std::int16_t>(p.default_geometry);
  }
  acq.start = now;
  h.collected = now;
  ui.set_window_title("Plot of MCA data");
  if (fresh) {
    for (int k = 0; k < channels; ++k) acq.counts[static_cast<std::size_t>(k)] = 0;
    acq.elapsed = 0;
    acq.live_accumulator = 0;
    acq.ticks = 0;
    acq.live_word_last = acq.true_word_last = -1;
    acq.live_word_wraps = acq.true_word_wraps = 0;
    s.flags.current_file = kMcaDataName;
    s.hooks.data_changed();
  }
  acq.start_tick_ms = monotonic_ms() - acq.elapsed;
  acq.stop_requested = false;
  s.flags.spectrum_type = kSpectrumTypeFromMca;
  if (p.mca_type == 0 || s.mca == nullptr) return 1;
  if (!s.mca->start(s, fresh)) {
    acq.collecting = false;
    ui.message_box("Could not start collect, Error 1 occured", {}, kMsgError);
    return 0;
  }
  acq.collecting = true;
  ui.set_status("Started data collection");
  return 1;
}

int timer_tick(AcquisitionSession& s) {
  AcquisitionState& acq = s.acq;
  if (s.mca == nullptr || !s.mca->polled_by_timer() || !serial_type(s.params) || !acq.collecting)
    return 0;
  ++acq.ticks;
  if (acq.busy) return 1;
  if (acq.ticks % 2 == 0) {
    const bool full = s.params.rx720_display_while_collecting != 0;
    if (!s.mca->read(s, full) && s.mca->lost()) {
      // The unit has gone: the run ends with what was read last.
      s.ui->message_box("The MCA is no longer connected: the data collection was stopped", {},
                        kMsgWarning);
      acq.stop_requested = true;
    } else if (full && acq.new_data && acq.ticks % kRunningCopyTicks == 0) {
      // A good read of the whole spectrum refreshes the running copy every
      // half minute.
      save_acquired_data(s, false);
    }
  }
  acq.counts[1] += 1;
  acq.elapsed += 1000;
  if (!acq.stop_requested && acq.counts[1] < s.params.preset_time) return 1;

  const bool lost = s.mca->lost();
  finish_run(s);
  acq.stop_requested = false;
  if (s.params.auto_acquisition_cycle == 0) return 0;

  if (s.params.auto_save_number > 0) {
    std::string path;
    if (save_cycle_spectrum(s, path)) {
      s.hooks.save_parameters();
      // A unit that has gone ends the cycle with its last data saved.
      if (!lost) {
        s.hooks.analyse_cycle_spectrum(path);
        s.hooks.reload_parameters();
      }
    }
  }
  if (lost || !s.hooks.another_run()) return 0;
  return start_collection(s, true);
}

int stop_collection(AcquisitionSession& s) {
  if (!s.acq.collecting) return 1;
  return finish_run(s);
}

int save_acquired_data(AcquisitionSession& s, bool with_window) {
  AcquisitionState& acq = s.acq;
  SpectrumRecord& rec = s.spectrum;
  if (!acq.new_data) return 1;
  if (s.flags.spectrum_type != kSpectrumTypeFromMca && rec.counts[1] > 0) return 1;
  if (with_window && acq.collecting) {
    s.ui->message_box("The MCA data collection will be stopped", "Warning", kMsgWarning);
    acq.collecting = false;
  }
  int channels = rec.header.channels;
  if (channels <= 0 || channels > kAcquisitionChannels) channels = acquisition_channels(s.params);
  for (int k = 0; k < channels; ++k)
    rec.counts[static_cast<std::size_t>(k)] = static_cast<float>(acq.counts[static_cast<std::size_t>(k)]);
  float live = 0;
  float truth = 0;
  if (serial_type(s.params) || s.params.mca_type == 0) {
    live = truth = static_cast<float>(acq.counts[0]);
  } else {
    // The sound card: true time from the elapsed milliseconds, live time
    // from the accumulator in 10 ms units (pulse-height mode).
    truth = static_cast<float>(acq.elapsed) / 1000.0f;
    live = static_cast<float>(acq.live_accumulator) / 100.0f;
  }
  rec.header.live_time = live;
  rec.header.true_time = truth;
  const int written =
      write_spectrum_copy(s, rec, join_path(s.paths.working_dir, kRunningCopyName));
  rec.counts[0] = live;
  rec.counts[1] = truth;
  if (with_window) {
    acq.new_data = false;
    s.hooks.data_changed();
  }
  return written;
}

std::string cycle_file_path(const AcquisitionSession& s, int number) {
  char name[32];
  c_snprintf(name, sizeof name, "SP%04d.DAT", number);
  return join_path(s.spectra_dir.empty() ? s.paths.working_dir : s.spectra_dir, name);
}

int confirm_cycle_file(AcquisitionSession& s) {
  if (s.params.auto_acquisition_cycle == 0 || s.params.auto_save_number <= 0) return 1;
  const std::string path = cycle_file_path(s, s.params.auto_save_number);
  if (!file_exists(path)) return 1;
  const int answer = s.ui->message_box("Overwrite file " + path + " ?",
                                       "The Spectrum data file already exists", kMsgYesNo, kAnswerNo);
  return answer == kAnswerYes ? 1 : 0;
}

int save_cycle_spectrum(AcquisitionSession& s, std::string& path) {
  path = cycle_file_path(s, s.params.auto_save_number);
  if (!write_spectrum_copy(s, s.spectrum, path)) return 0;
  ++s.params.auto_save_number;
  s.flags.current_file = base_name(path);
  s.flags.spectrum_changed = false;
  remove_file(join_path(s.paths.working_dir, kRunningCopyName));
  return 1;
}

int recover_running_copy(AcquisitionSession& s) {
  const std::string path = join_path(s.paths.working_dir, kRunningCopyName);
  if (!file_exists(path)) return 0;
  std::vector<std::uint8_t> bytes;
  if (!read_file(path, bytes)) return 0;
  SpectrumRecord rec;
  BackgroundRecord background;
  NativeReadResult result;
  if (read_native(bytes, rec, background, NativeReadOptions{}, result) != 1) return 0;
  AcquisitionState& acq = s.acq;
  const int channels = rec.header.channels < kAcquisitionChannels ? rec.header.channels
                                                                   : kAcquisitionChannels;
  std::fill(acq.counts.begin(), acq.counts.end(), 0);
  for (int k = 2; k < channels; ++k)
    acq.counts[static_cast<std::size_t>(k)] = static_cast<std::int32_t>(rec.counts[static_cast<std::size_t>(k)]);
  acq.counts[0] = static_cast<std::int32_t>(rec.header.live_time);
  acq.counts[1] = static_cast<std::int32_t>(rec.header.true_time);
  acq.live_accumulator = static_cast<std::int64_t>(rec.header.live_time) * 100;
  acq.elapsed = static_cast<std::int64_t>(rec.header.true_time) * 1000;
  acq.start = rec.header.collected;
  // A continued run goes on from the MCA's time words where they were.
  const std::int64_t live_ms = static_cast<std::int64_t>(rec.header.live_time) * 1000;
  const std::int64_t true_ms = acq.elapsed;
  acq.live_word_wraps = live_ms / kTimeWordRange;
  acq.live_word_last = live_ms % kTimeWordRange;
  acq.true_word_wraps = true_ms / kTimeWordRange;
  acq.true_word_last = true_ms % kTimeWordRange;
  acq.new_data = true;
  rec.counts[0] = rec.header.live_time;
  rec.counts[1] = rec.header.true_time;
  s.spectrum = rec;
  s.flags.spectrum_type = kSpectrumTypeFromMca;
  s.flags.current_file = kMcaDataName;
  s.hooks.data_changed();
  return 1;
}

}  // namespace kestrim
