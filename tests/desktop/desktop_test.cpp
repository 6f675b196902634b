// The desktop program driven by its scripts under the offscreen platform:
// every command of the main window's table is reachable, keeps its enabled
// and check rules and says exactly what it should; without the privilege
// the guarded commands refuse with their messages; and Full Analysis from
// the menu writes the same reports, byte for byte, as a batch run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <algorithm>
#include <ctime>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/files.h"
#include "spectrum/calibration_record.h"
#include "spectrum/native_file.h"
#include "desktop/desktop_run.h"
#include "support/test_support.h"

namespace kestrim {
namespace {

// The commands the main window must carry: the dispatcher's table and the
// plot window's commands.
const std::vector<int> kCommandIds = {
    100, 102, 243, 265, 212, 234, 235, 324, 237, 241, 248, 256, 213, 308, 288, 247, 320, 262,
    246, 103, 134, 1423, 321, 322, 323, 181, 245, 249, 250, 252, 251, 209, 152, 200, 211, 315,
    197, 239, 326, 316, 317, 214, 298, 208, 215, 226, 190, 196, 187, 198, 199, 188, 189, 191,
    192, 280, 279, 195, 261, 260, 291, 297, 254, 255, 299, 240, 311, 230, 273, 274,
    // passed to the plot window
    116, 117, 118, 127, 164, 165, 169, 170, 171, 174, 175, 217, 218, 219, 270, 304, 193, 194,
    305, 202, 204, 205, 206, 207, 318, 319, 325, 327, 289, 310};

class Desktop : public ::testing::Test {
 protected:
  Desktop() {
    make_directories(dir.file("work"));
    make_directories(dir.file("user"));
  }

  // Runs kestrim-desktop on `script` in the working folder; the transcript
  // lines, without the progress texts.
  std::vector<std::string> run(const std::string& script, int* status = nullptr,
                               bool keep_state = true) {
    std::string text = script;
    for (size_t at; (at = text.find("{example}")) != std::string::npos;) text.replace(at, 9, example());
    test::DesktopRun ran = test::run_desktop_script(dir, text);
    if (status) *status = ran.status;
    EXPECT_EQ(ran.status, 0) << ran.output;
    std::vector<std::string> lines;
    for (std::string line : ran.lines) {
      if (line.rfind("status\t", 0) == 0) continue;
      if (!keep_state && line.rfind("state\t", 0) == 0) continue;
      for (size_t at; (at = line.find(dir.file("work"))) != std::string::npos;)
        line.replace(at, dir.file("work").size(), "{work}");
      lines.push_back(line);
    }
    return lines;
  }

  // The state lines of the n-th "state" script line: id -> "enabled" /
  // "disabled" / "removed", with "+checked".
  static std::map<int, std::string> state_block(const std::vector<std::string>& lines, int n) {
    std::map<int, std::string> out;
    int block = -1;
    bool in_block = false;
    for (const std::string& l : lines) {
      const bool is_state = l.rfind("state\t", 0) == 0;
      if (is_state && !in_block) ++block;
      in_block = is_state;
      if (!is_state || block != n) continue;
      std::istringstream f(l.substr(6));
      std::string id, how, checked;
      std::getline(f, id, '\t');
      std::getline(f, how, '\t');
      std::getline(f, checked, '\t');
      out[std::stoi(id)] = how + (checked == "checked" ? "+checked" : "");
    }
    return out;
  }

  std::string example() const { return test::source_data_dir() + "/examples/example-nai.dat"; }

