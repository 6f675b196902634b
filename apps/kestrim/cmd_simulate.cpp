// kestrim simulate: writes a synthetic NaI spectrum as a native file, with
// its truth (peaks, areas, activities) as JSON beside it.
//
// The "environmental" preset is a soil-like sample on a 3"x3" NaI detector:
// K-40, Cs-137, the Ra-226 daughters Pb-214 and Bi-214, and Tl-208 and
// Ac-228 of the thorium chain. Gamma energies and emission probabilities
// are evaluated values (DDEP recommended data). Peak areas are
// activity x emission probability x efficiency x live time, with the
// efficiency curve stored in the file's calibration:
//   ln eff = 2.3371 - 0.9 ln E (E in keV), i.e. eff = 0.03 (662/E)^0.9.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "commands.h"
#include "platform/c_locale.h"
#include "platform/files.h"
#include "settings/calibration_functions.h"
#include "spectrum/dates.h"
#include "spectrum/native_file.h"
#include "spectrum/simulate.h"
#include "spectrum/spectrum_record.h"

namespace kestrim::cli {

namespace {

struct Line {
  double energy;  // keV
  double yield;   // emission probability per decay
};
struct Nuclide {
  const char* name;
  double activity;  // Bq in the sample
  std::vector<Line> lines;
};

// DDEP recommended energies and emission probabilities (lines above 5 %
// that a NaI detector sees as separate or nearly separate peaks).
std::vector<Nuclide> environmental_nuclides() {
  return {
      {"K-40", 400.0, {{1460.822, 0.105496}}},
      {"Cs-137", 40.0, {{661.657, 0.8499}}},
      {"Pb-214", 25.0, {{295.224, 0.18414}, {351.932, 0.356}}},
      {"Bi-214", 25.0, {{609.312, 0.454804}, {1120.287, 0.149069}, {1764.494, 0.153068}}},
      {"Tl-208", 8.0, {{583.187, 0.85}, {2614.511, 0.99755}}},
      {"Ac-228", 22.0, {{911.196, 0.262}, {968.96, 0.159}}},
  };
}

// The "calibration" preset: a mixed calibration source in a 1 L bottle on
// the same kind of detector, with certified-style activities at a reference
// date and the principal lines of each nuclide (DDEP energies, emission
// probabilities and half-lives). Peak areas include the decay from the
// reference date to the start of the count and the decay during it. Its
// efficiency rises to a maximum near 100 keV and falls above:
//   ln eff = -7.70 + 2.192 ln E - 0.238 (ln E)^2   (E in keV).
struct SourceNuclide {
  const char* name;
  double activity;    // Bq at the reference date
  double half_life;   // seconds
  std::vector<Line> lines;
};
std::vector<SourceNuclide> calibration_nuclides() {
  return {
      {"Am-241", 1000.0, 1.36515262e+10, {{59.5409, 0.3592}}},
      {"Cd-109", 40000.0, 39908160, {{88.0336, 0.0366}}},
      {"Co-57", 1500.0, 23484384, {{122.06065, 0.8549}}},
      {"Cs-137", 1500.0, 948285629, {{661.657, 0.8499}}},
      {"Y-88", 5000.0, 9212832, {{898.042, 0.937}, {1836.07, 0.99346}}},
      {"Co-60", 2000.0, 166339713, {{1173.228, 0.9985}, {1332.492, 0.999826}}},
  };
}
constexpr double kCalEff0 = -7.70, kCalEff1 = 2.192, kCalEff2 = -0.238;
double calibration_efficiency(double e) {
  const double x = std::log(e);
  return std::exp(kCalEff0 + kCalEff1 * x + kCalEff2 * x * x);
}
// Reference date of the activities and start of the count.
constexpr DateTime kReferenceDate{1, 6, 2026, 12, 0};
constexpr DateTime kCountStart{7, 12, 2026, 9, 0};

constexpr double kEffA = 2.3371;  // ln eff = kEffA + kEffB ln E
constexpr double kEffB = -0.9;

double model_efficiency(double e) { return std::exp(kEffA + kEffB * std::log(e)); }

void usage() {
  c_printf(
      "Usage: kestrim simulate -o FILE.dat [--preset environmental|calibration] [--channels N]\n"
      "                        [--live-time S] [--seed N]\n"
      "Writes a synthetic NaI spectrum and FILE.truth.json with its known peaks.\n");
}

int write_outputs(const std::string& out, const std::vector<std::uint8_t>& bytes,
                  const nlohmann::json& truth) {
  std::string error;
  if (!write_file_atomic(out, bytes, &error)) {
    c_fprintf(stderr, "kestrim simulate: cannot write %s: %s\n", out.c_str(), error.c_str());
    return 1;
  }
  std::string truth_path = out;
  auto dot = truth_path.find_last_of('.');
  if (dot != std::string::npos && truth_path.find('/', dot) == std::string::npos)
    truth_path = truth_path.substr(0, dot);
  truth_path += ".truth.json";
  if (!write_text_atomic(truth_path, truth.dump(2) + "\n", &error)) {
    c_fprintf(stderr, "kestrim simulate: cannot write %s: %s\n", truth_path.c_str(),
                 error.c_str());
    return 1;
  }
  c_printf("wrote %s and %s\n", out.c_str(), truth_path.c_str());
  return 0;
}

// The mixed calibration source: 2048 keV over the channels with a slightly
// quadratic gain, so that a second-order energy calibration is needed.
int simulate_calibration(const std::string& out, int channels, double live, unsigned long long seed) {
  SimOptions o;
  o.channels = channels;
  const double scale = 1024.0 / channels;
  o.offset_kev = 2.0;
  o.gain_kev = 1.95 * scale;
  o.quadratic = 2.0e-5 * scale * scale;
  o.fwhm_662 = 0.07 * 662;
  o.seed = seed;
  o.live_time = live;
  o.true_time = live * 1.01;
  o.bg_amplitude = 20.0 * live / 3600.0 * scale;
  o.bg_decay_kev = 250;
  o.bg_constant = 0.5 * live / 3600.0 * scale;

  const double decay_s = (minutes_since_1900(kCountStart) - minutes_since_1900(kReferenceDate)) * 60.0;
  nlohmann::json truth;
  truth["generator"] = "kestrim simulate --preset calibration";
  truth["seed"] = seed;
  truth["channels"] = channels;
  truth["live_time"] = live;
  truth["true_time"] = o.true_time;
  truth["reference_date"] = "1-Jun-2026 12:00";
  truth["count_start"] = "7-Dec-2026 09:00";
  truth["energy_calibration"] = {{"offset_kev", o.offset_kev}, {"gain_kev", o.gain_kev},
                                 {"quadratic", o.quadratic}};
  truth["fwhm_662_kev"] = o.fwhm_662;
  truth["efficiency"] = "ln eff = -7.70 + 2.192 ln E - 0.238 (ln E)^2, E in keV";
  nlohmann::json nuclides = nlohmann::json::array();
  for (const SourceNuclide& n : calibration_nuclides()) {
    const double lambda = std::log(2.0) / n.half_life;
    const double at_start = n.activity * std::exp(-lambda * decay_s);
    const double c = lambda * o.true_time;
    const double mean = at_start * (c > 1e-9 ? (1 - std::exp(-c)) / c : 1.0);
    nlohmann::json jn;
    jn["nuclide"] = n.name;
    jn["activity_bq_reference"] = n.activity;
    jn["activity_bq_count_start"] = at_start;
    nlohmann::json lines = nlohmann::json::array();
    for (const Line& l : n.lines) {
      SimPeak p;
      p.energy = l.energy;
      p.area = mean * l.yield * calibration_efficiency(l.energy) * live;
      p.peak_to_compton = 10.0;
      o.peaks.push_back(p);
      lines.push_back({{"energy_kev", l.energy},
                       {"yield", l.yield},
                       {"efficiency", calibration_efficiency(l.energy)},
                       {"net_area", p.area}});
    }
    jn["lines"] = lines;
    nuclides.push_back(jn);
  }
  truth["nuclides"] = nuclides;

  SimSpectrum s = simulate_spectrum(o);
  SpectrumRecord rec;
  store_simulated(s, o, rec);
  // The spectrum carries no calibration: the procedures make one.
  rec.calibration = CalibrationRecord{};
  SpectrumHeader& h = rec.header;
  set_title(h, "Mixed calibration source (simulated)", "");
  assign(h.user, "kestrim simulate");
  h.sample_number = 1;
  h.collected = kCountStart;
  h.sampled = kReferenceDate;
  h.detector = 1;
  h.geometry = 1;
  h.detector_file = 0;
  h.sample_size = 1.0f;
  assign(h.units, "L", false);
  h.correction_factor = 1.0f;
  assign(h.location, "Calibration bench");
  assign(h.sample_id, "MIXED-CAL-1");
  assign(h.sample_type, "calibration source");
  return write_outputs(out, encode_native(rec, h.collected, nullptr), truth);
}

}  // namespace

int cmd_simulate(const Args& args) {
  std::string out;
  std::string preset = "environmental";
  int channels = 1024;
  double live = 3600;
  unsigned long long seed = 20261207;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto next = [&]() -> std::string { return i + 1 < args.size() ? args[++i] : std::string(); };
    if (a == "-o" || a == "--output") out = next();
    else if (a == "--preset") preset = next();
    else if (a == "--channels") channels = std::atoi(next().c_str());
    else if (a == "--live-time") live = c_atof(next().c_str());
    else if (a == "--seed") seed = std::strtoull(next().c_str(), nullptr, 10);
    else if (a == "--help" || a == "-h") {
      usage();
      return 0;
    } else {
      c_fprintf(stderr, "kestrim simulate: unknown argument %s\n", a.c_str());
      return 2;
    }
  }
  if (out.empty() || (preset != "environmental" && preset != "calibration") || channels < 256 || channels > kMaxChannels ||
      !(live > 0)) {
    usage();
    return 2;
  }

