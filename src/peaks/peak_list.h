// The peak list (up to 500 peaks, indexed from 1 in ascending centre order),
// the current fitting region and the working storage of the fitting engine.
//
// The peak list is a set of parallel arrays of 501 slots; slot 0 is never
// used so that peak k lives in slot k. Peaks are kept sorted by centre.
// A peak's energy is never stored: it is computed from its centre through
// the calibration when needed.
//
// There is no table of regions. Regions are formed one at a time from the
// list (peak_region.h); each peak keeps the fitting bounds and the stored
// region choice of the region it was last fitted in.
#pragma once

#include <array>
#include <vector>

#include "platform/linear_solver.h"

namespace kestrim {

inline constexpr int kMaxPeaks = 500;
inline constexpr int kMaxSearchPeaks = 101;    // the automatic search stops adding here
inline constexpr int kMaxRegionPeaks = 10;
// Compton edges a region's continuum may hold.
inline constexpr int kMaxRegionEdges = 4;  // two Compton edges and two backscatter bumps
inline constexpr int kMaxRegionChannels = 750;
inline constexpr int kRefusedRing = 10;
inline constexpr int kMaxAuxRows = 100;
inline constexpr int kMaxFilter = 200;

// Truncates a channel position towards zero, as the layouts store channels,
// mapping NaN to 0 and holding the value within +-1e9 so that positions
// computed from a damaged calibration never overflow an int.
inline int trunc_channel(double v) {
  if (!(v == v)) return 0;
  if (v > 1e9) v = 1e9;
  if (v < -1e9) v = -1e9;
  return static_cast<int>(v);
}

template <typename T>
using PeakArray = std::array<T, kMaxPeaks + 1>;

// One row of the auxiliary peaks file (energies in keV).
struct AuxPeakRow {
  float energy = 0;          // listed energy
  float width_factor = 1;    // multiplies the sigma of the matching peak
  float companion = -1;      // companion peak energy; below 1: continuum choice
  float region_start = 0;    // both positive: the region's bounds are fixed
  float region_end = 0;
};

// The current region: the peaks being fitted together and the state of
// their fit. Peak arrays of the fit (pos .. height) hold the region's peaks
// in order, entry 0 being the peak `first` of the list.
struct Region {
  int first = 1;             // first peak index
  int count = 0;             // peaks in the region
  int last = 0;              // last peak index
  int prev_first = 0;        // previous region's first peak
  int prev_count = 0;        // previous region's count; -1 = width cache held
  int start = 0, end = 0;    // channels, inclusive
  float start_f = 0, end_f = 0;
  std::array<float, kMaxRegionPeaks> cache_sigma{};  // width cache
  std::array<float, kMaxRegionPeaks> cache_tail{};
  float ref_sigma = 0;       // the first peak's cached sigma (width-step limit)
  float ref_tail = 0;        // and tailing (tailing-step limit)
  bool bounds_fixed = false;
  bool bounds_user = false;
  bool step_requested = false;
  int continuum_choice = 0;  // 0 free; 1 step; n > 1: n polynomial terms
  bool continuum_forced = false;  // forced by the user (region driver)
  bool aux_forced = false;   // forced by an auxiliary peaks row
  float largest_significance = 0;
  int first_live = 0;
  float margin_first = 0, margin_last = 0;
  bool fitted = false;       // the region has been fitted at least once

