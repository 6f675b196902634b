// Runs a lab can rely on, through the kestrim command with the shipped
// Defaults and libraries: damaged or unusual inputs and files that cannot be
// written give a message and a failing status, and nothing the user had is
// lost or silently changed.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>
#include <regex>
#include <sstream>

#include "platform/binio.h"
#include "platform/c_format.h"
#include "platform/c_locale.h"
#include "platform/files.h"
#include "platform/text_encoding.h"
#include "spectrum/native_file.h"
#include "support/test_support.h"

namespace kestrim {
namespace {

class TrustedRuns : public ::testing::Test {
 protected:
  TrustedRuns() { make_directories(dir.file("work")); }

  // Runs kestrim in the working folder with a private user folder.
  int kestrim(const std::string& args, std::string* out = nullptr) {
    std::string ignored;
    return test::run_command("cd '" + dir.file("work") + "' && XDG_DATA_HOME='" + dir.file("user") +
                                 "' '" + test::kestrim_binary() + "' " + args + " 2>&1",
                             out ? out : &ignored, true);
  }
  std::string work(const std::string& name) const { return dir.file("work/" + name); }
  std::string example() const { return test::source_data_dir() + "/examples/example-nai.dat"; }

  // The shipped Defaults with some settings changed, made into the user's
  // Defaults file 0 by `kestrim defaults make`.
  void use_defaults(const std::vector<std::pair<std::string, std::string>>& changes) {
    std::istringstream in(test::read_text(test::source_data_dir() + "/DefaultFiles/Normal.txt"));
    std::string text, line;
    while (std::getline(in, line)) {
      for (const auto& [key, value] : changes) {
        if (line.rfind(key + " ", 0) == 0 || line.rfind(key + "=", 0) == 0) line = key + " = " + value;
      }
      text += line + "\n";
    }
    test::write_text(dir.file("defaults.txt"), text);
    make_directories(dir.file("user/kestrim/DefaultFiles"));
    std::string out;
    ASSERT_EQ(kestrim("defaults make '" + dir.file("defaults.txt") + "' -o '" +
                          dir.file("user/kestrim/DefaultFiles/Normal.000") + "'",
                      &out),
              0)
        << out;
  }

  // The example spectrum with its header changed, written to the working folder.
  std::string example_with(const std::string& name,
                           const std::function<void(std::vector<std::uint8_t>&)>& change) {
    std::vector<std::uint8_t> bytes = test::read_bytes(example());
    change(bytes);
    test::write_bytes(work(name), bytes);
    return work(name);
  }
  static void put_title(std::vector<std::uint8_t>& bytes, const std::string& title) {
    for (int i = 0; i < 48; ++i)
      bytes[header_offset::kTitle + i] = i < static_cast<int>(title.size()) ? title[i] : ' ';
  }

