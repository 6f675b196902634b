#include "settings/detector_file.h"
#include "platform/c_locale.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "settings/session.h"
#include "platform/paths.h"
#include "settings/defaults_file.h"
#include "settings/parameters.h"
#include "spectrum/spectrum_record.h"
#include "platform/binio.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "settings/calibration_functions.h"

namespace kestrim {

namespace {

constexpr const char* kHelpCaption = "Press F1 for Help";
constexpr int kAcquiredSpectrumType = 16;
constexpr std::size_t kSection = kDetectorSectionSize;

// Byte ranges [from, to) of a calibration record.
struct Range {
  int from;
  int to;
};

// Section 1's detector-wide parts, in the order they are read: energy
// terms and coefficients, shape, calibration energies with the energy
// date, form and time; then the shape date and time (the reserved int16 at
// 482 between them is skipped).
constexpr Range kEnergyCoefficients{0, 16};
constexpr Range kShape{16, 72};
constexpr Range kEnergyList{72, 188};
constexpr Range kShapeDate{476, 482};
constexpr Range kShapeTime{484, 488};
// Energy parts copied when writing: coefficients, form, the energies,
// date and time (not the reserved words between them).
constexpr Range kEnergyForm{182, 184};
constexpr Range kEnergyValues{72, 176};
constexpr Range kEnergyDate{176, 182};
constexpr Range kEnergyTime{184, 188};
// Geometry g's efficiency part, as read: curves to time, then the
// description block, then the uncertainty and variance-stored words.
constexpr Range kEfficiency{188, 416};
constexpr Range kDescription{416, 476};
constexpr Range kTail{504, 512};
constexpr int kDescriptionNul = 455;

using RecordBytes = std::array<std::uint8_t, kCalibrationRecordSize>;

std::string format_number(const char* format, int n) {
  char buf[64];
  c_snprintf(buf, sizeof buf, format, n);
  return buf;
}

std::string format_text(const char* format, const std::string& s) {
  std::string out(format);
  auto pos = out.find("%s");
  if (pos != std::string::npos) out.replace(pos, 2, s);
  return out;
}

// Copies the bytes of `r` that the file holds from section start `base`;
// false when the file ends inside the range (the bytes present are copied).
bool copy_from_file(const std::vector<std::uint8_t>& file, std::size_t base, Range r,
                    std::uint8_t* rec, bool take = true) {
  const std::size_t from = base + r.from, to = base + r.to;
  const std::size_t end = std::min(to, file.size());
  if (take && end > from) std::memcpy(rec + r.from, file.data() + from, end - from);
  return file.size() >= to;
}

void copy_to_section(std::uint8_t* section, const RecordBytes& rec, Range r) {
  std::memcpy(section + r.from, rec.data() + r.from, static_cast<std::size_t>(r.to - r.from));
}

void error(const SettingsSession& st, const std::string& text) { st.ui->message_box(text, "", kMsgError); }

bool write_whole(const SettingsSession& st, const std::string& path, const std::vector<std::uint8_t>& file) {
  if (write_file_atomic(path, file, nullptr, st.paths.write_faults)) return true;
  error(st, "Error writing Calibration file");
  return false;
}

void set_calibration_directory(const SettingsSession& st, const std::string& dir) {
  if (!dir.empty()) assign(st.params.calibration_dir, dir);
}

// The directory the user ended in, or the one of the chosen file.
std::string chosen_directory(const FileDialog& d) {
  return d.directory.empty() ? dir_name(d.paths.front()) : d.directory;
}

void take_background(const SettingsSession& st) {
  if (st.params.background_cps_subtraction == 0) return;
  const std::string own = to_string(st.spectrum.calibration.background_name);
  const std::string fallback = to_string(st.params.background_file);
  if (!own.empty()) {
    st.flags.background_name = own;
    if (st.hooks.load_background() != 1) {
      st.flags.background_name = fallback;
      // Subtraction without a background would be reported as done.
      if (fallback.empty() || st.hooks.load_background() != 1) st.params.background_cps_subtraction = 0;
    }
  } else {
    st.flags.background_name = fallback;
    if (st.hooks.load_background() != 1) st.params.background_cps_subtraction = 0;
  }
}

void read_efficiency_points(const SettingsSession& st, int detector, int geometry) {
  EfficiencyPoints& pts = st.spectrum.efficiency;
  pts.count = 0;
  const std::string path = detector_file_path(st, detector, "efp");
  std::vector<std::uint8_t> file;
  if (file_exists(path) && read_file(path, file)) {
    EfficiencyPoints read = decode_efficiency_section(file, geometry);
    if (read.count > 0) pts = read;
  }
  st.flags.use_efficiency_points = use_efficiency_points_rule(
      st.spectrum.calibration, pts, st.params.interpolated_efficiency != 0);
}

}  // namespace

std::string calibration_directory(const SettingsSession& st) {
  std::string dir = to_string(st.params.calibration_dir);
  if (!dir.empty()) return dir;
  return st.paths.user_working_dir.empty() ? st.paths.working_dir : st.paths.user_working_dir;
}

std::string detector_file_path(const SettingsSession& st, int detector, const char* extension) {
  std::string name = format_number("Det_%02d.", detector) + extension;
  return resolve_path(join_path(calibration_directory(st), name));
}

bool open_detector_file(const SettingsSession& st, int detector, bool owner, std::vector<std::uint8_t>& bytes,
                        std::string& path) {
  path = detector_file_path(st, detector, "cal");
  if (file_exists(path) && read_file(path, bytes)) return true;
  // The shipped calibrations (program directory, read only) serve when the
  // calibration directory has none of its own; writes go to the latter.
  if (!st.paths.program_dir.empty()) {
    const std::string shipped = resolve_path(join_path(
        join_path(st.paths.program_dir, "Calibration"), base_name(path)));
    if (file_exists(shipped) && read_file(shipped, bytes)) return true;
  }
  if (owner) {
    st.ui->message_box(format_text("Warning, could not open Calibration file:- %s", path),
                       kHelpCaption, kMsgOk);
  }
  return false;
}

void extend_to_geometry(std::vector<std::uint8_t>& file, int geometry) {
  const std::size_t need = static_cast<std::size_t>(std::max(geometry, 0)) * kSection;
  if (file.size() < need) file.resize(need, 0);
}

// ------------------------------------------------------------------ read

int read_detector_calibration(const SettingsSession& st, int detector, int geometry, bool owner) {
  CalibrationRecord& cal = st.spectrum.calibration;
  SpectrumHeader& header = st.spectrum.header;
  const float remembered_size = cal.sample_size;
  const FixedText<4> remembered_units = cal.sample_units;

  const int nn = detector == 0 ? header.detector : detector;
  std::vector<std::uint8_t> file;
  std::string path;
  if (!open_detector_file(st, nn, owner, file, path)) return 0;

  RecordBytes rec;
  encode_calibration_record(cal, rec.data());
  // With the option to use the spectrum file's own energy calibration, the
  // energy parts are passed over (an acquired spectrum has none of its own).
  const bool keep_energy = st.params.use_file_energy_calibration != 0 &&
                           st.flags.spectrum_type != kAcquiredSpectrumType;
  const struct {
    Range range;
    bool take;
  } section1[] = {{kEnergyCoefficients, !keep_energy},
                  {kShape, true},
                  {kEnergyList, !keep_energy},
                  {kShapeDate, true},
                  {kShapeTime, true}};
  bool complete = true;
  for (const auto& part : section1) {
    if (!copy_from_file(file, 0, part.range, rec.data(), part.take)) {
      complete = false;
      break;
    }
  }
  decode_calibration_record(rec.data(), cal);
  if (cal.shape_date.day == 0) {
    cal.shape_date = cal.energy_date;
    cal.shape_time = cal.energy_time;
  }
  if (!complete) {
    error(st, "Error reading Calibration file");
    return 0;
  }
  header.detector_file = static_cast<std::int16_t>(nn);

  int result = 1;
  if (geometry > 0) {
    const std::size_t base = static_cast<std::size_t>(geometry - 1) * kSection;
    encode_calibration_record(cal, rec.data());
    if (file.size() <= base + kEfficiency.from) {
      // The file ends before this geometry: it was never calibrated.
      st.ui->message_box(format_number("Warning, there is no Calibration for Geometry %d", geometry),
                         kHelpCaption, kMsgOk);
      result = 0;
    } else if (!copy_from_file(file, base, kEfficiency, rec.data())) {
      decode_calibration_record(rec.data(), cal);
      error(st, "Error reading Calibration file");
      return 0;
    } else if (bin::get_i16(rec.data() + cal_offset::kEfficiencyDate) <= 0) {
      decode_calibration_record(rec.data(), cal);
      st.ui->message_box(format_number("Warning, there is no Calibration for Geometry %d", geometry),
                         kHelpCaption, kMsgOk);
      result = 0;
    } else {
      const bool whole = copy_from_file(file, base, kDescription, rec.data()) &&
                         copy_from_file(file, base, kTail, rec.data());
      rec[kDescriptionNul] = 0;
      decode_calibration_record(rec.data(), cal);
      if (!whole) {
        error(st, "Error reading Calibration file");
        return 0;
      }
      header.geometry = static_cast<std::int16_t>(geometry);
      if (nn > 0 && (header.sample_size == 0 || (header.sample_size == remembered_size &&
                                                 header.units == remembered_units))) {
        header.sample_size = cal.sample_size;
        header.units = cal.sample_units;
      }
      take_background(st);
    }
    read_efficiency_points(st, nn, geometry);
  }
  st.flags.calibration_loaded = true;
  st.flags.display_refresh = true;
  return result;
}

// ----------------------------------------------------------------- write

int write_efficiency_points(const SettingsSession& st, int detector, int geometry) {
  if (geometry <= 0) return 0;
  const std::string path = detector_file_path(st, detector, "efp");
  std::vector<std::uint8_t> file;
  if (file_exists(path)) {
    if (!read_file(path, file)) {
      error(st, format_text("Error Opening %s", path));
      return 0;
    }
  } else {
    file.assign(kNewDetectorFileSections * kSection, 0);
  }
  encode_efficiency_section(file, geometry, st.spectrum.efficiency);
  return write_whole(st, path, file) ? 1 : 0;
}

int calibration_detector_number(const SpectrumHeader& header, const AnalysisParameters& params) {
  const int n = header.detector_file > 0 ? header.detector_file
                : header.detector > 0    ? header.detector
                                         : params.defaults_number;
  // Detector files are numbered from 1 (Defaults file 0 is the normal one).
  return n > 0 ? n : 1;
}

int write_detector_calibration(const SettingsSession& st, bool owner) {
  SpectrumHeader& header = st.spectrum.header;
  int nn = calibration_detector_number(header, st.params);
  std::string path;
  if (owner) {
    FileDialog d;
    d.title = "Save Detector Calibration File";
    d.filters = {{"Detector Files", "*.cal"}};
    d.initial_directory = calibration_directory(st);
    d.initial_name = format_number("Det_%02d.cal", nn);
    if (!st.ui->save_file_dialog(d) || d.paths.empty()) return 0;
    const std::string dir = chosen_directory(d);
    set_calibration_directory(st, dir);
    std::string name = base_name(d.paths.front());
    if (name.find('.') == std::string::npos) name += ".cal";
    const int chosen = detector_number_from_name(name);
    if (chosen <= 0) {
      st.ui->message_box(
          "The filename should be in the form Det_nn.cal,where nn is a number greater than 0", "",
          kMsgWarning);
      return 0;
    }
    nn = chosen;
    header.detector_file = static_cast<std::int16_t>(nn);
    path = resolve_path(join_path(dir, name));
  } else {
    path = detector_file_path(st, nn, "cal");
  }

  std::vector<std::uint8_t> file;
  std::string shipped_path;
  if (!file_exists(path)) {
    // A new file starts from the detector file the calibration was read
    // from (the shipped one), so that what this run did not change (width,
    // geometries, efficiencies) is kept; only a detector without any file
    // starts from empty sections.
    if (!open_detector_file(st, nn, false, file, shipped_path) || file.size() < kSection)
      file.assign(kNewDetectorFileSections * kSection, 0);
  } else {
    if (owner && (st.flags.energy_calibration_changed || !st.flags.efficiency_update_pending)) {
      const int answer = st.ui->message_box(format_text("Update Calibration file %s ?", path),
                                            "The Calibration file already exists", kMsgYesNo,
                                            kAnswerYes);
      if (answer != kAnswerYes) return 0;
    }
    if (!read_file(path, file)) {
      error(st, format_text("Error Opening %s", path));
      return 0;
    }
  }
  if (file.size() < kSection) {
    error(st, "Error Reading existing Calibration data");
    return 0;
  }

  RecordBytes rec;
  encode_calibration_record(st.spectrum.calibration, rec.data());
  std::uint8_t* section1 = file.data();
  if (st.flags.energy_calibration_changed) {
    for (Range r : {kEnergyCoefficients, kEnergyForm, kEnergyValues, kEnergyDate, kEnergyTime})
      copy_to_section(section1, rec, r);
  }
  if (st.flags.shape_calibration_changed) {
    for (Range r : {kShape, kShapeDate, kShapeTime}) copy_to_section(section1, rec, r);
  }
  if (!write_whole(st, path, file)) return 0;

  if (st.flags.efficiency_update_pending) {
    const int geometry = header.geometry != 0 ? header.geometry : st.params.default_geometry;
    if (geometry <= 0) {
      error(st, "There is currently no Geometry number set");
      return 0;
    }
    extend_to_geometry(file, geometry);
    std::uint8_t* section = file.data() + static_cast<std::size_t>(geometry - 1) * kSection;
    if (owner && bin::get_i16(section + cal_offset::kEfficiencyDate) > 0) {
      const int answer = st.ui->message_box(
          format_number("Update the Calibration for Geometry %d ?", geometry),
          "The Geometry is already Calibrated", kMsgYesNo, kAnswerYes);
      if (answer != kAnswerYes) return 0;
    }
    std::memcpy(section, rec.data(), kSection);
    if (!write_whole(st, path, file)) return 0;
    if (!write_efficiency_points(st, nn, geometry)) return 0;
    st.flags.efficiency_update_pending = false;
  }
  save_parameters(st);
  st.flags.spectrum_changed = true;
  st.flags.calibration_modified = false;
  return 1;
}

// --------------------------------------------------- efficiency sections

EfficiencyPoints decode_efficiency_section(const std::vector<std::uint8_t>& file, int geometry) {
  using namespace efp_offset;
  EfficiencyPoints p;
  if (geometry <= 0) return p;
  const std::size_t base = static_cast<std::size_t>(geometry - 1) * kSection;
  if (file.size() < base + kEnd) return p;
  const std::uint8_t* s = file.data() + base;
  if (bin::get_i16(s + kMarker) != kEfficiencyPointsMarker) return p;
  const int count = bin::get_i16(s + kCount);
  for (int i = 0; i < kMaxEfficiencyPoints; ++i) {
    p.energy[i] = bin::get_f32(s + kEnergies + 4 * i);
    p.efficiency[i] = bin::get_f32(s + kEfficiencies + 4 * i);
    p.uncertainty[i] = bin::get_f32(s + kUncertainties + 4 * i);
  }
  p.count = std::clamp(count, 0, kMaxEfficiencyPoints);
  return p;
}

void encode_efficiency_section(std::vector<std::uint8_t>& file, int geometry,
                               const EfficiencyPoints& points) {
  using namespace efp_offset;
  if (geometry <= 0) return;
  extend_to_geometry(file, geometry);
  std::uint8_t* s = file.data() + static_cast<std::size_t>(geometry - 1) * kSection;
  std::memset(s, 0, kSection);
  bin::put_i16(s + kMarker, kEfficiencyPointsMarker);
  bin::put_i16(s + kCount,
               static_cast<std::int16_t>(std::clamp<int>(points.count, 0, kMaxEfficiencyPoints)));
  for (int i = 0; i < kMaxEfficiencyPoints; ++i) {
    bin::put_f32(s + kEnergies + 4 * i, points.energy[i]);
    bin::put_f32(s + kEfficiencies + 4 * i, points.efficiency[i]);
    bin::put_f32(s + kUncertainties + 4 * i, points.uncertainty[i]);
  }
}

// ---------------------------------------------------------------- choose

int detector_number_from_name(const std::string& name) {
  if (name.size() < 9 || !iequals(name.substr(0, 4), "Det_")) return -1;
  std::size_t i = 4;
  int n = 0;
  while (i < name.size() && i < 7 && name[i] >= '0' && name[i] <= '9') n = n * 10 + (name[i++] - '0');
  if (i == 4 || !iequals(name.substr(i), ".cal")) return -1;
  return n;
}

int choose_detector_file(const SettingsSession& st) {
  FileDialog d;
  d.title = "Open Detector File";
  d.filters = {{"Detector Files", "*.cal"}};
  d.initial_directory = calibration_directory(st);
  d.initial_name = format_number("Det_%02d.cal", st.params.default_detector_file);
  if (!st.ui->open_file_dialog(d) || d.paths.empty()) return 0;
  set_calibration_directory(st, chosen_directory(d));
  const int nn = detector_number_from_name(base_name(d.paths.front()));
  if (nn < 1 || nn > 99) {
    st.ui->message_box(
        "The filename should be in the form:- Det_nn.cal, where nn is between 0 and 99",
        kHelpCaption, kMsgWarning);
    return 0;
  }
  const int result = read_detector_calibration(st, nn, st.params.default_geometry, true);
  st.flags.spectrum_changed = true;
  return result;
}

// ------------------------------------------------- geometry descriptions

std::vector<GeometryDescription> read_geometry_descriptions(const std::vector<std::uint8_t>& file) {
  std::vector<GeometryDescription> out;
  const std::size_t sections = file.size() / kSection;
  for (std::size_t g = 0; g < sections; ++g) {
    const std::uint8_t* s = file.data() + g * kSection;
    GeometryDescription d;
    d.geometry = static_cast<int>(g) + 1;
    FixedText<40> text;
    std::memcpy(text.data(), s + cal_offset::kGeometryText, text.size());
    text[39] = 0;
    d.description = to_string(text);
    d.sample_size = bin::get_f32(s + cal_offset::kSampleSize);
    FixedText<4> units;
    std::memcpy(units.data(), s + cal_offset::kSampleUnits, units.size());
    d.units = to_string(units);
    FixedText<12> bkg;
    std::memcpy(bkg.data(), s + cal_offset::kBackgroundName, bkg.size());
    d.background = to_string(bkg);
    d.calibrated = bin::get_i16(s + cal_offset::kEfficiencyDate) > 0;
    out.push_back(d);
  }
  return out;
}

int write_geometry_descriptions(const SettingsSession& st, int detector,
                                const std::vector<GeometryDescription>& edits) {
  std::vector<std::uint8_t> file;
  std::string path;
  if (!open_detector_file(st, detector, true, file, path)) return 0;
  for (const auto& e : edits) {
    if (e.geometry <= 0) continue;
    extend_to_geometry(file, e.geometry);
    std::uint8_t* s = file.data() + static_cast<std::size_t>(e.geometry - 1) * kSection;
    FixedText<40> text;
    assign(text, e.description);
    FixedText<4> units;
    assign(units, e.units, false);
    FixedText<12> bkg;
    assign(bkg, e.background, false);
    std::memcpy(s + cal_offset::kGeometryText, text.data(), text.size());
    bin::put_f32(s + cal_offset::kSampleSize, e.sample_size);
    std::memcpy(s + cal_offset::kSampleUnits, units.data(), units.size());
    std::memcpy(s + cal_offset::kBackgroundName, bkg.data(), bkg.size());
  }
  return write_whole(st, path, file) ? 1 : 0;
}

int leave_geometry_editor(const SettingsSession& st, int detector, const std::vector<GeometryDescription>& edits) {
  const int answer = st.ui->message_box("Do you want to update the file ?",
                                        "The Detector file has been modified", kMsgYesNoCancel,
                                        kAnswerYes);
  if (answer == kAnswerCancel) return 0;
  if (answer == kAnswerNo) return 1;
  return write_geometry_descriptions(st, detector, edits);
}

}  // namespace kestrim
