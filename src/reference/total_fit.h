// Total-spectrum fitting: the sample spectrum as a linear combination of
// reference spectra, each stretched by its own gain factor.
//
// One evaluation fits the amplitudes a_k of the references to the sample
// counts y over the fit range by least squares, with the reference k read
// at channel ch x g_k, between its channels (0 past its last channel). The gain search
// moves the gains of the references the sample shows (amplitude at least
// 3 sigma) to lower the reduced chi-square, by three-point parabolic steps,
// for all references together and then one by one; the others take the
// mean of the searched gains. The final fit weights each channel by the
// inverse of its expected counts to give the amplitudes' variances, which
// include the share of each searched gain's own uncertainty.
#pragma once

#include <string>
#include <vector>

#include "reference/reference_set.h"

namespace kestrim {

class Platform;

struct TotalFitOptions {
  int start_channel = 0;   // first channel asked for (at least 2 is used)
  int end_channel = 0;     // last channel asked for (at most channels - 1 is used)
  bool gain_search = false;
};

// Fits `sample` (counts by channel, `channels` of them; channels 0 and 1 are
// not counts) with the references of `set` and stores the gains, amplitudes,
// variances and reduced chi-square there. The search log (the lines of
// "fit_diag.txt", CR LF) goes to `diagnostics`. Returns 1, or 0 after
// reporting why no fit was made: too few channels, a reference identical
// to the sample, references too alike to be told apart (a singular fit),
// or an abort. On failure the set's results are cleared.
int fit_total_spectrum(const std::vector<float>& sample, int channels, const TotalFitOptions& options,
                       ReferenceSet& set, std::string& diagnostics, Platform& ui);

// What a fitted reference gives: the factor by which its source is scaled
// in the sample (amplitude x reference live time / sample live time), its
// uncertainty in per cent, the gain shift 1 - g, the activity it stands for
// and that activity's uncertainty in per cent (fit and reference
// uncertainties combined, times the activity sigma value).
struct ReferenceResult {
  double factor = 0;
  double factor_uncertainty_pct = 0;
  double shift = 0;
  double activity_bq = 0;
  double uncertainty_pct = 0;
};
ReferenceResult reference_result(const ReferenceSpectrum& ref, double sample_live_time,
                                 double activity_sigma);

}  // namespace kestrim
