// Synthetic NaI(Tl) spectra with a known truth, for tests, benchmarks and
// the shipped example.
//
// Model (all energies in keV, channels as the spectrum array indexes them;
// counts start at channel 2, channels 0 and 1 hold live and true time):
// - energy calibration E(x) = offset + gain x + quadratic x^2;
// - resolution: FWHM(E) = fwhm_662 x sqrt(E / 662), i.e. a fixed relative
//   resolution at 662 keV growing as sqrt(E) (about 7 % for NaI), or
//   FWHM(E) = fwhm_sqrt_kev x sqrt(E) when that is set (1.79 for a 3"x3"
//   crystal, 7.0 % at 662 keV);
//   sigma in channels = FWHM(E) / 2.355 / gain (the linear coefficient, as
//   the width calibration's resolution form has it);
// - photopeak: the fitting engine's shape, a Gaussian of sigma s whose low
//   side turns into an exponential tail at d = -t (t = tail_sigmas x s),
//   exp(t (t + 2d) / (2 s^2)) for d < -t; its integral is
//   s sqrt(pi/2) (1 + erf(t / (s sqrt 2))) + s^2 / t exp(-t^2 / (2 s^2)),
//   and the height is chosen so that the integral equals the requested area.
//   Channel values are the shape at the channel's centre (the engine fits
//   that, so a noiseless fit returns the requested area);
// - Compton continuum (when peak_to_compton > 0): a shelf from 0 up to the
//   Compton edge E_c = E (1 - 1 / (1 + 2E / 511)), rising by 30 % towards
//   the edge and smeared there by the resolution, whose level per channel is
//   the peak height / peak_to_compton, plus a backscatter bump at E - E_c of
//   height half the shelf level;
// - realistic Compton continuum (when compton_to_peak > 0, in place of the
//   one above): the same rising shelf smeared at the edge by the resolution
//   at E_c, and a Gaussian backscatter bump at E - E_c with the resolution's
//   sigma there, holding backscatter_fraction of the continuum; the whole
//   continuum (shelf and bump, from 0 keV up) holds compton_to_peak x the
//   photopeak's area (2 to 3 for a 3"x3" crystal near 1 MeV);
// - continuum terms: counts per keV, each a exp(-E / efold) (a constant when
//   efold is 0), for E >= 0, times the channel's width in keV, so that the
//   same terms give the same spectrum per keV whatever the channel count;
// - environmental background: amplitude exp(-E / decay) + constant, counts
//   per channel;
// - Poisson noise drawn with std::mt19937_64 from `seed` and our own
//   sampler (multiplication method below a mean of 10, Hoermann's PTRS
//   transformed rejection above), so that a seed gives the same spectrum
//   with every standard library.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace kestrim {

struct SpectrumRecord;

struct SimPeak {
  double energy = 662;          // keV
  double area = 10000;          // net counts
  double peak_to_compton = 0;   // 0: no Compton continuum for this peak
  double compton_to_peak = 0;   // > 0: realistic continuum of this many counts per peak count
};

// One term of a continuum in counts per keV: per_kev x exp(-E / efold_kev),
// or per_kev everywhere when efold_kev is 0.
struct SimContinuumTerm {
  double per_kev = 0;
  double efold_kev = 0;
};

struct SimOptions {
  int channels = 1024;
  double offset_kev = 0;
  double gain_kev = 3.0;        // keV per channel
  double quadratic = 0;
  double fwhm_662 = 0.07 * 662; // keV
  double fwhm_sqrt_kev = 0;     // > 0: FWHM(E) = fwhm_sqrt_kev x sqrt(E), in place of fwhm_662
  double tail_sigmas = 1.75;    // low-energy tail distance in sigmas
  std::vector<SimPeak> peaks;
  double bg_amplitude = 0;      // counts per channel at 0 keV
  double bg_decay_kev = 300;
  double bg_constant = 0;       // counts per channel
  double bg_slope = 0;          // counts per channel per channel (linear term)
  std::vector<SimContinuumTerm> continuum;  // counts per keV, summed
  double backscatter_fraction = 0.04;       // of each realistic Compton continuum
  std::uint64_t seed = 1;
  bool noise = true;
  double live_time = 1000;      // s
  double true_time = 1000;
};

struct SimPeakTruth {
  double energy = 0;            // keV
  double centre = 0;            // channel
  double sigma = 0;             // channels
  double tail = 0;              // channels
  double fwhm_channels = 0;
  double fwhm_kev = 0;
  double height = 0;            // counts per channel at the centre
  double area = 0;              // net counts
};

struct SimSpectrum {
  std::vector<double> expected;  // noiseless counts per channel (index = channel)
  std::vector<double> counts;    // with Poisson noise (equal to expected without noise)
  std::vector<SimPeakTruth> truth;
};

// The energy of channel x and the channel of energy e under the options'
// calibration (the inverse takes the positive root of the quadratic).
double sim_energy(const SimOptions& o, double x);
double sim_channel(const SimOptions& o, double e);
// FWHM (keV) at energy e; 0 for e <= 0.
double sim_fwhm_kev(const SimOptions& o, double e);
// Integral of the unit-height peak shape of sigma s and tail t over all x.
double peak_shape_integral(double s, double t);

// A typical NaI spectrum of a soil sample: 15 lines of the natural
// series, Cs-137, Co-60 and K-40 between 186 and 2614 keV with Compton
// continua, on an environmental background; 3072 keV over `channels`.
SimOptions example_nai_options(int channels, std::uint64_t seed = 1);

// A 3"x3" NaI(Tl) detector for an hour over 0 to 3072 keV in `channels`
// (1024, 2048 or 4096) channels: FWHM 1.79 sqrt(E) keV and a natural
// background falling as a sum of three exponentials (per keV, the same at
// every channel count; about 30 counts per 3 keV at 662 keV). No peaks.
SimOptions nai_3x3_options(int channels, std::uint64_t seed = 1);

// The Compton edge of a line of energy e (keV): e (1 - 1 / (1 + 2e / 511)).
double compton_edge_kev(double e);

// Builds a spectrum. Peaks whose centre falls outside channels 2..channels-1
// are skipped (not in the truth).
SimSpectrum simulate_spectrum(const SimOptions& o);

// Copies a simulated spectrum into a spectrum record: header channels, live
// and true time, the counts, and a calibration record that describes the
// simulation (linear or quadratic energy, width in the resolution form,
// tailing left uncalibrated so that it defaults to 1.75 sigma).
void store_simulated(const SimSpectrum& s, const SimOptions& o, SpectrumRecord& rec);

// One Poisson deviate of the given mean (mean <= 0 gives 0).
std::int64_t poisson_deviate(std::mt19937_64& rng, double mean);
// A uniform double in [0, 1) from the top 53 bits of one draw.
double uniform_01(std::mt19937_64& rng);

}  // namespace kestrim
