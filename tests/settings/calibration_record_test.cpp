#include "spectrum/calibration_record.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "platform/binio.h"

namespace kestrim {
namespace {

using Bytes = std::array<std::uint8_t, kCalibrationRecordSize>;

// A record built byte by byte from the documented offsets, with literal
// numbers rather than the named constants, so that a wrong constant shows.
Bytes hand_made_record() {
  Bytes b{};
  bin::put_f32(&b[0], 3);        // energy terms
  bin::put_f32(&b[4], -1.5f);    // c0
  bin::put_f32(&b[8], 0.75f);    // c1
  bin::put_f32(&b[12], 2e-5f);   // c2
  bin::put_f32(&b[16], -2);      // width terms (resolution form)
  bin::put_f32(&b[20], 5);
  bin::put_f32(&b[24], 1.25f);
  bin::put_f32(&b[28], 0.5f);
  bin::put_f32(&b[32], 2);       // low tail terms
  bin::put_f32(&b[36], 1.1f);
  bin::put_f32(&b[44], 1.3f);
  bin::put_f32(&b[48], 3);       // high tail terms
  bin::put_f32(&b[52], 2.1f);
  bin::put_f32(&b[60], 2.3f);
  for (int i = 0; i < 8; ++i) b[64 + i] = static_cast<std::uint8_t>(0xA0 + i);
  bin::put_f32(&b[72], 2);       // calibration energies
  bin::put_f32(&b[76], 661.66f);
  bin::put_f32(&b[76 + 24 * 4], 2614.5f);  // the 25th slot
  bin::put_i16(&b[176], 7);
  bin::put_i16(&b[178], 12);
  bin::put_i16(&b[180], 2026);
  bin::put_i16(&b[182], 1);      // log form
  bin::put_i16(&b[184], 22);
  bin::put_i16(&b[186], 5);
  bin::put_f32(&b[188], 250);    // crossover
  bin::put_f32(&b[192], 5);
  bin::put_f32(&b[196], -3);
  bin::put_f32(&b[212], 0.125f);  // 5th low coefficient
  bin::put_f32(&b[216], 6);
  bin::put_f32(&b[220], 4);
  bin::put_f32(&b[240], -0.25f);  // 6th high coefficient
  bin::put_f64(&b[244], 1e-3);
  bin::put_f64(&b[244 + 9 * 8], 2e-4);
  bin::put_f64(&b[244 + 19 * 8], -7e-9);
  bin::put_i16(&b[404], 8);
  bin::put_i16(&b[406], 11);
  bin::put_i16(&b[408], 2025);
  bin::put_i16(&b[410], 6);
  bin::put_i16(&b[412], 9);
  bin::put_i16(&b[414], 30);
  std::memcpy(&b[416], "Marinelli 1 litre", 17);
  bin::put_f32(&b[456], 1000);
  std::memcpy(&b[460], "ml", 2);
  std::memcpy(&b[464], "BACK1.BKG", 9);
  bin::put_i16(&b[476], 3);
  bin::put_i16(&b[478], 4);
  bin::put_i16(&b[480], 2024);
  bin::put_i16(&b[482], -77);
  bin::put_i16(&b[484], 13);
  bin::put_i16(&b[486], 45);
  for (int i = 0; i < 12; ++i) b[488 + i] = static_cast<std::uint8_t>(0x10 + i);
  bin::put_f32(&b[500], 0.42f);
  bin::put_f32(&b[504], 3.5f);
  bin::put_i32(&b[508], 1);
  return b;
}

TEST(CalibrationRecordLayout, HandMadeBytesDecodeFieldByField) {
  const Bytes b = hand_made_record();
  CalibrationRecord r;
  decode_calibration_record(b.data(), r);
  EXPECT_EQ(r.energy_terms, 3);
  EXPECT_EQ(r.energy, (std::array<float, 3>{-1.5f, 0.75f, 2e-5f}));
  EXPECT_EQ(r.width_terms, -2);
  EXPECT_EQ(r.width, (std::array<float, 3>{5, 1.25f, 0.5f}));
  EXPECT_EQ(r.low_tail_terms, 2);
  EXPECT_EQ(r.low_tail, (std::array<float, 3>{1.1f, 0, 1.3f}));
  EXPECT_EQ(r.high_tail_terms, 3);
  EXPECT_EQ(r.high_tail, (std::array<float, 3>{2.1f, 0, 2.3f}));
  EXPECT_EQ(r.shape_extra[0], 0xA0);
  EXPECT_EQ(r.shape_extra[7], 0xA7);
  EXPECT_EQ(r.energy_count, 2);
  EXPECT_EQ(r.energies[0], 661.66f);
  EXPECT_EQ(r.energies[24], 2614.5f);
  EXPECT_EQ(r.energy_date, (CalDate{7, 12, 2026}));
  EXPECT_EQ(r.energy_form, 1);
  EXPECT_EQ(r.energy_time, (CalTime{22, 5}));
  EXPECT_EQ(r.crossover, 250);
  EXPECT_EQ(r.low_eff_terms, 5);
  EXPECT_EQ(r.low_eff[0], -3);
  EXPECT_EQ(r.low_eff[4], 0.125f);
  EXPECT_EQ(r.high_eff_terms, 6);
  EXPECT_EQ(r.high_eff[0], 4);
  EXPECT_EQ(r.high_eff[5], -0.25f);
  EXPECT_EQ(r.variance[0], 1e-3);
  EXPECT_EQ(r.variance[9], 2e-4);
  EXPECT_EQ(r.variance[19], -7e-9);
  EXPECT_EQ(r.efficiency_date, (CalDate{8, 11, 2025}));
  EXPECT_EQ(r.inverse_form, 6);
  EXPECT_EQ(r.efficiency_time, (CalTime{9, 30}));
  EXPECT_EQ(to_string(r.geometry_text), "Marinelli 1 litre");
  EXPECT_EQ(r.sample_size, 1000);
  EXPECT_EQ(to_string(r.sample_units), "ml");
  EXPECT_EQ(to_string(r.background_name), "BACK1.BKG");
  EXPECT_EQ(r.shape_date, (CalDate{3, 4, 2024}));
  EXPECT_EQ(r.reserved482, -77);
  EXPECT_EQ(r.shape_time, (CalTime{13, 45}));
  EXPECT_EQ(r.energy_extra[0], 0x10);
  EXPECT_EQ(r.energy_extra[11], 0x1B);
  EXPECT_EQ(r.efficiency_max, 0.42f);
  EXPECT_EQ(r.uncertainty, 3.5f);
  EXPECT_EQ(r.variance_stored, 1);
}

TEST(CalibrationRecordLayout, EncodeReproducesHandMadeBytes) {
  const Bytes b = hand_made_record();
  CalibrationRecord r;
  decode_calibration_record(b.data(), r);
  Bytes out;
  out.fill(0xEE);
  encode_calibration_record(r, out.data());
  for (int i = 0; i < kCalibrationRecordSize; ++i) ASSERT_EQ(out[i], b[i]) << "byte " << i;
}

TEST(CalibrationRecordLayout, EveryByteSurvivesRoundTrip) {
  // A pattern with no byte above 0x3f can never form a NaN, so every real
  // passes through float unchanged and every byte must come back.
  Bytes b;
  for (int i = 0; i < kCalibrationRecordSize; ++i) b[i] = static_cast<std::uint8_t>((i * 37 + 11) % 64);
  CalibrationRecord r;
  decode_calibration_record(b.data(), r);
  Bytes out{};
  encode_calibration_record(r, out.data());
  for (int i = 0; i < kCalibrationRecordSize; ++i) ASSERT_EQ(out[i], b[i]) << "byte " << i;
  CalibrationRecord again;
  decode_calibration_record(out.data(), again);
  EXPECT_EQ(again, r);
}

TEST(CalibrationRecordLayout, FullTextFieldsAreKeptUnterminated) {
  Bytes b{};
  std::memcpy(&b[460], "unit", 4);
  std::memcpy(&b[464], "ABCDEFGH.BKG", 12);
  CalibrationRecord r;
  decode_calibration_record(b.data(), r);
  EXPECT_EQ(to_string(r.sample_units), "unit");
  EXPECT_EQ(to_string(r.background_name), "ABCDEFGH.BKG");
  Bytes out{};
  encode_calibration_record(r, out.data());
  EXPECT_EQ(std::memcmp(&out[460], "unitABCDEFGH.BKG", 16), 0);
  EXPECT_EQ(bin::get_i16(&out[476]), 0);  // nothing spilled past the name
}

}  // namespace
}  // namespace kestrim
