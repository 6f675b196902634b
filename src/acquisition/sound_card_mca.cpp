#include "acquisition/sound_card_mca.h"

#include <chrono>

#include "platform/c_format.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/platform.h"
#include "settings/parameters.h"
#include "settings/session.h"
#include "spectrum/spectrum_record.h"

namespace kestrim {

namespace {

std::int64_t monotonic_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Whether the seconds counter passed a multiple of `every` between two
// buffers (buffers last less than a second, so the counter may skip one).
bool crossed(std::int64_t before_s, std::int64_t now_s, int every) {
  return now_s > 0 && now_s / every != before_s / every;
}

}  // namespace

SoundCardMca::SoundCardMca(SampleSource& source, const SoundCardOptions& options, const PulseShape& shape)
    : source_(source), options_(options), analyser_(options.settings, shape) {
  buffer_.resize(static_cast<std::size_t>(card_buffer_samples(source.rate(), source.channels())));
}

int SoundCardMca::start(AcquisitionSession& s, bool fresh) {
  const AnalysisParameters& p = s.params;
  if (fresh) {
    analyser_.reset();
    frames_ = 0;
  }
  elapsed_base_ = s.acq.elapsed - frames_ * 1000 / source_.rate();
  correction_.channel = p.gain_correction != 0;
  correction_.temperature = p.temperature_correction != 0 && temp_ != nullptr;
  if (correction_.channel) {
    correction_.uncorrected.assign(s.acq.counts.size(), 0);
    if (fresh) {
      correction_.first_correction = true;
      correction_.correction = 0;
      correction_.divisor = acquisition_channels(p);
    }
  }
  if (correction_.temperature && logger_ != nullptr && temp_ != nullptr) {
    logger_->read(*temp_);
    temp_->start_temperature = temp_->current_temperature;
  }
  lost_ = false;
  return 1;
}

int SoundCardMca::stop(AcquisitionSession& s) {
  s.acq.collecting = false;
  s.acq.wave_in_active = false;
  return 1;
}

std::int64_t SoundCardMca::elapsed_ms(const AcquisitionSession& s) const {
  if (options_.clock_from_samples) return elapsed_base_ + frames_ * 1000 / source_.rate();
  return monotonic_ms() - s.acq.start_tick_ms;
}

int SoundCardMca::end_of_input(AcquisitionSession& s, const char* status) {
  s.acq.collecting = false;
  s.acq.wave_in_active = false;
  save_acquired_data(s, false);
  s.ui->set_status(status);
  return 0;
}

int SoundCardMca::preset_reached(AcquisitionSession& s) {
  const PulseHeightSettings& ps = options_.settings;
  const AcquisitionState& acq = s.acq;
  if (ps.mcs) {
    const int dwell = ps.dwell_ms > 0 ? ps.dwell_ms : 1;
    return acq.elapsed / dwell + 2 >= acquisition_channels(s.params);
  }
  if (s.params.preset_time <= 0) return 0;
  const std::int32_t t = options_.preset_true_time ? acq.counts[1] : acq.counts[0];
  return t >= s.params.preset_time;
}

void SoundCardMca::show_rates(AcquisitionSession& s, const BufferResult& r) {
  const long long q = r.time_units;
  if (s.acq.counts[1] == 0 || q <= 0 || options_.settings.mcs) return;
  const long long accepted = r.accepted * 100 / q;
  const long long rejected = r.rejected * 100 / q;
  std::string title;
  if (options_.detector_weight_kg > 0) {
    const double k = s.spectrum.calibration.energy[1];
    const double H = static_cast<double>(r.height_sum) * 100.0 / static_cast<double>(q);
    const double dose = k * H * 5.767e-7 / options_.detector_weight_kg;
    const double mean = accepted > 0 ? k * H / static_cast<double>(accepted) : 0.0;
    title = c_format("Gamma Doserate:- %3.2f uSv/h, Mean Energy:- %1.0f KeV.", dose, mean);
  } else {
    title = c_format("Total Countrate: - %lld cps, rejected: - %lld cps", accepted + rejected, rejected);
    if (accepted < 5 * rejected) title += " *** HIGH COUNTRATE ***";
  }
  s.ui->set_window_title(title);
}

int SoundCardMca::cycle(AcquisitionSession& s) {
  AcquisitionState& acq = s.acq;
  if (!acq.collecting) return 0;
  if (preset_reached(s)) {
    end_of_input(s, "Preset Count Time reached");
    if (s.params.auto_acquisition_cycle == 0) {
      s.ui->message_box("Preset Count Time reached", {}, kMsgOk);
      return 0;
    }
    if (s.params.auto_save_number > 0) {
      std::string path;
      if (save_cycle_spectrum(s, path)) {
        s.hooks.save_parameters();
        s.hooks.analyse_cycle_spectrum(path);
        s.hooks.reload_parameters();
      }
    }
    if (!s.hooks.another_run()) return 0;
    return start_collection(s, true);
  }
  std::string status = "Collecting data";
  if (s.params.auto_acquisition_cycle != 0)
    status += c_format(" in Auto Cycle mode for file SP%04d.DAT", s.params.auto_save_number);
  else if (correction_.temperature)
    status += ", Gain Correction enabled using temperature";
  else if (correction_.channel)
    status += c_format(", Gain Correction enabled using channel %d", s.params.gain_reference_centre);
  s.ui->set_status(status);

  acq.wave_in_active = true;
  const long n = source_.read(buffer_.data(), static_cast<long>(buffer_.size()));
  acq.wave_in_active = false;
  if (n < 0) {
    lost_ = true;
    s.ui->message_box(source_.error(), {}, kMsgError);
    return end_of_input(s, "Finished Collecting data");
  }
  if (n == 0) return end_of_input(s, "Finished Collecting data");
  if (source_.overruns() > overruns_seen_) {
    s.ui->message_box(c_format("The sound card overran %lld time(s): recorded samples were lost",
                               source_.overruns() - overruns_seen_),
                      "Warning", kMsgWarning);
    overruns_seen_ = source_.overruns();
  }
  frames_ += n / source_.channels();
  ++buffers_;

  DiagCapture diag;
  const bool diagnostic = acq.diagnostic;
  acq.busy = true;
  last_ = analyser_.analyse(buffer_.data(), n, acq, &correction_, diagnostic ? &diag : nullptr);
  const std::int64_t before_s = acq.elapsed / 1000;
  acq.elapsed = elapsed_ms(s);
  const std::int64_t now_s = acq.elapsed / 1000;
  acq.counts[1] = static_cast<std::int32_t>(now_s);
  acq.new_data = true;
  show_rates(s, last_);
  acq.busy = false;

  if (diagnostic) {
    const std::string path = join_path(s.paths.working_dir, kDiagName);
    if (!write_text_atomic(path, diag.log)) s.ui->message_box("Error Creating:- " + path, {}, kMsgError);
    acq.diagnostic = false;
    s.ui->set_status("");
    acq.collecting = false;
    return 0;
  }
  s.hooks.data_changed();
  const int channels = acquisition_channels(s.params);
  if (correction_.channel && locator_ != nullptr)
    channel_correction(correction_, acq.counts, channels, s.params.gain_reference_centre,
                       s.params.gain_reference_window, *locator_);
  if (crossed(before_s, now_s, kSaveEverySeconds)) save_acquired_data(s, false);
  if (correction_.temperature && temp_ != nullptr && crossed(before_s, now_s, kTemperatureEverySeconds)) {
    if (logger_ != nullptr && logger_->is_open()) logger_->read(*temp_);
    update_temperature_correction(*temp_, channels, correction_);
  }
  return 1;
}

}  // namespace kestrim
