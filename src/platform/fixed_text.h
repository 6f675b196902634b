// Fixed-width text fields held in records exactly as they are stored:
// 8-bit characters, NUL-terminated unless the field is full.
#pragma once

#include <array>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace kestrim {

template <std::size_t N>
using FixedText = std::array<char, N>;

template <std::size_t N>
std::string to_string(const FixedText<N>& t) {
  std::size_t len = 0;
  while (len < N && t[len] != 0) ++len;
  return std::string(t.data(), len);
}

// Stores `s`, cut so that a NUL follows (at most N-1 characters) unless
// `terminated` is false, in which case all N bytes may hold text.
template <std::size_t N>
void assign(FixedText<N>& t, std::string_view s, bool terminated = true) {
  std::size_t max = terminated ? N - 1 : N;
  std::size_t len = s.size() < max ? s.size() : max;
  t.fill(0);
  std::memcpy(t.data(), s.data(), len);
}

}  // namespace kestrim

namespace kestrim {

// Copies a stored field of N bytes into a fixed text, byte for byte, and back.
template <std::size_t N>
void get_fixed(const unsigned char* p, FixedText<N>& t) {
  std::memcpy(t.data(), p, N);
}
template <std::size_t N>
void put_fixed(unsigned char* p, const FixedText<N>& t) {
  std::memcpy(p, t.data(), N);
}

}  // namespace kestrim
