// Builds library file bytes field by field from the documented layout, so
// the tests do not share the reader's or writer's offsets.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/binio.h"

namespace kestrim::test {

struct LibraryBytes {
  std::vector<std::uint8_t> b;

  LibraryBytes& text(const std::string& s, std::size_t width) {
    std::size_t at = b.size();
    b.resize(at + width, 0);
    std::memcpy(b.data() + at, s.data(), s.size() < width ? s.size() : width);
    return *this;
  }
  LibraryBytes& f32(float v) {
    std::size_t at = b.size();
    b.resize(at + 4);
    bin::put_f32(b.data() + at, v);
    return *this;
  }
  LibraryBytes& i16(int v) {
    std::size_t at = b.size();
    b.resize(at + 2);
    bin::put_i16(b.data() + at, static_cast<std::int16_t>(v));
    return *this;
  }
  LibraryBytes& byte(std::uint8_t v) {
    b.push_back(v);
    return *this;
  }
  LibraryBytes& fill(std::uint8_t v, std::size_t n) {
    b.insert(b.end(), n, v);
    return *this;
  }
  LibraryBytes& marker(const char* m) { return text(m, 8); }
  // One nuclide of the "FFFFFFFE" layout without its lines.
  LibraryBytes& nuclide(const std::string& name, const std::string& description,
                        const std::string& source, float half_life, int lines, char unit,
                        float principal) {
    text(name, 8).text(description, 48).text(source, 30).f32(half_life).i16(lines);
    byte(static_cast<std::uint8_t>(unit)).byte(0x09).f32(principal).f32(0);
    return *this;
  }
  LibraryBytes& line(float energy, float yield, float uncertainty) {
    return f32(energy).f32(yield).f32(uncertainty);
  }
  LibraryBytes& end() {
    for (std::uint8_t v : {0x09, 0x09, 0x00, 0x46, 0x46, 0x46, 0x46, 0x45}) byte(v);
    return *this;
  }
};

}  // namespace kestrim::test
