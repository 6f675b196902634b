// The calibration functions: every conversion between channel and energy,
// every expected peak width and tailing and every efficiency the program
// uses is evaluated here from the 512-byte calibration record. No other
// module re-implements them.
//
// Energy (keV) of a channel x, with terms n and coefficients c0, c1, c2:
//   n <= 0                 E = x                     (uncalibrated)
//   n == 1                 E = c0
//   n == 2                 E = c0 + c1 x
//   n >= 3, polynomial     E = c0 + c1 x + c2 x^2
//   n >= 3, logarithmic    E = c0 + c1 x + c2 ln x   (the log term only for x > 0)
//
// Width (Gaussian sigma, channels) with terms n and coefficients w0..w2 of
// u = E(x) (or u = x for a type-4 spectrum carrying its own calibration):
//   n > 0    W = w0 + w1 u (+ w2 u^2 when n > 2)
//   n == -2  W = (w0 + w1 sqrt(u)) / (c1 x 2.355)   w0, w1 describe the FWHM in keV
//   else, with an energy calibration (terms >= 2, gain not 0):
//            W = the NaI-typical width (below)
//   else     W = int(channels / 256) + 0.01 x
// and never below 1 channel.
//
// The NaI-typical width stands in for a missing width calibration: a FWHM
// of 7.5 % at 662 keV growing with sqrt(E), i.e. FWHM(E) = 0.075 x 662 keV
// x sqrt(E / 662 keV), turned into channels with the local gain and into a
// sigma with 2.355. The generic int(channels / 256) + 0.01 x rule does not
// follow the gain at all: on a 1024-channel spectrum at 3 keV per channel
// it gives a sigma of 4.3 channels at 100 keV (NaI: about 2.7) and 8.9 at
// 1461 keV (NaI: about 10.4), and on other gains it is further off.
// There is no Defaults entry for it: the record's layout is fixed; a shape
// calibration replaces it.
//
// Efficiency (fraction) from the low-energy curve (E <= crossover) or the
// high-energy one (E > crossover), each either a polynomial in ln E (keV)
// or, when its number of terms equals the record's inverse-form field, the
// inverse-energy polynomial L = a1 e + a2 + a3/e + a4/e^2 ... of e = E/1000
// (MeV). L is held in [-30, 0.693471] and the efficiency is exp(L).
#pragma once

#include "spectrum/calibration_record.h"
#include "spectrum/spectrum_record.h"

