// The desktop program's file lists and editors, driven by their script
// lines under the offscreen platform with the shipped Defaults, libraries
// and detector file: the spectrum list reads a folder of mixed formats and
// analyses it as the batch does, with progress and Abort, and merges; the
// Defaults list switches, creates and deletes with its questions; the
// detector-file editor leaves file and session exactly as they were on
// Cancel and writes only what was changed on Save; the background list
// saves and chooses background files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include "platform/binio.h"
#include "platform/c_locale.h"
#include "platform/files.h"
#include "spectrum/calibration_record.h"
#include "desktop/desktop_run.h"
#include "support/test_support.h"

namespace kestrim {
namespace {

class DesktopLists : public ::testing::Test {
 protected:
  DesktopLists() {
    for (const char* d : {"work", "user", "spectra"}) make_directories(dir.file(d));
  }

  // Runs kestrim-desktop on `script` in the working folder; the transcript
  // lines without the progress texts, the working folder written {work}.
  std::vector<std::string> run(const std::string& script) {
    test::DesktopRun ran = test::run_desktop_script(dir, script);
    EXPECT_EQ(ran.status, 0) << ran.output;
    std::vector<std::string> lines;
    for (std::string line : ran.lines) {
      if (line.rfind("status\t", 0) == 0) continue;
      for (size_t at; (at = line.find(dir.path())) != std::string::npos;) line.replace(at, dir.path().size(), "{dir}");
      lines.push_back(line);
    }
    return lines;
  }

  // The lines of `lines` from the first one equal to `from` up to the
  // first one equal to `to` (both included).
  static std::vector<std::string> between(const std::vector<std::string>& lines, const std::string& from,
                                          const std::string& to) {
    auto a = std::find(lines.begin(), lines.end(), from);
    auto b = a == lines.end() ? lines.end() : std::find(a, lines.end(), to);
    return a == lines.end() || b == lines.end() ? std::vector<std::string>{} : std::vector<std::string>(a, b + 1);
  }

  std::string example() const { return test::source_data_dir() + "/examples/example-nai.dat"; }

