#include "settings/detector_file.h"

#include <gtest/gtest.h>

#include <cstring>

#include "app/state.h"
#include "nuclides/background_file.h"
#include "platform/binio.h"
#include "platform/files.h"
#include "platform/scripted_platform.h"
#include "support/test_support.h"

namespace kestrim {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr const char* kHelp = "Press F1 for Help";

// Field values at literal offsets of section g (1-based).
struct FileBuilder {
  Bytes bytes;
  explicit FileBuilder(int sections) : bytes(static_cast<std::size_t>(sections) * 512, 0) {}
  std::uint8_t* at(int g, int off) { return bytes.data() + (g - 1) * 512 + off; }
  void f32(int g, int off, float v) { bin::put_f32(at(g, off), v); }
  void i16(int g, int off, int v) { bin::put_i16(at(g, off), static_cast<std::int16_t>(v)); }
  void text(int g, int off, const char* s) { std::memcpy(at(g, off), s, std::strlen(s)); }
};

// Three sections: 1 with energy and shape, 2 a calibrated geometry whose
// detector-wide bytes must be ignored, 3 uncalibrated.
FileBuilder sample_detector_file() {
  FileBuilder f(3);
  f.f32(1, 0, 2);        // energy terms, c0, c1
  f.f32(1, 4, 1.5f);
  f.f32(1, 8, 0.5f);
  f.f32(1, 16, 2);       // width terms, w0
  f.f32(1, 20, 1.25f);
  f.f32(1, 76, 661.66f); // first calibration energy
  f.i16(1, 176, 3);      // energy date 3/4/2025 10:20
  f.i16(1, 178, 4);
  f.i16(1, 180, 2025);
  f.i16(1, 184, 10);
  f.i16(1, 186, 20);
  f.i16(1, 476, 9);      // shape date 9/-/- 8:00
  f.i16(1, 484, 8);
  f.f32(1, 188, 111);    // section 1's own efficiency part
  f.i16(1, 404, 1);
  f.f32(2, 8, 99);       // ignored detector-wide bytes of section 2
  f.i16(2, 476, 1);
  f.f32(2, 188, 250);    // geometry 2: crossover, curves, variance, date
  f.f32(2, 192, 2);
  f.f32(2, 216, 3);
  f.f32(2, 220, 0.5f);
  bin::put_f64(f.at(2, 244), 1e-4);
  f.i16(2, 404, 12);
  f.i16(2, 410, 3);
  f.text(2, 416, "0123456789012345678901234567890123456789");  // 40 chars, no NUL
  f.f32(2, 456, 250);
  f.text(2, 460, "g");
  f.text(2, 464, "BKG2.BKG");
  f.f32(2, 500, 0.5f);   // skipped on reading
  f.f32(2, 504, 2.5f);
  bin::put_i32(f.at(2, 508), 1);
  return f;
}

class DetectorFileTest : public ::testing::Test {
 protected:
  DetectorFileTest() : state(ui) { state.paths.working_dir = dir.path(); }
  void write(const std::string& name, const Bytes& b) { test::write_bytes(dir.file(name), b); }
  Bytes read(const std::string& name) { return test::read_bytes(dir.file(name)); }
  int read_cal(int detector, int geometry) {
    return read_detector_calibration(state, detector, geometry, true);
  }