  test::TempDir dir;
};

const char* const kWalk = R"(state
open {example}
152
state
211
209
state
305
118
state
298
state
209
190
196
187
198
199
188
189
191
192
280
279
311
195
261
260
291
297
254
255
299
240
190
text K-40
223
224
225
228
116
117
118
127
193
194
305
202
204
205
206
207
318
319
325
327
289
310
190
226
217
218
219
270
170
171
304
164
165
169
175
174
200
315
197
239
act ok
326
316
317
212
234
235
324
237
241
248
256
190
213
194
308
288
247
320
262
214
245
act cancel
249
act cancel
250
act cancel
252
act cancel
181
134
1423
321
322
323
230
273
274
100
215
208
251
298
265
102
243
246
state
103
)";

// What the walk must show, line for line (progress texts and the state
// lines left out).
const char* const kWalkTranscript = R"(open	example-nai.dat	loaded
command	152	done
command	211	done
command	209	done
command	305	done
command	118	done
command	298	done
command	209	done
report	Main Report.txt
command	190	done
report	Header Report.txt
command	196	done
report	Peak Fit Report.txt
command	187	done
report	Activity Report.txt
command	198	done
report	Diagnostic Report.txt
command	199	done
message	48	1	Error	Could not open:- {work}/Det_01_ENE.TXT
command	188	failed
message	48	1	Error	Could not open:- {work}/Det_01_SHP.TXT
command	189	failed
message	48	1	Error	Could not open:- {work}/Det_01_001.TXT
command	191	failed
message	48	1	Error	Could not open:- {work}/Det_00_AUT.TXT
command	192	failed
report	Peak Database.csv
command	280	done
message	48	1	Error	No file of this kind is named in the Defaults file
command	279	failed
report	Analysis Params.txt
command	311	done
report	report.tpl
command	195	done
report	Header Report.tpl
command	261	done
message	48	1	Error	No file of this kind is named in the Defaults file
command	260	failed
message	48	1	Error	Could not open:- {work}/Peak Fit Report.tpl
command	291	failed
report	Activity Report.tpl
command	297	done
list	*.enc
command	254	done
list	*.shp
command	255	done
list	*.efc
command	299	done
message	48	1	Error	No file of this kind is named in the Defaults file
command	240	failed
report	Main Report.txt
command	190	done
find	K-40	found
command	223	done
find	K-40	found
command	224	done
find	K-40	found
command	225	done
message	48	1	Error	The font dialog is not available in this build
command	228	failed
command	116	done
command	117	done
command	118	done
command	127	done
command	193	done
command	194	done
command	305	done
command	202	done
command	204	done
command	205	done
command	206	done
command	207	done
command	318	removed
command	319	removed
message	48	1	Error	There is no Overlap data loaded
command	325	failed
message	48	1	Error	There is no Overlap data loaded
command	327	failed
command	289	done
message	48	1	Error	No printer is installed
command	310	failed
report	Main Report.txt
command	190	done
message	48	1	Error	No printer is installed
command	226	failed
command	217	done
command	218	done
command	219	done
command	270	done
command	170	done
command	171	done
command	304	done
message	48	1	Error	Click in the plot where the Peak is to be added
command	164	failed
command	165	done
message	48	1	Error	No peak is selected
command	169	failed
message	48	1	Error	Setting the region bounds by hand is not available in this build
command	175	failed
command	174	done
command	200	done
command	315	done
command	197	done
command	239	done
act	ok	done	closed
command	326	failed
command	316	removed
command	317	removed
dialog	open	Open Detector File	
command	212	failed
dialog	open	Open Analysis Library	
command	234	failed
window	Open Background File
command	235	done
dialog	open	Open Overlap Data File	
command	324	failed
message	3	6	The Calibration has been modified	Save changes to a Detector file ?
dialog	save	Save Detector Calibration File	
command	237	failed
window	Defaults Files
command	241	done
command	248	done
window	Detector File - Det_01.cal
command	256	done
report	Main Report.txt
command	190	done
dialog	save	Save Report	
command	213	failed
command	194	done
dialog	save	Save Detector Calibration File	
command	308	failed
dialog	save	Save Text Spectral Data File	
command	288	failed
window	Save Background File
command	247	done
command	320	removed
window	Set Passwords
message	4	7	No user Password has been entered	Do you want to clear the Password ?
message	4	7	The Passwords will not be changed	Do you want to exit this dialogue?
command	262	failed
window	Save Background File
command	214	done
message	3	6	There is an old Calibration for this Detector	Clear the Energy and Shape Calibration ?
message	3	6	There are already some Peaks found	Repeat the Peak Search ?
dialog	open	Select the required Energy List file	
command	245	done
act	cancel	done	closed
dialog	open	Select the required Energy List file	
command	249	done
act	cancel	done	closed
message	3	6	Error	Do you want to perform a Peak Search and Fitting ?
dialog	open	Select the required Source data file	
command	250	done
act	cancel	done	closed
command	252	done
act	cancel	done	closed
window	Set-Up
command	181	done
command	134	removed
message	48	1	Error	Acquisition is not available in this build
command	1423	failed
command	321	done
command	322	done
command	323	done
help	Acquiring spectra	found
command	230	done
help	Contents	found
command	273	done
help	Contents	found
command	274	done
window	About Kestrim
command	100	done
window	Status
command	215	done
window	Edit Spectrum Header
command	208	done
message	3	6	The Calibration has been modified	Save changes to a Detector file ?
dialog	save	Save Detector Calibration File	
command	251	failed
command	298	done
message	3	6	Press F1 for Help	Save changes to Spectrum data file:- example-nai.dat ?
dialog	save	Save Spectral Data File	
command	265	failed
message	3	6	The Calibration has been modified	Save changes to a Detector file ?
dialog	save	Save Detector Calibration File	
command	102	failed
message	3	6	The Calibration has been modified	Save changes to a Detector file ?
dialog	save	Save Detector Calibration File	
command	243	failed
message	3	6	The Calibration has been modified	Save changes to a Detector file ?
dialog	save	Save Detector Calibration File	
command	246	failed
message	3	6	The Calibration has been modified	Save changes to a Detector file ?
dialog	save	Save Detector Calibration File	
command	103	failed
)";

