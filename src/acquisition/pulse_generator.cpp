#include "acquisition/pulse_generator.h"

#include <algorithm>
#include <cmath>

namespace kestrim {

PulseGenerator::PulseGenerator(const PulseGeneratorSettings& s) : s_(s), state_(s.seed * 0x9E3779B97F4A7C15ull + 1) {
  double total = 0;
  for (double w : s_.spectrum) {
    total += w > 0 ? w : 0;
    cumulative_.push_back(total);
  }
  truth_.per_channel.assign(s_.spectrum.size(), 0);
  shape_max_ = 0;
  for (double v : s_.shape) shape_max_ = std::max(shape_max_, v);
  if (shape_max_ <= 0) shape_max_ = 1;
  carry_.assign(s_.shape.size() + 1, 0.0);
  next_ = 0;
  schedule_next();
}

double PulseGenerator::uniform() {
  // xorshift64*: the same numbers on every machine.
  state_ ^= state_ >> 12;
  state_ ^= state_ << 25;
  state_ ^= state_ >> 27;
  const std::uint64_t r = state_ * 0x2545F4914F6CDD1Dull;
  return (static_cast<double>(r >> 11) + 0.5) / 9007199254740992.0;
}

double PulseGenerator::gaussian() {
  if (spare_ready_) {
    spare_ready_ = false;
    return spare_;
  }
  const double u = uniform(), v = uniform();
  const double r = std::sqrt(-2.0 * std::log(u));
  spare_ = r * std::sin(2 * M_PI * v);
  spare_ready_ = true;
  return r * std::cos(2 * M_PI * v);
}

void PulseGenerator::schedule_next() {
  if (s_.pulses_per_second <= 0) {
    next_ = -1;
    return;
  }
  const double mean_gap = s_.rate / s_.pulses_per_second;
  next_ += s_.dead_samples + static_cast<long long>(-std::log(uniform()) * mean_gap);
}

long PulseGenerator::read(std::int16_t* out, long max_samples) {
  long frames = max_samples / s_.channels;
  if (s_.frames > 0) frames = static_cast<long>(std::min<long long>(frames, s_.frames - truth_.frames));
  if (frames <= 0) return 0;
  const long len = static_cast<long>(s_.shape.size());
  work_.assign(static_cast<std::size_t>(frames + len + 1), 0.0);
  for (std::size_t k = 0; k < carry_.size() && k < work_.size(); ++k) work_[k] = carry_[k];
  const long long first = truth_.frames;
  const double total = cumulative_.empty() ? 0 : cumulative_.back();
  while (next_ >= 0 && next_ < first + frames && total > 0) {
    const double pick = uniform() * total;
    const long channel = std::upper_bound(cumulative_.begin(), cumulative_.end(), pick) - cumulative_.begin();
    const long c = std::min<long>(channel, static_cast<long>(cumulative_.size()) - 1);
    const double height = static_cast<double>(c) + uniform();
    const std::size_t k = static_cast<std::size_t>(c);
    const std::vector<double>& r = s_.response;
    double base = 0;
    if (k + 1 < r.size()) {
      base = r[k] + (height - static_cast<double>(c)) * (r[k + 1] - r[k]);
    } else if (!r.empty()) {
      base = r.back();
    }
    const double amplitude = base * gain_factor_ * (s_.negative ? -1 : 1);
    const long at = static_cast<long>(next_ - first);
    for (long i = 0; i < len; ++i) work_[static_cast<std::size_t>(at + i)] += amplitude * s_.shape[static_cast<std::size_t>(i)] / shape_max_;
    ++truth_.pulses;
    ++truth_.per_channel[static_cast<std::size_t>(c)];
    truth_.pulse_samples += len;
    schedule_next();
  }
  for (long f = 0; f < frames; ++f) {
    for (int ch = 0; ch < s_.channels; ++ch) {
      double v = s_.baseline + work_[static_cast<std::size_t>(f)];
      if (s_.noise > 0) v += s_.noise * gaussian();
      v = std::floor(v + 0.5);
      v = std::clamp(v, -32768.0, 32767.0);
      out[f * s_.channels + ch] = static_cast<std::int16_t>(v);
    }
  }
  carry_.assign(static_cast<std::size_t>(len + 1), 0.0);
  for (long k = 0; k <= len; ++k) carry_[static_cast<std::size_t>(k)] = work_[static_cast<std::size_t>(frames + k)];
  truth_.frames += frames;
  return frames * s_.channels;
}

std::vector<double> pulse_height_response(const PulseHeightSettings& settings, const PulseShape& coefs,
                                          const std::vector<double>& shape) {
  PulseHeightSettings s = settings;
  s.mcs = false;
  double shape_max = 0;
  for (double v : shape) shape_max = std::max(shape_max, v);
  if (shape_max <= 0) shape_max = 1;
  // Pulses of amplitudes 0 to 32000 in steps of 2, far apart.
  const long spacing = 64;
  const double step = 2;
  const int pulses = 16000;
  std::vector<std::int16_t> buf(static_cast<std::size_t>((pulses + 2) * spacing * s.input_channels), 0);
  for (int p = 0; p < pulses; ++p) {
    const double amplitude = step * p;
    for (std::size_t i = 0; i < shape.size(); ++i) {
      const double v = amplitude * shape[i] / shape_max * (s.negative ? -1 : 1);
      for (int ch = 0; ch < s.input_channels; ++ch)
        buf[static_cast<std::size_t>(((p + 1) * spacing + static_cast<long>(i)) * s.input_channels + ch)] =
            static_cast<std::int16_t>(std::lround(v));
    }
  }
  PulseHeightAnalyser a(s, coefs);
  std::vector<int> heights;
  std::vector<double> at_height;
  a.heights = &heights;
  AcquisitionState acq;
  // The analyser reports heights in order; small pulses that trigger
  // nothing report none, so each height is matched by its position.
  a.analyse(buf.data(), static_cast<long>(buf.size()), acq, nullptr);
  const std::size_t missing = static_cast<std::size_t>(pulses) - heights.size();
  for (std::size_t i = 0; i < heights.size(); ++i) {
    const double amplitude = step * static_cast<double>(i + missing);
    const int h = heights[i];
    while (static_cast<int>(at_height.size()) <= h) at_height.push_back(amplitude);
  }
  return at_height;
}

}  // namespace kestrim