  test::TempDir dir;
};

// Latin-1 / Windows-1252 text in a header is shown and exported as UTF-8
// (the JSON writer used to abort on it).
TEST_F(TrustedRuns, LegacyHeaderTextIsShownAsUtf8) {
  const std::string file = example_with("latin.dat", [](std::vector<std::uint8_t>& b) {
    put_title(b, "Boden M\xFC" "nchen \x80 5");
    const char user[] = "J\xF6rg";
    for (int i = 0; i < 5; ++i) b[header_offset::kUser + i] = static_cast<std::uint8_t>(user[i]);
  });
  std::string out;
  ASSERT_EQ(kestrim("info --json '" + file + "'", &out), 0) << out;
  nlohmann::json j = nlohmann::json::parse(out);
  EXPECT_EQ(j["title"].get<std::string>().substr(0, 20), "Boden M\xC3\xBCnchen \xE2\x82\xAC 5");
  EXPECT_EQ(j["user"], "J\xC3\xB6rg");
  ASSERT_EQ(kestrim("info '" + file + "'", &out), 0) << out;
  EXPECT_TRUE(is_valid_utf8(out)) << out;
  EXPECT_NE(out.find("M\xC3\xBCnchen"), std::string::npos) << out;
}

// Every report of a batch run is UTF-8 text (the activity and diagnostic
// reports held raw legacy glyphs), names the program's own version, and the
// exponent tidy-up leaves a file name in the title alone.
TEST_F(TrustedRuns, BatchReportsAreUtf8WithTheProgramVersion) {
  const std::string file = example_with("site_e2019.dat", [](std::vector<std::uint8_t>& b) {
    put_title(b, "site_e2019.dat");
  });
  std::string out;
  ASSERT_EQ(kestrim("/batch /file=" + file, &out), 0) << out;
  std::string version;
  ASSERT_EQ(kestrim("--version", &version), 0);
  version = version.substr(std::string("kestrim ").size());
  while (!version.empty() && std::isspace(static_cast<unsigned char>(version.back()))) version.pop_back();
  const std::string main = test::read_text(work("Main Report.txt"));
  EXPECT_NE(main.find("Kestrim " + version), std::string::npos) << main;
  EXPECT_EQ(main.find("3.71"), std::string::npos);
  EXPECT_NE(main.find("site_e2019.dat"), std::string::npos) << main;
  const std::string activity = test::read_text(work("Activity Report.txt"));
  EXPECT_NE(activity.find("P\xC3\xA7"), std::string::npos);
  for (const char* name : {"Main Report.txt", "Activity Report.txt", "Diagnostic Report.txt",
                           "Peak Fit Report.txt", "Header Report.txt"}) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(file_exists(work(name)));
    EXPECT_TRUE(is_valid_utf8(test::read_text(work(name))));
  }
  // Numbers keep their two-digit exponents.
  EXPECT_EQ(tidy_exponents(c_format("%10.3e site_e2019.dat e-012", 1234.5)),
            "1.234e+03 site_e2019.dat e-012");
}

// /update writes back every channel of an 8192-channel file, not the 4096
// that the analysis uses; and opening a short spectrum after a long one
// leaves no counts of the first beyond its end.
TEST_F(TrustedRuns, UpdateKeepsEveryChannelOfALongSpectrum) {
  std::vector<std::uint8_t> bytes = test::read_bytes(example());
  SpectrumRecord rec;
  BackgroundRecord bkg;
  NativeReadResult result;
  ASSERT_EQ(read_native(bytes, rec, bkg, NativeReadOptions{}, result), 1) << result.problem;
  const int original = rec.header.channels;
  rec.header.channels = 8192;
  for (int ch = original; ch < 8192; ++ch) rec.counts[ch] = static_cast<float>(ch % 97 + 1);
  test::write_bytes(work("long.dat"), encode_native(rec, DateTime{1, 1, 2026, 0, 0}, nullptr));

  std::string out;
  ASSERT_EQ(kestrim("/batch /update /file=" + work("long.dat"), &out), 0) << out;
  SpectrumRecord back;
  ASSERT_EQ(read_native(test::read_bytes(work("long.dat")), back, bkg, NativeReadOptions{}, result), 1);
  EXPECT_EQ(back.header.channels, 8192);
  int differing = 0;
  for (int ch = original; ch < 8192; ++ch) differing += back.counts[ch] != rec.counts[ch];
  EXPECT_EQ(differing, 0);
}

// With drift correction on, the gain found on the drift line (K-40) is the
// one the peak fit report uses: a spectrum whose stored gain is 3 % high
// reports its K-40 peak at 1460.8 keV, not at the 1504 keV of the old gain.
TEST_F(TrustedRuns, DriftCorrectedGainIsTheOneReported) {
  use_defaults({{"drift_correction", "1"}});
  std::vector<std::uint8_t> bytes = test::read_bytes(example());
  SpectrumRecord rec;
  BackgroundRecord bkg;
  NativeReadResult result;
  ASSERT_EQ(read_native(bytes, rec, bkg, NativeReadOptions{}, result), 1) << result.problem;
  rec.calibration.energy[1] *= 1.03f;
  test::write_bytes(work("drift.dat"), encode_native(rec, DateTime{1, 1, 2026, 0, 0}, nullptr));
  std::string out;
  ASSERT_EQ(kestrim("/batch /file=" + work("drift.dat"), &out), 0) << out;
  std::istringstream report(test::read_text(work("Peak Fit Report.txt")));
  std::string line;
  double nearest_true = 1e9, nearest_old = 1e9;
  while (std::getline(report, line)) {
    double energy = 0, channel = 0;
    if (c_sscanf(line.c_str(), "%lf %lf", &energy, &channel) != 2) continue;
    nearest_true = std::min(nearest_true, std::fabs(energy - 1460.8));
    nearest_old = std::min(nearest_old, std::fabs(energy - 1460.8 * 1.03));
  }
  EXPECT_LT(nearest_true, 3.0);
  EXPECT_GT(nearest_old, 20.0);
}

// The limits of a user's template: a nuclide whose sample is older than 20
// half-lives gets its note in the main report, and a second-library section
// lists the limits with "<" beside the found nuclides' activities; the
// activity database still holds activities only.
TEST_F(TrustedRuns, LimitSectionsOfAUsersTemplate) {
  use_defaults({{"update_database", "1"}});
  test::write_text(work("report.tpl"),
                   "Limits\r\n?LODS\r\n %-9s  < %11.3e  < %11.3e\r\nSecond library\r\n?RESU\r\n"
                   " %-9s%s %11.3e\r\n");
  std::vector<std::uint8_t> bytes = test::read_bytes(example());
  SpectrumRecord rec;
  BackgroundRecord bkg;
  NativeReadResult result;
  ASSERT_EQ(read_native(bytes, rec, bkg, NativeReadOptions{}, result), 1) << result.problem;
  rec.header.sampled = rec.header.collected;
  rec.header.sampled.year = static_cast<std::int16_t>(rec.header.sampled.year - 3);
  test::write_bytes(work("old.dat"), encode_native(rec, DateTime{1, 1, 2026, 0, 0}, nullptr));
  std::string out;
  ASSERT_EQ(kestrim("/batch /file=" + work("old.dat"), &out), 0) << out;
  const std::string report = test::read_text(work("Main Report.txt"));
  EXPECT_NE(report.find("     The Sample age is > 20 times the Halflife of I-131\r\n"), std::string::npos)
      << report;
  const std::size_t second = report.find("Second library");
  ASSERT_NE(second, std::string::npos) << report;
  const std::string rows = report.substr(second);
  EXPECT_TRUE(std::regex_search(rows, std::regex(R"(\n K-40 +[0-9])"))) << rows;  // found: no marker
  EXPECT_TRUE(std::regex_search(rows, std::regex(R"(\n +Co-60 *< *[0-9])"))) << rows;
  // The limits do not reach the activity database.
  const std::string csv = test::read_text(work("dbase.CSV"));
  EXPECT_NE(csv.find("K-40"), std::string::npos) << csv;
  EXPECT_EQ(csv.find("Co-60"), std::string::npos) << csv;
}

// A spectrum whose calibration names a background file that cannot be read
// is analysed without background subtraction, and says so: the report does
// not claim a subtraction that did not happen.
TEST_F(TrustedRuns, UnreadableBackgroundSwitchesSubtractionOff) {
  use_defaults({{"background_cps_subtraction", "1"}});
  std::vector<std::uint8_t> bytes = test::read_bytes(example());
  SpectrumRecord rec;
  BackgroundRecord bkg;
  NativeReadResult result;
  ASSERT_EQ(read_native(bytes, rec, bkg, NativeReadOptions{}, result), 1) << result.problem;
  assign(rec.calibration.background_name, "gone.bkg");
  test::write_bytes(work("sample.dat"), encode_native(rec, DateTime{1, 1, 2026, 0, 0}, nullptr));
  std::string out;
  EXPECT_EQ(kestrim("/batch /file=" + work("sample.dat"), &out), 0) << out;
  EXPECT_NE(out.find("could not open Background data file:- "), std::string::npos) << out;
  std::string dump;
  ASSERT_EQ(kestrim("defaults dump '" + dir.file("user/kestrim/DefaultFiles/Normal.000") + "'", &dump), 0);
  EXPECT_NE(dump.find("background_cps_subtraction = 0"), std::string::npos) << dump;
}

// A run that failed keeps none of the settings its keywords changed; one
// that succeeded keeps them for the next run.
TEST_F(TrustedRuns, OnlyARunThatSucceededKeepsItsKeywords) {
  use_defaults({});
  const std::string defaults = dir.file("user/kestrim/DefaultFiles/Normal.000");
  std::string out, dump;
  EXPECT_EQ(kestrim("/batch /geo=7 /file=" + work("missing.dat"), &out), 1) << out;
  ASSERT_EQ(kestrim("defaults dump '" + defaults + "'", &dump), 0);
  EXPECT_TRUE(std::regex_search(dump, std::regex("\ndefault_geometry = 1 "))) << dump;
  EXPECT_EQ(kestrim("/batch /geo=7 /file=" + example(), &out), 0) << out;
  ASSERT_EQ(kestrim("defaults dump '" + defaults + "'", &dump), 0);
  EXPECT_TRUE(std::regex_search(dump, std::regex("\ndefault_geometry = 7 "))) << dump;
}

// `kestrim peaks` reads the user's detector file from the folder it runs in,
// not the shipped one, though its own reports go to a scratch folder.
TEST_F(TrustedRuns, PeaksReadsTheUsersDetectorFile) {
  use_defaults({{"default_detector_file", "1"}});
  std::string text, out;
  ASSERT_EQ(kestrim("detector dump \"$KESTRIM_HOME/Calibration/Det_01.cal\"", &text), 0);
  const std::size_t at = text.find("energy = 0 3 0");
  ASSERT_NE(at, std::string::npos) << text;
  text.replace(at, 14, "energy = 0 2.5 0");
  test::write_text(work("det.txt"), text);
  ASSERT_EQ(kestrim("detector make det.txt -o Det_01.cal", &out), 0) << out;
  // The example's counts as an Ortec CHN file, which carries no calibration.
  SpectrumRecord rec;
  BackgroundRecord bkg;
  NativeReadResult result;
  ASSERT_EQ(read_native(test::read_bytes(example()), rec, bkg, NativeReadOptions{}, result), 1);
  const int n = rec.header.channels;
  std::vector<std::uint8_t> chn(32 + 4 * static_cast<std::size_t>(n), 0);
  bin::put_i16(chn.data(), -1);
  bin::put_i16(chn.data() + 2, 1);
  bin::put_i16(chn.data() + 4, 1);
  bin::put_text(chn.data() + 6, 2, "00", false);
  bin::put_i32(chn.data() + 8, static_cast<std::int32_t>(rec.header.true_time * 50));
  bin::put_i32(chn.data() + 12, static_cast<std::int32_t>(rec.header.live_time * 50));
  bin::put_text(chn.data() + 16, 8, "07DEC261", false);
  bin::put_text(chn.data() + 24, 4, "0900", false);
  bin::put_i16(chn.data() + 30, static_cast<std::int16_t>(n));
  for (int ch = 2; ch < n; ++ch) bin::put_i32(chn.data() + 32 + 4 * ch, static_cast<std::int32_t>(rec.counts[ch]));
  test::write_bytes(work("sample.chn"), chn);
  ASSERT_EQ(kestrim("peaks --json sample.chn", &out), 0) << out;
  const nlohmann::json j = nlohmann::json::parse(out.substr(out.find('{')));
  ASSERT_FALSE(j["peaks"].empty());
  for (const auto& p : j["peaks"])
    EXPECT_NEAR(p["energy"].get<double>(), 2.5 * p["centre"].get<double>(), 0.01) << p;
}

// With named reports on, the report copy of a text spectrum "s.txt" never
// replaces the spectrum itself.
TEST_F(TrustedRuns, NamedReportNeverReplacesTheSpectrum) {
  // The text spectrum takes its efficiency from the shipped detector file.
  use_defaults({{"named_reports", "1"}, {"default_detector_file", "1"}});
  std::string out;
  ASSERT_EQ(kestrim("export-text '" + example() + "' -o '" + work("s.txt") + "'", &out), 0) << out;
  const std::string spectrum = test::read_text(work("s.txt"));
  ASSERT_FALSE(spectrum.empty());
  EXPECT_EQ(kestrim("/batch /file=" + work("s.txt"), &out), 0) << out;
  EXPECT_EQ(test::read_text(work("s.txt")), spectrum);
  EXPECT_EQ(test::read_text(work("s.txt.txt")), test::read_text(work("Main Report.txt")));
}

// A title holding quotes and commas stays one field of the CSV database.
TEST_F(TrustedRuns, DatabaseRowsQuoteTheirText) {
  use_defaults({{"update_database", "1"}});
  const std::string file =
      example_with("soil.dat", [](std::vector<std::uint8_t>& b) { put_title(b, "Soil \"A\", 12"); });
  std::string out;
  ASSERT_EQ(kestrim("/batch /file=" + file, &out), 0) << out;
  ASSERT_EQ(kestrim("/batch /file=" + file, &out), 0) << out;
  const std::string csv = test::read_text(work("dbase.CSV"));
  // RFC 4180 fields of each line.
  auto fields = [](const std::string& line) {
    std::vector<std::string> out(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
      const char c = line[i];
      if (c == '"' && quoted && i + 1 < line.size() && line[i + 1] == '"') {
        out.back() += '"';
        ++i;
      } else if (c == '"') {
        quoted = !quoted;
      } else if (c == ',' && !quoted) {
        out.emplace_back();
      } else if (c != '\r') {
        out.back() += c;
      }
    }
    return out;
  };
  std::vector<std::string> lines;
  std::istringstream in(csv);
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && line != "\r") lines.push_back(line);
  ASSERT_EQ(lines.size(), 3u) << csv;
  const std::vector<std::string> header = fields(lines[0]);
  ASSERT_GE(header.size(), 13u);
  EXPECT_EQ(header[3], "Title");
  EXPECT_EQ(header[12], "Size");
  for (std::size_t row = 1; row < 3; ++row) {
    const std::vector<std::string> f = fields(lines[row]);
    ASSERT_GE(f.size(), header.size()) << lines[row];
    EXPECT_EQ(f[3].substr(0, 13), "Soil \"A\", 12 ") << lines[row];
    EXPECT_NE(f[12].find("kg"), std::string::npos) << lines[row];
  }
  EXPECT_EQ(csv.substr(csv.size() - 2), "\r\n");
}

