// peak_accuracy: how well Kestrim finds and measures known peaks in
// simulated NaI spectra (spectrum/simulate.h) that look like real ones:
// every line has its Compton continuum (shelf, smeared edge, backscatter
// bump), on a curved natural background or on a given continuum.
//
// Each spectrum goes through exactly what `kestrim peaks --json` does: a
// fresh State with the folders of default_paths() (the build tree's
// share/kestrim, or KESTRIM_HOME), a private empty user folder so that the
// shipped Defaults file Normal.000 is the one loaded, initialise(), the
// spectrum written as a native file and opened with "/file=" in batch mode,
// then step_peak_search, step_fit_all_regions and peaks_json. Nothing is
// tuned here.
//
// Usage: peak_accuracy [SEEDS] [--csv] [--only PREFIX]... [--keep DIR] [--verbose]
//   SEEDS   spectra per scenario (default 100)
//   --csv   comma-separated output instead of the aligned table
//   --only  run only the scenarios whose names start with PREFIX
//   --keep  also write each scenario's first spectrum as DIR/NAME.dat, to
//           look at with `kestrim peaks` or `kestrim export-text`
//   --verbose  print every spectrum's fitted peaks (energy, area +- 1 sigma)
//           to the standard error; with --keep, also write every spectrum
//           as DIR/NAME-SEED.dat
//
// Output: one header line, then one line per measured line of each
// scenario, columns separated by blanks (or commas):
//   scenario        name (the suffix -2048 / -4096 gives the channel count)
//   line_kev        true energy of the measured line
//   area            its true net area, counts
//   channels        spectrum channels (0 to 3072 keV)
//   seeds           spectra analysed
//   found_pct       per cent of spectra with a fitted peak within 0.5 FWHM
//                   of the line (peaks and lines paired one to one, nearest
//                   first)
//   bias_pct        100 x (mean fitted area - truth) / truth, over found
//   sum_bias_pct    doublets: the same for the summed area of every peak
//                   within 1 FWHM of either member, over spectra with any;
//                   "-" elsewhere
//   pull_mean       mean of (fitted - true) / reported 1-sigma uncertainty
//   pull_sd         spread of the same; 1 when the uncertainties are right
//                   (needs two found peaks)
//   false_per_spec  fitted peaks per spectrum farther than 1 FWHM from every
//                   simulated line (the scenario's, so equal on its lines)
// "-" where nothing was found.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/analysis_steps.h"
#include "app/command_line.h"
#include "app/startup.h"
#include "app/state.h"
#include "peaks/peak_report_json.h"
#include "platform/files.h"
#include "platform/headless_platform.h"
#include "spectrum/native_file.h"
#include "spectrum/simulate.h"
#include "spectrum/spectrum_record.h"

