#include "settings/detector_file.h"

#include <gtest/gtest.h>

#include <cstring>

#include "app/state.h"
#include "platform/binio.h"
#include "platform/files.h"
#include "platform/scripted_platform.h"
#include "support/test_support.h"

namespace kestrim {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr const char* kHelp = "Press F1 for Help";

// Writes field values at literal offsets of section g (1-based).
struct FileBuilder {
  Bytes bytes;
  explicit FileBuilder(int sections) : bytes(static_cast<std::size_t>(sections) * 512, 0) {}
  std::uint8_t* at(int g, int offset) { return bytes.data() + (g - 1) * 512 + offset; }
  void f32(int g, int offset, float v) { bin::put_f32(at(g, offset), v); }
  void i16(int g, int offset, int v) { bin::put_i16(at(g, offset), static_cast<std::int16_t>(v)); }
  void text(int g, int offset, const char* s) { std::memcpy(at(g, offset), s, std::strlen(s)); }
};

// A three-section detector file: section 1 with energy and shape, section 2
// a calibrated geometry, section 3 uncalibrated.
FileBuilder sample_detector_file() {
  FileBuilder f(3);
  f.f32(1, 0, 2);        // energy terms
  f.f32(1, 4, 1.5f);     // c0
  f.f32(1, 8, 0.5f);     // c1
  f.f32(1, 16, 2);       // width terms
  f.f32(1, 20, 1.25f);   // w0
  f.f32(1, 72, 1);       // one calibration energy
  f.f32(1, 76, 661.66f);
  f.i16(1, 176, 3);      // energy date 3/4/2025
  f.i16(1, 178, 4);
  f.i16(1, 180, 2025);
  f.i16(1, 184, 10);     // energy time 10:20
  f.i16(1, 186, 20);
  f.i16(1, 476, 9);      // shape date 9/9/2025
  f.i16(1, 478, 9);
  f.i16(1, 480, 2025);
  f.i16(1, 484, 8);
  f.f32(1, 188, 111);    // section 1's own efficiency part: not geometry 2's
  f.i16(1, 404, 1);
  // Section 2: detector-wide bytes that must not be taken ...
  f.f32(2, 0, 3);
  f.f32(2, 8, 99);
  f.f32(2, 16, 3);
  f.i16(2, 476, 1);
  // ... and geometry 2's efficiency part.
  f.f32(2, 188, 250);    // crossover
  f.f32(2, 192, 2);      // low curve terms
  f.f32(2, 196, -1);
  f.f32(2, 216, 3);
  f.f32(2, 220, 0.5f);
  bin::put_f64(f.at(2, 244), 1e-4);
  f.i16(2, 404, 12);     // efficiency date 12/5/2025
  f.i16(2, 406, 5);
  f.i16(2, 408, 2025);
  f.i16(2, 410, 3);
  f.text(2, 416, "0123456789012345678901234567890123456789");  // 40 chars, no NUL
  f.f32(2, 456, 250);
  f.text(2, 460, "g");
  f.text(2, 464, "BKG2.BKG");
  f.f32(2, 500, 0.5f);   // not read (bytes 476-503 are skipped)
  f.f32(2, 504, 2.5f);
  bin::put_i32(f.at(2, 508), 1);
  return f;
}

class DetectorFileTest : public ::testing::Test {
 protected:
  DetectorFileTest() : state(ui) { state.paths.working_dir = dir.path(); }
  void write(const std::string& name, const Bytes& b) { test::write_bytes(dir.file(name), b); }
  Bytes read(const std::string& name) { return test::read_bytes(dir.file(name)); }