  test::TempDir dir;
  ScriptedPlatform ui;
  State state;
  CalibrationRecord& cal = state.spectrum.calibration;
  SpectrumHeader& header = state.spectrum.header;
};

TEST_F(DetectorFileTest, ReadsHandMadeFileFieldForField) {
  write("Det_04.cal", sample_detector_file().bytes);
  ASSERT_EQ(read_cal(4, 2), 1);
  EXPECT_EQ(cal.energy_terms, 2);
  EXPECT_EQ(cal.energy[1], 0.5f);
  EXPECT_EQ(cal.width[0], 1.25f);
  EXPECT_EQ(cal.energies[0], 661.66f);
  EXPECT_EQ(cal.energy_date, (CalDate{3, 4, 2025}));
  EXPECT_EQ(cal.energy_time, (CalTime{10, 20}));
  EXPECT_EQ(cal.shape_date.day, 9);
  EXPECT_EQ(cal.shape_time.hour, 8);
  EXPECT_EQ(cal.crossover, 250);
  EXPECT_EQ(cal.high_eff[0], 0.5f);
  EXPECT_EQ(cal.variance[0], 1e-4);
  EXPECT_EQ(cal.efficiency_date.day, 12);
  EXPECT_EQ(cal.inverse_form, 3);
  EXPECT_EQ(to_string(cal.geometry_text), "012345678901234567890123456789012345678");  // NUL at 455
  EXPECT_EQ(cal.sample_size, 250);
  EXPECT_EQ(to_string(cal.background_name), "BKG2.BKG");
  EXPECT_EQ(cal.efficiency_max, 0);
  EXPECT_EQ(cal.uncertainty, 2.5f);
  EXPECT_EQ(cal.variance_stored, 1);
  EXPECT_EQ(header.detector_file, 4);
  EXPECT_EQ(header.geometry, 2);
  EXPECT_EQ(header.sample_size, 250);  // was 0
  EXPECT_EQ(to_string(header.units), "g");
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(DetectorFileTest, FoundInCalibrationDirectoryIgnoringCase) {
  std::string sub = dir.file("cal");
  ASSERT_TRUE(make_directories(sub));
  test::write_bytes(sub + "/DET_04.CAL", sample_detector_file().bytes);
  header.detector = 4;  // detector 0: the header's number
  EXPECT_EQ(read_detector_calibration(state, 0, 2, false), 0);  // not in the working dir
  EXPECT_TRUE(ui.messages.empty());                             // no owner: silent
  assign(state.params.calibration_dir, sub);
  EXPECT_EQ(read_detector_calibration(state, 0, 2, false), 1);
}

TEST_F(DetectorFileTest, MissingFileWarnsWithOwner) {
  EXPECT_EQ(read_cal(5, 1), 0);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text,
            "Warning, could not open Calibration file:- " + dir.file("Det_05.cal"));
  EXPECT_EQ(ui.messages[0].caption, kHelp);
  EXPECT_EQ(ui.messages[0].style, kMsgOk);
}

TEST_F(DetectorFileTest, ShortFilesAreErrorsKeepingWhatWasRead) {
  Bytes b = sample_detector_file().bytes;
  b.resize(100);  // ends inside the calibration energies
  write("Det_04.cal", b);
  EXPECT_EQ(read_cal(4, 2), 0);
  EXPECT_EQ(ui.messages.at(0).text, "Error reading Calibration file");
  EXPECT_EQ(ui.messages.at(0).style, kMsgError);
  EXPECT_EQ(cal.energy[1], 0.5f);
  EXPECT_EQ(header.detector_file, 0);
  for (std::size_t size : {487u, 512u + 300u, 512u + 510u}) {  // shape time, geometry 2
    SCOPED_TRACE(size);
    b = sample_detector_file().bytes;
    b.resize(size);
    write("Det_04.cal", b);
    ui.messages.clear();
    EXPECT_EQ(read_cal(4, 2), 0);
    EXPECT_TRUE(ui.said("Error reading Calibration file"));
    EXPECT_NE(header.geometry, 2);
  }
  b.resize(488);  // exactly section 1's detector-wide parts
  write("Det_04.cal", b);
  EXPECT_EQ(read_cal(4, 0), 1);
}

TEST_F(DetectorFileTest, UncalibratedGeometryWarnsAndKeepsDetectorPart) {
  write("Det_04.cal", sample_detector_file().bytes);
  header.geometry = 1;
  EXPECT_EQ(read_cal(4, 3), 0);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Warning, there is no Calibration for Geometry 3");
  EXPECT_EQ(ui.messages[0].caption, kHelp);
  EXPECT_EQ(cal.energy[1], 0.5f);
  EXPECT_EQ(header.detector_file, 4);
  EXPECT_EQ(header.geometry, 1);
  EXPECT_EQ(read_cal(4, 60), 0);  // beyond the end
  EXPECT_TRUE(ui.said("Warning, there is no Calibration for Geometry 60"));
}

TEST_F(DetectorFileTest, FileEnergyOptionAndShapeDateFallback) {
  FileBuilder f = sample_detector_file();
  f.i16(1, 476, 0);  // no shape date: the energy date stands in
  write("Det_04.cal", f.bytes);
  state.params.use_file_energy_calibration = 1;
  cal.energy = {7, 8, 9};
  ASSERT_EQ(read_cal(4, 2), 1);
  EXPECT_EQ(cal.energy[1], 8);  // the spectrum's own energy calibration kept
  EXPECT_EQ(cal.width[0], 1.25f);
  EXPECT_EQ(cal.shape_date, cal.energy_date);
  state.app.spectrum_type = 16;  // acquired: no own calibration
  ASSERT_EQ(read_cal(4, 2), 1);
  EXPECT_EQ(cal.energy[1], 0.5f);
  EXPECT_EQ(cal.shape_date, (CalDate{3, 4, 2025}));
  EXPECT_EQ(cal.shape_time, (CalTime{10, 20}));
}

TEST_F(DetectorFileTest, SampleSizeTakenOnlyWhenUnsetOrTheOldDefault) {
  write("Det_04.cal", sample_detector_file().bytes);
  cal.sample_size = 100;  // the previous geometry's default: 100 ml
  assign(cal.sample_units, "ml");
  header.sample_size = 100;  // the spectrum's own size: kept
  assign(header.units, "kg");
  ASSERT_EQ(read_cal(4, 2), 1);
  EXPECT_EQ(header.sample_size, 100);
  EXPECT_EQ(to_string(header.units), "kg");
  cal.sample_size = 100;
  assign(cal.sample_units, "ml");
  assign(header.units, "ml");  // still the old default: replaced
  ASSERT_EQ(read_cal(4, 2), 1);
  EXPECT_EQ(header.sample_size, 250);
  EXPECT_EQ(to_string(header.units), "g");
}

TEST_F(DetectorFileTest, BackgroundNameHandedOverWithPeakCpsSubtraction) {
  write("Det_04.cal", sample_detector_file().bytes);
  // The named background files exist (in the working directory) and load.
  write("BKG2.BKG", encode_background_file(BackgroundRecord{}));
  write("DEFAULT.BKG", encode_background_file(BackgroundRecord{}));
  assign(state.params.background_file, "DEFAULT.BKG");
  ASSERT_EQ(read_cal(4, 2), 1);
  EXPECT_EQ(state.app.background_name, "");  // subtraction off
  state.params.background_cps_subtraction = 1;
  ASSERT_EQ(read_cal(4, 2), 1);
  EXPECT_EQ(state.app.background_name, "BKG2.BKG");
  FileBuilder f = sample_detector_file();
  std::memset(f.at(2, 464), 0, 12);
  write("Det_04.cal", f.bytes);
  ASSERT_EQ(read_cal(4, 2), 1);
  EXPECT_EQ(state.app.background_name, "DEFAULT.BKG");
  // A detector's background that cannot be loaded falls back to the default.
  write("Det_04.cal", sample_detector_file().bytes);
  test::write_bytes(dir.file("BKG2.BKG"), {0x00, 0x00});
  ASSERT_EQ(read_cal(4, 2), 1);
  EXPECT_EQ(state.app.background_name, "DEFAULT.BKG");
  EXPECT_TRUE(ui.said("BKG2.BKG is not a valid Background File."));
  EXPECT_EQ(state.params.background_cps_subtraction, 1);
}

Bytes efp_with(int geometry, int marker, int count) {
  FileBuilder f(3);
  f.i16(geometry, 0, marker);
  f.i16(geometry, 2, count);
  for (int i = 0; i < 40; ++i) {
    f.f32(geometry, 4 + 4 * i, 100.0f * (i + 1));
    f.f32(geometry, 164 + 4 * i, 0.5f / (i + 1));
    f.f32(geometry, 324 + 4 * i, 0.01f * (i + 1));
  }
  return f.bytes;
}

TEST_F(DetectorFileTest, EfficiencyPointsFromMarkedSection) {
  write("Det_04.cal", sample_detector_file().bytes);
  write("Det_04.efp", efp_with(2, 255, 3));
  state.params.interpolated_efficiency = 1;
  ASSERT_EQ(read_cal(4, 2), 1);
  const auto& p = state.spectrum.efficiency;
  EXPECT_EQ(p.count, 3);
  EXPECT_EQ(p.energy[2], 300.0f);
  EXPECT_EQ(p.efficiency[1], 0.25f);
  EXPECT_EQ(p.uncertainty[0], 0.01f);
  EXPECT_TRUE(state.app.use_efficiency_points);
  state.params.interpolated_efficiency = 0;  // and the high curve has terms
  ASSERT_EQ(read_cal(4, 2), 1);
  EXPECT_FALSE(state.app.use_efficiency_points);
  write("Det_04.efp", efp_with(2, 255, 500));
  ASSERT_EQ(read_cal(4, 2), 1);
  EXPECT_EQ(p.count, 40);
  write("Det_04.efp", efp_with(2, 254, 5));
  ASSERT_EQ(read_cal(4, 2), 1);
  EXPECT_EQ(p.count, 0);
  Bytes cut = efp_with(2, 255, 5);
  cut.resize(512 + 483);  // uncertainties one byte short
  write("Det_04.efp", cut);
  ASSERT_EQ(read_cal(4, 2), 1);
  EXPECT_EQ(p.count, 0);
}

TEST(EfficiencySection, RoundTripExtendsAndZeroesRest) {
  EfficiencyPoints p;
  p.count = 2;
  p.energy = {100, 200};
  p.efficiency = {0.3f, 0.2f};
  Bytes file(512, 0xFF);
  encode_efficiency_section(file, 3, p);
  ASSERT_EQ(file.size(), 3u * 512);
  EXPECT_EQ(file[0], 0xFF);
  EXPECT_EQ(bin::get_i16(&file[1024]), 255);
  EXPECT_EQ(bin::get_i16(&file[1026]), 2);
  EXPECT_EQ(bin::get_f32(&file[1024 + 8]), 200.0f);
  EXPECT_EQ(bin::get_f32(&file[1024 + 168]), 0.2f);
  for (int i = 484; i < 512; ++i) EXPECT_EQ(file[1024 + i], 0) << i;
  EXPECT_EQ(decode_efficiency_section(file, 3), p);
  EXPECT_EQ(decode_efficiency_section(file, 4).count, 0);
}

CalibrationRecord calibrated_record() {
  CalibrationRecord c;
  c.energy_terms = 3;
  c.energy = {1, 0.7f, 1e-5f};
  c.energy_form = 1;
  c.energies[0] = 1460.8f;
  c.energy_date = {1, 2, 2026};
  c.energy_time = {3, 4};
  c.width_terms = -2;
  c.shape_extra = {1, 2, 3, 4, 5, 6, 7, 8};
  c.shape_date = {5, 6, 2026};
  c.shape_time = {7, 8};
  c.crossover = 200;
  c.high_eff_terms = 4;
  c.variance[9] = 1e-3;
  c.efficiency_date = {9, 10, 2026};
  assign(c.geometry_text, "Petri dish");
  assign(c.background_name, "B.BKG");
  c.uncertainty = 4;
  return c;
}

TEST_F(DetectorFileTest, NewFileGetsFiftySectionsAndOnlyChangedParts) {
  header.detector = 3;
  cal = calibrated_record();
  state.app.energy_calibration_changed = true;
  ASSERT_EQ(write_detector_calibration(state, false), 1);
  Bytes b = read("Det_03.cal");
  ASSERT_EQ(b.size(), 50u * 512);
  EXPECT_EQ(bin::get_f32(&b[8]), 0.7f);
  EXPECT_EQ(bin::get_i16(&b[182]), 1);
  EXPECT_EQ(bin::get_f32(&b[76]), 1460.8f);
  EXPECT_EQ(bin::get_i16(&b[186]), 4);
  EXPECT_EQ(bin::get_f32(&b[16]), 0);  // shape unchanged
  EXPECT_EQ(bin::get_f32(&b[188]), 0);  // no efficiency pending
  EXPECT_TRUE(state.app.spectrum_changed);
  state.app.energy_calibration_changed = false;
  state.app.shape_calibration_changed = true;
  ASSERT_EQ(write_detector_calibration(state, false), 1);
  b = read("Det_03.cal");
  EXPECT_EQ(bin::get_f32(&b[16]), -2);
  EXPECT_EQ(b[71], 8);
  EXPECT_EQ(bin::get_i16(&b[476]), 5);
  EXPECT_EQ(bin::get_i16(&b[486]), 8);
}

TEST_F(DetectorFileTest, WritingGeometrySixtyExtendsFileAndPoints) {
  header.detector = 2;
  header.geometry = 60;
  cal = calibrated_record();
  state.spectrum.efficiency.count = 1;
  state.spectrum.efficiency.energy[0] = 122;
  state.app.efficiency_update_pending = true;
  ASSERT_EQ(write_detector_calibration(state, false), 1);
  Bytes b = read("Det_02.cal");
  ASSERT_EQ(b.size(), 60u * 512);
  EXPECT_EQ(bin::get_f32(&b[59 * 512 + 188]), 200);
  Bytes e = read("Det_02.efp");
  ASSERT_EQ(e.size(), 60u * 512);
  EXPECT_EQ(bin::get_f32(&e[59 * 512 + 4]), 122);
  EXPECT_FALSE(state.app.efficiency_update_pending);
}

TEST_F(DetectorFileTest, WrittenCalibrationReadsBackIdentically) {
  header.detector = 6;
  header.geometry = 2;
  cal = calibrated_record();
  state.spectrum.efficiency.count = 2;
  state.spectrum.efficiency.energy = {59.5f, 661.7f};
  auto all_changed = [](State& s) {
    s.app.energy_calibration_changed = s.app.shape_calibration_changed = true;
    s.app.efficiency_update_pending = true;
  };
  all_changed(state);
  ASSERT_EQ(write_detector_calibration(state, false), 1);
  const Bytes first = read("Det_06.cal");

  State fresh(ui);
  fresh.paths.working_dir = dir.path();
  ASSERT_EQ(read_detector_calibration(fresh, 6, 2, true), 1);
  EXPECT_EQ(fresh.spectrum.calibration, cal);  // bytes 488-503 are zero in both
  EXPECT_EQ(fresh.spectrum.efficiency, state.spectrum.efficiency);
  all_changed(fresh);
  ASSERT_EQ(write_detector_calibration(fresh, false), 1);
  EXPECT_EQ(read("Det_06.cal"), first);
}

TEST_F(DetectorFileTest, WriteFailuresAreReported) {
  header.detector = 2;
  state.app.efficiency_update_pending = true;
  EXPECT_EQ(write_detector_calibration(state, false), 0);
  EXPECT_TRUE(ui.said("There is currently no Geometry number set"));
  state.params.default_geometry = 4;  // the parameters' default serves
  EXPECT_EQ(write_detector_calibration(state, false), 1);
  write("Det_02.cal", Bytes(511, 0));
  EXPECT_EQ(write_detector_calibration(state, false), 0);
  EXPECT_TRUE(ui.said("Error Reading existing Calibration data"));
  EXPECT_EQ(read("Det_02.cal").size(), 511u);
}

FileDialog chosen(const std::string& path, const std::string& directory) {
  FileDialog d;
  d.paths = {path};
  d.directory = directory;
  return d;
}

TEST_F(DetectorFileTest, OwnerChoosesNameAndIsAskedBeforeOverwriting) {
  write("Det_08.cal", sample_detector_file().bytes);
  const Bytes before = read("Det_08.cal");
  cal = calibrated_record();
  state.app.energy_calibration_changed = true;
  ui.save_results.push_back(chosen(dir.file("Det_08"), dir.path()));  // ".cal" added
  ui.answers.push_back(kAnswerNo);
  EXPECT_EQ(write_detector_calibration(state, true), 0);
  EXPECT_EQ(ui.dialogs_shown.at(0).title, "Save Detector Calibration File");
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Update Calibration file " + dir.file("Det_08.cal") + " ?");
  EXPECT_EQ(ui.messages[0].caption, "The Calibration file already exists");
  EXPECT_EQ(ui.messages[0].style, kMsgYesNo);
  EXPECT_EQ(ui.messages[0].default_answer, kAnswerYes);
  EXPECT_EQ(read("Det_08.cal"), before);
  EXPECT_EQ(header.detector_file, 8);
  EXPECT_EQ(to_string(state.params.calibration_dir), dir.path());
  ui.save_results.push_back(chosen(dir.file("Det_08.cal"), dir.path()));
  EXPECT_EQ(write_detector_calibration(state, true), 1);  // default answer Yes
  EXPECT_EQ(bin::get_f32(&read("Det_08.cal")[8]), 0.7f);
}

TEST_F(DetectorFileTest, OwnerIsAskedBeforeReplacingCalibratedGeometry) {
  write("Det_04.cal", sample_detector_file().bytes);
  header.geometry = 2;
  cal = calibrated_record();
  state.app.efficiency_update_pending = true;  // energy unchanged: no file prompt
  ui.save_results.push_back(chosen(dir.file("Det_04.cal"), dir.path()));
  ui.answers.push_back(kAnswerNo);
  EXPECT_EQ(write_detector_calibration(state, true), 0);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Update the Calibration for Geometry 2 ?");
  EXPECT_EQ(ui.messages[0].caption, "The Geometry is already Calibrated");
  EXPECT_EQ(bin::get_f32(&read("Det_04.cal")[512 + 188]), 250);
  ui.save_results.push_back(chosen(dir.file("Det_04.cal"), dir.path()));
  EXPECT_EQ(write_detector_calibration(state, true), 1);
  EXPECT_EQ(bin::get_f32(&read("Det_04.cal")[512 + 188]), 200);
  header.geometry = 3;  // uncalibrated: no question
  state.app.efficiency_update_pending = true;
  ui.save_results.push_back(chosen(dir.file("Det_04.cal"), dir.path()));
  EXPECT_EQ(write_detector_calibration(state, true), 1);
  EXPECT_EQ(ui.messages.size(), 2u);
}

TEST_F(DetectorFileTest, OwnerNameMustBeDetNumberAboveZero) {
  for (const char* name : {"Det_00.cal", "Detector.cal", "xDet_05.cal", "Det_ab.cal", "Det_1x.cal"}) {
    SCOPED_TRACE(name);
    ui.save_results.push_back(chosen(dir.file(name), dir.path()));
    EXPECT_EQ(write_detector_calibration(state, true), 0);
    EXPECT_EQ(ui.messages.back().text,
              "The filename should be in the form Det_nn.cal,where nn is a number greater than 0");
  }
  EXPECT_EQ(detector_number_from_name("det_42.CAL"), 42);
  EXPECT_EQ(detector_number_from_name("Det_7.cal"), 7);
  EXPECT_EQ(detector_number_from_name("Det_01.efp"), -1);
}

TEST_F(DetectorFileTest, ChooseReadsDefaultGeometryAndMovesCalibrationDirectory) {
  std::string sub = dir.file("other");
  ASSERT_TRUE(make_directories(sub));
  test::write_bytes(sub + "/Det_04.cal", sample_detector_file().bytes);
  state.params.default_geometry = 2;
  state.params.default_detector_file = 4;
  ui.open_results.push_back(chosen(sub + "/Det_04.cal", sub));
  EXPECT_EQ(choose_detector_file(state), 1);
  EXPECT_EQ(ui.dialogs_shown.at(0).title, "Open Detector File");
  EXPECT_EQ(ui.dialogs_shown.at(0).initial_name, "Det_04.cal");
  EXPECT_EQ(ui.dialogs_shown.at(0).initial_directory, dir.path());
  EXPECT_EQ(to_string(state.params.calibration_dir), sub);
  EXPECT_EQ(header.geometry, 2);
  EXPECT_TRUE(state.app.spectrum_changed);

  ui.open_results.push_back(chosen(dir.file("Det_00.cal"), dir.path()));
  EXPECT_EQ(choose_detector_file(state), 0);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text,
            "The filename should be in the form:- Det_nn.cal, where nn is between 0 and 99");
  EXPECT_EQ(ui.messages[0].caption, kHelp);
  EXPECT_EQ(ui.messages[0].style, kMsgWarning);
}