namespace kestrim {

struct SessionFlags;
struct SpectrumRecord;

// The upper limit of the logarithm of an efficiency. It is deliberately
// 0.693471, not ln 2 = 0.693147: files calibrated with it must give the same
// efficiencies.
inline constexpr double kMaxLogEfficiency = 0.693471;
inline constexpr double kMinLogEfficiency = -30.0;

// What the functions need to know besides the record: the spectrum type
// (0 native, 1-15 foreign, 16 acquired), the header's detector file number
// (below 1 = the spectrum carries its own calibration), the number of
// channels, and the efficiency points with the *use efficiency points*
// switch. The default describes a native 4096-channel spectrum with a
// detector file and no efficiency points.
struct CalibrationContext {
  int spectrum_type = 0;
  int detector_file = 1;
  int channels = kMaxChannels;
  const EfficiencyPoints* points = nullptr;
  bool use_points = false;
};

// The context of the spectrum in memory.
CalibrationContext calibration_context(const SpectrumRecord& spectrum, const SessionFlags& flags);

// True for a type-4 spectrum carrying its own calibration, whose width
// function takes channels instead of energies.
bool uses_own_calibration(const CalibrationContext& ctx);

// A stored number of terms as an integer; a non-finite or absurd value
// counts as 0 (not calibrated).
int term_count(float stored_terms);

double channel_to_energy(const CalibrationRecord& cal, double channel);   // keV
double energy_to_channel(const CalibrationRecord& cal, double energy_kev);

// The resolution assumed for a NaI detector without a width calibration:
// FWHM / E at kNaiReferenceEnergy (the Cs-137 line), scaling with sqrt(E).
inline constexpr double kNaiResolutionAt662 = 0.075;
inline constexpr double kNaiReferenceEnergy = 661.66;  // keV

// The NaI-typical FWHM in channels at channel x, or 0 when the record has
// no energy calibration (or x lies at or below 0 keV).
double nai_typical_fwhm_channels(const CalibrationRecord& cal, double x);

// Gaussian sigma in channels, never below 1.
double width_at_channel(const CalibrationRecord& cal, double channel);
double width_at_channel(const CalibrationRecord& cal, double channel,
                        const CalibrationContext& ctx);

// The FWHM in channels at a channel: 2.355 times the width above.
double fwhm_at_channel(const CalibrationRecord& cal, double channel, const CalibrationContext& ctx);

// Tailing parameters at a channel. Calibrated: a polynomial in the energy;
// uncalibrated: 1.75 W (low) and 10 W (high). The low tailing is at least
// 0.5 W and the high tailing at least W, W the width at the channel.
double low_tail_at_channel(const CalibrationRecord& cal, double channel);
double low_tail_at_channel(const CalibrationRecord& cal, double channel,
                           const CalibrationContext& ctx);
double high_tail_at_channel(const CalibrationRecord& cal, double channel);
double high_tail_at_channel(const CalibrationRecord& cal, double channel,
                            const CalibrationContext& ctx);

// Efficiency at an energy (fraction, in [exp(-30), exp(0.693471)], or 1.0
// when the curve in use is not calibrated or E <= 0).
double efficiency_at(const CalibrationRecord& cal, double energy_kev);
double efficiency_at(const CalibrationRecord& cal, double energy_kev,
                     const CalibrationContext& ctx);

// Efficiency with the square of its relative uncertainty (from the
// variance coefficients of the curve in use, or interpolated in the points).
struct EfficiencyWithUncertainty {
  double efficiency = 1.0;
  double relative_variance = 0.0;  // s^2, s the relative uncertainty
};
EfficiencyWithUncertainty efficiency_with_uncertainty(const CalibrationRecord& cal,
                                                      double energy_kev,
                                                      const CalibrationContext& ctx);

// Whether the spectrum has an efficiency calibration at all: a curve with
// terms or measured points. Without one every efficiency is 1.0, and the
// activities worked out with it are count rates per emission, not
// becquerels.
bool efficiency_calibrated(const SpectrumRecord& spectrum);

// The *use efficiency points* rule: points are present and either the
// option to use interpolated efficiencies is on or the high-energy curve has
// no terms.
bool use_efficiency_points_rule(const CalibrationRecord& cal, const EfficiencyPoints& points,
                                bool interpolated_option);

// Linear interpolation of the efficiency in the points (0 for E <= 0, the
// first efficiency with fewer than two points). Below the first point the
// first segment is extended; above the last, the last segment.
double interpolate_efficiency_linear(const EfficiencyPoints& points, double energy_kev);

// Relative uncertainty interpolated in the points: from (0 keV, 1.0) to the
// first point below it, the last segment extended above the last point.
double interpolate_uncertainty(const EfficiencyPoints& points, double energy_kev);

// Efficiency from a local quadratic fit of ln(eff) against ln(E) through the
// three points around E (a straight line with two points), with the guards
// against overshoot between points. 1.0 for E <= 0.
double interpolate_efficiency_loglog(const EfficiencyPoints& points, double energy_kev);

// The largest efficiency met stepping from 30 keV upwards in 1 keV steps
// while the efficiency rises, below 1000 keV: the scale of the efficiency
// plot, stored at offset 500 of the record.
double efficiency_plot_maximum(const CalibrationRecord& cal, const CalibrationContext& ctx);

}  // namespace kestrim
