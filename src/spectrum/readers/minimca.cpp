// GBS MiniMCA (MCA166 / MCA527) ".spe" text spectra (type 14), in the IAEA
// SPE block form (GBS MCA166 manual, appendix 1):
//   block        data lines
//   $SPEC_REM:   remarks; the first line is the title
//   $SPEC_ID:    identification line (title in ORTEC-written files)
//   $DATE_MEA:   start "mm/dd/yyyy hh:mm:ss" (see parse_spe_date)
//   $MEAS_TIM:   "live real", seconds
//   $DATA:       "first last" channel, then last - first + 1 counts
//   $MCA_CAL:    number of coefficients, then c0 c1 c2 [unit]
//   $ENER_FIT:   "offset slope"
// Other blocks are ignored.
#include "platform/platform.h"
#include "spectrum/readers/readers.h"
#include "spectrum/readers/spe_blocks.h"

namespace kestrim::readers {

int probe_minimca(const Bytes& b) { return probe_by_reading(read_minimca, b); }

int read_minimca(const Bytes& b, SpectrumRecord& rec, const ReaderOptions& options, Platform& ui) {
  int channels = 0;
  bool title = false;
  for (const SpeBlock& block : spe_blocks(b)) read_standard_spe_block(block, rec, options, channels, title);
  if (channels <= 0) {
    warn(ui, "Did not find channel data");
    return -1;
  }
  set_channel_count(rec, channels);
  return 1;
}

}  // namespace kestrim::readers