TEST_F(Desktop, EveryCommandIsReachableWithItsRulesAndMessages) {
  const std::vector<std::string> lines = run(kWalk);

  // Every command of the table is in the menus' table, and the walk carried
  // out each one (or found it removed or disabled as the rules say).
  const std::map<int, std::string> start = state_block(lines, 0);
  std::set<int> dispatched;
  for (const std::string& l : lines)
    if (l.rfind("command\t", 0) == 0) dispatched.insert(std::stoi(l.substr(8)));
  for (int id : kCommandIds) {
    EXPECT_TRUE(start.count(id)) << "command " << id << " is not in the menus";
    EXPECT_TRUE(dispatched.count(id)) << "command " << id << " was not reached";
  }

  // Before any peaks: Fit Peaks, the quantitative analyses and Show Nuclides
  // are off; without an MCA type the MCA commands are removed, outside the
  // MCA-and-analysis variant the reference commands too; the linear scale
  // is checked.
  for (int id : {211, 197, 239, 305}) EXPECT_EQ(start.at(id), "disabled") << id;
  for (int id : {134, 318, 319, 320, 316, 317}) EXPECT_EQ(start.at(id), "removed") << id;
  EXPECT_EQ(start.at(116), "enabled+checked");
  // The peak search enables fitting and the analyses.
  const std::map<int, std::string> searched = state_block(lines, 1);
  for (int id : {211, 197, 239, 187}) EXPECT_EQ(searched.at(id), "enabled") << id;
  // Results enable Show Nuclides; the log scale replaces the linear one.
  EXPECT_EQ(state_block(lines, 2).at(305), "enabled");
  const std::map<int, std::string> shown = state_block(lines, 3);
  EXPECT_EQ(shown.at(305), "enabled+checked");
  EXPECT_EQ(shown.at(118), "enabled+checked");
  EXPECT_EQ(shown.at(116), "enabled");
  // Clear Peak List disables them again and unchecks Show Nuclides.
  const std::map<int, std::string> cleared = state_block(lines, 4);
  for (int id : {211, 197, 239, 305}) EXPECT_EQ(cleared.at(id), "disabled") << id;

  std::vector<std::string> expected;
  std::istringstream in(kWalkTranscript);
  for (std::string l; std::getline(in, l);) expected.push_back(l);
  std::vector<std::string> got;
  for (const std::string& l : lines)
    if (l.rfind("state\t", 0) != 0) got.push_back(l);
  ASSERT_EQ(got.size(), expected.size());
  for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], expected[i]) << "line " << i + 1;
}

// With a user password that was not given, the guarded commands refuse
// with their messages; Set-Up and the library editor warn (the editor then
// refuses every change).
TEST_F(Desktop, WithoutThePrivilegeGuardedCommandsRefuse) {
  std::string defaults = test::read_text(test::source_data_dir() + "/DefaultFiles/Normal.txt");
  defaults += "\nuser_password = \"secret\"\n";
  test::write_text(dir.file("defaults.txt"), defaults);
  make_directories(dir.file("user/kestrim/DefaultFiles"));
  std::string out;
  ASSERT_EQ(test::run_command("'" + test::kestrim_binary() + "' defaults make '" + dir.file("defaults.txt") +
                                  "' -o '" + dir.file("user/kestrim/DefaultFiles/Normal.000") + "'",
                              &out, true),
            0)
      << out;
  const std::vector<std::string> lines =
      run("open {example}\n245\n249\n250\n251\n256\n308\n247\n214\n320\n181\n248\nlib add_nuclide XX\n", nullptr,
          false);
  const std::string refused = "message\t48\t1\tThe Password was not entered\tThis function cannot be used";
  const std::vector<std::string> expected = {
      "ask\tPassword\tEnter the Password",
      "open\texample-nai.dat\tloaded",
      refused, "command\t245\tfailed",
      refused, "command\t249\tfailed",
      refused, "command\t250\tfailed",
      refused, "command\t251\tfailed",
      refused, "command\t256\tfailed",
      refused, "command\t308\tfailed",
      refused, "command\t247\tfailed",
      refused, "command\t214\tfailed",
      "command\t320\tremoved",
      "message\t48\t1\tThe Password was not entered\tModifications made to the Parameters will not be used",
      "window\tSet-Up",
      "command\t181\tdone",
      "message\t48\t1\tThe Password was not entered\tModifications cannot be made to the Library",
      "command\t248\tdone",
      // The editor opens and shows the library, but changes nothing.
      "message\t48\t1\tThe Password was not entered\tModifications cannot be made to the Library",
      "lib\tadd_nuclide\trefused",
  };
  EXPECT_EQ(lines, expected);
}

// Full Analysis from the menu writes the reports a batch run writes, byte
// for byte, with the shipped Defaults and library.
TEST_F(Desktop, FullAnalysisWritesTheBatchReports) {
  make_directories(dir.file("batch"));
  make_directories(dir.file("batch-user"));
  const std::time_t before = std::time(nullptr);
  std::string out;
  ASSERT_EQ(test::run_command("cd '" + dir.file("batch") + "' && XDG_DATA_HOME='" + dir.file("batch-user") +
                                  "' '" + test::kestrim_binary() + "' /batch /file=" + example(),
                              &out, true),
            0)
      << out;
  const std::vector<std::string> lines = run("open {example}\nfull_analysis\n", nullptr, false);
  const std::time_t after = std::time(nullptr);
  EXPECT_EQ(lines.back(), "command\t209\tdone");
  int compared = 0;
  for (const std::string& name : list_directory(dir.file("batch"))) {
    if (extension_of(name) != "txt") continue;
    std::string batch = test::read_text(dir.file("batch/" + name));
    std::string desktop = test::read_text(dir.file("work/" + name));
    // The main report names the minute it was made: only when the runs
    // straddle a minute may that line differ.
    if (before / 60 != after / 60) {
      for (std::string* t : {&batch, &desktop}) {
        const size_t at = t->find("Report made on");
        if (at != std::string::npos) t->erase(at, t->find('\n', at) - at);
      }
    }
    EXPECT_EQ(desktop, batch) << name;
    ++compared;
  }
  EXPECT_GE(compared, 5);
  EXPECT_TRUE(file_exists(dir.file("work/Main Report.txt")));
}

