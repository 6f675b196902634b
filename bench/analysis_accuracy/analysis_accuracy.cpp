// analysis_accuracy: how well the whole analysis (peak search and fit,
// identification, activities) names the nuclides of simulated NaI samples
// and measures their activities, with the shipped Defaults and libraries.
//
// Each sample is a one-hour count on a 3"x3" NaI detector (spectrum/
// simulate.h: FWHM 1.79 sqrt(E) keV, 1024 channels over 3 MeV, the natural
// background continuum of nai_3x3_options) holding the given activities.
// Every gamma line of the nuclide (and, for the Ra-226, Th-232 and U-238
// chains, of its progeny in equilibrium, Tl-208 on the 35.93 % alpha
// branch of Bi-212) above 40 keV and 0.1 % per decay is simulated with
// its realistic Compton continuum. Energies and emission probabilities come
// from the evaluated gamma-line table (DDEP recommended data, ENSDF for
// Cs-136 and I-132) given on the command line; the shipped libraries are
// made from the same table, merged for NaI (docs/libraries.md).
// Peak areas are activity x yield x efficiency x live time with the
// efficiency stored in the spectrum's calibration,
//   ln eff = 2.3371 - 0.9 ln E  (3 % at 662 keV),
// whose own uncertainty is set to 0, so that the reported uncertainty is
// that of the counts alone.
//
// Each spectrum goes through what `kestrim /batch /file=` does: a fresh
// State with the folders of default_paths() and a private empty user
// folder (the shipped Defaults Normal.000 and the libraries it names), the
// spectrum written as a native file, run_program(). Nothing is tuned here.
//
// Usage: analysis_accuracy GAMMA_LINES_CSV [SEEDS] [--csv] [--only PREFIX]... [--keep DIR] [--verbose]
//                          [--channels N] [--fwhm PERCENT] [--at-limit] [--times F] [--noiseless]
//   SEEDS   spectra per mix (default 20)
//   --channels  channels over the same 3 MeV (default 1024)
//   --fwhm  resolution at 662 keV in per cent (default 7.0, a 3"x3"
//           detector; a 2"x2" one is nearer 8), still growing as sqrt(E)
//   --at-limit  in place of the mixes, every nuclide of the shipped analysis
//           library alone at ten times its limit of detection on the blank
//           (Currie's 2.71 + 4.65 sqrt(B), B the blank's expected counts
//           within 1.25 FWHM of the library's principal line)
//   --times  with --at-limit, that many times the limit in place of ten
//   --keep  also write each mix's first spectrum as DIR/MIX.dat, to look at
//           with `kestrim /batch /file=DIR/MIX.dat`
//   --verbose  print every spectrum's reported nuclides to the standard
//           error; with --keep, also write every spectrum as DIR/MIX-SEED.dat
//   --noiseless  the expected counts, without Poisson noise: what is left
//           is the method's own error (one seed is enough); with
//           --verbose, also print each line's true photopeak area
//
// Output: one line per (mix, nuclide of the mix), then one line per mix
// for the false identifications:
//   mix             the sample
//   nuclide         a nuclide put in ("-" on the false-identification line)
//   activity_bq     its activity
//   found_pct       per cent of spectra reporting it (any marker)
//   within_2s_pct   per cent of spectra where |reported - true| <= 2 sigma
//                   (sigma: the reported uncertainty), of all spectra
//   bias_pct        100 x (mean reported - true) / true, over found
//   false_per_spec  nuclides reported per spectrum that were not put in
//                   (the mix's line)
//   false_names     the most frequent of them, with their counts
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/startup.h"
#include "app/state.h"
#include "platform/files.h"
#include "settings/library.h"
#include "platform/silent_platform.h"
#include "spectrum/native_file.h"
#include "spectrum/simulate.h"
#include "spectrum/spectrum_record.h"

