// The region fitting driver: walks the peak list region by region, has each
// region fitted (fit_engine.h) and decides which peaks stay.
//
// For each region: form it (peak_region.h); fit it with the chosen
// continuum and compute the areas, or take the area of a single peak by
// summation; look for a new peak in the residuals; split a multiplet that
// fits badly (reduced chi-squared above 10) at a gap wider than 8 sigma;
// add the residuals' candidate (asking first when "Prompt before Adding new
// peaks" is set); otherwise apply the removal tests in order (negative
// area, too near another peak, area uncertainty above MAXP, area below the
// Currie critical limit), asking first when "Prompt before Removing peaks"
// is set or the peak lies within 2 sigma of the last added channel. Each
// addition or removal re-forms and refits the region. A finished region
// stores its bounds and continuum choice in its peaks, marks them fitted and
// goes to the peak fit report (peak_fit_report.h).
//
// Prompts are Yes/No/Cancel message boxes: the question is the text, the
// reason the caption; Cancel is the Abort button. Batch runs switch both
// prompt options off. Progress goes to the status line.
//
// Parameters read: ITSP, ITMU, ITWI, ITTA, CONT, MAXW (through the engine),
// the new-peak search option (the working copy set when a spectrum is
// opened) and discriminator NPKD, ASUM, MAXP, PSIG, ENDC, the prompt
// options, "Pause after Fitting each Peak region" and the fitting delay.
#pragma once

namespace kestrim {

struct PeakSession;

inline constexpr const char* kExpandNotContaining =
    "The next peak is not in the expanded region, the expanded region is used to estimate the peak limits";
inline constexpr const char* kExpandNeeded =
    "As there is no Shape Calibration, the Expand function should be used to estimate the peak limits";
inline constexpr const char* kReasonNegative = "This Peak has a negative area";
inline constexpr const char* kReasonTooNear = "This Peak is too near another one";
inline constexpr const char* kReasonBetween = "This Peak lies between two much stronger ones";
inline constexpr const char* kReasonUncertain = "This Peak has a high uncertainty value";
inline constexpr const char* kReasonCritical = "This Peak is below the Critical Limit";
inline constexpr const char* kReasonBackscatter = "This Peak is the backscatter of a stronger line";
inline constexpr const char* kReasonAdded = "This Peak was added to the region";
inline constexpr const char* kReasonResidual = "There is high residual data in this region";

// Fits every region whose first peak is not yet fitted, in peak order, until
// all peaks are fitted or the user aborts. Returns 1, or 0 when aborted.
int fit_all_remaining_peaks(const PeakSession& state);

// Fits the region beginning at the current region's first peak index with
// the add/remove decisions. `automatic`: called by the fit-all loop (or the
// shape calibration); false for an interactive single-region fit. Returns 1
// when the region was fitted, 0 otherwise (refused, nothing to fit, abort).
int fit_region(const PeakSession& state, bool automatic);

// The continuum commands of the plot window. Each forces (or, chosen again,
// releases) a continuum and refits the current region interactively.
int use_linear_continuum(const PeakSession& state);
int use_nonlinear_continuum(const PeakSession& state);
int use_step_continuum(const PeakSession& state);
// Toggles area by summation and refits.
int use_summation_for_area(const PeakSession& state);

// Area of peak k by summation over its window with a straight-line
// background from the rest of the region; stores the peak's fitted area and
// its percent uncertainty and returns the background variance B (w + 1).
double area_by_summation(const PeakSession& state, int k);

// Width estimate for peak k from the expanded display range when there is
// no shape calibration. Returns 1, or 0 after its message.
int expand_estimate(const PeakSession& state, int k);

// Searches the current region's residuals for a new peak; returns the
// candidate's channel (centroid) or 0, and keeps its strength.
double search_residuals(const PeakSession& state);

// Removal test: names the first peak to go (1-based list index, 0 = none)
// and its reason. Sets the critical limit of the last test.
int removal_candidate(const PeakSession& state, const char** reason);

}  // namespace kestrim
