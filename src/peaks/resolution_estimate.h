// The resolution a spectrum shows, measured on its strongest clear peak, for
// spectra that come without a width calibration.
//
// The peak: the channel above 100 keV where the counts stand highest above
// the straight line between the lowest counts 0.8 to 2 expected FWHM on
// either side (the expected FWHM is the NaI-typical one), a local maximum
// holding at least kMinNetCounts above that line. Its FWHM is where the
// counts above the line fall to half the maximum on each side, linearly
// interpolated; the line is taken again 1.5 measured FWHM away until the
// width settles. A peak whose half-maximum is not reached on both sides
// within 3 expected FWHM, or whose measured width is below 2 channels, gives
// no measurement.
#pragma once

namespace kestrim {

struct SpectrumRecord;

struct ResolutionEstimate {
  bool measured = false;
  double energy_kev = 0;  // where the peak is
  double fwhm_kev = 0;    // its measured FWHM
  double ratio = 0;       // measured FWHM / NaI-typical FWHM at that energy
};

// Net counts (above the line, within one FWHM) a peak needs to be measured.
inline constexpr double kMinNetCounts = 2000;

// A measured FWHM between these fractions of the NaI-typical one is NaI's
// own (the 3"x3" and 2"x2" crystals of the public counts measure 0.87 to
// 0.93); outside them the spectrum comes from another kind of detector.
inline constexpr double kTypicalResolutionLow = 0.7;
inline constexpr double kTypicalResolutionHigh = 1.4;

// Needs an energy calibration; searches channels from first_channel on.
ResolutionEstimate measure_resolution(const SpectrumRecord& spectrum, int first_channel);

}  // namespace kestrim
