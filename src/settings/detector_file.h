// Detector files: the calibration of one detector, kept in the calibration
// directory (the parameters' calibration_dir, or the working directory when
// that is empty).
//
// "Det_NN.cal" (NN = detector number, two digits): 512-byte sections, one
// per counting geometry; section g (g = 1, 2, ...) at (g - 1) x 512 holds a
// calibration record (calibration_record.h).
//   section 1, bytes 0-187 and 476-487: the detector-wide energy and peak
//       shape calibration (coefficients, calibration energies, energy date,
//       form and time, shape date and time);
//   section g, bytes 188-475 and 504-511: geometry g's efficiency part
//       (curves, variances, date, form, time, description, default sample
//       size and units, background name; calibration uncertainty and the
//       variance-stored flag).
// A new file has 50 zero sections; writing a higher geometry extends it
// with zero sections.
//
// "Det_NN.efp": efficiency points, sections at the same offsets:
//     0  int16       marker 255 (anything else: no points for the geometry)
//     2  int16       count (at most 40)
//     4  40 x real32 energies, keV
//   164  40 x real32 efficiencies
//   324  40 x real32 relative uncertainties
//   484  28          zero
//
// Files are replaced whole through a temporary file and a rename.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings/session.h"
#include "spectrum/calibration_record.h"
#include "spectrum/spectrum_record.h"

namespace kestrim {



inline constexpr int kDetectorSectionSize = 512;
inline constexpr int kNewDetectorFileSections = 50;

namespace efp_offset {
inline constexpr int kMarker = 0;
inline constexpr int kCount = 2;
inline constexpr int kEnergies = 4;
inline constexpr int kEfficiencies = 164;
inline constexpr int kUncertainties = 324;
inline constexpr int kEnd = 484;
}  // namespace efp_offset
inline constexpr int kEfficiencyPointsMarker = 255;

// The calibration directory in force.
std::string calibration_directory(const SettingsSession& state);
// "<calibration directory>/Det_NN.cal" or ".efp", found ignoring case.
std::string detector_file_path(const SettingsSession& state, int detector, const char* extension);

// Opens (reads whole) a detector file. On failure returns false, after the
// warning "Warning, could not open Calibration file:- <path>" when `owner`.
bool open_detector_file(const SettingsSession& state, int detector, bool owner, std::vector<std::uint8_t>& bytes,
                        std::string& path);

// Reads the calibration of detector NN (0: the spectrum header's detector
// number) for geometry g into the spectrum's calibration record, with its
// efficiency points. `owner` = messages are shown. Returns 1, or 0 after a
// message (a missing file, a short section 1, an uncalibrated geometry).
int read_detector_calibration(const SettingsSession& state, int detector, int geometry, bool owner);

// The detector number a calibration of this spectrum is saved under (and
// its reports named by): the header's detector file, else its detector,
// else the Defaults file's number; 1 when none of them is above 0.
int calibration_detector_number(const SpectrumHeader& header, const AnalysisParameters& params);

// Writes the changed parts of the calibration (energy, shape, the pending
// efficiency calibration of the geometry) to the detector file, asking
// first when `owner`. Returns 1 or 0.
int write_detector_calibration(const SettingsSession& state, bool owner);

// Writes the spectrum's efficiency points as geometry g's section of
// "Det_NN.efp". Returns 1 or 0 (after "Error writing Calibration file").
int write_efficiency_points(const SettingsSession& state, int detector, int geometry);

// Efficiency points of one section of an ".efp" image: the count is 0 when
// the section is missing, short or unmarked, and at most 40.
EfficiencyPoints decode_efficiency_section(const std::vector<std::uint8_t>& file, int geometry);
// Sets geometry g's section (growing the image with zero sections as needed).
void encode_efficiency_section(std::vector<std::uint8_t>& file, int geometry,
                               const EfficiencyPoints& points);

// Grows a detector file image with zero sections so that it holds
// geometry g (never shrinks it).
void extend_to_geometry(std::vector<std::uint8_t>& file, int geometry);

// The file dialog for a detector file: the chosen directory becomes the
// calibration directory and the chosen detector's calibration is read for
// the default geometry. Returns 1 or 0.
int choose_detector_file(const SettingsSession& state);

// The detector number written in a name "Det_nn.cal" (case ignored), or -1
// when the name is not of that form.
int detector_number_from_name(const std::string& name);

// Bytes 416-475 of a section: what the geometry editor shows and changes.
struct GeometryDescription {
  int geometry = 0;
  std::string description;  // at most 39 characters
  float sample_size = 0;
  std::string units;       // at most 4 characters
  std::string background;  // at most 12 characters
  bool calibrated = false;  // efficiency date's day is positive (read only)
};

// The descriptions of every section of a detector file image.
std::vector<GeometryDescription> read_geometry_descriptions(const std::vector<std::uint8_t>& file);

// Writes the edited descriptions into detector NN's file. Returns 1 or 0
// (after "Error writing Calibration file").
int write_geometry_descriptions(const SettingsSession& state, int detector,
                                const std::vector<GeometryDescription>& edits);

// Leaving the geometry editor with changes: "Do you want to update the
// file ?" (Yes/No/Cancel). Yes writes the edits and returns the result of
// the write; No returns 1 without writing; Cancel returns 0 (stay in the
// editor).
int leave_geometry_editor(const SettingsSession& state, int detector,
                          const std::vector<GeometryDescription>& edits);

}  // namespace kestrim