// Peaks are removed, added at the clicked channel and their region refitted
// from the plot.
TEST_F(Desktop, PeaksAreEditedFromThePlot) {
  const std::vector<std::string> lines = run(
      "open {example}\nfull_analysis\npeaks\nclick 305\n165\npeaks\nclick 305\n164\npeaks\n169\npeaks\n"
      "click 5\n169\n",
      nullptr, false);
  const std::vector<std::string> expected = {
      "open\texample-nai.dat\tloaded",
      "command\t209\tdone",
      "peaks\t8\tfitted\t99\t118\t199\t220\t305\t487\t591\t871",
      "click\t305\tpeak 5",
      "command\t165\tdone",
      "peaks\t7\tnot all fitted\t99\t118\t199\t220\t487\t591\t871",
      "click\t305\tpeak 0",
      "command\t164\tdone",
      "peaks\t8\tnot all fitted\t99\t118\t199\t220\t305\t487\t591\t871",
      "command\t169\tdone",
      "peaks\t8\tfitted\t99\t118\t199\t220\t305\t487\t591\t871",
      "click\t5\tpeak 0",
      "message\t48\t1\tError\tNo peak is selected",
      "command\t169\tfailed",
  };
  EXPECT_EQ(lines, expected);
}

// An Abort that arrives while Full Analysis runs (at the first poll, in the
// search, in the fitting) stops it between steps: no report is written and
// the peaks are left unfitted; the next Full Analysis runs to the end.
TEST_F(Desktop, AbortStopsFullAnalysisBetweenSteps) {
  for (int polls : {0, 1000, 3000}) {
    SCOPED_TRACE(polls);
    for (const std::string& name : list_directory(dir.file("work"))) remove_file(dir.file("work/" + name));
    const std::vector<std::string> lines =
        run("open {example}\nabort_after " + std::to_string(polls) + "\nfull_analysis\npeaks\n", nullptr, false);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], "abort");
    EXPECT_EQ(lines[2], "command\t209\tdone");
    EXPECT_NE(lines[3].find("\tnot all fitted"), std::string::npos) << lines[3];
    EXPECT_FALSE(file_exists(dir.file("work/Main Report.txt")));
    EXPECT_FALSE(file_exists(dir.file("work/Activity Report.txt")));
  }
  const std::vector<std::string> lines =
      run("open {example}\nabort_after 0\npeak_search\nfull_analysis\npeaks\n", nullptr, false);
  EXPECT_EQ(lines.back().rfind("peaks\t8\tfitted", 0), 0u) << lines.back();
  EXPECT_TRUE(file_exists(dir.file("work/Main Report.txt")));
}

// A real message box on the offscreen screen: Enter gives the preselected
// button (the first one when none is asked for), Escape answers Cancel (2)
// in every box, also in one without a Cancel button.
TEST_F(Desktop, MessageBoxesAnswerEnterAndEscape) {
  const std::vector<std::string> lines = run(
      "press_in_box 4 7 escape\npress_in_box 4 7 enter\npress_in_box 4 0 enter\npress_in_box 3 6 escape\n"
      "press_in_box 3 7 enter\npress_in_box 0 0 escape\npress_in_box 1 2 enter\npress_in_box 48 0 enter\n",
      nullptr, false);
  const std::vector<std::string> expected = {
      "box\t4\t7\tescape\t2", "box\t4\t7\tenter\t7", "box\t4\t0\tenter\t6", "box\t3\t6\tescape\t2",
      "box\t3\t7\tenter\t7",  "box\t0\t0\tescape\t2", "box\t1\t2\tenter\t2", "box\t48\t0\tenter\t1"};
  EXPECT_EQ(lines, expected);
}

// The header edit refuses a field that fails its check, with its message,
// and changes nothing; accepted values reach the spectrum (its text export)
// and leave it to be saved.
TEST_F(Desktop, HeaderEditChecksItsFields) {
  const std::vector<std::string> lines =
      run("open {example}\nheader live_time abc\nedit_header\nheader units kilograms\nedit_header\n"
          "file " + dir.file("before.txt") + "\nsave_text\n"
          "header title Soil 42\nheader live_time 1200\nedit_header\nfile " + dir.file("after.txt") +
              "\nsave_text\nexit\n",
          nullptr, false);
  const std::vector<std::string> expected = {
      "open\texample-nai.dat\tloaded",
      "window\tEdit Spectrum Header",
      "message\t48\t1\tError\tThe Live Time should be a number",
      "command\t208\tfailed",
      "window\tEdit Spectrum Header",
      "message\t48\t1\tError\tThe Units should have at most 4 characters",
      "command\t208\tfailed",
      "dialog\tsave\tSave Text Spectral Data File\t" + dir.file("before.txt"),
      "command\t288\tdone",
      "window\tEdit Spectrum Header",
      "command\t208\tdone",
      "dialog\tsave\tSave Text Spectral Data File\t" + dir.file("after.txt"),
      "command\t288\tdone",
      "message\t3\t6\tPress F1 for Help\tSave changes to Spectrum data file:- example-nai.dat ?",
      "dialog\tsave\tSave Spectral Data File\t",
      "command\t103\tfailed",
  };
  EXPECT_EQ(lines, expected);
  const std::string before = test::read_text(dir.file("before.txt"));
  const std::string after = test::read_text(dir.file("after.txt"));
  EXPECT_EQ(after.substr(0, after.find('\n')), "    0     1200\r");
  EXPECT_NE(before.substr(0, before.find('\n')), "    0     1200\r");
  EXPECT_EQ(before.substr(before.find('\n')), after.substr(after.find('\n')));
}

