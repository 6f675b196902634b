// The library-driven peak search: every line of the peak search library
// (PLIB) inside the searched range that has no peak yet gets one, which is
// kept when it has neighbours to be fitted with, when the library peaks are
// reported unconditionally (UNLP), or when a quick fit of it alone gives a
// positive height known to better than 100 %.
#pragma once

namespace kestrim {

struct PeakSession;

// Tests one library line of energy E: marks a peak already within the
// energy tolerance as library-confirmed (with UNLP), or inserts a peak at
// the line's channel and keeps or removes it. Returns the index of the peak
// kept for the line, 0 when none.
int test_library_line(const PeakSession& state, double energy_kev);

// Walks the peak search library with the streaming reader: for each nuclide
// with a line of positive yield strictly inside energy(STAR) ..
// energy(min(STOP, channels)), its most intense line in the range first,
// then its other lines in the range in library order. Returns 1, or 0 when
// there is no spectrum or the library could not be opened (reported).
int library_peak_search(const PeakSession& state);

}  // namespace kestrim
