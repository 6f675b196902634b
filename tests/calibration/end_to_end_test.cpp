// The worked calibration of data/examples/calibration run through the
// command line, and a second spectrum of the same source analysed with the
// detector file it produced.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cmath>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "cal_fixture.h"
#include "platform/binio.h"
#include "platform/c_locale.h"
#include "platform/files.h"
#include "calibration/calibration_checks.h"
#include "spectrum/background_record.h"
#include "peaks/peak_report_json.h"
#include "settings/defaults_file.h"
#include "spectrum/native_file.h"

namespace kestrim {
namespace {

using test::TempDir;

std::string example_dir() { return test::source_data_dir() + "/examples/calibration"; }

class WorkedCalibration : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* home = std::getenv("KESTRIM_HOME");
    if (!home || !*home) GTEST_SKIP() << "KESTRIM_HOME is not set (run the tests through ctest)";
    home_ = home;
    for (const char* name : {"mixed-source.dat", "mixed.enc", "mixed.shp", "mixed.efc"})
      test::write_bytes(dir_.file(name), test::read_bytes(example_dir() + "/" + name));
  }

  // Runs kestrim in the temporary folder with a private user folder.
  int kestrim(const std::string& args, std::string* out = nullptr) {
    return test::run_command("cd '" + dir_.path() + "' && KESTRIM_HOME='" + home_ +
                                 "' XDG_DATA_HOME='" + dir_.file("xdg") + "' '" +
                                 test::kestrim_binary() + "' " + args,
                             out, true);
  }

  CalibrationRecord section(const std::string& file, int geometry) {
    std::vector<std::uint8_t> bytes = test::read_bytes(dir_.file(file));
    CalibrationRecord rec;
    EXPECT_GE(bytes.size(), static_cast<std::size_t>(geometry * 512));
    if (bytes.size() >= static_cast<std::size_t>(geometry * 512))
      decode_calibration_record(bytes.data() + (geometry - 1) * 512, rec);
    return rec;
  }

  TempDir dir_;
  std::string home_;
};

// An energy calibration alone makes a new detector file from the one the
// calibration was read from (the shipped one): the width and every geometry
// section stay as they were.
TEST_F(WorkedCalibration, EnergyCalibrationAloneKeepsTheRestOfTheDetectorFile) {
  std::string out;
  ASSERT_EQ(kestrim("/batch /enecal /src=mixed /file=" + dir_.file("mixed-source.dat"), &out), 0) << out;
  const std::vector<std::uint8_t> shipped = test::read_bytes(home_ + "/Calibration/Det_01.cal");
  const std::vector<std::uint8_t> written = test::read_bytes(dir_.file("Det_01.cal"));
  ASSERT_GE(shipped.size(), 1024u);
  ASSERT_EQ(written.size(), shipped.size());
  // Geometry sections after the first are untouched.
  EXPECT_TRUE(std::equal(shipped.begin() + 512, shipped.end(), written.begin() + 512));
  CalibrationRecord before, after;
  decode_calibration_record(shipped.data(), before);
  decode_calibration_record(written.data(), after);
  EXPECT_EQ(after.width_terms, before.width_terms);
  EXPECT_EQ(after.width, before.width);
  EXPECT_EQ(after.high_eff, before.high_eff);
  EXPECT_EQ(after.energy_terms, 3);
}