// The set-up dialog refuses a hard check's failure, asks about a soft one
// (No refuses), refuses a value that does not read, and keeps what it
// accepted (shown by the parameter report).
TEST_F(Desktop, SetUpAppliesTheChecks) {
  const std::vector<std::string> lines = run(
      "param STOP 5\n181\nparam PKSD 2\nanswer 7\n181\nparam ETOL x\n181\nparam PKSD 2.5\n181\n311\n",
      nullptr, false);
  const std::vector<std::string> expected = {
      "window\tSet-Up",
      "message\t16\t1\tError\tThe Search Start Channel should be > the Stop Channel",
      "command\t181\tfailed",
      "window\tSet-Up",
      "message\t4\t7\tThe Search Discriminator is usually greater than 3.0\tAre you sure you want to use this value ?",
      "command\t181\tfailed",
      "window\tSet-Up",
      "message\t16\t1\tError\tThis value is not valid:- energy tolerance base value, keV",
      "command\t181\tfailed",
      "window\tSet-Up",
      "message\t4\t6\tThe Search Discriminator is usually greater than 3.0\tAre you sure you want to use this value ?",
      "command\t181\tdone",
      "report\tAnalysis Params.txt",
      "command\t311\tdone",
  };
  EXPECT_EQ(lines, expected);
  const std::string report = test::read_text(dir.file("work/Analysis Params.txt"));
  EXPECT_NE(report.find("Discriminator                 :   2.5"), std::string::npos) << report;
}

// The colour file is read at start and written back by the colour dialog
// in the same 52-byte layout; a short one leaves the shipped colours.
TEST_F(Desktop, ColourFileKeepsItsLayout) {
  std::vector<std::uint8_t> custom;
  for (int i = 0; i < 13; ++i)
    custom.insert(custom.end(), {static_cast<std::uint8_t>(10 * i), static_cast<std::uint8_t>(255 - i),
                                 static_cast<std::uint8_t>(7 * i + 1), 0});
  test::write_bytes(dir.file("work/COLOUR.INF"), custom);
  EXPECT_EQ(run("colours\n", nullptr, false).back(), "command\t2002\tdone");
  EXPECT_EQ(test::read_bytes(dir.file("work/COLOUR.INF")), custom);

  test::write_bytes(dir.file("work/COLOUR.INF"), {1, 2, 3, 0, 4, 5});
  EXPECT_EQ(run("colours\n", nullptr, false).back(), "command\t2002\tdone");
  const std::vector<std::uint8_t> shipped = {0,   0,   0,   0, 0,   255, 0,   0, 255, 255, 255, 0, 0,   255,
                                             255, 0,   255, 0, 0,   0,   255, 255, 0,   0,   192, 192, 192, 0,
                                             0,   0,   0,   0, 128, 0,   0,   0, 0,   255, 255, 0, 255, 0,
                                             0,   0,   0,   128, 128, 0, 192, 192, 192, 0};
  EXPECT_EQ(test::read_bytes(dir.file("work/COLOUR.INF")), shipped);
}

// The plot is written as a PDF document and a PNG image of the fitted
// spectrum.
TEST_F(Desktop, PlotExportsAsPdfAndPng) {
  const std::vector<std::string> lines =
      run("open {example}\nfull_analysis\nfile " + dir.file("plot.pdf") + "\nexport_plot\nfile " +
              dir.file("plot.png") + "\nexport_plot\n",
          nullptr, false);
  EXPECT_EQ(lines.back(), "command\t2001\tdone");
  const std::vector<std::uint8_t> pdf = test::read_bytes(dir.file("plot.pdf"));
  ASSERT_GT(pdf.size(), 1000u);
  EXPECT_EQ(std::string(pdf.begin(), pdf.begin() + 5), "%PDF-");
  const std::vector<std::uint8_t> png = test::read_bytes(dir.file("plot.png"));
  ASSERT_GT(png.size(), 1000u);
  EXPECT_EQ(std::string(png.begin() + 1, png.begin() + 4), "PNG");
}

