// The listing of a library as a text report.
//
// Layout (every line ends in CR LF):
//   60 blanks, the date and time ("%2d-%s-%4d %2d:%02d")
//   "        Listing of Analysis Library <title>"
//   per nuclide: an empty line, " %8s %s" (name, description),
//   " Data Source:- %s", " Half Life is %9.4f %s" in the display unit
//   (" %12.5e" when the displayed value is 100000 or more), " Principal Energy
//   is %6.1f keV." when one is set, an empty line, the column heading, an
//   empty line, then one row per line: "      %8.3f   %9.5f     %7.5f" with
//   the yield and uncertainty in % when the yield exceeds 0.0001 (fractions
//   above 0.01 first rounded half up to 4 decimals), else
//   "      %8.3f %11.3e %11.3e" unrounded.
#pragma once

#include <string>

#include "settings/library.h"
#include "spectrum/dates.h"

namespace kestrim {

class Platform;
struct Paths;

// The listing text of the library buffer, dated `now`.
std::string library_listing(const NuclideLibrary& lib, const DateTime& now);

// The file name the listing dialog suggests: the title with its extension
// (from the last '.') replaced by ".txt".
std::string listing_file_name(const std::string& title);

// Asks for a ".txt" file ("Save Library as Text", filter "Text files
// (*.txt)"; ".txt" added when the chosen name has no '.') and writes the
// listing there. Returns 1, or 0 when cancelled or after "Error writing %s".
int list_library_to_file(Platform& ui, const Paths& paths, const NuclideLibrary& lib);

}  // namespace kestrim