// An analysis library cut short is refused, as `library list` refuses it;
// one with no nuclide is refused too.
TEST_F(TrustedRuns, DamagedLibraryFailsTheRun) {
  const char* home = std::getenv("KESTRIM_HOME");
  ASSERT_NE(home, nullptr);
  const std::string shipped = std::string(home) + "/Libraries/NaI_Analysis.lib";
  std::vector<std::uint8_t> lib = test::read_bytes(shipped);
  ASSERT_GT(lib.size(), 1000u);
  make_directories(dir.file("user/kestrim/Libraries"));
  lib.resize(lib.size() / 2);
  test::write_bytes(dir.file("user/kestrim/Libraries/NaI_Analysis.lib"), lib);
  std::string out;
  EXPECT_EQ(kestrim("library list '" + dir.file("user/kestrim/Libraries/NaI_Analysis.lib") + "'", &out), 1);
  EXPECT_EQ(kestrim("/batch /file=" + example(), &out), 1) << out;
  EXPECT_NE(out.find("The Analysis Library is damaged:- "), std::string::npos) << out;

  // Marker and end bytes only: no nuclide at all.
  std::vector<std::uint8_t> empty(lib.begin(), lib.begin() + 8);
  test::write_bytes(dir.file("user/kestrim/Libraries/NaI_Analysis.lib"), empty);
  EXPECT_EQ(kestrim("/batch /file=" + example(), &out), 1) << out;
  EXPECT_NE(out.find("Failed to Read Analysis Library"), std::string::npos) << out;
}

