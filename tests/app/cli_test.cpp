// The kestrim command as a user runs it: exit status, stderr messages and
// the documented JSON of `info` and `peaks`.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <vector>

#include "platform/c_locale.h"
#include "support/test_support.h"

namespace kestrim {
namespace {

class Cli : public ::testing::Test {
 protected:
  // Runs kestrim in a fresh working folder with a private user folder.
  int kestrim(const std::string& args, std::string* out, bool merge = false) {
    return test::run_command("cd '" + dir.path() + "' && XDG_DATA_HOME='" + dir.file("user") +
                                 "' '" + test::kestrim_binary() + "' " + args,
                             out, merge);
  }
  std::string example() const { return test::source_data_dir() + "/examples/example-nai.dat"; }
  test::TempDir dir;
};

TEST_F(Cli, InfoJsonHasTheDocumentedFields) {
  std::string out;
  ASSERT_EQ(kestrim("info --json '" + example() + "'", &out), 0);
  nlohmann::json j = nlohmann::json::parse(out);
  EXPECT_EQ(j["format"], "Kestrim format");
  EXPECT_EQ(j["channels"], 1024);
  EXPECT_EQ(j["live_time"], 3600.0);
  EXPECT_EQ(j["collected"], "2026-12-07T09:00:00");
  EXPECT_EQ(j["sampled"], "2026-12-01T12:00:00");
  EXPECT_EQ(j["energy_calibration"]["form"], "polynomial");
  EXPECT_EQ(j["energy_calibration"]["coefficients"][1], 3.0);
  ASSERT_EQ(j["counts"].size(), 1024u);
  EXPECT_EQ(j["counts"][0], 3600.0);  // channel 0 holds the live time
  double sum = 0;
  for (std::size_t i = 2; i < j["counts"].size(); ++i) sum += j["counts"][i].get<double>();
  EXPECT_EQ(j["total_counts"].get<double>(), sum);
}

TEST_F(Cli, PeaksJsonRecoversTheExampleK40Line) {
  std::string out;
  ASSERT_EQ(kestrim("peaks --json '" + example() + "'", &out), 0);
  nlohmann::json j = nlohmann::json::parse(out);
  ASSERT_FALSE(j["peaks"].empty());
  const nlohmann::json* k40 = nullptr;
  for (const auto& p : j["peaks"])
    if (std::abs(p["energy"].get<double>() - 1460.8) < 10) k40 = &p;
  ASSERT_NE(k40, nullptr);
  // Truth: 2230.7 net counts (example-nai.truth.json).
  const double area = (*k40)["area"], sigma = (*k40)["area_uncertainty"];
  EXPECT_LT(std::abs(area - 2230.7), 3 * sigma);
  for (const char* key : {"index", "centre", "fwhm", "significance", "area_uncertainty_percent",
                          "gammas_per_second", "region_start", "region_end", "chi_squared"})
    EXPECT_TRUE(k40->contains(key)) << key;
  EXPECT_EQ(test::run_command("ls -A '" + dir.path() + "' | grep -v '^user$'", &out), 1)
      << "peaks left files behind: " << out;
}

TEST_F(Cli, BatchSucceedsOnTheExampleAndFailsOnAMissingFile) {
  std::string out;
  EXPECT_EQ(kestrim("/batch /file=" + example(), &out, true), 0) << out;
  EXPECT_FALSE(test::read_text(dir.file("Peak Fit Report.txt")).empty());
  EXPECT_EQ(kestrim("--batch --file=" + dir.file("missing.dat"), &out, true), 1);
  EXPECT_NE(out.find("kestrim: Could not open:- " + dir.file("missing.dat")), std::string::npos)
      << out;
  EXPECT_EQ(kestrim("/batch", &out, true), 1);
  EXPECT_NE(out.find("kestrim: No filename was specified (use the '/file=' keyword)"),
            std::string::npos);
}

TEST_F(Cli, HelpAndVersion) {
  std::string out;
  EXPECT_EQ(kestrim("--help", &out), 0);
  EXPECT_NE(out.find("Usage: kestrim"), std::string::npos);
  EXPECT_EQ(kestrim("--version", &out), 0);
  EXPECT_EQ(out.rfind("kestrim ", 0), 0u);
}


// Runs kestrim with the given arguments (each passed as one argv element,
// quoted for the shell) in the test's working folder.
class CliArgs : public Cli {
 protected:
  static std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
  }
  int run(const std::vector<std::string>& args, std::string* out, bool merge = true) {
    std::string line;
    for (const std::string& a : args) line += quote(a) + " ";
    return kestrim(line, out, merge);
  }
  int run_errors(const std::vector<std::string>& args, std::string* err) {
    std::string line;
    for (const std::string& a : args) line += quote(a) + " ";
    return kestrim(line + "2>&1 >/dev/null", err);
  }
  bool main_report() const { return !test::read_text(dir.file("Main Report.txt")).empty(); }
  void forget_reports() const { std::remove(dir.file("Main Report.txt").c_str()); }
};

TEST_F(CliArgs, ArgumentsAreTakenAsGivenAndKeywordsInAnyOrder) {
  // A folder whose name holds " /" broke every path once arguments were
  // joined into one line and split again.
  const std::string folder = dir.file("lab /run 2");
  ASSERT_EQ(test::run_command("mkdir -p " + quote(folder), nullptr), 0);
  const std::string spectrum = folder + "/s.dat";
  test::write_bytes(spectrum, test::read_bytes(example()));
  std::string out;
  const std::vector<std::vector<std::string>> good = {
      {"/batch", "/file=" + spectrum},
      {"--batch", "--file", spectrum},
      {"--batch", "--file=" + spectrum},
      {"--batch", "--", spectrum},
      {"/file=" + spectrum, "/app=Lab2", "/batch"},
      {"/app=Lab2", "/file=" + spectrum, "/batch"},
      {"/batch", "/file=lab /run 2/s.dat"},  // relative to the current folder
  };
  for (const auto& args : good) {
    forget_reports();
    EXPECT_EQ(run(args, &out), 0) << args[0] << " " << args[1] << "\n" << out;
    EXPECT_TRUE(main_report()) << args[0] << " " << args[1];
    EXPECT_EQ(out.find("Error"), std::string::npos) << out;
  }
  for (const char* cmd : {"peaks", "analyse", "info"}) {
    EXPECT_EQ(run({cmd, spectrum}, &out), 0) << cmd << "\n" << out;
    EXPECT_EQ(run({cmd, "--", "lab /run 2/s.dat"}, &out), 0) << cmd << "\n" << out;
  }
  ASSERT_EQ(run({"background", spectrum, "-o", dir.file("bk.bkg")}, &out), 0) << out;

  // A bare name is a file of the current folder, not of the folder the
  // previous run used: the earlier runs saved "lab /run 2" in the user's
  // settings, and s.dat is only there.
  EXPECT_EQ(run({"/batch", "/file=s.dat"}, &out), 1) << out;
  EXPECT_NE(out.find("kestrim: Could not open:- " + dir.file("s.dat")), std::string::npos) << out;
}

TEST_F(CliArgs, WrongCommandLinesAreUsageErrors) {
  const std::string spectrum = dir.file("x.dat");
  test::write_bytes(spectrum, test::read_bytes(example()));
  const std::vector<std::vector<std::string>> wrong = {
      {},
      {"infoo", "x.dat"},
      {"x.dat"},
      {"/foo"},
      {"/batch/file=x.dat"},
      {"/batch", "--file"},
      {"/batch", "/file=x.dat", "/file=y.dat"},
      {"/batch", "/file=x.dat", "stray"},
      {"/batch", "/geo="},
      {"analyse"},
      {"analyse", "x.dat", "--frobnicate"},
      {"info", "x.dat", "y.dat"},
  };
  for (const auto& args : wrong) {
    std::string err, shown;
    for (const std::string& a : args) shown += a + " ";
    EXPECT_EQ(run_errors(args, &err), 2) << shown << "\n" << err;
    EXPECT_EQ(err.rfind("kestrim", 0), 0u) << shown << "\n" << err;
    EXPECT_NE(err.find("Usage: kestrim"), std::string::npos) << shown << "\n" << err;
    EXPECT_FALSE(main_report()) << shown;
  }
}

TEST_F(CliArgs, RunsThatDidNotDoWhatWasAskedFail) {
  std::string out;
  const std::string spectrum = dir.file("x.dat");
  test::write_bytes(spectrum, test::read_bytes(example()));

  // A library that is not there is not replaced by the previous one.
  EXPECT_EQ(run({"/batch", "/lib=NoSuch.lib", "/file=x.dat"}, &out), 1);
  EXPECT_EQ(out, "kestrim: Error opening Library: NoSuch.lib\n");
  EXPECT_FALSE(main_report());

  EXPECT_EQ(run({"/batch", "/display", "/file=x.dat"}, &out), 1);
  EXPECT_NE(out.find("kestrim: showing the spectrum (/display) is not available in this build"),
            std::string::npos)
      << out;
  EXPECT_EQ(run({"/batch", "/print", "/file=x.dat"}, &out), 1);
  EXPECT_NE(out.find("kestrim: Printing is not available in this build"), std::string::npos) << out;
  // Keywords without /batch: nothing is done, and the run says so.
  EXPECT_EQ(run({"/file=x.dat"}, &out), 1);
  EXPECT_NE(out.find("kestrim: no batch run was asked for"), std::string::npos) << out;

  // A text spectrum carries no energy or efficiency calibration, and the
  // shipped Defaults keep a foreign spectrum's own calibration: the
  // analysis runs to the end, names no nuclide after channel numbers and
  // says why, never reporting becquerels. (This run used to stop with exit
  // 1 before the activities, and then named nuclides at random.)
  ASSERT_EQ(run({"export-text", "x.dat", "-o", "x.txt"}, &out), 0) << out;
  forget_reports();
  EXPECT_EQ(run({"analyse", "x.txt"}, &out), 0) << out;
  EXPECT_NE(out.find("kestrim: The energy of this spectrum is not calibrated: no nuclide can be identified; "
                     "the peaks are given by channel\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find(", 0 nuclides,"), std::string::npos) << out;
  EXPECT_TRUE(main_report());
  EXPECT_EQ(out.find(" Bq"), std::string::npos) << out;

  EXPECT_EQ(run({"analyse", "missing.dat"}, &out), 1);
  EXPECT_NE(out.find("kestrim: Could not open:- " + dir.file("missing.dat")), std::string::npos)
      << out;
  EXPECT_EQ(out.find("Unknown parameter"), std::string::npos) << out;
  EXPECT_EQ(out.find("Error:"), std::string::npos) << out;
}

TEST_F(CliArgs, AnalyseJsonReportsTheExampleNuclides) {
  std::string out;
  ASSERT_EQ(kestrim("analyse --json '" + example() + "'", &out), 0) << out;
  nlohmann::json j = nlohmann::json::parse(out);
  EXPECT_EQ(j["spectrum"]["channels"], 1024);
  EXPECT_FALSE(j["spectrum"].contains("counts"));
  // Truth (example-nai.truth.json): K-40 400 Bq, Cs-137 40 Bq.
  std::map<std::string, const nlohmann::json*> by_name;
  for (const auto& n : j["nuclides"]) by_name[n["name"].get<std::string>()] = &n;
  for (auto [name, truth] : {std::pair{"K-40", 400.0}, std::pair{"Cs-137", 40.0}}) {
    ASSERT_TRUE(by_name.count(name)) << name;
    const nlohmann::json& n = *by_name[name];
    EXPECT_LT(std::abs(n["activity"].get<double>() - truth), 3 * n["uncertainty"].get<double>())
        << name;
    EXPECT_EQ(n["unit"], "Bq");
    EXPECT_TRUE(n["flags"].is_array());
  }
  // Every peak names its nuclide or null; the K-40 line is K-40's.
  bool k40 = false;
  for (const auto& p : j["peaks"]) {
    ASSERT_TRUE(p.contains("nuclide"));
    ASSERT_TRUE(p["nuclide"].is_null() || p["nuclide"].is_string());
    if (std::abs(p["energy"].get<double>() - 1460.8) < 10) k40 = p["nuclide"] == "K-40";
  }
  EXPECT_TRUE(k40);
  // The shipped Defaults compute limits from the LOD library.
  ASSERT_FALSE(j["limits"].empty());
  for (const auto& l : j["limits"]) {
    EXPECT_TRUE(l["name"].is_string());
    EXPECT_TRUE(l["limit"].is_null() || l["limit"].get<double>() > 0);
  }
  // Unidentified peaks are peaks of the list, and the Activity Report
  // lists the same ones.
  const std::string activity = test::read_text(dir.file("Activity Report.txt"));
  for (const auto& u : j["unidentified"]) {
    bool listed = false;
    for (const auto& p : j["peaks"]) listed = listed || p["index"] == u["index"];
    EXPECT_TRUE(listed);
    char row[32];
    c_snprintf(row, sizeof row, "%4d %8.2f", u["index"].get<int>(), u["energy"].get<double>());
    EXPECT_NE(activity.find(row), std::string::npos) << row;
  }
}

TEST_F(CliArgs, SpectraReadAsTheirLayoutSays) {
  std::string out;
  std::vector<std::uint8_t> bytes = test::read_bytes(example());
  nlohmann::json native;
  ASSERT_EQ(kestrim("info --json '" + example() + "'", &out), 0);
  native = nlohmann::json::parse(out);

  // A native file whose title starts like another format's signature ("$"
  // of a SPE text file, FF FF of a CHN file). The title bytes FF FF are no
  // UTF-8, so that one is checked through the plain listing.
  std::copy_n("$SPEC", 5, bytes.begin());
  test::write_bytes(dir.file("dollar.dat"), bytes);
  ASSERT_EQ(run({"info", "--json", "dollar.dat"}, &out, false), 0) << out;
  nlohmann::json j = nlohmann::json::parse(out);
  EXPECT_EQ(j["format"], "Kestrim format");
  EXPECT_EQ(j["total_counts"], native["total_counts"]);
  bytes[0] = bytes[1] = 0xFF;
  test::write_bytes(dir.file("ffff.dat"), bytes);
  ASSERT_EQ(run({"info", "ffff.dat"}, &out, false), 0) << out;
  EXPECT_NE(out.find("Format:                Kestrim format\n"), std::string::npos) << out;

  // export-text writes what the shipped Defaults read back.
  ASSERT_EQ(run({"export-text", example(), "-o", "x.txt"}, &out), 0) << out;
  ASSERT_EQ(run({"info", "--json", "x.txt"}, &out, false), 0) << out;
  nlohmann::json text = nlohmann::json::parse(out);
  EXPECT_EQ(text["channels"], 1024);
  EXPECT_EQ(text["total_counts"], native["total_counts"]);

  // Folders of a Defaults file written the Windows way name nothing here:
  // the working folder is used, and no folder "C:\KESTRIM\SPECTRA" appears.
  ASSERT_EQ(kestrim("defaults dump \"$KESTRIM_HOME/DefaultFiles/Normal.000\"", &out), 0);
  std::string dump = out;
  const std::string key = "own_format_dir = \"\"";
  ASSERT_NE(dump.find(key), std::string::npos);
  dump.replace(dump.find(key), key.size(), "own_format_dir = \"C:\\\\KESTRIM\\\\SPECTRA\"");
  test::write_text(dir.file("n.txt"), dump);
  ASSERT_EQ(test::run_command("mkdir -p '" + dir.file("user/kestrim/DefaultFiles") + "'", nullptr), 0);
  ASSERT_EQ(run({"defaults", "make", "n.txt", "-o", "user/kestrim/DefaultFiles/Normal.000"}, &out),
            0)
      << out;
  test::write_bytes(dir.file("s.dat"), test::read_bytes(example()));
  EXPECT_EQ(run({"/batch", "/file=s.dat"}, &out), 0) << out;
  EXPECT_NE(out.find("kestrim: The folder C:\\KESTRIM\\SPECTRA of the Defaults file is a Windows "
                     "path: the working folder is used instead"),
            std::string::npos)
      << out;
  EXPECT_EQ(test::run_command("ls '" + dir.path() + "' | grep -F 'C:'", &out), 1) << out;
}

}  // namespace
}  // namespace kestrim
