// The ".rsd" reference spectrum file: hand-made bytes decode field by
// field, and what the writer makes reads back.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "platform/binio.h"
#include "platform/scripted_platform.h"
#include "reference/reference_file.h"
#include "spectrum/native_file.h"
#include "spectrum/spectrum_record.h"
#include "support/test_support.h"

namespace kestrim {
namespace {

// A file of 512 channels written by hand at the documented offsets.
std::vector<std::uint8_t> hand_made(int data_type) {
  const int channels = 512;
  const std::size_t record = data_type == 2 ? 512 : 1024;
  std::vector<std::uint8_t> b(1024 + record * 2, 0);
  bin::put_i16(&b[124], channels);
  bin::put_f32(&b[134], 1234.5f);  // activity, Bq
  bin::put_i16(&b[148], static_cast<std::int16_t>(data_type));
  bin::put_f32(&b[150], 600.0f);   // live time
  bin::put_f32(&b[182], 4.5f);     // uncertainty, %
  std::memcpy(&b[234], "Cs-137 ref", 10);
  bin::put_f32(&b[256 + 4], 3.0f);  // calibration record: first energy coefficients
  for (int ch = 0; ch < channels; ++ch) {
    if (data_type == 2)
      bin::put_u16(&b[1024 + 2 * ch], static_cast<std::uint16_t>(ch * 100 + 7));
    else
      bin::put_f32(&b[1024 + 4 * ch], static_cast<float>(ch * 100 + 7) + 0.9f);
  }
  return b;
}

TEST(ReferenceFile, HandMadeBytesDecodeFieldByField) {
  for (int type : {2, 4}) {
    ReferenceSpectrum ref;
    std::string problem;
    ASSERT_EQ(decode_reference(hand_made(type), ref, problem), 1) << problem;
    EXPECT_EQ(ref.channels, 512);
    EXPECT_EQ(ref.activity_bq, 1234.5);
    EXPECT_EQ(ref.live_time, 600.0);
    EXPECT_EQ(ref.activity_uncertainty_pct, 4.5);
    EXPECT_EQ(ref.title, "Cs-137 ref");
    ASSERT_EQ(ref.counts.size(), 512u);
    // Channels 0 and 1 hold times in a spectrum, never counts; reals are
    // truncated to whole counts.
    EXPECT_EQ(ref.counts[0], 0);
    EXPECT_EQ(ref.counts[1], 0);
    for (int ch = 2; ch < 512; ++ch) ASSERT_EQ(ref.counts[ch], ch * 100 + 7) << "type " << type << " ch " << ch;
    EXPECT_EQ(ref.gain, 1.0);
  }
}

TEST(ReferenceFile, ShortFilesAreRefusedWithTheirReason) {
  ReferenceSpectrum ref;
  std::string problem;
  std::vector<std::uint8_t> b = hand_made(2);
  b.pop_back();  // the last record is one byte short
  EXPECT_EQ(decode_reference(b, ref, problem), 0);
  EXPECT_EQ(problem, "the last record of counts is short");
  b.resize(1000);
  EXPECT_EQ(decode_reference(b, ref, problem), 0);
  EXPECT_EQ(problem, "the file is shorter than its 1024-byte header");
  b = hand_made(2);
  bin::put_i16(&b[124], -5);
  EXPECT_EQ(decode_reference(b, ref, problem), 0);
  EXPECT_EQ(problem, "the number of channels (-5) is impossible");

  test::TempDir dir;
  std::vector<std::uint8_t> shortened = hand_made(4);
  shortened.resize(shortened.size() - 4);
  test::write_bytes(dir.file("short.rsd"), shortened);
  ScriptedPlatform ui;
  EXPECT_EQ(read_reference_file(dir.file("short.rsd"), ref, ui), 0);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Error Reading Reference data file " + dir.file("short.rsd") +
                                     " (the last record of counts is short)");
  EXPECT_EQ(read_reference_file(dir.file("none.rsd"), ref, ui), 0);
  EXPECT_EQ(ui.messages.back().text, "Error Opening file:- " + dir.file("none.rsd"));
}

TEST(ReferenceFile, WhatTheWriterMakesReadsBackAtTheDocumentedOffsets) {
  for (float peak : {60000.0f, 70000.5f}) {  // uint16 and real32 storage
    SpectrumRecord rec;
    rec.header.channels = 1024;
    rec.header.live_time = 1800;
    rec.header.true_time = 1810;
    rec.header.correction_factor = 1;
    rec.calibration.energy_terms = 2;
    rec.calibration.energy = {1.5f, 3.0f, 0.0f};
    for (int ch = 2; ch < 1024; ++ch) rec.counts[ch] = static_cast<float>((ch * 37) % 1000);
    rec.counts[500] = peak;
    const std::vector<std::uint8_t> b =
        encode_reference(rec, "Th-232 chain 15", 2500.0, 3.5, DateTime{8, 12, 2026, 14, 0});
    EXPECT_EQ(bin::get_i16(&b[124]), 1024);
    EXPECT_EQ(bin::get_f32(&b[134]), 2500.0f);
    EXPECT_EQ(bin::get_i16(&b[148]), peak < 65535 ? 2 : 4);
    EXPECT_EQ(bin::get_f32(&b[150]), 1800.0f);
    EXPECT_EQ(bin::get_f32(&b[182]), 3.5f);
    EXPECT_EQ(bin::get_text(&b[234], 16), "Th-232 chain 15");
    EXPECT_EQ(b.size(), 1024u + (peak < 65535 ? 512u : 1024u) * 4);

    ReferenceSpectrum ref;
    std::string problem;
    ASSERT_EQ(decode_reference(b, ref, problem), 1) << problem;
    EXPECT_EQ(ref.title, "Th-232 chain 15");
    EXPECT_EQ(ref.activity_bq, 2500.0);
    EXPECT_EQ(ref.activity_uncertainty_pct, 3.5);
    EXPECT_EQ(ref.live_time, 1800.0);
    EXPECT_EQ(ref.calibration.energy[1], 3.0f);
    for (int ch = 2; ch < 1024; ++ch)
      ASSERT_EQ(ref.counts[ch], static_cast<std::int32_t>(rec.counts[ch])) << ch;
    // The record it came from is not changed by the writer.
    EXPECT_EQ(rec.counts[0], 0.0f);
    EXPECT_EQ(rec.header.correction_factor, 1.0f);
  }
}

}  // namespace
}  // namespace kestrim
