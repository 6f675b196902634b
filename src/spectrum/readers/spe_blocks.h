// The block structure shared by the SPE text spectra (MiniMCA, Exploranium
// and the IAEA/ORTEC files that carry the same ".spe" extension): a line
// "$NAME:" opens a block whose data are the following lines up to the next
// line that starts with "$" (IAEA SPEDAC format as described in the GBS
// MCA166 manual, appendix 1). Keys are compared without their colon and
// case-insensitively; files differ on both.
#pragma once

#include <string_view>
#include <vector>

#include "spectrum/readers/reader_support.h"

namespace kestrim::readers {

struct SpeBlock {
  std::string_view key;                  // "$DATA", without colon or blanks
  std::vector<std::string_view> lines;   // the block's data lines
};

// Splits a file into its "$" blocks; lines before the first key are dropped.
std::vector<SpeBlock> spe_blocks(const Bytes& b);

// The standard blocks: "$SPEC_ID" / "$SPEC_REM" (title), "$DATE_MEA",
// "$MEAS_TIM", "$DATA", "$MCA_CAL", "$ENER_FIT". Returns false when the block
// is not one of them. `channels_read` is set by "$DATA" (-1 when its counts
// are short or malformed).
bool read_standard_spe_block(const SpeBlock& block, SpectrumRecord& rec,
                             const ReaderOptions& options, int& channels_read, bool& have_title);

// "mm/dd/yyyy hh:mm:ss" ("/" month first), "dd.mm.yyyy" ("." day first),
// "yyyy/mm/dd" (four digits first), "dd-mm-yyyy".
bool parse_spe_date(std::string_view text, DateTime& out);

}  // namespace kestrim::readers
