// Reference spectra and the total-spectrum fit through the real kestrim
// command with the shipped Defaults: `reference make`, `fit-total`, the
// batch analysis when reference fitting is on, their reports against golden
// files, and every kind of bad input refused with its message and no
// report.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "platform/binio.h"
#include "platform/c_format.h"
#include "platform/files.h"
#include "spectrum/native_file.h"
#include "spectrum/simulate.h"
#include "spectrum/simulate_sources.h"
#include "spectrum/spectrum_record.h"
#include "support/test_support.h"

namespace kestrim {
namespace {

class ReferenceCli : public ::testing::Test {
 protected:
  void SetUp() override { make_directories(dir.file("work")); }

  int kestrim(const std::string& args, std::string* out = nullptr) {
    std::string ignored;
    return test::run_command("cd '" + dir.file("work") + "' && XDG_DATA_HOME='" + dir.file("user") +
                                 "' '" + test::kestrim_binary() + "' " + args + " 2>&1",
                             out ? out : &ignored, true);
  }
  std::string work(const std::string& name) const { return dir.file("work/" + name); }

  // A simulated spectrum of the sources written as a native file.
  std::string spectrum(const std::string& name, const std::vector<SourceActivity>& sources,
                       int channels = 1024, double gain = 1.0, std::uint64_t seed = 1,
                       double live = 3600) {
    const SimOptions o = source_spectrum_options(sources, channels, live, gain, seed);
    SpectrumRecord rec;
    store_simulated(simulate_spectrum(o), o, rec);
    rec.header.correction_factor = 1;
    rec.header.collected = DateTime{7, 12, 2026, 9, 0};
    rec.header.sampled = DateTime{1, 12, 2026, 12, 0};
    const std::vector<std::uint8_t> bytes = encode_native(rec, DateTime{8, 12, 2026, 10, 0}, nullptr);
    test::write_bytes(work(name), bytes);
    return work(name);
  }

  // A reference of one source, counted 10 times longer than the samples.
  std::string reference(const std::string& name, const std::string& nuclide, double activity,
                        int channels = 1024, double gain = 1.0) {
    spectrum(name + ".dat", {{nuclide, activity}}, channels, gain, 100 + name.size(), 36000);
    std::string out;
    EXPECT_EQ(kestrim("reference make " + name + ".dat --activity " + c_format("%g", activity) +
                          " --uncertainty 2 --title " + nuclide + " -o " + name + ".rsd",
                      &out),
              0)
        << out;
    return name + ".rsd";
  }

  // The shipped Defaults with some settings changed, as the user's Defaults file 0.
  void use_defaults(const std::vector<std::pair<std::string, std::string>>& changes) {
    ASSERT_EQ(test::make_user_defaults(dir.file("user"), changes), "");
  }

  // The reference block of the main report: from its heading to the line
  // before the program's version.
  std::string reference_section() const {
    const std::string report = test::read_text(work("Main Report.txt"));
    const auto from = report.find(" Total spectrum fit");
    const auto to = report.find(" Kestrim ", from);
    if (from == std::string::npos || to == std::string::npos) return "(no reference section)\n" + report;
    return report.substr(from, to - from);
  }

  void expect_golden(const std::string& name, const std::string& text) {
    const std::string path = test::source_data_dir() + "/../tests/reference/golden/" + name;
    const std::string golden = file_exists(path) ? test::read_text(path) : "";
    if (golden.empty()) test::write_text(path + ".new", text);
    EXPECT_EQ(text, golden) << name;
  }

  // Three sources of a soil sample, its spectrum 1 % lower in gain.
  std::string soil_sample() {
    return spectrum("soil.dat", {{"Cs-137", 40}, {"K-40", 400}, {"Th-232", 30}}, 1024, 1.01, 7);
  }

