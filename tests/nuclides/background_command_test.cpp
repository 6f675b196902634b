// The background and info commands on a simulated background spectrum.
#include <gtest/gtest.h>

#include "nuclides/background_file.h"
#include "platform/files.h"
#include "spectrum/native_file.h"
#include "spectrum/simulate.h"
#include "spectrum/spectrum_record.h"
#include "support/test_support.h"

namespace kestrim {
namespace {

TEST(BackgroundCommand, SavesTheFittedPeaksAndInfoListsThem) {
  test::TempDir dir;
  SimOptions o;
  o.channels = 1024;
  o.live_time = o.true_time = 50000;
  o.bg_constant = 30;
  o.peaks = {{609, 20000, 0}, {1461, 30000, 0}};
  SpectrumRecord rec;
  store_simulated(simulate_spectrum(o), o, rec);
  set_title(rec.header, "Shield background", "");
  ASSERT_TRUE(write_file_atomic(dir.file("bkg.dat"), encode_native(rec, DateTime{1, 2, 2025, 10, 0}, nullptr)));

  const std::string env = "cd '" + dir.path() + "' && XDG_DATA_HOME='" + dir.file("user") + "' '" +
                          test::kestrim_binary() + "' ";
  std::string out;
  ASSERT_EQ(test::run_command(env + "background bkg.dat -o Shield", &out, true), 0) << out;
  ASSERT_TRUE(file_exists(dir.file("shield.bkg"))) << out;
  BackgroundRecord bg;
  ASSERT_EQ(decode_background_file(test::read_bytes(dir.file("shield.bkg")), bg), 1);
  ASSERT_EQ(bg.peaks(), 2);
  EXPECT_NEAR(bg.energy[0], 609, 3);
  EXPECT_NEAR(bg.rate[1], 30000.0 / 50000, 0.05);
  EXPECT_EQ(bg.live_time, 50000);
  EXPECT_EQ(to_string(bg.file_name), "bkg.dat");

  ASSERT_EQ(test::run_command(env + "info shield.bkg", &out), 0);
  EXPECT_NE(out.find("Title:            Shield background"), std::string::npos) << out;
  EXPECT_NE(out.find("Peaks:            2"), std::string::npos) << out;
  EXPECT_NE(out.find("\n    2    146"), std::string::npos) << out;

  // A 13-character name is refused.
  EXPECT_EQ(test::run_command(env + "background bkg.dat -o shieldedroom", &out, true), 1);
  EXPECT_NE(out.find("The complete filename name should be 12 or less characters"), std::string::npos);
}

}  // namespace
}  // namespace kestrim
