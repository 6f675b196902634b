#include "settings/parameters.h"

#include <cstring>

#include "platform/binio.h"
#include "platform/files.h"

namespace kestrim {

namespace {

const ParamField kFields[] = {
#define KESTRIM_PF(kind, member, offset, size, name, desc) \
  {ParamKind::kind, #member, offset, size, name, desc},
    KESTRIM_PARAMETER_FIELDS(KESTRIM_PF)
#undef KESTRIM_PF
};


}  // namespace

const ParamField* parameter_fields(int* count) {
  if (count) *count = static_cast<int>(sizeof kFields / sizeof kFields[0]);
  return kFields;
}

const ParamField* find_parameter_field(const std::string& name) {
  for (const ParamField& f : kFields)
    if (iequals(f.name, name)) return &f;
  return nullptr;
}

void decode_parameters(const std::uint8_t* b, AnalysisParameters& p) {
  std::memcpy(p.raw.data(), b, kParametersSize);
#define KESTRIM_RD_I32(m, off) p.m = bin::get_i32(b + off);
#define KESTRIM_RD_F32(m, off) p.m = bin::get_f32(b + off);
#define KESTRIM_RD_I16(m, off) p.m = bin::get_i16(b + off);
#define KESTRIM_RD_U8(m, off) p.m = b[off];
#define KESTRIM_RD_TXT(m, off) get_fixed(b + off, p.m);
#define KESTRIM_RD_TXU(m, off) get_fixed(b + off, p.m);
#define KESTRIM_RD(kind, member, offset, size, name, desc) KESTRIM_RD_##kind(member, offset)
  KESTRIM_PARAMETER_FIELDS(KESTRIM_RD)
#undef KESTRIM_RD
}

void encode_parameters(const AnalysisParameters& p, std::uint8_t* b) {
  std::memcpy(b, p.raw.data(), kParametersSize);
#define KESTRIM_WR_I32(m, off) bin::put_i32(b + off, p.m);
#define KESTRIM_WR_F32(m, off) bin::put_f32(b + off, p.m);
#define KESTRIM_WR_I16(m, off) bin::put_i16(b + off, p.m);
#define KESTRIM_WR_U8(m, off) b[off] = p.m;
#define KESTRIM_WR_TXT(m, off) put_fixed(b + off, p.m);
#define KESTRIM_WR_TXU(m, off) put_fixed(b + off, p.m);
#define KESTRIM_WR(kind, member, offset, size, name, desc) KESTRIM_WR_##kind(member, offset)
  KESTRIM_PARAMETER_FIELDS(KESTRIM_WR)
#undef KESTRIM_WR
}

std::int32_t compute_checksum(const std::uint8_t* record_bytes) {
  std::int32_t sum = 0;
  for (int i = 0; i < kChecksumSpan; ++i) sum += record_bytes[i] & 15;
  return sum;
}

std::int32_t compute_checksum(const AnalysisParameters& p) {
  std::array<std::uint8_t, kParametersSize> bytes;
  encode_parameters(p, bytes.data());
  return compute_checksum(bytes.data());
}

AnalysisParameters make_initial_parameters() {
  AnalysisParameters p;
  assign(p.application_name, "Normal");
  return p;
}

std::string AnalysisParameters::reference_name(int k) const {
  switch (k) {
    case 0: return to_string(reference_1);
    case 1: return to_string(reference_2);
    case 2: return to_string(reference_3);
    case 3: return to_string(reference_4);
    case 4: return to_string(reference_5);
    case 5: return to_string(reference_6);
    case 6: return to_string(reference_7);
    case 7: return to_string(reference_8);
    case 8: return to_string(reference_9);
    case 9: return to_string(reference_10);
    default: return {};
  }
}

void AnalysisParameters::set_reference_name(int k, const std::string& name) {
  switch (k) {
    case 0: assign(reference_1, name); break;
    case 1: assign(reference_2, name); break;
    case 2: assign(reference_3, name); break;
    case 3: assign(reference_4, name); break;
    case 4: assign(reference_5, name); break;
    case 5: assign(reference_6, name); break;
    case 6: assign(reference_7, name); break;
    case 7: assign(reference_8, name); break;
    case 8: assign(reference_9, name); break;
    case 9: assign(reference_10, name); break;
    default: break;
  }
}

void scramble_password(const std::string& plain, std::uint8_t* field) {
  std::memset(field, 0, kPasswordFieldSize);
  std::size_t n = plain.size() < 15 ? plain.size() : 15;
  for (std::size_t i = 0; i < n; ++i)
    field[i] = static_cast<std::uint8_t>((static_cast<unsigned char>(plain[i]) + 56) & 0xff);
}

std::string unscramble_password(const std::uint8_t* field) {
  std::string out;
  for (int i = 0; i < kPasswordFieldSize && field[i] != 0; ++i)
    out += static_cast<char>((field[i] - 56) & 0xff);
  return out;
}

}  // namespace kestrim

namespace kestrim {

int search_last_channel(const AnalysisParameters& p, int channels) {
  const int last = channels > 0 ? channels - 1 : 0;
  const double stop = p.search_stop;
  if (!(stop > 0) || !(stop < last)) return last;
  return static_cast<int>(stop);
}

}  // namespace kestrim