// The sum-peak marker of a nuclide name is exported as UTF-8 and reads back
// from either form; yields and half-lives must be numbers that make sense,
// and a CSV without nuclides makes no library.
TEST_F(TrustedRuns, LibraryCsvRoundTripsAndRefusesNonsense) {
  const std::string head = "nuclide,\"Co-60";
  const std::string rest = "\",5.27,Y,1332.5,\"sum\",\"test\"\r\nline,2505.7,0.0001,0\r\n";
  const std::string good = "nuclide,\"Co-60\",5.27,Y,1332.5,\"cobalt\",\"test\"\r\nline,1173.2,0.9985,0\r\n";
  test::write_text(work("legacy.csv"), good + head + "\xE4" + rest);
  std::string out;
  ASSERT_EQ(kestrim("library import-csv legacy.csv -o legacy.lib", &out), 0) << out;
  ASSERT_EQ(kestrim("library export-csv legacy.lib -o exported.csv", &out), 0) << out;
  const std::string exported = test::read_text(work("exported.csv"));
  EXPECT_TRUE(is_valid_utf8(exported));
  EXPECT_NE(exported.find("Co-60\xC3\xA4"), std::string::npos) << exported;
  ASSERT_EQ(kestrim("library import-csv exported.csv -o again.lib", &out), 0) << out;
  EXPECT_EQ(test::read_bytes(work("again.lib")), test::read_bytes(work("legacy.lib")));

  for (const std::string& bad :
       {std::string("nuclide,\"X\",5,Y,100,\"\",\"\"\r\nline,100,nan,0\r\n"),
        std::string("nuclide,\"X\",5,Y,100,\"\",\"\"\r\nline,100,inf,0\r\n"),
        std::string("nuclide,\"X\",-5,Y,100,\"\",\"\"\r\nline,100,0.5,0\r\n"),
        std::string("# nothing\r\n"), std::string()}) {
    SCOPED_TRACE(bad);
    test::write_text(work("bad.csv"), bad);
    remove_file(work("bad.lib"));
    EXPECT_EQ(kestrim("library import-csv bad.csv -o bad.lib", &out), 1) << out;
    EXPECT_FALSE(file_exists(work("bad.lib")));
  }
}

