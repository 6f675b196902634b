// The foreign-format readers and their directory-listing probes.
// See formats.h for the contract every reader keeps: a reader fills the
// record from the whole file's bytes (file channel i in counts[i]) and
// returns >= 0, or shows its message and returns a negative number. A probe
// returns the channel count, or 0 when the file is not of that format.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "spectrum/formats.h"

namespace kestrim::readers {

#define KESTRIM_READER(name)                                                              \
  int read_##name(const std::vector<std::uint8_t>& bytes, SpectrumRecord& rec,           \
                  const ReaderOptions& options, Platform& ui);                            \
  int probe_##name(const std::vector<std::uint8_t>& bytes);

KESTRIM_READER(spectran)     // type 1, spectran.cpp
KESTRIM_READER(s100)         // type 2, s100.cpp
KESTRIM_READER(chn)          // type 3, chn.cpp
KESTRIM_READER(ortec_spc)    // type 4, ortec_spc.cpp
// type 5 (text_spectrum.cpp) has no probe: text files are never listed.
int read_text(const std::vector<std::uint8_t>& bytes, SpectrumRecord& rec, const ReaderOptions& options,
              Platform& ui);
KESTRIM_READER(cnf)          // type 6, cnf.cpp
KESTRIM_READER(aptec)        // type 7, aptec.cpp
KESTRIM_READER(oxford)       // type 8, oxford.cpp
KESTRIM_READER(rainbow)      // type 9, rainbow.cpp
KESTRIM_READER(pgt)          // type 10, pgt.cpp
KESTRIM_READER(iquipment)    // type 11, iquipment.cpp
KESTRIM_READER(fieldspec)    // type 12, fieldspec.cpp
KESTRIM_READER(exploranium)  // type 13, exploranium.cpp
KESTRIM_READER(minimca)      // type 14, minimca.cpp
KESTRIM_READER(n42)          // type 15, n42.cpp
KESTRIM_READER(tka)          // type 17, tka.cpp

// How many adjacent channels the TKA reader sums into one so that a file of
// `channels` lines fits the channels in use: 1, 2, 4, ...
int tka_compression(int channels);

#undef KESTRIM_READER

// The type to read a file as: the format its content plainly belongs to
// (see detect.cpp for the signatures), else `type_from_extension`.
int detect_spectrum_type(const std::vector<std::uint8_t>& bytes, int type_from_extension);

// N42 value forms: xs:duration in seconds ("PT5M0.5S" = 300.5; a plain
// number is taken as seconds; 0 when unreadable), and xs:dateTime.
double n42_duration(std::string_view text);
bool n42_date_time(std::string_view text, DateTime& out);

}  // namespace kestrim::readers
