#include "peaks/peak_search.h"
#include "platform/c_locale.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

#include "peaks/peak_session.h"
#include "peaks/library_search.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "settings/calibration_functions.h"

namespace kestrim {

namespace {

double sigma_at(const PeakSession& s, double channel) { return width_at_channel(s.spectrum.calibration, channel, calibration_context(s.spectrum, s.flags)); }

template <typename Count>
double positive(Count n) {
  const double v = static_cast<double>(n);
  return v > 0 ? v : 0.0;  // empty, negative and NaN channels count nothing
}

// The filter's response at channel c over counts already made
// non-negative (SearchState::counts), away from the spectrum's ends.
double clean_response(const SearchState& search, int c) {
  const int n = search.half_width;
  const double* coef = search.filter.data();
  const double* counts = search.counts.data();
  double a = coef[0] * counts[c];
  double v = coef[0] * coef[0] * counts[c];
  for (int k = 1; k <= n; ++k) {
    const double pair = counts[c - k] + counts[c + k];
    a += coef[k] * pair;
    v += coef[k] * coef[k] * pair;
  }
  return v > 0 ? -a / std::sqrt(v) : 0.0;
}

template <typename Count>
double response(const SearchState& search, const Count* counts, int c, int last_channel) {
  const int n = search.half_width;
  const double* coef = search.filter.data();
  double a = 0, v = 0;
  if (c - n >= 0 && c + n < last_channel) {
    // The filter is symmetric: channels c - k and c + k share coefficient k.
    const double centre = positive(counts[c]);
    a = coef[0] * centre;
    v = coef[0] * coef[0] * centre;
    for (int k = 1; k <= n; ++k) {
      const double pair = positive(counts[c - k]) + positive(counts[c + k]);
      a += coef[k] * pair;
      v += coef[k] * coef[k] * pair;
    }
  } else {
    for (int k = -n; k <= n; ++k) {
      const int x = c + k;
      if (x < 0 || x >= last_channel) continue;
      const double N = positive(counts[x]);
      const double w = coef[k < 0 ? -k : k];
      a += w * N;
      v += w * w * N;
    }
  }
  return v > 0 ? -a / std::sqrt(v) : 0.0;
}

// The response during the search: from the cleaned counts where the
// filter lies inside the spectrum.
double pass_response(const SearchState& search, const float* counts, int c, int last_channel) {
  const int n = search.half_width;
  if (c - n >= 0 && c + n < last_channel && c + n < static_cast<int>(search.counts.size()))
    return clean_response(search, c);
  return response(search, counts, c, last_channel);
}

// Tests a closed run; returns true when the run counts as a peak
// (whether or not it was added).
bool test_run(const PeakSession& state, int a) {
  SearchState& s = state.peaks.search;
  PeakList& list = state.peaks;
  double C = s.sum_r != 0 ? s.sum_rc / s.sum_r : 0;
  if (!(s.largest > state.params.search_discriminator && s.sum_r > 0 && C > list.region.first_live && C > a))
    return false;
  s.quiet = 0;
  if (s.run_length > 2 * s.half_width) return false;
  const double sc = sigma_at(state, C);
  if (on_discriminator_edge(state, s.run_start)) return true;
  for (int k = 1; k <= list.count; ++k)
    if (list.centre[k] > C - 1.5 * sc && list.centre[k] < C + 1.5 * sc) return true;
  if (list.count > kMaxSearchPeaks - 1) return true;
  int pos = list.count + 1;
  for (int k = 1; k <= list.count; ++k) {
    if (list.centre[k] > C) {
      pos = k;
      break;
    }
  }
  for (int k = list.count; k >= pos; --k) list.move_slot(k, k + 1);
  ++list.count;
  list.clear_slot(pos);
  list.centre[pos] = static_cast<float>(C);
  list.centre_channel[pos] = trunc_channel(std::round(C));
  list.window_start[pos] = trunc_channel(C - 2.5 * sc);
  list.window_end[pos] = trunc_channel(C + 2.5 * sc);
  list.significance[pos] = static_cast<float>(s.largest);
  return true;
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string time_of_day() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char text[16];
  c_snprintf(text, sizeof text, "%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
  return text;
}

}  // namespace

double energy_tolerance(const AnalysisParameters& p, double energy_kev) {
  return 0.25 * p.energy_tolerance + 0.00075 * p.energy_tolerance * energy_kev;
}

double identification_tolerance(const AnalysisParameters& p, double energy_kev, bool auto_calibration) {
  if (energy_kev > 510 && energy_kev < 512) return p.energy_tolerance;
  const double k = auto_calibration ? 0.0015 : 0.00075;
  return 0.25 * p.energy_tolerance + k * p.energy_tolerance * energy_kev;
}

const AuxPeakRow* find_aux_row(const PeakList& list, const AnalysisParameters& p, double energy_kev) {
  double tol = energy_tolerance(p, energy_kev);
  for (int i = 0; i < list.aux_count; ++i)
    if (std::fabs(list.aux[i].energy - energy_kev) < tol) return &list.aux[i];
  return nullptr;
}

int build_filter(SearchState& search, double sigma) {
  const double w = sigma * search.width_factor;
  search.filter.fill(0);
  search.filter[0] = -100;
  const int wide = trunc_channel(2 * w);
  int n = 0;
  double sum = 0;
  for (int k = 1; k < kMaxFilter; ++k) {
    double c = 100 * (k * k / (w * w) - 1) * std::exp(-k * k / (2 * w * w));
    if (k > wide && std::fabs(c) < 1) break;
    search.filter[k] = c;
    sum += c;
    n = k;
  }
  // The whole filter, -100 + 2 x sum, must be zero.
  search.filter[1] += 50 - sum;
  search.half_width = n;
  return n;
}

double filter_response(const SearchState& search, const float* counts, int c, int last_channel) {
  return response(search, counts, c, last_channel);
}
double filter_response(const SearchState& search, const std::int32_t* counts, int c, int last_channel) {
  return response(search, counts, c, last_channel);
}

void clear_peak_list(const PeakSession& state) {
  PeakList& list = state.peaks;
  for (int k = 0; k <= kMaxPeaks; ++k) list.clear_slot(k);
  list.count = 0;
  list.fitted = false;
  list.fit_enabled = false;
  list.last_added = 0;
  list.ring.fill(0);
  list.ring_next = 0;
  list.region = Region{};
  list.search = SearchState{};
  list.search.last_channel = std::max(state.spectrum.channels() - 1, 0);
  list.region.first_live = trunc_channel(state.params.search_start);
}

int search_pass(const PeakSession& state, int a, double s) {
  SearchState& S = state.peaks.search;
  const float* counts = state.spectrum.counts.data();
  const int last = S.last_channel;
  s = std::min(s, 20.0);
  const int m = trunc_channel(s);
  const int q = trunc_channel(9 * s);
  const int pass_end = a + trunc_channel(15 * s);
  const int n = build_filter(S, s);
  int c = a;
  if (a <= n) c = n + 2;
  if (c >= last - n) {
    S.stop = true;
    return c;
  }

  // A segment that resumes inside a run of positive responses (a wide
  // filter's view of a peak a narrower one has closed already) first lets
  // that run end: a run entered halfway looks narrower than it is, and its
  // centroid lies off any peak.
  if (a > state.peaks.region.first_live)
    while (c <= last - n && pass_response(S, counts, c, last) > 2) ++c;

  // Then wait for a rise.
  double prev = 0;
  for (;;) {
    if (c > last - n) return c;
    if (state.ui->abort_requested()) {
      S.stop = S.aborted = true;
      return c;
    }
    double R = pass_response(S, counts, c, last);
    if (prev != 0 && R > 0 && R > prev) break;
    prev = R;
    ++c;
  }

  // Then collect runs of responses above 2.
  bool open = false;
  S.quiet = 0;
  S.largest = 0;
  S.sum_r = S.sum_rc = 0;
  S.run_length = 0;
  for (;;) {
    double R = pass_response(S, counts, c, last);
    if (R > 2) {
      if (!open) {
        open = true;
        S.sum_r = S.sum_rc = 0;
        S.largest = 0;
        S.run_length = 0;
        S.run_start = c;
      }
      S.sum_r += R;
      S.sum_rc += R * c;
      ++S.run_length;
      S.largest = std::max(S.largest, R);
    } else {
      ++S.quiet;
    }
    if (open && R < 0) {
      open = false;
      if (S.run_length >= m) {
        if (test_run(state, a)) return c + m;
        S.largest = 0;
      }
    }
    ++c;
    if (c > last - n) {
      S.stop = true;
      break;
    }
    if (S.largest < state.params.search_discriminator && c >= pass_end && S.quiet >= q) return c;
    if (state.ui->abort_requested()) {
      S.stop = S.aborted = true;
      break;
    }
  }
  if (open && S.largest > state.params.search_discriminator && S.run_length >= m) test_run(state, a);
  return c;
}

void run_peak_search(const PeakSession& state) {
  clear_peak_list(state);
  PeakList& list = state.peaks;
  const int nch = state.spectrum.channels();
  if (nch < 3) return;
  const AnalysisParameters& p = state.params;
  SearchState& S = list.search;
  Region& r = list.region;

  const int star = trunc_channel(p.search_start);
  const int stop = search_last_channel(p, nch);
  for (int x = std::max(star + 1, 0); x < stop; ++x) {
    if (state.spectrum.counts[x] > 1) {
      r.first_live = x;
      break;
    }
  }
  S.last_channel = stop;
  S.stop = false;
  S.aborted = false;
  // The passes read each channel many times: its count is made a
  // non-negative double once.
  S.counts.resize(static_cast<std::size_t>(nch));
  for (int x = 0; x < nch; ++x) S.counts[static_cast<std::size_t>(x)] = positive(state.spectrum.counts[static_cast<std::size_t>(x)]);

  int start = r.first_live;
  while (!S.stop) {
    const double s = sigma_at(state, start);
    S.width_factor = p.search_smoothing;
    // The next segment starts where the earliest of the ten passes stopped.
    // A wide filter merges a peak with a weaker neighbour up to 1.5 FWHM
    // away into one run and stops beyond both; resuming after the widest
    // pass skipped the neighbour that the narrow filters had seen apart
    // (Cs-137's 662 keV beside Bi-214's 609 keV in a soil sample).
    // A pass that reached the end of the searched range does not count
    // (a wide filter reaches it sooner); when all did, the search ends.
    int next = -1;
    for (int k = 0; k < 10 && !S.aborted; ++k) {
      S.stop = false;
      const int stopped = search_pass(state, start, s);
      if (!S.stop) next = next < 0 ? stopped : std::min(next, stopped);
      S.width_factor += 0.1f;
    }
    S.stop = S.aborted || next < 0;
    // A pass that stopped where it started would search the same channels
    // for ever.
    start = std::max(next, start + 1);
    if (state.ui->abort_requested()) S.stop = S.aborted = true;
  }

  if (p.library_peak_search != 0 && !S.aborted) library_peak_search(state);
  if (p.use_aux_peaks != 0) load_aux_peaks(state);

  S.counts.clear();
  S.last_channel = nch - 1;
  for (int k = 1; k <= list.count; ++k) {
    int margin = trunc_channel(static_cast<double>(trunc_channel(list.centre[k])) * p.region_end_channels / nch) + 1;
    auto clip = [&](int& lo, int& hi) {
      if (lo < r.first_live) lo = r.first_live;
      if (hi >= S.last_channel) hi = S.last_channel - 1;
    };
    clip(list.window_start[k], list.window_end[k]);
    list.fit_start[k] = list.window_start[k] - margin;
    list.fit_end[k] = list.window_end[k] + margin;
    clip(list.fit_start[k], list.fit_end[k]);
    list.region_choice[k] = 0;
  }
  list.fit_enabled = true;
  state.ui->set_status("");
}

int insert_peak(const PeakSession& state, int p) {
  PeakList& list = state.peaks;
  Region& r = list.region;
  if (list.count >= kMaxPeaks) return 0;
  const int nch = std::max(state.spectrum.channels(), 1);
  int pos = 1;
  while (pos <= list.count && list.centre_channel[pos] <= p) ++pos;
  if (r.fitted)
    for (int k = r.first; k < r.first + r.count && k <= list.count; ++k) list.region_choice[k] = 0;
  for (int k = list.count; k >= pos; --k) list.move_slot(k, k + 1);
  ++list.count;
  list.clear_slot(pos);

  double sigma = r.cache_sigma[0] > 0 ? r.cache_sigma[0] : sigma_at(state, p);
  list.centre[pos] = static_cast<float>(p);
  list.centre_channel[pos] = p;
  list.window_start[pos] = trunc_channel(p - 3 * sigma);
  list.window_end[pos] = trunc_channel(p + 3 * sigma);
  int margin = trunc_channel(static_cast<double>(state.params.region_end_channels) * p / nch);
  list.fit_start[pos] = list.window_start[pos] - margin - 1;
  list.fit_end[pos] = list.window_end[pos] + margin + 1;
  if (list.fit_start[pos] < state.params.sc_adc_lld) list.fit_start[pos] = state.params.sc_adc_lld;
  if (list.fit_end[pos] >= nch) list.fit_end[pos] = nch - 1;
  list.significance[pos] = 10;
  list.fitted = false;
  r.prev_count = 0;
  if (r.bounds_user && state.params.prompt_add_peaks == 0) {
    r.bounds_user = false;
    r.start = list.fit_start[pos];
    r.end = list.fit_end[pos];
  }
  list.ring[list.ring_next] = p;
  list.ring_next = (list.ring_next + 1) % kRefusedRing;
  list.last_added = pos;
  return pos;
}

bool on_discriminator_edge(const PeakSession& state, double channel) {
  const int first = state.peaks.region.first_live;
  return first > trunc_channel(state.params.search_start) + 2 &&
         channel < first + 2.355 * sigma_at(state, first);
}

int remove_peak(const PeakSession& state, int channel) {
  PeakList& list = state.peaks;
  for (int k = 1; k <= list.count; ++k) {
    if (list.centre_channel[k] >= channel - 1 && list.centre_channel[k] <= channel + 1) {
      for (int j = k; j < list.count; ++j) list.move_slot(j + 1, j);
      list.clear_slot(list.count);
      --list.count;
      list.region.prev_count = 0;
      return 1;
    }
  }
  return 0;
}

bool recently_inserted(const PeakList& list, int channel) {
  for (int c : list.ring)
    if (c != 0 && c == channel) return true;
  return false;
}

int load_aux_peaks(const PeakSession& state) {
  PeakList& list = state.peaks;
  const std::string name = to_string(state.params.aux_peaks_file);
  const std::string path = resolve_path(join_path(state.paths.working_dir, name));
  std::vector<std::uint8_t> bytes;
  list.aux_count = 0;
  if (name.empty() || !read_file(path, bytes)) {
    state.ui->message_box("Could not open Auxillary Peaks file:- " + name, "", kMsgOk);
    return 0;
  }
  std::string text(bytes.begin(), bytes.end());
  size_t at = 0;
  while (at < text.size() && list.aux_count < kMaxAuxRows) {
    size_t eol = text.find('\n', at);
    std::string line = lower(text.substr(at, eol == std::string::npos ? std::string::npos : eol - at));
    at = eol == std::string::npos ? text.size() : eol + 1;
    AuxPeakRow row;
    row.width_factor = 0;
    if (line.find("step") != std::string::npos) {
      if (c_sscanf(line.c_str(), "%f", &row.energy) != 1) row.energy = 0;
    } else {
      c_sscanf(line.c_str(), "%f %f %f %f %f", &row.energy, &row.width_factor, &row.companion,
                  &row.region_start, &row.region_end);
    }
    if (row.width_factor < 0.1f) row.width_factor = 1;
    if (!(row.energy > 0)) continue;
    list.aux[list.aux_count++] = row;
  }

  const CalibrationRecord& cal = state.spectrum.calibration;
  for (int i = 0; i < list.aux_count; ++i) {
    const AuxPeakRow& row = list.aux[i];
    double cc = energy_to_channel(cal, row.companion);
    if (!(row.companion > 0) || !(cc >= state.params.search_start) || !(cc < state.spectrum.channels())) continue;
    double tol = energy_tolerance(state.params, row.energy);
    bool match = false;
    for (int k = 1; k <= list.count && !match; ++k)
      match = std::fabs(channel_to_energy(cal, list.centre[k]) - row.energy) < tol;
    if (match) insert_peak(state, trunc_channel(std::round(cc)));
  }
  return 1;
}

int locate_reference_peak(const PeakSession& state, const std::int32_t* counts, int channels, int centre, int window,
                          std::string* line) {
  if (line) line->clear();
  if (window <= 0 || channels < 4) return 0;
  int start = std::max(centre - window / 2, 3);
  int end = std::min(centre + window / 2, channels - 1);
  double sum = 0;
  for (int x = start; x <= end; ++x) sum += counts[x];
  if (sum / window < 20) return 0;

  SearchState& S = state.peaks.search;
  double sigma = std::min(width_at_channel(state.spectrum.calibration, start, calibration_context(state.spectrum, state.flags)), 20.0);
  S.width_factor = 1;
  int n = build_filter(S, sigma);
  int lo = std::max(start, n + 3), hi = std::min(end, channels - n - 1);
  double best = 5, largest_all = 0, sum_r = 0, sum_rc = 0, run_max = 0;
  int run = 0, peak = 0;
  bool open = false;
  auto close_run = [&]() {
    if (open && run >= trunc_channel(sigma) && run_max > best) {
      peak = trunc_channel(sum_rc / sum_r);
      best = run_max;
    }
    open = false;
  };
  for (int c = lo; c <= hi; ++c) {
    double R = response(S, counts, c, channels);
    largest_all = std::max(largest_all, R);
    if (R > 2) {
      if (!open) {
        open = true;
        sum_r = sum_rc = run_max = 0;
        run = 0;
      }
      sum_r += R;
      sum_rc += R * c;
      ++run;
      run_max = std::max(run_max, R);
    } else {
      close_run();
    }
  }
  close_run();

  char text[160];
  if (peak > 0)
    c_snprintf(text, sizeof text, "%s, Centre at Chan: %d, Signif:- %4.1f", time_of_day().c_str(), peak, best);
  else
    c_snprintf(text, sizeof text, "%s, No Peak was found, Max Signif:- %4.1f, nGtSig:- %d",
                  time_of_day().c_str(), largest_all, run);
  const std::string path = resolve_path(join_path(state.paths.working_dir, "mca diag.txt"));
  std::vector<std::uint8_t> old;
  std::string error;
  read_file(path, old);
  std::string all(old.begin(), old.end());
  all += text;
  all += "\r\n";
  write_text_atomic(path, all, &error);
  if (line) *line = text;
  return peak;
}

void use_standard_peak_parameters(AnalysisParameters& p, int channels) {
  p.search_start = 10;
  p.search_stop = static_cast<float>(channels - 1);
  p.search_discriminator = 4;
  p.search_smoothing = 0.5f;
  p.peak_separation_factor = 6;
  p.region_end_channels = 10;
  p.peak_sigma = 1;
  p.energy_tolerance = 1;
  p.max_width_change = 0.2f;
  p.max_peak_uncertainty = 50;  // per cent; the region driver drops peaks above it
  p.new_peak_discriminator = 4;
  p.iterate_position_single = 1;
  p.iterate_multiplets = 1;
  p.iterate_width = 1;
  p.iterate_tailing = 1;
}

}  // namespace kestrim
