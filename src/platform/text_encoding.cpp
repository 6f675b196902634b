#include "platform/text_encoding.h"

#include <cstdint>

namespace kestrim {

namespace {

// Code points of Windows-1252 bytes 0x80-0x9F (0 where the code page has
// none; those bytes map to the C1 control of the same value).
constexpr std::uint16_t kHigh[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void append_code_point(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Length of the well-formed UTF-8 sequence at `i` and its code point, or 0.
std::size_t utf8_sequence(std::string_view s, std::size_t i, std::uint32_t& cp) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char c = b(i);
  if (c < 0x80) {
    cp = c;
    return 1;
  }
  std::size_t n;
  std::uint32_t min;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2, cp = c & 0x1F, min = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3, cp = c & 0x0F, min = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4, cp = c & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(i + k) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

}  // namespace

bool is_valid_utf8(std::string_view text) {
  std::uint32_t cp;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t n = utf8_sequence(text, i, cp);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string windows1252_to_utf8(unsigned char byte) {
  std::string out;
  std::uint32_t cp = byte;
  if (byte >= 0x80 && byte < 0xA0 && kHigh[byte - 0x80] != 0) cp = kHigh[byte - 0x80];
  append_code_point(out, cp);
  return out;
}

std::string text_as_utf8(std::string_view text) {
  if (is_valid_utf8(text)) return std::string(text);
  // Well-formed sequences stay as they are (a UTF-8 title beside a legacy
  // marker byte); every other byte is a Windows-1252 character.
  std::string out;
  out.reserve(text.size() * 2);
  std::uint32_t cp;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t n = utf8_sequence(text, i, cp);
    if (n == 0) {
      out += windows1252_to_utf8(static_cast<unsigned char>(text[i]));
      ++i;
    } else {
      out.append(text.substr(i, n));
      i += n;
    }
  }
  return out;
}

std::string utf8_to_windows1252(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::uint32_t cp;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t n = utf8_sequence(text, i, cp);
    if (n <= 1) {
      out += text[i];
      ++i;
      continue;
    }
    int byte = -1;
    if (cp >= 0xA0 && cp <= 0xFF) byte = static_cast<int>(cp);
    for (int k = 0; k < 32 && byte < 0; ++k)
      if (kHigh[k] == cp) byte = 0x80 + k;
    if (byte < 0) {
      out.append(text.substr(i, n));
    } else {
      out += static_cast<char>(byte);
    }
    i += n;
  }
  return out;
}

}  // namespace kestrim
