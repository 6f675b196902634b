// Helpers shared by the foreign spectrum readers: bounds-checked access to
// the file's bytes, the count records, calibration storage, dates and the
// small text scanners of the keyword formats. Internal to the readers.
#pragma once

#include <array>
#include <vector>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "platform/silent_platform.h"
#include "spectrum/formats.h"
#include "spectrum/spectrum_record.h"

namespace kestrim::readers {

using Bytes = std::vector<std::uint8_t>;

// True when bytes [offset, offset + n) lie inside the file.
inline bool has(const Bytes& b, std::size_t offset, std::size_t n) {
  return offset <= b.size() && n <= b.size() - offset;
}

// Channel count that `read` finds in the file, 0 when it fails: the probe
// of formats whose header holds no fixed channel-count field.
int probe_by_reading(SpectrumReader read, const Bytes& b);

// Shows a reader message with the warning icon (every reader message uses it).
void warn(Platform& ui, const std::string& text);

// The file's energy and width calibrations are taken when the header names
// no detector file, or always when the parameters ask for it.
bool take_file_calibration(const SpectrumRecord& rec, const ReaderOptions& options);

// Channel counts are read in records of 1024 bytes (256 channels); only
// complete records are accepted. Reads ceil(channels / 256) records from
// `offset`, storing at most kMaxChannelsStored values from channel 0.
// Returns false (nothing stored) when the last record is short.
enum class CountKind { kInt32, kFloat32 };
bool read_count_records(const Bytes& b, std::size_t offset, int channels, CountKind kind,
                        SpectrumRecord& rec);

// Sets the header's channel count, cut to the channel array with a warning
// in rec.warnings when the file holds more.
void set_channel_count(SpectrumRecord& rec, long channels);

// Stores an energy calibration (constant, linear, quadratic) with its number
// of terms, dated `when`.
// The quadratic closest (least squares over channels 0 .. channels-1) to an
// energy polynomial of any order: the calibration record holds three terms,
// and dropping a cubic term outright puts the lines of a 1024-channel NaI
// spectrum up to 35 keV off at its top end.
std::array<double, 3> closest_quadratic(const std::vector<double>& coefficients, long channels);

void set_energy_calibration(SpectrumRecord& rec, double c0, double c1, double c2, int terms,
                            const DateTime& when);
// Stores a width calibration given as FWHM coefficients (divided by 2.355,
// the form the width calibration is held in).
void set_width_from_fwhm(SpectrumRecord& rec, double w0, double w1, double w2, int terms);

// "DET" followed by a number sets the header's detector number.
void detector_from_name(SpectrumRecord& rec, std::string_view name);

// Sets both the collected and the sampled date and time.
void set_collected_and_sampled(SpectrumRecord& rec, const DateTime& dt);
// Sets the title (keeps at most 47 characters, trailing blanks removed).
void set_title_text(SpectrumRecord& rec, std::string_view title);

// Month 1-12 from an English three-letter abbreviation (any case), else 0.
int month_from_name(std::string_view name);
// A two-digit year made four-digit: flag '1' = 2000s, '0' = 1900s,
// otherwise years below 70 are taken as 2000s.
int full_year(int year, char flag);
// Calendar date and time of a count of seconds since 1 January 1970
// (proleptic Gregorian, no time zone).
DateTime date_from_unix_seconds(long long seconds);

// Canberra (PDP-11 / VAX "F") single-precision float at p, decoded exactly
// into a double: 0 for a zero exponent.
double dec_float(const std::uint8_t* p);
// Writes x as a DEC float (used by tests and fuzz seeds).
void put_dec_float(std::uint8_t* p, double x);

// Text helpers. Lines split at LF with a trailing CR removed.
std::vector<std::string_view> split_lines(const Bytes& b);
std::string_view trim(std::string_view s);
bool starts_with_ci(std::string_view s, std::string_view prefix);
bool ends_with_ci(std::string_view s, std::string_view suffix);
// Reads a number at the start of s (after blanks), like "%f" / "%ld":
// trailing text is ignored. Locale-independent.
bool scan_double(std::string_view s, double& out);
bool scan_long(std::string_view s, long& out);
// Splits at blanks, tabs and commas.
std::vector<std::string_view> split_fields(std::string_view s);

// The Text File rules (text_spectrum.cpp), also used by Rainbow: from line
// `first`, each line of at least 2 characters gives `per_line` channels
// (a leading extra number is a channel number and is skipped). Returns the
// number of channels read, or -1 after its message.
int read_text_counts(const std::vector<std::string_view>& lines, std::size_t first, int per_line,
                     SpectrumRecord& rec, Platform& ui);

}  // namespace kestrim::readers
