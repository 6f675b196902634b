// Choosing a reader by content. Several formats share an extension (".spc":
// Spectran, Ortec SPC, Rainbow, Fieldspec; ".spe": Exploranium, MiniMCA;
// ".dat": native, Laboratory Iquipment), and files travel under the wrong
// one (a binary CHN saved as ".Spe" is among the public samples). The
// signatures used, each certain for its format:
//   Ortec CHN     int16 -1 at 0 and a 32-byte header
//   Ortec SPC     int16 1 at 0 and 1 or 5 at 2, a 128-byte first record
//   Canberra CNF  first directory entry at 112 with bytes 113/114 = 32, 1
//   ANSI N42      XML whose root is N42InstrumentData or RadInstrumentData
//   SPE text      a first line beginning "$"; German identifier keys
//                 (*_Steigung, FWHM_Energie*) make it Exploranium
//   Rainbow       a "Length:" line and a "Lifetime:" or "CalibCoeff:" line
//   Fieldspec     a "SpectrumName" or "Livetime:" keyword line
// Anything else keeps the type its extension gave. A ".dat" file laid out
// as a native spectrum (data type 2 or 4, a channel count and all its
// channel blocks present) stays native whatever its title starts with: a
// title beginning "$" or with the bytes FF FF is no other format.
#include <cctype>

#include "platform/binio.h"
#include "spectrum/native_file.h"
#include "spectrum/readers/reader_support.h"
#include "spectrum/readers/readers.h"

namespace kestrim::readers {

namespace {
std::string_view head_text(const Bytes& b, std::size_t n) {
  std::string_view all(reinterpret_cast<const char*>(b.data()), b.size());
  return all.substr(0, std::min(n, all.size()));
}

bool has_line_starting(const Bytes& b, std::string_view key) {
  for (std::string_view line : split_lines(b))
    if (starts_with_ci(trim(line), key)) return true;
  return false;
}
bool native_layout(const Bytes& b) {
  const int channels = probe_native(b);
  if (channels <= 0) return false;
  const int data_type = bin::get_i16(b.data() + header_offset::kDataType);
  const std::size_t block = data_type == 2 ? 512 : 1024;
  const std::size_t blocks = static_cast<std::size_t>(channels) / 256;
  return blocks > 0 && b.size() >= static_cast<std::size_t>(kNativeChannelOffset) + blocks * block;
}
}  // namespace

int detect_spectrum_type(const Bytes& b, int type_from_extension) {
  if (type_from_extension == 0 && native_layout(b)) return 0;
  if (has(b, 0, 32) && bin::get_i16(b.data()) == -1) return 3;
  if (has(b, 0, 128) && bin::get_i16(b.data()) == 1) {
    int t = bin::get_i16(b.data() + 2);
    if (t == 1 || t == 5) return 4;
  }
  if (has(b, 112, 48) && b[113] == 32 && b[114] == 1) return 6;

  std::string_view head = trim(head_text(b, 4096));
  if (head.substr(0, 3) == "\xEF\xBB\xBF") head = trim(head.substr(3));
  if (!head.empty() && head.front() == '<') {
    if (head_text(b, 8192).find("N42InstrumentData") != std::string_view::npos ||
        head_text(b, 8192).find("RadInstrumentData") != std::string_view::npos)
      return 15;
    return type_from_extension;
  }
  if (!head.empty() && head.front() == '$') {
    std::string_view all(reinterpret_cast<const char*>(b.data()), b.size());
    if (all.find("_Steigung") != std::string_view::npos || all.find("FWHM_Energie") != std::string_view::npos)
      return 13;
    return 14;
  }
  if (type_from_extension == 1 || type_from_extension == 9 || type_from_extension == 12) {
    if (has_line_starting(b, "Length") &&
        (has_line_starting(b, "Lifetime") || has_line_starting(b, "CalibCoeff")))
      return 9;
    if (has_line_starting(b, "SpectrumName") || has_line_starting(b, "Livetime")) return 12;
  }
  return type_from_extension;
}

}  // namespace kestrim::readers
