// The desktop program's reference-spectrum commands, driven by their
// script lines under the offscreen platform with the shipped Defaults:
// Save Reference Spectrum writes what `kestrim reference make` writes, and
// Select Reference Spectrum makes the chosen files the reference set and
// fits them as `kestrim fit-total` does.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "platform/files.h"
#include "spectrum/native_file.h"
#include "spectrum/simulate.h"
#include "spectrum/simulate_sources.h"
#include "spectrum/spectrum_record.h"
#include "desktop/desktop_run.h"
#include "support/test_support.h"

namespace kestrim {
namespace {

class DesktopReferences : public ::testing::Test {
 protected:
  DesktopReferences() {
    make_directories(dir.file("work"));
  }

  std::string work(const std::string& name) const { return dir.file("work/" + name); }

  int kestrim(const std::string& args, std::string* out) {
    return test::run_command("cd '" + dir.file("work") + "' && XDG_DATA_HOME='" + dir.file("user") + "' '" +
                                 test::kestrim_binary() + "' " + args + " 2>&1",
                             out, true);
  }

  // The transcript of kestrim-desktop run on `script`, without status lines.
  std::vector<std::string> desktop(const std::string& script) {
    const test::DesktopRun ran = test::run_desktop_script(dir, script);
    EXPECT_EQ(ran.status, 0) << ran.output;
    std::vector<std::string> lines;
    for (const std::string& line : ran.lines)
      if (line.rfind("status\t", 0) != 0) lines.push_back(line);
    return lines;
  }

  // A simulated spectrum of the sources as a native file in the working folder.
  void spectrum(const std::string& name, const std::vector<SourceActivity>& sources, double gain,
                std::uint64_t seed, double live) {
    const SimOptions o = source_spectrum_options(sources, 1024, live, gain, seed);
    SpectrumRecord rec;
    store_simulated(simulate_spectrum(o), o, rec);
    rec.header.correction_factor = 1;
    rec.header.collected = DateTime{7, 12, 2026, 9, 0};
    rec.header.sampled = DateTime{1, 12, 2026, 12, 0};
    test::write_bytes(work(name), encode_native(rec, DateTime{8, 12, 2026, 10, 0}, nullptr));
  }

  // The shipped Defaults with reference fitting set up, as the user's file.
  void use_reference_defaults() {
    ASSERT_EQ(test::make_user_defaults(dir.file("user"), {{"mca_variant", "1"},
                                                         {"reference_iterate_position", "1"},
                                                         {"reference_start", "20"},
                                                         {"reference_end", "1000"},
                                                         {"calibration_dir", "\"" + dir.file("work") + "\""}}),
              "");
  }

  // The reference block of the main report.
  std::string reference_section() const {
    const std::string report = test::read_text(work("Main Report.txt"));
    const auto from = report.find(" Total spectrum fit");
    const auto to = report.find(" Kestrim ", from);
    return from == std::string::npos || to == std::string::npos ? "(no reference section)" : report.substr(from, to - from);
  }

  test::TempDir dir;
};

TEST_F(DesktopReferences, SavedReferencesAreChosenAndFittedAsTheCommandLineDoes) {
  use_reference_defaults();
  const std::vector<std::pair<std::string, double>> sources = {{"Cs-137", 1000}, {"K-40", 5000}, {"Th-232", 500}};
  std::string script;
  for (std::size_t k = 0; k < sources.size(); ++k) {
    const std::string name = "ref" + std::to_string(k);
    spectrum(name + ".dat", {{sources[k].first, sources[k].second}}, 1.0, 100 + k, 36000);
    // Title, activity, uncertainty, then the file (no extension: ".rsd" is added).
    script += "open " + work(name + ".dat") + "\ntext " + sources[k].first + "\ntext " +
              std::to_string(static_cast<int>(sources[k].second)) + "\ntext 2\nfile " + work(name) + "\n320\n";
  }
  spectrum("soil.dat", {{"Cs-137", 40}, {"K-40", 400}, {"Th-232", 30}}, 1.01, 7, 3600);
  script += "open " + work("soil.dat") + "\n317\nreferences lines\nreferences select 0 1 2\nreferences ok\nstate\n";
  const std::vector<std::string> lines = desktop(script);
  auto has = [&](const std::string& l) { return std::find(lines.begin(), lines.end(), l) != lines.end(); };
  std::string all;
  for (const std::string& l : lines) all += l + "\n";
  for (int k = 0; k < 3; ++k) ASSERT_TRUE(file_exists(work("ref" + std::to_string(k) + ".rsd"))) << all;
  EXPECT_TRUE(has("reference\tref0.rsd\tCs-137\t1000\t2.0")) << all;
  EXPECT_TRUE(has("reference\tref2.rsd\tTh-232\t500\t2.0")) << all;
  EXPECT_TRUE(has("references\tok\tdone\tclosed")) << all;
  EXPECT_TRUE(has("state\t316\tenabled\tchecked")) << all;

  // The saved files hold what `kestrim reference make` writes.
  std::string listed, made;
  ASSERT_EQ(kestrim("reference list", &listed), 0) << listed;
  for (int k = 0; k < 3; ++k) {
    const std::string n = std::to_string(k);
    std::string out;
    ASSERT_EQ(kestrim("reference make ref" + n + ".dat --activity " +
                          std::to_string(static_cast<int>(sources[static_cast<size_t>(k)].second)) +
                          " --uncertainty 2 --title " + sources[static_cast<size_t>(k)].first + " -o made" + n + ".rsd",
                      &out),
              0)
        << out;
  }
  ASSERT_EQ(kestrim("reference list", &made), 0);
  for (int k = 0; k < 3; ++k) {
    const std::string n = std::to_string(k);
    auto row = [&](const std::string& text, const std::string& file) {
      const auto at = text.find(file);
      return at == std::string::npos ? std::string("missing") : text.substr(at + 24, text.find('\n', at) - at - 24);
    };
    EXPECT_EQ(row(listed, "ref" + n + ".rsd"), row(made, "made" + n + ".rsd")) << listed << made;
  }

  // The fit equals `kestrim fit-total` with the same references and range.
  const std::string desktop_section = reference_section();
  ASSERT_NE(desktop_section, "(no reference section)") << all;
  std::string out;
  ASSERT_EQ(kestrim("fit-total soil.dat --ref ref0.rsd --ref ref1.rsd --ref ref2.rsd --start 20 --end 1000", &out), 0)
      << out;
  EXPECT_EQ(desktop_section, reference_section());

  // An eleventh choice is refused and the first ten are kept.
  for (int k = 3; k < 11; ++k)
    test::write_text(work("copy" + std::to_string(k) + ".rsd"), test::read_text(work("ref0.rsd")));
  const std::vector<std::string> eleven = desktop("open " + work("soil.dat") + "\n317\nreferences select all\nreferences ok\n");
  std::string eleven_text;
  for (const std::string& l : eleven) eleven_text += l + "\n";
  EXPECT_NE(eleven_text.find("Can only use 10 Reference Spectra"), std::string::npos) << eleven_text;
}

}  // namespace
}  // namespace kestrim
