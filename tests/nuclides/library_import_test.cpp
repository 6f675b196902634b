#include "nuclides/library_import.h"

#include <gtest/gtest.h>

#include "app/state.h"
#include "platform/scripted_platform.h"
#include "support/test_support.h"

namespace kestrim {
namespace {

constexpr double kMinutesPerYear = 525960.0;

struct Line {
  float energy, yield, uncertainty;
};

std::vector<Line> lines_of(const NuclideLibrary& lib, int k) {
  std::vector<Line> out;
  auto [first, end] = lib.lines_of(k);
  for (int i = first; i < end; ++i)
    out.push_back({lib.line_energy[i], lib.line_yield[i], lib.line_uncertainty[i]});
  return out;
}

// A Genie listing row: a label, then the value at column 56.
std::string genie_row(const std::string& label, const std::string& value) {
  std::string s = "  " + label;
  s.resize(55, ' ');
  return s + value + "\r\n";
}

TEST(SpectranListing, ReadsNameHalfLifeAndFractionYields) {
  std::string text =
      "SPECTRAN NUCLIDE LIBRARY\r\n"
      "\r\n"
      " Cs-137 Caesium\r\n"
      "1.5805E+07\r\n"
      "Energy  Yield\r\n"
      "661.66 0.851\r\n"
      "32.19 0.058\r\n"
      "\r\n"
      "\f Co-60   Cobalt\r\n"  // the byte after the short line is skipped
      "2.7724E+06\r\n"
      "Energy  Yield\r\n"
      "1332.5 0.9998\r\n"
      "0 0.5\r\n"  // energy not above 0: ignored
      "1173.2 0.9985\r\n";
  ScriptedPlatform ui;
  NuclideLibrary lib;
  EXPECT_EQ(parse_listing(ui, ListingKind::kSpectran, text, lib), 2);
  ASSERT_EQ(lib.nuclide_count, 2);
  EXPECT_EQ(to_string(lib.nuclides[0].name), "Cs-137  ");
  EXPECT_FLOAT_EQ(lib.nuclides[0].half_life, 1.5805e7f);
  auto cs = lines_of(lib, 0);
  ASSERT_EQ(cs.size(), 2u);
  EXPECT_FLOAT_EQ(cs[0].energy, 32.19f);
  EXPECT_FLOAT_EQ(cs[1].yield, 0.851f);
  EXPECT_EQ(cs[1].uncertainty, 0.0f);
  EXPECT_EQ(to_string(lib.nuclides[1].name), "Co-60   ");
  auto co = lines_of(lib, 1);
  ASSERT_EQ(co.size(), 2u);
  EXPECT_FLOAT_EQ(co[0].energy, 1173.2f);
  EXPECT_TRUE(ui.messages.empty());
}

TEST(OmnigamListing, ReadsHalfLifeUnitAndPercentYieldsOfShortLines) {
  std::string short_but_35 = "  100.0   50.0";
  short_but_35.resize(35, ' ');
  std::string text =
      " OMNIGAM LIBRARY LISTING\r\n"
      " CS-137   HALF-LIFE =30.17 Y\r\n"
      "   Energy (keV)    Yield (%)\r\n"
      "   661.66   85.10\r\n"
      "   32.19    5.80\r\n"
      "   36.4     1.0\r\n"
      "   32.19    0.7\r\n" +  // equal energy: after the first one
      short_but_35 + "\r\n" +  // 35 characters: not a line
      " CO-60    HALF-LIFE =5.271 Y\r\n"
      " ENERGY YIELD\r\n"
      " 1332.5 99.98\r\n"
      " 1173.2 99.85\r\n";
  ScriptedPlatform ui;
  NuclideLibrary lib;
  ASSERT_EQ(parse_listing(ui, ListingKind::kOmnigam, text, lib), 2);
  EXPECT_EQ(to_string(lib.nuclides[0].name), "CS-137  ");
  EXPECT_FLOAT_EQ(lib.nuclides[0].half_life, static_cast<float>(30.17 * kMinutesPerYear));
  auto cs = lines_of(lib, 0);
  ASSERT_EQ(cs.size(), 4u);
  EXPECT_FLOAT_EQ(cs[0].yield, 0.058f);
  EXPECT_FLOAT_EQ(cs[1].yield, 0.007f);
  EXPECT_FLOAT_EQ(cs[2].energy, 36.4f);
  EXPECT_FLOAT_EQ(cs[3].yield, 0.851f);
  EXPECT_EQ(to_string(lib.nuclides[1].name), "CO-60   ");
  EXPECT_FLOAT_EQ(lib.nuclides[1].half_life, static_cast<float>(5.271 * kMinutesPerYear));
  EXPECT_EQ(lines_of(lib, 1).size(), 2u);
  EXPECT_EQ(to_string(lib.nuclides[1].data_source), "");
}

TEST(GammavisionListing, ReadsTokensAndKevRows) {
  std::string text =
      "GAMMAVISION LIBRARY\r\n"
      "\r\n"
      "Cs-137  30.17  Years\r\n"
      "661.66 keV  85.10%\r\n"
      " 32.19 keV   5.80% xray\r\n"  // the text after '%' is cut
      "no energy here 1.0\r\n"
      "Co-60   5.271  D\r\n"
      "1173.2 keV 99.85%\r\n"
      "1332.5 keV 99.98%\r\n"
      "Total lines - 4\r\n"  // a '-' ends the nuclide without starting one
      "999.9 keV 50.0%\r\n";
  ScriptedPlatform ui;
  NuclideLibrary lib;
  ASSERT_EQ(parse_listing(ui, ListingKind::kGammavision, text, lib), 2);
  EXPECT_EQ(to_string(lib.nuclides[0].name), "Cs-137");
  EXPECT_FLOAT_EQ(lib.nuclides[0].half_life, static_cast<float>(30.17 * kMinutesPerYear));
  auto cs = lines_of(lib, 0);
  ASSERT_EQ(cs.size(), 2u);
  EXPECT_FLOAT_EQ(cs[0].energy, 32.19f);
  EXPECT_FLOAT_EQ(cs[0].yield, 0.058f);
  EXPECT_FLOAT_EQ(cs[1].yield, 0.851f);
  EXPECT_FLOAT_EQ(lib.nuclides[1].half_life, static_cast<float>(5.271 * 1440.0));
  EXPECT_EQ(lines_of(lib, 1).size(), 2u);
  EXPECT_EQ(lib.line_count, 4);
}

TEST(GenieListing, ReadsBlocksWithUncertainties) {
  std::string text =
      "  Nuclide Name : CO-60\r\n"
      "  HALFLIFE : 5.2710 Y\r\n" +
      genie_row("ENERGY", "50.0") +  // before the subheader: not a line
      "  Nuclide subheader : for Cobalt-60\r\n" +
      genie_row("ENERGY", "1332.49") + genie_row("ABUNDANCE", "99.98") +
      genie_row("ABNERR", "0.0006") + genie_row("ENERGY", "1173.23") +
      genie_row("ABUNDANCE", "99.85") + genie_row("ABNERR", "0.03") +
      genie_row("ABUNDANCE", "5") + genie_row("ABNERR", "1") +  // energy reset: no line
      "-----------------------------\r\n"
      "  Nuclide Name : CS-137\r\n"
      "  HALFLIFE : 30.17 Y\r\n"
      "  Nuclide subheader : of Caesium\r\n" +
      genie_row("ENERGY", "661.66") + genie_row("ABUNDANCE", "85.1") + genie_row("ABNERR", "0.2") +
      "-----------------------------\r\n";
  ScriptedPlatform ui;
  NuclideLibrary lib;
  ASSERT_EQ(parse_listing(ui, ListingKind::kGenie, text, lib), 2);
  EXPECT_EQ(to_string(lib.nuclides[0].name), "CO-60   ");
  EXPECT_EQ(to_string(lib.nuclides[0].description), "Cobalt-60");
  EXPECT_EQ(to_string(lib.nuclides[0].data_source), " ");
  EXPECT_FLOAT_EQ(lib.nuclides[0].half_life, static_cast<float>(5.271 * kMinutesPerYear));
  auto co = lines_of(lib, 0);
  ASSERT_EQ(co.size(), 2u);
  EXPECT_FLOAT_EQ(co[0].energy, 1173.23f);
  EXPECT_FLOAT_EQ(co[0].yield, 0.9985f);
  EXPECT_FLOAT_EQ(co[0].uncertainty, 0.0003f);
  EXPECT_FLOAT_EQ(co[1].uncertainty, 0.000006f);
  auto cs = lines_of(lib, 1);
  ASSERT_EQ(cs.size(), 1u);
  EXPECT_FLOAT_EQ(cs[0].uncertainty, 0.002f);
  EXPECT_EQ(ui.statuses, (std::vector<std::string>{"CO-60   ", "CS-137  "}));
}

TEST(ListingLimits, ImportEndsAfterANuclideOf199Lines) {
  std::string text = "Big-1  1 M\r\n";
  for (int i = 1; i <= 250; ++i) text += std::to_string(i) + " keV 1%\r\n";
  text += "Small-1 1 M\r\n10 keV 1%\r\n";
  ScriptedPlatform ui;
  NuclideLibrary lib;
  EXPECT_EQ(parse_listing(ui, ListingKind::kGammavision, text, lib), 1);
  EXPECT_EQ(lib.line_count, 199);
  EXPECT_FLOAT_EQ(lib.line_energy[198], 199.0f);
  EXPECT_TRUE(ui.said("Warning - Library was too big"));
}

TEST(ListingLimits, AtMost398Nuclides) {
  std::string text;
  for (int k = 0; k < 400; ++k) text += "N-" + std::to_string(k) + " 1 M\r\n100 keV 50%\r\n";
  ScriptedPlatform ui;
  NuclideLibrary lib;
  EXPECT_EQ(parse_listing(ui, ListingKind::kGammavision, text, lib), 398);
  EXPECT_EQ(lib.nuclide_count, 398);
  EXPECT_EQ(to_string(lib.nuclides[397].name), "N-397");
}

TEST(ListingLines, LongLinesAreReadIn120CharacterPieces) {
  // A 130-character header: the first 120 characters make one line, the
  // rest the next, which holds the half-life for Spectran.
  std::string text = " Ra-226" + std::string(113, ' ') + "2.66E+08\r\nheading\r\n186.2 0.0356\r\n";
  ScriptedPlatform ui;
  NuclideLibrary lib;
  ASSERT_EQ(parse_listing(ui, ListingKind::kSpectran, text, lib), 1);
  EXPECT_FLOAT_EQ(lib.nuclides[0].half_life, 2.66e8f);
  EXPECT_EQ(lib.line_count, 1);
}

class ImportListing : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.file("NAI.LIS");
    test::write_text(path_, " CS-137   HALF-LIFE =30.17 Y\r\n ENERGY\r\n 661.66 85.1\r\n");
    CurrentNuclide old;
    assign(old.nuclide.name, "cs-137");
    assign(old.nuclide.description, "From the old library");
    lib_.append(old);
    lib_.title = "Old.lib";
  }
  test::TempDir dir_;
  std::string path_;
  NuclideLibrary lib_;
  ScriptedPlatform ui_;
};

