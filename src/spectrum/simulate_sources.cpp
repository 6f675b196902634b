#include "spectrum/simulate_sources.h"

#include <algorithm>
#include <cmath>

namespace kestrim {

std::vector<SourceLine> source_lines(const std::string& nuclide) {
  // Energies (keV) and yields from the published decay data.
  if (nuclide == "Cs-137") return {{661.66, 0.851}};
  if (nuclide == "Co-60") return {{1173.23, 0.9985}, {1332.49, 0.9998}};
  if (nuclide == "K-40") return {{1460.82, 0.1066}};
  if (nuclide == "Ra-226")
    return {{186.21, 0.0364},  {241.99, 0.0727}, {295.22, 0.184},   {351.93, 0.356},
            {609.31, 0.4549},  {768.36, 0.0489}, {934.06, 0.0310},  {1120.29, 0.1491},
            {1238.11, 0.0583}, {1377.67, 0.0398}, {1764.49, 0.1531}, {2204.21, 0.0491}};
  if (nuclide == "Th-232")
    return {{238.63, 0.436},  {338.32, 0.1127}, {463.00, 0.0440}, {510.77, 0.0813},
            {583.19, 0.3047}, {727.33, 0.0667}, {860.56, 0.0448}, {911.20, 0.2580},
            {968.97, 0.1580}, {2614.51, 0.3559}};
  if (nuclide == "Am-241") return {{59.54, 0.359}};
  if (nuclide == "Ba-133") return {{81.00, 0.329}, {302.85, 0.1834}, {356.01, 0.6205}, {383.85, 0.0894}};
  if (nuclide == "Cs-134") return {{563.25, 0.0834}, {569.33, 0.1537}, {604.72, 0.9762}, {795.86, 0.8546}, {801.95, 0.0869}};
  if (nuclide == "Mn-54") return {{834.85, 0.99976}};
  if (nuclide == "Na-22") return {{511.0, 1.807}, {1274.54, 0.9994}};
  return {};
}

std::vector<std::string> simulated_sources() {
  return {"Cs-137", "Co-60", "K-40", "Ra-226", "Th-232", "Am-241", "Ba-133", "Cs-134", "Mn-54", "Na-22"};
}

double simulated_efficiency(double energy_kev) {
  return 0.05 * std::pow(662.0 / std::max(energy_kev, 150.0), 0.9);
}

namespace {
double compton_to_peak(double e) {
  if (e <= 120) return 0.3;
  if (e <= 660) return 0.3 + 2.2 * (e - 120) / 540;
  return std::min(4.0, 2.5 + 1.5 * (e - 660) / 2000);
}
}  // namespace

SimOptions source_spectrum_options(const std::vector<SourceActivity>& sources, int channels,
                                   double live_time, double gain_factor, std::uint64_t seed) {
  SimOptions o;
  o.channels = channels;
  o.gain_kev = 3072.0 / channels * gain_factor;
  o.fwhm_sqrt_kev = 1.79;
  o.seed = seed;
  o.live_time = live_time;
  o.true_time = live_time * 1.004;
  for (const SourceActivity& s : sources)
    for (const SourceLine& l : source_lines(s.nuclide)) {
      SimPeak p;
      p.energy = l.energy_kev;
      p.area = s.activity_bq * l.yield * simulated_efficiency(l.energy_kev) * live_time;
      p.compton_to_peak = compton_to_peak(l.energy_kev);
      if (p.area > 0) o.peaks.push_back(p);
    }
  return o;
}

}  // namespace kestrim