// The calibration windows, driven by the script: the shipped worked example
// calibrated through the energy, peak shape and efficiency windows gives the
// detector file and the reports of the batch calibration, and Cancel in each
// window puts back the calibration record and the efficiency points exactly.
class DesktopCalibration : public Desktop {
 protected:
  void SetUp() override {
    for (const char* folder : {"work", "batch", "batch-user"}) make_directories(dir.file(folder));
    for (const char* name : {"mixed-source.dat", "mixed.enc", "mixed.shp", "mixed.efc"})
      for (const char* folder : {"work/", "batch/"})
        test::write_bytes(dir.file(std::string(folder) + name),
                          test::read_bytes(test::source_data_dir() + "/examples/calibration/" + name));
  }
  // Through the three windows, as a user would: the energy window's list
  // dialog is cancelled, the peaks are searched and fitted, the list read;
  // the shape window reads its list at start and fits all; the efficiency
  // window loads its source, fits, and OK saves the detector file.
  std::string calibrate_script(const std::string& detector_file) const {
    return "open mixed-source.dat\n"
           "energy_calibration\nact fit_peaks\nfile mixed.enc\nact read\nact_points\nact ok\n"
           "file mixed.shp\nshape_calibration\nact fit_all\nact width\nact_screenshot shape.png\nact ok\n"
           "efficiency_calibration\nfile mixed.efc\nact read\nact fit\nact_screenshot efficiency.png\n"
           "file " + detector_file + "\nact ok\n";
  }
  // The detector file with the calibration dates and times of every
  // geometry section blanked (a minute may pass between two runs).
  std::vector<std::uint8_t> undated(const std::string& path) {
    std::vector<std::uint8_t> bytes = test::read_bytes(path);
    for (size_t at = 0; at + 512 <= bytes.size(); at += 512) {
      CalibrationRecord rec;
      decode_calibration_record(bytes.data() + at, rec);
      rec.energy_date = rec.shape_date = rec.efficiency_date = CalDate{};
      rec.energy_time = rec.shape_time = rec.efficiency_time = CalTime{};
      encode_calibration_record(rec, bytes.data() + at);
    }
    return bytes;
  }
  // A saved spectrum's bytes with the time of saving blanked: two saves a
  // minute apart differ there and nowhere else.
  static std::vector<std::uint8_t> unsaved(const std::string& path) {
    std::vector<std::uint8_t> bytes = test::read_bytes(path);
    SpectrumRecord rec;
    BackgroundRecord background;
    NativeReadResult result;
    if (read_native(bytes, rec, background, NativeReadOptions{}, result) != 1) return bytes;
    return encode_native(rec, DateTime{}, nullptr);
  }
  static std::vector<std::uint8_t> saved_bytes(const std::string& path) {
    return path.size() > 4 && path.substr(path.size() - 4) == ".dat" ? unsaved(path) : test::read_bytes(path);
  }
  static std::string without_first_line(std::string text) {
    // The report's first text line names the date and time.
    const size_t at = text.find("\r\n", 2);
    return at == std::string::npos ? text : text.substr(at);
  }
};

TEST_F(DesktopCalibration, WindowsGiveTheBatchDetectorFileAndReports) {
  std::string out;
  ASSERT_EQ(test::run_command("cd '" + dir.file("batch") + "' && XDG_DATA_HOME='" + dir.file("batch-user") + "' '" +
                                  test::kestrim_binary() +
                                  "' /batch /enecal /shape /effcal /src=mixed /lib=NaI_Analysis.lib /file=" +
                                  dir.file("batch/mixed-source.dat"),
                              &out, true),
            0)
      << out;
  const std::vector<std::string> lines = run(calibrate_script(dir.file("work/Det_01.cal")));
  // Every button pressed did its work and each window closed on OK.
  int acts = 0, closed = 0;
  for (const std::string& l : lines) {
    if (l.rfind("act\t", 0) != 0) continue;
    ++acts;
    EXPECT_NE(l.find("\tdone"), std::string::npos) << l;
    closed += l.find("\tclosed") != std::string::npos;
  }
  EXPECT_EQ(acts, 9);
  EXPECT_EQ(closed, 3);
  // The energy window's table pairs the 8 list energies with their peaks.
  int points = 0;
  for (const std::string& l : lines) points += l.rfind("point\t", 0) == 0;
  EXPECT_EQ(points, 9);  // 8 points and the goodness of fit
  ASSERT_TRUE(file_exists(dir.file("work/Det_01.cal")));
  EXPECT_EQ(undated(dir.file("work/Det_01.cal")), undated(dir.file("batch/Det_01.cal")));
  for (const char* report : {"Det_01_ene.txt", "Det_01_shp.txt", "Det_01_001.txt"})
    EXPECT_EQ(without_first_line(test::read_text(dir.file(std::string("work/") + report))),
              without_first_line(test::read_text(dir.file(std::string("batch/") + report))))
        << report;
  EXPECT_GT(test::read_bytes(dir.file("work/efficiency.png")).size(), 1000u);
  EXPECT_GT(test::read_bytes(dir.file("work/shape.png")).size(), 1000u);
}

TEST_F(DesktopCalibration, CancelInEachWindowRestoresTheRecordExactly) {
  make_directories(dir.file("work/before"));
  make_directories(dir.file("work/open"));
  make_directories(dir.file("work/after"));
  auto save = [&](const std::string& folder) {
    return "file " + dir.file("work/" + folder + "/Det_01.cal") + "\nsave_calibration\nfile " +
           dir.file("work/" + folder + "/spectrum.dat") + "\nsave_spectrum\n";
  };
  // A calibrated spectrum; then each window changes the record (the energy
  // check clears the old calibration and the window refits with another
  // order and a point less; the shape window refits in second order; the
  // efficiency window refits in inverse energy and loses a point) and is
  // cancelled.
  const std::string script = calibrate_script(dir.file("work/Det_01.cal")) + save("before") +
                             "answer 6\nanswer 6\nfile mixed.enc\nenergy_calibration\nact fit_peaks\n"
                             "act first\nact delete 2\n" + save("open") + "act cancel\n"
                             "file mixed.shp\nshape_calibration\nact fit_all\nact second\nact cancel\n"
                             "answer 6\nfile mixed.efc\nefficiency_calibration\nact fit\nact inverse 1\n"
                             "act delete 7\nact cancel\n" + save("after");
  const std::vector<std::string> lines = run(script);
  int cancelled = 0;
  for (const std::string& l : lines) cancelled += l == "act\tcancel\tdone\tclosed";
  EXPECT_EQ(cancelled, 3);
  for (const char* name : {"Det_01.cal", "spectrum.dat"}) {
    const std::vector<std::uint8_t> before = saved_bytes(dir.file(std::string("work/before/") + name));
    ASSERT_GT(before.size(), 500u) << name;
    EXPECT_EQ(saved_bytes(dir.file(std::string("work/after/") + name)), before) << name;
  }
  // The energy window had changed the record while it was open.
  EXPECT_NE(test::read_bytes(dir.file("work/open/Det_01.cal")), test::read_bytes(dir.file("work/before/Det_01.cal")));
}

