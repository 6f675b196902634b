// The libraries built from data/Libraries/*.csv into the program directory.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "settings/library.h"
#include "nuclides/library_csv.h"
#include "platform/files.h"
#include "platform/scripted_platform.h"

namespace kestrim {
namespace {

// Loads a shipped library from $KESTRIM_HOME/Libraries (set by ctest).
bool load_shipped(const std::string& name, NuclideLibrary& lib) {
  const char* home = std::getenv("KESTRIM_HOME");
  if (!home) return false;
  ScriptedPlatform ui;
  std::string error;
  return load_library_file(ui, join_path(join_path(home, "Libraries"), name), lib, &error) == 1 &&
         ui.messages.empty();
}

int find(const NuclideLibrary& lib, const std::string& name) {
  for (int k = 0; k < lib.nuclide_count; ++k)
    if (to_string(lib.nuclides[k].name) == name) return k;
  return -1;
}

class ShippedLibrary : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (!std::getenv("KESTRIM_HOME")) GTEST_SKIP() << "KESTRIM_HOME not set (run through ctest)";
    ASSERT_TRUE(load_shipped(GetParam(), lib_)) << GetParam();
  }
  NuclideLibrary lib_;
};

TEST_P(ShippedLibrary, FollowsTheNaIRule) {
  ASSERT_GT(lib_.nuclide_count, 0);
  for (int k = 0; k < lib_.nuclide_count; ++k) {
    const Nuclide& n = lib_.nuclides[k];
    SCOPED_TRACE(to_string(n.name));
    auto [first, end] = lib_.lines_of(k);
    ASSERT_GT(end, first);
    bool principal_is_a_line = false;
    for (int i = first; i < end; ++i) {
      EXPECT_GE(lib_.line_energy[i], 40.0f);
      EXPECT_GE(lib_.line_yield[i], 0.005f);
      EXPECT_GE(lib_.line_uncertainty[i], 0.0f);
      if (i > first) {
        EXPECT_LT(lib_.line_energy[i - 1], lib_.line_energy[i]);
      }
      if (lib_.line_energy[i] == n.principal_energy) principal_is_a_line = true;
    }
    EXPECT_TRUE(principal_is_a_line);
    EXPECT_GT(n.half_life, 0.0f);
  }
}

TEST_P(ShippedLibrary, CsvRoundTripIsExact) {
  NuclideLibrary back;
  std::string error;
  ASSERT_EQ(library_from_csv(library_to_csv(lib_), back, &error), 1) << error;
  EXPECT_EQ(encode_library(back), encode_library(lib_));
}

INSTANTIATE_TEST_SUITE_P(Libraries, ShippedLibrary,
                         ::testing::Values("NaI_Analysis.lib", "NaI_PeakSearch.lib", "NaI_LOD.lib",
                                           "NaI_Wide.lib"),
                         [](const auto& info) {
                           std::string s = info.param;
                           return s.substr(4, s.find('.') - 4);
                         });

TEST(ShippedAnalysisLibrary, HoldsEvaluatedValuesOfKeyNuclides) {
  if (!std::getenv("KESTRIM_HOME")) GTEST_SKIP() << "KESTRIM_HOME not set (run through ctest)";
  NuclideLibrary lib;
  ASSERT_TRUE(load_shipped("NaI_Analysis.lib", lib));
  // DDEP: Cs-137 661.657 keV 84.99 (20) %, T1/2 9.4829e8 s.
  int cs = find(lib, "Cs-137");
  ASSERT_GE(cs, 0);
  auto [first, end] = lib.lines_of(cs);
  ASSERT_EQ(end - first, 1);
  EXPECT_FLOAT_EQ(lib.line_energy[first], 661.657f);
  EXPECT_FLOAT_EQ(lib.line_yield[first], 0.8499f);
  EXPECT_FLOAT_EQ(lib.line_uncertainty[first], 0.002f);
  EXPECT_NEAR(display_half_life(lib.nuclides[cs].half_life).value, 30.05, 0.01);
  // Co-60: both lines, principal 1332.492 keV.
  int co = find(lib, "Co-60");
  ASSERT_GE(co, 0);
  EXPECT_EQ(lib.lines_of(co).second - lib.lines_of(co).first, 2);
  EXPECT_FLOAT_EQ(lib.nuclides[co].principal_energy, 1332.492f);
  // The wide library: Na-22's annihilation line is kept but is not the
  // principal line.
  NuclideLibrary wide;
  ASSERT_TRUE(load_shipped("NaI_Wide.lib", wide));
  int na = find(wide, "Na-22");
  ASSERT_GE(na, 0);
  EXPECT_FLOAT_EQ(wide.nuclides[na].principal_energy, 1274.537f);
  // The Th-232 chain carries Tl-208's 2614.511 keV line per chain decay:
  // 99.755 % x 0.3593 (Bi-212 alpha branch) = 35.842 %.
  int th = find(lib, "Th-232");
  ASSERT_GE(th, 0);
  EXPECT_NEAR(lib.line_yield[lib.lines_of(th).second - 1], 0.35842, 1e-5);
  EXPECT_EQ(find(wide, "Rn-222"), -1);  // its only line is 0.076 %
  // Nuclides a NaI detector cannot tell from those of an environmental
  // sample are left to the wide library.
  for (const char* name : {"U-235", "Ag-110m", "I-132", "Lu-177"}) {
    EXPECT_EQ(find(lib, name), -1) << name;
    EXPECT_GE(find(wide, name), 0) << name;
  }
}

TEST(ShippedPeakSearchLibrary, KeepsOnlyStrongLines) {
  if (!std::getenv("KESTRIM_HOME")) GTEST_SKIP() << "KESTRIM_HOME not set (run through ctest)";
  NuclideLibrary lib;
  ASSERT_TRUE(load_shipped("NaI_PeakSearch.lib", lib));
  for (int k = 0; k < lib.nuclide_count; ++k) {
    auto [first, end] = lib.lines_of(k);
    for (int i = first; i < end; ++i) {
      if (lib.line_energy[i] != lib.nuclides[k].principal_energy) {
        EXPECT_GE(lib.line_yield[i], 0.10f) << to_string(lib.nuclides[k].name);
      }
    }
  }
}

}  // namespace
}  // namespace kestrim