  if (preset == "calibration") return simulate_calibration(out, channels, live, seed);

  SimOptions o;
  o.channels = channels;
  o.gain_kev = 3072.0 / channels;  // the spectrum always ends near 3 MeV
  o.offset_kev = 0.0;
  o.fwhm_662 = 0.07 * 662;
  o.seed = seed;
  o.live_time = live;
  o.true_time = live * 1.004;
  o.bg_amplitude = 60.0 * live / 3600.0 * (1024.0 / channels);
  o.bg_decay_kev = 250;
  o.bg_constant = 1.5 * live / 3600.0 * (1024.0 / channels);

  nlohmann::json truth;
  truth["generator"] = "kestrim simulate --preset environmental";
  truth["seed"] = seed;
  truth["channels"] = channels;
  truth["live_time"] = live;
  truth["energy_calibration"] = {{"offset_kev", o.offset_kev}, {"gain_kev", o.gain_kev}};
  truth["fwhm_662_kev"] = o.fwhm_662;
  truth["efficiency"] = "ln eff = 2.3371 - 0.9 ln E(keV)";
  nlohmann::json nuclides = nlohmann::json::array();
  for (const Nuclide& n : environmental_nuclides()) {
    nlohmann::json jn;
    jn["nuclide"] = n.name;
    jn["activity_bq"] = n.activity;
    jn["activity_bq_per_kg"] = n.activity;  // 1 kg sample
    nlohmann::json lines = nlohmann::json::array();
    for (const Line& l : n.lines) {
      SimPeak p;
      p.energy = l.energy;
      p.area = n.activity * l.yield * model_efficiency(l.energy) * live;
      p.peak_to_compton = 2.5;
      o.peaks.push_back(p);
      lines.push_back({{"energy_kev", l.energy},
                       {"yield", l.yield},
                       {"efficiency", model_efficiency(l.energy)},
                       {"net_area", p.area}});
    }
    jn["lines"] = lines;
    nuclides.push_back(jn);
  }
  truth["nuclides"] = nuclides;

