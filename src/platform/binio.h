// Little-endian field access for the fixed-layout binary records.
//
// Every record Kestrim stores is read and written field by field at its
// documented offset through these helpers; no packed struct is ever cast
// onto file bytes, so the layout does not depend on the compiler or host.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace kestrim::bin {

inline std::uint16_t get_u16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::int16_t get_i16(const std::uint8_t* p) {
  return static_cast<std::int16_t>(get_u16(p));
}
inline std::uint32_t get_u32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::int32_t get_i32(const std::uint8_t* p) {
  return static_cast<std::int32_t>(get_u32(p));
}
inline float get_f32(const std::uint8_t* p) {
  std::uint32_t u = get_u32(p);
  float f;
  std::memcpy(&f, &u, sizeof f);
  return f;
}
inline double get_f64(const std::uint8_t* p) {
  std::uint64_t u = static_cast<std::uint64_t>(get_u32(p)) |
                    (static_cast<std::uint64_t>(get_u32(p + 4)) << 32);
  double d;
  std::memcpy(&d, &u, sizeof d);
  return d;
}

inline void put_u16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v & 0xff);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void put_i16(std::uint8_t* p, std::int16_t v) { put_u16(p, static_cast<std::uint16_t>(v)); }
inline void put_u32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v & 0xff);
  p[1] = static_cast<std::uint8_t>((v >> 8) & 0xff);
  p[2] = static_cast<std::uint8_t>((v >> 16) & 0xff);
  p[3] = static_cast<std::uint8_t>(v >> 24);
}
inline void put_i32(std::uint8_t* p, std::int32_t v) { put_u32(p, static_cast<std::uint32_t>(v)); }
inline void put_f32(std::uint8_t* p, float f) {
  std::uint32_t u;
  std::memcpy(&u, &f, sizeof u);
  put_u32(p, u);
}
inline void put_f64(std::uint8_t* p, double d) {
  std::uint64_t u;
  std::memcpy(&u, &d, sizeof u);
  put_u32(p, static_cast<std::uint32_t>(u & 0xffffffffu));
  put_u32(p + 4, static_cast<std::uint32_t>(u >> 32));
}

// A fixed-width 8-bit text field: the text up to the first NUL, or all `n`
// bytes when none is present (some fields, such as units, use all four).
inline std::string get_text(const std::uint8_t* p, std::size_t n) {
  std::size_t len = 0;
  while (len < n && p[len] != 0) ++len;
  return std::string(reinterpret_cast<const char*>(p), len);
}

// Writes `s` into an n-byte field, zero-filling the rest. With `terminated`
// the text is cut to n-1 characters so that a NUL always follows.
inline void put_text(std::uint8_t* p, std::size_t n, std::string_view s, bool terminated = true) {
  std::size_t max = terminated ? n - 1 : n;
  std::size_t len = s.size() < max ? s.size() : max;
  std::memset(p, 0, n);
  std::memcpy(p, s.data(), len);
}

}  // namespace kestrim::bin