// The two re-calibration windows: Cancel in the automatic re-calibration
// window, which had refitted the record in first order without a point,
// and Cancel in the quantitative auto-calibration window put back the
// calibration record and the efficiency points exactly; OK in the
// quantitative window stores its fit with the identified lines' energies.
// F1 in each window opens the guide at the window's own section, whatever
// the main window ran last.
TEST_F(DesktopCalibration, ReCalibrationWindowsCancelExactlyAndOpenTheirHelp) {
  for (const char* folder : {"before", "auto-open", "after-auto", "after-quant", "accepted"})
    make_directories(dir.file(std::string("work/") + folder));
  auto save = [&](const std::string& folder) {
    return "file " + dir.file("work/" + folder + "/Det_01.cal") + "\nsave_calibration\nfile " +
           dir.file("work/" + folder + "/spectrum.dat") + "\nsave_spectrum\n";
  };
  const std::string script = calibrate_script(dir.file("work/Det_01.cal")) + save("before") +
                             "auto_recalibration\nact first\nact delete 1\nact_points\nmain_report\n"
                             "key F1 calibration\n" + save("auto-open") + "act cancel\n" + save("after-auto") +
                             "quan_auto_cal\nact_points\nact delete 0\nact recalibrate\nkey F1 calibration\n"
                             "act cancel\n" + save("after-quant") +
                             "quan_auto_cal\nact ok\n" + save("accepted");
  const std::vector<std::string> lines = run(script);
  std::vector<std::string> help, points;
  int cancelled = 0, accepted = 0;
  for (const std::string& l : lines) {
    if (l.rfind("help\t", 0) == 0) help.push_back(l);
    if (l.rfind("point\t", 0) == 0) points.push_back(l);
    cancelled += l == "act\tcancel\tdone\tclosed";
    accepted += l == "act\tok\tdone\tclosed";
  }
  EXPECT_EQ(cancelled, 2);
  EXPECT_EQ(accepted, 4);  // energy, shape, efficiency; the quantitative window
  EXPECT_EQ(help, (std::vector<std::string>{"help\tAutomatic energy re-calibration\tfound",
                                            "help\tQuantitative auto-calibration\tfound"}));
  // The automatic window matched the 8 stored energies; after deleting one,
  // 7 points and the goodness of fit.
  ASSERT_GE(points.size(), 8u + 1 + 7 + 1);
  EXPECT_EQ(points[8].substr(0, 6), "point\t");
  for (const char* name : {"Det_01.cal", "spectrum.dat"}) {
    const std::vector<std::uint8_t> before = saved_bytes(dir.file(std::string("work/before/") + name));
    ASSERT_GT(before.size(), 500u) << name;
    EXPECT_NE(saved_bytes(dir.file(std::string("work/auto-open/") + name)), before) << name;
    EXPECT_EQ(saved_bytes(dir.file(std::string("work/after-auto/") + name)), before) << name;
    EXPECT_EQ(saved_bytes(dir.file(std::string("work/after-quant/") + name)), before) << name;
  }
  // OK stored a new energy function whose calibration energies are the
  // identified lines' (the quantitative window's first point was deleted).
  CalibrationRecord before, after;
  const std::vector<std::uint8_t> b = test::read_bytes(dir.file("work/before/Det_01.cal"));
  const std::vector<std::uint8_t> a = test::read_bytes(dir.file("work/accepted/Det_01.cal"));
  ASSERT_GE(b.size(), 512u);
  ASSERT_GE(a.size(), 512u);
  decode_calibration_record(b.data(), before);
  decode_calibration_record(a.data(), after);
  EXPECT_NE(after.energy, before.energy);
  EXPECT_EQ(after.width, before.width);
  EXPECT_GE(after.energy_count, 2.0f);
  EXPECT_LT(after.energy_count, before.energy_count);
}