  SimSpectrum s = simulate_spectrum(o);
  nlohmann::json peaks = nlohmann::json::array();
  for (const SimPeakTruth& t : s.truth)
    peaks.push_back({{"energy_kev", t.energy},
                     {"centre_channel", t.centre},
                     {"fwhm_kev", t.fwhm_kev},
                     {"fwhm_channels", t.fwhm_channels},
                     {"net_area", t.area}});
  truth["peaks"] = peaks;

  SpectrumRecord rec;
  store_simulated(s, o, rec);
  SpectrumHeader& h = rec.header;
  set_title(h, "Synthetic NaI example (simulated)", "");
  assign(h.user, "kestrim simulate");
  h.sample_number = 1;
  h.collected = {7, 12, 2026, 9, 0};
  h.sampled = {1, 12, 2026, 12, 0};
  h.detector = 1;
  h.geometry = 1;
  h.sample_size = 1.0f;
  assign(h.units, "kg", false);
  h.correction_factor = 1.0f;
  h.sampling_uncertainty = 5.0f;
  assign(h.location, "Synthetic field plot");
  assign(h.sample_id, "SIM-ENV-1");
  assign(h.sample_type, "soil (synthetic)");
  CalibrationRecord& cal = rec.calibration;
  cal.crossover = 0;  // one curve for all energies
  cal.high_eff_terms = 2;
  cal.high_eff = {static_cast<float>(kEffA), static_cast<float>(kEffB), 0, 0, 0, 0};
  cal.efficiency_date = {7, 12, 2026};
  cal.energy_date = {7, 12, 2026};
  cal.shape_date = {7, 12, 2026};
  cal.uncertainty = 5.0f;
  assign(cal.geometry_text, "1 kg soil, Marinelli beaker (synthetic)");
  cal.sample_size = 1.0f;
  assign(cal.sample_units, "kg", false);

  return write_outputs(out, encode_native(rec, h.collected, nullptr), truth);
}

}  // namespace kestrim::cli