TEST_F(WorkedCalibration, BatchCalibrationsGiveACompleteDetectorFile) {
  std::string out;
  ASSERT_EQ(kestrim("/batch /enecal /shape /effcal /src=mixed /lib=NaI_Analysis.lib /file=" +
                        dir_.file("mixed-source.dat"),
                    &out),
            0)
      << out;
  const CalibrationRecord cal = section("Det_01.cal", 1);
  // Energy: the simulation's E = 2 + 1.95 ch + 2e-5 ch^2, within 1 keV over
  // the calibrated range.
  EXPECT_EQ(cal.energy_terms, 3);
  EXPECT_EQ(cal.energy_count, 8);
  for (double ch : {30.0, 337.0, 932.0})
    EXPECT_NEAR(channel_to_energy(cal, ch), 2 + 1.95 * ch + 2e-5 * ch * ch, 1.0) << ch;
  // Shape: sigma (channels) = FWHM(E) / 2.355 / 1.95 with FWHM = 46.34 sqrt(E / 662).
  // The peaks standing apart are measured within 4 %; the first-order width
  // function the batch fits across a sqrt(E) law and the area weights of the
  // large low-energy peaks stays within 15 % of it.
  EXPECT_EQ(cal.width_terms, 2);
  EXPECT_EQ(cal.low_tail_terms, 2);
  const std::string shape = test::read_text(dir_.file("Det_01_shp.txt"));
  for (double e : {661.657, 1332.492}) {
    const double truth = 0.07 * 662 * std::sqrt(e / 662) / 2.355 / 1.95;
    char key[16];
    kestrim::c_snprintf(key, sizeof key, " %6.1f ", e);
    const std::size_t at = shape.find(key);
    ASSERT_NE(at, std::string::npos) << key;
    const double measured = kestrim::c_atof(shape.c_str() + at + 8);
    EXPECT_NEAR(measured / truth, 1.0, 0.04) << e;
    EXPECT_NEAR(width_at_channel(cal, energy_to_channel(cal, e)) / truth, 1.0, 0.15) << e;
  }
  // Efficiency of geometry 1: both curves, the crossover of the source
  // file, the description and the source uncertainty.
  EXPECT_EQ(cal.crossover, 200);
  EXPECT_EQ(cal.low_eff_terms, 3);
  EXPECT_EQ(cal.high_eff_terms, 3);
  EXPECT_EQ(to_string(cal.geometry_text), "1 L bottle of mixed source on end cap");
  EXPECT_EQ(cal.uncertainty, 3);
  EXPECT_EQ(cal.variance_stored, 1);
  EXPECT_GT(cal.efficiency_date.day, 0);
  // Above 600 keV, where the peaks stand apart, the curve is the
  // simulation's within 8 %.
  for (double e : {661.657, 898.042, 1332.492, 1836.07}) {
    const double x = std::log(e);
    const double truth = std::exp(-7.70 + 2.192 * x - 0.238 * x * x);
    EXPECT_NEAR(efficiency_at(cal, e) / truth, 1.0, 0.08) << e;
  }
  for (const char* report : {"Det_01_ene.txt", "Det_01_shp.txt", "Det_01_001.txt"}) {
    const std::string text = test::read_text(dir_.file(report));
    EXPECT_NE(text.find("Spectrum data file used:- mixed-source.dat\r\n"), std::string::npos) << report;
    EXPECT_EQ(text.find("Failed"), std::string::npos) << report;
  }
  EXPECT_EQ(test::read_bytes(dir_.file("Det_01.efp")).size() >= 512, true);
}

// Lists and source files that cannot give a right calibration are refused
// with a message naming the fault, exit status 1, and nothing of that
// calibration is saved.
TEST_F(WorkedCalibration, FaultyListsAndSourceFilesAreRefusedAndNothingIsSaved) {
  const std::string energies = test::read_text(dir_.file("mixed.enc"));
  const std::string source = test::read_text(dir_.file("mixed.efc"));
  auto replaced = [](std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
  };
  struct Case {
    const char* name;
    std::string enc, efc;
    const char* keywords;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"duplicate", replaced(energies, "661.657", "661.657\r\n 661.657"), source, "/enecal",
       " keV was paired with the peak at channel"},  // which energy depends on the peaks found
      {"extra", replaced(energies, "1332.492", "1332.492\r\n1460.820"), source, "/enecal",
       " keV was paired with the peak at channel"},
      {"nocoef", "Coefficients\n", source, "/enecal /update",
       "do not give an energy calibration (a positive gain is needed)"},
      {"unit", energies, replaced(source, "1500.0000   1.50  BQ", "1500.0000   1.50  XBQ"),
       "/enecal /shape /effcal", "Line 11 of "},
      {"baddate", energies, replaced(source, "2.00  BQ 1-Jun-2026", "2.00  BQ 31-Feb-2026"),
       "/enecal /shape /effcal", ": the reference date \"31-Feb-2026\" cannot be read"},
      {"future", energies, replaced(source, "2.00  BQ 1-Jun-2026", "2.00  BQ 1-Jan-2027"),
       "/enecal /shape /effcal", ": the reference date 1-Jan-2027 12:00 is after the start of the count"},
      {"fewlow", energies, replaced(source, "ACT  122.1    Co-57  1500.0000   2.00  BQ 1-Jun-2026 12:00\r\n", ""),
       "/enecal /shape /effcal",
       "The low energy curve needs at least 3 efficiency points at or below the crossover (200.0 keV); 2 were found"},
  };
  const std::vector<std::uint8_t> shipped = test::read_bytes(home_ + "/Calibration/Det_01.cal");
  ASSERT_GE(shipped.size(), 512u);
  CalibrationRecord shipped_first;
  decode_calibration_record(shipped.data(), shipped_first);
  for (const Case& c : cases) {
    std::remove(dir_.file("Det_01.cal").c_str());
    test::write_bytes(dir_.file(std::string(c.name) + ".enc"), std::vector<std::uint8_t>(c.enc.begin(), c.enc.end()));
    test::write_bytes(dir_.file(std::string(c.name) + ".shp"), test::read_bytes(dir_.file("mixed.shp")));
    test::write_bytes(dir_.file(std::string(c.name) + ".efc"), std::vector<std::uint8_t>(c.efc.begin(), c.efc.end()));
    std::string out;
    EXPECT_EQ(kestrim(std::string("/batch ") + c.keywords + " /src=" + c.name +
                          " /lib=NaI_Analysis.lib /file=" + dir_.file("mixed-source.dat"),
                      &out),
              1)
        << c.name;
    EXPECT_NE(out.find(c.message), std::string::npos) << c.name << ": " << out;
    EXPECT_NE(out.find("kestrim: Calibration was not completed"), std::string::npos) << c.name;
    if (std::string(c.keywords).find("effcal") == std::string::npos) {
      EXPECT_FALSE(file_exists(dir_.file("Det_01.cal"))) << c.name;
    } else {
      // The energy and shape calibrations before it are kept; the
      // efficiency stays the detector file's.
      const CalibrationRecord written = section("Det_01.cal", 1);
      EXPECT_EQ(written.high_eff, shipped_first.high_eff) << c.name;
      EXPECT_EQ(written.low_eff_terms, shipped_first.low_eff_terms) << c.name;
      EXPECT_EQ(written.crossover, shipped_first.crossover) << c.name;
    }
  }
}

