#include "nuclides/library_listing.h"

#include <gtest/gtest.h>

namespace kestrim {
namespace {

void add(NuclideLibrary& lib, const char* name, const char* description, const char* source,
         float half_life, float principal, std::initializer_list<std::array<float, 3>> lines) {
  CurrentNuclide n;
  assign(n.nuclide.name, name);
  assign(n.nuclide.description, description);
  assign(n.nuclide.data_source, source);
  n.nuclide.half_life = half_life;
  n.nuclide.principal_energy = principal;
  for (const auto& l : lines) {
    n.energy[n.line_count] = l[0];
    n.yield[n.line_count] = l[1];
    n.uncertainty[n.line_count] = l[2];
    ++n.line_count;
  }
  ASSERT_TRUE(lib.append(n));
}

TEST(LibraryListing, MatchesTheReportLayoutExactly) {
  NuclideLibrary lib;
  lib.title = "Test.lib";
  // 30.05 years = 15805098 minutes, exact in single precision.
  add(lib, "Cs-137", "Caesium 137", "DDEP", 15805098.0f, 661.657f,
      {{32.0f, 0.03125f, 0.012345f},   // above 0.01: rounded half up to 0.0313 and 0.0123
       {283.5f, 0.0001f, 0.0f},        // not above 0.0001: exponent format
       {661.657f, 0.8499f, 0.002f},    // uncertainty not above 0.01: not rounded
       {800.0f, 0.5f, 0.00123456f}});
  // 1.248e9 years: shown in exponent format, no principal energy line.
  add(lib, "K-40", "", "", static_cast<float>(1.248e9 * 525960.0), 0.0f, {});
  add(lib, "Tc-99m", "Technetium", "x", 2880.0f, 140.511f, {});

  std::string want =
      std::string(60, ' ') + " 7-Mar-2024  9:05\r\n"
      "        Listing of Analysis Library Test.lib\r\n"
      "\r\n"
      "   Cs-137 Caesium 137\r\n"
      " Data Source:- DDEP\r\n"
      " Half Life is   30.0500 Years\r\n"
      " Principal Energy is  661.7 keV.\r\n"
      "\r\n"
      "        Energy    % Yield   Uncertainty\r\n"
      "\r\n"
      "        32.000     3.13000     1.23000\r\n"
      "       283.500   1.000e-02   0.000e+00\r\n"
      "       661.657    84.99000     0.20000\r\n"
      "       800.000    50.00000     0.12346\r\n"
      "\r\n"
      "     K-40 \r\n"
      " Data Source:- \r\n"
      " Half Life is  1.24800e+09 Years\r\n"
      "\r\n"
      "        Energy    % Yield   Uncertainty\r\n"
      "\r\n"
      "\r\n"
      "   Tc-99m Technetium\r\n"
      " Data Source:- x\r\n"
      " Half Life is   48.0000 Hours\r\n"
      " Principal Energy is  140.5 keV.\r\n"
      "\r\n"
      "        Energy    % Yield   Uncertainty\r\n"
      "\r\n";
  DateTime when;
  when.day = 7;
  when.month = 3;
  when.year = 2024;
  when.hour = 9;
  when.minute = 5;
  EXPECT_EQ(library_listing(lib, when), want);
}

TEST(LibraryListing, SuggestedFileNameReplacesTheExtension) {
  EXPECT_EQ(listing_file_name("NaI_Analysis.lib"), "NaI_Analysis.txt");
  EXPECT_EQ(listing_file_name("plain"), "plain.txt");
}

}  // namespace
}  // namespace kestrim
