#include "acquisition/pulse_height.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "acquisition/acquisition_run.h"
#include "platform/c_format.h"
#include "settings/parameters.h"

namespace kestrim {

namespace {

constexpr int kFirstSample = 32;        // the first samples of a buffer are not analysed
constexpr int kSaturatedHigh = 32700;   // a sample above this abandons a pulse
constexpr int kSaturatedLow = -20000;   // as one below this
constexpr int kDiagWindow = 8190;
constexpr int kDiagPulses = 500;
constexpr long kBlock = 4096;           // samples filtered at a time

// The filter sums P(n) = sum of x[n + i] c[i] over a block, tap by tap so
// that the compiler vectorises them (with AVX2 where the processor has it).
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define KESTRIM_FILTER_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define KESTRIM_FILTER_CLONES
#endif

KESTRIM_FILTER_CLONES void filter32(const std::int32_t* x, const int* c, int taps, long n, std::int32_t* p) {
  for (long j = 0; j < n; ++j) p[j] = 0;
  for (int i = 0; i < taps; ++i) {
    const std::int32_t ci = c[i];
    const std::int32_t* xi = x + i;
    for (long j = 0; j < n; ++j) p[j] += xi[j] * ci;
  }
}

KESTRIM_FILTER_CLONES void filter64(const std::int32_t* x, const int* c, int taps, long n, std::int64_t* p) {
  for (long j = 0; j < n; ++j) p[j] = 0;
  for (int i = 0; i < taps; ++i) {
    const std::int64_t ci = c[i];
    const std::int32_t* xi = x + i;
    for (long j = 0; j < n; ++j) p[j] += static_cast<std::int64_t>(xi[j]) * ci;
  }
}

}  // namespace

PulseHeightSettings pulse_height_settings(const AnalysisParameters& p) {
  PulseHeightSettings s;
  s.rate = (p.mca_type & kMcaTypeSoundBlaster) != 0 ? kRate44k : kRate96k;
  s.input_channels = (p.mca_type & 1) != 0 ? 2 : 1;
  s.swap = p.sc_swap_inputs != 0;
  s.negative = p.sc_negative_input != 0;
  s.channels = p.sc_channels > 0 ? p.sc_channels : 1024;
  if (s.channels > kAcquisitionChannels) s.channels = kAcquisitionChannels;
  s.adc_divisor = p.sc_adc_range_divisor > 0 ? p.sc_adc_range_divisor : 1;
  s.baseline_points = p.sc_baseline_points;
  s.baseline_delay = p.sc_delay;
  s.lld = p.sc_adc_lld;
  s.uld = p.sc_adc_uld;
  s.trigger = p.sc_trigger_threshold;
  s.readings = p.sc_baseline_readings == 0 ? 5 : p.sc_baseline_readings;
  s.max_readings = p.sc_max_readings;
  s.leading_edge = p.sc_leading_edge_readings < 2 ? 12 : p.sc_leading_edge_readings;
  return s;
}

std::string check_pulse_height_settings(PulseHeightSettings& s) {
  if (s.baseline_points < 1 || s.baseline_points > 12) return "The 'Baseline points' should be between 1 and 12";
  if (s.baseline_delay < 0 || s.baseline_delay > 10) return "The 'Baseline Delay' should be between 0 and 10";
  if (s.lld < 1 || s.lld > s.channels) return "The 'ADC LLD' should be between 1 and the number of channels";
  if (s.uld > s.channels) s.uld = s.channels;
  if (s.uld <= s.lld) return "The 'ADC ULD' should be greater than the LLD value";
  if (s.readings < 5 || s.readings > 15) return "The 'Readings' value should be between 5 and 15";
  if (s.max_readings < 5 || s.max_readings > 50)
    return "The 'Max Readings for Conversion' value should be between 5 and 50";
  if (s.leading_edge < 1 || s.leading_edge > 20)
    return "The 'Leading Edge Readings ' value should be between 1 and 20";
  if (s.trigger < 2 || s.trigger > 20) return "The 'ADC Trigger Threshold' should be between 2 and 20";
  return {};
}

int trigger_level(const PulseHeightSettings& s) {
  const int channels = s.channels > 0 ? s.channels : 1;
  const int divisor = s.adc_divisor > 0 ? s.adc_divisor : 1;
  const int scale = 32768 / channels / divisor;
  return scale == 0 ? s.trigger : s.trigger * scale;
}

PulseHeightAnalyser::PulseHeightAnalyser(const PulseHeightSettings& settings, const PulseShape& shape)
    : s_(settings) {
  L_ = std::clamp(s_.readings, 1, kMaxReadings);
  for (int i = 0; i < L_; ++i) {
    c_[static_cast<std::size_t>(i)] = shape.coefs[static_cast<std::size_t>(i)];
    S_ += std::llabs(shape.coefs[static_cast<std::size_t>(i)]);
  }
  // Samples stay within +-2^17 after negation and levelling: 32-bit sums
  // hold when the coefficients' magnitudes add up to less than 2^13.
  narrow_ = S_ < (1 << 13);
}

void PulseHeightAnalyser::filter_block(long from, long to) {
  const std::int32_t* x = x_.data() + from - L_ / 2;
  if (narrow_)
    filter32(x, c_.data(), L_, to - from, p32_.data());
  else
    filter64(x, c_.data(), L_, to - from, p_.data());
}

void PulseHeightAnalyser::accumulate(int h, long position, AcquisitionState& acq, CorrectionState* c,
                                     long long ms_before) {
  std::vector<std::int32_t>& counts = acq.counts;
  const int top = std::min<int>(s_.channels, static_cast<int>(counts.size()));
  auto add = [&](int k) {
    if (k >= 0 && k < top) ++counts[static_cast<std::size_t>(k)];
  };
  if (s_.mcs) {
    const int per_ms = s_.rate / 1000;
    long long ms = position / per_ms;
    if (s_.input_channels == 2 && s_.mode == kInputNormal) ms /= 2;
    const int dwell = s_.dwell_ms > 0 ? s_.dwell_ms : 1;
    const long long k = (ms + ms_before) / dwell + 2;
    if (k < top) ++counts[static_cast<std::size_t>(k)];
    return;
  }
  if (c != nullptr && c->channel) {
    if (h < static_cast<int>(c->uncorrected.size())) ++c->uncorrected[static_cast<std::size_t>(h)];
    const int g = c->divisor;
    if (c->correction != 0 && g != 0) {
      const int hc = h + h / g;
      if (s_.lld < hc && hc < s_.uld) {
        if (h % g == 0 && h / g > 0) {
          add(hc - 1);
          add(hc);
        } else if (h % g == 0 && h / g == 0) {
        } else {
          add(hc);
        }
      }
      return;
    }
    add(h);
    return;
  }
  if (c != nullptr && c->temperature && c->correction != 0 && c->current_value > 0) {
    const double r = (c->reference_value - c->current_value) / c->current_value;
    const int d = static_cast<int>(std::floor(r * h + 0.5));
    const int d1 = static_cast<int>(std::floor(r * (h - 1) + 0.5));
    const int hc = h + d;
    if (s_.lld < hc && hc < s_.uld) {
      if (d == d1) {
        add(hc);
      } else if (d > 0) {
        add(hc - 1);
        add(hc);
      }
    }
    return;
  }
  add(h);
}

BufferResult PulseHeightAnalyser::analyse(const std::int16_t* samples, long n, AcquisitionState& acq,
                                          CorrectionState* correction, DiagCapture* diag) {
  BufferResult out;
  long N = n;
  x_.resize(static_cast<std::size_t>(N) + 1);
  for (long k = 0; k < N; ++k) x_[static_cast<std::size_t>(k)] = samples[k];
  std::int32_t* x = x_.data();
  const bool two = s_.input_channels == 2;
  if (two && s_.swap)
    for (long k = 0; k + 1 < N; k += 2) std::swap(x[k], x[k + 1]);
  const bool split = two && s_.mode != kInputNormal;
  if (split) {
    N /= 2;
    second_.resize(static_cast<std::size_t>(N) + 1);
    for (long k = 0; k < N; ++k) {
      second_[static_cast<std::size_t>(k)] = x[2 * k + 1];
      x[k] = x[2 * k];
    }
  }
  const long long T = trigger_level(s_);
  if (s_.negative) {
    for (long k = kFirstSample; k < N; ++k) x[k] = -x[k];
    if (split)
      for (long k = kFirstSample; k < N; ++k) second_[static_cast<std::size_t>(k)] = -second_[static_cast<std::size_t>(k)];
  }
  const int half = L_ / 2;
  long E = N - half;
  long first = kFirstSample;
  while (first < N && x[first] <= kSaturatedLow) ++first;
  const long long ms_before = mcs_ms_;
  const int t = s_.lld > 1 ? 8192 : 0;
  if (diag != nullptr) diag->window_start = t;
  long start = first + 2 + s_.baseline_points + s_.baseline_delay;
  const bool two_normal = two && !split;
  if (first >= N) start = E;  // nothing above the low limit: no pulse is analysed
  if (two_normal) {
    E -= 2;
    if (E > start) {
      long long D = 0;
      for (long k = start + 1; k < E; k += 2) D += x[k] - x[k - 1];
      const long long level = 2 * D / (E - start);
      for (long k = start; k < E; k += 2) x[k] = static_cast<std::int32_t>(x[k] + level);
    }
  }
  if (start < half) start = half;

  const long long TS = T * S_;
  const long long uld = s_.uld + (correction != nullptr && correction->temperature && correction->correction < 0
                                      ? -correction->correction
                                      : 0);
  bool in_pulse = false;
  bool grace = false;
  long s = 0;
  long long sum = 0;
  int m = 0, tail = 0, peak = 0;
  long peak_at = 0;
  long long quiet = 0;
  p_.resize(kBlock);
  p32_.resize(kBlock);
  auto in_window = [&](long k) { return diag != nullptr && k > t && k < t + kDiagWindow; };
  auto y_of = [&](long long P) -> long long { return S_ == 0 ? P : (2 * P) / (-S_); };
  auto end_pulse = [&](long k) {
    in_pulse = false;
    if (m <= 3 || tail < 1) return;
    const int h = static_cast<int>(sum / L_);
    const bool log = in_window(k);
    if (m > s_.max_readings) {
      ++out.rejected;
      if (log) diag->log += c_format("Pulse at %ld length of %d exceeded maximum of %d\r\n", k - t, m, s_.max_readings);
      return;
    }
    if (tail < m / 3 || tail > 4 * m / 5) {
      ++out.rejected;
      if (log) diag->log += c_format("Bad Pulse shape at %ld - Tail=%d, Total=%d\r\n", k - t, tail, m);
      return;
    }
    if (heights != nullptr) heights->push_back(h);
    if (diag != nullptr)
      for (long j = s; j < k; ++j)
        if (in_window(j)) diag->marks[static_cast<std::size_t>(j - t)] = -1;
    if (h < s_.lld) {
      ++out.rejected;
      if (log) diag->log += c_format("UnderFlow - Pulse Peak=%ld\r\n", peak_at - t);
      return;
    }
    if (h < uld) {
      ++out.accepted;
      out.height_sum += h;
      accumulate(h, s, acq, correction, ms_before);
      if (diag != nullptr && in_window(peak_at)) {
        diag->marks[static_cast<std::size_t>(peak_at - t)] = 1;
        if (diag->pulses.size() < kDiagPulses) diag->pulses.push_back(static_cast<int>(peak_at - t));
      }
      return;
    }
    ++out.overflow;
    ++out.rejected;
  };

  auto scan = [&](const auto* P, long b, long b_end) {
    long k = b;
    while (k < b_end) {
      if (!in_pulse && diag == nullptr) {
        // The quiet stretch between pulses: only the test against the
        // threshold (|2P| < T*S) is needed, not the filter value itself.
        if (S_ != 0) {
          // Eight samples at a time while all are quiet.
          while (k + 8 <= b_end) {
            bool loud = false;
            for (int u = 0; u < 8; ++u) {
              const std::int64_t p2 = 2 * static_cast<std::int64_t>(P[k - b + u]);
              const std::int32_t v = x[k + u];
              loud |= (p2 < 0 ? -p2 : p2) >= TS || v > kSaturatedHigh || v < kSaturatedLow;
            }
            if (loud) break;
            quiet += 8;
            k += 8;
          }
          while (k < b_end) {
            const std::int64_t p2 = 2 * static_cast<std::int64_t>(P[k - b]);
            const bool small = (p2 < 0 ? -p2 : p2) < TS;
            const std::int32_t v = x[k];
            if (v > kSaturatedHigh || v < kSaturatedLow) {
              ++k;
              continue;
            }
            if (!small) break;
            ++quiet;
            ++k;
          }
          if (k >= b_end) break;
        }
      }
      const std::int32_t v = x[k];
      if (v > kSaturatedHigh || v < kSaturatedLow) {
        in_pulse = false;
        ++k;
        continue;
      }
      const long long y = y_of(P[k - b]);
      if (diag != nullptr && in_window(k)) {
        if (diag->trace.empty()) diag->trace.assign(kDiagWindow, 0);
        diag->trace[static_cast<std::size_t>(k - t)] = static_cast<int>(y);
      }
      const long long ay = y < 0 ? -y : y;
      if (ay < T) {
        if (!in_pulse) {
          ++quiet;
        } else if (!grace) {
          grace = true;
        } else {
          end_pulse(k);
        }
      } else {
        if (!in_pulse) {
          in_pulse = true;
          s = k;
          grace = false;
          sum = 0;
          m = 0;
          tail = 0;
          peak = 0;
          peak_at = k;
        }
        sum += ay;
        ++m;
        if (y < 0) {
          ++tail;
        } else if (y > peak) {
          peak = static_cast<int>(y);
          peak_at = k;
        }
      }
      ++k;
    }
  };
  for (long b = start; b < E; b += kBlock) {
    const long b_end = std::min(E, b + kBlock);
    filter_block(b, b_end);
    if (narrow_)
      scan(p32_.data(), b, b_end);
    else
      scan(p_.data(), b, b_end);
  }
  // Live time: quiet samples (MCS mode: every analysed sample) in 10 ms
  // units; what does not make a whole unit is carried to the next buffer.
  long long per10 = s_.rate / 100;
  if (two_normal) per10 *= 2;
  out.quiet = s_.mcs ? std::max(0L, E - start) : quiet;
  const long long total = quiet_carry_ + out.quiet;
  out.time_units = total / per10;
  quiet_carry_ = total % per10;
  // The accumulator stays in 10 ms units in both modes (the saved live
  // time is read from it); MCS mode keeps its milliseconds for the time
  // channels.
  if (s_.mcs) mcs_ms_ += 10 * out.time_units;
  acq.live_accumulator += out.time_units;
  acq.counts[0] = static_cast<std::int32_t>(acq.live_accumulator / 100);
  return out;
}

}  // namespace kestrim