// A foreign spectrum carries no detector number: its calibration reports
// and the detector file it is saved to share one number (1), so the
// reports describe the file that was written.
TEST_F(WorkedCalibration, AForeignSpectrumSavesAndReportsUnderOneDetectorNumber) {
  SpectrumRecord rec;
  BackgroundRecord bkg;
  NativeReadResult result;
  ASSERT_EQ(read_native(test::read_bytes(dir_.file("mixed-source.dat")), rec, bkg, {}, result), 1);
  const int n = rec.header.channels;
  // An Ortec CHN file: a 32-byte header, then 32-bit counts.
  std::vector<std::uint8_t> chn(32 + 4 * static_cast<std::size_t>(n), 0);
  bin::put_i16(chn.data(), -1);
  bin::put_i16(chn.data() + 2, 1);
  bin::put_i16(chn.data() + 4, 1);
  bin::put_text(chn.data() + 6, 2, "00", false);
  bin::put_i32(chn.data() + 8, static_cast<std::int32_t>(rec.counts[1] * 50));
  bin::put_i32(chn.data() + 12, static_cast<std::int32_t>(rec.counts[0] * 50));
  bin::put_text(chn.data() + 16, 8, "07DEC261", false);
  bin::put_text(chn.data() + 24, 4, "0900", false);
  bin::put_i16(chn.data() + 30, static_cast<std::int16_t>(n));
  for (int ch = 2; ch < n; ++ch)
    bin::put_i32(chn.data() + 32 + 4 * ch, static_cast<std::int32_t>(rec.counts[ch]));
  test::write_bytes(dir_.file("mixed.chn"), chn);
  std::string out;
  ASSERT_EQ(kestrim("/batch /enecal /shape /src=mixed /file=" + dir_.file("mixed.chn"), &out), 0) << out;
  for (const char* name : {"Det_01.cal", "Det_01_ene.txt", "Det_01_shp.txt"})
    EXPECT_TRUE(file_exists(dir_.file(name))) << name;
  for (const char* name : {"Det_00.cal", "Det_00_ene.txt", "Det_00_shp.txt"})
    EXPECT_FALSE(file_exists(dir_.file(name))) << name;
}

// Nuclide names of a source file ignore case, as the library's do.
TEST_F(WorkedCalibration, SourceFileNamesIgnoreCase) {
  std::string source = test::read_text(dir_.file("mixed.efc"));
  for (const char* from : {"Cs-137", "Co-60", "Co-60"}) {
    const std::size_t at = source.find(from);
    ASSERT_NE(at, std::string::npos);
    std::string upper = from;
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    source.replace(at, upper.size(), upper);
  }
  test::write_bytes(dir_.file("mixed.efc"), std::vector<std::uint8_t>(source.begin(), source.end()));
  std::string out;
  ASSERT_EQ(kestrim("/batch /enecal /shape /effcal /src=mixed /lib=NaI_Analysis.lib /file=" +
                        dir_.file("mixed-source.dat"),
                    &out),
            0)
      << out;
  const std::string report = test::read_text(dir_.file("Det_01_001.txt"));
  for (const char* line : {"\r\n          661.7  ", "\r\n         1173.2  ", "\r\n         1332.5  "})
    EXPECT_NE(report.find(line), std::string::npos) << line << report;
  EXPECT_EQ(out.find("was not in the Library"), std::string::npos) << out;
}