  // Fit state.
  std::array<double, kMaxRegionPeaks> pos{};
  std::array<double, kMaxRegionPeaks> sigma{};
  std::array<double, kMaxRegionPeaks> tail{};
  std::array<double, kMaxRegionPeaks> pos_lo{};
  std::array<double, kMaxRegionPeaks> pos_hi{};
  std::array<double, kMaxRegionPeaks> height{};
  std::array<double, kMaxRegionPeaks> area{};
  std::array<double, kMaxRegionPeaks> area_rel{};   // relative 1-sigma uncertainty
  std::array<double, 3> coeff{};  // continuum coefficients
  int terms = 2;             // continuum terms in the least-squares fit
  // The curvature of a single peak's straight continuum, measured beside
  // the region and held fixed: the continuum is coeff[0] + coeff[1] u +
  // fixed_curvature u^2 (u = x - x0) when terms is 2 and the region holds
  // one peak.
  double fixed_curvature = 0;
  bool step = false;         // step continuum
  double x0 = 0;             // continuum reference channel
  double step_half = 1;      // 2.5 sigma of the first peak
  // Compton edges of stronger lines inside the region: each a falling step
  // 0.5 erfc((x - edge_channel) / (sqrt 2 edge_sigma)) of fitted height
  // edge_height that joins the continuum (one more least-squares column).
  // An entry marked edge_bump is instead the backscatter bump of a strong
  // line above: a Gaussian exp(-(x - edge_channel)^2 / (2 edge_sigma^2)).
  int edges = 0;
  std::array<bool, kMaxRegionEdges> edge_bump{};
  std::array<double, kMaxRegionEdges> edge_channel{};
  std::array<double, kMaxRegionEdges> edge_sigma{};
  std::array<double, kMaxRegionEdges> edge_height{};
  std::array<double, kMaxRegionEdges> edge_significance{};  // of the line whose edge it is
  // edge_own marks the bump of a strong low single peak's own line, which
  // stays only where its fitted height stands clear of its uncertainty
  // (edge_height_sd, from the last fit).
  std::array<bool, kMaxRegionEdges> edge_own{};
  std::array<double, kMaxRegionEdges> edge_height_sd{};
  // The known lines reaching into the region (PeakList::known) join the
  // continuum as one more column, their summed shape times known_scale,
  // fitted with a prior of 1 +- kKnownScalePrior: lines the counts do not
  // hold are scaled down.
  bool known_column = false;
  double known_scale = 0;
  double chi2 = 0;           // reduced chi-squared of the last first-pass fit
  double width_gain = 0;     // improvement of the last width step
  double tail_change = 0;    // relative change of the last tailing step
  double tail_step = 0;
  float min_residual = -3, max_residual = 3;
  bool shape_calibration = false;  // set during a peak shape calibration
  bool failed = false;       // the last linear fit was singular or non-finite
};

// Working storage of the fitting engine, allocated once with the list and
// reused for every region.
struct FitWorkspace {
  NormalEquations eq{0};
  NormalEquations aux{0};     // position iteration
  std::vector<double> shape = std::vector<double>(kMaxRegionChannels * kMaxRegionPeaks);
  std::vector<double> diff = std::vector<double>(kMaxRegionChannels * kMaxRegionPeaks);
  std::vector<double> base = std::vector<double>(kMaxRegionChannels);
  std::vector<float> residual = std::vector<float>(kMaxRegionChannels);
  // The known lines' counts at each channel of the region being fitted.
  std::vector<double> known = std::vector<double>(kMaxRegionChannels);
  std::array<double, kMaxUnknowns> solution{};  // parameters of the last fit
};

// The private state of the peak search.
struct SearchState {
  float width_factor = 1;
  bool stop = false;
  bool aborted = false;
  int last_channel = 0;
  std::array<double, kMaxFilter> filter{};
  std::vector<double> counts;  // the spectrum's counts, non-negative, while the search runs
  int half_width = 0;
  double sum_r = 0, sum_rc = 0, largest = 0;
  int run_length = 0;
  int run_start = 0;  // the channel where the open run began
  int quiet = 0;
};

// A line whose counts are known before the fit (a weak line of a nuclide
// already measured by its strong ones): its shape, at its place and area,
// is part of every region's continuum it reaches, not a peak of its own.
struct KnownLine {
  double centre = 0;  // channel
  double sigma = 0, tail = 0;
  double height = 0;  // counts at the centre
};
inline constexpr int kMaxKnownLines = 64;
inline constexpr double kKnownScalePrior = 0.25;

struct PeakList {
  int count = 0;
  bool fitted = false;        // every region has been fitted
  bool fit_enabled = false;   // the "Fit Peaks" command is available
  int last_added = 0;         // index of the last inserted peak

  PeakArray<float> centre{};
  PeakArray<int> centre_channel{};
  PeakArray<int> fit_start{}, fit_end{};
  PeakArray<int> window_start{}, window_end{};
  PeakArray<int> region_choice{};
  PeakArray<float> significance{};
  PeakArray<float> net_area{}, net_area_pct{};
  PeakArray<float> gps{}, gps_pct{};
  PeakArray<float> fwhm_kev{}, goodness{};
  PeakArray<int> library_confirmed{}, unconditional{};
  PeakArray<float> fitted_area{}, fitted_area_pct{};
  // The part of the fitted area's uncertainty (counts, one sigma) that the
  // continuum level carries, shared by the peaks of one region, and the
  // first channel of the region the peak was fitted in (0: not fitted, as
  // in a peak list read back from its file).
  PeakArray<float> fitted_area_continuum_sd{};
  PeakArray<int> fitted_region_start{};
  PeakArray<int> fitted_flag{};
  // A backscatter bump: fitted with its region, so that its counts go
  // neither into the continuum under its neighbours nor into them, and
  // left out of the list once every region is fitted.
  PeakArray<int> backscatter{};
  // A line of an identified nuclide put in at its library energy where no
  // peak was found: fitted at that position with its region's peaks, so
  // that its counts do not lift the continuum under them, and kept unless
  // its area comes out negative.
  PeakArray<int> library_line{};
  // The counts the nuclide's activity gives such a line: should its fitted
  // area come out negative (the continuum or a neighbour took its counts),
  // it is taken as known at that area (see KnownLine) rather than dropped.
  PeakArray<float> library_line_area{};
  // Lines taken as known in the fit (see KnownLine); none but while the
  // identified nuclides' lines are fitted.
  std::array<KnownLine, kMaxKnownLines> known{};
  int known_count = 0;

  // The last channels inserted, newest at ring[ring_next - 1].
  std::array<int, kRefusedRing> ring{};
  int ring_next = 0;

  std::array<AuxPeakRow, kMaxAuxRows> aux{};
  int aux_count = 0;

  Region region;
  SearchState search;
  FitWorkspace work;

  // Moves every per-peak field of slot `from` into slot `to`.
  void move_slot(int from, int to);
  // Zeroes every per-peak field of slot k.
  void clear_slot(int k);
};

}  // namespace kestrim
