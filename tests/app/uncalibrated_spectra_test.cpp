// Real and hand-made spectra without an efficiency calibration through the
// kestrim command with the shipped Defaults: the analysis runs to the end,
// the results are count rates (cps) and say so, and the user's Defaults
// keep their activity unit. TKA files are read, and long ones compressed;
// without an energy calibration no nuclide is named.
#include <gtest/gtest.h>

#include <array>
#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "platform/c_format.h"
#include "platform/c_locale.h"
#include "support/test_support.h"

namespace kestrim {
namespace {

constexpr const char* kNotice =
    "The efficiency of this spectrum is not calibrated: the results are count rates (cps), not "
    "activities; activities need an efficiency calibration";

class Uncalibrated : public ::testing::Test {
 protected:
  int kestrim(const std::string& args, std::string* out, bool merge = true) {
    return test::run_command("cd '" + dir.path() + "' && XDG_DATA_HOME='" + dir.file("user") +
                                 "' '" + test::kestrim_binary() + "' " + args,
                             out, merge);
  }
  // The user's Defaults file the runs save into (one file in the user folder).
  std::string user_defaults() {
    std::string out;
    test::run_command("find '" + dir.file("user") + "' -type f -name 'Normal.*' | head -1", &out);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
  }
  test::TempDir dir;
};

TEST_F(Uncalibrated, CesiumSpeReportsCountRatesAndLeavesTheDefaultsAlone) {
  const std::string data = test::shared_data_dir();
  const std::string spe = data + "/spectra/spe/Cesium_137_Spectrum_180s_18Jan.Spe";
  if (data.empty() || test::read_bytes(spe).empty()) GTEST_SKIP() << "public spectra not found";

  // A first run makes the user's Defaults; the second must leave them as
  // they were (a successful run saves its parameters).
  std::string out;
  ASSERT_EQ(kestrim("/batch '/file=" + spe + "'", &out), 0) << out;
  const std::string defaults = user_defaults();
  ASSERT_FALSE(defaults.empty());
  const std::vector<std::uint8_t> before = test::read_bytes(defaults);
  ASSERT_FALSE(before.empty());

  ASSERT_EQ(kestrim("/batch '/file=" + spe + "'", &out), 0) << out;
  EXPECT_NE(out.find(std::string("kestrim: ") + kNotice + "\n"), std::string::npos) << out;
  EXPECT_EQ(test::read_bytes(defaults), before) << "the run changed the user's Defaults";
  std::string dump;
  ASSERT_EQ(kestrim("defaults dump '" + defaults + "'", &dump, false), 0);
  EXPECT_NE(dump.find("ACTU = \"Bq\""), std::string::npos) << dump;

  const std::string report = test::read_text(dir.file("Main Report.txt"));
  EXPECT_NE(report.find(std::string(" ") + kNotice + "\r\n"), std::string::npos) << report;
  EXPECT_NE(report.find("Cs-137"), std::string::npos) << report;
  EXPECT_NE(report.find("Specific activities are given in cps/"), std::string::npos) << report;

  // The JSON says the same: Cs-137 with its 662 keV rate, in cps.
  ASSERT_EQ(kestrim("analyse --json '" + spe + "'", &out, false), 0) << out;
  const nlohmann::json j = nlohmann::json::parse(out);
  EXPECT_EQ(j["efficiency_calibrated"], false);
  const nlohmann::json* cs = nullptr;
  for (const auto& n : j["nuclides"]) {
    EXPECT_EQ(n["unit"], "cps") << n.dump();
    if (n["name"].get<std::string>().rfind("Cs-137", 0) == 0) cs = &n;
  }
  ASSERT_NE(cs, nullptr) << j["nuclides"].dump();
  // 180 s live; the 662 keV peak holds about 1e5 counts: hundreds of cps
  // per emission (yield 0.85), never a becquerel figure scaled by a factor.
  EXPECT_GT((*cs)["activity_at_count_bq"].get<double>(), 100.0);
  EXPECT_LT((*cs)["activity_at_count_bq"].get<double>(), 2000.0);
  for (const auto& l : j["limits"]) EXPECT_EQ(l["unit"], "cps");
  EXPECT_EQ(test::read_bytes(defaults), before);
}

// A TKA file made by hand: 1000 s live, 1010 s real, and a Gaussian peak
// written over 16384 channels, four times the channels in use.
std::string tka_text(int lines, double centre, double sigma, double area) {
  std::string text = "1000\r\n1010\r\n";
  for (int k = 2; k < lines; ++k) {
    const double z = (k - centre) / sigma;
    const double c = 20 + area / (sigma * std::sqrt(2 * M_PI)) * std::exp(-0.5 * z * z);
    text += c_format("%.0f\r\n", std::floor(c));
  }
  return text;
}

TEST_F(Uncalibrated, TkaFilesAreReadAndLongOnesCompressed) {
  test::write_text(dir.file("short.tka"), tka_text(1024, 400, 8, 50000));
  test::write_text(dir.file("long.TKA"), tka_text(16384, 8000, 60, 50000));
  std::string out;
  ASSERT_EQ(kestrim("info --json short.tka", &out, false), 0) << out;
  nlohmann::json s = nlohmann::json::parse(out);
  EXPECT_EQ(s["format"], "TKA");
  EXPECT_EQ(s["channels"], 1024);
  EXPECT_EQ(s["live_time"], 1000.0);
  EXPECT_EQ(s["true_time"], 1010.0);

  ASSERT_EQ(kestrim("info --json long.TKA", &out, false), 0) << out;
  nlohmann::json l = nlohmann::json::parse(out);
  EXPECT_EQ(l["channels"], 4096);
  EXPECT_EQ(l["live_time"], 1000.0);
  // Every count is kept: the sum over channels 2.. equals the file's counts
  // from its line 9 on (lines 3-8 fall into compressed channels 0 and 1).
  double file_sum = 0;
  {
    const std::string text = tka_text(16384, 8000, 60, 50000);
    std::size_t pos = 0;
    for (int line = 0; line < 16384; ++line) {
      const std::size_t end = text.find('\n', pos);
      long count = 0;
      std::from_chars(text.data() + pos, text.data() + end, count);
      if (line >= 8) file_sum += static_cast<double>(count);
      pos = end + 1;
    }
  }
  EXPECT_EQ(l["total_counts"].get<double>(), file_sum);

  // A malformed file is refused with the reader's message.
  test::write_text(dir.file("bad.tka"), "1000\n1010\n12\nabc\n");
  EXPECT_EQ(kestrim("info bad.tka", &out), 1);
  EXPECT_NE(out.find("kestrim: This is not a TKA spectrum (one number per line)"), std::string::npos)
      << out;

  // The whole analysis: the peak is found at its channel, in cps.
  ASSERT_EQ(kestrim("analyse --json short.tka", &out, false), 0) << out;
  nlohmann::json a = nlohmann::json::parse(out);
  EXPECT_EQ(a["efficiency_calibrated"], false);
  bool found = false;
  for (const auto& p : a["peaks"])
    if (std::fabs(p["centre"].get<double>() - 400) < 2) {
      found = true;
      EXPECT_NEAR(p["area"].get<double>(), 50000, 3 * p["area_uncertainty"].get<double>() + 1000);
    }
  EXPECT_TRUE(found) << a["peaks"].dump();
  // A TKA file has no energy calibration: its peak at channel 400 names no
  // nuclide (a library line at "400 keV" would), no limit is given, and
  // the batch run and both reports say why.
  EXPECT_EQ(a["energy_calibrated"], false);
  EXPECT_TRUE(a["nuclides"].empty()) << a["nuclides"].dump();
  EXPECT_TRUE(a["limits"].empty()) << a["limits"].dump();
  const std::string notice =
      "The energy of this spectrum is not calibrated: no nuclide can be identified; the peaks are given by channel";
  ASSERT_EQ(kestrim("/batch /file=short.tka", &out), 0) << out;
  EXPECT_NE(out.find("kestrim: " + notice + "\n"), std::string::npos) << out;
  EXPECT_EQ(out.find(kNotice), std::string::npos) << out;
  EXPECT_NE(test::read_text(dir.file("Main Report.txt")).find(" " + notice + "\r\n"), std::string::npos);
  EXPECT_NE(test::read_text(dir.file("Activity Report.txt")).find(" " + notice + ".\r\n"), std::string::npos);
}

// An N42 spectrum at 3 keV per channel without a width calibration, its
// peaks `resolution` (FWHM / E) wide at 662 keV growing with sqrt(E): by
// default Cs-137 and Co-60 on a falling continuum, expected counts (no
// noise).
using Lines = std::vector<std::array<double, 2>>;  // keV, counts
std::string n42_text(double resolution,
                     const Lines& lines = {{661.66, 60000}, {1173.2, 20000}, {1332.5, 18000}}) {
  std::string counts;
  for (int x = 0; x < 1024; ++x) {
    const double e = 3.0 * x;
    double c = 2000 * std::exp(-e / 400) + 30;
    for (const auto& l : lines) {
      const double sigma = resolution * 661.66 * std::sqrt(l[0] / 661.66) / 2.355 / 3.0;  // channels
      const double z = (x - l[0] / 3.0) / sigma;
      c += l[1] / (sigma * std::sqrt(2 * M_PI)) * std::exp(-0.5 * z * z);
    }
    counts += c_format("%.0f ", std::round(c));
  }
  return "<N42InstrumentData><Measurement><Spectrum><LiveTime>PT1000S</LiveTime>"
         "<RealTime>PT1000S</RealTime><Calibration Type=\"Energy\"><Equation Model=\"Polynomial\">"
         "<Coefficients>0 3</Coefficients></Equation></Calibration><ChannelData>" +
         counts + "</ChannelData></Spectrum></Measurement></N42InstrumentData>";
}

// Peaks far narrower than NaI's (a LaBr3 detector) are searched and fitted
// at the resolution measured on the spectrum's strongest peak, and the run
// says so; NaI-wide peaks keep the NaI-typical resolution without a word.
TEST_F(Uncalibrated, WidthIsMeasuredWhenThePeaksAreNotNaIWide) {
  const std::string notice_start = "kestrim: The width of this spectrum is not calibrated: its peaks are ";
  struct Case {
    const char* file;
    double resolution;
    bool told;
  } cases[] = {{"labr.n42", 0.03, true}, {"nai.n42", 0.07, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    test::write_text(dir.file(c.file), n42_text(c.resolution));
    std::string out;
    ASSERT_EQ(kestrim(std::string("/batch /file=") + c.file, &out), 0) << out;
    EXPECT_EQ(out.find(notice_start) != std::string::npos, c.told) << out;
    if (c.told) {
      EXPECT_NE(out.find(notice_start + "20.1 keV wide (FWHM) at 663 keV, not NaI's 49.7 keV, and are "
                                        "searched and fitted at that resolution\n"),
                std::string::npos)
          << out;
    }
    ASSERT_EQ(kestrim(std::string("analyse --json ") + c.file, &out, false), 0) << out;
    const nlohmann::json a = nlohmann::json::parse(out);
    std::set<std::string> names;
    for (const auto& n : a["nuclides"]) names.insert(n["name"].get<std::string>().substr(0, 6));
    EXPECT_EQ(names, (std::set<std::string>{"Co-60", "Cs-137"})) << a["nuclides"].dump();
    const double truth[][2] = {{661.66, 60000}, {1173.2, 20000}, {1332.5, 18000}};
    for (const auto& t : truth) {
      bool found = false;
      for (const auto& p : a["peaks"])
        if (std::fabs(p["energy"].get<double>() - t[0]) < 5) {
          found = true;
          EXPECT_NEAR(p["area"].get<double>(), t[1], 0.03 * t[1]) << t[0] << " keV";
        }
      EXPECT_TRUE(found) << t[0] << " keV: " << a["peaks"].dump();
    }
  }
}

// A peak at a nuclide's principal energy without its as-strong line at a
// lower energy is not that nuclide: a Cs-137 count with a weak peak near
// 1332 keV and nothing at 1173 keV is not Co-60.
TEST_F(Uncalibrated, PrincipalPeakWithoutItsAsStrongPartnerNamesNothing) {
  test::write_text(dir.file("cs.n42"), n42_text(0.07, {{661.66, 60000}, {1332.5, 3000}}));
  std::string out;
  ASSERT_EQ(kestrim("analyse --json cs.n42", &out, false), 0) << out;
  const nlohmann::json a = nlohmann::json::parse(out);
  std::set<std::string> names;
  for (const auto& n : a["nuclides"]) names.insert(n["name"].get<std::string>().substr(0, 6));
  EXPECT_EQ(names, (std::set<std::string>{"Cs-137"})) << a["nuclides"].dump();
  ASSERT_EQ(kestrim("/batch /file=cs.n42", &out), 0) << out;
  EXPECT_NE(test::read_text(dir.file("Diagnostic Report.txt"))
                .find("No Peak at 1173.2 keV, as strong a line as the principal one"),
            std::string::npos);
}

}  // namespace
}  // namespace kestrim
