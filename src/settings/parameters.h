// The analysis parameters record: every setting of the current detector,
// stored whole as the body of a Defaults file (2304 bytes). The layout is
// the table in parameter_fields.h; reserved bytes (and the acquisition
// settings kept for the MCA code) are carried in `raw` and written back
// unchanged.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/fixed_text.h"
#include "settings/parameter_fields.h"

namespace kestrim {

inline constexpr int kParametersSize = 2304;
inline constexpr int kChecksumSpan = 2128;  // bytes covered by the checksum
inline constexpr int kPasswordFieldSize = 16;
inline constexpr int kDefaultsFileSize = kParametersSize + 2 * kPasswordFieldSize;

struct AnalysisParameters {
#define KESTRIM_PM_I32(member, size) std::int32_t member = 0;
#define KESTRIM_PM_F32(member, size) float member = 0;
#define KESTRIM_PM_I16(member, size) std::int16_t member = 0;
#define KESTRIM_PM_U8(member, size) std::uint8_t member = 0;
#define KESTRIM_PM_TXT(member, size) FixedText<size> member{};
#define KESTRIM_PM_TXU(member, size) FixedText<size> member{};
#define KESTRIM_PM(kind, member, offset, size, name, desc) KESTRIM_PM_##kind(member, size)
  KESTRIM_PARAMETER_FIELDS(KESTRIM_PM)
#undef KESTRIM_PM
#undef KESTRIM_PM_I32
#undef KESTRIM_PM_F32
#undef KESTRIM_PM_I16
#undef KESTRIM_PM_U8
#undef KESTRIM_PM_TXT
#undef KESTRIM_PM_TXU

  // The whole record as last read or written; the bytes of unlisted offsets
  // are taken from here when the record is written.
  std::array<std::uint8_t, kParametersSize> raw{};

  // Reference spectrum name k (0-9).
  std::string reference_name(int k) const;
  void set_reference_name(int k, const std::string& name);
};

// Record <-> bytes. `decode` keeps the bytes in `raw`; `encode` starts from
// `raw` and writes every listed field over it.
void decode_parameters(const std::uint8_t* bytes, AnalysisParameters& out);
void encode_parameters(const AnalysisParameters& p, std::uint8_t* bytes);

// Sum of (byte & 15) over the first 2128 bytes of the encoded record.
std::int32_t compute_checksum(const std::uint8_t* record_bytes);
std::int32_t compute_checksum(const AnalysisParameters& p);

// A fresh record as the program starts with: zeroed, application "Normal".
AnalysisParameters make_initial_parameters();

// The last channel the peak search covers in a spectrum of `channels`
// channels: STOP, cut to the spectrum's last channel; STOP 0 (or less)
// means the spectrum's last channel.
int search_last_channel(const AnalysisParameters& p, int channels);

// Description of one field of the table, for the text form and reports.
enum class ParamKind { I32, F32, I16, U8, TXT, TXU };
struct ParamField {
  ParamKind kind;
  const char* member;
  int offset;
  int size;
  const char* name;
  const char* description;
};
// All listed fields in offset order.
const ParamField* parameter_fields(int* count);
// The field with this text name (case ignored), or nullptr.
const ParamField* find_parameter_field(const std::string& name);

// Passwords kept with the start-up Defaults file (plain text in memory).
struct Passwords {
  std::string user;
  std::string manager;
};
// Each character stored as its code + 56 (mod 256), zero-padded to 16 bytes.
void scramble_password(const std::string& plain, std::uint8_t* field16);
// 56 subtracted from every byte up to the first zero byte.
std::string unscramble_password(const std::uint8_t* field16);

}  // namespace kestrim
