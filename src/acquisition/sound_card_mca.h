// The sound-card MCA as a unit of the shared run logic: each recorded
// buffer (from the card, a WAV recording or the pulse generator) is tested
// against the preset, analysed into the count array, timed, and followed
// by the gain corrections and the periodic saves.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "acquisition/acquisition_run.h"
#include "acquisition/gain_correction.h"
#include "acquisition/pulse_height.h"
#include "acquisition/pulse_shape.h"
#include "acquisition/sample_source.h"

namespace kestrim {

inline constexpr const char* kDiagName = "Diag.txt";
inline constexpr int kSaveEverySeconds = 1200;
inline constexpr int kTemperatureEverySeconds = 120;

struct SoundCardOptions {
  PulseHeightSettings settings;
  bool preset_true_time = false;  // "Preset &True Time" (else live time)
  // The clock of the run: the wall clock for a card, the samples read for
  // a recording or the generator.
  bool clock_from_samples = true;
  double detector_weight_kg = 0;  // dose-rate line when above 0
};

class SoundCardMca final : public McaUnit {
 public:
  SoundCardMca(SampleSource& source, const SoundCardOptions& options, const PulseShape& shape);

  int start(AcquisitionSession& s, bool fresh) override;
  int stop(AcquisitionSession& s) override;
  int read(AcquisitionSession&, bool) override { return 1; }
  bool lost() const override { return lost_; }
  bool polled_by_timer() const override { return false; }

  // One buffer cycle: the preset test, one buffer read and analysed, the
  // times, the rates, the gain corrections, the saves. Returns 1 while the
  // collection goes on.
  int cycle(AcquisitionSession& s);

  // Gain correction: the reference-channel locator (needed when the
  // parameters' "Perform Gain Correction" is on) and the temperature
  // logger with its calibration (when "Temperature Correction" is on).
  void set_locator(ReferencePeakLocator* locator) { locator_ = locator; }
  void set_temperature(TemperatureLogger* logger, TempCorrRecord* record) {
    logger_ = logger;
    temp_ = record;
  }
  CorrectionState& correction() { return correction_; }
  PulseHeightAnalyser& analyser() { return analyser_; }
  const BufferResult& last() const { return last_; }
  long long buffers() const { return buffers_; }
  long long overruns_reported() const { return overruns_seen_; }

 private:
  int preset_reached(AcquisitionSession& s);
  int end_of_input(AcquisitionSession& s, const char* status);
  void show_rates(AcquisitionSession& s, const BufferResult& r);
  std::int64_t elapsed_ms(const AcquisitionSession& s) const;

  SampleSource& source_;
  SoundCardOptions options_;
  PulseHeightAnalyser analyser_;
  std::vector<std::int16_t> buffer_;
  CorrectionState correction_;
  ReferencePeakLocator* locator_ = nullptr;
  TemperatureLogger* logger_ = nullptr;
  TempCorrRecord* temp_ = nullptr;
  BufferResult last_;
  long long buffers_ = 0;
  long long frames_ = 0;           // frames read in this run
  std::int64_t elapsed_base_ = 0;  // ms the run had when it was (re)started
  long long overruns_seen_ = 0;
  bool lost_ = false;
};

}  // namespace kestrim
