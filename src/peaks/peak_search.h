// The automatic peak search, insertion and removal of peaks, the auxiliary
// peaks file and the reference-peak locator.
//
// The search convolves the spectrum with a zero-area filter shaped like the
// negative second derivative of a Gaussian of width w = sigma x f:
//   c[0] = -100,  c[k] = 100 (k^2/w^2 - 1) exp(-k^2 / (2 w^2)),
// with c[1] adjusted so that the symmetric filter sums to zero (a constant
// or straight continuum gives no response). The response at channel c is
// the filtered value divided by its Poisson standard deviation,
//   R = -sum c[|k|] N(c+k) / sqrt(sum c[|k|]^2 N(c+k)),
// so a peak gives a positive response in units of sigma. Runs of channels
// with R > 2 are peak candidates; their R-weighted centroid is the peak
// centre when the largest response exceeds the discriminator PKSD. The
// spectrum is searched in segments, each with ten passes of growing filter
// width (factors PKSS, PKSS + 0.1, ..., PKSS + 0.9).
//
// Needs the spectrum, its calibration (width at a channel) and the analysis
// parameters STAR, STOP, PKSD, PKSS, ENDC, AUXP and ETOL.
#pragma once

#include <cstdint>
#include <string>

namespace kestrim {

struct PeakSession;
struct PeakList;
struct SearchState;
struct AnalysisParameters;
struct AuxPeakRow;

// Energy tolerance tol(E) = 0.25 ETOL + 0.00075 ETOL E, keV.
double energy_tolerance(const AnalysisParameters& p, double energy_kev);
// The tolerance of nuclide identification at an energy (also used to match
// background-file peaks): its energy-proportional part doubled during an
// analysis with automatic re-calibration, and the whole energy tolerance
// parameter around the annihilation line (510 to 512 keV).
double identification_tolerance(const AnalysisParameters& p, double energy_kev,
                                bool auto_calibration = false);

// The first auxiliary row whose listed energy lies within tol(E) of E, or
// nullptr.
const AuxPeakRow* find_aux_row(const PeakList& list, const AnalysisParameters& p, double energy_kev);

// Builds the significance filter for sigma s (channels) and the search's
// current width factor; returns the half-width n (at most 199).
int build_filter(SearchState& search, double sigma);

// Response at channel c over channels c-n..c+n below `last_channel`, using
// only channels with positive counts.
double filter_response(const SearchState& search, const float* counts, int c, int last_channel);
double filter_response(const SearchState& search, const std::int32_t* counts, int c, int last_channel);

// Zeroes the whole peak-analysis state (list, region, search), sets the last
// channel to channels - 1 and the first live channel to STAR, and disables
// fitting.
void clear_peak_list(const PeakSession& state);

// One search pass from channel a with sigma s; returns the channel where it
// stopped. Adds at most one peak.
int search_pass(const PeakSession& state, int a, double s);

// Clears the list and searches the whole spectrum; enables fitting.
void run_peak_search(const PeakSession& state);

// Inserts a peak at channel p (significance 10) and returns its index, or 0
// when the list is full. The channel goes into the ring of inserted channels.
int insert_peak(const PeakSession& state, int p);

// Removes the first peak whose centre channel is within one channel of
// `channel`; returns 1 when one was removed.
// Where the discriminator cuts the spectrum off above the search start (no
// counts below the first live channel), the counts rise steeply to the
// spectrum's level within a width or so: whether `channel` lies on that
// rise, within one FWHM of the first live channel. A peak there is the
// cut's edge (a "peak" at 54-56 keV in counts whose discriminator lies at
// 45 keV).
bool on_discriminator_edge(const PeakSession& state, double channel);

int remove_peak(const PeakSession& state, int channel);

// True when `channel` is one of the last ten inserted channels.
bool recently_inserted(const PeakList& list, int channel);

// Reads the auxiliary peaks file (AUXP name in the working directory) and
// inserts the companion peaks. Returns 1, or 0 when the file is missing
// (reported with an OK box).
int load_aux_peaks(const PeakSession& state);

// Locates the reference peak in `counts` (acquired integer counts of
// `channels` channels) within centre +- window/2, appending a line to
// "mca diag.txt" in the working directory. Returns the peak channel or 0.
// `line` (optional) receives the text written.
int locate_reference_peak(const PeakSession& state, const std::int32_t* counts, int channels, int centre, int window,
                          std::string* line = nullptr);

// Typical settings of a NaI Defaults file for the search and the fit:
// STAR 10, STOP channels - 1, PKSD 4, PKSS 0.5, PKSF 6, ENDC 10, PSIG 1,
// ETOL 1, MAXW 0.2, new-peak discriminator 4, all iterations on.
void use_standard_peak_parameters(AnalysisParameters& p, int channels);

}  // namespace kestrim