// The library editor imports the shipped library's CSV source and saves the
// same bytes as the batch import that built the shipped library; its CSV
// export is the batch export's; sorting the nuclides by mass number keeps
// every nuclide with its lines.
TEST_F(Desktop, LibraryEditorImportsAndExportsAsTheBatchCommands) {
  const char* home = std::getenv("KESTRIM_HOME");
  if (!home || !*home) GTEST_SKIP() << "KESTRIM_HOME is not set (run the tests through ctest)";
  const std::string shipped = std::string(home) + "/Libraries/NaI_Analysis.lib";
  const std::string source = test::source_data_dir() + "/Libraries/NaI_Analysis.csv";
  const std::vector<std::string> lines =
      run("edit_library\nkey F1 library\nfile " + source + "\nlib import csv\nfile " + dir.file("work/exported.csv") +
          "\nlib export_csv\nfile " + dir.file("work/imported.lib") + "\nlib save_as\nlib sort_nuclides mass\n"
          "file " + dir.file("work/sorted.csv") + "\nlib export_csv\nanswer 7\nlib close\n");
  int done = 0;
  for (const std::string& l : lines) done += l.rfind("lib\t", 0) == 0 && l.find("\tdone") != std::string::npos;
  EXPECT_EQ(done, 6);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "help\tLibrary editor\tfound"), lines.end());
  // Closing with the sort unsaved asks to save it.
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "message\t3\t7\tThe Library has been modified\tSave changes to library imported.lib ?"),
            lines.end());
  const std::vector<std::uint8_t> original = test::read_bytes(shipped);
  ASSERT_GT(original.size(), 100u);
  EXPECT_EQ(test::read_bytes(dir.file("work/imported.lib")), original);
  std::string out;
  ASSERT_EQ(test::run_command("'" + test::kestrim_binary() + "' library export-csv '" + shipped + "' -o '" +
                                  dir.file("batch.csv") + "'",
                              &out, true),
            0)
      << out;
  const std::string batch_csv = test::read_text(dir.file("batch.csv"));
  EXPECT_EQ(test::read_text(dir.file("work/exported.csv")), batch_csv);
  // The CSV as nuclide blocks (a nuclide row and its line rows).
  auto blocks = [](const std::string& csv) {
    std::vector<std::string> out;
    std::istringstream in(csv);
    for (std::string row; std::getline(in, row);) {
      if (row.rfind("nuclide,", 0) == 0) out.push_back("");
      if (!out.empty()) out.back() += row + "\n";
    }
    return out;
  };
  std::vector<std::string> sorted = blocks(test::read_text(dir.file("work/sorted.csv")));
  std::vector<std::string> original_blocks = blocks(batch_csv);
  ASSERT_GT(original_blocks.size(), 10u);
  auto mass = [](const std::string& block) {
    const size_t dash = block.find('-');
    return dash == std::string::npos || dash > block.find(',', 8) ? 0 : std::atoi(block.c_str() + dash + 1);
  };
  for (size_t i = 1; i < sorted.size(); ++i) EXPECT_LE(mass(sorted[i - 1]), mass(sorted[i])) << sorted[i];
  std::sort(sorted.begin(), sorted.end());
  std::sort(original_blocks.begin(), original_blocks.end());
  EXPECT_EQ(sorted, original_blocks);
}

// The library editor saves a shipped library it did not change, and one
// whose additions were all taken back, byte for byte as shipped; the
// additions themselves are written (a nuclide entry of 102 bytes and 12
// bytes a line).
TEST_F(Desktop, LibraryEditorRoundTripsTheShippedLibraries) {
  const char* home = std::getenv("KESTRIM_HOME");
  if (!home || !*home) GTEST_SKIP() << "KESTRIM_HOME is not set (run the tests through ctest)";
  const std::string libraries = std::string(home) + "/Libraries/";
  std::string script = "edit_library\n";
  for (const char* name : {"NaI_Analysis.lib", "NaI_LOD.lib", "NaI_PeakSearch.lib", "NaI_Wide.lib"})
    script += "lib open " + libraries + name + "\nfile " + dir.file(std::string("work/same-") + name) + "\nlib save_as\n";
  // XX-1 gets two lines (sorted, one edited) and a description; nuclide
  // 2 a line above all of its own. Saved; then all of it taken back.
  script += "lib open " + libraries + "NaI_Analysis.lib\n"
            "lib add_nuclide XX-1\nlib add_line 300 10 2\nlib add_line 200 5 1\nlib sort\n"
            "lib edit_line 0 0 250\nlib edit_line 0 3 1\n"
            "file " + dir.file("work/edited.lib") + "\nlib save_as\n"
            "lib delete_nuclide\nlib select 2\nlib add_line 9000 1 1\nlib sort\nlib delete_line\n"
            "file " + dir.file("work/restored.lib") + "\nlib save_as\nlib close\n";
  const std::vector<std::string> lines = run(script);
  int done = 0;
  for (const std::string& l : lines)
    if (l.rfind("lib\t", 0) == 0) {
      // Only the line edit of a column that does not exist is refused.
      if (l == "lib\tedit_line\trefused") continue;
      EXPECT_NE(l.find("\tdone"), std::string::npos) << l;
      ++done;
    }
  EXPECT_EQ(done, 8 + 14);
  for (const char* name : {"NaI_Analysis.lib", "NaI_LOD.lib", "NaI_PeakSearch.lib", "NaI_Wide.lib"}) {
    const std::vector<std::uint8_t> original = test::read_bytes(libraries + name);
    ASSERT_GT(original.size(), 100u) << name;
    EXPECT_EQ(test::read_bytes(dir.file(std::string("work/same-") + name)), original) << name;
  }
  const std::vector<std::uint8_t> original = test::read_bytes(libraries + "NaI_Analysis.lib");
  const std::vector<std::uint8_t> edited = test::read_bytes(dir.file("work/edited.lib"));
  EXPECT_EQ(edited.size(), original.size() + 102 + 2 * 12);
  EXPECT_EQ(test::read_bytes(dir.file("work/restored.lib")), original);
}

}  // namespace
}  // namespace kestrim
