// The 512-byte calibration record: energy, peak-shape and efficiency
// calibration of one geometry. It is the second block of a native spectrum
// file (offset 256) and each 512-byte section of a detector file.
//
//  off  type          field
//    0  real32        energy: number of terms (0 none, 2 linear, 3 quadratic/log)
//    4  3 x real32    energy coefficients c0 (keV), c1 (keV/channel), c2
//   16  real32        width: number of terms (-2 = resolution form)
//   20  3 x real32    width coefficients w0..w2
//   32  real32        low-energy tailing: number of terms
//   36  3 x real32    low-energy tailing coefficients t0..t2
//   48  real32        high-energy tailing: number of terms
//   52  3 x real32    high-energy tailing coefficients h0..h2
//   64  8 bytes       shape calibration extra
//   72  real32        number of stored calibration energies (<= 25)
//   76  25 x real32   calibration energies, keV
//  176  3 x int16     energy calibration date: day, month, year
//  182  int16         energy form: 0 polynomial in channel, else logarithmic
//  184  2 x int16     energy calibration time: hour, minute
//  188  real32        efficiency crossover energy, keV
//  192  real32        low-energy efficiency curve: number of terms (<= 5)
//  196  5 x real32    low-energy efficiency coefficients
//  216  real32        high-energy efficiency curve: number of terms (<= 6)
//  220  6 x real32    high-energy efficiency coefficients
//  244  20 x real64   efficiency variance coefficients (low from 0, high from 9)
//  404  3 x int16     efficiency calibration date (day 0 = not calibrated)
//  410  int16         inverse-energy form: equal to a curve's terms = that curve
//                     is the inverse-energy polynomial
//  412  2 x int16     efficiency calibration time
//  416  40 chars      geometry description (byte 455 forced to NUL)
//  456  real32        default sample size of this geometry
//  460  4 chars       default sample size units
//  464  12 chars      default background file name of this geometry
//  476  3 x int16     shape calibration date
//  482  int16         reserved
//  484  2 x int16     shape calibration time
//  488  12 bytes      written by the energy calibration / reserved
//  500  real32        largest efficiency rising from 30 keV (plot scale)
//  504  real32        calibration uncertainty, per cent (CALU)
//  508  int32         variance coefficients stored (1)
#pragma once

#include <array>
#include <cstdint>

#include "platform/fixed_text.h"

namespace kestrim {

inline constexpr int kCalibrationRecordSize = 512;
inline constexpr int kMaxCalibrationEnergies = 25;

namespace cal_offset {
inline constexpr int kEnergyTerms = 0;
inline constexpr int kEnergyCoeffs = 4;
inline constexpr int kWidthTerms = 16;
inline constexpr int kWidthCoeffs = 20;
inline constexpr int kLowTailTerms = 32;
inline constexpr int kLowTailCoeffs = 36;
inline constexpr int kHighTailTerms = 48;
inline constexpr int kHighTailCoeffs = 52;
inline constexpr int kShapeExtra = 64;
inline constexpr int kEnergyCount = 72;
inline constexpr int kEnergies = 76;
inline constexpr int kEnergyDate = 176;
inline constexpr int kEnergyForm = 182;
inline constexpr int kEnergyTime = 184;
inline constexpr int kCrossover = 188;
inline constexpr int kLowEffTerms = 192;
inline constexpr int kLowEffCoeffs = 196;
inline constexpr int kHighEffTerms = 216;
inline constexpr int kHighEffCoeffs = 220;
inline constexpr int kVariance = 244;
inline constexpr int kEfficiencyDate = 404;
inline constexpr int kInverseForm = 410;
inline constexpr int kEfficiencyTime = 412;
inline constexpr int kGeometryText = 416;
inline constexpr int kSampleSize = 456;
inline constexpr int kSampleUnits = 460;
inline constexpr int kBackgroundName = 464;
inline constexpr int kShapeDate = 476;
inline constexpr int kReserved482 = 482;
inline constexpr int kShapeTime = 484;
inline constexpr int kEnergyExtra = 488;
inline constexpr int kEfficiencyMax = 500;
inline constexpr int kUncertainty = 504;
inline constexpr int kVarianceStored = 508;
}  // namespace cal_offset

struct CalDate {
  std::int16_t day = 0, month = 0, year = 0;
  bool operator==(const CalDate&) const = default;
};
struct CalTime {
  std::int16_t hour = 0, minute = 0;
  bool operator==(const CalTime&) const = default;
};

struct CalibrationRecord {
  float energy_terms = 0;
  std::array<float, 3> energy{};
  float width_terms = 0;
  std::array<float, 3> width{};
  float low_tail_terms = 0;
  std::array<float, 3> low_tail{};
  float high_tail_terms = 0;
  std::array<float, 3> high_tail{};
  std::array<std::uint8_t, 8> shape_extra{};
  float energy_count = 0;
  std::array<float, kMaxCalibrationEnergies> energies{};
  CalDate energy_date;
  std::int16_t energy_form = 0;
  CalTime energy_time;
  float crossover = 0;
  float low_eff_terms = 0;
  std::array<float, 5> low_eff{};
  float high_eff_terms = 0;
  std::array<float, 6> high_eff{};
  std::array<double, 20> variance{};
  CalDate efficiency_date;
  std::int16_t inverse_form = 0;
  CalTime efficiency_time;
  FixedText<40> geometry_text{};
  float sample_size = 0;
  FixedText<4> sample_units{};
  FixedText<12> background_name{};
  CalDate shape_date;
  std::int16_t reserved482 = 0;
  CalTime shape_time;
  std::array<std::uint8_t, 12> energy_extra{};
  float efficiency_max = 0;
  float uncertainty = 0;
  std::int32_t variance_stored = 0;

  bool operator==(const CalibrationRecord&) const = default;
};

void decode_calibration_record(const std::uint8_t* bytes, CalibrationRecord& out);
void encode_calibration_record(const CalibrationRecord& rec, std::uint8_t* bytes);

}  // namespace kestrim
