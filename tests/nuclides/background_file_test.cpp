#include "nuclides/background_file.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "app/state.h"
#include "peaks/peak_fit_report.h"
#include "peaks/peak_search.h"
#include "platform/binio.h"
#include "platform/files.h"
#include "platform/scripted_platform.h"
#include "support/test_support.h"

namespace kestrim {
namespace {

// A file made by hand from the documented offsets (the record starts after
// the two marker bytes).
std::vector<std::uint8_t> hand_made_file() {
  std::vector<std::uint8_t> b(2482, 0);
  b[0] = 0xFF;
  b[1] = 0x00;
  std::uint8_t* r = b.data() + 2;
  bin::put_i16(r + 0, 3);
  const std::int16_t when[5] = {14, 3, 2025, 9, 41};
  for (int i = 0; i < 5; ++i) bin::put_i16(r + 2 + 2 * i, when[i]);
  std::memcpy(r + 12, "LABBKG25.DAT", 12);
  std::memcpy(r + 28, "Lead castle, empty", 18);
  bin::put_f32(r + 76, 250000.0f);
  const float e[3] = {238.6f, 609.3f, 1460.8f};
  for (int i = 0; i < 3; ++i) {
    bin::put_f32(r + 80 + 4 * i, e[i]);
    bin::put_f32(r + 880 + 4 * i, 0.01f * (i + 1));
    bin::put_f32(r + 1680 + 4 * i, 0.001f * (i + 1));
  }
  bin::put_f32(r + 2476, 7.5f);  // the last uncertainty slot
  return b;
}

TEST(BackgroundRecord, HandMadeBytesDecodeAtTheirOffsetsAndEncodeBack) {
  std::vector<std::uint8_t> bytes = hand_made_file();
  BackgroundRecord rec;
  ASSERT_EQ(decode_background_file(bytes, rec), 1);
  EXPECT_EQ(rec.peaks(), 3);
  EXPECT_EQ(rec.collected, (DateTime{14, 3, 2025, 9, 41}));
  EXPECT_EQ(to_string(rec.file_name), "LABBKG25.DAT");
  EXPECT_EQ(to_string(rec.title), "Lead castle, empty");
  EXPECT_EQ(rec.live_time, 250000.0f);
  EXPECT_EQ(rec.energy[1], 609.3f);
  EXPECT_EQ(rec.rate[2], 0.03f);
  EXPECT_EQ(rec.rate_sigma[0], 0.001f);
  EXPECT_EQ(rec.rate_sigma[199], 7.5f);
  EXPECT_EQ(encode_background_file(rec), bytes);
}

TEST(BackgroundRecord, DamagedCountIsLimitedAndMarkerChecked) {
  std::vector<std::uint8_t> bytes = hand_made_file();
  BackgroundRecord rec;
  bin::put_i16(bytes.data() + 2, 900);
  ASSERT_EQ(decode_background_file(bytes, rec), 1);
  EXPECT_EQ(rec.peaks(), 200);
  bin::put_i16(bytes.data() + 2, -4);
  ASSERT_EQ(decode_background_file(bytes, rec), 1);
  EXPECT_EQ(rec.peaks(), 0);
  bytes[0] = 0xFE;
  EXPECT_EQ(decode_background_file(bytes, rec), -1);
  bytes[0] = 0xFF;
  bytes.resize(2481);
  EXPECT_EQ(decode_background_file(bytes, rec), -2);
}

struct Session {
  ScriptedPlatform ui;
  std::unique_ptr<State> st = std::make_unique<State>(ui);
  test::TempDir dir;
  Session() {
    st->paths.working_dir = dir.path();
    assign(st->params.background_dir, dir.path());
  }
};

TEST(BackgroundFile, LoadReportsEveryFailureAndLeavesNoPeaks) {
  Session s;
  State& st = *s.st;
  st.background.count = 5;
  st.app.background_name = "none.bkg";
  EXPECT_EQ(load_background(st), 0);
  EXPECT_TRUE(s.ui.said("Warning, could not open Background data file:- none.bkg"));
  EXPECT_EQ(st.background.peaks(), 0);

  std::vector<std::uint8_t> bytes = hand_made_file();
  bytes[0] = 0x00;
  test::write_bytes(s.dir.file("bad.bkg"), bytes);
  st.background.count = 5;
  st.app.background_name = "bad.bkg";
  EXPECT_EQ(load_background(st), 0);
  EXPECT_TRUE(s.ui.said("bad.bkg is not a valid Background File."));
  EXPECT_EQ(st.background.peaks(), 0);

  bytes = hand_made_file();
  bytes.resize(1000);
  test::write_bytes(s.dir.file("short.bkg"), bytes);
  st.app.background_name = "short.bkg";
  EXPECT_EQ(load_background(st), 0);
  EXPECT_TRUE(s.ui.said("Error Reading Background File"));

  test::write_bytes(s.dir.file("Good.BKG"), hand_made_file());
  st.app.background_name = "good.bkg";  // found ignoring case
  EXPECT_EQ(load_background(st), 1);
  EXPECT_EQ(st.background.peaks(), 3);
}

TEST(BackgroundFile, NameRules) {
  Session s;
  State& st = *s.st;
  std::string name;
  const std::string d = s.dir.path();
  EXPECT_EQ(accept_background_name(st, "ABCDEFGH.BKG", d, true, name), 1);
  EXPECT_EQ(name, "abcdefgh.bkg");
  EXPECT_EQ(st.params.background_cps_subtraction, 1);
  EXPECT_EQ(to_string(st.params.background_file), "abcdefgh.bkg");

  s.ui.messages.clear();
  EXPECT_EQ(accept_background_name(st, "abcdefghi.bkg", d, true, name), 0);
  EXPECT_TRUE(s.ui.said("The complete filename name should be 12 or less characters"));
  // No dot: ".bkg" is appended before the length test.
  s.ui.messages.clear();
  EXPECT_EQ(accept_background_name(st, "abcdefghi", d, true, name), 0);
  EXPECT_TRUE(s.ui.said("The complete filename name should be 12 or less characters"));
  EXPECT_EQ(accept_background_name(st, "abcdefgh", d, true, name), 1);
  EXPECT_EQ(name, "abcdefgh.bkg");
  s.ui.messages.clear();
  EXPECT_EQ(accept_background_name(st, "lab.txt", d, true, name), 0);
  EXPECT_TRUE(s.ui.said("The filename extension:- BKG should be used"));

  // Saving over an existing file asks; selecting a missing one is refused.
  test::write_bytes(s.dir.file("lab.bkg"), hand_made_file());
  s.ui.answers = {kAnswerNo, kAnswerYes};
  EXPECT_EQ(accept_background_name(st, "lab", d, true, name), 0);
  ASSERT_FALSE(s.ui.messages.empty());
  EXPECT_EQ(s.ui.messages.back().text, "Overwrite Background file lab.bkg ?");
  EXPECT_EQ(s.ui.messages.back().caption, "The Background data file already exists");
  EXPECT_EQ(accept_background_name(st, "lab", d, true, name), 1);
  EXPECT_EQ(accept_background_name(st, "lab", d, false, name), 1);
  EXPECT_EQ(accept_background_name(st, "gone", d, false, name), 0);
  EXPECT_TRUE(s.ui.said("Background file gone.bkg was not found"));
}

TEST(BackgroundFile, DialogStatusAsksToSelectOnlyWhenANameIsKnown) {
  Session s;
  EXPECT_EQ(background_dialog_status(*s.st), "Enter the required Background filename, then select 'Open'");
  assign(s.st->spectrum.calibration.background_name, "det4.bkg");
  EXPECT_EQ(background_dialog_status(*s.st), "Select the required Background filename, then select 'Open'");
}

TEST(BackgroundFile, ListingShowsValidFilesWithTitles) {
  Session s;
  test::write_bytes(s.dir.file("b.bkg"), hand_made_file());
  std::vector<std::uint8_t> other = hand_made_file();
  std::memcpy(other.data() + 2 + 28, "Second\0", 7);
  test::write_bytes(s.dir.file("A.BKG"), other);
  std::vector<std::uint8_t> bad = hand_made_file();
  bad[0] = 0x01;
  test::write_bytes(s.dir.file("bad.bkg"), bad);
  test::write_bytes(s.dir.file("c.dat"), hand_made_file());
  test::write_bytes(s.dir.file("tiny.bkg"), {0xFF, 0x00});
  std::vector<BackgroundListing> l = list_background_files(s.dir.path());
  ASSERT_EQ(l.size(), 3u);
  EXPECT_EQ(l[0].file_name, "A.BKG");
  EXPECT_EQ(l[0].title, "Second");
  EXPECT_EQ(l[1].file_name, "b.bkg");
  EXPECT_EQ(l[1].title, "Lead castle, empty");
  EXPECT_EQ(l[2].title, "");
}

// An analysed spectrum of `n` fitted peaks, area 100 k at `pct` per cent.
void fill_peaks(State& st, int n, float pct) {
  st.spectrum.clear();
  st.spectrum.header.channels = 4096;
  st.spectrum.header.live_time = 1000;
  st.spectrum.calibration.energy_terms = 2;
  st.spectrum.calibration.energy = {0.0f, 1.0f, 0.0f};
  st.app.current_file = "a_rather_long_name.dat";
  PeakList& list = st.peaks;
  list.count = n;
  for (int k = 1; k <= n; ++k) {
    list.centre[k] = static_cast<float>(10 * k);
    list.net_area[k] = static_cast<float>(100 * k);
    list.net_area_pct[k] = pct;
    list.fitted_flag[k] = 1;
  }
}

TEST(BackgroundFile, SaveTakesGoodPeaksAndStopsAfterTwoHundred) {
  Session s;
  State& st = *s.st;
  fill_peaks(st, 204, 10);  // 201 qualify
  st.peaks.net_area_pct[1] = 100;  // exactly 100 %: not saved
  st.peaks.net_area[2] = 0;        // no area: not saved
  st.peaks.fitted_flag[3] = 0;     // not fitted: not saved
  ASSERT_EQ(save_background(st, "lab.bkg", false), 1);
  int warnings = 0;
  for (const auto& m : s.ui.messages)
    if (m.text == "Warning, can only save 200 Peaks") {
      ++warnings;
      EXPECT_EQ(m.caption, " ");
    }
  EXPECT_EQ(warnings, 1);
  EXPECT_TRUE(s.ui.said("Background data file:- lab.bkg saved"));
  const BackgroundRecord& rec = st.background;  // loaded again from the file
  ASSERT_EQ(rec.peaks(), 200);
  EXPECT_FLOAT_EQ(rec.energy[0], 40);  // peak 4 is the first taken
  EXPECT_FLOAT_EQ(rec.rate[0], 0.4f);
  EXPECT_FLOAT_EQ(rec.rate_sigma[0], 0.04f);
  EXPECT_FLOAT_EQ(rec.energy[199], 2030);  // peak 203 is the 200th taken, 204 is refused
  EXPECT_EQ(to_string(rec.file_name), "a_rather_long_n");
  EXPECT_EQ(rec.live_time, 1000);
  EXPECT_EQ(test::read_bytes(s.dir.file("lab.bkg")).size(), 2482u);
  EXPECT_EQ(st.params.background_cps_subtraction, 1);
  EXPECT_EQ(st.app.background_name, "lab.bkg");
}

TEST(BackgroundFile, SavingAnUnfinishedAnalysisAsksFirst) {
  Session s;
  State& st = *s.st;
  fill_peaks(st, 3, 10);
  st.peaks.fitted = false;
  s.ui.answers = {kAnswerNo};
  EXPECT_EQ(save_analysed_background(st, "part.bkg", false), 0);
  EXPECT_TRUE(s.ui.said("Not all the Peaks have been fitted, do you want to Continue?"));
  EXPECT_FALSE(file_exists(s.dir.file("part.bkg")));
  s.ui.answers = {kAnswerYes};
  EXPECT_EQ(save_analysed_background(st, "part.bkg", false), 1);
  EXPECT_EQ(st.background.peaks(), 3);
}

// Subtraction on a sample of peaks at the given energies (1 keV per channel).
struct Subtraction : Session {
  Subtraction(std::vector<double> energies, float area, float pct) {
    fill_peaks(*st, static_cast<int>(energies.size()), pct);
    st->params.energy_tolerance = 2;
    st->params.max_peak_uncertainty = 50;
    for (std::size_t i = 0; i < energies.size(); ++i) {
      st->peaks.centre[i + 1] = static_cast<float>(energies[i]);
      st->peaks.net_area[i + 1] = area;
    }
    st->spectrum.header.live_time = 100;
  }
  void background(std::vector<float> e, float rate, float sigma) {
    st->background = BackgroundRecord{};
    st->background.count = static_cast<std::int16_t>(e.size());
    for (std::size_t i = 0; i < e.size(); ++i) {
      st->background.energy[i] = e[i];
      st->background.rate[i] = rate;
      st->background.rate_sigma[i] = sigma;
    }
  }
  std::string run(int k) {
    std::string lines;
    subtract_background_peak(*st, k, st->peaks.centre[k], lines);
    return lines;
  }
};

TEST(BackgroundSubtraction, WindowEndsAreOpen) {
  // ETOL 2 at 1000 keV: T = 0.5 + 1.5 = 2 keV exactly.
  ASSERT_EQ(energy_tolerance(Subtraction({1000}, 1, 1).st->params, 1000), 2.0);
  for (float eb : {998.0f, 1002.0f}) {
    Subtraction s({1000}, 500, 10);
    s.background({eb}, 1, 0.1f);
    EXPECT_EQ(s.run(1), "") << eb;
    EXPECT_EQ(s.st->peaks.net_area[1], 500);
  }
  Subtraction s({1000}, 500, 10);
  s.background({1001.99f}, 1, 0.1f);
  EXPECT_NE(s.run(1), "");
}

// Around the annihilation line the window is the whole energy tolerance
// (2 keV here), as in identification, not the narrower 0.5 + 0.0015 E.
TEST(BackgroundSubtraction, AnnihilationLineTakesTheWholeTolerance) {
  Subtraction s({511}, 500, 10);
  ASSERT_LT(energy_tolerance(s.st->params, 511), 1.3);
  s.background({512.8f}, 1, 0.1f);
  EXPECT_NE(s.run(1), "");
  EXPECT_NEAR(s.st->peaks.net_area[1], 400, 1e-3);
  Subtraction beside({509}, 500, 10);
  beside.background({510.8f}, 1, 0.1f);
  EXPECT_EQ(beside.run(1), "");
}

TEST(BackgroundSubtraction, RemainingAreaCarriesTheCombinedUncertainty) {
  Subtraction s({1000}, 500, 10);
  s.background({995, 1000.5f}, 2, 0.1f);  // the first inside the window is used
  const std::string lines = s.run(1);
  // B = 2 x 100 = 200 (5 %); sigma_B = 10, sigma_S = 50; net 300;
  // sqrt(100 + 2500) / 300 = 17.0 %.
  const double pct = std::sqrt(2600.0) * 100 / 300;
  EXPECT_NEAR(s.st->peaks.net_area[1], 300, 1e-3);
  EXPECT_NEAR(s.st->peaks.net_area_pct[1], pct, 1e-3);
  EXPECT_NEAR(s.st->peaks.gps[1], 3.0, 1e-4);
  EXPECT_EQ(lines,
            " Background Peak found at:- 1000.5 keV,      200    5.0\r\n"
            " Remaining Area at 1000.0 keV is:-           300   17.0   3.0000e+00   17.0\r\n");
}

TEST(BackgroundSubtraction, PeakEqualToTheBackgroundIsEliminated) {
  Subtraction s({1000}, 200, 10);
  s.background({1000}, 2, 0.1f);
  s.st->peaks.gps[1] = 2;
  EXPECT_EQ(s.run(1),
            " Background Peak found at:- 1000.0 keV,      200    5.0\r\n"
            " This Peak was Eliminated.\r\n");
  EXPECT_EQ(s.st->peaks.net_area[1], 0);
  EXPECT_EQ(s.st->peaks.gps[1], 0);
}

TEST(BackgroundSubtraction, UncertaintyAtTheLimitRemainsAboveIsEliminated) {
  // Area 200 at 0 %, B = 100 +- 50: net 100 at exactly 50 %.
  Subtraction at({1000}, 200, 0);
  at.background({1000}, 1, 0.5f);
  at.run(1);
  EXPECT_EQ(at.st->peaks.net_area[1], 100);
  Subtraction above({1000}, 200, 0);
  above.background({1000}, 1, 0.51f);
  above.run(1);
  EXPECT_EQ(above.st->peaks.net_area[1], 0);
}

TEST(BackgroundSubtraction, BackgroundPeakCloserToTheNextPeakIsLeftForIt) {
  Subtraction s({1000, 1003}, 500, 10);  // both windows hold 1002
  s.background({1002}, 1, 0.1f);
  EXPECT_EQ(s.run(1), "");
  EXPECT_EQ(s.st->peaks.net_area[1], 500);
  EXPECT_NE(s.run(2), "");
  EXPECT_EQ(s.st->peaks.net_area[2], 400);
}

}  // namespace
}  // namespace kestrim