  test::TempDir dir;
};

TEST_F(ReferenceCli, FitTotalRecoversAMixtureAndWritesItsReports) {
  const std::vector<std::string> refs = {reference("cs", "Cs-137", 1000), reference("k40", "K-40", 5000),
                                         reference("th", "Th-232", 500)};
  soil_sample();
  std::string out;
  ASSERT_EQ(kestrim("fit-total soil.dat --ref cs.rsd --ref k40.rsd --ref th.rsd --start 20 --end 1000 --json",
                    &out),
            0)
      << out;
  const nlohmann::json j = nlohmann::json::parse(out);
  ASSERT_EQ(j["references"].size(), 3u);
  EXPECT_GT(j["chi_squared"].get<double>(), 0);
  const double truth[] = {40, 400, 30};
  for (std::size_t k = 0; k < 3; ++k) {
    const nlohmann::json& r = j["references"][k];
    EXPECT_EQ(r["file"], refs[k]);
    for (const char* key : {"title", "factor", "factor_uncertainty", "gain", "activity_bq", "uncertainty_percent"})
      EXPECT_TRUE(r.contains(key)) << key;
    const double a = r["activity_bq"], u = a * r["uncertainty_percent"].get<double>() / 100;
    EXPECT_LT(std::fabs(a - truth[k]), 3 * u) << r.dump();
    EXPECT_NEAR(r["gain"].get<double>(), 1.01, 0.003) << r.dump();
    EXPECT_NEAR(r["factor"].get<double>() * (k == 0 ? 1000 : k == 1 ? 5000 : 500), a, 1e-9 * a);
  }
  EXPECT_EQ(j["references"][1]["title"], "K-40");
  EXPECT_EQ(out.find("nan"), std::string::npos);
  // The log of the search, and the reference block of the main report.
  const std::string diag = test::read_text(work("fit_diag.txt"));
  EXPECT_NE(diag.find("-1 - fChiSqRef:- "), std::string::npos);
  EXPECT_NE(diag.find("\r\n"), std::string::npos);
  expect_golden("fit_total_section.txt", reference_section());
}

TEST_F(ReferenceCli, TheBatchAnalysisTakesTheReferenceRoadWhenItIsOn) {
  reference("cs", "Cs-137", 1000);
  reference("k40", "K-40", 5000);
  reference("th", "Th-232", 500);
  soil_sample();
  test::write_text(work("dbase.tpl"), "?SPCF ?%ERR\r\n?SPEC\r\n");
  use_defaults({{"mca_variant", "1"},
                {"reference_fitting", "1"},
                {"reference_iterate_position", "1"},
                {"reference_count", "3"},
                {"reference_1", "\"cs\""},
                {"reference_2", "\"k40\""},
                {"reference_3", "\"th\""},
                {"reference_start", "20"},
                {"reference_end", "1000"},
                {"calibration_dir", "\"" + dir.file("work") + "\""},
                {"update_database", "1"}});
  std::string out;
  ASSERT_EQ(kestrim("/batch /file=" + work("soil.dat"), &out), 0) << out;
  // No peak road: no peak fit report.
  EXPECT_FALSE(file_exists(work("Peak Fit Report.txt")));
  expect_golden("batch_section.txt", reference_section());
  expect_golden("batch_dbase.csv", test::read_text(work("dbase.CSV")));
  // `analyse --json` takes the same road and lists the references.
  const std::string batch = reference_section();
  // Loading the Defaults again (det=0) reads the same references again,
  // never a second copy of them.
  ASSERT_EQ(kestrim("/batch /det=0 /file=" + work("soil.dat"), &out), 0) << out;
  EXPECT_EQ(reference_section(), batch);
  ASSERT_EQ(kestrim("analyse --json soil.dat", &out), 0) << out;
  const nlohmann::json j = nlohmann::json::parse(out.substr(out.find('{')));
  ASSERT_EQ(j["references"].size(), 3u);
  EXPECT_EQ(j["references"][2]["title"], "Th-232");
  EXPECT_EQ(j["peaks"].size(), 0u);
  EXPECT_GT(j["chi_squared"].get<double>(), 0);
  EXPECT_EQ(reference_section(), batch);
  // Every command that loads the Defaults can read their references: none
  // turns reference fitting off in the user's Defaults file.
  for (const char* command : {"peaks soil.dat", "info soil.dat", "export-text soil.dat -o soil.txt",
                              "background soil.dat -o soil.bkg"}) {
    EXPECT_EQ(kestrim(command, &out), 0) << command << "\n" << out;
    EXPECT_EQ(out.find("not available in this build"), std::string::npos) << command << "\n" << out;
  }
  ASSERT_EQ(kestrim("defaults dump '" + dir.file("user/kestrim/DefaultFiles/Normal.000") + "'", &out), 0);
  EXPECT_NE(out.find("reference_fitting = 1"), std::string::npos) << out;
  // The same references fitted by fit-total give the same report section.
  ASSERT_EQ(kestrim("fit-total soil.dat --ref cs.rsd --ref k40.rsd --ref th.rsd --start 20 --end 1000", &out), 0)
      << out;
  EXPECT_EQ(reference_section(), batch);
}

// The shipped example spectrum as the reference of another simulated
// environmental sample: the reference explains the sample only in part, and
// the chi-square, read between the reference's channels, is not a parabola
// over 0.1 % of gain. The searched gain still gets an uncertainty above 0
// (it was reported as exactly 0).
TEST_F(ReferenceCli, AGainSearchedInAPoorFitHasAnUncertainty) {
  std::string out;
  ASSERT_EQ(kestrim("reference make '" + test::source_data_dir() + "/examples/example-nai.dat' --activity 1000 "
                    "--uncertainty 2 -o ex.rsd",
                    &out),
            0)
      << out;
  ASSERT_EQ(kestrim("simulate -o other.dat --seed 9", &out), 0) << out;
  ASSERT_EQ(kestrim("fit-total other.dat --ref ex.rsd --json", &out), 0) << out;
  const nlohmann::json j = nlohmann::json::parse(out.substr(out.find('{')));
  ASSERT_EQ(j["references"].size(), 1u);
  EXPECT_NE(j["references"][0]["gain"].get<double>(), 1.0);
  EXPECT_GT(j["references"][0]["gain_uncertainty"].get<double>(), 0) << j.dump();
}

TEST_F(ReferenceCli, BadReferencesAreRefusedWithAMessageAndNoReport) {
  const std::string cs = reference("cs", "Cs-137", 1000);
  const std::string k40 = reference("k40", "K-40", 5000);
  reference("wide", "K-40", 5000, 2048);
  reference("stretched", "K-40", 5000, 1024, 1.2);
  soil_sample();
  auto expect_refused = [&](const std::string& refs, const std::string& message) {
    remove_file(work("Main Report.txt"));
    std::string out;
    EXPECT_EQ(kestrim("fit-total soil.dat " + refs, &out), 1) << refs;
    EXPECT_NE(out.find("kestrim: " + message), std::string::npos) << refs << "\n" << out;
    EXPECT_FALSE(file_exists(work("Main Report.txt"))) << refs;
    EXPECT_EQ(out.find("nan"), std::string::npos) << out;
  };
  expect_refused("--ref cs.rsd --ref wide.rsd", "Number of channels in Reference data file did not match");
  expect_refused("--ref cs.rsd --ref stretched.rsd",
                 "The energy calibration of Reference data file:- stretched.rsd does not match the spectrum's");
  expect_refused("--ref cs.rsd --ref cs.rsd", "The Reference Spectra could not be told apart: the fit is singular");

  // A live time or an activity of 0 written into the file.
  std::vector<std::uint8_t> bytes = test::read_bytes(work(k40));
  bin::put_f32(&bytes[150], 0.0f);
  test::write_bytes(work("dead.rsd"), bytes);
  expect_refused("--ref cs.rsd --ref dead.rsd", "The Reference data file:- dead.rsd has no live time");
  bytes = test::read_bytes(work(k40));
  bin::put_f32(&bytes[134], 0.0f);
  test::write_bytes(work("empty.rsd"), bytes);
  expect_refused("--ref empty.rsd", "The Reference data file:- empty.rsd has no activity");
  bytes.resize(bytes.size() - 10);
  test::write_bytes(work("cut.rsd"), bytes);
  expect_refused("--ref cut.rsd", "Error Reading Reference data file cut.rsd (the last record of counts is short)");
  expect_refused("--ref missing.rsd", "Error Opening file:- missing.rsd");

  std::string eleven;
  for (int i = 0; i < 11; ++i) eleven += " --ref " + std::string(i % 2 ? cs : k40);
  expect_refused(eleven, "Can only use 10 Reference Spectra");
  expect_refused("--ref cs.rsd --start 100 --end 103", "There must be at least 4 channels for fitting");
}

TEST_F(ReferenceCli, MakingAReferenceChecksItsTitleActivityAndName) {
  spectrum("src.dat", {{"Cs-137", 1000}});
  std::string out;
  EXPECT_EQ(kestrim("reference make src.dat --activity 1000 --uncertainty 2 --title 0123456789abcdef -o a.rsd", &out), 1);
  EXPECT_NE(out.find("kestrim: Spectrum Title should be less than 16 chars."), std::string::npos) << out;
  EXPECT_FALSE(file_exists(work("a.rsd")));
  EXPECT_EQ(kestrim("reference make src.dat --activity 1000 --uncertainty 2 --title 0123456789abcde -o a", &out), 0)
      << out;
  ASSERT_TRUE(file_exists(work("a.rsd")));  // ".rsd" is added to a name without extension
  EXPECT_EQ(bin::get_text(test::read_bytes(work("a.rsd")).data() + 234, 16), "0123456789abcde");
  // An existing file is kept unless --replace is given.
  EXPECT_EQ(kestrim("reference make src.dat --activity 2000 --uncertainty 2 -o a.rsd", &out), 1);
  EXPECT_NE(out.find("kestrim: Update the existing file:- a.rsd ? (The Reference data file already exists)"),
            std::string::npos)
      << out;
  EXPECT_EQ(kestrim("reference make src.dat --activity 2000 --uncertainty 2 -o a.rsd --replace", &out), 0) << out;
  EXPECT_EQ(bin::get_f32(test::read_bytes(work("a.rsd")).data() + 134), 2000.0f);
  EXPECT_EQ(kestrim("reference make src.dat --activity 0 --uncertainty 2 -o b.rsd", &out), 1);
  EXPECT_NE(out.find("kestrim: The activity of a Reference Spectrum must be above 0 Bq"), std::string::npos);
  EXPECT_EQ(kestrim("reference list", &out), 0);
  EXPECT_NE(out.find("a.rsd"), std::string::npos);
  EXPECT_NE(out.find("2000"), std::string::npos) << out;

  // A title in Windows-1252 (as files from Windows hold them) is printed as UTF-8.
  std::vector<std::uint8_t> bytes = test::read_bytes(work("a.rsd"));
  const char* title = "Caf\xe9 Cs-137";
  bin::put_text(bytes.data() + 234, 16, title);
  test::write_bytes(work("cafe.rsd"), bytes);
  spectrum("other.dat", {{"Cs-137", 300}}, 1024, 1.0, 5);
  ASSERT_EQ(kestrim("fit-total other.dat --ref cafe.rsd --json", &out), 0) << out;
  EXPECT_EQ(nlohmann::json::parse(out)["references"][0]["title"], "Caf\u00e9 Cs-137");

  // Wrong command lines.
  EXPECT_EQ(kestrim("reference make src.dat --activity 1000 --uncertainty 2", &out), 2);
  EXPECT_EQ(kestrim("reference make src.dat --activity lots --uncertainty 2 -o c.rsd", &out), 2);
  EXPECT_EQ(kestrim("reference frobnicate", &out), 2);
  EXPECT_EQ(kestrim("fit-total src.dat", &out), 2);
  EXPECT_NE(out.find("kestrim: fit-total: no reference spectrum (--ref FILE.rsd) was given"), std::string::npos);
  EXPECT_EQ(kestrim("fit-total src.dat --ref a.rsd --start x", &out), 2);
}

}  // namespace
}  // namespace kestrim
