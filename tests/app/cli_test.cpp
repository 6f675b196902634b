// The kestrim command as a user runs it: exit status, stderr messages and
// the documented JSON of `info` and `peaks`.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

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

}  // namespace
}  // namespace kestrim
