// reference_accuracy: how well the total-spectrum fit recovers the
// activities and gain shifts of known mixtures of sources.
//
// References: one simulated spectrum per source (spectrum/simulate_sources.h:
// Cs-137, Co-60, K-40, the Ra-226 chain and the Th-232 chain), 2000 Bq each
// counted for 10 hours with Poisson noise, saved as ".rsd" files by the
// program's own writer (activity uncertainty 0 %, so that the reported
// uncertainty is the fit's alone). Samples: mixtures of them counted for
// one hour, with the detector's gain 1 % lower, equal or 1 % higher than
// the references' (the sample's lines 1 % lower in channels, at the same
// channels, 1 % higher), each seed a fresh Poisson draw.
//
// Each sample goes through what `kestrim fit-total` does: a fresh State with
// the folders of default_paths() and a private empty user folder (the
// shipped Defaults), initialise(), the sample written as a native file and
// opened with "/file=", the five references read from their files by the
// fitting capability, the fit over channels 20 to 1000 (60 to 3000 keV)
// with the gain search, and the report rows. Nothing is tuned here.
//
// With --peak-road the same sample spectra also go through the peak road of
// the full analysis (`kestrim analyse`: peak search, fit of every region,
// identification and activities with the shipped NaI_Analysis library; the
// samples carry the simulated efficiency as their efficiency curve), and
// three more columns compare it: peak_found_pct (seeds in which the source
// was reported), peak_mean_bq (over those) and peak_within_2s_pct (seeds
// reported within 2 sigma of the truth; a source absent from the mixture
// counts when it is not reported).
//
// Usage: reference_accuracy [SEEDS] [--csv] [--peak-road]
//
// Output, one line per mixture, gain and source:
//   mix, gain_pct    the mixture and the sample's gain change (per cent)
//   source           reference source; truth_bq its true activity
//   mean_bq          mean fitted activity; bias_pct its difference from truth
//   within_2s_pct    per cent of seeds whose activity lies within 2 sigma
//                    (sigma: the reported uncertainty) of the truth
//   pull_sd          spread of (fitted - truth) / sigma; 1 when sigma is right
//   gain_ok_pct      per cent of seeds whose fitted gain is within 0.2 % of
//                    the truth ("-" for sources absent from the mixture)
//   gain_err_pct     mean |fitted gain - true gain| in per cent
//   gain_sd_pct      mean reported uncertainty of the fitted gain, per cent
//   gain_2s_pct      per cent of seeds whose fitted gain is within 2
//                    reported gain sigmas of the truth
//   failed           fits that failed (no result)
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/analysis.h"
#include "app/command_line.h"
#include "app/reference_analysis.h"
#include "app/startup.h"
#include "app/state.h"
#include "platform/files.h"
#include "platform/headless_platform.h"
#include "reference/total_spectrum_fitting.h"
#include "spectrum/native_file.h"
#include "spectrum/simulate.h"
#include "spectrum/simulate_sources.h"
#include "spectrum/spectrum_record.h"

