// Forming fitting regions from the peak list.
//
// A region is a run of neighbouring peaks (at most 10, at most 750
// channels) fitted together. It is formed from the Current region's first
// peak index: grouping (neighbours closer than a distance that grows with
// the peak separation factor PKSF and the width, and shrinks for very
// unequal significances and at low energy), splitting of groups that are
// too wide or too loose at their largest gap, the start and end channels
// (2.75 sigma beyond the outer peaks, or the lowest channel between two
// neighbouring regions), and the width cache (sigma and low-energy tail of
// each peak from the calibration, times an auxiliary row's width factor).
//
// Needs the spectrum, its calibration and the analysis parameters PKSF,
// ENDC, STAR, STOP, AUXP (use_aux_peaks) and ETOL.
#pragma once

#include <string>

namespace kestrim {

struct PeakSession;

inline constexpr const char* kNoPeaksInRegion = "There are no Peaks in the new Region";
inline constexpr const char* kRegionTooWide = "Can only have 750 channels in a Region";

// Form region. Returns 1 when the region is ready; 0 when refused, with the
// reason (one of the two texts above) in `message`; nothing is shown.
int form_region(const PeakSession& state, std::string& message);

// Groups peaks from the region's first peak (or takes the peaks strictly
// inside fixed bounds) and splits the group when needed.
void group_region(const PeakSession& state);

// Start and end channels of the region when its bounds are not fixed.
void set_region_bounds(const PeakSession& state);

// Rebuilds the width cache when the region changed (unless it is held) and
// the largest significance.
void update_width_cache(const PeakSession& state);

}  // namespace kestrim
