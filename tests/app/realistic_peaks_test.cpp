// `kestrim peaks` on simulated NaI spectra of known truth, with the shipped
// Defaults: what a new user sees on 1024-, 2048- and 4096-channel spectra,
// and on spectra whose width calibration is absurd.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <tuple>
#include <nlohmann/json.hpp>
#include <utility>
#include <vector>

#include "platform/files.h"
#include "spectrum/native_file.h"
#include "spectrum/simulate.h"
#include "spectrum/spectrum_record.h"
#include "support/test_support.h"

namespace kestrim {
namespace {

class RealisticPeaks : public ::testing::Test {
 protected:
  int kestrim(const std::string& args, std::string* out, bool merge = false) {
    return test::run_command("cd '" + dir.path() + "' && XDG_DATA_HOME='" + dir.file("user") +
                                 "' '" + test::kestrim_binary() + "' " + args,
                             out, merge);
  }
  // Writes the simulated spectrum as a native file; `edit` may change the
  // record (its calibration) first.
  std::string write(const SimOptions& o, const std::string& name,
                    const std::function<void(SpectrumRecord&)>& edit = nullptr) {
    SimSpectrum sim = simulate_spectrum(o);
    SpectrumRecord rec;
    store_simulated(sim, o, rec);
    rec.header.collected = {7, 12, 2026, 9, 0};
    if (edit) edit(rec);
    const std::string path = dir.file(name);
    std::string error;
    EXPECT_TRUE(write_file_atomic(path, encode_native(rec, rec.header.collected, nullptr), &error)) << error;
    return path;
  }
  // A one-hour count of `bq` of a nuclide with `lines` (keV, per cent per
  // decay) on their realistic Compton continua, the efficiency
  // ln e = 2.3371 - 0.9 ln E stored in the spectrum (no uncertainty).
  static double sample_efficiency(double e) { return std::exp(2.3371 - 0.9 * std::log(e)); }
  std::string write_sample(const std::vector<std::pair<double, double>>& lines, double bq, int seed,
                           const std::string& name, bool noise = true) {
    SimOptions o = nai_3x3_options(1024, static_cast<std::uint64_t>(seed));
    o.live_time = o.true_time = 3600;
    o.noise = noise;
    for (const auto& [e, yield] : lines) {
      SimPeak p;
      p.energy = e;
      p.area = bq * yield / 100 * sample_efficiency(e) * o.live_time;
      p.compton_to_peak = e <= 150 ? 0.3 : e >= 400 ? 2.5 : 0.3 + (e - 150) / 250 * 2.2;
      o.peaks.push_back(p);
    }
    return write(o, name, [](SpectrumRecord& rec) {
      rec.header.sampled = rec.header.collected;
      rec.header.sample_size = 1.0f;
      CalibrationRecord& cal = rec.calibration;
      cal.crossover = 0;
      cal.high_eff_terms = 2;
      cal.high_eff = {2.3371f, -0.9f, 0, 0, 0, 0};
      cal.uncertainty = 0;
      cal.efficiency_date = {7, 12, 2026};
    });
  }
  // The Peak Fit Report's rows, energy and area, in the order printed.
  static std::vector<std::pair<double, double>> report_rows(const std::string& text) {
    static const std::regex row(R"(^\s*([0-9]+\.[0-9])\s+[0-9.]+\s+[0-9.]+\s+[0-9.]+\s+[0-9.]+\s+([0-9]+)\s)");
    std::vector<std::pair<double, double>> rows;
    std::istringstream report(text);
    for (std::string line; std::getline(report, line);) {
      std::smatch m;
      if (!std::regex_search(line, m, row)) continue;
      double e = 0, area = 0;
      const std::string es = m[1], as = m[2];
      std::from_chars(es.data(), es.data() + es.size(), e);  // whatever the locale
      std::from_chars(as.data(), as.data() + as.size(), area);
      rows.emplace_back(e, area);
    }
    return rows;
  }
  static std::vector<double> report_energies(const std::string& text) {
    std::vector<double> energies;
    for (const auto& [e, area] : report_rows(text)) energies.push_back(e);
    return energies;
  }
  // The Peak Fit Report in the working directory lists each peak once, in
  // order of energy.
  void expect_report_rows_in_order(const std::string& what) {
    const std::string report = test::read_text(dir.file("Peak Fit Report.txt"));
    double previous = 0;
    for (const double e : report_energies(report)) {
      EXPECT_GT(e, previous) << what << ": rows out of order or repeated\n" << report;
      previous = e;
    }
  }
  // `kestrim analyse --json` of the spectrum at `path`: the activity and
  // uncertainty of the nuclide whose name begins with `name` (0, 0 when it
  // is not reported); the output in `out`.
  std::pair<double, double> analysed_activity(const std::string& path, const std::string& name, std::string& out) {
    out.clear();
    EXPECT_EQ(kestrim("analyse --json '" + path + "'", &out), 0) << out;
    const nlohmann::json doc = nlohmann::json::parse(out, nullptr, false);
    if (doc.is_discarded() || !doc.contains("nuclides")) return {0, 0};
    for (const auto& n : doc["nuclides"])
      if (n["name"].get<std::string>().rfind(name, 0) == 0)
        return {n["activity"].get<double>(), n["uncertainty"].get<double>()};
    return {0, 0};
  }
  // The nuclide's activities in seeds 1 to `seeds` of a sample: their
  // mean, how many lie within twice their uncertainty of `bq`, and the rms
  // of (activity - bq) / uncertainty. Each must be reported.
  struct OverSeeds {
    double mean = 0;
    int within = 0;
    double rms_pull = 0;
  };
  OverSeeds activities_over_seeds(const std::vector<std::pair<double, double>>& lines, double bq, int seeds,
                                  const std::string& file, const std::string& name) {
    OverSeeds o;
    double pulls = 0;
    for (int seed = 1; seed <= seeds; ++seed) {
      std::string out;
      const auto [activity, sigma] = analysed_activity(write_sample(lines, bq, seed, file), name, out);
      EXPECT_GT(activity, 0) << "seed " << seed << "\n" << out;
      EXPECT_GT(sigma, 0) << "seed " << seed;
      if (!(activity > 0) || !(sigma > 0)) continue;
      const double pull = (activity - bq) / sigma;
      o.mean += activity / seeds;
      pulls += pull * pull / seeds;
      if (std::fabs(pull) <= 2) ++o.within;
    }
    o.rms_pull = std::sqrt(pulls);
    return o;
  }
  // The area of the Peak Fit Report's peak within `reach` keV of `energy`
  // in the working directory; 0 when there is none.
  double reported_area(double energy, double reach) {
    for (const auto& [e, area] : report_rows(test::read_text(dir.file("Peak Fit Report.txt"))))
      if (std::fabs(e - energy) < reach) return area;
    return 0;
  }
  // The mean fitted area of the line at `target` keV over ten seeds of NaI
  // spectra holding `lines` (energy, area) on their Compton continua; -1
  // when a seed misses the line.
  double mean_area(const std::vector<std::pair<double, double>>& lines, double target) {
    const int seeds = 10;
    double sum = 0;
    for (int seed = 1; seed <= seeds; ++seed) {
      SimOptions o = nai_3x3_options(1024, static_cast<std::uint64_t>(seed));
      for (const auto& [e, area] : lines) {
        SimPeak p;
        p.energy = e;
        p.area = area;
        p.compton_to_peak = 2.5;
        o.peaks.push_back(p);
      }
      std::string out;
      const std::string path = write(o, "lines.dat");
      const int status = kestrim("peaks --json '" + path + "'", &out);
      EXPECT_EQ(status, 0) << out;
      if (status != 0) return -1;
      double area = 0;
      const nlohmann::json j = nlohmann::json::parse(out);
      for (const auto& q : j["peaks"])
        if (std::abs(q["energy"].get<double>() - target) < 0.3 * sim_fwhm_kev(o, target)) area = q["area"].get<double>();
      EXPECT_GT(area, 0) << target << " keV not found, seed " << seed << ": " << out;
      if (!(area > 0)) return -1;
      sum += area;
    }
    return sum / seeds;
  }
  // `kestrim peaks --json` on a spectrum of two 8000-count lines on their
  // Compton continua.
  nlohmann::json two_equal_lines(int seed, double e1, double e2) {
    SimOptions o = nai_3x3_options(1024, static_cast<std::uint64_t>(seed));
    for (const double e : {e1, e2}) {
      SimPeak p;
      p.energy = e;
      p.area = 8000;
      p.compton_to_peak = 2.5;
      o.peaks.push_back(p);
    }
    std::string out;
    const int status = kestrim("peaks --json '" + write(o, "lines.dat") + "'", &out);
    EXPECT_EQ(status, 0) << out;
    return status == 0 ? nlohmann::json::parse(out) : nlohmann::json{{"peaks", nlohmann::json::array()}};
  }
  test::TempDir dir;
};

// Lines over the whole energy range, the last close to the last channel,
// are found and measured whatever the number of channels.
TEST_F(RealisticPeaks, SearchAndFitReachTheLastChannelOfEveryChannelCount) {
  for (int channels : {1024, 2048, 4096}) {
    for (std::uint64_t seed : {3u, 4u}) {
      SimOptions o = nai_3x3_options(channels, seed);
      for (double e : {662.0, 1460.8, 2300.0, 2900.0}) {
        SimPeak p;
        p.energy = e;
        p.area = 10000;
        p.compton_to_peak = 2.5;
        o.peaks.push_back(p);
      }
      const std::string path = write(o, "sim" + std::to_string(channels) + ".dat");
      std::string out;
      ASSERT_EQ(kestrim("peaks --json '" + path + "'", &out), 0) << out;
      nlohmann::json j = nlohmann::json::parse(out);
      for (double e : {662.0, 1460.8, 2300.0, 2900.0}) {
        const double fwhm = sim_fwhm_kev(o, e);
        const nlohmann::json* best = nullptr;
        for (const auto& q : j["peaks"])
          if (std::abs(q["energy"].get<double>() - e) < 0.5 * fwhm &&
              (!best || std::abs(q["energy"].get<double>() - e) < std::abs((*best)["energy"].get<double>() - e)))
            best = &q;
        ASSERT_NE(best, nullptr) << e << " keV not found in " << channels << " channels, seed " << seed;
        const double area = (*best)["area"], sd = (*best)["area_uncertainty"];
        EXPECT_LT(std::abs(area - 10000), 4 * sd + 300)
            << e << " keV in " << channels << " channels, seed " << seed << ": " << area << " +- " << sd;
      }
    }
  }
}

// A width calibration far too wide for the spectrum (a sigma of 200
// channels, FWHM = 60 sqrt(E), 1e30) gives regions wider than the fitting
// engine holds: the analysis must end normally, not by a signal.
TEST_F(RealisticPeaks, AbsurdWidthCalibrationsDoNotCrashPeaksOrBatch) {
  SimOptions o = example_nai_options(1024, 5);
  const std::vector<std::pair<std::string, void (*)(SpectrumRecord&)>> cases = {
      {"sigma200.dat", [](SpectrumRecord& r) { r.calibration.width_terms = 1; r.calibration.width = {200, 0, 0}; }},
      {"sqrt60.dat", [](SpectrumRecord& r) { r.calibration.width_terms = -2; r.calibration.width = {0, 60, 0}; }},
      {"huge.dat", [](SpectrumRecord& r) { r.calibration.width_terms = 1; r.calibration.width = {1e30f, 0, 0}; }},
  };
  for (const auto& [name, edit] : cases) {
    const std::string path = write(o, name, edit);
    std::string out;
    const int peaks = kestrim("peaks --json '" + path + "'", &out, true);
    EXPECT_TRUE(peaks == 0 || peaks == 1) << name << ": exit status " << peaks << "\n" << out;
    const int batch = kestrim("/batch /file=" + path, &out, true);
    EXPECT_TRUE(batch == 0 || batch == 1) << name << ": exit status " << batch << "\n" << out;
  }
}

// Co-60 on its Compton continua: 1173 keV sits 55 keV above the Compton
// edge of 1332 keV. The edges are steps of the continuum, not peaks, and
// neither the areas nor the peak list may take them for lines.
TEST_F(RealisticPeaks, CobaltAreasIgnoreTheComptonEdges) {
  const double lines[2] = {1173.2, 1332.5};
  double sum[2] = {0, 0};
  int edge_peaks = 0;
  const int seeds = 8;
  for (int seed = 1; seed <= seeds; ++seed) {
    SimOptions o = nai_3x3_options(1024, static_cast<std::uint64_t>(seed));
    for (double e : lines) {
      SimPeak p;
      p.energy = e;
      p.area = 10000;
      p.compton_to_peak = 2.5;
      o.peaks.push_back(p);
    }
    const std::string path = write(o, "co60.dat");
    std::string out;
    ASSERT_EQ(kestrim("peaks --json '" + path + "'", &out), 0) << out;
    nlohmann::json j = nlohmann::json::parse(out);
    for (int i = 0; i < 2; ++i) {
      const double fwhm = sim_fwhm_kev(o, lines[i]);
      double area = 0;
      for (const auto& q : j["peaks"]) {
        const double e = q["energy"].get<double>();
        if (std::abs(e - lines[i]) < 0.5 * fwhm) area = q["area"].get<double>();
        if (std::abs(e - compton_edge_kev(lines[i])) < 0.5 * fwhm) ++edge_peaks;
      }
      ASSERT_GT(area, 0) << lines[i] << " keV not found, seed " << seed;
      sum[i] += area;
    }
  }
  for (int i = 0; i < 2; ++i)
    EXPECT_LT(std::abs(sum[i] / seeds - 10000), 300) << lines[i] << " keV: mean area " << sum[i] / seeds;
  EXPECT_LE(edge_peaks, 1) << "peaks reported on the Compton edges";
}

// A line 14 keV below the Compton edge of a line ten times stronger (463 and
// 662 keV): the shelf rises towards the edge, so a straight continuum beside
// the edge's step lies too low under the weaker line (it read 13 % high).
TEST_F(RealisticPeaks, LineJustBelowAComptonEdgeKeepsItsArea) {
  EXPECT_NEAR(mean_area({{463.0, 5000}, {661.66, 50000}}, 463.0), 5000, 250);
}

// A line on a steeply falling continuum (exponential, e-fold 100 keV, 100
// counts per channel under the 356 keV line): the straight continuum through
// the narrow region of a single peak lay above the curve under the peak,
// which read 5 % low. The curvature measured beside the region is held.
TEST_F(RealisticPeaks, LineOnASteepContinuumKeepsItsArea) {
  auto mean_area = [&]() {
    double sum = 0;
    const int seeds = 10;
    for (int seed = 1; seed <= seeds; ++seed) {
      SimOptions o = nai_3x3_options(1024, static_cast<std::uint64_t>(seed));
      o.continuum = {{100.0 / 3.0 * std::exp(356.0 / 100.0), 100.0}};
      SimPeak p;
      p.energy = 356.0;
      p.area = 5000;
      o.peaks.push_back(p);
      std::string out;
      EXPECT_EQ(kestrim("peaks --json '" + write(o, "steep.dat") + "'", &out), 0) << out;
      double area = 0;
      const nlohmann::json j = nlohmann::json::parse(out);
      for (const auto& q : j["peaks"])
        if (std::abs(q["energy"].get<double>() - 356.0) < 10) area = q["area"].get<double>();
      EXPECT_GT(area, 0) << "seed " << seed << ": " << out;
      sum += area;
    }
    return sum / seeds;
  };
  EXPECT_NEAR(mean_area(), 5000, 125);
  // A stored Defaults file with the old fits keeps the straight line.
  ASSERT_EQ(test::make_user_defaults(dir.file("user"), {{"fit_switch_228", "0"}}), "");
  EXPECT_LT(mean_area(), 4850);
}

// Cs-137 beside Cs-134: the 563 and 569 keV lines of Cs-134 sit a FWHM below
// its 605 keV peak and are not found as peaks of their own; a domed
// continuum took their wings and lifted itself under 662 keV, which read
// 9 % high. Above the backscatter energies a dome is tried against a
// straight continuum.
TEST_F(RealisticPeaks, CaesiumBesideCaesium134KeepsItsArea) {
  const double cs137 = 9000;
  EXPECT_NEAR(mean_area({{563.2, 500}, {569.3, 930}, {604.7, 5900}, {661.66, cs137}, {795.9, 4500}, {801.9, 460}},
                        661.66),
              cs137, 0.05 * cs137);
}

// Two equal lines 1.5 FWHM apart (662 and 731 keV): the search's widest
// filters see them as one run and add its centroid between them; that
// third peak, squeezed between lines more than four times its size, goes,
// and the residuals may not put it back.
TEST_F(RealisticPeaks, DoubletHasNoPeakBetweenItsLines) {
  int between = 0;
  for (int seed = 1; seed <= 10; ++seed) {
    const nlohmann::json j = two_equal_lines(seed, 661.66, 731.1);
    double sum = 0;
    for (const auto& q : j["peaks"]) {
      const double e = q["energy"].get<double>();
      if (e > 675 && e < 718) ++between;
      if (e > 640 && e < 755) sum += q["area"].get<double>();
    }
    EXPECT_NEAR(sum, 16000, 800) << "seed " << seed << ": " << j.dump();
  }
  EXPECT_EQ(between, 0);
}

// Two strong lines 2 FWHM apart (662 and 754 keV) leave their Compton
// shelves overlapping between the two edges (477 and 563 keV): a step down
// at each. The counts between are no peak, and neither is the one bump
// their backscatter makes (184 and 191 keV), though each line has the
// other beside it.
TEST_F(RealisticPeaks, TwoStrongLinesLeaveNoPeakBetweenTheirEdgesNorAtTheirBackscatter) {
  int between = 0, bumps = 0;
  const int seeds = 60;
  for (int seed = 1; seed <= seeds; ++seed) {
    const nlohmann::json j = two_equal_lines(seed, 661.66, 754.1);
    for (const auto& q : j["peaks"]) {
      const double e = q["energy"].get<double>();
      if (e > 490 && e < 600) ++between;
      if (e > 150 && e < 230) ++bumps;
    }
  }
  EXPECT_LE(between, seeds / 6);
  EXPECT_LE(bumps, seeds / 6);
}

// The backscatter bump of a strong line (662 keV: at 184 keV; 1460.8 keV:
// at 218 keV) is not a peak; a true line at 186 keV holding a quarter of the
// 662 keV line's counts (Ra-226 beside Bi-214's 609 keV) stays one.
TEST_F(RealisticPeaks, BackscatterBumpsAreNotPeaksButLinesThereAre) {
  int bumps = 0, kept = 0;
  const int seeds = 6;
  for (int seed = 1; seed <= seeds; ++seed) {
    for (bool with_line : {false, true}) {
      SimOptions o = nai_3x3_options(1024, static_cast<std::uint64_t>(seed));
      for (double e : {661.66, 1460.8}) {
        SimPeak p;
        p.energy = e;
        p.area = 20000;
        p.compton_to_peak = 2.5;
        o.peaks.push_back(p);
      }
      if (with_line) {
        SimPeak p;
        p.energy = 186.2;
        p.area = 5000;
        p.compton_to_peak = 2.5;
        o.peaks.push_back(p);
      }
      const std::string path = write(o, "bs.dat");
      std::string out;
      ASSERT_EQ(kestrim("peaks --json '" + path + "'", &out), 0) << out;
      const nlohmann::json j = nlohmann::json::parse(out);
      bool near_186 = false;
      for (const auto& q : j["peaks"]) {
        const double e = q["energy"].get<double>();
        if (e > 150 && e < 250 && !with_line) ++bumps;
        if (std::abs(e - 186.2) < 10) near_186 = true;
      }
      if (with_line) kept += near_186;
    }
  }
  EXPECT_EQ(bumps, 0) << "backscatter bumps reported as peaks";
  EXPECT_EQ(kept, seeds) << "the 186 keV line was lost";
}

// A file whose energy calibration is off. With K-40 and Tl-208 in the
// spectrum, the shipped check scales it back and says so; a count of one
// Cs-137 source is scaled onto its 661.7 keV line; two sources without the
// natural lines, or one peak too far from any check line, are left as the
// file has them, silently. The peaks come out where the message says.
TEST_F(RealisticPeaks, EnergyCheckAgainstNaturalAndSingleSourceLines) {
  struct Case {
    std::vector<double> lines;
    float gain;
    const char* said;  // nullptr: nothing said, the file's energies kept
  };
  const Case cases[] = {
      {{661.66, 1460.82, 2614.51}, 1.02f, "kestrim: The energy calibration was scaled by 0.98"},
      {{661.66}, 1.02f, "kestrim: The energy calibration was scaled by 0.98"},
      {{661.66}, 0.95f, "was taken as Cs-137's 661.7 keV line (Energy Calibration Check)"},
      {{661.66, 1173.23, 1332.49}, 1.02f, nullptr},
      {{661.66}, 1.08f, nullptr},
  };
  for (const Case& c : cases) {
    SimOptions o = nai_3x3_options(1024, 5);
    for (double e : c.lines) {
      SimPeak p;
      p.energy = e;
      p.area = 20000;
      p.compton_to_peak = 2.5;
      o.peaks.push_back(p);
    }
    const std::string path = write(o, "off.dat", [&c](SpectrumRecord& rec) {
      for (float& f : rec.calibration.energy) f *= c.gain;
    });
    std::string out;
    ASSERT_EQ(kestrim("peaks --json '" + path + "' 2>&1", &out), 0) << out;
    const std::string json = out.substr(out.find('{'));
    const std::string said = out.substr(0, out.find('{'));
    const nlohmann::json j = nlohmann::json::parse(json);
    if (c.said != nullptr) {
      EXPECT_NE(said.find(c.said), std::string::npos) << said;
    } else {
      EXPECT_EQ(said.find("Energy Calibration Check"), std::string::npos) << said;
    }
    for (double e : c.lines) {
      const double expected = c.said != nullptr ? e : c.gain * e;
      bool found = false;
      for (const auto& q : j["peaks"])
        if (std::abs(q["energy"].get<double>() - expected) < 0.004 * expected) found = true;
      EXPECT_TRUE(found) << e << " keV expected at " << expected << "\n" << j["peaks"].dump();
    }
  }
}

// A soil sample: Cs-137's 662 keV line 1.2 FWHM above Bi-214's 609 keV and
// Tl-208's 583 keV. The wide search filters see the three as one run; the
// narrow ones see 662 keV apart, and the search must not skip it.
TEST_F(RealisticPeaks, WeakLineBesideAStrongerDoubletIsFound) {
  const int seeds = 10;
  int found = 0;
  double sum = 0;
  for (int seed = 1; seed <= seeds; ++seed) {
    SimOptions o = nai_3x3_options(1024, static_cast<std::uint64_t>(100 + seed));
    for (auto [e, area] : {std::pair{583.2, 1100.0}, {609.3, 1600.0}, {661.7, 1800.0}}) {
      SimPeak p;
      p.energy = e;
      p.area = area;
      p.compton_to_peak = 2.5;
      o.peaks.push_back(p);
    }
    const std::string path = write(o, "soil.dat");
    std::string out;
    ASSERT_EQ(kestrim("peaks --json '" + path + "'", &out), 0) << out;
    nlohmann::json j = nlohmann::json::parse(out);
    for (const auto& q : j["peaks"])
      if (std::abs(q["energy"].get<double>() - 661.7) < 0.5 * sim_fwhm_kev(o, 661.7)) {
        ++found;
        sum += q["area"].get<double>();
        break;
      }
  }
  EXPECT_GE(found, 9) << "662 keV found in " << found << " of " << seeds << " spectra";
  ASSERT_GT(found, 0);
  EXPECT_LT(std::abs(sum / found - 1800), 270) << "mean 662 keV area " << sum / found;
}

// Eu-152 (eleven lines from 122 to 1408 keV, each on its Compton
// continuum): regions are re-bounded and split while they are fitted, and
// the Compton edges of their lines come and go. Every peak the search
// found clearly must come out with a positive area and uncertainty: a fit
// that failed on a stale edge left a 40-sigma peak at 122 keV with area 0.
TEST_F(RealisticPeaks, EveryClearPeakOfAManyLineSourceHasAnArea) {
  const std::pair<double, double> lines[] = {{121.8, 28.4}, {244.7, 7.5},  {344.3, 26.6}, {411.1, 2.2},
                                             {444.0, 3.1},  {778.9, 12.9}, {867.4, 4.2},  {964.1, 14.5},
                                             {1085.8, 10.1}, {1112.1, 13.7}, {1408.0, 20.9}};
  int clear = 0;
  for (int seed = 1; seed <= 40; ++seed) {
    SimOptions o = nai_3x3_options(1024, static_cast<std::uint64_t>(500 + seed));
    for (auto [e, yield] : lines) {
      SimPeak p;
      p.energy = e;
      p.area = 200 * yield / 100 * 3600 * 10.35 * std::pow(e, -0.9);  // 200 Bq, 1 h, 3 % at 662 keV
      p.compton_to_peak = e > 400 ? 2.5 : 0.3;
      o.peaks.push_back(p);
    }
    const std::string path = write(o, "eu152.dat");
    std::string out;
    ASSERT_EQ(kestrim("peaks --json '" + path + "'", &out), 0) << out;
    const nlohmann::json j = nlohmann::json::parse(out);
    for (const auto& q : j["peaks"]) {
      if (q["significance"].get<double>() < 10) continue;
      ++clear;
      EXPECT_GT(q["area"].get<double>(), 0) << "seed " << seed << ", peak at " << q["energy"] << " keV";
      EXPECT_GT(q["area_uncertainty"].get<double>(), 0) << "seed " << seed << ", peak at " << q["energy"] << " keV";
    }
  }
  EXPECT_GT(clear, 40 * 5);
}

// Th-232 in equilibrium, every line above 40 keV and 0.1 % per chain decay
// (DDEP), Tl-208 on Bi-212's 35.93 % branch: energy (keV), per cent per
// chain decay.
const std::vector<std::pair<double, double>> kThorium232Lines = {
      {57.752, 0.47}, {63.811, 0.259}, {84.373, 1.19}, {99.505, 1.26}, {100.41, 0.114}, {115.183, 0.624},
      {129.065, 2.5}, {131.612, 0.127}, {145.842, 0.169}, {153.967, 0.754}, {166.41, 0.1},
      {191.351, 0.133}, {199.402, 0.299}, {204.029, 0.114}, {209.248, 3.97}, {215.985, 0.246},
      {233.37, 0.111}, {238.632, 43.6}, {240.986, 4.12}, {252.71, 0.28}, {270.245, 3.55}, {277.37, 2.37},
      {278.8, 0.204}, {288.18, 0.32}, {300.089, 3.18}, {321.646, 0.232}, {328.004, 3.04}, {328.04, 0.121},
      {332.371, 0.37}, {338.32, 11.4}, {340.969, 0.405}, {409.46, 2.02}, {415.272, 0.144}, {440.45, 0.128},
      {452.98, 0.34}, {463.002, 4.45}, {478.4, 0.224}, {503.819, 0.171}, {508.955, 0.51}, {510.74, 8.08},
      {523.129, 0.129}, {546.445, 0.199}, {562.496, 0.89}, {570.88, 0.19}, {572.1, 0.156}, {583.187, 30.5},
      {583.391, 0.12}, {674.63, 0.105}, {701.742, 0.181}, {707.42, 0.162}, {726.88, 0.68}, {727.33, 6.65},
      {755.313, 1.03}, {763.45, 0.647}, {772.291, 1.52}, {782.14, 0.5}, {785.37, 1.11}, {794.942, 4.31},
      {830.481, 0.61}, {835.704, 1.7}, {840.372, 0.97}, {860.53, 4.46}, {893.408, 0.38}, {904.2, 0.78},
      {911.196, 26.2}, {947.976, 0.111}, {952.12, 0.14}, {958.59, 0.29}, {964.786, 4.99}, {968.96, 15.9},
      {987.87, 0.14}, {1033.24, 0.204}, {1065.17, 0.135}, {1078.63, 0.55}, {1093.9, 0.158},
      {1095.67, 0.126}, {1110.6, 0.284}, {1153.27, 0.148}, {1245.15, 0.11}, {1247.1, 0.524},
      {1287.77, 0.109}, {1459.13, 0.87}, {1495.9, 0.92}, {1501.59, 0.513}, {1512.7, 0.29},
      {1557.13, 0.173}, {1580.53, 0.62}, {1588.2, 3.06}, {1620.74, 1.51}, {1625.09, 0.27}, {1630.62, 1.52},
      {1638.27, 0.46}, {1666.51, 0.173}, {1805.96, 0.12}, {2614.51, 35.8}};

// One-hour counts of thorium in equilibrium through the batch analysis,
// with an efficiency in the spectrum: Ac-228's weak lines beside Pb-212's
// 239 keV and Ac-228's 911 keV lines are fitted as lines, not taken into
// the continuum (which read 100 Bq 15 % low). At 20 Bq, ten times the
// limit of detection, Pb-212's 300 keV line put in beside the 239 keV peak
// came out negative under a continuum drawn straight and was dropped; the
// region then ended on its counts and read 20 Bq 14 % low over these
// seeds. Taken as known at the activity's area, it reads 9 % low (the
// continuum's curvature, still drawn straight).
TEST_F(RealisticPeaks, ThoriumChainActivityIsNotLowered) {
  const std::regex row(R"(^ Th-232\s+[*?#!]?\s*[0-9.]+\s+([0-9.]+e[+-][0-9]+)\s)");
  for (const auto& [bq, within, seeds] : {std::tuple{100.0, 0.05, 8}, std::tuple{20.0, 0.12, 24}}) {
    double sum = 0;
    for (int seed = 1; seed <= seeds; ++seed) {
      const std::string path = write_sample(kThorium232Lines, bq, seed, "thorium.dat");
      std::string out;
      ASSERT_EQ(kestrim("/batch '/file=" + path + "'", &out, true), 0) << out;
      std::istringstream report(test::read_text(dir.file("Main Report.txt")));
      double activity = 0;
      for (std::string line; std::getline(report, line);) {
        std::smatch m;
        if (std::regex_search(line, m, row)) {
          const std::string v = m[1];
          std::from_chars(v.data(), v.data() + v.size(), activity);  // whatever the locale
        }
      }
      ASSERT_GT(activity, 0) << bq << " Bq, seed " << seed << ": Th-232 not reported";
      sum += activity;
    }
    EXPECT_NEAR(sum / seeds, bq, within * bq);
  }
}

// Th-232 at 20 Bq: its 338 keV line, about a quarter as significant as its
// 239 keV line, has its Compton edge at 192 keV, inside the multiplet's
// region. A line that weak beside the region's strongest was given no step,
// the continuum stood high under the 209 and 239 keV lines, and Th-232 lay
// within twice its uncertainty in 73 % of counts, 8.6 % low. (Over these
// 30 counts: 6.5 % low, 23 within, spread of the pulls 1.50; with the step
// 4.7 %, 26, 1.16.) The weak peaks there also narrowed the calibrated
// width, which put their counts into the continuum; held at it or wider,
// 1.4 % low, 30 within, 0.73.
TEST_F(RealisticPeaks, WeakThoriumMultipletHasItsOwnComptonEdge) {
  const OverSeeds o = activities_over_seeds(kThorium232Lines, 20, 30, "thorium.dat", "Th-232");
  EXPECT_LT(o.rms_pull, 1.1);
  EXPECT_GE(o.within, 28);
  EXPECT_NEAR(o.mean, 20, 0.03 * 20);
}

// 2 kBq of Th-232: in the refit with library lines the region from 209 to
// 583 keV is formed afresh and grows over peaks that the first fit had put
// in a region of their own, from 405 to 727 keV. The 727 keV peak kept
// those stored bounds, so 405 to 583 keV were fitted again with it and
// listed twice in the Peak Fit Report, the second areas taking the place
// of the first.
TEST_F(RealisticPeaks, ThoriumReportListsEveryPeakOnceInOrder) {
  const double bq = 2000;
  for (int seed = 1; seed <= 6; ++seed) {
    std::string out;
    EXPECT_GT(analysed_activity(write_sample(kThorium232Lines, bq, seed, "thorium.dat"), "Th-232", out).first, 0)
        << "seed " << seed << ": Th-232 not named";
    expect_report_rows_in_order("seed " + std::to_string(seed));
  }
}

// Every Eu-152 line above 40 keV and 0.1 % per decay (DDEP): energy (keV),
// per cent per decay.
const std::vector<std::pair<double, double>> kEuropium152Lines = {
      {121.7817, 28.41}, {244.6974, 7.550}, {295.9387, 0.442}, {329.425, 0.129}, {344.2785, 26.59},
      {367.7891, 0.862}, {411.1165, 2.238}, {416.048, 0.109}, {443.965, 3.120}, {488.6792, 0.414},
      {503.474, 0.153}, {563.99, 0.457}, {566.442, 0.131}, {586.265, 0.462}, {656.489, 0.144},
      {674.675, 0.170}, {678.623, 0.470}, {688.67, 0.841}, {719.349, 0.268}, {764.9, 0.190},
      {778.9045, 12.97}, {810.451, 0.317}, {841.574, 0.163}, {867.38, 4.243}, {919.337, 0.429},
      {926.317, 0.273}, {963.39, 0.134}, {964.079, 14.50}, {1005.272, 0.665}, {1084, 0.244},
      {1085.837, 10.13}, {1089.737, 1.730}, {1109.174, 0.186}, {1112.076, 13.41}, {1212.948, 1.416},
      {1249.938, 0.186}, {1292.778, 0.104}, {1299.142, 1.633}, {1408.013, 20.85}, {1457.643, 0.498},
      {1528.103, 0.281}};

// Eu-152's 1408 keV line lies 1.6 FWHM above its 1299 keV line (8 % of it,
// too weak to be found or fitted beside it) and on the flank of that line
// the region began: its counts lifted the continuum and the 1408 keV area
// read 8 % low over these seeds. Taken as known from the activity of the
// nuclide's other lines, they no longer do.
TEST_F(RealisticPeaks, WeakLinesBesideAPeakAreTakenFromItsNuclide) {
  const double bq = 200;
  const std::vector<std::pair<double, double>>& lines = kEuropium152Lines;
  const double truth = bq * 0.2085 * sample_efficiency(1408.013) * 3600;
  double sum = 0;
  const int seeds = 6;
  for (int seed = 1; seed <= seeds; ++seed) {
    const std::string path = write_sample(lines, bq, seed, "europium.dat");
    std::string out;
    ASSERT_EQ(kestrim("/batch '/file=" + path + "'", &out, true), 0) << out;
    EXPECT_NE(test::read_text(dir.file("Main Report.txt")).find(" Eu-152 "), std::string::npos) << "seed " << seed;
    const double area = reported_area(1408, 15);
    ASSERT_GT(area, 0) << "seed " << seed << ": no peak at 1408 keV";
    sum += area;
  }
  EXPECT_NEAR(sum / seeds, truth, 0.04 * truth);
}

// Calibration sources: a strong Eu-152 source is named, with its activity.
// Eu-152's 1299 keV line lies 1.6 FWHM below its 1408 keV peak, where the
// search does not part it from the peak; at 4 kBq its limit of
// determination was 17 % of the activity, and the line, taken as missing,
// removed Eu-152: nothing was reported. Its 1086-1112 keV group, one line
// of the library, was fitted as two peaks 0.44 FWHM apart, and the
// activity read 11 % low.
TEST_F(RealisticPeaks, StrongEuropiumSourceIsNamed) {
  const double bq = 4000;
  const std::string path = write_sample(kEuropium152Lines, bq, 1, "europium.dat");
  std::string out;
  ASSERT_EQ(kestrim("analyse --json '" + path + "'", &out), 0) << out;
  const nlohmann::json doc = nlohmann::json::parse(out);
  std::set<std::string> names;
  double activity = 0;
  for (const auto& n : doc["nuclides"]) {
    std::string name = n["name"].get<std::string>();
    name = name.substr(0, name.find(' '));
    names.insert(name);
    if (name == "Eu-152") activity = n["activity"].get<double>();
  }
  EXPECT_EQ(names, std::set<std::string>{"Eu-152"}) << out;
  EXPECT_NEAR(activity, bq, 0.06 * bq);
}

// A strong source: Ba-133 at 2 kBq for an hour. Its 276 to 384 keV region
// fitted badly at its start (the 384 keV line's Compton edge) and was split
// between the 303 and 356 keV peaks, 4.1 sigma apart: the 356 keV peak's
// low tail, left in the lower part unfitted, took 37 % of the 276 and
// 303 keV areas, and the 356 keV area read up to 15 % low. Unsplit, the
// edge still takes 4 to 7 % of the weaker lines.
const std::vector<std::pair<double, double>> kBarium133Lines = {
    {53.1622, 2.14},  {79.6142, 2.63},   {80.9979, 33.31}, {160.612, 0.638}, {223.2368, 0.453},
    {276.3989, 7.13}, {302.8508, 18.31}, {356.0129, 62.05}, {383.8485, 8.94}};

TEST_F(RealisticPeaks, StrongBariumSourceKeepsItsAreas) {
  const double bq = 2000;
  const std::vector<std::pair<double, double>>& lines = kBarium133Lines;
  for (int seed = 1; seed <= 3; ++seed) {
    const std::string path = write_sample(lines, bq, seed, "barium.dat");
    std::string out;
    ASSERT_EQ(kestrim("/batch '/file=" + path + "'", &out, true), 0) << out;
    for (const auto& [e, yield] : lines) {
      if (e < 270 || e > 360) continue;
      const double truth = bq * yield / 100 * sample_efficiency(e) * 3600;
      EXPECT_NEAR(reported_area(e, 6), truth, (e > 350 ? 0.04 : 0.1) * truth)
          << "seed " << seed << ", " << e << " keV\n"
          << test::read_text(dir.file("Peak Fit Report.txt"));
    }
  }
}

// Ba-133 at 100 Bq without noise: the 356 keV line's photons scattered
// back make a bump at 149 keV, beyond the 53 and 81 keV peaks in their
// region. Left out of the region's continuum (only lines above 400 keV put
// their bumps in), a domed curve took it and the 81 keV peak, the
// activity's most precise, read 2.7 % low (1.2 % now).
TEST_F(RealisticPeaks, BariumLowRegionHoldsTheBackscatterBump) {
  const double bq = 100;
  std::string out;
  EXPECT_GT(analysed_activity(write_sample(kBarium133Lines, bq, 1, "barium.dat", false), "Ba-133", out).first, 0) << out;
  const double truth = bq * (2.63 * sample_efficiency(79.6142) + 33.31 * sample_efficiency(80.9979)) / 100 * 3600;
  EXPECT_NEAR(reported_area(81, 6), truth, 0.015 * truth) << test::read_text(dir.file("Peak Fit Report.txt"));
}

// Calibration-strength sources hold a few hundred thousand counts in each
// main peak, so their activities' counting uncertainties are tenths of a
// per cent, while their lines in crowded regions read some per cent apart.
// The reported uncertainty carries that spread: the activity lies within
// two of it (in five of the six counts at least, as twice a true standard
// deviation allows; none beyond two and a half), and it stays a few per
// cent. (With the scatter ratio alone, 2 kBq of Ba-133 read 2 % low at 1 %,
// Eu-152 3 % low at 1.2 %.)
TEST_F(RealisticPeaks, StrongSourcesReportTheSpreadOfTheirLines) {
  struct Source {
    const char* name;
    const std::vector<std::pair<double, double>>* lines;
    double bq;
  };
  int within = 0;
  for (const Source& source : {Source{"Ba-133", &kBarium133Lines, 2000}, Source{"Eu-152", &kEuropium152Lines, 4000}})
    for (int seed = 1; seed <= 3; ++seed) {
      std::string out;
      const auto [activity, sigma] =
          analysed_activity(write_sample(*source.lines, source.bq, seed, "strong.dat"), source.name, out);
      ASSERT_GT(activity, 0) << source.name << " seed " << seed << "\n" << out;
      if (std::fabs(activity - source.bq) <= 2 * sigma) ++within;
      EXPECT_LE(std::fabs(activity - source.bq), 2.5 * sigma)
          << source.name << " seed " << seed << ": " << activity << " +- " << sigma;
      EXPECT_LT(sigma, 0.05 * activity) << source.name << " seed " << seed;
    }
  EXPECT_GE(within, 5);
}

// A strong single peak's tail is fitted in steps outside the linear fit.
// Am-241's 59.5 keV peak at 100 Bq (35 000 counts on a steep continuum)
// spread 1.2 % over seeds where 0.8 % was stated, the tail's spread (10 %)
// left out. Its photons scattered back reach the crystal at 48 keV, under
// the peak's low flank: unless that bump joins the continuum, the tail and
// width take it, and the area read high (1.0 % over 200 benchmark counts).
// Lines above 20 keV, DDEP: keV, per cent per decay.
TEST_F(RealisticPeaks, StrongSinglePeakStatesTheSpreadOfItsTail) {
  const std::vector<std::pair<double, double>> americium = {{26.3446, 2.31}, {59.5409, 35.92}};
  std::vector<std::pair<double, double>> areas;  // area, stated uncertainty
  for (int seed = 1; seed <= 30; ++seed) {
    const std::string path = write_sample(americium, 100, seed, "americium.dat");
    std::string out;
    ASSERT_EQ(kestrim("analyse --json '" + path + "'", &out), 0) << out;
    const nlohmann::json doc = nlohmann::json::parse(out);
    for (const auto& peak : doc["peaks"])
      if (std::fabs(peak["energy"].get<double>() - 59.54) < 3)
        areas.emplace_back(peak["area"].get<double>(), peak["area_uncertainty"].get<double>());
    ASSERT_EQ(areas.size(), static_cast<std::size_t>(seed)) << "seed " << seed << "\n" << out;
  }
  double mean = 0;
  for (const auto& [area, sigma] : areas) mean += area / areas.size();
  double pulls = 0;
  for (const auto& [area, sigma] : areas) pulls += (area - mean) * (area - mean) / (sigma * sigma) / (areas.size() - 1);
  EXPECT_LT(std::sqrt(pulls), 1.2);  // 1.27 with the tail left out
  EXPECT_GT(std::sqrt(pulls), 0.7);  // 0.98 now
  const double truth = 100 * 0.3592 * sample_efficiency(59.5409) * 3600;
  EXPECT_NEAR(mean, truth, 0.003 * truth);  // +0.43 % without the bump, -0.14 % now
}

// Ra-226 with Pb-214 and Bi-214 in equilibrium, every line above 40 keV and
// 0.1 % per decay (DDEP): energy (keV), per cent per decay.
const std::vector<std::pair<double, double>> kRadium226Lines = {
    {53.2275, 1.06},   {186.211, 3.555},  {241.997, 7.268},  {258.87, 0.532},   {274.8, 0.362},
    {295.224, 18.414}, {348.92, 0.123},   {351.932, 35.6},   {386.77, 0.296},   {388.88, 0.394},
    {405.74, 0.171},   {454.77, 0.288},   {462.0, 0.213},    {469.76, 0.133},   {480.43, 0.337},
    {487.09, 0.433},   {533.66, 0.182},   {580.13, 0.369},   {609.312, 45.48},  {665.453, 1.530},
    {703.11, 0.479},   {719.86, 0.393},   {752.84, 0.126},   {768.356, 4.891},  {785.96, 1.064},
    {786.1, 0.310},    {806.174, 1.262},  {821.18, 0.166},   {826.3, 0.129},    {839.04, 0.587},
    {934.061, 3.099},  {964.08, 0.363},   {1051.96, 0.324},  {1069.96, 0.271},  {1103.64, 0.106},
    {1120.287, 14.91}, {1133.66, 0.254},  {1155.19, 1.635},  {1207.68, 0.454},  {1238.111, 5.830},
    {1280.96, 1.435},  {1303.76, 0.105},  {1377.669, 3.967}, {1385.31, 0.795},  {1401.5, 1.330},
    {1407.98, 2.389},  {1509.228, 2.128}, {1538.5, 0.401},   {1543.32, 0.302},  {1583.22, 0.707},
    {1594.73, 0.274},  {1599.31, 0.322},  {1661.28, 1.048},  {1683.99, 0.217},  {1729.595, 2.843},
    {1764.494, 15.31}, {1838.36, 0.343},  {1847.42, 2.025},  {1873.16, 0.212},  {1895.92, 0.146},
    {2118.55, 1.158},  {2204.21, 4.912},  {2293.4, 0.306},   {2447.86, 1.548}};

// Ra-226 at 32 Bq, ten times its limit of detection on this detector's
// blank: its 242 to 352 keV lines sit on the room's background, which
// still halves within 100 keV there. Drawn straight under them, the
// continuum lay 15 counts per channel too high and the activity read 7 %
// low over 60 seeds; with the curve it reads 2.6 % high over these 40
// (the widths of such weak peaks may widen but not narrow, and read a
// little high in noise).
TEST_F(RealisticPeaks, WeakRadiumOnTheFallingBackgroundKeepsItsActivity) {
  const double bq = 32;
  const int seeds = 40;
  double sum = 0;
  for (int seed = 1; seed <= seeds; ++seed) {
    const std::string path = write_sample(kRadium226Lines, bq, seed, "radium.dat");
    std::string out;
    ASSERT_EQ(kestrim("analyse --json '" + path + "'", &out), 0) << out;
    double activity = 0;
    const nlohmann::json doc = nlohmann::json::parse(out);
    for (const auto& n : doc["nuclides"])
      if (n["name"].get<std::string>().rfind("Ra-226", 0) == 0) activity = n["activity"].get<double>();
    ASSERT_GT(activity, 0) << "seed " << seed << ": Ra-226 not reported\n" << out;
    sum += activity;
  }
  EXPECT_NEAR(sum / seeds, bq, 0.04 * bq);
}

// Be-7 at five times its limit of detection, without noise: the room's
// background bends up under its 477.6 keV peak, but beside the peak its
// curvature stands only one standard deviation clear, and the straight
// continuum above it read the activity 3.2 % low.
TEST_F(RealisticPeaks, WeakSinglePeakHoldsTheCurvatureBesideIt) {
  const double bq = 62;
  const std::string path = write_sample({{477.6, 10.44}}, bq, 1, "beryllium.dat", false);
  std::string out;
  const auto [activity, sigma] = analysed_activity(path, "Be-7", out);
  EXPECT_NEAR(activity, bq, 0.015 * bq) << out;
  EXPECT_GT(sigma, 0) << out;
}

// U-238 at five times its limit of detection, without noise: Th-234's
// 63 and 93 keV peaks stand on the room's background, which falls by half
// across their region. Drawn straight beneath them, the continuum read
// U-238 6.6 % low.
TEST_F(RealisticPeaks, WeakLowMultipletTakesTheFallingBackgroundsCurve) {
  const double bq = 56;
  const std::vector<std::pair<double, double>> uranium = {{63.3, 3.75},   {92.38, 2.18},    {92.8, 2.15},
                                                          {112.81, 0.215}, {766.361, 0.323}, {1001.026, 0.847}};
  std::string out;
  const auto [activity, sigma] = analysed_activity(write_sample(uranium, bq, 1, "uranium.dat", false), "U-238", out);
  EXPECT_NEAR(activity, bq, 0.03 * bq) << out;
  EXPECT_GT(sigma, 0) << out;
}

// Ra-226 at 2 kBq: the backscatter bumps of its 609 to 2204 keV lines
// stand at 180 to 220 keV, where the continuum under its 242 to 352 keV
// lines falls by two thirds within 30 keV. Without the bumps in the
// region's continuum it lay 300 to 600 counts per channel above the truth
// there, those lines read 5 to 13 % low and the activity 4.4 % low,
// outside twice its uncertainty in 70 % of the counts. In the first of
// these counts the refit with library lines splits the 53 to 352 keV
// region below 186 keV: the peaks above the cut kept the whole region's
// bounds, so the part below was fitted and reported again for each of
// them (the Peak Fit Report listed 53 to 106 keV five times) and they
// were passed over, keeping their first areas.
TEST_F(RealisticPeaks, RadiumLowLinesStandOnTheBackscatterBumps) {
  const double bq = 2000;
  const int seeds = 4;
  std::map<double, double> ratio;  // mean fitted over true area of the 242 to 352 keV lines
  for (int seed = 1; seed <= seeds; ++seed) {
    std::string out;
    const auto [activity, sigma] = analysed_activity(write_sample(kRadium226Lines, bq, seed, "radium.dat"), "Ra-226", out);
    ASSERT_GT(activity, 0) << "seed " << seed << "\n" << out;
    EXPECT_LE(std::fabs(activity - bq), 2 * sigma) << "seed " << seed << ": " << activity << " +- " << sigma;
    expect_report_rows_in_order("seed " + std::to_string(seed));
    for (const auto& [e, yield] : kRadium226Lines) {
      if (e < 240 || e > 360 || yield < 5) continue;
      const double truth = bq * yield / 100 * sample_efficiency(e) * 3600;
      ratio[e] += reported_area(e, 6) / truth / seeds;
    }
  }
  for (const auto& [e, mean] : ratio) EXPECT_NEAR(mean, 1.0, 0.04) << e << " keV";
}

// Ba-133 at 18.6 Bq, ten times its limit of detection on this detector's
// blank: I-131's 364 keV line lies within the tolerance of Ba-133's
// 356 keV peak and its 80 keV line beside the 81 keV one. I-131 explained
// Ba-133's peaks and Ba-133 was removed; I-131, its other lines missing,
// then went as not credible, and nothing was named in two of these 40
// counts. Ba-133 is named in every one of them now, and I-131 in none.
TEST_F(RealisticPeaks, WeakBariumIsNotLostToANuclideThatThenGoes) {
  const double bq = 18.6;
  int back = 0;
  for (int seed = 1; seed <= 40; ++seed) {
    const std::string path = write_sample(kBarium133Lines, bq, seed, "barium.dat");
    std::string out;
    ASSERT_EQ(kestrim("analyse --json '" + path + "'", &out), 0) << out;
    const nlohmann::json doc = nlohmann::json::parse(out);
    bool barium = false;
    for (const auto& n : doc["nuclides"]) {
      const std::string name = n["name"].get<std::string>();
      EXPECT_EQ(name.rfind("I-131", 0), std::string::npos) << "seed " << seed;
      if (name.rfind("Ba-133", 0) == 0) barium = true;
    }
    EXPECT_TRUE(barium) << "seed " << seed << ": Ba-133 not named\n" << out;
    if (test::read_text(dir.file("Diagnostic Report.txt")).find("Ba-133 is back: I-131, which took its peaks, was removed") !=
        std::string::npos)
      ++back;
  }
  EXPECT_GE(back, 2);  // the counts it was lost in, and the report says why it is there
}

// Ba-133 at 18.6 Bq again: its 53.2 keV line, 2.2 FWHM below the 81 keV
// peak, lay unfitted on the start of that peak's region and lifted the
// continuum under it; the 81 keV peak, the activity's most precise, read
// 7.5 % low on the noiseless count. Taken as known from the activity, the
// line no longer does.
TEST_F(RealisticPeaks, WeakBariumLowLineDoesNotLiftTheContinuum) {
  const double bq = 18.6;
  const OverSeeds barium = activities_over_seeds(kBarium133Lines, bq, 30, "barium.dat", "Ba-133");
  EXPECT_NEAR(barium.mean, bq, 0.05 * bq);  // 5.9 % low before, 3.2 % now
  EXPECT_GE(barium.within, 27);             // within 2 sigma: 22 of 30 before, 29 now
}

// A soil: Ra-226 and Th-232 at 30 Bq, Cs-137 at 20, K-40 at 400. Tl-208's
// 583 keV line and Bi-214's 609 keV make one peak, whose fitted place lies
// about the edge of the 583 keV line's tolerance: in some counts the peak
// is shared, in others Ra-226's alone, and what it says of Ra-226 jumps by
// two thirds between the two. The reported uncertainty left that out: over
// these 40 counts the spread of (activity - truth) / uncertainty was 1.32
// (36 within 2 sigma); carrying it, 0.97 (38).
TEST_F(RealisticPeaks, SoilRadiumCarriesTheBlendItMayShare) {
  std::vector<std::pair<double, double>> lines = kRadium226Lines;  // per cent at 30 Bq
  lines.insert(lines.end(), kThorium232Lines.begin(), kThorium232Lines.end());
  lines.push_back({661.657, 85.10 * 20 / 30});
  lines.push_back({1460.822, 10.55 * 400 / 30});
  const OverSeeds radium = activities_over_seeds(lines, 30, 40, "soil.dat", "Ra-226");
  EXPECT_LT(radium.rms_pull, 1.15);
  EXPECT_GE(radium.within, 37);
}

// The same soil without noise. Tl-208's 583 keV line and Bi-214's 609 keV,
// 0.6 FWHM apart, were fitted as one peak at 597 keV, 14.7 keV from the
// 583 keV line, beyond its tolerance: the peak held 23 % less than the two
// lines, and Ra-226 took it all (its 609 keV line read 29 % high, Ra-226
// 14 % high in the benchmark's soil). The refit puts both lines in at their
// energies, and each nuclide names its own.
TEST_F(RealisticPeaks, SoilBlendOfThoriumAndRadiumIsSplit) {
  std::vector<std::pair<double, double>> lines = kRadium226Lines;
  lines.insert(lines.end(), kThorium232Lines.begin(), kThorium232Lines.end());
  lines.push_back({661.657, 85.10 * 20 / 30});
  lines.push_back({1460.822, 10.55 * 400 / 30});
  std::string out;
  analysed_activity(write_sample(lines, 30, 1, "soil.dat", false), "Ra-226", out);
  auto truth = [&](double e, double yield) { return 30 * yield / 100 * sample_efficiency(e) * 3600; };
  const double thallium = reported_area(582.5, 1.0), bismuth = reported_area(609.3, 1.0);
  const double both = truth(583.187, 30.5) + truth(609.312, 45.48);
  EXPECT_GT(thallium, 0) << test::read_text(dir.file("Peak Fit Report.txt"));
  EXPECT_GT(bismuth, 0);
  EXPECT_NEAR(thallium + bismuth, both, 0.06 * both);
  const std::string activity = test::read_text(dir.file("Activity Report.txt"));
  const std::size_t thorium = activity.find(" Th-232 - The following");
  ASSERT_NE(thorium, std::string::npos) << activity;
  EXPECT_NE(activity.find("  582.48 ", thorium), std::string::npos) << activity;
  for (const char* name : {"Ra-226", "Th-232"}) {
    const auto [bq, sigma] = analysed_activity(dir.file("soil.dat"), name, out);
    EXPECT_NEAR(bq, 30, 0.08 * 30) << name << "\n" << out;
  }
}

// Cd-109's only line, 88.0 keV, lies among the K X-rays of lead and
// bismuth and beside Th-234's 92.6 keV. A Cd-109 source counted alone is
// named; a U-238 sample (Th-234 and Pa-234m, DDEP yields) names U-238 and
// not Cd-109. (The public counts of lead caves and shields, where lead's
// K-beta2 line at 87.3 keV stands apart, are in the real-spectra tests.)
TEST_F(RealisticPeaks, CadmiumSourceIsNamedAndThoriumXraysAreNot) {
  struct Sample {
    std::string nuclide;
    double bq;
    std::vector<std::pair<double, double>> lines;  // keV, per cent
  };
  const double kA = 2.3371, kB = -0.9, live = 3600;
  const Sample samples[] = {
      {"Cd-109", 1000, {{88.0336, 3.66}}},
      {"U-238", 2000,
       {{63.3, 3.75}, {92.38, 2.18}, {92.8, 2.15}, {112.81, 0.215}, {766.361, 0.323}, {1001.026, 0.847}}},
  };
  for (const Sample& s : samples) {
    for (int seed = 1; seed <= 5; ++seed) {
      SCOPED_TRACE(s.nuclide + " seed " + std::to_string(seed));
      SimOptions o = nai_3x3_options(1024, static_cast<std::uint64_t>(seed));
      o.live_time = o.true_time = live;
      for (const auto& [e, yield] : s.lines) {
        SimPeak p;
        p.energy = e;
        p.area = s.bq * yield / 100 * std::exp(kA + kB * std::log(e)) * live;
        p.compton_to_peak = e <= 150 ? 0.3 : e >= 400 ? 2.5 : 0.3 + (e - 150) / 250 * 2.2;
        o.peaks.push_back(p);
      }
      const std::string path = write(o, "sample.dat", [&](SpectrumRecord& rec) {
        rec.header.sampled = rec.header.collected;
        CalibrationRecord& cal = rec.calibration;
        cal.crossover = 0;
        cal.high_eff_terms = 2;
        cal.high_eff = {static_cast<float>(kA), static_cast<float>(kB), 0, 0, 0, 0};
        cal.efficiency_date = {7, 12, 2026};
      });
      std::string out;
      ASSERT_EQ(kestrim("analyse --json '" + path + "'", &out), 0) << out;
      const nlohmann::json j = nlohmann::json::parse(out);
      std::set<std::string> named;
      for (const auto& n : j["nuclides"]) {
        const std::string name = n["name"].get<std::string>();
        named.insert(name.substr(0, name.find(' ')));
      }
      EXPECT_EQ(named, std::set<std::string>{s.nuclide});
    }
  }
}

}  // namespace
}  // namespace kestrim
