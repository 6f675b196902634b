// The peak-fitting engine: fits the current region (State.peaks.region) of
// the spectrum with a sum of peaks on a continuum.
//
// Model at channel x:  continuum(x) + sum_i h_i g_i(x), where g_i is the
// unit-height shape of peak i (peak_model.h) and the continuum is either
// a polynomial c0 + c1 d + c2 d^2 in d = x - x0 (1, 2 or 3 terms) or the
// step c0 + c1 t, t = (x - x0) / (2.5 sigma1) limited to -1..1, plus
// the smeared steps of Compton edges inside the region and, while the
// nuclides' weak lines are fitted, the summed shape of the known lines
// reaching it (PeakList::known) times a scale drawn towards 1.
//
// Heights and continuum coefficients come from weighted linear least
// squares with the shapes fixed (fit_region_linear); positions, the common
// sigma and the common low-energy tail are improved by outer iterations
// that re-run the linear fit (position iteration, width and tailing steps,
// shape iteration). Weights are 1/count (1/0.1 for an empty channel),
// smoothed over three channels for low counts in the first pass and limited
// to at most 1; the final pass takes max(count, (count - model)^2) as the
// variance so that the inverse matrix gives realistic height variances.
// Area uncertainties are not scaled by the reduced chi-squared.
//
// Needs: the region's peaks, bounds and width cache set (peak_region.h);
// the spectrum counts and calibration; the analysis parameters ITSP, ITMU,
// ITWI, ITTA, MAXW, PSIG, CONT, ENDC and the new-peak discriminator.
// Promises: a singular or non-finite normal system marks the region as
// failed (Region::failed, result 0) and leaves heights, areas and their
// uncertainties at 0, never NaN. Storage is the list's FitWorkspace: no
// allocation while fitting.
#pragma once

namespace kestrim {

struct PeakSession;
struct Region;

// One weighted linear fit with positions, sigmas and tails fixed.
// final_pass = false: solves for heights and continuum and stores the
// reduced chi-squared; true: only refreshes the inverse matrix with the
// final-pass variances, keeping the heights. Returns 1, or 0 when singular.
int fit_region_linear(const PeakSession& state, bool final_pass);

// Model value (continuum + peaks) at channel x with the current parameters.
// `step_positive`: a negative step continuum is replaced by the count.
double region_model(const PeakSession& state, int x, bool step_positive = false);
// Continuum value at channel x (the model used for residuals: c0 + c1 t for
// the step whatever the number of terms).
double region_continuum(const PeakSession& state, int x);
// Columns of the continuum in the least-squares fit: the polynomial (or
// step) terms and a step for each Compton edge the region holds.
int continuum_columns(const Region& r);

// Adds a line of `area` counts at `channel`, its shape the calibration's
// there, to the lines taken as known in the current fit. False when the
// table is full or the calibration gives no shape.
bool take_as_known(const PeakSession& state, double channel, double area);

// The outer iterations, each re-running the linear fit: the position
// iteration, one step of the common width, the tailing steps, the shape
// iteration alternating width and tailing, and the control that runs them
// for a region as the parameters ask.
void position_iteration(const PeakSession& state);
void width_step(const PeakSession& state);
void tailing_step(const PeakSession& state);
void shape_iteration(const PeakSession& state);
void iterate_region(const PeakSession& state);

// Residuals of every region channel into the workspace.
void compute_residuals(const PeakSession& state);
// Fitted areas and their uncertainties for the region's peaks, stored in
// the region (area, area_rel) and the peak list (fitted area and its
// percent uncertainty at PSIG sigma).
void compute_areas(const PeakSession& state);

// Fits the region completely (bounds, extension, trimming, chi-squared
// iterations, residuals, final pass, region split).
// Returns 1, or 0 when the fit failed (singular system).
int fit_region_completely(const PeakSession& state);

// Chooses the continuum (forced, stored, 2 or 3 terms, the linear test)
// and fits completely. Returns 1, or 0 on failure.
int choose_continuum_and_fit(const PeakSession& state);

}  // namespace kestrim