  test::TempDir dir;
};

// The channel counts of a text spectrum as the program writes it (one
// channel a line: its number and its count).
std::vector<double> text_counts(const std::string& text) {
  std::vector<double> counts;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    const std::string t = line.substr(0, line.find('\r'));
    if (t.find_first_not_of(' ') == std::string::npos) continue;
    char* end = nullptr;
    c_strtod(t.c_str(), &end);
    counts.push_back(c_strtod(end, nullptr));
  }
  return counts;
}

// An Ortec CHN file of these counts (channel 0 and 1: live and true time
// in seconds, as the text spectrum holds them) with a linear calibration
// and a sample description.
std::vector<std::uint8_t> chn_file(const std::vector<double>& counts, const std::string& title) {
  const int channels = static_cast<int>(counts.size());
  std::vector<std::uint8_t> b(32 + static_cast<size_t>(channels) * 4 + 512, 0);
  bin::put_i16(b.data(), -1);
  bin::put_i16(b.data() + 2, 1);
  bin::put_i16(b.data() + 4, 1);
  std::memcpy(b.data() + 6, "00", 2);
  bin::put_i32(b.data() + 8, static_cast<std::int32_t>(counts[1] * 50));
  bin::put_i32(b.data() + 12, static_cast<std::int32_t>(counts[0] * 50));
  std::memcpy(b.data() + 16, "01JAN261", 8);
  std::memcpy(b.data() + 24, "1200", 4);
  bin::put_i16(b.data() + 30, static_cast<std::int16_t>(channels));
  for (int i = 0; i < channels; ++i) bin::put_i32(b.data() + 32 + 4 * i, static_cast<std::int32_t>(counts[i]));
  std::uint8_t* t = b.data() + 32 + static_cast<size_t>(channels) * 4;
  bin::put_i16(t, -101);
  bin::put_f32(t + 8, 3.0f);
  t[320] = static_cast<std::uint8_t>(title.size());
  std::memcpy(t + 321, title.data(), title.size());
  return b;
}

// A report without the time it was made, and without the sampling and
// counting times of a spectrum that carries none (a text spectrum takes the
// time it is read: a minute may pass between two runs).
std::string without_report_date(std::string text) {
  for (const char* label : {"Report made on", " Sampled    ", " Counted    "}) {
    const size_t at = text.find(label);
    if (at != std::string::npos) text.erase(at, text.find('\n', at) - at);
  }
  return text;
}

// A folder of the shipped example in the native format, a copy saved with
// another title, its text export and an Ortec CHN made from that, besides
// a file that is no spectrum and a CHN cut short: the list shows the four
// spectra with their formats and titles; analysing them all reports each
// one as a batch run of that file does, with a progress line each; an
// Abort during the first stops the run there; merging three of them (each
// read by its own format) gives the sums under the name "Sum_Spec.dat".
TEST_F(DesktopLists, SpectrumListAnalysesAFolderOfMixedFormats) {
  run("open " + example() + "\nfile " + dir.file("spectra/c-text.txt") + "\nsave_text\n" +
      "header title Second copy\nedit_header\nfile " + dir.file("spectra/b-copy.dat") + "\nsave_spectrum\n");
  test::write_bytes(dir.file("spectra/a-example.dat"), test::read_bytes(example()));
  const std::vector<double> counts = text_counts(test::read_text(dir.file("spectra/c-text.txt")));
  ASSERT_EQ(counts.size(), 1024u);
  ASSERT_GT(counts[0], 0);
  test::write_bytes(dir.file("spectra/d-example.chn"), chn_file(counts, "Ortec copy"));
  test::write_text(dir.file("spectra/notes.txt"), "Counted on Monday\r\n");
  test::write_bytes(dir.file("spectra/short.chn"), {0xff, 0xff, 0, 0, 0, 0});

  const std::vector<std::string> lines = run(
      "param named_reports 1\nsetup\nlist_spectra\nspectra folder " + dir.file("spectra") +
      "\nspectra lines\nspectra select all\nabort_after 0\nspectra analyse\nspectra analyse\n"
      "spectra select 0 2 3\nspectra merge\nfile " + dir.file("sum.txt") + "\nsave_text\nfull_analysis\n"
      "spectra screenshot spectra.png\nspectra close\n");
  const std::vector<std::string> listed = between(lines, "spectra\tfolder\tdone", "spectra\tlines\tdone");
  const std::vector<std::string> expected_list = {
      "spectra\tfolder\tdone",
      "spectrum\ta-example.dat\tKestrim format\tSynthetic NaI example (simulated)\t1024\t3600.0",
      "spectrum\tb-copy.dat\tKestrim format\tSecond copy\t1024\t3600.0",
      "spectrum\tc-text.txt\tText File\t\t1024\t3600.0",
      "spectrum\td-example.chn\tOrtec CHN\tOrtec copy\t1024\t3600.0",
      "spectra\tlines\tdone",
  };
  EXPECT_EQ(listed, expected_list);
  // The Abort arrives in the first spectrum's analysis: no other is opened.
  const std::vector<std::string> aborted = between(lines, "spectra\tselect\tdone", "spectra\tanalyse\trefused");
  ASSERT_EQ(aborted.size(), 5u) << testing::PrintToString(lines);
  EXPECT_EQ(aborted[1], "progress\t1\t4\ta-example.dat");
  EXPECT_EQ(aborted[2], "abort");
  EXPECT_EQ(aborted[3].rfind("analysed\t", 0), 0u);
  EXPECT_NE(aborted[3], "analysed\t4\t4");
  // The second run analyses all four, telling each one.
  const std::vector<std::string> full = between(lines, "spectra\tanalyse\trefused", "spectra\tanalyse\tdone");
  const std::vector<std::string> expected_full = {
      "spectra\tanalyse\trefused",      "progress\t1\t4\ta-example.dat", "progress\t2\t4\tb-copy.dat",
      "progress\t3\t4\tc-text.txt",     "progress\t4\t4\td-example.chn", "analysed\t4\t4",
      "spectra\tanalyse\tdone"};
  EXPECT_EQ(full, expected_full);
  // Each report is the one a batch run of that file makes with the same
  // Defaults (those the desktop runs left).
  for (const char* name : {"a-example.dat", "b-copy.dat", "c-text.txt", "d-example.chn"}) {
    SCOPED_TRACE(name);
    const std::string batch = dir.file(std::string("batch-") + name);
    make_directories(batch);
    std::string out;
    ASSERT_EQ(test::run_command("cd '" + batch + "' && XDG_DATA_HOME='" + dir.file("user") + "' '" + test::kestrim_binary() +
                                    "' /batch /file=" + dir.file(std::string("spectra/") + name),
                                &out, true),
              0)
        << out;
    const std::string desktop = test::read_text(dir.file(std::string("work/") + name + ".txt"));
    ASSERT_GT(desktop.size(), 500u);
    EXPECT_EQ(without_report_date(desktop), without_report_date(test::read_text(batch + "/Main Report.txt")));
  }
  // The merge of the example, its text export and its CHN copy: three
  // times its counts and times, analysed under the name Sum_Spec.dat.
  EXPECT_NE(std::find(lines.begin(), lines.end(), "spectra\tmerge\tdone"), lines.end());
  const std::vector<double> sum = text_counts(test::read_text(dir.file("sum.txt")));
  ASSERT_EQ(sum.size(), counts.size());
  for (size_t i = 0; i < counts.size(); ++i) ASSERT_EQ(sum[i], 3 * counts[i]) << "channel " << i;
  EXPECT_TRUE(file_exists(dir.file("work/Sum_Spec.dat.txt")));
  EXPECT_GT(test::read_bytes(dir.file("work/spectra.png")).size(), 1000u);
}

// Creating, switching and deleting Defaults files through the list, with
// the questions and refusals in their exact words; the files on disk
// follow.
TEST_F(DesktopLists, DefaultsListSwitchesCreatesAndDeletes) {
  const std::vector<std::string> lines = run(
      "list_defaults\ndefaults lines\ndefaults create 7\ndefaults create 7\ndefaults create 100\n"
      "defaults application Lab\nanswer 7\nanswer 7\ndefaults create 3\ndefaults lines\n"
      "defaults application Lab\ndefaults create 3\ndefaults lines\n"
      "defaults application Normal\ndefaults select 7\ndefaults switch\ndefaults delete\n"
      "defaults select 0\ndefaults delete\ndefaults application Lab\ndefaults select 3\n"
      "answer 7\ndefaults delete\nanswer 6\ndefaults delete\ndefaults lines\ndefaults close\n");
  const std::string caption7 = "Could not open Normal Defaults File for Detector 7";
  const std::string caption3 = "Could not open Lab Defaults File for Detector 3";
  const std::vector<std::string> expected = {
      "window\tDefaults Files",
      "command\t241\tdone",
      "defaults\tNormal.000\tprogram\tin use",
      "defaults\tlines\tdone",
      "message\t4\t6\t" + caption7 + "\tCreate a new Normal Defaults File ?",
      "defaults\tcreate\tdone",
      "message\t48\t1\tError\tThe Defaults File:- Normal.007 already exists",
      "defaults\tcreate\trefused",
      "message\t48\t1\tError\tThe file number should be between 1 and 99",
      "defaults\tcreate\trefused",
      "defaults\tapplication\tdone",
      // No, then No to the NORMAL file: nothing is created, Normal.007 stays.
      "message\t4\t7\t" + caption3 + "\tCreate a new Lab Defaults File ?",
      "message\t4\t7\t" + caption3 + "\tCreate a new NORMAL Defaults File ?",
      "defaults\tcreate\trefused",
      "defaults\tNormal.000\tuser",
      "defaults\tNormal.007\tuser\tin use",
      "defaults\tlines\tdone",
      "defaults\tapplication\tdone",
      "message\t4\t6\t" + caption3 + "\tCreate a new Lab Defaults File ?",
      "defaults\tcreate\tdone",
      "defaults\tLab.003\tuser\tin use",
      "defaults\tNormal.000\tuser",
      "defaults\tNormal.007\tuser",
      "defaults\tlines\tdone",
      "defaults\tapplication\tdone",
      "defaults\tselect\tdone",
      "defaults\tswitch\tdone",
      "message\t48\t1\tError\tThe Defaults File in use cannot be deleted:- Normal.007",
      "defaults\tdelete\trefused",
      "defaults\tselect\tdone",
      "message\t48\t1\tError\tThe start-up Defaults File cannot be deleted",
      "defaults\tdelete\trefused",
      "defaults\tapplication\tdone",
      "defaults\tselect\tdone",
      "message\t4\t7\tPress F1 for Help\tDelete the Defaults File:- Lab.003 ?",
      "defaults\tdelete\trefused",
      "message\t4\t6\tPress F1 for Help\tDelete the Defaults File:- Lab.003 ?",
      "defaults\tdelete\tdone",
      "defaults\tNormal.000\tuser",
      "defaults\tNormal.007\tuser\tin use",
      "defaults\tlines\tdone",
      "defaults\tclose\tdone\tclosed",
  };
  EXPECT_EQ(lines, expected);
  const std::string folder = dir.file("user/kestrim/DefaultFiles/");
  EXPECT_TRUE(file_exists(folder + "Normal.007"));
  EXPECT_FALSE(file_exists(folder + "Lab.003"));
  // The start-up file names the Defaults in use at the end: number 7.
  const std::vector<std::uint8_t> startup = test::read_bytes(folder + "Normal.000");
  ASSERT_GE(startup.size(), 2304u);
  EXPECT_EQ(bin::get_i32(startup.data()), 7);
}

// The detector-file editor on the shipped Det_01.cal: refused values say
// why; Cancel, and No to the question on closing, leave no file written and
// the calibration in memory as it was, byte for byte; Save writes exactly
// the fields changed. The geometry dialog then shows the saved description,
// refuses an uncalibrated geometry and asks before leaving its edits.
TEST_F(DesktopLists, DetectorEditorCancelRestoresTheRecordExactly) {
  const char* home = std::getenv("KESTRIM_HOME");
  if (!home || !*home) GTEST_SKIP() << "KESTRIM_HOME is not set (run the tests through ctest)";
  const std::string shipped = std::string(home) + "/Calibration/Det_01.cal";
  const std::vector<std::string> lines = run(
      "open " + example() + "\nfile " + dir.file("before.dat") + "\nsave_spectrum\n"
      "edit_detector_file\ndetector set c1 0.5\ndetector set energy_terms 4\ndetector set form 2\n"
      "detector set c0 abc\ndetector geometry 1 description Soil pot 250 ml\n"
      "detector geometry 1 background toolongname12.bkg\ndetector geometry 1 background soil.txt\n"
      "detector geometry 1 units kilogram\ndetector geometry 1 size -1\ndetector geometry 1 uncertainty 3.5\n"
      "detector cancel\n"
      "edit_detector_file\ndetector set c1 0.5\ndetector geometry 2 description Filter\nanswer 7\ndetector close\n"
      "file " + dir.file("after.dat") + "\nsave_spectrum\n"
      "edit_detector_file\ndetector set c1 0.5\ndetector geometry 2 description Filter\nanswer 2\ndetector close\n"
      "detector set c1 2.999999\ndetector save\ndetector close\n"
      "choose_geometry\ngeometry lines\ngeometry choose 2\ngeometry edit 2 units kilogram\n"
      "geometry edit 2 units l\nanswer 7\ngeometry close\n");
  const std::vector<std::string> expected_refusals = {
      "message\t48\t1\tError\tThe number of Energy terms should be 0, 2 or 3",
      "detector\tset\trefused",
      "message\t48\t1\tError\tThe Energy form should be 0 (polynomial) or 1 (logarithmic)",
      "detector\tset\trefused",
      "message\t48\t1\tError\tThis value is not valid:- Energy c0 (keV)",
      "detector\tset\trefused",
      "detector\tgeometry\tdone",
      "message\t0\t1\tError\tThe complete filename name should be 12 or less characters",
      "detector\tgeometry\trefused",
      "message\t0\t1\tError\tThe filename extension:- BKG should be used",
      "detector\tgeometry\trefused",
      "message\t48\t1\tError\tThe Units should have at most 4 characters",
      "detector\tgeometry\trefused",
      "message\t48\t1\tError\tThe Sample Size should be a number",
      "detector\tgeometry\trefused",
      "detector\tgeometry\tdone",
      "detector\tcancel\tdone\tclosed",
  };
  auto at = std::find(lines.begin(), lines.end(), expected_refusals.front());
  ASSERT_NE(at, lines.end());
  EXPECT_EQ(std::vector<std::string>(at, at + static_cast<long>(expected_refusals.size())), expected_refusals);
  const std::string question = "message\t3\t%d\tThe Detector file has been modified\tDo you want to update the file ?";
  for (const char* answer : {"7", "2"}) {
    std::string q = question;
    q.replace(q.find("%d"), 2, answer);
    EXPECT_NE(std::find(lines.begin(), lines.end(), q), lines.end()) << q;
  }
  // Cancel at the question keeps the editor open; Save then closes without asking.
  EXPECT_NE(std::find(lines.begin(), lines.end(), "detector\tclose\trefused"), lines.end());
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.find("Do you want to update the file ?") != std::string::npos; }),
            3);

  // Nothing was written before the Save; the session's record is unchanged.
  const std::vector<std::uint8_t> before = test::read_bytes(dir.file("before.dat"));
  ASSERT_GT(before.size(), 1024u);
  EXPECT_EQ(test::read_bytes(dir.file("after.dat")), before);

  // Save wrote the shipped file with only c1 and geometry 2's description
  // changed (c1 written back as shown: its bits changed only when the
  // value did).
  const std::vector<std::uint8_t> original = test::read_bytes(shipped);
  const std::vector<std::uint8_t> saved = test::read_bytes(dir.file("work/Det_01.cal"));
  ASSERT_EQ(saved.size(), original.size());
  std::vector<size_t> changed;
  for (size_t i = 0; i < saved.size(); ++i)
    if (saved[i] != original[i]) changed.push_back(i);
  ASSERT_FALSE(changed.empty());
  for (size_t i : changed)
    EXPECT_TRUE((i >= 8 && i < 12) || (i >= 512 + 416 && i < 512 + 456)) << "byte " << i;
  EXPECT_EQ(bin::get_f32(saved.data() + 8), 2.999999f);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(saved.data() + 512 + 416)), "Filter");

  const std::vector<std::string> geometry = between(lines, "window\tGeometries of Det_01.cal", "geometry\tclose\tdone\tclosed");
  const std::vector<std::string> expected_geometry = {
      "window\tGeometries of Det_01.cal",
      "command\t2101\tdone",
      "geometry\t1\tcalibrated\t1 kg soil, Marinelli beaker\t1\tkg\t",
      "geometry\t2\tnot calibrated\tFilter\t0\t\t",
      "geometry\tlines\tdone",
      "message\t0\t1\tPress F1 for Help\tWarning, there is no Calibration for Geometry 2",
      "geometry\tchoose\trefused",
      "message\t48\t1\tError\tThe Units should have at most 4 characters",
      "geometry\tedit\trefused",
      "geometry\tedit\tdone",
      "message\t3\t7\tThe Detector file has been modified\tDo you want to update the file ?",
      "geometry\tclose\tdone\tclosed",
  };
  EXPECT_EQ(geometry, expected_geometry);
  EXPECT_EQ(test::read_bytes(dir.file("work/Det_01.cal")), saved);
}