TEST_F(DetectorFileTest, GeometryDescriptionsWrittenAtTheirOffsets) {
  write("Det_04.cal", sample_detector_file().bytes);
  std::vector<GeometryDescription> edits(2);
  edits[0] = {3, "1 litre Marinelli", 1.5f, "kg", "MARI.BKG"};
  edits[1] = {5, std::string(60, 'x'), 0, "unit", ""};  // beyond the end: grows
  ASSERT_EQ(write_geometry_descriptions(state, 4, edits), 1);
  Bytes b = read("Det_04.cal");
  ASSERT_EQ(b.size(), 5u * 512);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&b[1024 + 416])), "1 litre Marinelli");
  EXPECT_EQ(bin::get_f32(&b[1024 + 456]), 1.5f);
  EXPECT_EQ(std::memcmp(&b[1024 + 460], "kg\0\0MARI.BKG", 12), 0);
  EXPECT_EQ(b[2048 + 455], 0);  // cut to 39 characters
  EXPECT_EQ(bin::get_f32(&b[512 + 188]), 250);  // the rest kept
  auto list = read_geometry_descriptions(b);
  ASSERT_EQ(list.size(), 5u);
  EXPECT_TRUE(list[1].calibrated);
  EXPECT_FALSE(list[2].calibrated);
  EXPECT_EQ(list[2].background, "MARI.BKG");
  EXPECT_EQ(list[4].units, "unit");
  EXPECT_EQ(list[4].description, std::string(39, 'x'));
}

TEST_F(DetectorFileTest, LeavingEditorAsksBeforeWriting) {
  write("Det_04.cal", sample_detector_file().bytes);
  const Bytes before = read("Det_04.cal");
  std::vector<GeometryDescription> edits = {{1, "changed", 0, "", ""}};
  ui.answers = {kAnswerCancel, kAnswerNo, kAnswerYes};
  EXPECT_EQ(leave_geometry_editor(state, 4, edits), 0);
  EXPECT_EQ(leave_geometry_editor(state, 4, edits), 1);
  EXPECT_EQ(read("Det_04.cal"), before);
  EXPECT_EQ(leave_geometry_editor(state, 4, edits), 1);
  EXPECT_NE(read("Det_04.cal"), before);
  EXPECT_EQ(ui.messages.at(0).text, "Do you want to update the file ?");
  EXPECT_EQ(ui.messages.at(0).caption, "The Detector file has been modified");
  EXPECT_EQ(ui.messages.at(0).style, kMsgYesNoCancel);
  EXPECT_EQ(ui.messages.at(0).default_answer, kAnswerYes);
}

}  // namespace
}  // namespace kestrim