// A report that cannot be written (here a folder stands where the file
// goes) fails the run with a message.
TEST_F(TrustedRuns, ReportsThatCannotBeWrittenFailTheRun) {
  for (const char* name : {"Main Report.txt", "Activity Report.txt", "Diagnostic Report.txt",
                           "Peak Fit Report.txt", "Header Report.txt"}) {
    SCOPED_TRACE(name);
    test::TempDir local;
    const std::string wd = local.path();
    make_directories(wd + "/" + name + "/blocked");
    std::string out;
    const int status = test::run_command("cd '" + wd + "' && XDG_DATA_HOME='" + dir.file("user") + "' '" +
                                             test::kestrim_binary() + "' /batch /file=" + example() + " 2>&1",
                                         &out, true);
    EXPECT_EQ(status, 1) << out;
    EXPECT_NE(out.find(name), std::string::npos) << out;
  }
}


// Headers no measurement can have are refused with a message, never
// analysed into "nan", "inf" or absurd activities.
TEST_F(TrustedRuns, ImpossibleSpectraAreRefused) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    const char* name;
    std::function<void(std::vector<std::uint8_t>&)> change;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"negative.dat", [](auto& b) { bin::put_f32(b.data() + header_offset::kLiveTime, -3600.0f); },
       "The Live Count Time of the spectrum is not a positive number:- negative.dat"},
      {"nanlive.dat", [&](auto& b) { bin::put_f32(b.data() + header_offset::kLiveTime, nan); },
       "The Live Count Time of the spectrum is not a positive number:- nanlive.dat"},
      {"inflive.dat", [&](auto& b) { bin::put_f32(b.data() + header_offset::kLiveTime, inf); },
       "The Live Count Time of the spectrum is not a positive number:- inflive.dat"},
      {"nancal.dat", [&](auto& b) { bin::put_f32(b.data() + kNativeCalibrationOffset + 8, nan); },
       "The energy or width calibration of the spectrum is not a valid number:- nancal.dat"},
      {"zeros.dat", [](auto& b) { std::fill(b.begin(), b.begin() + 3072, 0); b.resize(3072); }, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = example_with(c.name, c.change);
    remove_file(work("Main Report.txt"));
    std::string out;
    EXPECT_EQ(kestrim("/batch /file=" + file, &out), 1) << out;
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
    EXPECT_FALSE(file_exists(work("Main Report.txt")));
    EXPECT_EQ(kestrim("peaks --json '" + file + "'", &out), 1) << out;
  }
  // An empty text spectrum.
  test::write_text(work("empty.txt"), "");
  std::string out;
  EXPECT_EQ(kestrim("/batch /file=" + work("empty.txt"), &out), 1) << out;
}