// "Analyse and Save as Bkg" through the background list: the name rule,
// the save with its status texts, an aborted analysis that saves nothing;
// the list then shows the saved file with the spectrum's title and loads it.
TEST_F(DesktopLists, BackgroundListSavesAndChooses) {
  const std::string script = "open " + example() +
                             "\nanalyse_save_background\nbackground ok toolongname123\nbackground ok bg.txt\n"
                             "background ok soil\nabort_after 0\nanalyse_save_background\nbackground ok other\n"
                             "open_background\nbackground lines\nbackground ok soil\n";
  const test::DesktopRun ran = test::run_desktop_script(dir, script);
  ASSERT_EQ(ran.status, 0) << ran.output;
  std::vector<std::string> lines;
  for (const std::string& line : ran.lines)
    if (line.rfind("status\t", 0) != 0 || line.find("Background") != std::string::npos) lines.push_back(line);
  const std::vector<std::string> expected = {
      "open\texample-nai.dat\tloaded",
      "status\tEnter the required Background filename, then select 'Open'",
      "window\tSave Background File",
      "command\t214\tdone",
      "message\t0\t1\tError\tThe complete filename name should be 12 or less characters",
      "background\tok\trefused",
      "message\t0\t1\tError\tThe filename extension:- BKG should be used",
      "background\tok\trefused",
      "status\tAnalysing Background Spectrum",
      "message\t0\t1\tError\tBackground data file:- soil.bkg saved",
      "background\tok\tdone\tclosed",
      "status\tSelect the required Background filename, then select 'Open'",
      "window\tSave Background File",
      "command\t214\tdone",
      "status\tAnalysing Background Spectrum",
      "abort",
      "message\t0\t1\tError\tBackground save aborted",
      "status\tBackground save aborted",
      "background\tok\trefused\tclosed",
      "status\tSelect the required Background filename, then select 'Open'",
      "window\tOpen Background File",
      "command\t235\tdone",
      "background\tsoil.bkg\tSynthetic NaI example (simulated)",
      "background\tlines\tdone",
      "background\tok\tdone\tclosed",
  };
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(test::read_bytes(dir.file("work/soil.bkg")).size(), 2482u);
  EXPECT_FALSE(file_exists(dir.file("work/other.bkg")));
}

}  // namespace
}  // namespace kestrim