namespace {

using namespace kestrim;

// A 3"x3" crystal near 1 MeV: the Compton continuum holds 2.5 times the
// photopeak's counts. At 122 keV most photons are absorbed whole, and the
// 50 keV line has no continuum to speak of.
constexpr double kCompton = 2.5;
constexpr double kCompton122 = 0.3;

struct Line {
  double energy;
  double area;
  double compton_to_peak;
};

struct Scenario {
  std::string name;
  std::vector<Line> lines = {};
  int channels = 1024;
  bool natural_background = true;            // nai_3x3_options' background
  std::vector<SimContinuumTerm> continuum = {};  // added terms, counts per keV
  bool doublet = false;
};

struct Found {
  double energy, area, sigma;
};

struct LineStats {
  int found = 0, pulls = 0;
  double area = 0, pull = 0, pull2 = 0;
};

struct ScenarioStats {
  std::vector<LineStats> lines;
  int false_peaks = 0;
  int sum_n = 0;
  double sum_area = 0;
};

std::vector<Scenario> scenarios() {
  std::vector<Scenario> out;
  for (int channels : {1024, 2048, 4096}) {
    const std::string suffix = channels == 1024 ? "" : "-" + std::to_string(channels);
    out.push_back({"iso-122" + suffix, {{122, 10000, kCompton122}}, channels});
    out.push_back({"iso-356" + suffix, {{356, 10000, kCompton}}, channels});
    out.push_back({"iso-662" + suffix, {{662, 10000, kCompton}}, channels});
    out.push_back({"co60" + suffix, {{1173.2, 10000, kCompton}, {1332.5, 10000, kCompton}}, channels});
    out.push_back({"iso-1460" + suffix, {{1460.8, 10000, kCompton}}, channels});
    out.push_back({"iso-2614" + suffix, {{2614.5, 10000, kCompton}}, channels});
  }
  // A weak line on the shelf just below the edge (477 keV) of a strong
  // 662 keV line, as Ac-228's 463 keV under Cs-137.
  out.push_back({"below-edge", {{463, 5000, kCompton}, {662, 50000, kCompton}}});
  // Equal doublets at 662 keV, separated by a fraction of the FWHM at 662 keV.
  const double w662 = 1.79 * std::sqrt(662.0);
  for (double sep : {0.8, 1.0, 1.5, 2.0}) {
    char name[32];
    std::snprintf(name, sizeof name, "doublet-%.1f", sep);
    Scenario s{name, {{662, 8000, kCompton}, {662 + sep * w662, 8000, kCompton}}};
    s.doublet = true;
    out.push_back(s);
  }
  // A weak 1460 keV line on a flat continuum of 30, 100 and 300 counts per
  // 3 keV channel, without the natural background.
  for (double level : {30.0, 100.0, 300.0}) {
    Scenario s{"weak-1460-on-" + std::to_string(static_cast<int>(level)), {{1460.8, 300, kCompton}}};
    s.natural_background = false;
    s.continuum = {{level / 3.0, 0}};
    out.push_back(s);
  }
  // Near the ends of the shipped search range (channels 10 to 1000, i.e.
  // 30 to 3000 keV at 1024 channels).
  out.push_back({"end-low-50", {{50, 10000, 0}}});
  out.push_back({"end-high-2900", {{2900, 5000, kCompton}}});
  // A 356 keV line on exponential continua of 100 counts per channel under
  // the peak, e-folding over 100, 300 and 1000 keV (nothing else).
  for (double efold : {100.0, 300.0, 1000.0}) {
    Scenario s{"exp-" + std::to_string(static_cast<int>(efold)), {{356, 5000, 0}}};
    s.natural_background = false;
    s.continuum = {{100.0 / 3.0 * std::exp(356 / efold), efold}};
    out.push_back(s);
  }
  return out;
}

SimOptions options_for(const Scenario& sc, std::uint64_t seed) {
  SimOptions o = nai_3x3_options(sc.channels, seed);
  if (!sc.natural_background) o.continuum.clear();
  for (const SimContinuumTerm& t : sc.continuum) o.continuum.push_back(t);
  for (const Line& l : sc.lines) {
    SimPeak p;
    p.energy = l.energy;
    p.area = l.area;
    p.compton_to_peak = l.compton_to_peak;
    o.peaks.push_back(p);
  }
  return o;
}

// What `kestrim peaks --json` does with a file (apps/kestrim/cmd_peaks.cpp),
// in a scratch working folder. Returns false when the run failed.
bool analyse_like_peaks_command(const std::string& scratch, const std::string& spectrum_path,
                                std::vector<Found>& found) {
  HeadlessPlatform ui;
  ui.set_progress_enabled(false);
  auto state = std::make_unique<State>(ui);
  state->paths = default_paths();
  state->paths.user_dir = join_path(scratch, "user");
  state->paths.working_dir = scratch;
  if (!initialise(*state)) return false;
  state->app.batch_mode = true;
  state->app.batch_analysis = true;
  if (!parse_command_line(*state, std::vector<std::string>{"file=" + spectrum_path}).ok) return false;
  if (!step_peak_search(*state) || !step_fit_all_regions(*state)) return false;
  nlohmann::json j = peaks_json(*state);
  found.clear();
  for (const auto& p : j["peaks"])
    found.push_back({p["energy"].get<double>(), p["area"].get<double>(), p["area_uncertainty"].get<double>()});
  return true;
}

bool write_spectrum(const SimOptions& o, const std::string& path) {
  SimSpectrum sim = simulate_spectrum(o);
  SpectrumRecord rec;
  store_simulated(sim, o, rec);
  set_title(rec.header, "Peak accuracy scenario (simulated)", "");
  rec.header.collected = {7, 12, 2026, 9, 0};
  std::string error;
  return write_file_atomic(path, encode_native(rec, rec.header.collected, nullptr), &error);
}

bool run_scenario(const Scenario& sc, int index, int seeds, const std::string& scratch, const std::string& keep,
                  bool verbose, ScenarioStats& st) {
  st = ScenarioStats{};
  st.lines.resize(sc.lines.size());
  const std::string path = join_path(scratch, "scenario.dat");
  std::vector<Found> found;
  for (int seed = 1; seed <= seeds; ++seed) {
    SimOptions o = options_for(sc, 1000003ULL * static_cast<std::uint64_t>(index + 1) + static_cast<std::uint64_t>(seed));
    if (!write_spectrum(o, path) || !analyse_like_peaks_command(scratch, path, found)) return false;
    if (seed == 1 && !keep.empty() && !write_spectrum(o, join_path(keep, sc.name + ".dat"))) return false;
    if (verbose && !keep.empty() &&
        !write_spectrum(o, join_path(keep, sc.name + "-" + std::to_string(seed) + ".dat")))
      return false;
    if (verbose) {
      std::fprintf(stderr, "%s seed %d:", sc.name.c_str(), seed);
      for (const Found& f : found) std::fprintf(stderr, " %.1f keV %.0f+-%.0f", f.energy, f.area, f.sigma);
      std::fprintf(stderr, "\n");
    }

    // Pair lines and peaks within 0.5 FWHM one to one, nearest first.
    struct Pair {
      double distance;
      std::size_t line, peak;
    };
    std::vector<Pair> pairs;
    for (std::size_t i = 0; i < sc.lines.size(); ++i)
      for (std::size_t k = 0; k < found.size(); ++k) {
        double d = std::fabs(found[k].energy - sc.lines[i].energy);
        if (d < 0.5 * sim_fwhm_kev(o, sc.lines[i].energy)) pairs.push_back({d, i, k});
      }
    std::sort(pairs.begin(), pairs.end(), [](const Pair& a, const Pair& b) { return a.distance < b.distance; });
    std::vector<bool> line_used(sc.lines.size()), peak_used(found.size());
    for (const Pair& p : pairs) {
      if (line_used[p.line] || peak_used[p.peak]) continue;
      line_used[p.line] = peak_used[p.peak] = true;
      LineStats& ls = st.lines[p.line];
      const Found& f = found[p.peak];
      ++ls.found;
      ls.area += f.area;
      if (f.sigma > 0) {
        double z = (f.area - sc.lines[p.line].area) / f.sigma;
        ++ls.pulls;
        ls.pull += z;
        ls.pull2 += z * z;
      }
    }
    // False peaks, and the summed area of a doublet.
    double sum = 0;
    bool any = false;
    for (const Found& f : found) {
      bool near_line = false;
      for (const Line& l : sc.lines)
        if (std::fabs(f.energy - l.energy) < sim_fwhm_kev(o, l.energy)) near_line = true;
      if (!near_line) ++st.false_peaks;
      if (near_line) {
        sum += f.area;
        any = true;
      }
    }
    if (sc.doublet && any) {
      ++st.sum_n;
      st.sum_area += sum;
    }
  }
  return true;
}

std::string fixed(double v, int decimals) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

}  // namespace

