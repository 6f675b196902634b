// Hand-made spectrum files for the reader tests and the fuzz seeds, built
// field by field from the documented offsets of each format (the same
// tables that open the readers' source files). Counts are channel i -> 10 i
// + 1 unless a test overrides them.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/binio.h"
#include "spectrum/readers/reader_support.h"

namespace kestrim::test {

using Bytes = std::vector<std::uint8_t>;

// A growable little-endian byte image.
struct Image {
  Bytes b;
  explicit Image(std::size_t n = 0) : b(n, 0) {}
  void fit(std::size_t end) {
    if (b.size() < end) b.resize(end, 0);
  }
  Image& i16(std::size_t at, int v) { fit(at + 2); bin::put_i16(&b[at], static_cast<std::int16_t>(v)); return *this; }
  Image& i32(std::size_t at, std::int32_t v) { fit(at + 4); bin::put_i32(&b[at], v); return *this; }
  Image& u32(std::size_t at, std::uint32_t v) { fit(at + 4); bin::put_u32(&b[at], v); return *this; }
  Image& u64(std::size_t at, std::uint64_t v) { u32(at, static_cast<std::uint32_t>(v)); return u32(at + 4, static_cast<std::uint32_t>(v >> 32)); }
  Image& f32(std::size_t at, float v) { fit(at + 4); bin::put_f32(&b[at], v); return *this; }
  Image& f64(std::size_t at, double v) { fit(at + 8); bin::put_f64(&b[at], v); return *this; }
  Image& dec(std::size_t at, double v) { fit(at + 4); readers::put_dec_float(&b[at], v); return *this; }
  Image& text(std::size_t at, std::string_view s) { fit(at + s.size()); std::memcpy(&b[at], s.data(), s.size()); return *this; }
  Image& u8(std::size_t at, int v) { fit(at + 1); b[at] = static_cast<std::uint8_t>(v); return *this; }
  // n 32-bit counts (integers or reals) at `at`, padded to whole 1024-byte records.
  Image& counts(std::size_t at, int n, bool real = false) {
    std::size_t records = (static_cast<std::size_t>(n) + 255) / 256;
    fit(at + records * 1024);
    for (int i = 0; i < n; ++i) {
      if (real) bin::put_f32(&b[at + 4 * i], static_cast<float>(10 * i + 1) + 0.5f);
      else bin::put_i32(&b[at + 4 * i], 10 * i + 1);
    }
    return *this;
  }
};

inline double expected_count(int channel) { return 10.0 * channel + 1; }

// ---- Ortec CHN: 32-byte header, counts, 512-byte trailer.
struct ChnSpec {
  int channels = 256;
  std::int32_t true_ticks = 15000;  // 300 s
  std::int32_t live_ticks = 14950;  // 299 s
  const char* date = "26MAR181";
  const char* time = "1234";
  int trailer = -102;  // 0 = none
  float energy[3] = {-1.5f, 0.5f, 1e-6f};
  float fwhm[3] = {2.0f, 0.01f, 0.0f};
  std::string detector = "DET 7 NaI";
  std::string sample = "Soil 12";
};
inline Bytes make_chn(const ChnSpec& s) {
  Image im(32);
  im.i16(0, -1).i16(2, 3).i16(4, 1).text(6, "56").i32(8, s.true_ticks).i32(12, s.live_ticks);
  im.text(16, s.date).text(24, s.time).i16(28, 0).i16(30, s.channels);
  im.counts(32, s.channels);
  if (s.trailer != 0) {
    std::size_t t = im.b.size();
    im.fit(t + 512);
    im.i16(t, s.trailer);
    for (int k = 0; k < 3; ++k) im.f32(t + 4 + 4 * k, s.energy[k]).f32(t + 16 + 4 * k, s.fwhm[k]);
    im.u8(t + 256, static_cast<int>(s.detector.size())).text(t + 257, s.detector);
    im.u8(t + 320, static_cast<int>(s.sample.size())).text(t + 321, s.sample);
  }
  return im.b;
}

// ---- Ortec SPC: 128-byte records. 1 header, 2 acquisition, 3 sample,
// 4 detector, 5 calibration, 6.. data.
struct SpcSpec {
  int file_type = 1;  // 1 integer, 5 real counts
  int channels = 512;
  float true_time = 905.42f, live_time = 900.0f;
  const char* date = "17-SEP-121";
  const char* time = "13:41:07";
  float energy[3] = {0.5783f, 0.374436f, 2.985859e-7f};
  float fwhm[3] = {1.2f, 0.03f, 0.0f};
};
inline Bytes make_spc(const SpcSpec& s) {
  Image im(5 * 128);
  im.i16(0, 1).i16(2, s.file_type).i16(8, 2).i16(10, 3).i16(12, 4).i16(34, 5).i16(60, 6);
  im.i16(64, s.channels).text(82, "01").f32(90, s.true_time).f32(94, s.live_time);
  im.text(128 + 16, s.date).text(128 + 28, s.time);
  im.text(256, "Alcatraz soil").text(256 + 64, "ID-42");
  im.text(384, "HPGe 40% coax");
  for (int k = 0; k < 3; ++k) im.f32(512 + 20 + 4 * k, s.energy[k]).f32(512 + 32 + 4 * k, s.fwhm[k]);
  im.counts(5 * 128, s.channels > 4096 ? 4096 : s.channels, s.file_type == 5);
  return im.b;
}

// ---- Canberra S100 MCA.
struct S100Spec {
  int channels = 512;
  std::int32_t start = 1522067696;  // 2018-03-26 12:34:56 UTC
  int zone = 60;                    // minutes
  int daylight = 0;
  std::int32_t live = 29950, real = 30000;  // 1/100 s
  int order_byte = 2;                       // order minus one
};
inline Bytes make_s100(const S100Spec& s) {
  Image im(128);
  im.i16(0, 2).i16(2, 4).text(10, "Filter paper 3").i32(38, s.start).i16(44, s.zone).i16(46, s.daylight);
  im.i32(48, s.live).i32(52, s.real).f32(68, 2e-6f).f32(72, 0.75f).f32(76, -3.0f).u8(87, s.order_byte);
  im.i16(126, s.channels).counts(128, s.channels);
  return im.b;
}

// ---- Canberra Spectran (reals).
inline Bytes make_spectran(int channels = 512) {
  Image im(1024);
  im.f32(8, 2).f32(12, 1).f32(16, static_cast<float>(channels)).f32(24, 45296.0f);
  im.f32(28, 26).f32(32, 3).f32(36, 2018).f32(40, 299.5f).f32(44, 300.0f).f32(60, 17).f32(108, 3);
  im.text(124, "Grass sample").text(144, "G-17");
  im.f32(164, 3).f32(168, -2.0f).f32(172, 0.7f).f32(176, 1e-5f);
  im.f32(180, 2).f32(184, 23.55f).f32(188, 0.02355f);
  im.counts(1024, channels, true);
  return im.b;
}

// ---- Aptec.
inline Bytes make_aptec(int channels = 512) {
  Image im(1024);
  im.text(0, "Aptec water").text(42, "W-3");
  im.i16(618, 2).f64(620, -1.0).f64(628, 1.5).f64(636, 2e-5);
  im.i16(700, 1).f64(702, 4.71).f64(710, 0.02355);
  im.i16(790, channels).f32(792, 1000.0f).f32(796, 990.0f);
  im.counts(1024, channels);
  return im.b;
}

// ---- Oxford Instruments .spm.
inline Bytes make_oxford(int channels = 512) {
  Image im(512);
  im.i32(48, 2).f32(52, -4.0f).f32(56, 2.5f);
  im.i32(80, 2).f32(84, 47.1f).f32(88, 0.0471f);
  im.i16(266, channels).text(284, "Oxford air filter").text(332, "AF-9");
  im.u32(358, 3600).text(388, "08:15:30").text(401, "05  11  2019");
  im.text(422, "g").f32(426, 12.5f);
  im.counts(512, channels);
  return im.b;
}

// ---- PGT Quantum .ans.
inline Bytes make_pgt(int channels = 512) {
  Image im(1536);
  im.text(2, "PGT rock sample");
  // 1 January 2000 12:00 is day 36525.5 counting 1900 as a leap year (day 0 = 1 Jan 1900).
  im.f64(80, 36525.5).f64(88, 36526.25).f64(96, 1200.0).f64(104, 1100.0);
  im.i16(254, channels).counts(1536, channels);
  return im.b;
}

// ---- Laboratory Iquipment .dat.
inline Bytes make_iquipment(int channels = 1024) {
  Image im(1024);
  im.text(0, "Iquip milk").text(32, "05-Nov-19").text(41, "14:30");
  im.i16(54, channels).f32(64, 1e-5f).f32(68, 1.25f).f32(72, -2.0f);
  im.counts(1024, channels);
  return im.b;
}

// ---- Canberra CNF: directory at 112, blocks at 0x800 (acquisition),
// 0x1000 (sample), 0x1800 (efficiency), 0x2800 (channel data).
struct CnfSpec {
  std::uint32_t channels = 1024;
  bool acquisition = true, sample = true, efficiency = true, channel_data = true;
  std::uint16_t r = 0x2EA, t = 0x1FB;
  // 2018-03-26 12:34:56 as CAM ticks; times bit-inverted 100 ns.
  std::uint64_t start = 0x00B2A8874F5C5800ULL;
  std::uint64_t real = ~static_cast<std::uint64_t>(3000000000ULL);  // 300 s
  std::uint64_t live = ~static_cast<std::uint64_t>(2995000000ULL);  // 299.5 s
  double energy[3] = {-10.0, 3.0, 6.4e-5};
  double fwhm[2] = {-5.0, 1.9};
  int efficiency_points = 5;
  int zero_efficiency_at = -1;  // point index given efficiency 0
  std::string detector = "DET12";
};
inline Bytes make_cnf(const CnfSpec& s) {
  const std::size_t acq = 0x800, samp = 0x1000, geom = 0x1800, spec = 0x2800;
  Image im(acq);
  int entry = 0;
  auto add = [&](int kind, std::size_t offset) {
    std::size_t e = 112 + 48 * static_cast<std::size_t>(entry++);
    im.u8(e, kind).u8(e + 1, 32).u8(e + 2, 1).u32(e + 10, static_cast<std::uint32_t>(offset));
    im.u8(offset, kind).u8(offset + 1, 32).u8(offset + 2, 1).i16(offset + 16, 48);
  };
  if (s.acquisition) {
    add(0, acq);
    im.i16(acq + 34, s.r).i16(acq + 36, s.t).text(acq + 176, "PHA ").u32(acq + 185, s.channels);
    std::size_t tb = acq + 48 + s.t, rb = acq + 48 + s.r;
    im.u8(tb, 1).u64(tb + 1, s.start).u64(tb + 9, s.real).u64(tb + 17, s.live);
    for (int k = 0; k < 3; ++k) im.dec(rb + 68 + 4 * k, s.energy[k]);
    im.dec(rb + 220, s.fwhm[0]).dec(rb + 224, s.fwhm[1]);
    im.dec(rb + 354, 0.3).dec(rb + 358, 0.006);
    im.text(rb + 264, s.detector);
    im.fit(rb + 512);
  }
  if (s.sample) {
    add(1, samp);
    std::size_t d = samp + 48;
    im.text(d, "Beach sand").text(d + 64, "S-2014-1").text(d + 128, "Soil").dec(d + 144, 0.25).text(d + 148, "kg");
    im.u64(d + 180, 0x00B2A8874F5C5800ULL - 864000000000ULL);  // one day before the start
    im.fit(samp + 0x800);
  }
  if (s.efficiency) {
    add(2, geom);
    const std::uint16_t r = 32, first = 0x4B2, size = 33;
    im.i16(geom + 34, r).i16(geom + 40, first).i16(geom + 42, size).text(geom + 90, "Marinelli 1L");
    im.text(geom + r + 222, "EMPIRICAL");
    for (int i = 0; i < s.efficiency_points; ++i) {
      std::size_t p = geom + 48 + r + first + static_cast<std::size_t>(i) * size;
      double eff = i == s.zero_efficiency_at ? 0.0 : 0.01 / (1 + i);
      im.u8(p, 1).dec(p + 1, 50.0 * (i + 1)).dec(p + 5, eff).dec(p + 9, eff * 0.05);
    }
    im.fit(geom + 0x1000);
  }
  if (s.channel_data) {
    add(5, spec);
    im.counts(spec + 512, static_cast<int>(s.channels));
  }
  return im.b;
}

}  // namespace kestrim::test