  test::TempDir dir;
  ScriptedPlatform ui;
  State state;
};

// ------------------------------------------------------------------ read

TEST_F(DetectorFileTest, ReadsHandMadeFileFieldForField) {
  write("Det_04.cal", sample_detector_file().bytes);
  ASSERT_EQ(read_detector_calibration(state, 4, 2, true), 1);
  const CalibrationRecord& c = state.spectrum.calibration;
  EXPECT_EQ(c.energy_terms, 2);
  EXPECT_EQ(c.energy[0], 1.5f);
  EXPECT_EQ(c.energy[1], 0.5f);
  EXPECT_EQ(c.width_terms, 2);
  EXPECT_EQ(c.width[0], 1.25f);
  EXPECT_EQ(c.energies[0], 661.66f);
  EXPECT_EQ(c.energy_date, (CalDate{3, 4, 2025}));
  EXPECT_EQ(c.energy_time, (CalTime{10, 20}));
  EXPECT_EQ(c.shape_date, (CalDate{9, 9, 2025}));
  EXPECT_EQ(c.shape_time, (CalTime{8, 0}));
  EXPECT_EQ(c.crossover, 250);
  EXPECT_EQ(c.low_eff_terms, 2);
  EXPECT_EQ(c.low_eff[0], -1);
  EXPECT_EQ(c.high_eff[0], 0.5f);
  EXPECT_EQ(c.variance[0], 1e-4);
  EXPECT_EQ(c.efficiency_date, (CalDate{12, 5, 2025}));
  EXPECT_EQ(c.inverse_form, 3);
  // Byte 455 is forced to NUL: 39 characters remain.
  EXPECT_EQ(to_string(c.geometry_text), "012345678901234567890123456789012345678");
  EXPECT_EQ(c.sample_size, 250);
  EXPECT_EQ(to_string(c.sample_units), "g");
  EXPECT_EQ(to_string(c.background_name), "BKG2.BKG");
  EXPECT_EQ(c.efficiency_max, 0);  // 500 is in the skipped bytes
  EXPECT_EQ(c.uncertainty, 2.5f);
  EXPECT_EQ(c.variance_stored, 1);
  EXPECT_EQ(state.spectrum.header.detector_file, 4);
  EXPECT_EQ(state.spectrum.header.geometry, 2);
  EXPECT_EQ(state.spectrum.header.sample_size, 250);  // was 0
  EXPECT_EQ(to_string(state.spectrum.header.units), "g");
  EXPECT_TRUE(state.app.calibration_loaded);
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(DetectorFileTest, NameIsFoundIgnoringCaseAndDetectorZeroMeansHeader) {
  write("DET_07.CAL", sample_detector_file().bytes);
  state.spectrum.header.detector = 7;
  EXPECT_EQ(read_detector_calibration(state, 0, 2, true), 1);
  EXPECT_EQ(state.spectrum.header.detector_file, 7);
}

TEST_F(DetectorFileTest, CalibrationDirectoryFromParameters) {
  std::string sub = dir.file("cal");
  ASSERT_TRUE(make_directories(sub));
  test::write_bytes(sub + "/Det_04.cal", sample_detector_file().bytes);
  EXPECT_EQ(read_detector_calibration(state, 4, 2, false), 0);  // not in the working dir
  assign(state.params.calibration_dir, sub);
  EXPECT_EQ(read_detector_calibration(state, 4, 2, false), 1);
}

TEST_F(DetectorFileTest, MissingFileWarnsOnlyWithOwner) {
  EXPECT_EQ(read_detector_calibration(state, 5, 1, false), 0);
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(read_detector_calibration(state, 5, 1, true), 0);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Warning, could not open Calibration file:- " + dir.file("Det_05.cal"));
  EXPECT_EQ(ui.messages[0].caption, kHelp);
  EXPECT_EQ(ui.messages[0].style, kMsgOk);
}

TEST_F(DetectorFileTest, ShortFirstSectionIsAnErrorAndKeepsWhatWasRead) {
  Bytes b = sample_detector_file().bytes;
  b.resize(100);  // ends inside the calibration energies (72-187)
  write("Det_04.cal", b);
  state.spectrum.header.detector_file = 0;
  EXPECT_EQ(read_detector_calibration(state, 4, 2, true), 0);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Error reading Calibration file");
  EXPECT_EQ(ui.messages[0].style, kMsgError);
  EXPECT_EQ(state.spectrum.calibration.energy[1], 0.5f);  // read before the end
  EXPECT_EQ(state.spectrum.header.detector_file, 0);
}

TEST_F(DetectorFileTest, FirstSectionEndingBeforeShapeTimeIsShort) {
  Bytes b = sample_detector_file().bytes;
  b.resize(487);  // one byte short of the shape time
  write("Det_04.cal", b);
  EXPECT_EQ(read_detector_calibration(state, 4, 1, true), 0);
  EXPECT_TRUE(ui.said("Error reading Calibration file"));
  b.resize(488);  // exactly enough for section 1's parts, not for geometry 1's
  write("Det_04.cal", b);
  ui.messages.clear();
  EXPECT_EQ(read_detector_calibration(state, 4, 0, true), 1);
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(DetectorFileTest, UncalibratedGeometryWarnsAndKeepsDetectorPart) {
  write("Det_04.cal", sample_detector_file().bytes);
  state.spectrum.header.geometry = 1;
  EXPECT_EQ(read_detector_calibration(state, 4, 3, true), 0);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Warning, there is no Calibration for Geometry 3");
  EXPECT_EQ(ui.messages[0].caption, kHelp);
  EXPECT_EQ(state.spectrum.calibration.energy[1], 0.5f);
  EXPECT_EQ(state.spectrum.header.detector_file, 4);
  EXPECT_EQ(state.spectrum.header.geometry, 1);  // not taken
}

TEST_F(DetectorFileTest, GeometryBeyondFileEndIsUncalibrated) {
  write("Det_04.cal", sample_detector_file().bytes);
  EXPECT_EQ(read_detector_calibration(state, 4, 60, true), 0);
  EXPECT_TRUE(ui.said("Warning, there is no Calibration for Geometry 60"));
}

TEST_F(DetectorFileTest, TruncatedGeometrySectionIsAnError) {
  Bytes b = sample_detector_file().bytes;
  b.resize(512 + 300);  // geometry 2 ends inside its efficiency part
  write("Det_04.cal", b);
  EXPECT_EQ(read_detector_calibration(state, 4, 2, true), 0);
  EXPECT_TRUE(ui.said("Error reading Calibration file"));
  b = sample_detector_file().bytes;
  b.resize(512 + 510);  // geometry 2 ends inside its last two words
  write("Det_04.cal", b);
  ui.messages.clear();
  EXPECT_EQ(read_detector_calibration(state, 4, 2, true), 0);
  EXPECT_TRUE(ui.said("Error reading Calibration file"));
  EXPECT_NE(state.spectrum.header.geometry, 2);
}

TEST_F(DetectorFileTest, FileEnergyCalibrationOptionKeepsSpectrumEnergy) {
  write("Det_04.cal", sample_detector_file().bytes);
  state.params.use_file_energy_calibration = 1;
  state.spectrum.calibration.energy_terms = 3;
  state.spectrum.calibration.energy = {7, 8, 9};
  state.spectrum.calibration.energy_date = {1, 1, 2000};
  ASSERT_EQ(read_detector_calibration(state, 4, 2, true), 1);
  EXPECT_EQ(state.spectrum.calibration.energy_terms, 3);
  EXPECT_EQ(state.spectrum.calibration.energy[1], 8);
  EXPECT_EQ(state.spectrum.calibration.energy_date, (CalDate{1, 1, 2000}));
  EXPECT_EQ(state.spectrum.calibration.width[0], 1.25f);  // shape is taken
  // An acquired spectrum has no calibration of its own: taken from the file.
  state.app.spectrum_type = 16;
  ASSERT_EQ(read_detector_calibration(state, 4, 2, true), 1);
  EXPECT_EQ(state.spectrum.calibration.energy[1], 0.5f);
}

TEST_F(DetectorFileTest, ShapeWithoutDateTakesEnergyDate) {
  FileBuilder f = sample_detector_file();
  f.i16(1, 476, 0);
  write("Det_04.cal", f.bytes);
  ASSERT_EQ(read_detector_calibration(state, 4, 2, true), 1);
  EXPECT_EQ(state.spectrum.calibration.shape_date, (CalDate{3, 4, 2025}));
  EXPECT_EQ(state.spectrum.calibration.shape_time, (CalTime{10, 20}));
}

TEST_F(DetectorFileTest, SampleSizeTakenOnlyWhenUnsetOrTheOldDefault) {
  write("Det_04.cal", sample_detector_file().bytes);
  auto& h = state.spectrum.header;
  auto& c = state.spectrum.calibration;
  // The header still has the previous geometry's default: replaced.
  c.sample_size = 100;
  assign(c.sample_units, "ml");
  h.sample_size = 100;
  assign(h.units, "ml");
  ASSERT_EQ(read_detector_calibration(state, 4, 2, true), 1);
  EXPECT_EQ(h.sample_size, 250);
  EXPECT_EQ(to_string(h.units), "g");
  // A size of its own (different units): kept.
  c.sample_size = 100;
  assign(c.sample_units, "ml");
  h.sample_size = 100;
  assign(h.units, "kg");
  ASSERT_EQ(read_detector_calibration(state, 4, 2, true), 1);
  EXPECT_EQ(h.sample_size, 100);
  EXPECT_EQ(to_string(h.units), "kg");
}

TEST_F(DetectorFileTest, BackgroundNameHandedOverWithPeakCpsSubtraction) {
  write("Det_04.cal", sample_detector_file().bytes);
  assign(state.params.background_file, "DEFAULT.BKG");
  ASSERT_EQ(read_detector_calibration(state, 4, 2, true), 1);
  EXPECT_EQ(state.app.background_name, "");  // subtraction off: untouched
  state.params.background_cps_subtraction = 1;
  ASSERT_EQ(read_detector_calibration(state, 4, 2, true), 1);
  EXPECT_EQ(state.app.background_name, "BKG2.BKG");
  FileBuilder f = sample_detector_file();
  std::memset(f.at(2, 464), 0, 12);
  write("Det_04.cal", f.bytes);
  ASSERT_EQ(read_detector_calibration(state, 4, 2, true), 1);
  EXPECT_EQ(state.app.background_name, "DEFAULT.BKG");
  EXPECT_EQ(state.params.background_cps_subtraction, 1);
}

// ------------------------------------------------------ efficiency points

Bytes efp_with(int sections, int geometry, int marker, int count) {
  FileBuilder f(sections);
  f.i16(geometry, 0, marker);
  f.i16(geometry, 2, count);
  for (int i = 0; i < 40; ++i) {
    f.f32(geometry, 4 + 4 * i, 100.0f * (i + 1));
    f.f32(geometry, 164 + 4 * i, 0.5f / (i + 1));
    f.f32(geometry, 324 + 4 * i, 0.01f * (i + 1));
  }
  return f.bytes;
}

TEST_F(DetectorFileTest, EfficiencyPointsReadFromMarkedSection) {
  write("Det_04.cal", sample_detector_file().bytes);
  write("Det_04.efp", efp_with(3, 2, 255, 3));
  state.params.interpolated_efficiency = 1;
  ASSERT_EQ(read_detector_calibration(state, 4, 2, true), 1);
  const auto& p = state.spectrum.efficiency;
  EXPECT_EQ(p.count, 3);
  EXPECT_EQ(p.energy[2], 300.0f);
  EXPECT_EQ(p.efficiency[1], 0.25f);
  EXPECT_EQ(p.uncertainty[0], 0.01f);
  EXPECT_TRUE(state.app.use_efficiency_points);
  state.params.interpolated_efficiency = 0;  // high curve has 3 terms
  ASSERT_EQ(read_detector_calibration(state, 4, 2, true), 1);
  EXPECT_FALSE(state.app.use_efficiency_points);
}

TEST_F(DetectorFileTest, EfficiencyPointsCountLimitedAndMarkerRequired) {
  write("Det_04.cal", sample_detector_file().bytes);
  write("Det_04.efp", efp_with(3, 2, 255, 500));
  ASSERT_EQ(read_detector_calibration(state, 4, 2, true), 1);
  EXPECT_EQ(state.spectrum.efficiency.count, 40);
  write("Det_04.efp", efp_with(3, 2, 254, 5));
  ASSERT_EQ(read_detector_calibration(state, 4, 2, true), 1);
  EXPECT_EQ(state.spectrum.efficiency.count, 0);
  Bytes shortfile = efp_with(3, 2, 255, 5);
  shortfile.resize(512 + 483);  // the uncertainties end one byte early
  write("Det_04.efp", shortfile);
  ASSERT_EQ(read_detector_calibration(state, 4, 2, true), 1);
  EXPECT_EQ(state.spectrum.efficiency.count, 0);
}

TEST(EfficiencySection, RoundTripAndZeroRest) {
  EfficiencyPoints p;
  p.count = 2;
  p.energy = {100, 200};
  p.efficiency = {0.3f, 0.2f};
  p.uncertainty = {0.02f, 0.03f};
  Bytes file(512, 0xFF);
  encode_efficiency_section(file, 3, p);
  ASSERT_EQ(file.size(), 3u * 512);
  EXPECT_EQ(file[0], 0xFF);  // other sections untouched
  EXPECT_EQ(bin::get_i16(&file[1024]), 255);
  EXPECT_EQ(bin::get_i16(&file[1026]), 2);
  EXPECT_EQ(bin::get_f32(&file[1024 + 8]), 200.0f);
  EXPECT_EQ(bin::get_f32(&file[1024 + 168]), 0.2f);
  EXPECT_EQ(bin::get_f32(&file[1024 + 324]), 0.02f);
  for (int i = 484; i < 512; ++i) EXPECT_EQ(file[1024 + i], 0) << i;
  EXPECT_EQ(decode_efficiency_section(file, 3), p);
  EXPECT_EQ(decode_efficiency_section(file, 4).count, 0);  // beyond the end
  EXPECT_EQ(decode_efficiency_section(file, 0).count, 0);
}

// ----------------------------------------------------------------- write

CalibrationRecord calibrated_record() {
  CalibrationRecord c;
  c.energy_terms = 3;
  c.energy = {1, 0.7f, 1e-5f};
  c.energy_form = 1;
  c.energy_count = 1;
  c.energies[0] = 1460.8f;
  c.energy_date = {1, 2, 2026};
  c.energy_time = {3, 4};
  c.width_terms = -2;
  c.width = {20, 1.5f, 0};
  c.shape_extra = {1, 2, 3, 4, 5, 6, 7, 8};
  c.shape_date = {5, 6, 2026};
  c.shape_time = {7, 8};
  c.crossover = 200;
  c.low_eff_terms = 3;
  c.low_eff = {-8, 2, -0.2f, 0, 0};
  c.high_eff_terms = 4;
  c.high_eff = {1, 2, 3, 4, 0, 0};
  c.variance[9] = 1e-3;
  c.efficiency_date = {9, 10, 2026};
  c.efficiency_time = {11, 12};
  assign(c.geometry_text, "Petri dish");
  c.sample_size = 50;
  assign(c.sample_units, "g");
  assign(c.background_name, "B.BKG");
  c.uncertainty = 4;
  c.variance_stored = 1;
  return c;
}

TEST_F(DetectorFileTest, NewFileHasFiftySectionsWithOnlyChangedParts) {
  state.spectrum.header.detector = 3;
  state.spectrum.calibration = calibrated_record();
  state.app.energy_calibration_changed = true;
  ASSERT_EQ(write_detector_calibration(state, false), 1);
  Bytes b = read("Det_03.cal");
  ASSERT_EQ(b.size(), 50u * 512);
  EXPECT_EQ(bin::get_f32(&b[0]), 3);
  EXPECT_EQ(bin::get_f32(&b[8]), 0.7f);
  EXPECT_EQ(bin::get_i16(&b[182]), 1);
  EXPECT_EQ(bin::get_f32(&b[76]), 1460.8f);
  EXPECT_EQ(bin::get_i16(&b[176]), 1);
  EXPECT_EQ(bin::get_i16(&b[186]), 4);
  EXPECT_EQ(bin::get_f32(&b[16]), 0);  // shape not changed: not written
  EXPECT_EQ(bin::get_i16(&b[476]), 0);
  EXPECT_EQ(bin::get_f32(&b[188]), 0);  // no efficiency pending
  EXPECT_TRUE(state.app.spectrum_changed);
  EXPECT_FALSE(state.app.calibration_modified);
  EXPECT_FALSE(file_exists(dir.file("Det_03.efp")));
}

TEST_F(DetectorFileTest, ShapeChangeWritesShapeAndItsDate) {
  state.spectrum.header.detector_file = 3;
  state.spectrum.calibration = calibrated_record();
  state.app.shape_calibration_changed = true;
  ASSERT_EQ(write_detector_calibration(state, false), 1);
  Bytes b = read("Det_03.cal");
  EXPECT_EQ(bin::get_f32(&b[0]), 0);  // energy untouched
  EXPECT_EQ(bin::get_f32(&b[16]), -2);
  EXPECT_EQ(b[64], 1);
  EXPECT_EQ(b[71], 8);
  EXPECT_EQ(bin::get_i16(&b[476]), 5);
  EXPECT_EQ(bin::get_i16(&b[486]), 8);
}

TEST_F(DetectorFileTest, WritingGeometrySixtyExtendsFileAndPoints) {
  state.spectrum.header.detector = 2;
  state.spectrum.header.geometry = 60;
  state.spectrum.calibration = calibrated_record();
  state.spectrum.efficiency.count = 1;
  state.spectrum.efficiency.energy[0] = 122;
  state.app.efficiency_update_pending = true;
  ASSERT_EQ(write_detector_calibration(state, false), 1);
  Bytes b = read("Det_02.cal");
  ASSERT_EQ(b.size(), 60u * 512);
  EXPECT_EQ(bin::get_f32(&b[59 * 512 + 188]), 200);
  EXPECT_EQ(bin::get_i16(&b[59 * 512 + 404]), 9);
  Bytes e = read("Det_02.efp");
  ASSERT_EQ(e.size(), 60u * 512);
  EXPECT_EQ(bin::get_i16(&e[59 * 512]), 255);
  EXPECT_EQ(bin::get_f32(&e[59 * 512 + 4]), 122);
  EXPECT_FALSE(state.app.efficiency_update_pending);
}

TEST_F(DetectorFileTest, WrittenCalibrationReadsBackIdentically) {
  state.spectrum.header.detector = 6;
  state.spectrum.header.geometry = 2;
  state.spectrum.calibration = calibrated_record();
  state.spectrum.efficiency.count = 2;
  state.spectrum.efficiency.energy = {59.5f, 661.7f};
  state.app.energy_calibration_changed = true;
  state.app.shape_calibration_changed = true;
  state.app.efficiency_update_pending = true;
  ASSERT_EQ(write_detector_calibration(state, false), 1);
  const CalibrationRecord written = state.spectrum.calibration;
  const EfficiencyPoints points = state.spectrum.efficiency;
  Bytes first = read("Det_06.cal");

  State fresh(ui);
  fresh.paths.working_dir = dir.path();
  ASSERT_EQ(read_detector_calibration(fresh, 6, 2, true), 1);
  CalibrationRecord expected = written;
  expected.efficiency_max = 0;  // bytes 488-503 are not read back
  expected.energy_extra = {};
  EXPECT_EQ(fresh.spectrum.calibration, expected);
  EXPECT_EQ(fresh.spectrum.efficiency, points);

  // Writing what was read gives the same file again.
  fresh.app.energy_calibration_changed = true;
  fresh.app.shape_calibration_changed = true;
  fresh.app.efficiency_update_pending = true;
  fresh.spectrum.calibration = written;
  ASSERT_EQ(write_detector_calibration(fresh, false), 1);
  EXPECT_EQ(read("Det_06.cal"), first);
}

TEST_F(DetectorFileTest, NoGeometryNumberIsReported) {
  state.spectrum.header.detector = 2;
  state.app.efficiency_update_pending = true;
  EXPECT_EQ(write_detector_calibration(state, false), 0);
  EXPECT_TRUE(ui.said("There is currently no Geometry number set"));
  state.params.default_geometry = 4;  // the parameters' default serves
  ui.messages.clear();
  EXPECT_EQ(write_detector_calibration(state, false), 1);
  EXPECT_EQ(read("Det_02.cal").size(), 50u * 512);
}

TEST_F(DetectorFileTest, ExistingFileTooShortIsReported) {
  write("Det_02.cal", Bytes(511, 0));
  state.spectrum.header.detector = 2;
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
  state.spectrum.calibration = calibrated_record();
  state.app.energy_calibration_changed = true;
  ui.save_results.push_back(chosen(dir.file("Det_08"), dir.path()));
  ui.answers.push_back(kAnswerNo);
  EXPECT_EQ(write_detector_calibration(state, true), 0);
  ASSERT_EQ(ui.dialogs_shown.size(), 1u);
  EXPECT_EQ(ui.dialogs_shown[0].title, "Save Detector Calibration File");
  EXPECT_EQ(ui.dialogs_shown[0].filters.at(0).name, "Detector Files");
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Update Calibration file " + dir.file("Det_08.cal") + " ?");
  EXPECT_EQ(ui.messages[0].caption, "The Calibration file already exists");
  EXPECT_EQ(ui.messages[0].style, kMsgYesNo);
  EXPECT_EQ(ui.messages[0].default_answer, kAnswerYes);
  EXPECT_EQ(read("Det_08.cal"), before);
  EXPECT_EQ(state.spectrum.header.detector_file, 8);
  EXPECT_EQ(to_string(state.params.calibration_dir), dir.path());

  ui.save_results.push_back(chosen(dir.file("Det_08.cal"), dir.path()));
  ui.answers.push_back(kAnswerYes);
  EXPECT_EQ(write_detector_calibration(state, true), 1);
  EXPECT_EQ(bin::get_f32(&read("Det_08.cal")[8]), 0.7f);
}

TEST_F(DetectorFileTest, OwnerIsAskedBeforeReplacingCalibratedGeometry) {
  write("Det_04.cal", sample_detector_file().bytes);
  state.spectrum.header.geometry = 2;
  state.spectrum.calibration = calibrated_record();
  state.app.efficiency_update_pending = true;  // energy unchanged: no file prompt
  ui.save_results.push_back(chosen(dir.file("Det_04.cal"), dir.path()));
  ui.answers.push_back(kAnswerNo);
  EXPECT_EQ(write_detector_calibration(state, true), 0);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Update the Calibration for Geometry 2 ?");
  EXPECT_EQ(ui.messages[0].caption, "The Geometry is already Calibrated");
  EXPECT_EQ(bin::get_f32(&read("Det_04.cal")[512 + 188]), 250);
  EXPECT_TRUE(state.app.efficiency_update_pending);

  ui.save_results.push_back(chosen(dir.file("Det_04.cal"), dir.path()));
  ui.answers.push_back(kAnswerYes);
  EXPECT_EQ(write_detector_calibration(state, true), 1);
  EXPECT_EQ(bin::get_f32(&read("Det_04.cal")[512 + 188]), 200);
  // Uncalibrated geometry 3: no question.
  state.spectrum.header.geometry = 3;
  state.app.efficiency_update_pending = true;
  ui.messages.clear();
  ui.save_results.push_back(chosen(dir.file("Det_04.cal"), dir.path()));
  EXPECT_EQ(write_detector_calibration(state, true), 1);
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(DetectorFileTest, OwnerNameMustBeDetNumberAboveZero) {
  for (const char* name : {"Det_00.cal", "Detector.cal", "xDet_05.cal", "Det_ab.cal"}) {
    SCOPED_TRACE(name);
    ui.messages.clear();
    ui.save_results.push_back(chosen(dir.file(name), dir.path()));
    EXPECT_EQ(write_detector_calibration(state, true), 0);
    EXPECT_TRUE(ui.said(
        "The filename should be in the form Det_nn.cal,where nn is a number greater than 0"));
  }
  EXPECT_EQ(write_detector_calibration(state, true), 0);  // cancelled dialog
}

TEST(DetectorNumberFromName, AcceptsOnlyDetNumberCal) {
  EXPECT_EQ(detector_number_from_name("Det_01.cal"), 1);
  EXPECT_EQ(detector_number_from_name("det_42.CAL"), 42);
  EXPECT_EQ(detector_number_from_name("Det_7.cal"), 7);
  EXPECT_EQ(detector_number_from_name("Det_01.efp"), -1);
  EXPECT_EQ(detector_number_from_name("Det_.cal"), -1);
  EXPECT_EQ(detector_number_from_name("Det_01x.cal"), -1);
  EXPECT_EQ(detector_number_from_name("Det"), -1);
}

// ---------------------------------------------------------------- choose

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
  EXPECT_EQ(state.spectrum.header.geometry, 2);
  EXPECT_TRUE(state.app.spectrum_changed);
}

TEST_F(DetectorFileTest, ChooseRejectsOtherNames) {
  ui.open_results.push_back(chosen(dir.file("Det_00.cal"), dir.path()));
  EXPECT_EQ(choose_detector_file(state), 0);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text,
            "The filename should be in the form:- Det_nn.cal, where nn is between 0 and 99");
  EXPECT_EQ(ui.messages[0].caption, kHelp);
  EXPECT_EQ(ui.messages[0].style, kMsgWarning);
  EXPECT_EQ(choose_detector_file(state), 0);  // cancelled
  EXPECT_EQ(ui.messages.size(), 1u);
}

// --------------------------------------------------- geometry descriptions

TEST_F(DetectorFileTest, GeometryDescriptionsWrittenAtTheirOffsets) {
  write("Det_04.cal", sample_detector_file().bytes);
  std::vector<GeometryDescription> edits(2);
  edits[0].geometry = 3;
  edits[0].description = "1 litre Marinelli";
  edits[0].sample_size = 1.5f;
  edits[0].units = "kg";
  edits[0].background = "MARI.BKG";
  edits[1].geometry = 5;  // beyond the end: the file grows
  edits[1].description = std::string(60, 'x');
  edits[1].units = "unit";
  ASSERT_EQ(write_geometry_descriptions(state, 4, edits), 1);
  Bytes b = read("Det_04.cal");
  ASSERT_EQ(b.size(), 5u * 512);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&b[1024 + 416])), "1 litre Marinelli");
  EXPECT_EQ(bin::get_f32(&b[1024 + 456]), 1.5f);
  EXPECT_EQ(std::memcmp(&b[1024 + 460], "kg\0\0MARI.BKG", 12), 0);
  EXPECT_EQ(b[2048 + 455], 0);  // a long description is cut to 39 characters
  EXPECT_EQ(std::memcmp(&b[2048 + 460], "unit", 4), 0);
  // Other bytes of the sections are kept.
  EXPECT_EQ(bin::get_f32(&b[512 + 188]), 250);

  auto list = read_geometry_descriptions(b);
  ASSERT_EQ(list.size(), 5u);
  EXPECT_EQ(list[1].description, "012345678901234567890123456789012345678");
  EXPECT_TRUE(list[1].calibrated);
  EXPECT_FALSE(list[2].calibrated);
  EXPECT_EQ(list[2].units, "kg");
  EXPECT_EQ(list[2].background, "MARI.BKG");
  EXPECT_EQ(list[4].description, std::string(39, 'x'));
}

TEST_F(DetectorFileTest, LeavingEditorAsksBeforeWriting) {
  write("Det_04.cal", sample_detector_file().bytes);
  const Bytes before = read("Det_04.cal");
  std::vector<GeometryDescription> edits(1);
  edits[0].geometry = 1;
  edits[0].description = "changed";
  ui.answers = {kAnswerCancel, kAnswerNo, kAnswerYes};
  EXPECT_EQ(leave_geometry_editor(state, 4, edits), 0);
  EXPECT_EQ(leave_geometry_editor(state, 4, edits), 1);
  EXPECT_EQ(read("Det_04.cal"), before);
  EXPECT_EQ(leave_geometry_editor(state, 4, edits), 1);
  EXPECT_NE(read("Det_04.cal"), before);
  ASSERT_EQ(ui.messages.size(), 3u);
  EXPECT_EQ(ui.messages[0].text, "Do you want to update the file ?");
  EXPECT_EQ(ui.messages[0].caption, "The Detector file has been modified");
  EXPECT_EQ(ui.messages[0].style, kMsgYesNoCancel);
  EXPECT_EQ(ui.messages[0].default_answer, kAnswerYes);
}

}  // namespace
}  // namespace kestrim