int main(int argc, char** argv) {
  int seeds = 100;
  bool csv = false;
  std::vector<std::string> only;
  std::string keep;
  bool verbose = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--csv") == 0) {
      csv = true;
    } else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
      only.push_back(argv[++i]);
    } else if (std::strcmp(argv[i], "--keep") == 0 && i + 1 < argc) {
      keep = argv[++i];
    } else if (std::strcmp(argv[i], "--verbose") == 0) {
      verbose = true;
    } else if (argv[i][0] >= '0' && argv[i][0] <= '9') {
      seeds = std::atoi(argv[i]);
    } else {
      std::fprintf(stderr, "Usage: peak_accuracy [SEEDS] [--csv] [--only PREFIX]... [--keep DIR] [--verbose]\n");
      return 2;
    }
  }
  if (seeds < 1) seeds = 100;

  const Paths paths = default_paths();
  if (!file_exists(join_path(paths.program_dir, "DefaultFiles/Normal.000"))) {
    std::fprintf(stderr, "peak_accuracy: no shipped Defaults file in %s (build the kestrim_data target)\n",
                 paths.program_dir.c_str());
    return 1;
  }
  char scratch_template[] = "/tmp/kestrim-accuracy-XXXXXX";
  if (!::mkdtemp(scratch_template)) {
    std::fprintf(stderr, "peak_accuracy: cannot create a temporary folder\n");
    return 1;
  }
  const std::string scratch = scratch_template;

  const char* names[] = {"scenario", "line_kev", "area", "channels", "seeds", "found_pct",
                         "bias_pct", "sum_bias_pct", "pull_mean", "pull_sd", "false_per_spec"};
  const int widths[] = {-18, 8, 7, 8, 5, 9, 8, 12, 9, 7, 14};
  auto print_row = [&](const std::vector<std::string>& cells) {
    for (std::size_t c = 0; c < cells.size(); ++c) {
      if (csv)
        std::printf("%s%s", c ? "," : "", cells[c].c_str());
      else
        std::printf("%s%*s", c ? " " : "", widths[c], cells[c].c_str());
    }
    std::printf("\n");
  };
  print_row(std::vector<std::string>(std::begin(names), std::end(names)));

  int status = 0;
  const std::vector<Scenario> all = scenarios();
  for (std::size_t i = 0; i < all.size(); ++i) {
    const Scenario& sc = all[i];
    if (!only.empty() &&
        std::none_of(only.begin(), only.end(), [&](const std::string& p) { return sc.name.rfind(p, 0) == 0; }))
      continue;
    ScenarioStats st;
    if (!run_scenario(sc, static_cast<int>(i), seeds, scratch, keep, verbose, st)) {
      std::fprintf(stderr, "peak_accuracy: scenario %s could not be analysed\n", sc.name.c_str());
      status = 1;
      continue;
    }
    double truth_sum = 0;
    for (const Line& l : sc.lines) truth_sum += l.area;
    const std::string sum_bias =
        sc.doublet && st.sum_n > 0 ? fixed(100 * (st.sum_area / st.sum_n - truth_sum) / truth_sum, 2) : "-";
    for (std::size_t k = 0; k < sc.lines.size(); ++k) {
      const LineStats& ls = st.lines[k];
      const Line& l = sc.lines[k];
      std::string bias = "-", pm = "-", psd = "-";
      if (ls.found > 0) bias = fixed(100 * (ls.area / ls.found - l.area) / l.area, 2);
      if (ls.pulls > 0) {
        double m = ls.pull / ls.pulls;
        pm = fixed(m, 2);
        if (ls.pulls > 1) psd = fixed(std::sqrt(std::max(ls.pull2 / ls.pulls - m * m, 0.0)), 2);
      }
      print_row({sc.name, fixed(l.energy, 1), fixed(l.area, 0), std::to_string(sc.channels), std::to_string(seeds),
                 fixed(100.0 * ls.found / seeds, 1), bias, sum_bias, pm, psd,
                 fixed(static_cast<double>(st.false_peaks) / seeds, 2)});
    }
    std::fflush(stdout);
  }
  std::error_code ec;
  std::filesystem::remove_all(scratch, ec);
  return status;
}