namespace {

using namespace kestrim;

constexpr double kEffA = 2.3371, kEffB = -0.9;
double efficiency(double e) { return std::exp(kEffA + kEffB * std::log(e)); }

// Counts of the Compton continuum per photopeak count: about 2.5 near
// 1 MeV on a 3"x3" crystal, little below 150 keV where most photons are
// absorbed whole.
double compton_to_peak(double e) {
  if (e <= 150) return 0.3;
  if (e >= 400) return 2.5;
  return 0.3 + (e - 150) / 250 * 2.2;
}

struct GammaLine {
  double energy, yield;
};

using LineTable = std::map<std::string, std::vector<GammaLine>>;

bool read_table(const std::string& path, LineTable& table) {
  std::ifstream in(path);
  if (!in) return false;
  std::string row;
  std::getline(in, row);  // header
  while (std::getline(in, row)) {
    std::stringstream s(row);
    std::string name, half, energy, intensity;
    if (!std::getline(s, name, ',') || !std::getline(s, half, ',') || !std::getline(s, energy, ',') ||
        !std::getline(s, intensity, ','))
      continue;
    table[name].push_back({std::strtod(energy.c_str(), nullptr), std::strtod(intensity.c_str(), nullptr) / 100});
  }
  return !table.empty();
}

// The lines seen per decay of a nuclide as the library names it.
std::vector<GammaLine> lines_of(const LineTable& table, const std::string& name) {
  static const std::map<std::string, std::vector<std::pair<std::string, double>>> chains = {
      {"Ra-226", {{"Ra-226", 1}, {"Pb-214", 1}, {"Bi-214", 1}}},
      {"Th-232",
       {{"Th-232", 1}, {"Ac-228", 1}, {"Th-228", 1}, {"Ra-224", 1}, {"Pb-212", 1}, {"Bi-212", 1},
        {"Tl-208", 0.3593}}},
      {"U-238", {{"U-238", 1}, {"Th-234", 1}, {"Pa-234m", 1}}},
      {"Cs-137", {{"Cs-137", 1}}},
  };
  std::vector<std::pair<std::string, double>> members = {{name, 1}};
  if (auto c = chains.find(name); c != chains.end()) members = c->second;
  std::vector<GammaLine> out;
  for (const auto& [member, factor] : members) {
    auto t = table.find(member);
    if (t == table.end()) continue;
    for (const GammaLine& l : t->second)
      if (l.energy > 40 && l.yield * factor > 0.001) out.push_back({l.energy, l.yield * factor});
  }
  return out;
}

struct Mix {
  std::string name;
  std::vector<std::pair<std::string, double>> nuclides;  // name, Bq
};

std::vector<Mix> mixes() {
  return {
      {"blank", {}},
      {"cs137-10", {{"Cs-137", 10}}},
      {"cs137-100", {{"Cs-137", 100}}},
      {"co60", {{"Co-60", 100}}},
      {"k40", {{"K-40", 1000}}},
      {"am241", {{"Am-241", 100}}},
      {"ba133", {{"Ba-133", 100}}},
      {"eu152", {{"Eu-152", 200}}},
      {"ra226", {{"Ra-226", 100}}},
      {"th232", {{"Th-232", 100}}},
      {"u238", {{"U-238", 2000}}},
      {"i131", {{"I-131", 100}}},
      {"cs134+cs137", {{"Cs-134", 50}, {"Cs-137", 100}}},
      {"cs137+co60+k40", {{"Cs-137", 100}, {"Co-60", 100}, {"K-40", 1000}}},
      {"soil", {{"K-40", 400}, {"Ra-226", 25}, {"Th-232", 25}, {"Cs-137", 40}}},
      {"soil-cs20", {{"K-40", 400}, {"Ra-226", 30}, {"Th-232", 30}, {"Cs-137", 20}}},
      // Last, so that the seeds of the mixes above stay as they were.
      {"cd109", {{"Cd-109", 1000}}},
      // Calibration-strength sources, where the counts hold the areas to a
      // few tenths of a per cent.
      {"ba133-2k", {{"Ba-133", 2000}}},
      {"eu152-4k", {{"Eu-152", 4000}}},
      {"ra226-2k", {{"Ra-226", 2000}}},
      {"th232-2k", {{"Th-232", 2000}}},
      {"cs137-5k", {{"Cs-137", 5000}}},
      // Ten times the limit of detection on the blank (Currie's, the
      // principal line's counts within 1.25 FWHM): the weakest a source
      // should be measured to 5 %.
      {"ba133-19", {{"Ba-133", 18.6}}},
      {"th232-20", {{"Th-232", 19.7}}},
      {"ra226-32", {{"Ra-226", 32.2}}},
  };
}

// The detector the samples are counted on.
struct Detector {
  int channels = 1024;
  double fwhm_percent = 0;  // at 662 keV; 0: nai_3x3_options's
  bool noiseless = false;   // expected counts, no Poisson noise
};

// An hour's count on the detector, nothing in it yet.
SimOptions count_options(const Detector& detector, std::uint64_t seed) {
  SimOptions o = nai_3x3_options(detector.channels, seed);
  if (detector.fwhm_percent > 0) o.fwhm_sqrt_kev = detector.fwhm_percent / 100 * 662 / std::sqrt(662.0);
  o.live_time = o.true_time = 3600;
  o.noise = !detector.noiseless;
  return o;
}

bool write_sample(const LineTable& table, const Mix& mix, std::uint64_t seed, const Detector& detector,
                  const std::string& path, bool print_truth = false) {
  SimOptions o = count_options(detector, seed);
  for (const auto& [name, bq] : mix.nuclides)
    for (const GammaLine& l : lines_of(table, name)) {
      SimPeak p;
      p.energy = l.energy;
      p.area = bq * l.yield * efficiency(l.energy) * o.live_time;
      p.compton_to_peak = compton_to_peak(l.energy);
      if (print_truth) std::fprintf(stderr, "  %s %.1f keV: %.0f counts\n", name.c_str(), p.energy, p.area);
      o.peaks.push_back(p);
    }
  SimSpectrum sim = simulate_spectrum(o);
  SpectrumRecord rec;
  store_simulated(sim, o, rec);
  SpectrumHeader& h = rec.header;
  set_title(h, "Analysis accuracy sample (simulated)", "");
  h.collected = {7, 12, 2026, 9, 0};
  h.sampled = h.collected;
  h.detector = 1;
  h.geometry = 1;
  h.sample_size = 1.0f;
  h.correction_factor = 1.0f;
  CalibrationRecord& cal = rec.calibration;
  cal.crossover = 0;
  cal.high_eff_terms = 2;
  cal.high_eff = {static_cast<float>(kEffA), static_cast<float>(kEffB), 0, 0, 0, 0};
  cal.uncertainty = 0;
  cal.efficiency_date = {7, 12, 2026};
  std::string error;
  return write_file_atomic(path, encode_native(rec, h.collected, nullptr), &error);
}

bool analyse(const std::string& scratch, const std::string& spectrum, std::vector<NuclideResult>& results) {
  SilentPlatform ui;  // the batch's messages are not the table's
  auto state = std::make_unique<State>(ui);
  state->paths = default_paths();
  state->paths.user_dir = join_path(scratch, "user");
  state->paths.working_dir = scratch;
  const RunOutcome outcome = run_program(*state, std::vector<std::string>{"batch", "file=" + spectrum});
  results.clear();
  for (const NuclideResult& r : state->results.results)
    if (r.uncertainty > 0 || r.activity > 0) results.push_back(r);
  return outcome == RunOutcome::kSucceeded;
}

std::string fixed(double v, int decimals) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

std::string trimmed(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  while (!s.empty() && s.front() == ' ') s.erase(s.begin());
  return s;
}

// Every nuclide of the shipped analysis library alone, at `times` its
// limit of detection in the blank of this detector. Empty when the library
// cannot be read.
std::vector<Mix> at_limit_mixes(const Detector& detector, double times) {
  std::vector<Mix> out;
  SilentPlatform ui;
  LibraryReader reader;
  Paths shipped = default_paths();
  shipped.user_dir.clear();  // the shipped library, not a user's copy
  if (!reader.open_title(ui, shipped, "NaI_Analysis.lib")) return out;
  SimOptions blank = count_options(detector, 1);
  blank.noise = false;
  const SimSpectrum background = simulate_spectrum(blank);
  CurrentNuclide n;
  while (reader.next(n) == 1) {
    const double principal = n.nuclide.principal_energy;
    double yield = 0;
    for (int i = 0; i < n.line_count; ++i)
      if (std::fabs(n.energy[i] - principal) < 0.01) yield = n.yield[i];
    if (!(yield > 0)) continue;
    const double x = (principal - blank.offset_kev) / blank.gain_kev;
    const double half = 1.25 * blank.fwhm_sqrt_kev * std::sqrt(principal) / blank.gain_kev;
    double b = 0;
    for (int c = static_cast<int>(std::ceil(x - half)); c <= static_cast<int>(x + half); ++c)
      if (c >= 2 && c < static_cast<int>(background.expected.size())) b += background.expected[c];
    const double bq = times * (2.71 + 4.65 * std::sqrt(b)) / (yield * efficiency(principal) * blank.live_time);
    const std::string name = trimmed(to_string(n.nuclide.name));
    out.push_back({name + "@" + fixed(times, times == std::floor(times) ? 0 : 1) + "lod", {{name, bq}}});
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  int seeds = 20;
  bool csv = false;
  std::string table_path;
  std::vector<std::string> only;
  std::string keep;
  bool verbose = false;
  Detector detector;
  bool at_limit = false;
  double times = 10;  // the limits of detection the --at-limit sources stand at
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--csv") == 0) {
      csv = true;
    } else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
      only.push_back(argv[++i]);
    } else if (std::strcmp(argv[i], "--keep") == 0 && i + 1 < argc) {
      keep = argv[++i];
    } else if (std::strcmp(argv[i], "--verbose") == 0) {
      verbose = true;
    } else if (std::strcmp(argv[i], "--noiseless") == 0) {
      detector.noiseless = true;
    } else if (std::strcmp(argv[i], "--at-limit") == 0) {
      at_limit = true;
    } else if (std::strcmp(argv[i], "--times") == 0 && i + 1 < argc) {
      at_limit = true;
      times = std::atof(argv[++i]);
      if (!(times >= 1 && times <= 1000)) {
        std::fprintf(stderr, "analysis_accuracy: --times takes 1 to 1000\n");
        return 2;
      }
    } else if (std::strcmp(argv[i], "--channels") == 0 && i + 1 < argc) {
      detector.channels = std::atoi(argv[++i]);
      if (detector.channels < 256 || detector.channels > 16384) {
        std::fprintf(stderr, "analysis_accuracy: --channels takes 256 to 16384\n");
        return 2;
      }
    } else if (std::strcmp(argv[i], "--fwhm") == 0 && i + 1 < argc) {
      detector.fwhm_percent = std::atof(argv[++i]);
      if (!(detector.fwhm_percent >= 3 && detector.fwhm_percent <= 15)) {
        std::fprintf(stderr, "analysis_accuracy: --fwhm takes 3 to 15 (per cent at 662 keV)\n");
        return 2;
      }
    } else if (argv[i][0] >= '0' && argv[i][0] <= '9') {
      seeds = std::atoi(argv[i]);
    } else if (table_path.empty() && argv[i][0] != '-') {
      table_path = argv[i];
    } else {
      std::fprintf(stderr, "Usage: analysis_accuracy GAMMA_LINES_CSV [SEEDS] [--csv] [--only PREFIX]... [--keep DIR] [--verbose] [--channels N] [--fwhm PERCENT] [--at-limit] [--times F] [--noiseless]\n");
      return 2;
    }
  }
  LineTable table;
  if (table_path.empty() || !read_table(table_path, table)) {
    std::fprintf(stderr, "analysis_accuracy: cannot read the gamma-line table %s\n", table_path.c_str());
    return 1;
  }
  if (seeds < 1) seeds = 20;
  char scratch_template[] = "/tmp/kestrim-analysis-accuracy-XXXXXX";
  if (!::mkdtemp(scratch_template)) return 1;
  const std::string scratch = scratch_template;

  const char* names[] = {"mix", "nuclide", "activity_bq", "found_pct", "within_2s_pct", "bias_pct",
                         "false_per_spec", "false_names"};
  const int widths[] = {-15, -8, 11, 9, 13, 8, 14, 0};
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
  const std::vector<Mix> all = at_limit ? at_limit_mixes(detector, times) : mixes();
  if (all.empty()) {
    std::fprintf(stderr, "analysis_accuracy: cannot read the analysis library NaI_Analysis (is KESTRIM_HOME set?)\n");
    return 1;
  }
  for (std::size_t m = 0; m < all.size(); ++m) {
    const Mix& mix = all[m];
    if (!only.empty() &&
        std::none_of(only.begin(), only.end(), [&](const std::string& p) { return mix.name.rfind(p, 0) == 0; }))
      continue;
    struct Stats {
      int found = 0, within = 0;
      double sum = 0;
    };
    std::vector<Stats> stats(mix.nuclides.size());
    std::map<std::string, int> false_ids;
    int false_total = 0, failed = 0;
    const std::string path = join_path(scratch, "sample.dat");
    for (int seed = 1; seed <= seeds; ++seed) {
      std::vector<NuclideResult> results;
      const std::uint64_t sample_seed = 7919ULL * (m + 1) + static_cast<std::uint64_t>(seed);
      if (!write_sample(table, mix, sample_seed, detector, path, verbose && detector.noiseless && seed == 1)) return 1;
      if (seed == 1 && !keep.empty() && !write_sample(table, mix, sample_seed, detector, join_path(keep, mix.name + ".dat")))
        return 1;
      if (verbose && !keep.empty() &&
          !write_sample(table, mix, sample_seed, detector, join_path(keep, mix.name + "-" + std::to_string(seed) + ".dat")))
        return 1;
      if (!analyse(scratch, path, results)) ++failed;
      if (verbose) {
        std::fprintf(stderr, "%s seed %d:", mix.name.c_str(), seed);
        for (const NuclideResult& r : results)
          std::fprintf(stderr, " %s %.4g%s%.2f%%", trimmed(r.name).c_str(), r.activity, r.uncertainty > 0 ? "+-" : "<",
                       r.uncertainty);
        std::fprintf(stderr, "\n");
      }
      for (const NuclideResult& r : results) {
        if (r.uncertainty <= 0) continue;  // a limit
        const std::string name = trimmed(r.name);
        bool put_in = false;
        for (std::size_t k = 0; k < mix.nuclides.size(); ++k) {
          if (mix.nuclides[k].first != name) continue;
          put_in = true;
          const double truth = mix.nuclides[k].second;
          ++stats[k].found;
          stats[k].sum += r.activity;
          if (std::fabs(r.activity - truth) <= 2 * r.activity * r.uncertainty / 100) ++stats[k].within;
        }
        if (!put_in) {
          ++false_ids[name];
          ++false_total;
        }
      }
    }
    if (failed) {
      std::fprintf(stderr, "analysis_accuracy: %d of %d analyses of %s failed\n", failed, seeds, mix.name.c_str());
      status = 1;
    }
    for (std::size_t k = 0; k < mix.nuclides.size(); ++k) {
      const Stats& s = stats[k];
      const double truth = mix.nuclides[k].second;
      print_row({mix.name, mix.nuclides[k].first, fixed(truth, 0), fixed(100.0 * s.found / seeds, 0),
                 fixed(100.0 * s.within / seeds, 0), s.found ? fixed(100 * (s.sum / s.found - truth) / truth, 1) : "-",
                 "", ""});
    }
    std::vector<std::pair<int, std::string>> ranked;
    for (const auto& [name, n] : false_ids) ranked.push_back({n, name});
    std::sort(ranked.rbegin(), ranked.rend());
    std::string listed;
    for (std::size_t i = 0; i < ranked.size() && i < 5; ++i)
      listed += (i ? " " : "") + ranked[i].second + ":" + std::to_string(ranked[i].first);
    print_row({mix.name, "-", "", "", "", "", fixed(static_cast<double>(false_total) / seeds, 2),
               listed.empty() ? "-" : listed});
    std::fflush(stdout);
  }
  std::filesystem::remove_all(scratch);
  return status;
}
