#include "settings/calibration_text.h"

#include <gtest/gtest.h>

#include "platform/binio.h"
#include "spectrum/calibration_record.h"
#include "support/test_support.h"

namespace kestrim {
namespace {

TEST(DetectorText, FieldsLandAtTheirOffsetsAndRoundTrip) {
  const std::string text =
      "# two geometries\n"
      "[geometry 1]\n"
      "energy_terms = 3\n"
      "energy = -1.5 2.93 1e-6\n"
      "energy_date = 7 12 2026\n"
      "geometry_text = \"Marinelli \\\"1 l\\\"\"\n"
      "variance = 0.25 -1e-300\n"
      "variance_stored = 1\n"
      "shape_extra = 01 ff\n"
      "[geometry 3]\n"
      "high_eff_terms = 2\n"
      "high_eff = 2.3371 -0.9\n";
  std::vector<std::uint8_t> file;
  std::string error;
  ASSERT_TRUE(detector_file_from_text(text, file, error)) << error;
  ASSERT_EQ(file.size(), 50u * 512);
  EXPECT_EQ(bin::get_f32(file.data() + 0), 3.0f);
  EXPECT_EQ(bin::get_f32(file.data() + 8), 2.93f);
  EXPECT_EQ(bin::get_i16(file.data() + 180), 2026);
  EXPECT_EQ(bin::get_text(file.data() + 416, 40), "Marinelli \"1 l\"");
  EXPECT_EQ(bin::get_f64(file.data() + 244 + 8), -1e-300);
  EXPECT_EQ(bin::get_i32(file.data() + 508), 1);
  EXPECT_EQ(file[65], 0xff);
  EXPECT_EQ(bin::get_f32(file.data() + 2 * 512 + 216), 2.0f);
  EXPECT_EQ(bin::get_f32(file.data() + 2 * 512 + 224), -0.9f);

  std::string dumped = detector_file_to_text(file, 0);
  EXPECT_EQ(dumped.find("[geometry 2]"), std::string::npos);  // empty sections are skipped
  std::vector<std::uint8_t> again;
  ASSERT_TRUE(detector_file_from_text(dumped, again, error)) << error;
  EXPECT_EQ(again, file);
  EXPECT_EQ(detector_file_to_text(again, 0), dumped);
}

TEST(DetectorText, HighGeometryExtendsTheFile) {
  std::vector<std::uint8_t> file;
  std::string error;
  ASSERT_TRUE(detector_file_from_text("[geometry 60]\nuncertainty = 4\n", file, error));
  EXPECT_EQ(file.size(), 60u * 512);
  EXPECT_EQ(bin::get_f32(file.data() + 59 * 512 + 504), 4.0f);
}

TEST(DetectorText, ErrorsNameTheLine) {
  std::vector<std::uint8_t> file;
  std::string error;
  EXPECT_FALSE(detector_file_from_text("energy = 1\n", file, error));
  EXPECT_EQ(error, "line 1: a field before the first [geometry N]");
  EXPECT_FALSE(detector_file_from_text("[geometry 1]\n\nenergy = 1 2 3 4\n", file, error));
  EXPECT_EQ(error, "line 3: too many values for 'energy'");
  EXPECT_FALSE(detector_file_from_text("[geometry 1]\nfoo = 1\n", file, error));
  EXPECT_EQ(error, "line 2: unknown field 'foo'");
  EXPECT_FALSE(detector_file_from_text("[geometry 1]\nenergy_form = 1.5\n", file, error));
  EXPECT_FALSE(detector_file_from_text("[geometry 1]\nsample_units = \"Bq/kg\"\n", file, error));
  EXPECT_EQ(error, "line 2: text longer than the field");
  EXPECT_FALSE(detector_file_from_text("[geometry 0]\n", file, error));
}

TEST(DetectorText, ShippedExampleDetectorBuildsAndDescribesTheExample) {
  std::vector<std::uint8_t> text = test::read_bytes(test::source_data_dir() + "/Calibration/Det_01.txt");
  ASSERT_FALSE(text.empty());
  std::vector<std::uint8_t> file;
  std::string error;
  ASSERT_TRUE(detector_file_from_text(std::string(text.begin(), text.end()), file, error)) << error;
  CalibrationRecord cal;
  decode_calibration_record(file.data(), cal);
  EXPECT_EQ(cal.energy_terms, 2.0f);
  EXPECT_EQ(cal.energy[1], 3.0f);
  EXPECT_EQ(cal.width_terms, -2.0f);
  EXPECT_EQ(cal.high_eff_terms, 2.0f);
  EXPECT_NE(cal.efficiency_date.day, 0);
}

}  // namespace
}  // namespace kestrim
