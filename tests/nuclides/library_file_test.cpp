#include "settings/library.h"

#include <gtest/gtest.h>

#include "app/state.h"
#include "nuclides/library_bytes.h"
#include "platform/files.h"
#include "platform/scripted_platform.h"
#include "support/test_support.h"

namespace kestrim {
namespace {

using test::LibraryBytes;

constexpr double kMinutesPerYear = 525960.0;  // 365.25 days

// Loads `bytes` written to a temporary file; returns the load's result.
int load_bytes(ScriptedPlatform& ui, const std::vector<std::uint8_t>& bytes, NuclideLibrary& lib,
               std::string* error = nullptr) {
  test::TempDir dir;
  std::string path = dir.file("hand.lib");
  test::write_bytes(path, bytes);
  std::string ignored;
  return load_library_file(ui, path, lib, error ? error : &ignored);
}

TEST(LibraryFile, HandMadeCurrentLayoutReadsEveryField) {
  LibraryBytes f;
  f.marker("FFFFFFFE");
  f.nuclide("Cs-137", "Caesium 137", "DDEP", 30.0f, 2, 'Y', 661.657f);
  f.line(661.657f, 0.8499f, 0.002f).line(32.0f, 0.05f, 0.0f);
  f.nuclide("Co-60", "", "", 100.0f, 0, 0x09, 0.0f);
  f.end();
  ScriptedPlatform ui;
  NuclideLibrary lib;
  ASSERT_EQ(load_bytes(ui, f.b, lib), 1);
  ASSERT_EQ(lib.nuclide_count, 2);
  EXPECT_EQ(to_string(lib.nuclides[0].name), "Cs-137");
  EXPECT_EQ(to_string(lib.nuclides[0].description), "Caesium 137");
  EXPECT_EQ(to_string(lib.nuclides[0].data_source), "DDEP");
  EXPECT_FLOAT_EQ(lib.nuclides[0].half_life, static_cast<float>(30.0 * kMinutesPerYear));
  EXPECT_FLOAT_EQ(lib.nuclides[0].principal_energy, 661.657f);
  EXPECT_FLOAT_EQ(lib.nuclides[1].half_life, 100.0f);  // tab: minutes
  ASSERT_EQ(lib.line_count, 2);
  // Lines as stored (the load does not sort), owned by nuclide 0.
  EXPECT_FLOAT_EQ(lib.line_energy[0], 661.657f);
  EXPECT_FLOAT_EQ(lib.line_yield[0], 0.8499f);
  EXPECT_FLOAT_EQ(lib.line_uncertainty[0], 0.002f);
  EXPECT_FLOAT_EQ(lib.line_energy[1], 32.0f);
  EXPECT_EQ(lib.line_owner[1], 0);
  EXPECT_EQ(lib.title, "hand.lib");
  EXPECT_EQ(ui.statuses.front(), "Reading Analysis Library");
  EXPECT_TRUE(ui.messages.empty());
}

TEST(LibraryFile, UnitByteConvertsHalfLifeToMinutes) {
  struct Case {
    char unit;
    double minutes;
  } cases[] = {{'S', 2.0}, {'M', 120.0}, {'H', 7200.0}, {'D', 172800.0},
               {'Y', 120.0 * kMinutesPerYear}, {'y', 120.0}, {'X', 120.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.unit);
    LibraryBytes f;
    f.marker("FFFFFFFE").nuclide("N", "", "", 120.0f, 0, c.unit, 0).end();
    ScriptedPlatform ui;
    NuclideLibrary lib;
    ASSERT_EQ(load_bytes(ui, f.b, lib), 1);
    EXPECT_FLOAT_EQ(lib.nuclides[0].half_life, static_cast<float>(c.minutes));
  }
}

TEST(LibraryFile, NameRepeatedWherePrincipalEnergySitsMeansNoPrincipalEnergy) {
  LibraryBytes f;
  f.marker("FFFFFFFE");
  f.text("K-40", 8).text("", 48).text("", 30).f32(1.0f).i16(0).byte(0x09).byte(0x09);
  f.text("K-40", 8);  // the old writer's copy of the name
  f.end();
  ScriptedPlatform ui;
  NuclideLibrary lib;
  ASSERT_EQ(load_bytes(ui, f.b, lib), 1);
  EXPECT_EQ(lib.nuclides[0].principal_energy, 0.0f);
}

TEST(LibraryFile, OldestLayoutHasBlankSourceAndNoUncertainties) {
  LibraryBytes f;
  f.marker("FFFFFFFF");
  f.text("Am-241", 8).text("Americium", 48).f32(60.0f).i16(2).byte('M').byte(0x09);
  f.f32(59.54f).f32(0);
  f.f32(59.54f).f32(0.359f).f32(26.34f).f32(0.024f);
  f.end();
  ScriptedPlatform ui;
  NuclideLibrary lib;
  ASSERT_EQ(load_bytes(ui, f.b, lib), 1);
  ASSERT_EQ(lib.nuclide_count, 1);
  EXPECT_EQ(to_string(lib.nuclides[0].data_source), std::string(30, ' '));
  EXPECT_FLOAT_EQ(lib.nuclides[0].principal_energy, 59.54f);
  ASSERT_EQ(lib.line_count, 2);
  EXPECT_FLOAT_EQ(lib.line_energy[1], 26.34f);
  EXPECT_FLOAT_EQ(lib.line_yield[1], 0.024f);
  EXPECT_EQ(lib.line_uncertainty[0], 0.0f);
  EXPECT_EQ(lib.line_uncertainty[1], 0.0f);
}

TEST(LibraryFile, ExtraBlockLayoutSkips56BytesAfterPrincipalEnergy) {
  LibraryBytes f;
  f.marker("FFFFFFFD");
  f.nuclide("Mn-54", "", "src", 312.0f, 1, 'D', 834.8f).fill(0x5A, 56);
  f.line(834.848f, 0.99975f, 0.000005f).end();
  ScriptedPlatform ui;
  NuclideLibrary lib;
  ASSERT_EQ(load_bytes(ui, f.b, lib), 1);
  ASSERT_EQ(lib.line_count, 1);
  EXPECT_FLOAT_EQ(lib.line_energy[0], 834.848f);
  EXPECT_FLOAT_EQ(lib.line_yield[0], 0.99975f);
}

TEST(LibraryFile, MarkerOnlyDoesNotLoad) {
  LibraryBytes f;
  f.marker("FFFFFFFE");
  ScriptedPlatform ui;
  NuclideLibrary lib;
  std::string error;
  EXPECT_EQ(load_bytes(ui, f.b, lib, &error), 0);
  EXPECT_EQ(error, "Failed to Read Analysis Library");
  EXPECT_EQ(lib.nuclide_count, 0);
}

TEST(LibraryFile, UnknownMarkerIsRefused) {
  LibraryBytes f;
  f.marker("FFFFFFFC").nuclide("N", "", "", 1, 0, 'M', 0).end();
  ScriptedPlatform ui;
  NuclideLibrary lib;
  std::string error;
  EXPECT_EQ(load_bytes(ui, f.b, lib, &error), 0);
  EXPECT_TRUE(ui.said("Can only read Binary Files"));
  EXPECT_EQ(error, "Failed to Read Analysis Library");
}

TEST(LibraryFile, MissingFileReportsSystemErrorAndPath) {
  test::TempDir dir;
  ScriptedPlatform ui;
  LibraryReader reader;
  EXPECT_EQ(reader.open(ui, dir.file("none.lib")), 0);
  EXPECT_TRUE(ui.said("Error 2 opening " + dir.file("none.lib")));
}

TEST(LibraryFile, EntryCutShortKeepsEarlierNuclidesAndSaysWhere) {
  LibraryBytes f;
  f.marker("FFFFFFFE");
  f.nuclide("A", "", "", 1, 1, 'M', 0).line(100, 0.5f, 0);
  f.nuclide("B", "", "", 1, 3, 'M', 0).line(200, 0.5f, 0);  // two lines missing
  ScriptedPlatform ui;
  NuclideLibrary lib;
  std::string error;
  EXPECT_EQ(load_bytes(ui, f.b, lib, &error), -1);
  EXPECT_EQ(lib.nuclide_count, 1);
  EXPECT_NE(error.find("nuclide 2 at offset 122: 3 lines declared, the file ends after 1"),
            std::string::npos)
      << error;
}

TEST(LibraryFile, EveryTruncationLoadsAPrefixOrIsRefused) {
  LibraryBytes f;
  f.marker("FFFFFFFE");
  f.nuclide("A", "d", "s", 1, 2, 'M', 5).line(1, 0.5f, 0).line(2, 0.5f, 0);
  f.nuclide("B", "d", "s", 1, 1, 'M', 5).line(3, 0.5f, 0).end();
  // Cut inside the first entry: nothing loads. Cut anywhere after it, up to
  // the last of the end bytes: damaged, the first nuclide loaded (a list
  // that merely stopped would look whole). Only the whole file loads both.
  const std::size_t second = 8 + 102 + 24;
  for (std::size_t n = 0; n <= f.b.size(); ++n) {
    SCOPED_TRACE(n);
    std::vector<std::uint8_t> cut(f.b.begin(), f.b.begin() + static_cast<long>(n));
    ScriptedPlatform ui;
    NuclideLibrary lib;
    int r = load_bytes(ui, cut, lib);
    if (n < second) {
      EXPECT_EQ(r, 0);
      EXPECT_EQ(lib.nuclide_count, 0);
    } else if (n < f.b.size()) {
      EXPECT_EQ(r, -1);
      EXPECT_EQ(lib.nuclide_count, n < second + 102 + 12 ? 1 : 2);
    } else {
      EXPECT_EQ(r, 1);
      EXPECT_EQ(lib.nuclide_count, 2);
    }
  }
}

TEST(LibraryFile, NegativeLineCountIsDamage) {
  LibraryBytes f;
  f.marker("FFFFFFFE").nuclide("A", "", "", 1, -1, 'M', 0).end();
  ScriptedPlatform ui;
  LibraryReader reader;
  test::TempDir dir;
  test::write_bytes(dir.file("n.lib"), f.b);
  ASSERT_EQ(reader.open(ui, dir.file("n.lib")), 1);
  CurrentNuclide n;
  EXPECT_EQ(reader.next(n), -1);
}

TEST(LibraryFile, NuclideOf201LinesKeeps200AndEndsTheLoadAsTooBig) {
  LibraryBytes f;
  f.marker("FFFFFFFE").nuclide("Big", "", "", 1, 201, 'M', 0);
  for (int i = 0; i < 201; ++i) f.line(static_cast<float>(i + 1), 0.1f, 0);
  f.nuclide("After", "", "", 1, 0, 'M', 0).end();
  ScriptedPlatform ui;
  NuclideLibrary lib;
  ASSERT_EQ(load_bytes(ui, f.b, lib), 1);
  EXPECT_EQ(lib.nuclide_count, 1);
  EXPECT_EQ(lib.line_count, 200);
  EXPECT_FLOAT_EQ(lib.line_energy[199], 200.0f);
  EXPECT_TRUE(ui.said("Warning - Library was too big"));
}

std::vector<std::uint8_t> many_nuclides(int count, int lines_each) {
  LibraryBytes f;
  f.marker("FFFFFFFE");
  for (int k = 0; k < count; ++k) {
    f.nuclide("N" + std::to_string(k), "", "", 1, lines_each, 'M', 0);
    for (int i = 0; i < lines_each; ++i) f.line(static_cast<float>(i + 1), 0.5f, 0);
  }
  f.end();
  return f.b;
}

TEST(LibraryLimits, At398NuclidesTheLibraryLoadsWhole) {
  ScriptedPlatform ui;
  NuclideLibrary lib;
  ASSERT_EQ(load_bytes(ui, many_nuclides(398, 1), lib), 1);
  EXPECT_EQ(lib.nuclide_count, 398);
  EXPECT_TRUE(ui.messages.empty());
}

TEST(LibraryLimits, From399NuclidesTheLoadStopsAt398WithWarning) {
  for (int count : {399, 401}) {
    SCOPED_TRACE(count);
    ScriptedPlatform ui;
    NuclideLibrary lib;
    ASSERT_EQ(load_bytes(ui, many_nuclides(count, 1), lib), 1);
    EXPECT_EQ(lib.nuclide_count, 398);
    EXPECT_EQ(lib.line_owner[397], 397);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "Warning - Library was too big");
    EXPECT_EQ(ui.messages[0].caption, "Error");
  }
}

TEST(LibraryLimits, LinesBeyondTotal7998AreDroppedWithWarning) {
  // 39 x 200 = 7800 lines, then a nuclide of 200 of which 198 fit.
  ScriptedPlatform ui;
  NuclideLibrary lib;
  ASSERT_EQ(load_bytes(ui, many_nuclides(40, 200), lib), 1);
  EXPECT_EQ(lib.nuclide_count, 40);
  EXPECT_EQ(lib.line_count, 7998);
  EXPECT_TRUE(ui.said("Warning - Library was too big"));
}

TEST(LibraryLimits, NoNuclideIsAddedOnceTheTotalExceeds7996) {
  LibraryBytes f;
  f.marker("FFFFFFFE");
  for (int k = 0; k < 39; ++k) {
    f.nuclide("N", "", "", 1, 200, 'M', 0);
    for (int i = 0; i < 200; ++i) f.line(1, 0.5f, 0);
  }
  f.nuclide("Last", "", "", 1, 197, 'M', 0);  // total 7997
  for (int i = 0; i < 197; ++i) f.line(1, 0.5f, 0);
  f.nuclide("Over", "", "", 1, 1, 'M', 0).line(1, 0.5f, 0).end();
  ScriptedPlatform ui;
  NuclideLibrary lib;
  ASSERT_EQ(load_bytes(ui, f.b, lib), 1);
  EXPECT_EQ(lib.nuclide_count, 40);
  EXPECT_EQ(lib.line_count, 7997);
  EXPECT_TRUE(ui.said("Warning - Library was too big"));
}

NuclideLibrary sample_library() {
  NuclideLibrary lib;
  CurrentNuclide n;
  assign(n.nuclide.name, "Ba-133");
  assign(n.nuclide.description, "Barium 133");
  assign(n.nuclide.data_source, "DDEP");
  n.nuclide.half_life = 5.5e6f;
  n.nuclide.principal_energy = 356.013f;
  // Unsorted, with two equal energies told apart by their yields.
  float energies[] = {356.013f, 80.998f, 356.013f, 302.851f};
  float yields[] = {0.1f, 0.2f, 0.3f, 0.4f};
  for (int i = 0; i < 4; ++i) {
    n.energy[i] = energies[i];
    n.yield[i] = yields[i];
    n.uncertainty[i] = 0.001f * static_cast<float>(i);
  }
  n.line_count = 4;
  lib.append(n);
  CurrentNuclide m;
  assign(m.nuclide.name, "Abcdefgh");  // a full 8-character name has no terminator
  m.nuclide.half_life = 10;
  lib.append(m);
  return lib;
}

TEST(LibrarySave, WritesTheDocumentedBytes) {
  NuclideLibrary lib = sample_library();
  test::TempDir dir;
  ScriptedPlatform ui;
  lib.modified = true;
  ASSERT_EQ(save_library_file(ui, lib, dir.file("s.lib")), 1);
  EXPECT_FALSE(lib.modified);

  // The exchange sort puts 80.998 first, then 302.851, then the two lines at
  // 356.013 exchanged with each other (0.3 before 0.1).
  LibraryBytes want;
  want.marker("FFFFFFFE");
  want.nuclide("Ba-133", "Barium 133", "DDEP", 5.5e6f, 4, 0x09, 356.013f);
  want.line(80.998f, 0.2f, 0.001f).line(302.851f, 0.4f, 0.003f);
  want.line(356.013f, 0.3f, 0.002f).line(356.013f, 0.1f, 0.0f);
  want.nuclide("Abcdefgh", "", "", 10, 0, 0x09, 0).end();
  EXPECT_EQ(test::read_bytes(dir.file("s.lib")), want.b);
  // The sorted order is kept in memory.
  EXPECT_FLOAT_EQ(lib.line_yield[2], 0.3f);
}

TEST(LibrarySave, SavedLibraryReadsBackUnchanged) {
  NuclideLibrary lib = sample_library();
  test::TempDir dir;
  ScriptedPlatform ui;
  ASSERT_EQ(save_library_file(ui, lib, dir.file("r.lib")), 1);
  NuclideLibrary back;
  std::string error;
  ASSERT_EQ(load_library_file(ui, dir.file("r.lib"), back, &error), 1);
  ASSERT_EQ(back.nuclide_count, lib.nuclide_count);
  for (int k = 0; k < lib.nuclide_count; ++k) EXPECT_EQ(back.nuclides[k], lib.nuclides[k]);
  ASSERT_EQ(back.line_count, lib.line_count);
  for (int i = 0; i < lib.line_count; ++i) {
    EXPECT_EQ(back.line_energy[i], lib.line_energy[i]);
    EXPECT_EQ(back.line_yield[i], lib.line_yield[i]);
    EXPECT_EQ(back.line_uncertainty[i], lib.line_uncertainty[i]);
    EXPECT_EQ(back.line_owner[i], lib.line_owner[i]);
  }
}

TEST(LibrarySave, UnwritablePathIsReportedAndKeepsModifiedFlag) {
  NuclideLibrary lib = sample_library();
  lib.modified = true;
  test::TempDir dir;
  ScriptedPlatform ui;
  std::string path = dir.file("no-folder/x.lib");
  EXPECT_EQ(save_library_file(ui, lib, path), 0);
  EXPECT_TRUE(ui.said("Error opening " + path));
  EXPECT_TRUE(lib.modified);
}

TEST(LibrarySave, UntitledLibraryAsksForNameAndConfirmsReplacing) {
  test::TempDir dir;
  Paths paths;
  paths.user_dir = dir.file("user");
  paths.program_dir = dir.file("prog");
  ASSERT_TRUE(make_directories(dir.file("prog/Libraries")));
  test::write_text(dir.file("prog/Libraries/Soil.lib"), "old");
  NuclideLibrary lib = sample_library();

  ScriptedPlatform ui;
  FileDialog chosen;
  chosen.paths = {"/anywhere/soil"};
  ui.save_results.push_back(chosen);
  ui.answers.push_back(kAnswerNo);
  EXPECT_EQ(save_library(ui, paths, lib), 0);
  ASSERT_EQ(ui.dialogs_shown.size(), 1u);
  EXPECT_EQ(ui.dialogs_shown[0].title, "Save current Library");
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Update the Library soil.lib ?");
  EXPECT_EQ(ui.messages[0].caption, "A Library with this name already exists");
  EXPECT_EQ(lib.title, "");

  ui.save_results.push_back(chosen);
  ui.answers.push_back(kAnswerYes);
  EXPECT_EQ(save_library(ui, paths, lib), 1);
  EXPECT_EQ(lib.title, "soil.lib");
  // Written to the user's folder; the shipped file is left alone.
  EXPECT_TRUE(file_exists(dir.file("user/Libraries/soil.lib")));
  EXPECT_EQ(test::read_text(dir.file("prog/Libraries/Soil.lib")), "old");
  EXPECT_EQ(library_read_path(paths, "SOIL.LIB"), dir.file("user/Libraries/soil.lib"));
}

TEST(LibrarySave, AskToSaveFollowsTheAnswer) {
  test::TempDir dir;
  Paths paths;
  paths.user_dir = dir.path();
  NuclideLibrary lib = sample_library();
  lib.title = "a.lib";

  ScriptedPlatform ui;
  lib.modified = true;
  ui.answers = {kAnswerCancel};
  EXPECT_EQ(ask_to_save_library(ui, paths, lib), 0);
  EXPECT_TRUE(lib.modified);
  EXPECT_EQ(ui.messages[0].text, "Save changes to library a.lib ?");
  EXPECT_EQ(ui.messages[0].caption, "The Library has been modified");
  EXPECT_EQ(ui.messages[0].style, kMsgYesNoCancel);

  ui.answers = {kAnswerNo};
  EXPECT_EQ(ask_to_save_library(ui, paths, lib), 1);
  EXPECT_FALSE(lib.modified);
  EXPECT_FALSE(file_exists(dir.file("Libraries/a.lib")));

  lib.modified = true;
  ui.answers = {kAnswerYes};
  EXPECT_EQ(ask_to_save_library(ui, paths, lib), 1);
  EXPECT_TRUE(file_exists(dir.file("Libraries/a.lib")));
}

TEST(HalfLifeUnits, DisplayPicksLargestFittingUnitAtTheEdges) {
  auto check = [](double minutes, double value, const char* unit) {
    HalfLifeDisplay d = display_half_life(minutes);
    EXPECT_DOUBLE_EQ(d.value, value) << minutes;
    EXPECT_STREQ(d.unit, unit) << minutes;
  };
  check(1000000.0, 1000000.0 / kMinutesPerYear, "Years");
  check(999999.0, 999999.0 / 1440.0, "Days");
  check(2880.0, 48.0, "Hours");
  check(2881.0, 2881.0 / 1440.0, "Days");
  check(100.0, 100.0, "Minutes");
  check(101.0, 101.0 / 60.0, "Hours");
}

TEST(HalfLifeUnits, EditorRefusesOtherLetters) {
  ScriptedPlatform ui;
  EXPECT_EQ(check_editor_half_life_unit(ui, 'D'), 1);
  EXPECT_EQ(check_editor_half_life_unit(ui, 'S'), 0);
  EXPECT_TRUE(ui.said("Halflife units should be  M, H, D or Y"));
}

}  // namespace
}  // namespace kestrim