TEST_F(ImportListing, ReplacesBufferKeepsMatchingDescriptionsAndRenames) {
  ASSERT_EQ(import_listing(ui_, lib_, path_, ListingKind::kOmnigam), 1);
  EXPECT_TRUE(ui_.messages.empty());
  ASSERT_EQ(lib_.nuclide_count, 1);
  EXPECT_EQ(to_string(lib_.nuclides[0].name), "CS-137  ");
  EXPECT_EQ(to_string(lib_.nuclides[0].description), "From the old library");
  EXPECT_EQ(lib_.clipboard_count, 0);
  EXPECT_EQ(lib_.title, "NAI.lib");
  EXPECT_TRUE(lib_.modified);
}

TEST_F(ImportListing, ClipboardInUseAsksFirstAndNoLeavesAllAlone) {
  lib_.clipboard_count = 1;
  ui_.answers.push_back(kAnswerNo);
  EXPECT_EQ(import_listing(ui_, lib_, path_, ListingKind::kOmnigam), 0);
  ASSERT_EQ(ui_.messages.size(), 1u);
  EXPECT_EQ(ui_.messages[0].text, "Do you want to continue ?");
  EXPECT_EQ(ui_.messages[0].caption, "The Nuclide data in the buffer will be overwritten");
  EXPECT_EQ(to_string(lib_.nuclides[0].name), "cs-137");
  EXPECT_EQ(lib_.title, "Old.lib");
  EXPECT_FALSE(lib_.modified);
}

TEST_F(ImportListing, DialogFilterPicksTheParser) {
  FileDialog chosen;
  chosen.paths = {path_};
  chosen.filter_index = 1;  // Omnigam
  ui_.open_results.push_back(chosen);
  Paths paths;
  ASSERT_EQ(import_listing_dialog(ui_, paths, lib_), 1);
  ASSERT_EQ(ui_.dialogs_shown.size(), 1u);
  const FileDialog& shown = ui_.dialogs_shown[0];
  EXPECT_EQ(shown.title, "Import Library Listing Text File");
  ASSERT_EQ(shown.filters.size(), 4u);
  EXPECT_EQ(shown.filters[0].name, "Spectran");
  EXPECT_EQ(shown.filters[3].pattern, "*.LIS");
  EXPECT_EQ(lib_.line_count, 1);
}

}  // namespace
}  // namespace kestrim
