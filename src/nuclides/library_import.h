// Import of the nuclide listings other gamma programs print, into the
// library buffer.
//
// The listing is read line by line: a line ends at a CR (an LF after it is
// skipped), at a lone LF, or after 120 characters. Columns are counted
// from 1. Each parser's layout:
//
//   Spectran (*.WRI): a line with '-' in column 3 or 4 starts a nuclide; its
//     name is the 7 characters from column 2 and a blank. The next line holds
//     the half-life in minutes ("%f"); one line is skipped; then each line
//     "%f %f" is a line's energy and yield as a fraction, until a line
//     shorter than 3 characters, after which one more byte is skipped.
//   Omnigam (*.LIS): a line with '-' in column 3 or 4 starts a nuclide; name
//     = the 8 characters from column 2; half-life = "%f" of the 10 characters
//     after the first '=', unit = the character after the first blank that
//     follows the '='. From the first line containing "energy" (lines taken
//     lower-case) each line of 1 to 34 characters is "%f %f": energy, yield
//     in %. The next nuclide's start ends the nuclide.
//   Gammavision (*.TXT): a line with '-' in its first 10 characters starts a
//     nuclide: tokens name, half-life, unit (first character of the third
//     token). Lines of 1 to 26 characters (lower-case, cut at a '%') with
//     "kev" give the energy (the number before "kev") and the yield in % (the
//     number 4 characters after the start of "kev"). Any line with '-' ends
//     the nuclide.
//   Genie (*.LIS): a line containing "nuclide name" starts a nuclide (fourth
//     token = name); "HALFLIFE" lines give the value (third token) and unit
//     (first character of the fourth); after a "subheader" line (fifth token =
//     description, data source a blank) the "ENERGY", "ABUNDANCE" (in %) and
//     "ABNERR" (in %) lines give a line's numbers, each read at column 56; the
//     "ABNERR" line completes the line when the energy is above 0. A line
//     containing "-----" ends the nuclide. Keywords are matched ignoring case.
//
// For every parser: at most 398 nuclides; lines of a nuclide are kept in
// ascending energy (a new line goes before the first line of strictly higher
// energy), lines with an energy not above 0 are ignored, and the import ends
// after a nuclide that reached 199 lines.
#pragma once

#include <string>
#include <string_view>

#include "settings/library.h"

namespace kestrim {

class Platform;
struct Paths;

enum class ListingKind { kSpectran, kOmnigam, kGammavision, kGenie };

inline constexpr int kImportMaxNuclides = 398;
inline constexpr int kImportMaxNuclideLines = 199;

// Parses `text` and appends its nuclides to `lib` (which the caller cleared).
// Returns the number of nuclides read; shows kLibraryTooBig when the listing
// did not fit (the nuclides read so far stay).
int parse_listing(Platform& ui, ListingKind kind, std::string_view text, NuclideLibrary& lib);

// The whole import: asks "Do you want to continue ?" when the nuclide
// clipboard holds nuclides (No ends it), moves the buffer's nuclides to the
// clipboard, parses the listing at `path`, gives each imported nuclide the
// description of the first clipboard nuclide of the same name (padded to 8,
// ignoring case), empties the clipboard, names the library after the listing
// with the extension ".lib" and marks it modified. Returns 1, or 0 when
// declined or after "Error %d opening %s".
int import_listing(Platform& ui, NuclideLibrary& lib, const std::string& path, ListingKind kind);

// Asks for the listing ("Import Library Listing Text File", filters Spectran,
// Omnigam, Gammavision, Genie; the chosen filter picks the parser) and imports it.
int import_listing_dialog(Platform& ui, const Paths& paths, NuclideLibrary& lib);

}  // namespace kestrim
