// Gain correction of the sound-card MCA: by temperature (a temperature
// logger read through its vendor library, loaded at run time, and a
// calibration of a reference peak's channel against temperature kept in
// "TempCorr.dat") or by a reference channel (a peak located in the
// uncorrected counts as they accumulate is kept at a chosen centre
// channel). Both set the one correction state that the pulse-height
// analysis applies to every accepted pulse.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrim {

class Platform;

inline constexpr const char* kTempCorrName = "TempCorr.dat";
inline constexpr const char* kTempCalName = "Temp_cal.csv";
inline constexpr int kTempCorrBytes = 444;
inline constexpr int kMaxTempPoints = 50;
inline constexpr int kMaxCorrection = 50;  // a larger temperature correction is discarded

// The correction the pulse-height analysis applies.
struct CorrectionState {
  bool temperature = false;  // temperature correction active (logger mode)
  bool channel = false;      // "Perform Gain Correction": reference-channel mode
  int correction = 0;        // whole channels; 0 = none
  int divisor = 0;           // channel mode: centre / correction, or C when 0
  double reference_value = 0;  // channel(Tref)
  double current_value = 0;    // channel(Tcur)
  bool first_correction = false;  // set by a fresh start
  std::vector<std::int32_t> uncorrected;  // channel mode: counts without correction
};

// "TempCorr.dat": the calibration of the reference peak's channel against
// temperature and the logger set-up.
struct TempCorrRecord {
  std::array<float, kMaxTempPoints> temperatures{};
  std::array<float, kMaxTempPoints> channels{};
  std::array<float, 3> coefficients{};  // channel(T) = b0 + b1 T + b2 T^2
  float current_temperature = 0;
  float reference_temperature = 0;
  std::int16_t unit = 0;                // logger unit; 0 = not set
  std::int32_t coefficient_count = 2;   // 2 first order, 3 second order
  std::int32_t points = 0;
  std::int32_t logger_open = 0;
  std::int32_t enabled = 0;             // "&Enable Correction"
  float start_temperature = 0;          // at the start of the current run
};

std::vector<std::uint8_t> encode_temp_corr(const TempCorrRecord& r);
// false when the bytes are not a 444-byte record.
bool decode_temp_corr(const std::vector<std::uint8_t>& bytes, TempCorrRecord& r);
// Reads "TempCorr.dat" from `dir` ("Could not open Temperature Correction
// data file TempCorr.dat"). 1 on success.
int read_temp_corr(Platform& ui, const std::string& dir, TempCorrRecord& r);
int write_temp_corr(Platform& ui, const std::string& dir, const TempCorrRecord& r);

// Reads the calibration points of "Temp_cal.csv" (a header line, then
// "temperature, channel" a line) into `r`, replacing its points; at most
// 50 ("Warning, can only use 50 points"). 1 on success.
int read_temp_cal(Platform& ui, const std::string& path, TempCorrRecord& r);

// Fits channel(T) to the points: first order, or second order when asked
// and there are more than 2 points. 0 with fewer than 2 points or a
// singular fit.
int fit_temp_calibration(TempCorrRecord& r, bool second_order);

double channel_at(const TempCorrRecord& r, double temperature);

// The temperature logger, reached through the vendor's library loaded at
// run time (th03_open_unit, th03_set_channel, th03_get_temp,
// th03_close_unit).
class TemperatureLogger {
 public:
  TemperatureLogger() = default;
  ~TemperatureLogger();
  TemperatureLogger(const TemperatureLogger&) = delete;
  TemperatureLogger& operator=(const TemperatureLogger&) = delete;
  // Loads the library at `library` ("Failed to Load Library '%s'", caption
  // "Temperature correction is enabled") and, when the record names a
  // unit, opens it ("Could not open Comm Port %d for Temperature
  // correction"). Sets r.logger_open. 1 when the unit is open.
  int open(Platform& ui, const std::string& library, TempCorrRecord& r);
  bool is_open() const { return open_; }
  // Reads the temperature into r.current_temperature (0 when the logger is
  // not open). Returns it.
  double read(TempCorrRecord& r);
  void close();

 private:
  void* handle_ = nullptr;
  void* open_unit_ = nullptr;
  void* set_channel_ = nullptr;
  void* get_temp_ = nullptr;
  void* close_unit_ = nullptr;
  bool open_ = false;
  std::int16_t unit_ = 0;
};

// The temperature update: with the correction enabled and a temperature
// above 0, sets the reference and current values and the correction
// C - round(C * current / reference); a correction of 51 channels or more
// is discarded (0).
void update_temperature_correction(const TempCorrRecord& r, int channels, CorrectionState& c);

// Finds the reference peak (centre channel, window) in counts; 0 = none.
class ReferencePeakLocator {
 public:
  virtual ~ReferencePeakLocator() = default;
  virtual int locate(const std::int32_t* counts, int channels, int centre, int window) = 0;
};

// The correction by reference channel after a buffer: when the window of
// the uncorrected counts holds on average 20 counts a channel or more, the
// locator searches it and the uncorrected counts are cleared; a peak sets
// correction = centre - peak and the divisor; the first correction after a
// fresh start re-bins `counts`. Returns 1 when the correction was set.
int channel_correction(CorrectionState& c, std::vector<std::int32_t>& counts, int channels, int centre,
                       int window, ReferencePeakLocator& locator);

// Re-bins counts acquired before the first correction (divisor g).
void rebin_counts(std::vector<std::int32_t>& counts, int channels, int divisor);

}  // namespace kestrim
