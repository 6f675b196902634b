// The CSV activity database: header and data passes, sections, switches,
// the line limit, new versus existing files.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "nuclides/lod.h"
#include "platform/files.h"
#include "report_fixture.h"
#include "reports/activity_database.h"
#include "platform/c_format.h"
#include "support/test_support.h"

namespace kestrim {
namespace {

using test::fill_state;
using test::kNow;

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void write_all(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

class ActivityDatabase : public ::testing::Test {
 protected:
  void SetUp() override {
    fill_state(state);
    state.paths.working_dir = dir.path();
    PeakList& p = state.peaks;
    p.count = 2;
    p.centre[1] = 100.0f;  // 300 keV
    p.centre[2] = 200.0f;  // 600 keV
    for (int k = 1; k <= 2; ++k) {
      p.net_area[k] = 500.0f;
      p.gps[k] = 10.0f;
      p.gps_pct[k] = 4.0f;
      p.fwhm_kev[k] = 42.5f;
    }
    state.results.peak_sum[2] = 1.0;  // peak 2 is explained
    NuclideResult r;
    r.name = "Cs-137";
    r.library_index = 0;
    r.activity = 10;
    r.uncertainty = 5;
    r.decay_corrected = 12.5;
    state.results.results = {r};
  }
  std::string data(const std::string& tpl) {
    TokenContext ctx(state, kNow);
    return database_line(state, ctx, tpl, false, nullptr);
  }
  std::string header(const std::string& tpl) {
    TokenContext ctx(state, kNow);
    std::string prefix;
    return database_line(state, ctx, tpl, true, &prefix);
  }
  test::TempDir dir;
  ScriptedPlatform ui;
  State state{ui};
};

const char* kTemplate =
    "Test database\r\n?SPCF ?DCYD\r\n?CORR ?%ERR\r\n?ACTS\r\nCs-137 (fission)\r\nAm-241\r\n"
    "?INT\r\n1020 5000\r\n?UNID\r\n";

// Checked by hand: the decay-corrected switch picks 12.5, percentages
// follow as %5.1f, the missing Am-241 writes zeros, the integral stops at
// channel 1023 and the unexplained peak at 300 keV ends the line.
TEST_F(ActivityDatabase, NewFileGetsHeaderThenExistingFileOnlyData) {
  for (int c = 1020; c < 1024; ++c) state.spectrum.counts[c] = 1;
  for (int c = 1024; c < 1100; ++c) state.spectrum.counts[c] = 5;  // past the last channel
  write_all(dir.file("dbase.tpl"), kTemplate);
  write_all(dir.file("dbase.CSV"), "\r\n");  // shorter than 3 bytes: new
  const std::string head =
      "\"Filename\",\"Decay Days\",\"Cs-137 (f\",\" \",\"Am-241\",\" \",\"1020-5000\","
      "\"Unidentified Energies\"\r\n";
  const std::string row = "\"soil_a.dat" + std::string(22, ' ') +
                          "\",\"     2\",1.2500e+01,  5.0,0.0000e+00,  0.0,  4,300.0,\r\n";
  ASSERT_EQ(update_activity_database(state), 1);
  EXPECT_EQ(read_all(dir.file("dbase.CSV")), head + row);
  ASSERT_EQ(update_activity_database(state), 1);
  EXPECT_EQ(read_all(dir.file("dbase.CSV")), head + row + row);
}

TEST_F(ActivityDatabase, OwnTemplateBeforeTheDefaultAndNoTemplateNoFile) {
  EXPECT_EQ(update_activity_database(state), 0);
  EXPECT_FALSE(file_exists(dir.file("dbase.CSV")));
  assign(state.params.database_name, "site7");
  write_all(dir.file("dbase.tpl"), "?SPCF\r\n");
  write_all(dir.file("site7.TPL"), "?DCYM\r\n");
  ASSERT_EQ(update_activity_database(state), 1);
  EXPECT_EQ(read_all(dir.file("site7.CSV")), "\"Decay Mins\",\r\n\"  180\",\r\n");
}

TEST_F(ActivityDatabase, HeaderTemplateGoesAheadOfTheHeaderLineOnly) {
  write_all(dir.file("dbase.tpl"), "?HEAD ?DCYD\r\n");
  write_all(dir.file("header.tpl"), "Site survey ?DCYM\r\n");
  ASSERT_EQ(update_activity_database(state), 1);
  ASSERT_EQ(update_activity_database(state), 1);
  EXPECT_EQ(read_all(dir.file("dbase.CSV")),
            "Site survey   180\r\n\r\n\"Decay Days\",\r\n\"     2\",\r\n\"     2\",\r\n");
}

TEST_F(ActivityDatabase, GammasPerSecondFallsBackToTheLimit) {
  const std::string tpl = "?GPSD\r\n900\r\n";
  state.params.unconditional_library_peaks = 1;
  EXPECT_EQ(data(tpl), "0.0000e+00,\r\n");
  state.params.unconditional_library_peaks = 0;
  state.params.lod_sigma = 1.645f;
  for (int c = 2; c < 1024; ++c) state.spectrum.counts[c] = 10;
  const double limit = limit_at_energy(state, 900, false, state.params.lod_type, nullptr);
  ASSERT_GT(limit, 0);
  // Without the decay-corrected switch the value is per unit of sample size.
  EXPECT_EQ(data(tpl), tidy_exponents(c_format("%11.4e", limit / 1.25)) + ",\r\n");
}

TEST_F(ActivityDatabase, ReportedPeakLeavesTheUnidentifiedList) {
  EXPECT_EQ(data("?UNID\r\n"), "300.0,\r\n");
  // 10 gammas/s over a 1.25 kg sample, 4 % written as an absolute 0.32
  // ("%9.2e" with a three-digit exponent, tidied to 8 characters).
  EXPECT_EQ(data("?AERR ?GPSD\r\n300.2\r\n?UNID\r\n"), "8.0000e+00,3.20e-01,\r\n");
  EXPECT_EQ(header("?AERR ?GPSD\r\n300.2\r\n?UNID\r\n"), "\"300.2\",\" \",\"Unidentified Energies\"\r\n");
}

TEST_F(ActivityDatabase, WidthAndChannelColumns) {
  const std::string tpl = "?FWHM\r\n600\r\n750\r\n?CHAN\r\n300\r\n";
  EXPECT_EQ(header(tpl), "\"FWHM\",\"FWHM\",\"Chan\",\r\n");
  EXPECT_EQ(data(tpl), " 42.50,, 100.0,\r\n");
}

TEST_F(ActivityDatabase, PositionColumns) {
  set_title(state.spectrum.header, "1.5 2.25 -3 BKG1", "");
  EXPECT_EQ(data("?CO_O\r\n"), "\"     1.500\",\"     2.250\",\"    -3.000\",\"BKG1\",\"B\",\r\n");
  EXPECT_EQ(header("?CO_O\r\n"),
            "\"          \",\"          \",\"          \",\"        \",\" \",\r\n");
}

TEST_F(ActivityDatabase, FileInUseRetriesUntilDismissed) {
  write_all(dir.file("dbase.tpl"), "?SPCF\r\n");
  int calls = 0;
  auto busy_twice = [&](const std::string& path, const char* mode) -> std::FILE* {
    if (++calls <= 2) {
      errno = EBUSY;
      return nullptr;
    }
    return std::fopen(path.c_str(), mode);
  };
  ui.answers = {kAnswerOk, kAnswerOk};
  ASSERT_EQ(update_activity_database(state, busy_twice), 1);
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(ui.texts().size(), 2u);
  EXPECT_TRUE(ui.said("The database file is in use by another application"));
  EXPECT_FALSE(state.app.abort_requested);

  // Dismissing the prompt gives up and stops the analysis.
  calls = 0;
  ui.answers = {kAnswerCancel};
  EXPECT_EQ(update_activity_database(state, busy_twice), 0);
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(state.app.abort_requested);
  // Other errors end the update with a message: the row was not written.
  const std::size_t before = ui.texts().size();
  auto missing = [](const std::string&, const char*) -> std::FILE* {
    errno = ENOENT;
    return nullptr;
  };
  EXPECT_EQ(update_activity_database(state, missing), 0);
  EXPECT_EQ(ui.texts().size(), before + 1);
  EXPECT_TRUE(ui.said("Could not open database file:- " + dir.file("dbase.CSV")));
}

// A continuum of 20 counts per channel below the peak and 10 above: over a
// 60 keV (20 channel) region the lower continuum is 400 counts and the
// upper 200, so the ratio to a 1000-count peak is 0.2.
TEST_F(ActivityDatabase, ComptonToPeakRatio) {
  state.peaks.count = 1;
  state.peaks.centre[1] = 200.0f;  // 600 keV
  state.peaks.net_area[1] = 1000.0f;
  // A constant peak sigma of 2 channels: the regions start 10 channels out.
  state.spectrum.calibration.width_terms = 1;
  state.spectrum.calibration.width = {2.0f, 0.0f, 0.0f};
  for (int c = 2; c < 1024; ++c) state.spectrum.counts[c] = c < 200 ? 20.0f : 10.0f;
  EXPECT_EQ(header("?COMP\r\n600\r\n60\r\n"), "\"Compton/Peak\",\r\n");
  EXPECT_EQ(data("?COMP\r\n600\r\n60\r\n"), "2.0000e-01,\r\n");
  EXPECT_EQ(data("?COMP\r\n900\r\n60\r\n"), "0.0,\r\n");  // no peak there
  EXPECT_EQ(data("?COMP\r\n600\r\n0\r\n"), "\r\n");      // a zero width writes nothing
  // A neighbour 12 channels up pushes the upper region past its end: no
  // upper continuum is left, the ratio is 400 / 1000.
  state.peaks.count = 2;
  state.peaks.centre[2] = 212.0f;
  state.peaks.net_area[2] = 50.0f;
  EXPECT_EQ(data("?COMP\r\n600\r\n60\r\n"), "4.0000e-01,\r\n");
}

TEST_F(ActivityDatabase, LineStopsAtTheLimit) {
  std::string tpl = "?ACTS\r\n";
  for (int i = 0; i < 400; ++i) tpl += "Cs-137\r\n";
  const std::string line = data(tpl);
  EXPECT_GE(line.size(), kDatabaseLineLimit);
  EXPECT_LT(line.size(), kDatabaseLineLimit + 14);  // one field and the line end past it
}

}  // namespace
}  // namespace kestrim
