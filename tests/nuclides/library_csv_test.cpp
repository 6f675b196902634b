#include "nuclides/library_csv.h"

#include <gtest/gtest.h>

#include "nuclides/library_bytes.h"
#include "platform/scripted_platform.h"
#include "support/test_support.h"

namespace kestrim {
namespace {

using test::LibraryBytes;

// A file in the writer's form whose texts need quoting and whose numbers
// have no short decimal form.
std::vector<std::uint8_t> awkward_file() {
  LibraryBytes f;
  f.marker("FFFFFFFE");
  f.nuclide("Abcdefgh", "Has, a comma and \"quotes\"", std::string(30, ' '), 1.0f / 3.0f, 2,
            0x09, 0.1f);
  f.line(1e-7f, 0.1f, 0.3f).line(661.657f, 0.8499f, 2.5e-6f);
  f.nuclide(" lead", "trailing ", "#hash", 6.5639808e14f, 0, 0x09, 0.0f);
  f.nuclide("", "", "", 0.0f, 0, 0x09, 0.0f);
  f.nuclide("Z", "", "", 0.0f, 1, 0x09, -0.0f).line(-1.0f, 0.0f, 0.0f);
  f.end();
  return f.b;
}

TEST(LibraryCsv, BinaryToCsvToBinaryIsByteIdentical) {
  test::TempDir dir;
  test::write_bytes(dir.file("a.lib"), awkward_file());
  ScriptedPlatform ui;
  NuclideLibrary lib;
  std::string error;
  ASSERT_EQ(load_library_file(ui, dir.file("a.lib"), lib, &error), 1);
  std::string csv = library_to_csv(lib);
  NuclideLibrary back;
  ASSERT_EQ(library_from_csv(csv, back, &error), 1) << error;
  std::vector<std::uint8_t> got = encode_library(back), want = awkward_file();
  ASSERT_EQ(got.size(), want.size());
  for (std::size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], want[i]) << "offset " << i;
}

TEST(LibraryCsv, HandWrittenRowsWithUnitsCommentsAndEmptyFields) {
  std::string csv =
      "# a comment, with a comma\r\n"
      "nuclide,Co-60,5.2711,Y,1332.492,Cobalt 60,\"DDEP, LNHB\"\r\n"
      "line, 1173.228 , 0.9985 ,0.0003\r\n"
      "\r\n"
      "line,1332.492,0.999826,\r\n"
      "nuclide,Tl-208,183.48,S,,\"Thallium \"\"208\"\"\",\n"
      "nuclide,I-131,8.0233,D,364.489,,\n"
      "nuclide,Pb-212,10.64,H,238.632,,\n"
      "nuclide,X,7,M,0,,\n";
  NuclideLibrary lib;
  std::string error;
  ASSERT_EQ(library_from_csv(csv, lib, &error), 1) << error;
  ASSERT_EQ(lib.nuclide_count, 5);
  EXPECT_FLOAT_EQ(lib.nuclides[0].half_life, static_cast<float>(5.2711 * 525960.0));
  EXPECT_EQ(to_string(lib.nuclides[0].data_source), "DDEP, LNHB");
  EXPECT_FLOAT_EQ(lib.nuclides[1].half_life, static_cast<float>(183.48 / 60.0));
  EXPECT_EQ(lib.nuclides[1].principal_energy, 0.0f);
  EXPECT_EQ(to_string(lib.nuclides[1].description), "Thallium \"208\"");
  EXPECT_FLOAT_EQ(lib.nuclides[2].half_life, static_cast<float>(8.0233 * 1440.0));
  EXPECT_FLOAT_EQ(lib.nuclides[3].half_life, static_cast<float>(10.64 * 60.0));
  EXPECT_FLOAT_EQ(lib.nuclides[4].half_life, 7.0f);
  ASSERT_EQ(lib.line_count, 2);
  EXPECT_FLOAT_EQ(lib.line_energy[0], 1173.228f);
  EXPECT_EQ(lib.line_uncertainty[1], 0.0f);
  EXPECT_EQ(lib.line_owner[1], 0);
}

TEST(LibraryCsv, BadRowsAreRefusedNamingTheRow) {
  struct Case {
    const char* csv;
    const char* error;
  } cases[] = {
      {"nuclide,Longername,1,M,0,,\n", "row 1: name longer than 8 characters"},
      {"#\nnuclide,A,1,W,0,,\n", "row 2: half-life unit \"W\" is not S, M, H, D or Y"},
      {"nuclide,A,x1,M,0,,\n", "row 1: half-life \"x1\" is not a number"},
      {"line,1,0.5,0\n", "row 1: a line row before any nuclide row"},
      {"nuclide,A,1,M,0,,\nline,1,,0\n", "row 2: yield \"\" is not a number"},
      {"nuclide,A,1,M,0\n", "row 1: a nuclide row has 7 fields"},
      {"nuclide,\"A,1,M,0,,\n", "row 1: a quoted field is not closed"},
      {"gamma,1,2,3\n", "row 1: unknown row kind \"gamma\" (nuclide or line)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.csv);
    NuclideLibrary lib;
    std::string error;
    EXPECT_EQ(library_from_csv(c.csv, lib, &error), 0);
    EXPECT_EQ(error, c.error);
  }
}

TEST(LibraryCsv, RefusesWhatTheLoadWouldCut) {
  std::string lines201 = "nuclide,A,1,M,0,,\n";
  for (int i = 0; i < 201; ++i) lines201 += "line,1,0.5,0\n";
  std::string nuclides399;
  for (int i = 0; i < 399; ++i) nuclides399 += "nuclide,A,1,M,0,,\n";
  std::string nuclides398 = nuclides399.substr(nuclides399.find('\n') + 1);
  NuclideLibrary lib;
  std::string error;
  EXPECT_EQ(library_from_csv(lines201, lib, &error), 0);
  EXPECT_EQ(error, "row 202: more than 200 lines for one nuclide");
  EXPECT_EQ(library_from_csv(nuclides399, lib, &error), 0);
  EXPECT_EQ(error, "row 399: more than 398 nuclides");
  EXPECT_EQ(library_from_csv(nuclides398, lib, &error), 1);
  EXPECT_EQ(lib.nuclide_count, 398);
}

TEST(LibraryCommand, ImportListAndExportRoundTrip) {
  test::TempDir dir;
  test::write_text(dir.file("in.csv"),
                   "nuclide,Cs-137,30.05,Y,661.657,Caesium 137,DDEP\n"
                   "line,661.657,0.8499,0.002\n"
                   "line,32.194,0.0364,0.0002\n");
  std::string k = test::kestrim_binary();
  std::string out;
  ASSERT_EQ(test::run_command(k + " library import-csv " + dir.file("in.csv") + " -o " +
                                  dir.file("one.lib"), &out, true), 0) << out;
  ASSERT_EQ(test::run_command(k + " library list " + dir.file("one.lib"), &out), 0);
  std::string tail = out.substr(out.find("\r\n") + 2);
  EXPECT_EQ(tail.substr(0, tail.find(" Principal")),
            "        Listing of Analysis Library one.lib\r\n\r\n"
            "   Cs-137 Caesium 137\r\n Data Source:- DDEP\r\n Half Life is   30.0500 Years\r\n");
  ASSERT_EQ(test::run_command(k + " library export-csv " + dir.file("one.lib") + " -o " +
                                  dir.file("back.csv"), &out, true), 0) << out;
  ASSERT_EQ(test::run_command(k + " library import-csv " + dir.file("back.csv") + " -o " +
                                  dir.file("two.lib"), &out, true), 0) << out;
  EXPECT_EQ(test::read_bytes(dir.file("one.lib")), test::read_bytes(dir.file("two.lib")));
  // Lines are saved in ascending energy.
  NuclideLibrary lib;
  ScriptedPlatform ui;
  std::string error;
  ASSERT_EQ(load_library_file(ui, dir.file("two.lib"), lib, &error), 1);
  EXPECT_FLOAT_EQ(lib.line_energy[0], 32.194f);
}

TEST(LibraryCommand, BadCsvFailsWithTheRow) {
  test::TempDir dir;
  test::write_text(dir.file("bad.csv"), "nuclide,A,1,Q,0,,\n");
  std::string out;
  EXPECT_EQ(test::run_command(test::kestrim_binary() + " library import-csv " +
                                  dir.file("bad.csv") + " -o " + dir.file("x.lib"), &out, true),
            1);
  EXPECT_NE(out.find("row 1: half-life unit"), std::string::npos) << out;
  EXPECT_FALSE(test::read_bytes(dir.file("x.lib")).size() > 0);
}

}  // namespace
}  // namespace kestrim