namespace {

using namespace kestrim;

const std::vector<std::string> kSources = {"Cs-137", "Co-60", "K-40", "Ra-226", "Th-232"};
constexpr double kReferenceBq = 2000;
constexpr double kReferenceLive = 36000;
constexpr double kSampleLive = 3600;

struct Mix {
  std::string name;
  std::vector<double> bq;  // per source of kSources
};

std::vector<Mix> mixes() {
  return {
      {"soil", {20, 0, 400, 30, 30}},
      {"soil-weak-cs", {5, 0, 500, 25, 35}},
      {"industrial", {200, 100, 100, 0, 0}},
      {"all-five", {50, 30, 300, 40, 40}},
  };
}

bool write_native(const SimOptions& o, const std::string& path, const char* title) {
  SpectrumRecord rec;
  store_simulated(simulate_spectrum(o), o, rec);
  set_title(rec.header, title, "");
  rec.header.correction_factor = 1;
  rec.header.collected = {7, 12, 2026, 9, 0};
  rec.header.sampled = rec.header.collected;
  // The simulated efficiency, 0.05 (662 / E)^0.9 above 150 keV, as the
  // curve ln eff = a1 + a2 ln E on both sides of the crossover.
  CalibrationRecord& cal = rec.calibration;
  const float a1 = static_cast<float>(std::log(0.05) + 0.9 * std::log(662.0));
  cal.low_eff_terms = 2;
  cal.high_eff_terms = 2;
  cal.low_eff = {a1, -0.9f, 0, 0, 0};
  cal.high_eff = {a1, -0.9f, 0, 0, 0, 0};
  cal.crossover = 300;
  std::string error;
  return write_file_atomic(path, encode_native(rec, rec.header.collected, nullptr), &error);
}

std::unique_ptr<State> fresh_state(HeadlessPlatform& ui, const std::string& scratch) {
  auto state = std::make_unique<State>(ui);
  state->paths = default_paths();
  state->paths.user_dir = join_path(scratch, "user");
  state->paths.working_dir = scratch;
  if (!initialise(*state)) return nullptr;
  state->app.batch_mode = true;
  return state;
}

// Simulates each source and saves it as NAME.rsd in `scratch`.
bool make_references(const std::string& scratch) {
  for (std::size_t k = 0; k < kSources.size(); ++k) {
    const SimOptions o = source_spectrum_options({{kSources[k], kReferenceBq}}, 1024, kReferenceLive, 1.0, 900 + k);
    const std::string dat = join_path(scratch, "ref.dat");
    if (!write_native(o, dat, kSources[k].c_str())) return false;
    HeadlessPlatform ui;
    ui.set_progress_enabled(false);
    auto state = fresh_state(ui, scratch);
    if (!state || !parse_command_line(*state, std::vector<std::string>{"file=" + dat}).ok) return false;
    if (!save_reference_spectrum(*state, join_path(scratch, kSources[k] + ".rsd"), kSources[k], kReferenceBq, 0,
                                 true))
      return false;
  }
  return true;
}

struct Stats {
  int n = 0, within = 0, gain_ok = 0, gain_2s = 0, failed = 0;
  double sum = 0, pull = 0, pull2 = 0, gain_err = 0, gain_sd = 0;
  int peak_found = 0, peak_within = 0;
  double peak_sum = 0;
};

// The peak road of the full analysis on the sample: per source, the
// reported activity (Bq at the counting time) and its uncertainty (%), or
// a negative activity when the source was not reported.
bool peak_road(const std::string& scratch, const std::string& dat, std::vector<std::pair<double, double>>& out) {
  HeadlessPlatform ui;
  ui.set_progress_enabled(false);
  auto state = fresh_state(ui, scratch);
  if (!state) return false;
  state->app.batch_analysis = true;
  if (!parse_command_line(*state, std::vector<std::string>{"file=" + dat}).ok) return false;
  state->params.update_database = 0;
  const bool ok = analyse_current_spectrum(*state) == 1;
  out.assign(kSources.size(), {-1.0, 0.0});
  if (!ok) return true;  // nothing reported
  for (const NuclideResult& r : state->results.results) {
    if (r.library_index < 0) continue;
    const std::string name = r.name.substr(0, r.name.find(' '));
    for (std::size_t k = 0; k < kSources.size(); ++k)
      if (name == kSources[k]) out[k] = {r.activity, r.uncertainty};
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  int seeds = 100;
  bool csv = false, peaks = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--csv") csv = true;
    else if (a == "--peak-road") peaks = true;
    else seeds = std::atoi(argv[i]);
  }
  if (seeds < 1) {
    std::fprintf(stderr, "usage: reference_accuracy [SEEDS] [--csv]\n");
    return 2;
  }
  const std::string scratch =
      (std::filesystem::temp_directory_path() / ("kestrim-reference-accuracy-" + std::to_string(getpid()))).string();
  make_directories(join_path(scratch, "user"));
  if (!make_references(scratch)) {
    std::fprintf(stderr, "reference_accuracy: the references could not be made\n");
    return 1;
  }
  std::printf(csv ? "mix,gain_pct,source,truth_bq,mean_bq,bias_pct,within_2s_pct,pull_sd,gain_ok_pct,gain_err_pct,"
                    "gain_sd_pct,gain_2s_pct,failed"
                  : "%-13s %8s %-7s %8s %9s %8s %13s %7s %11s %12s %11s %11s %6s",
              "mix", "gain_pct", "source", "truth_bq", "mean_bq", "bias_pct", "within_2s_pct", "pull_sd",
              "gain_ok_pct", "gain_err_pct", "gain_sd_pct", "gain_2s_pct", "failed");
  if (peaks)
    std::printf(csv ? ",peak_found_pct,peak_mean_bq,peak_within_2s_pct" : " %14s %12s %18s", "peak_found_pct",
                "peak_mean_bq", "peak_within_2s_pct");
  std::printf("\n");
  int mix_index = 0;
  for (const Mix& mix : mixes()) {
    ++mix_index;
    for (double gain : {0.99, 1.0, 1.01}) {
      std::vector<Stats> st(kSources.size());
      std::vector<SourceActivity> sources;
      for (std::size_t k = 0; k < kSources.size(); ++k)
        if (mix.bq[k] > 0) sources.push_back({kSources[k], mix.bq[k]});
      for (int seed = 1; seed <= seeds; ++seed) {
        const SimOptions o = source_spectrum_options(sources, 1024, kSampleLive, gain,
                                                     100000ULL * mix_index + 1000ULL * static_cast<unsigned>(gain * 100) + seed);
        const std::string dat = join_path(scratch, "sample.dat");
        HeadlessPlatform ui;
        ui.set_progress_enabled(false);
        TotalSpectrumFitting fitting;
        auto state = write_native(o, dat, "mixture") ? fresh_state(ui, scratch) : nullptr;
        bool ok = state != nullptr;
        if (ok) {
          state->services.reference_fitting = &fitting;
          ok = parse_command_line(*state, std::vector<std::string>{"file=" + dat}).ok;
        }
        if (ok) {
          state->references = ReferenceSet{};
          for (const std::string& s : kSources)
            ok = ok && fitting.load_reference_spectrum(join_path(scratch, s + ".rsd"), state->references, ui);
          state->params.reference_start = 20;
          state->params.reference_end = 1000;
          state->params.reference_iterate_position = 1;
          ok = ok && fitting.fit_spectrum(state->spectrum, state->params, state->paths, state->references, ui);
        }
        const ReferenceReport report = ok ? reference_report(*state) : ReferenceReport{};
        std::vector<std::pair<double, double>> by_peaks;
        if (peaks && peak_road(scratch, dat, by_peaks))
          for (std::size_t k = 0; k < kSources.size(); ++k) {
            Stats& s = st[k];
            const auto [a, pct] = by_peaks[k];
            if (a >= 0) {
              ++s.peak_found;
              s.peak_sum += a;
              if (mix.bq[k] > 0 && std::fabs(a - mix.bq[k]) <= 2 * a * pct / 100) ++s.peak_within;
            } else if (mix.bq[k] == 0) {
              ++s.peak_within;
            }
          }
        for (std::size_t k = 0; k < kSources.size(); ++k) {
          Stats& s = st[k];
          if (!ok || report.rows.size() != kSources.size()) {
            ++s.failed;
            continue;
          }
          const ReferenceReportRow& r = report.rows[k];
          const double sigma = std::fabs(r.activity_bq) * r.uncertainty_pct / 100;
          ++s.n;
          s.sum += r.activity_bq;
          if (sigma > 0) {
            const double z = (r.activity_bq - mix.bq[k]) / sigma;
            s.pull += z;
            s.pull2 += z * z;
            if (std::fabs(z) <= 2) ++s.within;
          }
          const double g = state->references.spectra[k].gain;
          const double g_sd = std::sqrt(state->references.spectra[k].gain_variance);
          s.gain_err += std::fabs(g - gain) * 100;
          s.gain_sd += g_sd * 100;
          if (std::fabs(g - gain) <= 0.002) ++s.gain_ok;
          if (std::fabs(g - gain) <= 2 * g_sd) ++s.gain_2s;
        }
      }
      for (std::size_t k = 0; k < kSources.size(); ++k) {
        const Stats& s = st[k];
        const double n = s.n > 0 ? s.n : 1;
        const double mean = s.sum / n;
        const double pm = s.pull / n;
        const double sd = s.n > 1 ? std::sqrt(std::max(0.0, (s.pull2 - n * pm * pm) / (n - 1))) : 0;
        char bias[32], gain_ok[32], gain_err[32], gain_sd[32], gain_2s[32];
        if (mix.bq[k] > 0) {
          std::snprintf(bias, sizeof bias, "%.2f", 100 * (mean - mix.bq[k]) / mix.bq[k]);
          std::snprintf(gain_ok, sizeof gain_ok, "%.1f", 100.0 * s.gain_ok / n);
          std::snprintf(gain_err, sizeof gain_err, "%.3f", s.gain_err / n);
          std::snprintf(gain_sd, sizeof gain_sd, "%.3f", s.gain_sd / n);
          std::snprintf(gain_2s, sizeof gain_2s, "%.1f", 100.0 * s.gain_2s / n);
        } else {
          std::snprintf(bias, sizeof bias, "-");
          std::snprintf(gain_ok, sizeof gain_ok, "-");
          std::snprintf(gain_err, sizeof gain_err, "-");
          std::snprintf(gain_sd, sizeof gain_sd, "-");
          std::snprintf(gain_2s, sizeof gain_2s, "-");
        }
        if (csv)
          std::printf("%s,%+.0f,%s,%.0f,%.2f,%s,%.1f,%.2f,%s,%s,%s,%s,%d", mix.name.c_str(), (gain - 1) * 100,
                      kSources[k].c_str(), mix.bq[k], mean, bias, 100.0 * s.within / n, sd, gain_ok, gain_err,
                      gain_sd, gain_2s, s.failed);
        else
          std::printf("%-13s %8.0f %-7s %8.0f %9.2f %8s %13.1f %7.2f %11s %12s %11s %11s %6d", mix.name.c_str(),
                      (gain - 1) * 100, kSources[k].c_str(), mix.bq[k], mean, bias, 100.0 * s.within / n, sd,
                      gain_ok, gain_err, gain_sd, gain_2s, s.failed);
        if (peaks) {
          char mean_peaks[32];
          if (s.peak_found > 0) std::snprintf(mean_peaks, sizeof mean_peaks, "%.2f", s.peak_sum / s.peak_found);
          else std::snprintf(mean_peaks, sizeof mean_peaks, "-");
          std::printf(csv ? ",%.1f,%s,%.1f" : " %14.1f %12s %18.1f", 100.0 * s.peak_found / seeds, mean_peaks,
                      100.0 * s.peak_within / seeds);
        }
        std::printf("\n");
      }
      std::fflush(stdout);
    }
  }
  std::filesystem::remove_all(scratch);
  return 0;
}