// Text that would make a file of zeros, or a NUL from a bad escape, is
// refused by `defaults make` and `detector make`, which then write nothing.
TEST_F(TrustedRuns, MakeCommandsRefuseEmptyAndBadText) {
  std::string out;
  test::write_text(work("empty.txt"), "# nothing here\n");
  EXPECT_EQ(kestrim("defaults make empty.txt -o Normal.000", &out), 1) << out;
  EXPECT_FALSE(file_exists(work("Normal.000")));
  EXPECT_EQ(kestrim("detector make empty.txt -o Det_01.cal", &out), 1) << out;
  EXPECT_FALSE(file_exists(work("Det_01.cal")));
  test::write_text(work("bad.txt"), "[geometry 1]\ngeometry_text = \"pot \\xZZ 1 litre\"\n");
  EXPECT_EQ(kestrim("detector make bad.txt -o Det_01.cal", &out), 1) << out;
  EXPECT_FALSE(file_exists(work("Det_01.cal")));
  test::write_text(work("nan.txt"), "[geometry 1]\nenergy = nan 3 0\n");
  EXPECT_EQ(kestrim("detector make nan.txt -o Det_01.cal", &out), 1) << out;
  EXPECT_FALSE(file_exists(work("Det_01.cal")));
}


// Names stored in a Defaults file stay in the working folder: a database,
// report template or background name that climbs out of it is refused.
TEST_F(TrustedRuns, StoredNamesCannotLeaveTheWorkingFolder) {
  make_directories(dir.file("outside"));
  test::write_text(dir.file("outside/evil.tpl"), "stolen ?SPCF\r\n");
  struct Case {
    std::vector<std::pair<std::string, std::string>> defaults;
    const char* message;
  };
  const std::vector<Case> cases = {
      {{{"update_database", "1"}, {"database_name", "\"../x\""}},
       "The database name must be a file in the working folder:- ../x"},
      {{{"report_template", "\"../outside/evil.tpl\""}},
       "The report template must be a file in the working folder:- ../outside/evil.tpl"},
      {{{"report_template", "\"/etc/passwd\""}},
       "The report template must be a file in the working folder:- /etc/passwd"},
      {{{"background_cps_subtraction", "1"}, {"BKGF", "\"../outside/b.bkg\""}},
       "The Background file name must name a file in its folder:- ../outside/b.bkg"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    use_defaults(c.defaults);
    std::string out;
    const int status = kestrim("/batch /file=" + example(), &out);
    // The background is optional: without it the run goes on, as for a
    // background file that is missing.
    if (std::string(c.message).find("Background") == std::string::npos) {
      EXPECT_EQ(status, 1) << out;
    }
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
    EXPECT_FALSE(file_exists(dir.file("x.CSV")));
    EXPECT_EQ(test::read_text(work("Main Report.txt")).find("stolen"), std::string::npos);
  }
}

// A spectrum folder longer than the parameters' 224-byte field is used
// whole: the run analyses the file asked for, not one in a folder whose
// name is the cut path.
TEST_F(TrustedRuns, LongFolderPathsAreNeverCut) {
  std::string deep = dir.file("long");
  while (deep.size() < 260) deep += "/" + std::string(40, 'd');
  make_directories(deep);
  const std::string cut = deep.substr(0, 223);
  make_directories(cut);
  std::vector<std::uint8_t> right = test::read_bytes(example());
  put_title(right, "the right one");
  test::write_bytes(deep + "/s.dat", right);
  std::vector<std::uint8_t> wrong = test::read_bytes(example());
  put_title(wrong, "the wrong one");
  test::write_bytes(cut + "/s.dat", wrong);
  std::string out;
  ASSERT_EQ(kestrim("/batch /file=" + deep + "/s.dat", &out), 0) << out;
  const std::string report = test::read_text(work("Main Report.txt"));
  EXPECT_NE(report.find("the right one"), std::string::npos) << report;
  EXPECT_EQ(report.find("the wrong one"), std::string::npos);
}

}  // namespace
}  // namespace kestrim