TEST_F(WorkedCalibration, AKnownSpectrumIsAnalysedWithTheResult) {
  ASSERT_EQ(kestrim("/batch /enecal /shape /effcal /src=mixed /lib=NaI_Analysis.lib /file=" +
                    dir_.file("mixed-source.dat")),
            0);
  // Another count of the same source: other noise, half the live time.
  std::string out;
  ASSERT_EQ(kestrim("simulate --preset calibration --seed 99 --live-time 1800 -o " +
                        dir_.file("known.dat"),
                    &out),
            0)
      << out;
  const nlohmann::json truth = nlohmann::json::parse(test::read_text(dir_.file("known.truth.json")));

  ScriptedPlatform ui;
  State state(ui);
  state.paths.working_dir = dir_.path();
  BackgroundRecord background;
  NativeReadResult result;
  ASSERT_EQ(read_native(test::read_bytes(dir_.file("known.dat")), state.spectrum, background, {}, result), 1);
  state.spectrum.calibration = section("Det_01.cal", 1);
  DefaultsFileImage defaults;
  const std::vector<std::uint8_t> normal = test::read_bytes(home_ + "/DefaultFiles/Normal.000");
  ASSERT_EQ(parse_defaults_file(normal.data(), normal.size(), defaults), kDefaultsParsedOk);
  state.params = defaults.params;
  ASSERT_EQ(search_and_fit_all(state), 1);

  // Activity at the start of the count from each well-separated line:
  // rate / (yield x efficiency), compared with the simulation's truth at the
  // combined uncertainty of the area, the efficiency fit and the 3 % source
  // certificate, at k = 2.
  const CalibrationContext ctx{};
  int checked = 0;
  for (const auto& n : truth["nuclides"]) {
    for (const auto& line : n["lines"]) {
      const double e = line["energy_kev"];
      if (e < 600) continue;  // the low-energy lines overlap on NaI
      int best = 0;
      double dist = 1e9;
      for (int k = 1; k <= state.peaks.count; ++k) {
        const double d = std::fabs(channel_to_energy(state.spectrum.calibration, state.peaks.centre[k]) - e);
        if (d < dist) {
          dist = d;
          best = k;
        }
      }
      ASSERT_LT(dist, 10) << e;
      const EfficiencyWithUncertainty eff = efficiency_with_uncertainty(state.spectrum.calibration, e, ctx);
      const double rate = state.peaks.net_area[best] / 1800.0;
      const double activity = rate / (static_cast<double>(line["yield"]) * eff.efficiency);
      const double expected = static_cast<double>(n["activity_bq_count_start"]);
      const double rel = std::sqrt(std::pow(state.peaks.net_area_pct[best] / 100 / state.params.peak_sigma, 2) +
                                   eff.relative_variance + 0.03 * 0.03);
      EXPECT_NEAR(activity / expected, 1.0, 2 * rel) << n["nuclide"] << " " << e;
      ++checked;
    }
  }
  EXPECT_EQ(checked, 5);
}

}  // namespace
}  // namespace kestrim

namespace kestrim {
namespace {

TEST_F(WorkedCalibration, AutoRecalibrationOfASavedCalibratedSpectrum) {
  std::string out;
  // Energy calibration saved into the spectrum, then matched again.
  ASSERT_EQ(kestrim("/batch /enecal /update /src=mixed /file=" + dir_.file("mixed-source.dat"), &out), 0)
      << out;
  ASSERT_EQ(kestrim("/batch /autocal /file=" + dir_.file("mixed-source.dat"), &out), 0) << out;
  const std::string report = test::read_text(dir_.file("Det_01_aut.txt"));
  EXPECT_NE(report.find("Auto-Energy Calibration Report for Detector number 1\r\n"), std::string::npos);
  EXPECT_NE(report.find("\r\n Order of Fit used:- 3\r\n"), std::string::npos) << report;
  // Every stored energy found its peak again: eight lines of five numbers
  // (channel, original, reference and fitted energy, difference).
  int points = 0;
  std::size_t start = 0;
  while (start < report.size()) {
    std::size_t end = report.find('\n', start);
    if (end == std::string::npos) end = report.size();
    double v[5];
    if (kestrim::c_sscanf(report.substr(start, end - start).c_str(), "%lf %lf %lf %lf %lf", &v[0], &v[1],
                    &v[2], &v[3], &v[4]) == 5)
      ++points;
    start = end + 1;
  }
  EXPECT_EQ(points, 8) << report;
  EXPECT_EQ(report.find("Failed"), std::string::npos);
}

}  // namespace
}  // namespace kestrim
